#include "platform/process_signal.h"

#include <QByteArray>
#include <QFile>

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace ProcessSignal {
namespace {

// The name between the parentheses of a stat line is chosen by the process and may hold ")",
// so the fields are counted from the last ")".
std::optional<quint64> startTimeFromStat(const QByteArray& stat)
{
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // fields[0] is field 3 (state); field 22 is fields[19].
    if (fields.size() < 20)
        return std::nullopt;
    bool ok = false;
    const quint64 start = fields[19].toULongLong(&ok);
    return ok ? std::optional<quint64>(start) : std::nullopt;
}

std::optional<uid_t> realUidFromStatus(const QByteArray& status)
{
    for (const QByteArray& line : status.split('\n')) {
        if (!line.startsWith("Uid:"))
            continue;
        const QList<QByteArray> ids = line.mid(4).simplified().split(' ');
        bool ok = false;
        const uint uid = ids.value(0).toUInt(&ok);
        return ok ? std::optional<uid_t>(uid_t(uid)) : std::nullopt;
    }
    return std::nullopt;
}

QByteArray readProcFile(pid_t pid, const char* name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace

std::optional<Identity> identify(pid_t pid)
{
    if (pid <= 0)
        return std::nullopt;
    const auto start = startTimeFromStat(readProcFile(pid, "stat"));
    const auto owner = realUidFromStatus(readProcFile(pid, "status"));
    if (!start || !owner)
        return std::nullopt;
    return Identity{pid, *start, *owner};
}

bool isProtected(pid_t pid)
{
    return pid <= 1 || pid == getpid() || pid == getppid();
}

Handle::Handle(const Identity& identity)
{
    if (isProtected(identity.pid))
        return;
    const int fd = int(syscall(SYS_pidfd_open, identity.pid, 0));
    if (fd < 0)
        return;
    // Checked after opening: the pidfd pins the process, so a match now means the pidfd names
    // the process we identified, not a newcomer that inherited its PID.
    if (identify(identity.pid) != identity) {
        close(fd);
        return;
    }
    m_fd = fd;
}

Handle::Handle(Handle&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

Handle& Handle::operator=(Handle&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

Handle::~Handle()
{
    if (m_fd >= 0)
        close(m_fd);
}

int Handle::terminate() const
{
    if (m_fd < 0)
        return ESRCH;
    return syscall(SYS_pidfd_send_signal, m_fd, SIGTERM, nullptr, 0) == 0 ? 0 : errno;
}

bool Handle::hasExited() const
{
    if (m_fd < 0)
        return true;
    pollfd p{m_fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

int terminate(const Identity& identity)
{
    if (isProtected(identity.pid))
        return EPERM;
    const Handle handle(identity);
    return handle.valid() ? handle.terminate() : ESRCH;
}

} // namespace ProcessSignal
