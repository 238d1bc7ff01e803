#include "support/tree_builder.h"

#include "platform/path_codec.h"

#include <QDir>
#include <QFileInfo>

#include <fcntl.h>
#include <grp.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <vector>

namespace TreeBuilder {
namespace {

std::atomic<qint64> g_sum{0};
std::atomic<int> g_count{0};

int addRegular(const char*, const struct stat* st, int, struct FTW*)
{
    if (S_ISREG(st->st_mode))
        g_sum += qint64(st->st_blocks) * 512;
    return 0;
}

int countOne(const char*, const struct stat*, int, struct FTW*)
{
    ++g_count;
    return 0;
}

} // namespace

bool makeDir(const QString& path)
{
    return QDir().mkpath(path);
}

bool writeFileRaw(const QByteArray& path, qint64 size)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::vector<char> chunk(64 * 1024, 'x');
    qint64 left = size;
    bool ok = true;
    while (left > 0 && ok) {
        const ssize_t n = ::write(fd, chunk.data(), size_t(std::min<qint64>(left, qint64(chunk.size()))));
        ok = n > 0;
        left -= n;
    }
    ::close(fd);
    return ok;
}

bool writeFile(const QString& path, qint64 size)
{
    makeDir(QFileInfo(path).path());
    return writeFileRaw(PathCodec::encode(path), size);
}

bool makeLink(const QString& target, const QString& link)
{
    makeDir(QFileInfo(link).path());
    return ::symlink(PathCodec::encode(target).constData(), PathCodec::encode(link).constData()) == 0;
}

qint64 expectedAllocated(const QString& path)
{
    g_sum = 0;
    nftw(PathCodec::encode(path).constData(), addRegular, 64, FTW_PHYS);
    return g_sum;
}

qint64 blocksOf(const QString& path)
{
    struct stat st;
    if (::lstat(PathCodec::encode(path).constData(), &st) != 0)
        return -1;
    return qint64(st.st_blocks) * 512;
}

int countEntries(const QString& path)
{
    g_count = 0;
    nftw(PathCodec::encode(path).constData(), countOne, 64, FTW_PHYS);
    return g_count;
}

bool canDropPrivileges()
{
    return ::geteuid() == 0;
}

int runAsNobody(const std::function<int()>& body)
{
    if (!canDropPrivileges())
        return -1;
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(125);
        ::_exit(body());
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

} // namespace TreeBuilder
