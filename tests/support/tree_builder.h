#pragma once

#include "platform/path_codec.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QString>
#include <fcntl.h>
#include <ftw.h>
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

/// Builds real file trees for tests and measures them independently of the code under test.
/// Paths go to the kernel through PathCodec, so names that are not UTF-8 work too.
namespace TreeBuilder {

inline bool makeDir(const QString& path)
{
    return QDir().mkpath(path);
}

/// Writes `size` bytes of real data (so blocks are allocated); the parent must exist.
inline bool writeFileRaw(const QByteArray& path, qint64 size)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    static const QByteArray chunk(65536, 'x');
    qint64 left = fd >= 0 ? size : -1;
    for (ssize_t n = 1; left > 0 && n > 0; left -= n)
        n = ::write(fd, chunk.constData(), size_t(std::min(left, qint64(chunk.size()))));
    if (fd >= 0) ::close(fd);
    return left == 0;
}

/// Same, creating the parent folders.
inline bool writeFile(const QString& path, qint64 size)
{
    makeDir(QFileInfo(path).path());
    return writeFileRaw(PathCodec::encode(path), size);
}

/// Gives a new file `bytes` allocated bytes without writing them where the file system allows
/// it (100 MiB files cost no time), creating the parent folders.
inline bool allocate(const QString& path, qint64 bytes)
{
    makeDir(QFileInfo(path).path());
    const int fd =
        ::open(PathCodec::encode(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool ok = fd >= 0 && ::posix_fallocate(fd, 0, off_t(bytes)) == 0;
    if (fd >= 0) ::close(fd);
    return ok || writeFile(path, bytes);
}

/// Writes `content` to `path` in place (an existing file keeps its inode, so descriptors kept
/// open on it see the new contents), creating the parent folders.
inline bool putFile(const QString& path, const QByteArray& content)
{
    makeDir(QFileInfo(path).path());
    const int fd =
        ::open(PathCodec::encode(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool ok = fd >= 0 && ::write(fd, content.constData(), size_t(content.size())) ==
                                   ssize_t(content.size());
    if (fd >= 0) ::close(fd);
    return ok;
}

/// A symbolic link at `link` pointing to `target`, creating the parent folders.
inline bool makeLink(const QString& target, const QString& link)
{
    makeDir(QFileInfo(link).path());
    return ::symlink(PathCodec::encode(target).constData(), PathCodec::encode(link).constData()) ==
           0;
}

inline bool setPermissions(const QString& path, mode_t mode)
{
    return ::chmod(PathCodec::encode(path).constData(), mode) == 0;
}

/// The permission bits (07777) of the path itself, or mode_t(-1).
inline mode_t permissionsOf(const QString& path)
{
    struct stat st;
    return ::lstat(PathCodec::encode(path).constData(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
}

/// st_blocks × 512 of one file, or -1.
inline qint64 blocksOf(const QString& path)
{
    struct stat st;
    return ::lstat(PathCodec::encode(path).constData(), &st) == 0 ? qint64(st.st_blocks) * 512 : -1;
}

/// For trees expensive to build on disk: /dev/shm when writable, else the temporary folder.
inline QString scratchPath()
{
    return ::access("/dev/shm", W_OK) == 0 ? QStringLiteral("/dev/shm") : QDir::tempPath();
}

/// Builds `depth` nested folders `name` at `top` through descriptors (so beyond PATH_MAX), with a
/// file "f" of `fileSize(level)` bytes where positive (level 0 is `top`). Returns the files'
/// st_blocks × 512 as fstat measured them, or -1.
inline qint64 buildChain(const QString& top, int depth, const char* name,
                         const std::function<qint64(int)>& fileSize = {})
{
    if (!makeDir(top)) return -1;
    int fd = ::open(PathCodec::encode(top).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    qint64 sum = 0;
    for (int level = 0; fd >= 0; ++level) {
        const qint64 size = fileSize ? fileSize(level) : 0;
        const int file = size > 0 ? ::openat(fd, "f", O_WRONLY | O_CREAT | O_CLOEXEC, 0644) : -2;
        struct stat st = {};
        const bool written =
            file == -2 || (::posix_fallocate(file, 0, off_t(size)) == 0 && ::fstat(file, &st) == 0);
        sum += qint64(st.st_blocks) * 512;
        if (file >= 0) ::close(file);
        const int next = level < depth && written && ::mkdirat(fd, name, 0755) == 0
                             ? ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                             : -1;
        ::close(fd);
        if (level == depth) return written ? sum : -1;
        fd = next;
    }
    return -1;
}

namespace detail {
// nftw takes no context pointer; its callback runs on the calling thread.
inline thread_local qint64 sum = 0;
inline thread_local int count = 0;
} // namespace detail

/// Sum of st_blocks × 512 over the regular files at or below `path`, links not followed.
inline qint64 expectedAllocated(const QString& path)
{
    detail::sum = 0;
    const auto add = [](const char*, const struct stat* st, int, struct FTW*) {
        if (S_ISREG(st->st_mode)) detail::sum += qint64(st->st_blocks) * 512;
        return 0;
    };
    nftw(PathCodec::encode(path).constData(), add, 64, FTW_PHYS);
    return detail::sum;
}

/// Number of entries at or below `path` (links not followed).
inline int countEntries(const QString& path)
{
    detail::count = 0;
    const auto one = [](const char*, const struct stat*, int, struct FTW*) {
        return ++detail::count, 0;
    };
    nftw(PathCodec::encode(path).constData(), one, 64, FTW_PHYS);
    return detail::count;
}

/// True when the process can drop to another user (it runs as root).
inline bool canDropPrivileges()
{
    return ::geteuid() == 0;
}

/// Runs `body` in a forked child dropped to user 65534 (root ignores permissions) and returns its
/// exit code, or -1 when impossible or hung for a minute. The parent's thread pools are not there.
inline int runAsNobody(const std::function<int()>& body)
{
    const pid_t pid = canDropPrivileges() ? ::fork() : -1;
    if (pid == 0) {
        ::alarm(60); // a hanging body ends the child instead of stalling the test run
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(125);
        ::_exit(body());
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

} // namespace TreeBuilder
