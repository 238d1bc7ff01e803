#include "uninstaller/app_catalog.h"

#include "platform/bundle.h"
#include "platform/desktop.h"
#include "platform/file_system.h"

#include <QCollator>
#include <QHashFunctions>
#include <QLocale>
#include <algorithm>
#include <concepts>
#include <tuple>

size_t qHash(const InstalledApp& app, size_t seed)
{
    const qint64 used = app.lastUsed ? app.lastUsed->toMSecsSinceEpoch() : -1;
    const qint64 size = app.size.value_or(-1);
    return qHashMulti(seed, app.url, app.name, app.bundleID, app.version, app.isProtected,
                      app.lastUsed.has_value(), used, app.size.has_value(), size, int(app.kind));
}

size_t qHash(const Leftover& leftover, size_t seed)
{
    return qHashMulti(seed, leftover.url, leftover.size, leftover.byName);
}

bool InstalledApp::isMeasured() const
{
    return kind != ApplicationKind::Flatpak && kind != ApplicationKind::SystemPackage;
}

namespace {

// The fields an InstalledApp shares with the SourcedApplication it is listed from, in one order,
// so that each can be assigned from the other.
template <typename App>
requires std::same_as<std::remove_const_t<App>, InstalledApp>
auto sharedFields(App& a)
{
    return std::tie(a.kind, a.removal, a.url, a.bundleID, a.name, a.version, a.iconPath, a.iconName,
                    a.lastUsed, a.isProtected, a.installation, a.ref, a.ownFiles, a.privateData,
                    a.desktopEntry, a.identity);
}

template <typename App>
requires std::same_as<std::remove_const_t<App>, SourcedApplication>
auto sharedFields(App& a)
{
    return std::tie(a.kind, a.removal, a.location, a.id, a.name, a.version, a.iconPath, a.iconName,
                    a.lastUsed, a.isProtected, a.installation, a.ref, a.ownFiles, a.privateData,
                    a.desktopEntry, a.identity);
}

} // namespace

SourcedApplication InstalledApp::sourced() const
{
    SourcedApplication app;
    sharedFields(app) = sharedFields(*this);
    app.installedSize = kind == ApplicationKind::Flatpak ? size : std::nullopt;
    return app;
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

std::optional<InstalledApp> bundleRecord(const QString& location, const Folders& folders)
{
    const std::optional<Bundle> bundle = Bundle::open(location);
    if (!bundle) return std::nullopt;
    const std::optional<QString> id = bundle->identifier();
    if (!id) return std::nullopt;
    InstalledApp app;
    app.url = location;
    app.bundleID = *id;
    app.version = bundle->stringValue(QStringLiteral("CFBundleShortVersionString"));
    const QString file = FileSystem::lastComponent(location);
    app.name = file.left(file.size() - FileSystem::extension(file).size() - 1);
    app.isProtected = isProtected(location, folders);
    app.lastUsed = bundle->lastUsed();
    app.iconPath = bundle->iconPath();
    return app;
}

InstalledApp sourcedRecord(const SourcedApplication& source)
{
    InstalledApp app;
    sharedFields(app) = sharedFields(source);
    app.isProtected = source.isProtected || source.removal == Removal::Never;
    if (source.kind == ApplicationKind::Flatpak) app.size = source.installedSize;
    return app;
}

QList<LeftoverFolder> libraryFolders(const QString& library)
{
    QList<LeftoverFolder> folders;
    for (const LeftoverDir& dir : leftoverDirs())
        folders.append({library + u'/' + dir.path, dir.byName, dir.path == u"Group Containers"});
    return folders;
}

std::optional<QString> programIdentifier()
{
    const QString own =
        Desktop::ownInfoDictionary().value(QStringLiteral("CFBundleIdentifier")).toString();
    return own.isEmpty() ? std::nullopt : std::optional<QString>(own);
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

const Folders& Folders::standard()
{
    // Linux has no bundle folders: its applications come from the sources.
    static const Folders folders = inPlaces(ApplicationPlaces::standard());
    return folders;
}

Folders Folders::inPlaces(const ApplicationPlaces& places)
{
    Folders folders;
    folders.leftoverFolders = places.leftoverFolders();
    folders.sharedFolders = places.sharedFolders();
    folders.ownIdentifier = programIdentifier();
    for (std::unique_ptr<ApplicationSource>& source : applicationSources(places))
        folders.sources.append(std::shared_ptr<ApplicationSource>(std::move(source)));
    return folders;
}

Folders Folders::bundles(const QStringList& appRoots, const QString& library)
{
    Folders folders;
    folders.appRoots = appRoots;
    folders.leftoverFolders = libraryFolders(library);
    folders.ownIdentifier = programIdentifier();
    return folders;
}

ApplicationSource* Folders::source(ApplicationKind kind) const
{
    for (const std::shared_ptr<ApplicationSource>& source : sources)
        if (source->kind() == kind) return source.get();
    return nullptr;
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
            if (std::optional<InstalledApp> app = bundleRecord(location, folders))
                apps.append(std::move(*app));
    for (const std::shared_ptr<ApplicationSource>& source : folders.sources)
        for (const SourcedApplication& app : source->applications())
            apps.append(sourcedRecord(app));
    apps.removeIf([&](const InstalledApp& app) {
        return app.bundleID.isEmpty() || app.bundleID == folders.ownIdentifier;
    });
    for (InstalledApp& app : apps)
        app.identity = LocationIdentity::of(app.url);
    // The interface is Vietnamese: its names sort the Vietnamese way whatever the system's
    // locale (in the C locale, accented names would follow Z).
    QCollator collator{QLocale(QLocale::Vietnamese, QLocale::Vietnam)};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(apps.begin(), apps.end(), [&](const InstalledApp& a, const InstalledApp& b) {
        return collator.compare(a.name, b.name) < 0;
    });
    return apps;
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
