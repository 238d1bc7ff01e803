#include "platform/linux/home_program_source.h"

#include "platform/file_system.h"
#include "platform/linux/appimage_source.h"
#include "platform/linux/user_entries.h"

#include <QStandardPaths>
#include <sys/stat.h>

namespace {

struct Candidate
{
    const DesktopFile* file = nullptr;
    QString program; ///< the real program file, below the home
    QString folder;  ///< its own folder, before the checks
    QString location;
};

QString parentOf(const QString& path)
{
    return path.left(path.lastIndexOf(u'/'));
}

QString ownFolder(const QString& program)
{
    const QString folder = parentOf(program);
    return FileSystem::lastComponent(folder) == u"bin" ? parentOf(folder) : folder;
}

// The entries that launch each application, and the icons only they name, go with it.
void attachOwnFiles(QList<SourcedApplication>& apps, const QList<QList<const DesktopFile*>>& owners,
                    const QList<DesktopFile>& entries, const ApplicationPlaces& places)
{
    for (qsizetype i = 0; i < apps.size(); ++i) {
        for (const DesktopFile* own : owners[i])
            apps[i].ownFiles.append(own->path);
        const QStringList icons = UserEntries::ownIcons(entries, owners[i], places);
        apps[i].ownFiles.append(icons);
        apps[i].iconPath = UserEntries::bestIcon(icons);
        // An Icon written as a path is shown from there; it is not removed with the program.
        if (apps[i].iconPath.isEmpty() && apps[i].iconName.startsWith(u'/'))
            apps[i].iconPath = apps[i].iconName;
        if (!apps[i].iconPath.isEmpty()) apps[i].iconName.clear();
    }
}

} // namespace

HomeProgramSource::HomeProgramSource(ApplicationPlaces places) : m_places(std::move(places)) {}

QStringList HomeProgramSource::baseFolders() const
{
    QStringList folders{m_places.home, m_places.dataHome,
                        m_places.dataHome + QStringLiteral("/applications"),
                        m_places.dataHome + QStringLiteral("/icons")};
    for (const char* relative :
         {".local",   ".local/bin", ".local/lib", ".local/share", ".local/state", ".config",
          ".cache",   ".var",       "opt",        "bin",          "Applications", "AppImages",
          "Programs", "Desktop",    "Documents",  "Downloads",    "Music",        "Pictures",
          "Videos",   "Templates",  "Public"})
        folders.append(m_places.home + u'/' + QLatin1String(relative));
    for (const auto location :
         {QStandardPaths::GenericConfigLocation, QStandardPaths::GenericCacheLocation,
          QStandardPaths::GenericDataLocation, QStandardPaths::DesktopLocation,
          QStandardPaths::DocumentsLocation, QStandardPaths::DownloadLocation,
          QStandardPaths::MusicLocation, QStandardPaths::PicturesLocation,
          QStandardPaths::MoviesLocation})
        folders.append(QStandardPaths::writableLocation(location));
    folders.append(qEnvironmentVariable("XDG_STATE_HOME"));
    folders.append(m_places.homePath);
    folders.removeAll(QString());
    return folders;
}

bool HomeProgramSource::isBaseFolder(const QString& folder) const
{
    const QString path = FileSystem::standardized(folder);
    if (!UserEntries::isBelow(path, m_places.home)) return true;
    for (const QString& base : baseFolders()) {
        const QString standard = FileSystem::standardized(base);
        if (path == standard || UserEntries::isBelow(standard, path)) return true;
    }
    return false;
}

bool HomeProgramSource::isUsableLocation(const QString& location) const
{
    // Other installers' own areas: their programs are theirs to remove.
    for (const QString& area :
         {m_places.dataHome + QStringLiteral("/flatpak"),
          m_places.dataHome + QStringLiteral("/Trash"), m_places.home + QStringLiteral("/.var")})
        if (location == area || UserEntries::isBelow(location, area)) return false;
    return UserEntries::isBelow(location, m_places.home);
}

QList<SourcedApplication> HomeProgramSource::applications()
{
    const QList<DesktopFile> entries = UserEntries::load(m_places);
    QList<Candidate> candidates;
    for (const DesktopFile& file : entries) {
        if (!file.entry.isListable()) continue;
        const QString named = UserEntries::programOf(file.entry, m_places);
        if (named.isEmpty() || !UserEntries::isBelow(named, m_places.home)) continue;
        // A link in ~/.local/bin to the real program: the program's folder is what to remove.
        const QString program = FileSystem::resolved(named);
        const std::optional<FileSystem::Attributes> attributes = FileSystem::attributes(program);
        if (!attributes || attributes->type != S_IFREG || !isUsableLocation(program) ||
            AppImageSource::isAppImage(program))
            continue;
        candidates.append({&file, program, ownFolder(program), QString()});
    }
    for (Candidate& candidate : candidates) {
        bool holdsOthers = false;
        for (const Candidate& other : candidates)
            holdsOthers = holdsOthers || (other.folder != candidate.folder &&
                                          UserEntries::isBelow(other.program, candidate.folder));
        const bool own = !holdsOthers && !isBaseFolder(candidate.folder);
        candidate.location = own ? candidate.folder : candidate.program;
    }

    QList<SourcedApplication> apps;
    QList<QList<const DesktopFile*>> owners;
    for (const Candidate& candidate : candidates) {
        const auto same =
            std::find_if(apps.begin(), apps.end(), [&](const SourcedApplication& app) {
                return app.location == candidate.location;
            });
        if (same != apps.end()) {
            owners[same - apps.begin()].append(candidate.file);
            continue;
        }
        SourcedApplication app;
        app.kind = ApplicationKind::HomeProgram;
        app.removal = Removal::Trash;
        app.location = candidate.location;
        app.id = candidate.file->id;
        app.name = candidate.file->entry.localized(QStringLiteral("Name")).trimmed();
        if (app.name.isEmpty()) app.name = app.id;
        app.version = candidate.file->entry.value(QStringLiteral("X-Version"));
        app.iconName = candidate.file->entry.value(QStringLiteral("Icon"));
        app.lastUsed = UserEntries::lastUsed(candidate.program);
        apps.append(std::move(app));
        owners.append({candidate.file});
    }
    attachOwnFiles(apps, owners, entries, m_places);
    return apps;
}

QList<RemovalFailure> HomeProgramSource::remove(const SourcedApplication& app)
{
    const std::optional<FileSystem::Attributes> attributes = FileSystem::attributes(app.location);
    const bool file = attributes && attributes->type == S_IFREG;
    // Checked again here: a record built elsewhere must not make a base folder removable.
    if (app.kind != ApplicationKind::HomeProgram || app.isProtected ||
        !isUsableLocation(app.location) || (!file && isBaseFolder(app.location)))
        return {{app.location, QStringLiteral("nằm ngoài vùng cho phép")}};
    return UserEntries::trashWithOwnFiles(app, m_places);
}
