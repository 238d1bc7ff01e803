#pragma once

#include "platform/counter_source.h"

#include <QHash>
#include <QList>
#include <QMetaType>
#include <QString>
#include <array>
#include <memory>
#include <optional>

/// Memory figures in bytes.
struct MemoryInfo
{
    quint64 total = 0;      ///< installed physical memory
    quint64 app = 0;        ///< application memory: internal minus purgeable pages
    quint64 wired = 0;      ///< memory that can be neither reclaimed nor swapped
    quint64 compressed = 0; ///< memory held by the compressor
    quint64 cached = 0;     ///< file-backed plus purgeable pages; not part of `used()`
    quint64 swapUsed = 0;
    quint64 swapTotal = 0;
    qint32 pressure = 1; ///< 1 normal, 2 warning, 4 critical; 1 when it cannot be read

    /// app + wired + compressed.
    quint64 used() const { return app + wired + compressed; }
    /// used() / total in 0…1; 0 when total is 0.
    double usedFraction() const { return total == 0 ? 0.0 : double(used()) / double(total); }

    friend bool operator==(const MemoryInfo&, const MemoryInfo&) = default;
};

/// The internal battery.
struct BatteryInfo
{
    qint64 percent = 0; ///< current × 100 / max, truncated; may exceed 100
    bool charging = false;
    bool onAC = false;
    std::optional<qint64> minutesLeft; ///< absent unless the source gives a positive estimate

    friend bool operator==(const BatteryInfo&, const BatteryInfo&) = default;
};

/// One process of a snapshot; its identity is `pid`.
struct ProcessStat
{
    qint32 pid = 0;     ///< always > 0
    QString name;       ///< its name, or "pid " + pid when the name cannot be read
    double cpu = 0;     ///< percent of one processor since the previous sample; may exceed 100
    quint64 memory = 0; ///< physical footprint, bytes
    /// Tells this process from a later one that reuses its pid (see ProcessSignal::Identity);
    /// absent when the system does not say.
    std::optional<quint64> startTime;

    qint32 id() const { return pid; }
    friend bool operator==(const ProcessStat&, const ProcessStat&) = default;
};

/// One sample of the whole system. The default value, nothing measured yet, is what the
/// monitor shows before its first sample.
struct SystemSnapshot
{
    double cpuTotal = 0;  ///< busy share of all processors, percent 0–100
    double cpuUser = 0;   ///< user + nice share, percent
    double cpuSystem = 0; ///< system share, percent
    QList<double> cores;  ///< busy percent of each logical processor, in the system's order
    MemoryInfo memory;
    double netDown = 0; ///< bytes per second received, non-loopback interfaces together
    double netUp = 0;   ///< bytes per second sent
    std::optional<BatteryInfo> battery;
    std::array<double, 3> load{}; ///< load average over 1, 5 and 15 minutes
    QList<ProcessStat> processes; ///< in the order the system listed them

    friend bool operator==(const SystemSnapshot&, const SystemSnapshot&) = default;
};

Q_DECLARE_METATYPE(SystemSnapshot)
Q_DECLARE_METATYPE(ProcessStat)

/// Turns the system's cumulative counters into snapshots. Rates are differences to the
/// previous call, so the first call after construction only primes: its CPU shares, per-core
/// values, network rates and process CPU figures are 0.
///
/// Not thread-safe: `sample()` may run on any thread, but never two calls at a time.
class SystemSampler
{
public:
    /// Samples the running system.
    SystemSampler();
    /// Samples what `source` supplies (tests use a scripted one).
    explicit SystemSampler(std::unique_ptr<CounterSource> source);
    ~SystemSampler();
    SystemSampler(const SystemSampler&) = delete;
    SystemSampler& operator=(const SystemSampler&) = delete;

    /// Takes every reading and keeps the cumulative ones for the next call. Never fails: a
    /// source that cannot be read leaves its figures at their defaults.
    SystemSnapshot sample();

private:
    struct NetReading
    {
        quint64 rx = 0;
        quint64 tx = 0;
        quint64 time = 0;
    };
    struct ProcessMark
    {
        quint64 cpuNs = 0;
        std::optional<quint64> startTime;
    };

    void sampleCpu(SystemSnapshot& snapshot);
    void sampleMemory(MemoryInfo& memory);
    std::pair<double, double> network();
    std::optional<BatteryInfo> battery();
    QList<ProcessStat> processes();

    std::unique_ptr<CounterSource> m_source;
    QList<ProcessorTicks> m_prevTicks;
    std::optional<NetReading> m_prevNet;
    QHash<qint32, ProcessMark> m_prevProc;
    quint64 m_prevProcTime = 0;
    double m_ticksToNs = 1;
};
