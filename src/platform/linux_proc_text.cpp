#include "platform/linux_proc_text.h"

#include "platform/unique_fd.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace ProcText {

std::optional<QByteArray> readSmallFile(int dirFd, const char* path, qsizetype cap)
{
    const UniqueFd fd(openat(dirFd, path, O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd) return std::nullopt;
    QByteArray data;
    char chunk[4096];
    while (data.size() < cap) {
        const ssize_t n = read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        data.append(chunk, std::min<qsizetype>(n, cap - data.size()));
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

} // namespace ProcText
