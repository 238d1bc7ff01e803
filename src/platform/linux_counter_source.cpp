#include "platform/linux_counter_source.h"

#include "platform/linux_proc_text.h"
#include "platform/path_codec.h"
#include "platform/unique_fd.h"

#include <QVariantMap>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

using namespace ProcText;

namespace {

// How /proc/meminfo maps onto the page counts of the memory figures:
//   internal   = Active(anon) + Inactive(anon): anonymous and shared-memory pages, the ones
//                that have to be swapped or compressed before their memory can be reused;
//   purgeable  = 0: Linux keeps no system-wide count of anonymous pages that a program marked
//                as droppable (MADV_FREE), so nothing is taken off application memory;
//   wired      = Unevictable + SUnreclaim + KernelStack + PageTables: pages that can be neither
//                reclaimed nor swapped (mlocked and ramfs pages, the kernel's own allocations);
//   compressor = Zswap: the pool that zswap compresses swapped-out pages into, 0 without zswap;
//   external   = Active(file) + Inactive(file): file pages of the page cache.
// The four LRU lists and the unevictable list are disjoint, so no page is counted twice.
// The first four keys are required; a missing optional key counts as 0.
struct MemInfo
{
    std::optional<quint64> total, activeAnon, inactiveAnon, activeFile, inactiveFile;
    std::optional<quint64> swapTotal, swapFree;
    quint64 unevictable = 0, slabUnreclaimable = 0, kernelStack = 0, pageTables = 0, zswap = 0;
};

MemInfo parseMemInfo(QByteArrayView text)
{
    MemInfo info;
    forEachLine(text, [&](QByteArrayView line) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) return;
        const QByteArrayView key = line.first(colon);
        const char* p = line.data() + colon + 1;
        const char* end = line.data() + line.size();
        skipBlanks(p, end);
        quint64 value = 0;
        if (!parseNumber(p, end, value)) return;
        skipBlanks(p, end);
        if (QByteArrayView(p, end - p).startsWith("kB")) value *= 1024;
        if (key == "MemTotal")
            info.total = value;
        else if (key == "Active(anon)")
            info.activeAnon = value;
        else if (key == "Inactive(anon)")
            info.inactiveAnon = value;
        else if (key == "Active(file)")
            info.activeFile = value;
        else if (key == "Inactive(file)")
            info.inactiveFile = value;
        else if (key == "SwapTotal")
            info.swapTotal = value;
        else if (key == "SwapFree")
            info.swapFree = value;
        else if (key == "Unevictable")
            info.unevictable = value;
        else if (key == "SUnreclaim")
            info.slabUnreclaimable = value;
        else if (key == "KernelStack")
            info.kernelStack = value;
        else if (key == "PageTables")
            info.pageTables = value;
        else if (key == "Zswap")
            info.zswap = value;
    });
    return info;
}

// Memory pressure from the kernel's pressure-stall information (/proc/pressure/memory), whose
// avg10 figures are the percentage of the last ten seconds in which tasks waited for memory:
// "some" = at least one task waited, "full" = every runnable task waited at once.
//   critical (4): full avg10 >= 10 %, the whole system lost a tenth of its time to reclaim;
//   warning  (2): some avg10 >= 10 %, reclaim is slowing programs down noticeably;
//   normal   (1): below both.
constexpr double kCriticalFullShare = 10.0;
constexpr double kWarningSomeShare = 10.0;

std::optional<qint32> parsePressure(QByteArrayView text)
{
    std::optional<double> some;
    double full = 0;
    forEachLine(text, [&](QByteArrayView line) {
        const bool isSome = line.startsWith("some ");
        if (!isSome && !line.startsWith("full ")) return;
        const qsizetype at = line.indexOf("avg10=");
        if (at < 0) return;
        const char* p = line.data() + at + 6;
        double value = 0;
        if (!parseDouble(p, line.data() + line.size(), value)) return;
        if (isSome)
            some = value;
        else
            full = value;
    });
    if (!some) return std::nullopt;
    if (full >= kCriticalFullShare) return 4;
    if (*some >= kWarningSomeShare) return 2;
    return 1;
}

std::optional<QList<ProcessorTicks>> parseCpuTicks(QByteArrayView text)
{
    QList<ProcessorTicks> cpus;
    bool malformed = false;
    forEachLine(text, [&](QByteArrayView line) {
        if (malformed || line.size() < 4 || !line.startsWith("cpu") || !isDigit(line[3])) return;
        const char* p = line.data() + 3;
        const char* end = line.data() + line.size();
        while (p < end && isDigit(*p))
            ++p;
        // user nice system idle iowait irq softirq steal; kernels before 2.6 stop after idle.
        quint64 v[8] = {};
        int count = 0;
        while (count < 8) {
            skipBlanks(p, end);
            if (p == end || !parseNumber(p, end, v[count])) break;
            ++count;
        }
        if (count < 4) {
            malformed = true;
            return;
        }
        // Truncated to 32 bits like the counters the wrapping arithmetic expects.
        cpus.append({quint32(v[0]), quint32(v[2] + v[5] + v[6] + v[7]), quint32(v[3] + v[4]),
                     quint32(v[1])});
    });
    if (malformed || cpus.isEmpty()) return std::nullopt;
    return cpus;
}

// Interface names cannot hold "/" (the kernel refuses them), but a copy of /proc/net/dev
// could; such a name must not lead the flags lookup elsewhere.
bool isSafeName(QByteArrayView name)
{
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/');
}

struct StatFields
{
    qsizetype nameBegin = 0;
    qsizetype nameLength = 0;
    quint64 userTicks = 0;
    quint64 systemTicks = 0;
    quint64 startTime = 0;
};

// The name between the parentheses is chosen by the process and may hold ")", spaces and line
// breaks, so the numeric fields are counted from the LAST ")".
std::optional<StatFields> parseProcessStat(const char* data, qsizetype size)
{
    const char* open = static_cast<const char*>(memchr(data, '(', size_t(size)));
    const char* close = static_cast<const char*>(memrchr(data, ')', size_t(size)));
    if (!open || !close || close < open) return std::nullopt;
    StatFields fields;
    fields.nameBegin = open + 1 - data;
    fields.nameLength = close - open - 1;
    const char* p = close + 1;
    const char* end = data + size;
    for (int field = 3; field <= 22; ++field) {
        while (p < end && *p == ' ')
            ++p;
        if (p == end || *p == '\n') return std::nullopt;
        quint64* target = field == 14   ? &fields.userTicks
                          : field == 15 ? &fields.systemTicks
                          : field == 22 ? &fields.startTime
                                        : nullptr;
        if (target) {
            if (!parseNumber(p, end, *target)) return std::nullopt;
        } else {
            while (p < end && *p != ' ' && *p != '\n')
                ++p;
        }
    }
    return fields;
}

// statm: size resident shared ..., in pages. Memory of the process alone = resident - shared.
std::optional<quint64> parseStatmPrivatePages(const char* data, qsizetype size)
{
    const char* p = data;
    const char* end = data + size;
    quint64 v[3] = {};
    for (quint64& value : v) {
        skipBlanks(p, end);
        if (!parseNumber(p, end, value)) return std::nullopt;
    }
    return v[1] > v[2] ? v[1] - v[2] : 0;
}

QByteArrayView baseName(QByteArrayView path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? path : path.sliced(slash + 1);
}

// The kernel cuts a task's name to 15 bytes; the command line usually holds it whole.
QByteArray widenedName(int procFd, pid_t pid, const QByteArray& comm)
{
    constexpr qsizetype kCommLimit = 15;
    constexpr qsizetype kNameLimit = 255;
    if (comm.size() != kCommLimit) return comm;
    char path[32];
    std::snprintf(path, sizeof path, "%d/cmdline", int(pid));
    const std::optional<QByteArray> cmdline = readSmallFile(procFd, path, 4096);
    if (!cmdline || cmdline->isEmpty()) return comm;
    QByteArrayView argv0(*cmdline);
    if (const qsizetype nul = argv0.indexOf('\0'); nul >= 0) argv0 = argv0.first(nul);
    QByteArrayView beforeBlank = argv0;
    if (const qsizetype blank = argv0.indexOf(' '); blank >= 0) beforeBlank = argv0.first(blank);
    for (const QByteArrayView candidate : {baseName(argv0), baseName(beforeBlank)}) {
        if (candidate.size() > kCommLimit && candidate.startsWith(comm))
            return candidate.first(std::min(candidate.size(), kNameLimit)).toByteArray();
    }
    return comm;
}

// The real user of a process, from its status file. Not the owner of its /proc folder: that is
// root for every process that made itself undumpable (agents, sandboxes, anything that changed
// its user), our own ones included.
std::optional<uid_t> realOwner(int procFd, pid_t pid)
{
    char path[32];
    std::snprintf(path, sizeof path, "%d/status", int(pid));
    const std::optional<QByteArray> status = readSmallFile(procFd, path, 64 * 1024);
    if (!status) return std::nullopt;
    std::optional<uid_t> owner;
    forEachLine(*status, [&](QByteArrayView line) {
        if (owner || !line.startsWith("Uid:")) return;
        const char* p = line.data() + 4;
        const char* end = line.data() + line.size();
        skipBlanks(p, end);
        quint64 value = 0;
        if (parseNumber(p, end, value)) owner = uid_t(value);
    });
    return owner;
}

struct UeventMap
{
    QByteArray name;
    std::optional<QVariantMap> keys; // POWER_SUPPLY_ prefix dropped; absent when unreadable
};

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

// Minutes left while discharging: the driver's own estimate, else energy over power (or
// charge over current); -1 while it cannot be estimated, 0 when not discharging.
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

// One supply of /sys/class/power_supply as the description map that the sampler reads.
QVariantMap describeSupply(const QVariantMap& keys, std::optional<bool> mainsOnline)
{
    QVariantMap description;
    const QByteArray type = textOf(keys, "TYPE");
    const bool internalBattery = type == "Battery" && textOf(keys, "SCOPE") != "Device";
    description.insert(QStringLiteral("Type"), internalBattery ? QStringLiteral("InternalBattery")
                                                               : QString::fromUtf8(type));
    if (!internalBattery) return description;
    if (number(keys, "PRESENT") == 0) return description;
    // The kernel's own percentage first: it is what every desktop shows.
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
    const QByteArray status = textOf(keys, "STATUS");
    description.insert(QStringLiteral("Is Charging"), status == "Charging");
    // Without a mains supply to ask, a battery that is not discharging is taken to be on mains.
    const bool onAC = mainsOnline.value_or(!status.isEmpty() && status != "Discharging");
    description.insert(QStringLiteral("Power Source State"),
                       onAC ? QStringLiteral("AC Power") : QStringLiteral("Battery Power"));
    description.insert(QStringLiteral("Time to Empty"), qlonglong(minutesToEmpty(keys)));
    return description;
}

std::optional<QVariantMap> parseUevent(QByteArrayView text)
{
    QVariantMap keys;
    forEachLine(text, [&](QByteArrayView line) {
        if (!line.startsWith("POWER_SUPPLY_")) return;
        const qsizetype equals = line.indexOf('=');
        if (equals < 0) return;
        keys.insert(QString::fromLatin1(line.sliced(13, equals - 13)),
                    line.sliced(equals + 1).toByteArray());
    });
    if (keys.isEmpty()) return std::nullopt;
    return keys;
}

std::optional<std::vector<QByteArray>> listDirectory(int dirFd, const char* path)
{
    const int fd = openat(dirFd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return std::nullopt;
    }
    std::vector<QByteArray> names;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

struct ProcEntry
{
    UniqueFd stat; // kept open between samples when the descriptor budget allows
    UniqueFd statm;
    QByteArray comm; // name as the stat line gave it last
    QByteArray name; // comm, widened from the command line
    bool named = false;
    bool foreign = false; // another user's process: listed by the system, never read
    quint64 pass = 0;
};

} // namespace

struct LinuxCounterSource::Private
{
    UniqueFd rootFd;
    std::optional<MemInfo> memInfo; // of the current sample, read on first use
    bool memInfoRead = false;

    std::unordered_map<pid_t, ProcEntry> procs;
    std::vector<pid_t> pids;
    quint64 pass = 0;
    int kept = 0;
    size_t budget = 0;
    bool checkOwner = geteuid() != 0; // root lists everyone's processes
    uid_t uid = getuid();

    const std::optional<MemInfo>& meminfo()
    {
        if (!memInfoRead) {
            memInfoRead = true;
            const auto text = readSmallFile(rootFd.get(), "proc/meminfo");
            memInfo = text ? std::optional<MemInfo>(parseMemInfo(*text)) : std::nullopt;
        }
        return memInfo;
    }

    void forget(ProcEntry& entry)
    {
        if (entry.stat) kept -= 2;
        entry.stat.reset();
        entry.statm.reset();
        entry.named = false;
    }

    // Half the soft descriptor limit goes to kept descriptors, the rest stays for the program.
    // When the processes need more, the soft limit is raised towards the hard one; what still
    // does not fit is opened afresh each sample.
    void fitBudget(size_t processCount)
    {
        rlimit limit{};
        if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
        const rlim_t needed = rlim_t(processCount) * 2;
        if (needed > limit.rlim_cur / 2 && limit.rlim_cur < limit.rlim_max) {
            rlimit raised = limit;
            raised.rlim_cur = std::min(limit.rlim_max, needed * 4 + 1024);
            if (raised.rlim_cur > limit.rlim_cur && setrlimit(RLIMIT_NOFILE, &raised) == 0)
                limit = raised;
        }
        budget = size_t(limit.rlim_cur / 2);
    }

    std::optional<ProcessUsage> readProcess(int procFd, pid_t pid);
};

std::optional<ProcessUsage> LinuxCounterSource::Private::readProcess(int procFd, pid_t pid)
{
    ProcEntry& entry = procs[pid];
    entry.pass = pass;
    if (entry.foreign) return std::nullopt;

    char stat[1024];
    ssize_t statSize = -1;
    if (entry.stat) {
        statSize = pread(entry.stat.get(), stat, sizeof stat, 0);
        // A kept descriptor of a process that ended fails with ESRCH, even when its PID has
        // been given to a newcomer meanwhile: start afresh with that one.
        if (statSize <= 0) forget(entry);
    }
    UniqueFd statFd;
    if (!entry.stat) {
        if (checkOwner && realOwner(procFd, pid) != uid) {
            entry.foreign = true;
            return std::nullopt;
        }
        char path[32];
        std::snprintf(path, sizeof path, "%d/stat", int(pid));
        statFd.reset(openat(procFd, path, O_RDONLY | O_CLOEXEC));
        if (!statFd) return std::nullopt;
        statSize = pread(statFd.get(), stat, sizeof stat, 0);
        if (statSize <= 0) return std::nullopt;
    }
    const std::optional<StatFields> fields = parseProcessStat(stat, statSize);
    if (!fields) return std::nullopt;

    char statm[256];
    ssize_t statmSize = -1;
    UniqueFd statmFd;
    if (entry.statm) {
        statmSize = pread(entry.statm.get(), statm, sizeof statm, 0);
    } else {
        char path[32];
        std::snprintf(path, sizeof path, "%d/statm", int(pid));
        statmFd.reset(openat(procFd, path, O_RDONLY | O_CLOEXEC));
        if (statmFd) statmSize = pread(statmFd.get(), statm, sizeof statm, 0);
    }
    const std::optional<quint64> privatePages =
        statmSize > 0 ? parseStatmPrivatePages(statm, statmSize) : std::nullopt;
    if (!privatePages) return std::nullopt;

    if (!entry.stat && size_t(kept) + 2 <= budget) {
        entry.stat = std::move(statFd);
        entry.statm = std::move(statmFd);
        kept += 2;
    }

    const QByteArrayView comm(stat + fields->nameBegin, fields->nameLength);
    if (!entry.named || entry.comm != comm) {
        entry.comm = comm.toByteArray();
        entry.name = widenedName(procFd, pid, entry.comm);
        entry.named = true;
    }

    static const quint64 pageBytes = quint64(sysconf(_SC_PAGESIZE));
    ProcessUsage usage;
    usage.pid = pid;
    usage.userTime = fields->userTicks;
    usage.systemTime = fields->systemTicks;
    usage.footprint = *privatePages * pageBytes;
    usage.name = entry.name;
    usage.startTime = fields->startTime;
    return usage;
}

LinuxCounterSource::LinuxCounterSource(const QString& root) : d(std::make_unique<Private>())
{
    d->rootFd.reset(open(PathCodec::encode(root).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    d->fitBudget(0);
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
    return {1'000'000'000u, ticksPerSecond > 0 ? quint32(ticksPerSecond) : 100u};
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
    if (!info || !info->activeAnon || !info->inactiveAnon || !info->activeFile ||
        !info->inactiveFile)
        return std::nullopt;
    const quint64 page = pageSize();
    VmPageCounts counts;
    counts.internal = (*info->activeAnon + *info->inactiveAnon) / page;
    counts.purgeable = 0;
    counts.wired =
        (info->unevictable + info->slabUnreclaimable + info->kernelStack + info->pageTables) / page;
    counts.compressor = info->zswap / page;
    counts.external = (*info->activeFile + *info->inactiveFile) / page;
    return counts;
}

quint64 LinuxCounterSource::pageSize()
{
    static const quint64 size = quint64(sysconf(_SC_PAGESIZE));
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
        const qsizetype colon = line.indexOf(':');
        if (colon < 0) return;
        const QByteArrayView name = line.first(colon).trimmed();
        if (!isSafeName(name)) return;
        // rx: bytes packets errs drop fifo frame compressed multicast; tx: bytes ...
        const char* p = line.data() + colon + 1;
        const char* end = line.data() + line.size();
        quint64 v[9] = {};
        for (quint64& value : v) {
            skipBlanks(p, end);
            if (!parseNumber(p, end, value)) return;
        }
        InterfaceCounters counters{name.toByteArray(), false, v[0], v[8]};
        const QByteArray flagsPath = "sys/class/net/" + counters.name + "/flags";
        const auto flags = readSmallFile(d->rootFd.get(), flagsPath.constData(), 64);
        bool ok = false;
        const qulonglong bits = flags ? flags->trimmed().toULongLong(&ok, 0) : 0;
        constexpr qulonglong kLoopbackFlag = 0x8; // IFF_LOOPBACK
        // Without the flags, only the name can tell.
        counters.loopback = ok ? (bits & kLoopbackFlag) != 0 : counters.name == "lo";
        list.append(counters);
    });
    return list;
}

std::optional<QList<QVariant>> LinuxCounterSource::powerSources()
{
    const auto names = listDirectory(d->rootFd.get(), "sys/class/power_supply");
    if (!names) return std::nullopt;
    std::vector<UeventMap> supplies;
    std::optional<bool> mainsOnline;
    for (const QByteArray& name : *names) {
        const QByteArray path = "sys/class/power_supply/" + name + "/uevent";
        const auto text = readSmallFile(d->rootFd.get(), path.constData(), 64 * 1024);
        UeventMap supply{name, text ? parseUevent(*text) : std::nullopt};
        if (supply.keys && textOf(*supply.keys, "TYPE") != "Battery") {
            if (const auto online = number(*supply.keys, "ONLINE"))
                mainsOnline = mainsOnline.value_or(false) || *online == 1;
        }
        supplies.push_back(std::move(supply));
    }
    QList<QVariant> list;
    for (const UeventMap& supply : supplies)
        list.append(supply.keys ? QVariant(describeSupply(*supply.keys, mainsOnline)) : QVariant());
    return list;
}

std::optional<std::array<double, 3>> LinuxCounterSource::loadAverage()
{
    const auto text = readSmallFile(d->rootFd.get(), "proc/loadavg", 256);
    if (!text) return std::nullopt;
    const char* p = text->constData();
    const char* end = p + text->size();
    std::array<double, 3> load{};
    for (double& value : load) {
        skipBlanks(p, end);
        if (!parseDouble(p, end, value)) return std::nullopt;
    }
    return load;
}

std::optional<QList<ProcessUsage>> LinuxCounterSource::processes()
{
    const int procFd = openat(d->rootFd.get(), "proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (procFd < 0) return std::nullopt;
    DIR* dir = fdopendir(procFd);
    if (!dir) {
        close(procFd);
        return std::nullopt;
    }
    d->pids.clear();
    while (const dirent* entry = readdir(dir)) {
        const char* p = entry->d_name;
        const char* end = p + strlen(p);
        quint64 pid = 0;
        if (p != end && *p != '0' && parseNumber(p, end, pid) && p == end && pid <= INT_MAX)
            d->pids.push_back(pid_t(pid));
    }
    if (d->pids.empty()) {
        closedir(dir);
        return std::nullopt;
    }
    if (d->pids.size() * 2 > d->budget) d->fitBudget(d->pids.size());

    ++d->pass;
    QList<ProcessUsage> list;
    list.reserve(qsizetype(d->pids.size()));
    for (const pid_t pid : d->pids) {
        if (auto usage = d->readProcess(procFd, pid)) list.append(std::move(*usage));
    }
    closedir(dir);

    for (auto it = d->procs.begin(); it != d->procs.end();) {
        if (it->second.pass == d->pass) {
            ++it;
            continue;
        }
        d->forget(it->second);
        it = d->procs.erase(it);
    }
    return list;
}

quint64 LinuxCounterSource::monotonicNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return quint64(now.tv_sec) * 1'000'000'000u + quint64(now.tv_nsec);
}

int LinuxCounterSource::keptDescriptors() const
{
    return d->kept;
}
