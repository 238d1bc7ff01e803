#include "platform/linux/power_supply_p.h"
#include "platform/linux/proc_text_p.h"
#include "platform/unique_dir.h"

#include <algorithm>
#include <fcntl.h>
#include <vector>

namespace PowerSupply {
namespace {

std::optional<qint64> number(const QVariantMap& keys, const char* key)
{
    const QVariant value = keys.value(QLatin1String(key));
    bool ok = false;
    const qint64 n = value.toByteArray().toLongLong(&ok);
    return ok ? std::optional<qint64>(n) : std::nullopt;
}

QByteArray textOf(const QVariantMap& keys, const char* key)
{
    return keys.value(QLatin1String(key)).toByteArray();
}

// Minutes left while discharging: the driver's own estimate, else energy over power (or charge
// over current); -1 while it cannot be estimated, 0 when not discharging.
qint64 minutesToEmpty(const QVariantMap& keys)
{
    if (textOf(keys, "STATUS") != "Discharging") return 0;
    if (const auto seconds = number(keys, "TIME_TO_EMPTY_NOW"); seconds && *seconds > 0)
        return *seconds / 60;
    const auto energy = number(keys, "ENERGY_NOW");
    const auto power = number(keys, "POWER_NOW");
    if (energy && power && *power > 0) return *energy * 60 / *power;
    const auto charge = number(keys, "CHARGE_NOW");
    const auto current = number(keys, "CURRENT_NOW");
    if (charge && current && *current > 0) return *charge * 60 / *current;
    return -1;
}

// The kernel's own percentage first, as every desktop shows it; else energy, else charge.
void describeCapacity(const QVariantMap& keys, QVariantMap& description)
{
    std::optional<qint64> current = number(keys, "CAPACITY");
    std::optional<qint64> max = current ? std::optional<qint64>(100) : std::nullopt;
    if (!current) {
        current = number(keys, "ENERGY_NOW");
        max = number(keys, "ENERGY_FULL");
    }
    if (!current || !max) {
        current = number(keys, "CHARGE_NOW");
        max = number(keys, "CHARGE_FULL");
    }
    if (current) description.insert(QStringLiteral("Current Capacity"), qlonglong(*current));
    if (max) description.insert(QStringLiteral("Max Capacity"), qlonglong(*max));
}

std::optional<std::vector<QByteArray>> listNames(int dirFd, const char* path)
{
    const UniqueDir dir =
        UniqueDir::adopt(UniqueFd(openat(dirFd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    if (!dir) return std::nullopt;
    std::vector<QByteArray> names;
    while (const dirent* entry = readdir(dir.get())) {
        if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

std::optional<QVariantMap> parseUevent(QByteArrayView text)
{
    QVariantMap keys;
    ProcText::forEachLine(text, [&](QByteArrayView line) {
        if (!line.startsWith("POWER_SUPPLY_")) return;
        const qsizetype equals = line.indexOf('=');
        if (equals < 0) return;
        keys.insert(QString::fromLatin1(line.sliced(13, equals - 13)),
                    line.sliced(equals + 1).toByteArray());
    });
    if (keys.isEmpty()) return std::nullopt;
    return keys;
}

QVariantMap describe(const QVariantMap& keys, std::optional<bool> mainsOnline)
{
    QVariantMap description;
    const QByteArray type = textOf(keys, "TYPE");
    const bool internalBattery = type == "Battery" && textOf(keys, "SCOPE") != "Device";
    description.insert(QStringLiteral("Type"), internalBattery ? QStringLiteral("InternalBattery")
                                                               : QString::fromUtf8(type));
    if (!internalBattery || number(keys, "PRESENT") == 0) return description;
    describeCapacity(keys, description);
    const QByteArray status = textOf(keys, "STATUS");
    description.insert(QStringLiteral("Is Charging"), status == "Charging");
    // Without a mains supply to ask, a battery that is not discharging is taken to be on mains.
    const bool onAC = mainsOnline.value_or(!status.isEmpty() && status != "Discharging");
    description.insert(QStringLiteral("Power Source State"),
                       onAC ? QStringLiteral("AC Power") : QStringLiteral("Battery Power"));
    description.insert(QStringLiteral("Time to Empty"), qlonglong(minutesToEmpty(keys)));
    return description;
}

std::optional<QList<QVariant>> readAll(int rootFd)
{
    const auto names = listNames(rootFd, "sys/class/power_supply");
    if (!names) return std::nullopt;
    std::vector<std::optional<QVariantMap>> supplies;
    std::optional<bool> mainsOnline;
    for (const QByteArray& name : *names) {
        const QByteArray path = "sys/class/power_supply/" + name + "/uevent";
        const auto text = ProcText::readSmallFile(rootFd, path.constData(), ProcText::kTextCap);
        std::optional<QVariantMap> keys = text ? parseUevent(*text) : std::nullopt;
        if (keys && textOf(*keys, "TYPE") != "Battery") {
            if (const auto online = number(*keys, "ONLINE"))
                mainsOnline = mainsOnline.value_or(false) || *online == 1;
        }
        supplies.push_back(std::move(keys));
    }
    QList<QVariant> list;
    for (const std::optional<QVariantMap>& keys : supplies)
        list.append(keys ? QVariant(describe(*keys, mainsOnline)) : QVariant());
    return list;
}

} // namespace PowerSupply
