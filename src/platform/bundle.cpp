#include "platform/bundle.h"

#include "platform/file_system.h"
#include "platform/path_codec.h"

#include <QTimeZone>
#include <sys/stat.h>

namespace {

bool isDirectory(const QString& path)
{
    struct stat st;
    return stat(PathCodec::encode(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A name from the dictionary is used only as one file name inside the bundle.
bool isPlainName(const QString& name)
{
    return !name.isEmpty() && !name.contains(u'/') && name != u"." && name != u"..";
}

} // namespace

std::optional<Bundle> Bundle::open(const QString& path)
{
    if (!isDirectory(path)) return std::nullopt;
    Bundle bundle;
    bundle.m_path = path;
    bundle.m_contents = path + QStringLiteral("/Contents");
    if (!FileSystem::exists(bundle.m_contents + QStringLiteral("/Info.plist")) &&
        FileSystem::exists(path + QStringLiteral("/Info.plist"))) {
        bundle.m_contents = path;
        bundle.m_flat = true;
    }
    bundle.m_info = PropertyList::read(bundle.m_contents + QStringLiteral("/Info.plist"))
                        .value_or(QVariantMap());
    return bundle;
}

std::optional<QString> Bundle::identifier() const
{
    const QString id = stringValue(QStringLiteral("CFBundleIdentifier"));
    return id.isEmpty() ? std::nullopt : std::optional<QString>(id);
}

QString Bundle::stringValue(const QString& key) const
{
    const QVariant value = m_info.value(key);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

QString Bundle::executablePath() const
{
    const QString name = stringValue(QStringLiteral("CFBundleExecutable"));
    if (!isPlainName(name)) return {};
    return m_flat ? m_contents + u'/' + name : m_contents + QStringLiteral("/MacOS/") + name;
}

QString Bundle::iconPath() const
{
    const QString name = stringValue(QStringLiteral("CFBundleIconFile"));
    if (!isPlainName(name)) return {};
    QString base = m_contents + QStringLiteral("/Resources/") + name;
    if (FileSystem::exists(base) && !isDirectory(base)) return base;
    QString icns = base + QStringLiteral(".icns");
    if (FileSystem::extension(name).isEmpty() && FileSystem::exists(icns) && !isDirectory(icns))
        return icns;
    return {};
}

std::optional<QDateTime> Bundle::lastUsed() const
{
    const QString executable = executablePath();
    if (executable.isEmpty()) return std::nullopt;
    struct stat st;
    if (stat(PathCodec::encode(executable).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const auto asNanos = [](const timespec& t) {
        return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
    };
    if (asNanos(st.st_atim) <= asNanos(st.st_mtim)) return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(asNanos(st.st_atim) / 1000000, QTimeZone::utc());
}
