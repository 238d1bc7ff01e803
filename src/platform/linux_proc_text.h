#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

/// Small, allocation-free helpers for the text files of /proc and /sys.
namespace ProcText {

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

} // namespace ProcText
