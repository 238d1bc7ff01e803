#include "support/tree_builder.h"

#include "platform/path_codec.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace TreeBuilder {
namespace {

// nftw takes no context pointer; its callback runs on the calling thread.
thread_local qint64 g_sum = 0;
thread_local int g_count = 0;

QByteArray encoded(const QString& path)
{
    return PathCodec::encode(path);
}

bool makeParent(const QString& path)
{
    return makeDir(QFileInfo(path).path());
}

} // namespace

bool makeDir(const QString& path)
{
    return QDir().mkpath(path);
}

bool writeFileRaw(const QByteArray& path, qint64 size)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const std::vector<char> chunk(64 * 1024, 'x');
    bool ok = true;
    for (qint64 left = size; left > 0 && ok;) {
        const ssize_t n = ::write(fd, chunk.data(), size_t(std::min<qint64>(left, 64 * 1024)));
        ok = n > 0;
        left -= n;
    }
    ::close(fd);
    return ok;
}

bool writeFile(const QString& path, qint64 size)
{
    makeParent(path);
    return writeFileRaw(encoded(path), size);
}

bool allocate(const QString& path, qint64 bytes)
{
    makeParent(path);
    const int fd = ::open(encoded(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = ::posix_fallocate(fd, 0, off_t(bytes)) == 0;
    ::close(fd);
    return ok || writeFile(path, bytes);
}

bool makeLink(const QString& target, const QString& link)
{
    makeParent(link);
    return ::symlink(encoded(target).constData(), encoded(link).constData()) == 0;
}

bool setPermissions(const QString& path, mode_t mode)
{
    return ::chmod(encoded(path).constData(), mode) == 0;
}

mode_t permissionsOf(const QString& path)
{
    struct stat st;
    return ::lstat(encoded(path).constData(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
}

qint64 expectedAllocated(const QString& path)
{
    g_sum = 0;
    nftw(
        encoded(path).constData(),
        [](const char*, const struct stat* st, int, struct FTW*) {
            if (S_ISREG(st->st_mode)) g_sum += qint64(st->st_blocks) * 512;
            return 0;
        },
        64, FTW_PHYS);
    return g_sum;
}

qint64 blocksOf(const QString& path)
{
    struct stat st;
    return ::lstat(encoded(path).constData(), &st) == 0 ? qint64(st.st_blocks) * 512 : -1;
}

int countEntries(const QString& path)
{
    g_count = 0;
    nftw(
        encoded(path).constData(),
        [](const char*, const struct stat*, int, struct FTW*) { return ++g_count, 0; }, 64,
        FTW_PHYS);
    return g_count;
}

bool canDropPrivileges()
{
    return ::geteuid() == 0;
}

int runAsNobody(const std::function<int()>& body)
{
    if (!canDropPrivileges()) return -1;
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(125);
        ::_exit(body());
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

} // namespace TreeBuilder
