#include "core/cleaner.h"

#include "platform/file_system.h"
#include "platform/trash.h"

#include <QHash>
#include <QStringList>
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

void makeOwnerWritable(const QString& root, const QString& path, FileSystem::Identity pin)
{
    FileSystem::grantOwnerAccess(root, path, ::getuid(), pin);
}

FileSystem::Outcome removePermanently(const QString& root, const QString& path,
                                      FileSystem::Identity pin)
{
    FileSystem::Outcome first = FileSystem::removeItem(root, path, pin);
    if (first.ok()) return first;
    makeOwnerWritable(root, path, pin);
    return FileSystem::removeItem(root, path, pin);
}

FileSystem::Outcome removeOne(const QString& root, const QString& path, DeletionMode deletion,
                              FileSystem::Identity pin)
{
    if (deletion == DeletionMode::permanent) return removePermanently(root, path, pin);
    return FileSystem::moveToTrash(root, path, pin);
}

} // namespace

RootPins pinRoots(const Category& category)
{
    RootPins pins;
    for (const QString& root : category.roots)
        if (const std::optional<FileSystem::Identity> identity = FileSystem::identity(root))
            pins.insert(FileSystem::standardized(root), *identity);
    return pins;
}

bool isAllowed(const QString& url, const Category& category)
{
    return allowingRoot(FileSystem::standardized(url), category).has_value();
}

CleanReport remove(const QList<CleanItem>& items, const Category& category,
                   const RootPins& pinnedRoots, const ProgressCallback& progress)
{
    CleanReport report;
    // Items of the trash removed for good, by files folder. Their records go with them, so that
    // no file manager lists them any longer, but after them and all at once: a record left
    // without its file is harmless, a file left without its record is hidden from the user.
    QHash<QString, QStringList> trashed;
    qint64 done = 0;
    for (const CleanItem& item : items) {
        if (progress) progress({done++, items.size()});
        // What was tested is what is removed: the standardised path, never the raw one.
        const QString path = FileSystem::standardized(item.url);
        const std::optional<QString> root = allowingRoot(path, category);
        if (!root) {
            report.failures.append(item.name() + QStringLiteral(": nằm ngoài vùng cho phép"));
            continue;
        }
        const auto pin = pinnedRoots.constFind(*root);
        const FileSystem::Outcome outcome = pin == pinnedRoots.cend()
                                                ? FileSystem::Outcome::failure(ESTALE)
                                                : removeOne(*root, path, category.deletion, *pin);
        if (!outcome.ok()) {
            report.failures.append(item.name() + QStringLiteral(": ") + outcome.error);
            continue;
        }
        report.freed += item.size;
        if (category.deletion == DeletionMode::permanent && FileSystem::isTrashFiles(*root))
            trashed[*root].append(path);
    }
    for (auto files = trashed.cbegin(); files != trashed.cend(); ++files)
        FileSystem::forgetTrashed(files.key(), files.value());
    if (progress) progress({done, items.size()});
    return report;
}

} // namespace Cleaner
