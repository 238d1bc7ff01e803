#include "platform/linux/user_entries.h"

#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "platform/trash.h"

#include <QSet>
#include <sys/stat.h>

namespace UserEntries {
namespace {

const QStringList& iconExtensions()
{
    static const QStringList extensions{QStringLiteral(".svg"), QStringLiteral(".svgz"),
                                        QStringLiteral(".png"), QStringLiteral(".xpm")};
    return extensions;
}

// The Icon keys of a set of entries: theme names as written, absolute paths standardised.
QSet<QString> iconKeys(const QList<const DesktopFile*>& entries)
{
    QSet<QString> keys;
    for (const DesktopFile* file : entries) {
        const QString icon = file->entry.value(QStringLiteral("Icon")).trimmed();
        if (!icon.isEmpty())
            keys.insert(icon.startsWith(u'/') ? FileSystem::standardized(icon) : icon);
    }
    return keys;
}

void appendThemeIcons(const QString& name, const QString& icons, QStringList& found)
{
    // A name with a "/" or ".." would lead out of the icon folders.
    if (name.contains(u'/') || name == u".." || name == u".") return;
    QStringList folders{icons};
    for (const QString& size :
         FileSystem::children(icons + QStringLiteral("/hicolor")).value_or(QStringList()))
        folders.append(size + QStringLiteral("/apps"));
    for (const QString& folder : folders)
        for (const QString& extension : iconExtensions()) {
            const QString path = folder + u'/' + name + extension;
            const std::optional<FileSystem::Attributes> attributes = FileSystem::attributes(path);
            if (attributes && attributes->type == S_IFREG) found.append(path);
        }
}

int iconSize(const QString& path)
{
    if (path.endsWith(u".svg") || path.endsWith(u".svgz")) return 1 << 20;
    const QString folder = path.section(u'/', -3, -3);
    return folder.section(u'x', 0, 0).toInt();
}

} // namespace

QList<DesktopFile> load(const ApplicationPlaces& places)
{
    return desktopFiles(places.dataHome + QStringLiteral("/applications"));
}

QString programOf(const DesktopEntry& entry, const ApplicationPlaces& places)
{
    const QString program = entry.program();
    if (program.isEmpty()) return {};
    if (program.startsWith(u'/')) return FileSystem::standardized(program);
    if (program.contains(u'/')) return {};
    for (const QString& folder : places.homePath) {
        QString candidate = folder + u'/' + program;
        if (FileSystem::exists(candidate)) return candidate;
    }
    return {};
}

bool isBelow(const QString& path, const QString& folder)
{
    const QString base = FileSystem::standardized(folder);
    return FileSystem::standardized(path).startsWith(base + u'/');
}

QStringList ownIcons(const QList<DesktopFile>& all, const QList<const DesktopFile*>& mine,
                     const ApplicationPlaces& places)
{
    QList<const DesktopFile*> others;
    for (const DesktopFile& file : all)
        if (!mine.contains(&file)) others.append(&file);
    const QSet<QString> shared = iconKeys(others);
    const QString icons = places.dataHome + QStringLiteral("/icons");
    QStringList found;
    for (const QString& key : iconKeys(mine)) {
        if (shared.contains(key)) continue;
        if (!key.startsWith(u'/'))
            appendThemeIcons(key, icons, found);
        else if (isBelow(key, icons) && FileSystem::exists(key))
            found.append(key);
    }
    found.sort();
    return found;
}

QString bestIcon(const QStringList& icons)
{
    QString best;
    for (const QString& icon : icons)
        if (best.isEmpty() || iconSize(icon) > iconSize(best)) best = icon;
    return best;
}

std::optional<QDateTime> lastUsed(const QString& path)
{
    struct stat info
    {
    };
    if (::stat(PathCodec::encode(path).constData(), &info) != 0) return std::nullopt;
    const qint64 accessed = qint64(info.st_atim.tv_sec) * 1000 + info.st_atim.tv_nsec / 1000000;
    const qint64 changed = qint64(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000;
    if (accessed <= changed) return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(accessed, Qt::UTC);
}

QList<RemovalFailure> trashWithOwnFiles(const SourcedApplication& app,
                                        const ApplicationPlaces& places)
{
    QStringList paths{app.location};
    for (const QString& own : app.ownFiles)
        if (isBelow(own, places.dataHome + QStringLiteral("/applications")) ||
            isBelow(own, places.dataHome + QStringLiteral("/icons")))
            paths.append(own);
    QList<RemovalFailure> failures;
    for (const QString& path : paths) {
        if (!FileSystem::exists(path)) continue;
        const FileSystem::Outcome outcome = FileSystem::moveToTrash(path);
        if (!outcome.ok()) failures.append({path, outcome.error});
    }
    return failures;
}

} // namespace UserEntries
