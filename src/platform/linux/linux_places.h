#pragma once

#include "platform/places.h"

/// The Linux places built afresh, for their tests: Places::table() and Places::homeTrash() are
/// these, built once from the real home folder.
namespace LinuxPlaces {

/// The table for `home` and the environment as it is now: the XDG base folders
/// ($XDG_CACHE_HOME, $XDG_DATA_HOME) and the user folders of user-dirs.dirs, which
/// QStandardPaths reads afresh on every call.
QList<Places::Row> build(const QString& home);

/// The home trash for `home` and the environment as it is now.
QString homeTrash(const QString& home);

} // namespace LinuxPlaces
