#include "ui/monitor_text.h"

#include "platform/byte_count.h"

#include <cmath>
#include <limits>

namespace MonitorText {
namespace {

// A double outside the range of qint64 has no defined conversion.
qint64 truncated(double value)
{
    if (!(value > 0)) return 0;
    if (value >= 9.2e18) return std::numeric_limits<qint64>::max();
    return qint64(value);
}

} // namespace

QString percent(double value)
{
    return QString::asprintf("%.0f%%", value);
}

QString oneDecimal(double value)
{
    return QString::asprintf("%.1f", value);
}

QString memory(quint64 bytes)
{
    return ByteCount::memory(bytes);
}

QString rate(double bytesPerSecond)
{
    return formatBytes(truncated(bytesPerSecond)) + QStringLiteral("/s");
}

QString pressureWord(qint32 level)
{
    switch (level) {
    case 2:
        return QStringLiteral("Cảnh báo");
    case 4:
        return QStringLiteral("Nguy cấp");
    default:
        return QStringLiteral("Bình thường");
    }
}

Palette::Role pressureTint(qint32 level)
{
    switch (level) {
    case 2:
        return Palette::Role::warning;
    case 4:
        return Palette::Role::destructive;
    default:
        return Palette::Role::success;
    }
}

QString batteryDetail(const BatteryInfo& battery)
{
    if (battery.charging) return QStringLiteral("Đang sạc");
    if (battery.onAC) return QStringLiteral("Đã cắm sạc");
    if (!battery.minutesLeft) return QStringLiteral("Đang dùng pin");
    const qint64 minutes = *battery.minutesLeft;
    return QStringLiteral("Còn khoảng ") + QString::number(minutes / 60) + QStringLiteral(" giờ ") +
           QString::number(minutes % 60) + QStringLiteral(" phút");
}

QString uptime(qint64 seconds)
{
    if (seconds >= 86400)
        return QString::number(seconds / 86400) + QStringLiteral(" ngày ") +
               QString::number(seconds % 86400 / 3600) + QStringLiteral(" giờ");
    return QString::number(seconds / 3600) + QStringLiteral(" giờ ") +
           QString::number(seconds % 3600 / 60) + QStringLiteral(" phút");
}

QString thermalWord(ThermalState state)
{
    switch (state) {
    case ThermalState::nominal:
        return QStringLiteral("Bình thường");
    case ThermalState::fair:
        return QStringLiteral("Hơi nóng");
    case ThermalState::serious:
        return QStringLiteral("Nóng");
    case ThermalState::critical:
        return QStringLiteral("Rất nóng");
    case ThermalState::unknown:
        break;
    }
    return QStringLiteral("Không rõ");
}

QString loads(const std::array<double, 3>& load)
{
    return QString::asprintf("%.2f  %.2f  %.2f", load[0], load[1], load[2]);
}

} // namespace MonitorText

namespace MonitorCards {

StatCard cpu(const SystemSnapshot& s)
{
    return {QStringLiteral("CPU"),
            QStringLiteral("cpu"),
            MonitorText::percent(s.cpuTotal),
            s.cpuTotal / 100,
            Palette::Role::accent,
            QStringLiteral("Người dùng ") + MonitorText::percent(s.cpuUser) +
                QStringLiteral(" · Hệ thống ") + MonitorText::percent(s.cpuSystem)};
}

StatCard memory(const SystemSnapshot& s)
{
    const MemoryInfo& m = s.memory;
    return {QStringLiteral("Bộ nhớ"),
            QStringLiteral("memorychip"),
            MonitorText::memory(m.used()) + QStringLiteral(" / ") + MonitorText::memory(m.total),
            m.usedFraction(),
            MonitorText::pressureTint(m.pressure),
            QStringLiteral("Áp lực: ") + MonitorText::pressureWord(m.pressure)};
}

StatCard network(const SystemSnapshot& s)
{
    return {QStringLiteral("Mạng"),
            QStringLiteral("network"),
            QStringLiteral("↓ ") + MonitorText::rate(s.netDown),
            std::nullopt,
            Palette::Role::accent,
            QStringLiteral("↑ ") + MonitorText::rate(s.netUp)};
}

StatCard disk(const DiskUsage& disk)
{
    constexpr qint64 kLowSpace = 9'999'999'999;
    return {QStringLiteral("Ổ đĩa"),
            QStringLiteral("internaldrive"),
            formatBytes(disk.used()) + QStringLiteral(" / ") + formatBytes(disk.total),
            disk.total > 0 ? double(disk.used()) / double(disk.total) : 0.0,
            disk.available <= kLowSpace ? Palette::Role::destructive : Palette::Role::accent,
            QStringLiteral("Còn trống ") + formatBytes(disk.available)};
}

StatCard battery(const BatteryInfo& b)
{
    return {QStringLiteral("Pin"),
            b.charging ? QStringLiteral("battery.100.bolt") : QStringLiteral("battery.75"),
            QString::number(b.percent) + QStringLiteral("%"),
            double(b.percent) / 100,
            b.percent <= 20 && !b.onAC ? Palette::Role::destructive : Palette::Role::success,
            MonitorText::batteryDetail(b)};
}

} // namespace MonitorCards
