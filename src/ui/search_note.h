#pragma once

#include "core/app_model.h"

#include <QString>

/// Why a scanned category shows nothing: which folders were searched, or that it has none here.
namespace SearchNote {

/// Empty while the category scans, before its first scan and whenever it found items. Folders
/// inside the home folder are written with "~".
QString text(const Category& category, const AppModel::State& state);

} // namespace SearchNote
