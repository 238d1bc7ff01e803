#pragma once

#include "core/category.h"

#include <QCoro/QCoroTask>

/// Finds and measures the items of one category. Stateless; never fails: whatever cannot be read
/// is skipped, and the only trace is ScanResult::unreadable.
namespace Scanner {

/// Scans `category` on the I/O pool and resumes on the awaiting thread. A `children` category
/// yields each direct child of its roots (".DS_Store" at the top dropped, empty ones dropped),
/// sized concurrently; a `largeFiles` category yields at most the 200 largest visible regular
/// files of at least `minBytes` allocated bytes. Items come largest first; an item of the trash
/// carries the origin its record names. `pinnedRoots` holds the identity of each root
/// listed or walked, as it was opened.
QCoro::Task<ScanResult> scan(Category category);

/// Allocated bytes of a file or of every regular file below a directory; links count nothing and
/// are never followed; 0 when nothing can be measured. Blocking; any thread.
qint64 allocatedSize(const QString& url);

} // namespace Scanner
