#pragma once

#include "platform/unique_fd.h"

#include <QtGlobal>
#include <optional>
#include <sys/types.h>

/// Polite quit requests to processes, safe against PID reuse: a process is named by its PID and
/// its start time, and the signal goes through a descriptor of the process that is opened only
/// after the identity was checked, so a PID that was reused meanwhile is never signalled. SIGTERM
/// only, never SIGKILL. Errors are positive errno values. Any thread.
namespace ProcessSignal {

struct Identity
{
    pid_t pid = 0;
    quint64 startTime = 0; ///< in the system's own unit (clock ticks after boot on Linux)
    uid_t owner = 0;       ///< real user id
    friend bool operator==(const Identity&, const Identity&) = default;
};

/// The identity of a running process, or nullopt when it is gone or unreadable.
std::optional<Identity> identify(pid_t pid);

/// True for PIDs that are never signalled: 0, 1, our own and our parent's.
bool isProtected(pid_t pid);

/// A descriptor kept open for one process (a pidfd on Linux); it tells when the process has
/// exited.
class Handle
{
public:
    Handle() = default;
    /// Opens the descriptor for `identity` and checks, after opening, that the PID still names
    /// the same process. Invalid when the process is gone, protected, or the check fails.
    explicit Handle(const Identity& identity);

    bool valid() const { return m_fd.valid(); }
    /// Sends SIGTERM. Returns 0 or the errno of the refusal (ESRCH when already gone).
    int terminate() const;
    /// True once the process has exited (or when the handle is invalid).
    bool hasExited() const;

private:
    UniqueFd m_fd;
};

/// identify() + Handle + terminate() in one step. Returns 0, or the errno of the failure
/// (ESRCH for a process that is gone or was replaced, EPERM for a protected PID).
int terminate(const Identity& identity);

} // namespace ProcessSignal
