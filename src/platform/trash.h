#pragma once

#include "platform/file_system.h"

#include <QString>

namespace FileSystem {

/// Moves the item to the freedesktop.org trash, so that any file manager can restore it. Any
/// thread; overlapping moves are serialised. The error text is the trash implementation's.
Outcome moveToTrash(const QString& path);

} // namespace FileSystem
