#include "monitor/system_sampler.h"

#include <QVariantMap>
#include <cmath>
#include <limits>

namespace {

// Counters are read by the interface list as given: only whole-number types are integers.
std::optional<qint64> integerValue(const QVariantMap& map, const QString& key)
{
    const QVariant value = map.value(key);
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        return value.toLongLong();
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        if (value.toULongLong() > quint64(std::numeric_limits<qint64>::max())) return std::nullopt;
        return value.toLongLong();
    default:
        return std::nullopt;
    }
}

// current × 100 / max with integer division, without overflowing on absurd counters.
qint64 percentOf(qint64 current, qint64 max)
{
    constexpr qint64 kLimit = std::numeric_limits<qint64>::max() / 100;
    if (current <= kLimit && current >= -kLimit) return current * 100 / max;
    const long double exact = std::trunc((long double)current * 100 / (long double)max);
    if (exact >= (long double)std::numeric_limits<qint64>::max())
        return std::numeric_limits<qint64>::max();
    if (exact <= (long double)std::numeric_limits<qint64>::min())
        return std::numeric_limits<qint64>::min();
    return qint64(exact);
}

quint64 toNanoseconds(quint64 units, double unitsToNs)
{
    const double ns = double(units) * unitsToNs;
    if (!(ns < 18446744073709551616.0)) // 2^64; also catches NaN
        return std::numeric_limits<quint64>::max();
    return quint64(ns);
}

} // namespace

SystemSampler::SystemSampler() : SystemSampler(makeSystemCounterSource()) {}

SystemSampler::SystemSampler(std::unique_ptr<CounterSource> source) : m_source(std::move(source))
{
    const TimeBase base = m_source->timeBase();
    m_ticksToNs = base.denominator == 0 ? 1.0 : double(base.numerator) / base.denominator;
}

SystemSampler::~SystemSampler() = default;

SystemSnapshot SystemSampler::sample()
{
    m_source->beginSample();
    SystemSnapshot snapshot;
    sampleCpu(snapshot);
    sampleMemory(snapshot.memory);
    const auto [down, up] = network();
    snapshot.netDown = down;
    snapshot.netUp = up;
    snapshot.battery = battery();
    if (const auto load = m_source->loadAverage()) snapshot.load = *load;
    snapshot.processes = processes();
    return snapshot;
}

void SystemSampler::sampleCpu(SystemSnapshot& snapshot)
{
    const std::optional<QList<ProcessorTicks>> ticks = m_source->processorTicks();
    if (!ticks || ticks->isEmpty()) return;
    const qsizetype count = ticks->size();
    snapshot.cores = QList<double>(count, 0.0);
    if (count == m_prevTicks.size()) {
        double sumUser = 0, sumSystem = 0, sumTotal = 0;
        for (qsizetype i = 0; i < count; ++i) {
            const ProcessorTicks& now = ticks->at(i);
            const ProcessorTicks& before = m_prevTicks.at(i);
            // Unsigned 32-bit subtraction: a counter that wrapped still gives its small delta.
            const double user =
                quint32(now.user - before.user) + double(quint32(now.nice - before.nice));
            const double system = quint32(now.system - before.system);
            const double total = quint32(now.idle - before.idle) + user + system;
            snapshot.cores[i] = total > 0 ? (user + system) / total * 100 : 0;
            sumUser += user;
            sumSystem += system;
            sumTotal += total;
        }
        if (sumTotal > 0) {
            snapshot.cpuTotal = (sumUser + sumSystem) / sumTotal * 100;
            snapshot.cpuUser = sumUser / sumTotal * 100;
            snapshot.cpuSystem = sumSystem / sumTotal * 100;
        }
    }
    m_prevTicks = *ticks;
}

void SystemSampler::sampleMemory(MemoryInfo& memory)
{
    memory.total = m_source->physicalMemory();
    if (const auto pages = m_source->vmPageCounts()) {
        const quint64 page = m_source->pageSize();
        memory.app =
            pages->internal > pages->purgeable ? (pages->internal - pages->purgeable) * page : 0;
        memory.wired = pages->wired * page;
        memory.compressed = pages->compressor * page;
        memory.cached = (pages->external + pages->purgeable) * page;
    }
    if (const auto swap = m_source->swapUsage()) {
        memory.swapTotal = swap->total;
        memory.swapUsed = swap->used;
    }
    memory.pressure = m_source->pressureLevel().value_or(1);
}

std::pair<double, double> SystemSampler::network()
{
    const std::optional<QList<InterfaceCounters>> interfaces = m_source->interfaces();
    if (!interfaces) return {0, 0};
    quint64 rx = 0, tx = 0;
    for (const InterfaceCounters& counters : *interfaces) {
        if (counters.loopback) continue;
        rx += counters.rxBytes;
        tx += counters.txBytes;
    }
    const quint64 now = m_source->monotonicNanoseconds();
    double down = 0, up = 0;
    if (m_prevNet && now > m_prevNet->time) {
        const double seconds = double(now - m_prevNet->time) / 1e9;
        // A total below the previous one means a counter was reset (an interface went away
        // or came back): no rate rather than a negative or huge one.
        down = rx >= m_prevNet->rx ? double(rx - m_prevNet->rx) / seconds : 0;
        up = tx >= m_prevNet->tx ? double(tx - m_prevNet->tx) / seconds : 0;
    }
    m_prevNet = NetReading{rx, tx, now};
    return {down, up};
}

std::optional<BatteryInfo> SystemSampler::battery()
{
    const std::optional<QList<QVariant>> sources = m_source->powerSources();
    if (!sources) return std::nullopt;
    for (const QVariant& source : *sources) {
        if (source.typeId() != QMetaType::QVariantMap) continue;
        const QVariantMap description = source.toMap();
        if (description.isEmpty()) continue;
        const QVariant type = description.value(QStringLiteral("Type"));
        if (type.typeId() != QMetaType::QString ||
            type.toString() != QLatin1String("InternalBattery"))
            continue;
        const auto current = integerValue(description, QStringLiteral("Current Capacity"));
        const auto max = integerValue(description, QStringLiteral("Max Capacity"));
        if (!current || !max || *max < 1) continue;
        BatteryInfo info;
        info.percent = percentOf(*current, *max);
        const auto minutes = integerValue(description, QStringLiteral("Time to Empty"));
        if (minutes && *minutes > 0) info.minutesLeft = *minutes;
        const QVariant charging = description.value(QStringLiteral("Is Charging"));
        info.charging = charging.typeId() == QMetaType::Bool && charging.toBool();
        const QVariant state = description.value(QStringLiteral("Power Source State"));
        info.onAC =
            state.typeId() == QMetaType::QString && state.toString() == QLatin1String("AC Power");
        return info;
    }
    return std::nullopt;
}

QList<ProcessStat> SystemSampler::processes()
{
    const std::optional<QList<ProcessUsage>> usages = m_source->processes();
    if (!usages) return {};
    const quint64 now = m_source->monotonicNanoseconds();
    // A clock that did not advance (or went back) gives no elapsed time, hence no rates.
    const double elapsed =
        m_prevProcTime != 0 && now > m_prevProcTime ? double(now - m_prevProcTime) : 0.0;
    QHash<qint32, ProcessMark> cpuTimes;
    cpuTimes.reserve(usages->size());
    QList<ProcessStat> list;
    list.reserve(usages->size());
    for (const ProcessUsage& usage : *usages) {
        if (usage.pid <= 0) continue;
        const quint64 cpuNs = toNanoseconds(usage.userTime + usage.systemTime, m_ticksToNs);
        cpuTimes.insert(usage.pid, ProcessMark{cpuNs, usage.startTime});
        ProcessStat stat;
        stat.pid = usage.pid;
        const auto previous = m_prevProc.constFind(usage.pid);
        // A different start time means the pid now names another process, seen for the first
        // time.
        if (elapsed > 0 && previous != m_prevProc.cend() &&
            previous->startTime == usage.startTime && cpuNs >= previous->cpuNs)
            stat.cpu = double(cpuNs - previous->cpuNs) / elapsed * 100;
        QByteArrayView name(usage.name);
        if (const qsizetype nul = name.indexOf('\0'); nul >= 0) name = name.first(nul);
        stat.name = name.isEmpty() ? QStringLiteral("pid ") + QString::number(usage.pid)
                                   : QString::fromUtf8(name);
        stat.memory = usage.footprint;
        stat.startTime = usage.startTime;
        list.append(std::move(stat));
    }
    m_prevProc = std::move(cpuTimes);
    m_prevProcTime = now;
    return list;
}
