#include "platform/linux/proc_text_p.h"
#include "platform/unique_fd.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace ProcText {
namespace {

// Memory pressure from the kernel's pressure-stall information, whose avg10 figures are the
// percentage of the last ten seconds in which tasks waited for memory: "some" = at least one
// task waited, "full" = every runnable task waited at once.
//   critical (4): full avg10 >= 10 %, the whole system lost a tenth of its time to reclaim;
//   warning  (2): some avg10 >= 10 %, reclaim is slowing programs down noticeably;
//   normal   (1): below both.
constexpr double kCriticalFullShare = 10.0;
constexpr double kWarningSomeShare = 10.0;

void storeMemInfoValue(MemInfo& info, QByteArrayView key, quint64 value)
{
    struct Field
    {
        const char* key;
        std::optional<quint64> MemInfo::*required;
        quint64 MemInfo::*optional;
    };
    static constexpr Field kFields[] = {
        {"MemTotal", &MemInfo::total, nullptr},
        {"Active(anon)", &MemInfo::activeAnon, nullptr},
        {"Inactive(anon)", &MemInfo::inactiveAnon, nullptr},
        {"Active(file)", &MemInfo::activeFile, nullptr},
        {"Inactive(file)", &MemInfo::inactiveFile, nullptr},
        {"SwapTotal", &MemInfo::swapTotal, nullptr},
        {"SwapFree", &MemInfo::swapFree, nullptr},
        {"Unevictable", nullptr, &MemInfo::unevictable},
        {"SUnreclaim", nullptr, &MemInfo::slabUnreclaimable},
        {"KernelStack", nullptr, &MemInfo::kernelStack},
        {"PageTables", nullptr, &MemInfo::pageTables},
        {"Zswap", nullptr, &MemInfo::zswap},
    };
    for (const Field& field : kFields) {
        if (key != field.key) continue;
        if (field.required != nullptr)
            info.*field.required = value;
        else
            info.*field.optional = value;
        return;
    }
}

} // namespace

std::optional<QByteArray> readSmallFile(int dirFd, const char* path, qsizetype cap)
{
    const UniqueFd fd(openat(dirFd, path, O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd) return std::nullopt;
    QByteArray data;
    std::array<char, 4096> chunk{};
    while (data.size() < cap) {
        const ssize_t n = read(fd.get(), chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        data.append(chunk.data(), std::min<qsizetype>(n, cap - data.size()));
    }
    return data;
}

bool parseNumber(const char*& p, const char* end, quint64& value)
{
    const auto [next, error] = std::from_chars(p, end, value);
    if (error != std::errc()) return false;
    p = next;
    return true;
}

bool parseDouble(const char*& p, const char* end, double& value)
{
    const auto [next, error] = std::from_chars(p, end, value, std::chars_format::fixed);
    if (error != std::errc() || !std::isfinite(value)) return false;
    p = next;
    return true;
}

MemInfo parseMemInfo(QByteArrayView text)
{
    MemInfo info;
    forEachLine(text, [&](QByteArrayView line) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) return;
        const char* p = line.data() + colon + 1;
        const char* end = line.data() + line.size();
        skipBlanks(p, end);
        quint64 value = 0;
        if (!parseNumber(p, end, value)) return;
        skipBlanks(p, end);
        if (QByteArrayView(p, end - p).startsWith("kB")) value *= 1024;
        storeMemInfoValue(info, line.first(colon), value);
    });
    return info;
}

// How /proc/meminfo maps onto the page counts of the memory figures:
//   internal   = Active(anon) + Inactive(anon): anonymous and shared-memory pages, the ones
//                that have to be swapped or compressed before their memory can be reused;
//   purgeable  = 0: Linux keeps no system-wide count of anonymous pages that a program marked
//                as droppable (MADV_FREE), so nothing is taken off application memory;
//   wired      = Unevictable + SUnreclaim + KernelStack + PageTables: pages that can be neither
//                reclaimed nor swapped (mlocked and ramfs pages, the kernel's own allocations);
//   compressor = Zswap: the pool that zswap compresses swapped-out pages into, 0 without zswap;
//   external   = Active(file) + Inactive(file): file pages of the page cache.
// The four LRU lists and the unevictable list are disjoint, so no page is counted twice. The
// four lists are required; a missing optional key counts as 0.
std::optional<VmPageCounts> pageCounts(const MemInfo& info, quint64 pageSize)
{
    if (!info.activeAnon || !info.inactiveAnon || !info.activeFile || !info.inactiveFile ||
        pageSize == 0)
        return std::nullopt;
    VmPageCounts counts;
    counts.internal = (*info.activeAnon + *info.inactiveAnon) / pageSize;
    counts.purgeable = 0;
    counts.wired =
        (info.unevictable + info.slabUnreclaimable + info.kernelStack + info.pageTables) / pageSize;
    counts.compressor = info.zswap / pageSize;
    counts.external = (*info.activeFile + *info.inactiveFile) / pageSize;
    return counts;
}

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
        std::array<quint64, 8> v{};
        size_t count = 0;
        while (count < v.size()) {
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

std::optional<std::array<double, 3>> parseLoadAverage(QByteArrayView text)
{
    const char* p = text.data();
    const char* end = p + text.size();
    std::array<double, 3> load{};
    for (double& value : load) {
        skipBlanks(p, end);
        if (!parseDouble(p, end, value)) return std::nullopt;
    }
    return load;
}

std::optional<InterfaceCounters> parseNetDevLine(QByteArrayView line)
{
    const qsizetype colon = line.indexOf(':');
    if (colon < 0) return std::nullopt;
    const QByteArrayView name = line.first(colon).trimmed();
    // Interface names cannot hold "/" (the kernel refuses them), but a copy of /proc/net/dev
    // could; such a name must not lead the flags lookup elsewhere.
    if (name.isEmpty() || name == "." || name == ".." || name.contains('/')) return std::nullopt;
    // rx: bytes packets errs drop fifo frame compressed multicast; tx: bytes ...
    const char* p = line.data() + colon + 1;
    const char* end = line.data() + line.size();
    std::array<quint64, 9> v{};
    for (quint64& value : v) {
        skipBlanks(p, end);
        if (!parseNumber(p, end, value)) return std::nullopt;
    }
    return InterfaceCounters{name.toByteArray(), false, v[0], v[8]};
}

// The name between the parentheses is chosen by the process and may hold ")", spaces and line
// breaks, so the numeric fields are counted from the LAST ")".
std::optional<StatFields> parseProcessStat(QByteArrayView text)
{
    const qsizetype open = text.indexOf('(');
    const qsizetype close = text.lastIndexOf(')');
    if (open < 0 || close < open) return std::nullopt;
    StatFields fields;
    fields.nameBegin = open + 1;
    fields.nameLength = close - open - 1;
    const char* p = text.data() + close + 1;
    const char* end = text.data() + text.size();
    for (int field = 3; field <= 22; ++field) {
        while (p < end && *p == ' ')
            ++p;
        if (p == end || *p == '\n') return std::nullopt;
        quint64* target = field == 14   ? &fields.userTicks
                          : field == 15 ? &fields.systemTicks
                          : field == 22 ? &fields.startTime
                                        : nullptr;
        if (target != nullptr) {
            if (!parseNumber(p, end, *target)) return std::nullopt;
        } else {
            while (p < end && *p != ' ' && *p != '\n')
                ++p;
        }
    }
    return fields;
}

// statm: size resident shared ..., in pages. Memory of the process alone = resident - shared.
std::optional<quint64> parseStatmPrivatePages(QByteArrayView text)
{
    const char* p = text.data();
    const char* end = p + text.size();
    std::array<quint64, 3> v{};
    for (quint64& value : v) {
        skipBlanks(p, end);
        if (!parseNumber(p, end, value)) return std::nullopt;
    }
    return v[1] > v[2] ? v[1] - v[2] : 0;
}

std::optional<uid_t> parseRealUid(QByteArrayView status)
{
    std::optional<uid_t> owner;
    forEachLine(status, [&](QByteArrayView line) {
        if (owner || !line.startsWith("Uid:")) return;
        const char* p = line.data() + 4;
        const char* end = line.data() + line.size();
        skipBlanks(p, end);
        quint64 value = 0;
        if (parseNumber(p, end, value)) owner = uid_t(value);
    });
    return owner;
}

} // namespace ProcText
