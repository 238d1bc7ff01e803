// The Linux table of places: the XDG base-directory and user-directory rules.
#include "platform/linux/linux_places.h"

#include "platform/file_system.h"

#include <QStandardPaths>

namespace LinuxPlaces {
namespace {

using Places::Candidate;

// An XDG base folder: the variable when it names a safe place, else the default (the rules say
// a relative value is to be ignored; "/" or the home folder would make every folder junk).
QString baseFolder(const char* variable, const QString& home, const QString& relative)
{
    const QString value = qEnvironmentVariable(variable);
    const QString fallback = home + u'/' + relative;
    return Places::isSafePlace(value, home) ? value : fallback;
}

// A place with no alternative.
Candidate fixed(const QString& path)
{
    return {path, path};
}

Candidate inHome(const QString& home, const QString& relative)
{
    return fixed(home + u'/' + relative);
}

// A folder of user-dirs.dirs, whose names follow the desktop's language ("Tải về" for
// Downloads); `name` is the English default.
Candidate userFolder(QStandardPaths::StandardLocation location, const QString& home,
                     const QString& name)
{
    return {QStandardPaths::writableLocation(location), home + u'/' + name};
}

QString dataHome(const QString& home)
{
    return baseFolder("XDG_DATA_HOME", home, QStringLiteral(".local/share"));
}

} // namespace

QString homeTrash(const QString& home)
{
    return FileSystem::standardized(dataHome(home) + QStringLiteral("/Trash"));
}

QList<Places::Row> build(const QString& home)
{
    const QString cache = baseFolder("XDG_CACHE_HOME", home, QStringLiteral(".cache"));
    const QString data = dataHome(home);
    const QString defaultData = home + QStringLiteral("/.local/share");
    return Places::sanitized(
        {
            {QStringLiteral("caches"), {{cache, home + QStringLiteral("/.cache")}}},
            // The X server's per-user logs (Xorg.N.log and their .old copies) and nothing else.
            {QStringLiteral("logs"),
             {{data + QStringLiteral("/xorg"), defaultData + QStringLiteral("/xorg")}}},
            // Download caches that their tools fetch again on demand; none holds the user's
            // own work. The Go module cache is read-only on disk: the cleaner's retry after
            // opening up the user's own folders removes it.
            {QStringLiteral("dev"),
             {inHome(home, QStringLiteral(".npm/_cacache")),
              inHome(home, QStringLiteral(".gradle/caches")),
              inHome(home, QStringLiteral(".cargo/registry/cache")),
              inHome(home, QStringLiteral("go/pkg/mod"))}},
            // Only the trash that moves go to: another one would list what was never moved there.
            {QStringLiteral("trash"), {fixed(homeTrash(home) + QStringLiteral("/files"))}},
            // No Linux tool keeps device backups in a standard place.
            {QStringLiteral("ios"), {}},
            {QStringLiteral("large"),
             {userFolder(QStandardPaths::DownloadLocation, home, QStringLiteral("Downloads")),
              userFolder(QStandardPaths::DocumentsLocation, home, QStringLiteral("Documents")),
              userFolder(QStandardPaths::DesktopLocation, home, QStringLiteral("Desktop")),
              userFolder(QStandardPaths::MoviesLocation, home, QStringLiteral("Videos"))}},
        },
        home);
}

} // namespace LinuxPlaces

namespace Places {

const QList<Row>& table()
{
    static const QList<Row> places = LinuxPlaces::build(FileSystem::homeDirectory());
    return places;
}

QString homeTrash()
{
    static const QString trash = LinuxPlaces::homeTrash(FileSystem::homeDirectory());
    return trash;
}

} // namespace Places
