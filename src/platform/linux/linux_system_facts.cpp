#include "platform/linux/linux_system_facts.h"

#include "platform/linux/proc_text_p.h"
#include "platform/path_codec.h"
#include "platform/system_facts.h"
#include "platform/unique_fd.h"

#include <QStringList>
#include <algorithm>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

using namespace ProcText;

namespace LinuxSystemFacts {
namespace {

UniqueFd openRoot(const QString& root)
{
    return UniqueFd(open(PathCodec::encode(root).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// Up to the first NUL (device-tree strings end with one), one trailing line break dropped.
QString decodeValue(QByteArrayView value)
{
    if (const qsizetype nul = value.indexOf('\0'); nul >= 0) value = value.first(nul);
    if (value.endsWith('\n')) value.chop(1);
    return QString::fromUtf8(value);
}

QString readValue(int rootFd, const char* path)
{
    const auto data = readSmallFile(rootFd, path, kTextCap);
    return data ? decodeValue(*data) : QString();
}

// "key<blanks>: value" lines of /proc/cpuinfo; the first processor's answer.
QString cpuinfoValue(QByteArrayView text, QByteArrayView key)
{
    QString found;
    forEachLine(text, [&](QByteArrayView line) {
        const qsizetype colon = line.indexOf(':');
        if (!found.isEmpty() || colon < 0 || line.first(colon).trimmed() != key) return;
        found = QString::fromUtf8(line.sliced(colon + 1).trimmed());
    });
    return found;
}

QString deviceTreeModel(int rootFd)
{
    return readValue(rootFd, "proc/device-tree/model").trimmed();
}

std::optional<qint64> readInteger(int rootFd, const QByteArray& path)
{
    const auto data = readSmallFile(rootFd, path.constData(), 256);
    if (!data) return std::nullopt;
    bool ok = false;
    const qint64 value = data->trimmed().toLongLong(&ok);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

// The state of one zone, or -1 without a temperature or without trip points to judge it by.
int zoneState(int rootFd, const QByteArray& zone)
{
    const auto temperature = readInteger(rootFd, zone + "/temp");
    if (!temperature) return -1;
    int state = -1;
    for (int trip = 0;; ++trip) {
        const QByteArray prefix = zone + "/trip_point_" + QByteArray::number(trip);
        const auto type = readSmallFile(rootFd, (prefix + "_type").constData(), 64);
        if (!type) break;
        const auto limit = readInteger(rootFd, prefix + "_temp");
        if (!limit || *limit <= 0) continue;
        const QByteArray kind = type->trimmed();
        const int level = kind == "critical" ? 3 : kind == "hot" ? 2 : kind == "passive" ? 1 : 0;
        state = std::max(state, *temperature >= *limit ? level : 0);
    }
    return state;
}

} // namespace

QString sysctlString(const QString& root, const QString& name)
{
    // Every "." becomes "/", so no ".." can be formed; a "/" of its own would let a name
    // reach outside /proc/sys.
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\0')))
        return {};
    const QStringList parts = name.split(QLatin1Char('.'));
    if (parts.contains(QString())) return {};
    const UniqueFd rootFd = openRoot(root);
    const QByteArray path = "proc/sys/" + PathCodec::encode(parts.join(QLatin1Char('/')));
    return readValue(rootFd.get(), path.constData());
}

QString processorName(const QString& root)
{
    const UniqueFd rootFd = openRoot(root);
    if (const auto cpuinfo = readSmallFile(rootFd.get(), "proc/cpuinfo")) {
        for (const char* key : {"model name", "Hardware", "cpu model"}) {
            QString value = cpuinfoValue(*cpuinfo, key);
            if (!value.isEmpty()) return value;
        }
    }
    return deviceTreeModel(rootFd.get());
}

QString machineModel(const QString& root)
{
    const UniqueFd rootFd = openRoot(root);
    const QString product =
        readValue(rootFd.get(), "sys/devices/virtual/dmi/id/product_name").trimmed();
    return product.isEmpty() ? deviceTreeModel(rootFd.get()) : product;
}

QString osVersion(const QString& root)
{
    const UniqueFd rootFd = openRoot(root);
    for (const char* path : {"etc/os-release", "usr/lib/os-release"}) {
        const auto text = readSmallFile(rootFd.get(), path, kTextCap);
        if (!text) continue;
        QString pretty;
        forEachLine(*text, [&](QByteArrayView line) {
            if (!line.startsWith("PRETTY_NAME=")) return;
            QByteArrayView value = line.sliced(12).trimmed();
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front())
                value = value.sliced(1, value.size() - 2);
            pretty = QString::fromUtf8(value);
        });
        return pretty;
    }
    return {};
}

qint64 uptimeSeconds()
{
    timespec now{};
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) return 0;
    return qint64(now.tv_sec);
}

int thermalState(const QString& root)
{
    const UniqueFd rootFd = openRoot(root);
    int state = -1;
    for (int zone = 0; zone < 256; ++zone) {
        const QByteArray path = "sys/class/thermal/thermal_zone" + QByteArray::number(zone);
        if (faccessat(rootFd.get(), path.constData(), F_OK, 0) != 0) break;
        state = std::max(state, zoneState(rootFd.get(), path));
    }
    return state;
}

} // namespace LinuxSystemFacts

namespace SystemFacts {
namespace {

const QString& systemRoot()
{
    static const QString root = QStringLiteral("/");
    return root;
}

} // namespace

QString sysctlString(const QString& name)
{
    return LinuxSystemFacts::sysctlString(systemRoot(), name);
}

QString processorName()
{
    return LinuxSystemFacts::processorName(systemRoot());
}

QString machineModel()
{
    return LinuxSystemFacts::machineModel(systemRoot());
}

QString osVersion()
{
    return LinuxSystemFacts::osVersion(systemRoot());
}

qint64 uptimeSeconds()
{
    return LinuxSystemFacts::uptimeSeconds();
}

int thermalState()
{
    return LinuxSystemFacts::thermalState(systemRoot());
}

} // namespace SystemFacts
