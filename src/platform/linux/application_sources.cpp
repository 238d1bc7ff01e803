#include "platform/application_source.h"
#include "platform/file_system.h"
#include "platform/linux/appimage_source.h"
#include "platform/linux/flatpak_source.h"
#include "platform/linux/home_program_source.h"
#include "platform/linux/system_package_source.h"
#include "platform/path_codec.h"

#include <sys/stat.h>

namespace {

// Only absolute folders count; what lies in the home is the user's, and Flatpak's exported
// entries are listed by the Flatpak source.
QStringList systemDataDirs(const QString& home)
{
    QString value = qEnvironmentVariable("XDG_DATA_DIRS");
    if (value.isEmpty()) value = QStringLiteral("/usr/local/share:/usr/share");
    QStringList dirs;
    for (const QString& entry : value.split(u':', Qt::SkipEmptyParts)) {
        const QString dir = FileSystem::standardized(entry);
        if (!dir.startsWith(u'/') || dir == u"/" || FileSystem::isWithin(dir, home) ||
            dir.contains(QStringLiteral("/flatpak/exports")) || dirs.contains(dir))
            continue;
        dirs.append(dir);
    }
    return dirs;
}

QStringList homePathDirs(const QString& home)
{
    QStringList dirs;
    for (const QString& entry : qEnvironmentVariable("PATH").split(u':', Qt::SkipEmptyParts)) {
        const QString dir = FileSystem::standardized(entry);
        if (dir.startsWith(home + u'/') && !dirs.contains(dir)) dirs.append(dir);
    }
    return dirs;
}

// A base folder from the environment, or its default when the value is not absolute, is "/",
// or is the home or above it: everything below such a folder would become a leftover.
QString baseFolder(const char* variable, const QString& home, const char* fallback)
{
    const QString value = FileSystem::standardized(qEnvironmentVariable(variable));
    const bool usable =
        value.startsWith(u'/') && value != u"/" && !FileSystem::isWithin(home, value);
    return usable ? value : home + QLatin1String(fallback);
}

} // namespace

std::optional<LocationIdentity> LocationIdentity::of(const QString& path)
{
    struct stat info
    {
    };
    if (::lstat(PathCodec::encode(path).constData(), &info) != 0) return std::nullopt;
    return LocationIdentity{quint64(info.st_dev), quint64(info.st_ino), S_ISLNK(info.st_mode)};
}

ApplicationPlaces ApplicationPlaces::standard()
{
    ApplicationPlaces places;
    places.home = FileSystem::standardized(FileSystem::homeDirectory());
    places.dataHome = baseFolder("XDG_DATA_HOME", places.home, "/.local/share");
    places.configHome = baseFolder("XDG_CONFIG_HOME", places.home, "/.config");
    places.cacheHome = baseFolder("XDG_CACHE_HOME", places.home, "/.cache");
    places.stateHome = baseFolder("XDG_STATE_HOME", places.home, "/.local/state");
    const QString flatpak = qEnvironmentVariable("FLATPAK_USER_DIR");
    places.flatpakUser = flatpak.startsWith(u'/') ? FileSystem::standardized(flatpak)
                                                  : places.dataHome + QStringLiteral("/flatpak");
    places.dataDirs = systemDataDirs(places.home);
    places.homePath = homePathDirs(places.home);
    places.dpkgInfo = QStringLiteral("/var/lib/dpkg/info");
    return places;
}

ApplicationPlaces ApplicationPlaces::inHome(const QString& home)
{
    ApplicationPlaces places;
    places.home = FileSystem::standardized(home);
    places.dataHome = places.home + QStringLiteral("/.local/share");
    places.configHome = places.home + QStringLiteral("/.config");
    places.cacheHome = places.home + QStringLiteral("/.cache");
    places.stateHome = places.home + QStringLiteral("/.local/state");
    places.flatpakUser = places.dataHome + QStringLiteral("/flatpak");
    places.homePath = {places.home + QStringLiteral("/.local/bin")};
    places.systemFlatpak = false;
    return places;
}

QList<LeftoverFolder> ApplicationPlaces::leftoverFolders() const
{
    // Names are matched only where programs name their folders after themselves; the others
    // hold entries named after an identifier.
    return {{home + QStringLiteral("/.var/app"), false},
            {configHome, true},
            {dataHome, true},
            {cacheHome, true},
            {stateHome, true},
            {configHome + QStringLiteral("/autostart"), false},
            {dataHome + QStringLiteral("/applications"), false}};
}

QStringList ApplicationPlaces::sharedFolders() const
{
    return {dataHome + QStringLiteral("/Trash"), flatpakUser, dataHome + QStringLiteral("/flatpak"),
            dataHome + QStringLiteral("/icons"), home + QStringLiteral("/.var")};
}

std::vector<std::unique_ptr<ApplicationSource>> applicationSources(const ApplicationPlaces& places)
{
    std::vector<std::unique_ptr<ApplicationSource>> sources;
    sources.push_back(std::make_unique<FlatpakSource>(places.home, places.systemFlatpak));
    sources.push_back(std::make_unique<AppImageSource>(places));
    sources.push_back(std::make_unique<HomeProgramSource>(places));
    sources.push_back(std::make_unique<SystemPackageSource>(places));
    return sources;
}
