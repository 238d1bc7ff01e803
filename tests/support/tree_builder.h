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

/// Real file trees for tests, measured independently of the code under test; any path bytes.
namespace TreeBuilder {

inline bool makeDir(const QString& path)
{
    return QDir().mkpath(path);
}

namespace detail {
inline QByteArray prepared(const QString& path) // the parent folders made
{
    makeDir(QFileInfo(path).path());
    return PathCodec::encode(path);
}

// nftw takes no context pointer; its callback runs on the calling thread.
inline thread_local qint64 sum = 0;
inline thread_local int count = 0;

inline void walk(const QString& path)
{
    sum = count = 0;
    const auto visit = [](const char*, const struct stat* st, int, struct FTW*) {
        if (S_ISREG(st->st_mode)) sum += qint64(st->st_blocks) * 512;
        return ++count, 0;
    };
    nftw(PathCodec::encode(path).constData(), visit, 64, FTW_PHYS);
}

// Makes `path` anew with `size` bytes: `pattern` repeated or, with none, allocated unwritten.
inline bool fill(const QByteArray& path, qint64 size, const QByteArray& pattern = {})
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && (size == 0 || !pattern.isEmpty() || ::posix_fallocate(fd, 0, size) == 0);
    for (qint64 left = pattern.isEmpty() ? 0 : size; ok && left > 0; left -= pattern.size()) {
        const qint64 n = std::min(left, qint64(pattern.size()));
        ok = ::write(fd, pattern.constData(), size_t(n)) == n;
    }
    if (fd >= 0) ::close(fd);
    return ok;
}
} // namespace detail

/// Writes `size` bytes of real data (so blocks are allocated); the parent must exist.
inline bool writeFileRaw(const QByteArray& path, qint64 size)
{
    static const QByteArray chunk(65536, 'x');
    return detail::fill(path, size, chunk);
}

inline bool writeFile(const QString& path, qint64 size)
{
    return writeFileRaw(detail::prepared(path), size);
}

/// Allocated without writing where the file system allows it (100 MiB files cost no time).
inline bool allocate(const QString& path, qint64 bytes)
{
    return detail::fill(detail::prepared(path), bytes) || writeFile(path, bytes);
}

/// Writes in place: an existing file keeps its inode, so descriptors open on it see the change.
inline bool putFile(const QString& path, const QByteArray& content)
{
    return detail::fill(detail::prepared(path), content.size(), content);
}

inline bool makeLink(const QString& target, const QString& link)
{
    return ::symlink(PathCodec::encode(target).constData(), detail::prepared(link).constData()) ==
           0;
}

inline bool setPermissions(const QString& path, mode_t mode)
{
    return ::chmod(PathCodec::encode(path).constData(), mode) == 0;
}

/// An executable ELF file with the AppImage marker of `type` in its header padding.
inline bool putAppImage(const QString& path, int type = 2)
{
    const QByteArray header = QByteArray::fromHex("7f454c4602010100") + "AI" + char(type);
    return putFile(path, header.leftJustified(4096, '\0')) && setPermissions(path, 0755);
}

/// The permission bits of the path itself, or mode_t(-1).
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

/// `depth` nested folders `name` at `top` made through descriptors (beyond PATH_MAX), each level
/// with a file "f" of `fileSize(level)` bytes where positive; their st_blocks × 512, or -1.
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

/// Sum of st_blocks × 512 over the regular files at or below `path`, links not followed.
inline qint64 expectedAllocated(const QString& path)
{
    detail::walk(path);
    return detail::sum;
}

/// Number of entries at or below `path` (links not followed).
inline int countEntries(const QString& path)
{
    detail::walk(path);
    return detail::count;
}

inline bool canDropPrivileges()
{
    return ::geteuid() == 0;
}

/// `body`'s exit code in a forked child dropped to uid 65534 (without the parent's thread pools),
/// or -1 when impossible or hung for a minute.
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
