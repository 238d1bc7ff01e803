#pragma once

#include "core/category.h"
#include "monitor/system_sampler.h"
#include "uninstaller/app_catalog.h"

#include <QByteArray>
#include <QList>

/// Every JSON document the command line prints, each on one line. Keys are stable English
/// identifiers, sizes whole numbers of bytes. Strings are valid UTF-8; a file name byte that is
/// not UTF-8 (held as U+DC00 + byte by PathCodec) is written as the escape "\udcXX", the form
/// Python's "surrogateescape" reads back to the same byte, so a path from the JSON names the same
/// file when it is passed back as an argument.
namespace CliJson {

/// One scanned category.
struct CategoryScan
{
    Category category;
    ScanResult result;
};

/// {"categories":[{"id","title","roots","unreadable","total","items":[{"path","size"}]}]}
QByteArray scan(const QList<CategoryScan>& scans);

/// {"freed":N,"failures":["…"]}
QByteArray report(const CleanReport& report);

/// What a dry run would remove: {"total":N,"items":[{"path","size"}]}
QByteArray plan(const QList<CleanItem>& items);

/// {"apps":[{"id","name","version","path","kind","protected","size"}]}; "kind" is "bundle",
/// "flatpak", "appimage", "home-program" or "system-package"; a size not measured is null.
QByteArray apps(const QList<InstalledApp>& apps);

/// One monitor snapshot with the `top` processes that use the most CPU.
QByteArray snapshot(const SystemSnapshot& snapshot, const QList<ProcessStat>& top);

} // namespace CliJson
