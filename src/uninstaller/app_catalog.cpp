#include "uninstaller/app_catalog.h"

#include "core/scanner.h"
#include "platform/bundle.h"
#include "platform/desktop.h"
#include "platform/file_system.h"

#include <QCollator>
#include <QHashFunctions>
#include <QTextBoundaryFinder>
#include <algorithm>

size_t qHash(const InstalledApp& app, size_t seed)
{
    const qint64 used = app.lastUsed ? app.lastUsed->toMSecsSinceEpoch() : -1;
    const qint64 size = app.size.value_or(-1);
    return qHashMulti(seed, app.url, app.name, app.bundleID, app.version, app.isProtected,
                      app.lastUsed.has_value(), used, app.size.has_value(), size);
}

size_t qHash(const Leftover& leftover, size_t seed)
{
    return qHashMulti(seed, leftover.url, leftover.size);
}

namespace AppCatalog {
namespace {

const QString& home()
{
    static const QString path = FileSystem::homeDirectory();
    return path;
}

QStringList bundlesIn(const QString& root)
{
    QStringList found;
    const std::optional<QStringList> children =
        FileSystem::children(root, FileSystem::Hidden::Skip);
    if (!children) return found;
    for (const QString& child : *children) {
        if (FileSystem::extension(child) == u"app") {
            found.append(child);
            continue;
        }
        // The entry itself, as the listing saw it: a link to a folder is not searched.
        const std::optional<FileSystem::Attributes> attributes = FileSystem::attributes(child);
        if (!attributes || !attributes->isDirectory()) continue;
        const std::optional<QStringList> inner =
            FileSystem::children(child, FileSystem::Hidden::Skip);
        if (!inner) continue;
        for (const QString& grandchild : *inner)
            if (FileSystem::extension(grandchild) == u"app") found.append(grandchild);
    }
    return found;
}

std::optional<InstalledApp> record(const QString& location, const Folders& folders)
{
    const std::optional<Bundle> bundle = Bundle::open(location);
    if (!bundle) return std::nullopt;
    const std::optional<QString> id = bundle->identifier();
    if (!id || (folders.ownIdentifier && *folders.ownIdentifier == *id)) return std::nullopt;
    InstalledApp app;
    app.url = location;
    app.bundleID = *id;
    app.version = bundle->stringValue(QStringLiteral("CFBundleShortVersionString"));
    const QString file = FileSystem::lastComponent(location);
    app.name = file.left(file.size() - FileSystem::extension(file).size() - 1);
    app.isProtected = isProtected(location, folders);
    app.lastUsed = bundle->lastUsed();
    return app;
}

qsizetype graphemeCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0)
        ++count;
    return count;
}

bool matches(const QString& n, const QString& bid, const QString& nm, bool nameLongEnough,
             const LeftoverDir& dir)
{
    if (n == bid || n.startsWith(bid + u'.')) return true;
    if (dir.path == u"Group Containers" && n.endsWith(u'.' + bid)) return true;
    return dir.byName && nameLongEnough && n == nm;
}

} // namespace

const QString& library()
{
    static const QString path = home() + QStringLiteral("/Library");
    return path;
}

const QStringList& appRoots()
{
    static const QStringList roots{QStringLiteral("/Applications"),
                                   home() + QStringLiteral("/Applications")};
    return roots;
}

const QList<LeftoverDir>& leftoverDirs()
{
    static const QList<LeftoverDir> dirs{
        {QStringLiteral("Application Support"), true},
        {QStringLiteral("Caches"), true},
        {QStringLiteral("Logs"), true},
        {QStringLiteral("Preferences"), false},
        {QStringLiteral("Preferences/ByHost"), false},
        {QStringLiteral("Containers"), false},
        {QStringLiteral("Group Containers"), false},
        {QStringLiteral("Application Scripts"), false},
        {QStringLiteral("Saved Application State"), false},
        {QStringLiteral("HTTPStorages"), false},
        {QStringLiteral("WebKit"), false},
        {QStringLiteral("Cookies"), false},
        {QStringLiteral("LaunchAgents"), false},
    };
    return dirs;
}

Folders Folders::standard()
{
    const QString own =
        Desktop::ownInfoDictionary().value(QStringLiteral("CFBundleIdentifier")).toString();
    return Folders{AppCatalog::appRoots(), AppCatalog::library(),
                   own.isEmpty() ? std::nullopt : std::optional<QString>(own)};
}

QList<InstalledApp> installedApps()
{
    return installedApps(Folders::standard());
}

QList<InstalledApp> installedApps(const Folders& folders)
{
    QList<InstalledApp> apps;
    for (const QString& root : folders.appRoots)
        for (const QString& location : bundlesIn(root))
            if (std::optional<InstalledApp> app = record(location, folders))
                apps.append(std::move(*app));
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(apps.begin(), apps.end(), [&](const InstalledApp& a, const InstalledApp& b) {
        return collator.compare(a.name, b.name) < 0;
    });
    return apps;
}

QList<Leftover> leftovers(const InstalledApp& app)
{
    return leftovers(app, Folders::standard());
}

QList<Leftover> leftovers(const InstalledApp& app, const Folders& folders)
{
    const QString bid = app.bundleID.toLower();
    const QString nm = app.name.toLower();
    const bool nameLongEnough = graphemeCount(nm) >= 3;
    QList<Leftover> found;
    // An empty identifier would make every dot-file a match; the catalogue never lists such an
    // application, but a record can be built elsewhere.
    if (bid.isEmpty()) return found;
    for (const LeftoverDir& dir : leftoverDirs()) {
        const std::optional<QStringList> children =
            FileSystem::children(folders.library + u'/' + dir.path);
        if (!children) continue;
        for (const QString& child : *children) {
            const QString n = FileSystem::lastComponent(child).toLower();
            if (matches(n, bid, nm, nameLongEnough, dir))
                found.append(Leftover{child, Scanner::allocatedSize(child)});
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Leftover& a, const Leftover& b) { return a.size > b.size; });
    return found;
}

bool isAllowedTarget(const QString& url, const InstalledApp& app)
{
    return isAllowedTarget(url, app, Folders::standard());
}

bool isAllowedTarget(const QString& url, const InstalledApp& app, const Folders& folders)
{
    if (url == app.url) return FileSystem::extension(url) == u"app" && !app.isProtected;
    const QString p = FileSystem::standardized(url);
    const QString lib = FileSystem::standardized(folders.library);
    // "Preferences/ByHost" is itself a direct child of "Preferences": every leftover folder is
    // refused by name before the direct-child test.
    for (const LeftoverDir& dir : leftoverDirs())
        if (p == lib + u'/' + dir.path) return false;
    for (const LeftoverDir& dir : leftoverDirs()) {
        const QString base = lib + u'/' + dir.path + u'/';
        if (p.startsWith(base) && !p.mid(base.size()).contains(u'/')) return true;
    }
    return false;
}

bool isProtected(const QString& url, const Folders& folders)
{
    const QString r = FileSystem::resolved(url);
    const bool inside =
        std::any_of(folders.appRoots.begin(), folders.appRoots.end(), [&](const QString& root) {
            return r.startsWith(root + u'/') || r.startsWith(FileSystem::resolved(root) + u'/');
        });
    if (!inside) return true;
    const std::optional<FileSystem::VolumeInfo> volume = FileSystem::volume(r);
    return volume && volume->readOnly;
}

} // namespace AppCatalog
