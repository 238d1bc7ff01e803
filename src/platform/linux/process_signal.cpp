#include "platform/process_signal.h"

#include "platform/linux/proc_text_p.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ProcessSignal {
namespace {

std::optional<QByteArray> readProcFile(pid_t pid, const char* name)
{
    const QByteArray path = "/proc/" + QByteArray::number(int(pid)) + '/' + name;
    return ProcText::readSmallFile(AT_FDCWD, path.constData(), ProcText::kTextCap);
}

} // namespace

std::optional<Identity> identify(pid_t pid)
{
    if (pid <= 0) return std::nullopt;
    const std::optional<QByteArray> stat = readProcFile(pid, "stat");
    const std::optional<QByteArray> status = readProcFile(pid, "status");
    if (!stat || !status) return std::nullopt;
    const auto fields = ProcText::parseProcessStat(*stat);
    const auto owner = ProcText::parseRealUid(*status);
    if (!fields || !owner) return std::nullopt;
    return Identity{pid, fields->startTime, *owner};
}

bool isProtected(pid_t pid)
{
    return pid <= 1 || pid == getpid() || pid == getppid();
}

Handle::Handle(const Identity& identity)
{
    if (isProtected(identity.pid)) return;
    UniqueFd fd(int(syscall(SYS_pidfd_open, identity.pid, 0)));
    // Checked after opening: the pidfd pins the process, so a match now means the pidfd names
    // the process we identified, not a newcomer that inherited its PID.
    if (fd && identify(identity.pid) == identity) m_fd = std::move(fd);
}

int Handle::terminate() const
{
    if (!m_fd) return ESRCH;
    return syscall(SYS_pidfd_send_signal, m_fd.get(), SIGTERM, nullptr, 0) == 0 ? 0 : errno;
}

bool Handle::hasExited() const
{
    if (!m_fd) return true;
    pollfd p{m_fd.get(), POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

int terminate(const Identity& identity)
{
    if (isProtected(identity.pid)) return EPERM;
    const Handle handle(identity);
    return handle.valid() ? handle.terminate() : ESRCH;
}

} // namespace ProcessSignal
