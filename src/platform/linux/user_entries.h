#pragma once

#include "platform/application_source.h"
#include "platform/linux/desktop_entry.h"

#include <QDateTime>
#include <optional>

/// What the AppImage and home-program sources share: the user's own desktop entries
/// ($XDG_DATA_HOME/applications), the programs they launch and the icons that belong to them.
/// Any thread; never throws.
namespace UserEntries {

/// Every parsed entry of the user's applications folder (Hidden ones too: callers decide).
QList<DesktopFile> load(const ApplicationPlaces& places);

/// The program an entry launches as an absolute path: its TryExec or Exec program, a bare name
/// looked up in the PATH folders below the home. "" when there is none or it is not found there.
QString programOf(const DesktopEntry& entry, const ApplicationPlaces& places);

/// True when `path` lies strictly below `folder` (both standardised, no link resolved).
bool isBelow(const QString& path, const QString& folder);

/// The icon files of the user's icon folder ($XDG_DATA_HOME/icons: the hicolor sizes and the
/// top level) named by the Icon keys of `mine`, except names that an entry outside `mine` also
/// uses: those icons are shared and stay.
QStringList ownIcons(const QList<DesktopFile>& all, const QList<const DesktopFile*>& mine,
                     const ApplicationPlaces& places);

/// The largest of `icons` (an SVG first), or "".
QString bestIcon(const QStringList& icons);

/// The access time of a file when the file system recorded one later than its last change (it
/// was run, or read, after it was installed); nullopt otherwise.
std::optional<QDateTime> lastUsed(const QString& path);

/// Moves the application's location, then each of its own files that lies in the user's
/// applications or icons folder and still exists, to the Trash; the refusals, with GIO's reason.
/// Own files anywhere else are left alone, whatever the record says.
QList<RemovalFailure> trashWithOwnFiles(const SourcedApplication& app,
                                        const ApplicationPlaces& places);

} // namespace UserEntries
