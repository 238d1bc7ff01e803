#pragma once

#include "core/category.h"
#include "monitor/system_info.h"
#include "monitor/system_sampler.h"
#include "ui/palette.h"

#include <QString>
#include <array>
#include <optional>

/// The texts of the monitor screen, built from a snapshot. Pure functions; any thread.
namespace MonitorText {

/// printf "%.0f%%": rounded to a whole number, followed by "%".
QString percent(double value);
/// printf "%.1f".
QString oneDecimal(double value);
/// A memory figure: ByteCount::memory, in multiples of 1024 (1 KB = 1024 bytes).
QString memory(quint64 bytes);
/// A network rate: formatBytes of the whole bytes per second, followed by "/s".
QString rate(double bytesPerSecond);
/// "Bình thường", "Cảnh báo" (2) or "Nguy cấp" (4).
QString pressureWord(qint32 level);
/// Success, warning (2) or destructive (4).
Palette::Role pressureTint(qint32 level);
/// "Đang sạc", "Đã cắm sạc", "Đang dùng pin" or "Còn khoảng H giờ M phút".
QString batteryDetail(const BatteryInfo& battery);
/// "D ngày H giờ" from a day up, else "H giờ M phút".
QString uptime(qint64 seconds);
/// "Bình thường", "Hơi nóng", "Nóng", "Rất nóng" or "Không rõ".
QString thermalWord(ThermalState state);
/// printf "%.2f  %.2f  %.2f" (two blanks between the numbers).
QString loads(const std::array<double, 3>& load);

} // namespace MonitorText

/// What one summary card shows.
struct StatCard
{
    QString title;
    QString symbol;
    QString value;
    std::optional<double> fraction;             ///< fill of the bar, unclamped; no bar when absent
    Palette::Role tint = Palette::Role::accent; ///< colour of the bar
    QString detail;

    friend bool operator==(const StatCard&, const StatCard&) = default;
};

/// The cards of the grid, from the latest snapshot (the disk card from a volume reading).
namespace MonitorCards {
StatCard cpu(const SystemSnapshot& snapshot);
StatCard memory(const SystemSnapshot& snapshot);
StatCard network(const SystemSnapshot& snapshot);
StatCard disk(const DiskUsage& disk);
StatCard battery(const BatteryInfo& battery);
} // namespace MonitorCards
