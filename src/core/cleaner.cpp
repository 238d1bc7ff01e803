#include "core/cleaner.h"

#include "platform/file_system.h"
#include "platform/trash.h"

#include <optional>
#include <unistd.h>

namespace Cleaner {
namespace {

// The root whose prefix admits the standardised path, or nothing.
std::optional<QString> allowingRoot(const QString& path, const Category& category)
{
    for (const QString& root : category.roots) {
        const QString clean = FileSystem::standardized(root);
        // An empty root would turn the prefix into "/" and admit the whole disk.
        if (clean.isEmpty()) continue;
        if (path.startsWith(clean + u'/')) return clean;
    }
    return std::nullopt;
}

void makeOwnerWritable(const QString& root, const QString& path)
{
    FileSystem::grantOwnerAccess(root, path, ::getuid());
}

FileSystem::Outcome removePermanently(const QString& root, const QString& path)
{
    FileSystem::Outcome first = FileSystem::removeItem(root, path);
    if (first.ok()) return first;
    makeOwnerWritable(root, path);
    return FileSystem::removeItem(root, path);
}

// An item of the trash goes with its record, so that no file manager lists it any longer.
FileSystem::Outcome removeFromTrash(const QString& root, const QString& path)
{
    FileSystem::Outcome outcome = removePermanently(root, path);
    if (outcome.ok()) FileSystem::forgetTrashed(root, path);
    return outcome;
}

FileSystem::Outcome removeOne(const QString& root, const QString& path, DeletionMode deletion)
{
    if (deletion == DeletionMode::trash) return FileSystem::moveToTrash(root, path);
    if (FileSystem::isTrashFiles(root)) return removeFromTrash(root, path);
    return removePermanently(root, path);
}

} // namespace

bool isAllowed(const QString& url, const Category& category)
{
    return allowingRoot(FileSystem::standardized(url), category).has_value();
}

CleanReport remove(const QList<CleanItem>& items, const Category& category)
{
    CleanReport report;
    for (const CleanItem& item : items) {
        // What was tested is what is removed: the standardised path, never the raw one.
        const QString path = FileSystem::standardized(item.url);
        const std::optional<QString> root = allowingRoot(path, category);
        if (!root) {
            report.failures.append(item.name() + QStringLiteral(": nằm ngoài vùng cho phép"));
            continue;
        }
        const FileSystem::Outcome outcome = removeOne(*root, path, category.deletion);
        if (outcome.ok())
            report.freed += item.size;
        else
            report.failures.append(item.name() + QStringLiteral(": ") + outcome.error);
    }
    return report;
}

} // namespace Cleaner
