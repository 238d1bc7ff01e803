#pragma once

// Readers and parsers of the text files of /proc and /sys. Internal to the platform library.
// Every parser takes hostile text: bounded work, no crash on any byte sequence, nullopt (or a
// zero) for what it cannot make sense of.

#include "platform/counter_source.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <array>
#include <optional>
#include <sys/types.h>

namespace ProcText {

/// Cap of a text file that is read whole (a status, a uevent, an os-release): far above what
/// the kernel writes, low enough that a hostile copy cannot exhaust memory.
constexpr qsizetype kTextCap = qsizetype{64} * 1024;

/// Reads a whole file relative to `dirFd`, at most `cap` bytes. Absent when it cannot be
/// opened or read.
std::optional<QByteArray> readSmallFile(int dirFd, const char* path, qsizetype cap = 1 << 20);

inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

inline void skipBlanks(const char*& p, const char* end)
{
    while (p < end && (*p == ' ' || *p == '\t'))
        ++p;
}

/// Parses an unsigned decimal number at `p` and moves past it. False (and `p` unchanged) when
/// there is none or it does not fit in 64 bits.
bool parseNumber(const char*& p, const char* end, quint64& value);

/// Same for a decimal fraction such as "0.59".
bool parseDouble(const char*& p, const char* end, double& value);

/// Calls `f(line)` for every line of `text`, without its line break.
template <typename F> void forEachLine(QByteArrayView text, F&& f)
{
    while (!text.isEmpty()) {
        const qsizetype end = text.indexOf('\n');
        const qsizetype length = end < 0 ? text.size() : end;
        f(text.first(length));
        text = text.sliced(end < 0 ? text.size() : end + 1);
    }
}

/// The figures of /proc/meminfo that the memory readings use, in bytes.
struct MemInfo
{
    std::optional<quint64> total, activeAnon, inactiveAnon, activeFile, inactiveFile;
    std::optional<quint64> swapTotal, swapFree;
    quint64 unevictable = 0, slabUnreclaimable = 0, kernelStack = 0, pageTables = 0, zswap = 0;
};
MemInfo parseMemInfo(QByteArrayView text);

/// /proc/meminfo's figures as page counts of `pageSize` bytes; nullopt without the four LRU
/// lists.
std::optional<VmPageCounts> pageCounts(const MemInfo& info, quint64 pageSize);

/// The memory pressure level (1 normal, 2 warning, 4 critical) of /proc/pressure/memory.
std::optional<qint32> parsePressure(QByteArrayView text);

/// The per-processor lines of /proc/stat; nullopt when one is malformed or there is none.
std::optional<QList<ProcessorTicks>> parseCpuTicks(QByteArrayView text);

/// The three load averages of /proc/loadavg.
std::optional<std::array<double, 3>> parseLoadAverage(QByteArrayView text);

/// One interface line of /proc/net/dev ("name: rx-bytes ... tx-bytes ..."); nullopt for a
/// header line, a malformed one, or a name that could lead a lookup elsewhere ("..", "/").
std::optional<InterfaceCounters> parseNetDevLine(QByteArrayView line);

/// The fields of /proc/PID/stat that the readings use.
struct StatFields
{
    qsizetype nameBegin = 0; ///< offset of the name (comm) in the text
    qsizetype nameLength = 0;
    quint64 userTicks = 0;   ///< field 14
    quint64 systemTicks = 0; ///< field 15
    quint64 startTime = 0;   ///< field 22, clock ticks after boot
};
std::optional<StatFields> parseProcessStat(QByteArrayView text);

/// Pages the process alone holds (resident − shared) from /proc/PID/statm.
std::optional<quint64> parseStatmPrivatePages(QByteArrayView text);

/// The real user id of the "Uid:" line of /proc/PID/status.
std::optional<uid_t> parseRealUid(QByteArrayView status);

} // namespace ProcText
