#pragma once

// The power supplies of /sys/class/power_supply as the description maps that the system sampler
// reads. Internal to the platform library.

#include <QByteArrayView>
#include <QList>
#include <QVariant>
#include <QVariantMap>
#include <optional>

namespace PowerSupply {

/// The POWER_SUPPLY_ keys of a uevent file, prefix dropped; nullopt when it holds none.
std::optional<QVariantMap> parseUevent(QByteArrayView text);

/// One supply's description map: "Type" ("InternalBattery" for a battery whose scope is not
/// Device), and for an internal battery "Current Capacity", "Max Capacity", "Is Charging",
/// "Power Source State" and "Time to Empty" (minutes; 0 when not discharging, -1 when unknown).
/// `mainsOnline` is whether a mains supply reports power, when one reports at all.
QVariantMap describe(const QVariantMap& keys, std::optional<bool> mainsOnline);

/// Every supply below `rootFd`'s sys/class/power_supply, sorted by name; an invalid QVariant for
/// a supply whose uevent cannot be read. nullopt when the folder cannot be listed.
std::optional<QList<QVariant>> readAll(int rootFd);

} // namespace PowerSupply
