#include "platform/linux/appimage_source.h"

#include "platform/file_system.h"
#include "platform/linux/bounded_file.h"
#include "platform/linux/user_entries.h"

#include <QRegularExpression>
#include <sys/stat.h>

namespace {

bool isRegularFile(const QString& path)
{
    const std::optional<FileSystem::Attributes> attributes = FileSystem::attributes(path);
    return attributes && attributes->type == S_IFREG;
}

// The program folders and one ordinary folder below each; links to folders are not searched.
QStringList scannedFiles(const QString& home)
{
    QStringList files;
    for (const char* folder : {"/Applications", "/AppImages", "/.local/bin"}) {
        const QStringList top =
            FileSystem::children(home + QLatin1String(folder), FileSystem::Hidden::Skip)
                .value_or(QStringList());
        for (const QString& child : top) {
            const std::optional<FileSystem::Attributes> attributes = FileSystem::attributes(child);
            if (!attributes || !attributes->isDirectory()) {
                files.append(child);
                continue;
            }
            files.append(
                FileSystem::children(child, FileSystem::Hidden::Skip).value_or(QStringList()));
        }
    }
    return files;
}

QString withoutPattern(const QString& text, const QRegularExpression& pattern, QString* removed)
{
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch() || match.capturedStart() == 0) return text;
    if (removed) *removed = match.captured(1);
    return text.left(match.capturedStart());
}

} // namespace

AppImageSource::AppImageSource(ApplicationPlaces places) : m_places(std::move(places)) {}

bool AppImageSource::hasMarker(QByteArrayView header)
{
    return header.size() >= 11 &&
           header.first(4) == "\x7f"
                              "ELF" &&
           header[8] == 'A' && header[9] == 'I' && (header[10] == 1 || header[10] == 2);
}

bool AppImageSource::isAppImage(const QString& path)
{
    const std::optional<QByteArray> header = BoundedFile::head(path, 16);
    return header && hasMarker(*header);
}

std::pair<QString, QString> AppImageSource::nameFromFile(const QString& fileName)
{
    static const QRegularExpression extension(QStringLiteral("\\.appimage$"),
                                              QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression architecture(
        QStringLiteral("[-_.](x86[-_]64|amd64|x64|x86|i[3-6]86|aarch64|arm64|armhf|armv7l)$"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression version(
        QStringLiteral("[-_ ]v?(\\d+(?:\\.\\d+)*(?:[-.+~][0-9A-Za-z]+)*)$"));
    QString name = withoutPattern(fileName, extension, nullptr);
    for (QString previous; previous != name;) {
        previous = name;
        name = withoutPattern(name, architecture, nullptr);
    }
    QString found;
    name = withoutPattern(name, version, &found);
    return {name, found};
}

QList<SourcedApplication> AppImageSource::applications()
{
    const QList<DesktopFile> entries = UserEntries::load(m_places);
    QStringList files;
    for (const QString& file : scannedFiles(m_places.home))
        if (!files.contains(file) && isRegularFile(file) && isAppImage(file)) files.append(file);
    for (const DesktopFile& file : entries) {
        const QString program = UserEntries::programOf(file.entry, m_places);
        if (UserEntries::isBelow(program, m_places.home) && !files.contains(program) &&
            isAppImage(program))
            files.append(program);
    }

    QList<SourcedApplication> apps;
    for (const QString& file : files) {
        QList<const DesktopFile*> mine;
        for (const DesktopFile& entry : entries)
            if (!entry.entry.boolean(QStringLiteral("Hidden")) &&
                UserEntries::programOf(entry.entry, m_places) == file)
                mine.append(&entry);
        SourcedApplication app;
        app.kind = ApplicationKind::AppImage;
        app.removal = Removal::Trash;
        app.location = file;
        const auto [fileName, fileVersion] = nameFromFile(FileSystem::lastComponent(file));
        const DesktopEntry* entry = mine.isEmpty() ? nullptr : &mine.first()->entry;
        app.name = entry ? entry->localized(QStringLiteral("Name")).trimmed() : QString();
        if (app.name.isEmpty()) app.name = fileName;
        app.version = entry ? entry->value(QStringLiteral("X-AppImage-Version")) : QString();
        if (app.version.isEmpty()) app.version = fileVersion;
        app.id = mine.isEmpty() ? fileName : mine.first()->id;
        for (const DesktopFile* own : mine)
            app.ownFiles.append(own->path);
        const QStringList icons = UserEntries::ownIcons(entries, mine, m_places);
        app.ownFiles.append(icons);
        app.iconPath = UserEntries::bestIcon(icons);
        const QString icon = entry ? entry->value(QStringLiteral("Icon")) : QString();
        if (app.iconPath.isEmpty()) (icon.startsWith(u'/') ? app.iconPath : app.iconName) = icon;
        app.lastUsed = UserEntries::lastUsed(file);
        apps.append(std::move(app));
    }
    return apps;
}

QList<RemovalFailure> AppImageSource::remove(const SourcedApplication& app)
{
    // Checked again here: the record may have been built elsewhere, and the file may have been
    // replaced since it was listed.
    if (app.kind != ApplicationKind::AppImage || app.isProtected ||
        !UserEntries::isBelow(app.location, m_places.home) || !isAppImage(app.location))
        return {{app.location, QStringLiteral("không phải AppImage")}};
    return UserEntries::trashWithOwnFiles(app, m_places);
}
