#pragma once

// The freedesktop trash written by this program: where an item's trash is, and the records.
// Internal to the platform library.

#include "platform/file_system.h"
#include "platform/unique_fd.h"

#include <QByteArray>
#include <QDateTime>
#include <climits>
#include <optional>

namespace TrashFolders {

/// The files and info folders of one trash, opened; `outcome` says why there is none.
struct Opened
{
    UniqueFd files;
    UniqueFd info;
    FileSystem::Outcome outcome;
};

/// The trash that takes the items of the directory `parentFd`: the home trash when it is on the
/// same mount, else the trash at the top of that mount ($topdir/.Trash/$uid when .Trash is a
/// sticky folder and not a link, else $topdir/.Trash-$uid), created where missing and used only
/// when it is the user's own folder. Nothing is ever copied between file systems.
Opened forItemsIn(int parentFd);

} // namespace TrashFolders

namespace TrashRecord {

/// The longest name stored in files/: its record adds ".trashinfo" and must fit NAME_MAX.
inline constexpr qsizetype kMaxStoredName = NAME_MAX - 10;

/// The record of an item trashed from `path` (bytes) at local time `when`.
QByteArray text(const QByteArray& path, const QDateTime& when);

/// The original path (bytes) a record names; nullopt when it names none.
std::optional<QByteArray> originalPath(const QByteArray& record);

/// The name under which the item `name` is stored at the `attempt`-th try (0 first): the name
/// itself when it fits, else shortened (never inside a UTF-8 sequence, the extension kept), with
/// a counter from the second try and a random tag after many.
QByteArray storedName(const QByteArray& name, int attempt);

} // namespace TrashRecord
