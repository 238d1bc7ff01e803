#include "platform/linux/linux_counter_source.h"

#include "platform/linux/power_supply_p.h"
#include "platform/linux/proc_text_p.h"
#include "platform/linux/process_table_p.h"
#include "platform/path_codec.h"
#include "platform/unique_fd.h"

#include <ctime>
#include <fcntl.h>
#include <unistd.h>

using namespace ProcText;

struct LinuxCounterSource::Private
{
    UniqueFd rootFd;
    std::optional<MemInfo> memInfo; // of the current sample, read on first use
    bool memInfoRead = false;
    ProcessTable processes;

    const std::optional<MemInfo>& meminfo()
    {
        if (!memInfoRead) {
            memInfoRead = true;
            const auto text = readSmallFile(rootFd.get(), "proc/meminfo");
            memInfo = text ? std::optional<MemInfo>(parseMemInfo(*text)) : std::nullopt;
        }
        return memInfo;
    }
};

LinuxCounterSource::LinuxCounterSource(const QString& root) : d(std::make_unique<Private>())
{
    d->rootFd.reset(open(PathCodec::encode(root).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

LinuxCounterSource::~LinuxCounterSource() = default;

void LinuxCounterSource::beginSample()
{
    d->memInfoRead = false;
    d->memInfo.reset();
}

TimeBase LinuxCounterSource::timeBase()
{
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    return {1'000'000'000U, ticksPerSecond > 0 ? quint32(ticksPerSecond) : 100U};
}

std::optional<QList<ProcessorTicks>> LinuxCounterSource::processorTicks()
{
    const auto text = readSmallFile(d->rootFd.get(), "proc/stat");
    return text ? parseCpuTicks(*text) : std::nullopt;
}

quint64 LinuxCounterSource::physicalMemory()
{
    const auto& info = d->meminfo();
    return info ? info->total.value_or(0) : 0;
}

std::optional<VmPageCounts> LinuxCounterSource::vmPageCounts()
{
    const auto& info = d->meminfo();
    return info ? pageCounts(*info, pageSize()) : std::nullopt;
}

quint64 LinuxCounterSource::pageSize()
{
    static const auto size = quint64(sysconf(_SC_PAGESIZE));
    return size;
}

std::optional<SwapUsage> LinuxCounterSource::swapUsage()
{
    const auto& info = d->meminfo();
    if (!info || !info->swapTotal || !info->swapFree) return std::nullopt;
    const quint64 total = *info->swapTotal;
    return SwapUsage{total, total > *info->swapFree ? total - *info->swapFree : 0};
}

std::optional<qint32> LinuxCounterSource::pressureLevel()
{
    const auto text = readSmallFile(d->rootFd.get(), "proc/pressure/memory");
    return text ? parsePressure(*text) : std::nullopt;
}

std::optional<QList<InterfaceCounters>> LinuxCounterSource::interfaces()
{
    const auto text = readSmallFile(d->rootFd.get(), "proc/net/dev");
    if (!text) return std::nullopt;
    QList<InterfaceCounters> list;
    forEachLine(*text, [&](QByteArrayView line) {
        std::optional<InterfaceCounters> counters = parseNetDevLine(line);
        if (!counters) return;
        const QByteArray flagsPath = "sys/class/net/" + counters->name + "/flags";
        const auto flags = readSmallFile(d->rootFd.get(), flagsPath.constData(), 64);
        bool ok = false;
        const qulonglong bits = flags ? flags->trimmed().toULongLong(&ok, 0) : 0;
        constexpr qulonglong kLoopbackFlag = 0x8; // IFF_LOOPBACK
        // Without the flags, only the name can tell.
        counters->loopback = ok ? (bits & kLoopbackFlag) != 0 : counters->name == "lo";
        list.append(*counters);
    });
    return list;
}

std::optional<QList<QVariant>> LinuxCounterSource::powerSources()
{
    return PowerSupply::readAll(d->rootFd.get());
}

std::optional<std::array<double, 3>> LinuxCounterSource::loadAverage()
{
    const auto text = readSmallFile(d->rootFd.get(), "proc/loadavg", 256);
    return text ? parseLoadAverage(*text) : std::nullopt;
}

std::optional<QList<ProcessUsage>> LinuxCounterSource::processes()
{
    return d->processes.read(d->rootFd.get());
}

quint64 LinuxCounterSource::monotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return quint64(now.tv_sec) * 1'000'000'000U + quint64(now.tv_nsec);
}

int LinuxCounterSource::keptDescriptors() const
{
    return d->processes.keptDescriptors();
}

std::unique_ptr<CounterSource> makeSystemCounterSource()
{
    return std::make_unique<LinuxCounterSource>();
}
