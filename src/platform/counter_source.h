#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
#include <array>
#include <memory>
#include <optional>

/// Factor between the process accounting's CPU-time unit and nanoseconds, as a fraction.
struct TimeBase
{
    quint32 numerator = 1;
    quint32 denominator = 1;
    friend bool operator==(const TimeBase&, const TimeBase&) = default;
};

/// Cumulative tick counters of one logical processor. They wrap at 2^32; callers subtract with
/// unsigned wrapping arithmetic.
struct ProcessorTicks
{
    quint32 user = 0;
    quint32 system = 0;
    quint32 idle = 0;
    quint32 nice = 0;
    friend bool operator==(const ProcessorTicks&, const ProcessorTicks&) = default;
};

/// Page counts of the virtual-memory statistics, in pages of `CounterSource::pageSize()`.
struct VmPageCounts
{
    quint64 internal = 0;   ///< anonymous pages, purgeable ones included
    quint64 purgeable = 0;  ///< anonymous pages the kernel may drop without writing them
    quint64 wired = 0;      ///< pages that can be neither reclaimed nor swapped
    quint64 compressor = 0; ///< pages holding compressed memory
    quint64 external = 0;   ///< file-backed pages
    friend bool operator==(const VmPageCounts&, const VmPageCounts&) = default;
};

/// Swap figures in bytes.
struct SwapUsage
{
    quint64 total = 0;
    quint64 used = 0;
    friend bool operator==(const SwapUsage&, const SwapUsage&) = default;
};

/// Cumulative byte totals of one network interface since it came up.
struct InterfaceCounters
{
    QByteArray name;
    bool loopback = false;
    quint64 rxBytes = 0;
    quint64 txBytes = 0;
    friend bool operator==(const InterfaceCounters&, const InterfaceCounters&) = default;
};

/// What one pass over the processes tells about one process.
struct ProcessUsage
{
    qint32 pid = 0;
    quint64 userTime = 0;   ///< cumulative, in units of `CounterSource::timeBase()`
    quint64 systemTime = 0; ///< cumulative, in units of `CounterSource::timeBase()`
    quint64 footprint = 0;  ///< physical memory the process alone holds, bytes
    QByteArray name;        ///< raw bytes, not necessarily UTF-8; empty when it cannot be read
    /// With the pid, names the process across PID reuse: the start time in the system's own
    /// unit (clock ticks after boot on Linux). Absent when the system does not tell.
    std::optional<quint64> startTime;
    friend bool operator==(const ProcessUsage&, const ProcessUsage&) = default;
};

/// The raw system counters that the system sampler turns into a snapshot. One source is used
/// by one sampler, from one thread at a time (not necessarily the same thread each time).
/// Every reading reports failure as an absent value and never throws.
class CounterSource
{
public:
    virtual ~CounterSource();

    /// Called first in every sample. A source reads each of its files at most once between
    /// two calls, however many readings they feed.
    virtual void beginSample();

    /// The accounting unit of `ProcessUsage` times. Constant for the life of the source.
    virtual TimeBase timeBase() = 0;
    /// Per logical processor, in the system's processor order. Absent when unreadable.
    virtual std::optional<QList<ProcessorTicks>> processorTicks() = 0;
    /// Installed physical memory in bytes; 0 when unknown.
    virtual quint64 physicalMemory() = 0;
    /// Absent when the statistics cannot be read.
    virtual std::optional<VmPageCounts> vmPageCounts() = 0;
    /// Bytes per page of `vmPageCounts()`.
    virtual quint64 pageSize() = 0;
    /// Absent when unreadable.
    virtual std::optional<SwapUsage> swapUsage() = 0;
    /// 1 normal, 2 warning, 4 critical; absent when unreadable.
    virtual std::optional<qint32> pressureLevel() = 0;
    /// Every interface, loopback ones marked. Absent when the list cannot be read.
    virtual std::optional<QList<InterfaceCounters>> interfaces() = 0;
    /// Absent when the power-source information cannot be had. Each element is one source's
    /// description: a QVariantMap with string keys ("Type", "Current Capacity", "Max Capacity",
    /// "Is Charging", "Power Source State", "Time to Empty"), or an invalid QVariant for a
    /// source whose description cannot be had.
    virtual std::optional<QList<QVariant>> powerSources() = 0;
    /// Load averages over 1, 5 and 15 minutes; absent unless all three could be read.
    virtual std::optional<std::array<double, 3>> loadAverage() = 0;
    /// The processes that can be inspected, in the order the system lists them. Processes
    /// whose usage cannot be read are left out. Absent when the list itself cannot be had or
    /// names no process.
    virtual std::optional<QList<ProcessUsage>> processes() = 0;
    /// Monotonic clock in nanoseconds.
    virtual quint64 monotonicNanoseconds() = 0;
};

/// The source that reads the running system, from the realisation of the platform built for.
std::unique_ptr<CounterSource> makeSystemCounterSource();
