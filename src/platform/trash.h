#pragma once

#include "platform/file_system.h"

#include <QString>
#include <QStringList>
#include <optional>

/// The freedesktop.org trash: what any file manager lists and restores. Any thread; none throws.
namespace FileSystem {

/// Moves `item` to the trash of its file system, recoverable from any file manager. `item` must
/// lie strictly below `root`: `root` is opened following links, as the user set them up, and the
/// way from it to the item's folder must hold no link, even one swapped in meanwhile (a link at
/// `item` itself is trashed as a link). The record (`info/NAME.trashinfo`, created exclusively)
/// names the original path; a name too long for its record is stored under a shorter unique
/// one. An item on another file system goes to that file system's trash, never copied across.
/// When `pinnedRoot` is given, the root as opened must be that object, as for removeItem.
Outcome moveToTrash(const QString& root, const QString& item,
                    std::optional<Identity> pinnedRoot = std::nullopt);

/// The same, anchored at the item's own folder.
Outcome moveToTrash(const QString& path);

/// True when `folder` is the files folder of the home trash. Compares paths only.
bool isTrashFiles(const QString& folder);

/// Where an item of the home trash's files folder was trashed from, read from its record
/// (bounded, percent-decoded, any bytes); nullopt for an item elsewhere or without a readable
/// record. Blocking; any thread but the GUI thread.
std::optional<QString> trashOrigin(const QString& item);

/// After the `items` of the trash files folder `files` were removed for good: removes their
/// records and their lines in the trash's `directorysizes`, and nothing else. The trash is opened
/// and `directorysizes` rewritten once for all of them (not at all when no line names one). An
/// item deeper inside `files` has no record and takes none away.
/// Failures are ignored (a record without its file is ignored by file managers).
void forgetTrashed(const QString& files, const QStringList& items);

} // namespace FileSystem
