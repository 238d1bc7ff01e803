#include "platform/linux/system_package_source.h"

#include "platform/file_system.h"
#include "platform/linux/bounded_file.h"
#include "platform/linux/desktop_entry.h"
#include "platform/path_codec.h"

#include <QSet>
#include <algorithm>

namespace {

// The largest file lists (kernel images, TeX) hold a few megabytes of paths.
constexpr qint64 kMaxListBytes = qint64(64) * 1024 * 1024;

QString packageOfList(const QString& list)
{
    // "name.list" or, for a multi-arch package, "name:arch.list".
    return FileSystem::lastComponent(list).chopped(5).section(u':', 0, 0);
}

bool listNames(const QString& list, const QByteArray& line)
{
    const std::optional<QByteArray> content = BoundedFile::read(list, kMaxListBytes);
    return content && (content->startsWith(line.mid(1)) || content->contains(line));
}

} // namespace

SystemPackageSource::SystemPackageSource(ApplicationPlaces places) : m_places(std::move(places)) {}

QList<SourcedApplication> SystemPackageSource::applications()
{
    QSet<QString> seen;
    for (const DesktopFile& file :
         desktopFiles(m_places.dataHome + QStringLiteral("/applications")))
        seen.insert(file.id);
    QList<SourcedApplication> apps;
    for (const QString& dir : m_places.dataDirs) {
        for (const DesktopFile& file : desktopFiles(dir + QStringLiteral("/applications"))) {
            if (seen.contains(file.id)) continue;
            seen.insert(file.id);
            if (!file.entry.isListable()) continue;
            SourcedApplication app;
            app.kind = ApplicationKind::SystemPackage;
            app.removal = Removal::Never;
            app.isProtected = true;
            app.location = file.path;
            app.desktopEntry = file.path;
            app.id = file.id;
            app.name = file.entry.localized(QStringLiteral("Name")).trimmed();
            if (app.name.isEmpty()) app.name = file.id;
            const QString icon = file.entry.value(QStringLiteral("Icon"));
            (icon.startsWith(u'/') ? app.iconPath : app.iconName) = icon;
            apps.append(std::move(app));
        }
    }
    return apps;
}

QList<RemovalFailure> SystemPackageSource::remove(const SourcedApplication& app)
{
    return {{app.location, QStringLiteral("ứng dụng hệ thống, hãy gỡ bằng trình quản lý gói")}};
}

std::optional<QString> SystemPackageSource::owningPackage(const SourcedApplication& app)
{
    if (app.desktopEntry.isEmpty()) return std::nullopt;
    QStringList lists;
    for (const QString& path : FileSystem::children(m_places.dpkgInfo).value_or(QStringList()))
        if (path.endsWith(u".list")) lists.append(path);
    // "org.gnome.Foo" is often packaged as "gnome-foo" or "foo": lists whose package name is the
    // id's last part, or contains it, go first.
    const QString hint = app.id.section(u'.', -1).toLower();
    std::stable_partition(lists.begin(), lists.end(), [&](const QString& list) {
        return !hint.isEmpty() && packageOfList(list).contains(hint);
    });
    const QByteArray line = '\n' + PathCodec::encode(app.desktopEntry) + '\n';
    for (const QString& list : lists)
        if (listNames(list, line)) return packageOfList(list);
    return std::nullopt;
}
