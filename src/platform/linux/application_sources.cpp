#include "platform/application_source.h"
#include "platform/file_system.h"
#include "platform/linux/appimage_source.h"
#include "platform/linux/flatpak_source.h"
#include "platform/linux/home_program_source.h"
#include "platform/linux/system_package_source.h"

namespace {

bool isBelowOrAt(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder + u'/');
}

// Only absolute folders count; what lies in the home is the user's, and Flatpak's exported
// entries are listed by the Flatpak source.
QStringList systemDataDirs(const QString& home)
{
    QString value = qEnvironmentVariable("XDG_DATA_DIRS");
    if (value.isEmpty()) value = QStringLiteral("/usr/local/share:/usr/share");
    QStringList dirs;
    for (const QString& entry : value.split(u':', Qt::SkipEmptyParts)) {
        const QString dir = FileSystem::standardized(entry);
        if (!dir.startsWith(u'/') || dir == u"/" || isBelowOrAt(dir, home) ||
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

} // namespace

ApplicationPlaces ApplicationPlaces::standard()
{
    ApplicationPlaces places;
    places.home = FileSystem::standardized(FileSystem::homeDirectory());
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    places.dataHome = dataHome.startsWith(u'/') ? FileSystem::standardized(dataHome)
                                                : places.home + QStringLiteral("/.local/share");
    places.dataDirs = systemDataDirs(places.home);
    places.homePath = homePathDirs(places.home);
    places.dpkgInfo = QStringLiteral("/var/lib/dpkg/info");
    return places;
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
