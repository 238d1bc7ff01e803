#include "core/scanner.h"

#include "core/io_pool.h"
#include "platform/file_system.h"
#include "platform/trash.h"

#include <QCoro/QCoroFuture>
#include <QMutex>
#include <QtConcurrent>
#include <algorithm>

namespace Scanner {
namespace {

constexpr qsizetype kMaxLargeFiles = 200;

struct Listing
{
    QStringList entries;
    bool unreadable = false;
    RootPins pinnedRoots;
};

Listing listRoots(const Category& category)
{
    Listing listing;
    for (const QString& root : category.roots) {
        if (!FileSystem::exists(root)) continue;
        FileSystem::Identity listed;
        const std::optional<QStringList> children =
            FileSystem::children(root, FileSystem::Hidden::Include, &listed);
        if (!children) {
            // A root removed between the two calls is a missing root, not a refusal.
            if (FileSystem::exists(root)) listing.unreadable = true;
            continue;
        }
        listing.pinnedRoots.insert(FileSystem::standardized(root), listed);
        for (const QString& child : *children)
            if (FileSystem::lastComponent(child) != u".DS_Store") listing.entries.append(child);
    }
    return listing;
}

std::optional<CleanItem> sizeEntry(const QString& entry)
{
    const qint64 size = allocatedSize(entry);
    if (size < 1) return std::nullopt;
    return CleanItem{entry, size, FileSystem::trashOrigin(entry)};
}

void collect(QList<CleanItem>& items, const std::optional<CleanItem>& item)
{
    if (item) items.append(*item);
}

void sortLargestFirst(QList<CleanItem>& items)
{
    std::stable_sort(items.begin(), items.end(),
                     [](const CleanItem& a, const CleanItem& b) { return a.size > b.size; });
}

ScanResult scanLargeFiles(const Category& category, qint64 minBytes)
{
    QMutex mutex;
    QList<CleanItem> items;
    RootPins pinnedRoots;
    for (const QString& root : category.roots) {
        if (!FileSystem::exists(root)) continue;
        FileSystem::Identity walked;
        FileSystem::walkFiles(
            root, FileSystem::Hidden::Skip, minBytes,
            [&](const FileSystem::WalkedFile& file) {
                QMutexLocker lock(&mutex);
                items.append(CleanItem{file.path, file.allocated});
            },
            &walked);
        // Left alone when the root could not be opened: no object has inode 0.
        if (walked != FileSystem::Identity())
            pinnedRoots.insert(FileSystem::standardized(root), walked);
    }
    sortLargestFirst(items);
    if (items.size() > kMaxLargeFiles) items.resize(kMaxLargeFiles);
    return ScanResult{items, false, pinnedRoots};
}

QCoro::Task<ScanResult> scanChildren(Category category)
{
    // Awaitables are named locals: GCC 12 destroys temporaries of a co_await full-expression
    // twice.
    auto listed = QtConcurrent::run(&ioPool(), [category] { return listRoots(category); });
    const Listing listing = co_await listed;
    // One sizing task per entry, started at once; the pool bounds how many run, and a single huge
    // entry is itself walked by several threads. The sort runs on the pool too: a root may hold
    // many thousands of entries.
    const bool unreadable = listing.unreadable;
    const RootPins pinnedRoots = listing.pinnedRoots;
    auto sized = QtConcurrent::mappedReduced<QList<CleanItem>>(
                     &ioPool(), listing.entries, sizeEntry, collect, QtConcurrent::UnorderedReduce)
                     .then(&ioPool(), [unreadable, pinnedRoots](QList<CleanItem> items) {
                         sortLargestFirst(items);
                         return ScanResult{items, unreadable, pinnedRoots};
                     });
    ScanResult result = co_await sized;
    co_return result;
}

} // namespace

QCoro::Task<ScanResult> scan(Category category)
{
    if (category.kind.isLargeFiles()) {
        const qint64 minBytes = category.kind.minBytes;
        auto walked = QtConcurrent::run(
            &ioPool(), [category, minBytes] { return scanLargeFiles(category, minBytes); });
        ScanResult result = co_await walked;
        co_return result;
    }
    auto children = scanChildren(category);
    ScanResult result = co_await children;
    co_return result;
}

qint64 allocatedSize(const QString& url)
{
    return FileSystem::allocatedSize(url);
}

} // namespace Scanner
