#include "platform/linux/bounded_file.h"

#include "platform/path_codec.h"
#include "platform/unique_fd.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace BoundedFile {
namespace {

// O_NONBLOCK: opening a FIFO planted where a file was expected must not wait for a writer.
UniqueFd openRegularAt(int dirFd, const char* name, Links links, struct stat* info)
{
    int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    if (links == Links::Refuse) flags |= O_NOFOLLOW;
    UniqueFd fd(::openat(dirFd, name, flags));
    if (!fd || ::fstat(fd.get(), info) != 0 || !S_ISREG(info->st_mode)) return UniqueFd();
    return fd;
}

UniqueFd openRegular(const QString& path, Links links, struct stat* info)
{
    return openRegularAt(AT_FDCWD, PathCodec::encode(path).constData(), links, info);
}

std::optional<QByteArray> readUpTo(int fd, qint64 count)
{
    QByteArray data(count, Qt::Uninitialized);
    qint64 done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, data.data() + done, size_t(count - done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        done += n;
    }
    data.truncate(done);
    return data;
}

std::optional<QByteArray> readWhole(const UniqueFd& fd, const struct stat& info, qint64 maxBytes)
{
    if (!fd || info.st_size > maxBytes) return std::nullopt;
    // One byte more than the bound shows a file that grew after fstat.
    std::optional<QByteArray> data = readUpTo(fd.get(), maxBytes + 1);
    if (!data || data->size() > maxBytes) return std::nullopt;
    return data;
}

} // namespace

std::optional<QByteArray> read(const QString& path, qint64 maxBytes, Links links)
{
    struct stat info
    {
    };
    const UniqueFd fd = openRegular(path, links, &info);
    return readWhole(fd, info, maxBytes);
}

std::optional<QByteArray> readAt(int dirFd, const char* name, qint64 maxBytes)
{
    struct stat info
    {
    };
    const UniqueFd fd = openRegularAt(dirFd, name, Links::Refuse, &info);
    return readWhole(fd, info, maxBytes);
}

std::optional<QByteArray> head(const QString& path, qint64 count)
{
    struct stat info
    {
    };
    const UniqueFd fd = openRegular(path, Links::Refuse, &info);
    if (!fd) return std::nullopt;
    return readUpTo(fd.get(), count);
}

} // namespace BoundedFile
