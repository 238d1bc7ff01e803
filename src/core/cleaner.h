#pragma once

#include "core/category.h"
#include "core/progress.h"

/// Removes the selected items of one category, and only those that lie inside its roots.
/// Stateless; never throws: every item that is not removed becomes one failure line.
namespace Cleaner {

/// The allow-list test: true when the standardised `url` ("." and ".." removed, links kept)
/// lies strictly below one of the category's roots (the root itself, a sibling whose name
/// merely starts with a root's name, and relative paths are refused). Reads nothing from disk;
/// any thread.
bool isAllowed(const QString& url, const Category& category);

/// The identity of each root of `category` as it is now, for removing items that no scan listed
/// (paths the user named). Blocking; any thread.
RootPins pinRoots(const Category& category);

/// Removes `items` in order, as the category's `deletion` says: moved to the freedesktop trash
/// (restorable), or removed for good with everything below (an item of the trash together with
/// its record). Both are anchored at the root that allowed the item and follow no link on the
/// way to it or below it. The root must still be the object pinned for it in `pinnedRoots` (the
/// scan's, or pinRoots()): a root replaced since is not entered. A permanent removal that fails
/// is retried once after the user's own directories of the tree were given owner rwx. `freed`
/// sums the scanned sizes of the items that went; each other item yields, in item order,
/// "name: nằm ngoài vùng cho phép" or "name: " + the platform's error text (ESTALE's for a root
/// replaced or never pinned). `progress` hears the items done before each item and once at the
/// end. Blocking for the whole run; any thread except the GUI thread.
CleanReport remove(const QList<CleanItem>& items, const Category& category,
                   const RootPins& pinnedRoots, const ProgressCallback& progress = {});

} // namespace Cleaner
