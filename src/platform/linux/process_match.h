#pragma once

#include "platform/running_apps.h"

#include <QByteArray>
#include <QList>
#include <functional>
#include <optional>

/// Finding the current user's processes by what /proc says of them, and pinning each match
/// (PID, start time, pidfd) so that a reused PID is never signalled. Any thread; never throws.
namespace ProcessMatch {

/// Ranks a process: 0 = not a match; matches are returned lowest rank first.
using Classifier = std::function<int(pid_t)>;

/// The current user's processes that `classify` ranks above 0, pinned, ordered by rank (then by
/// PID). Each match is classified again once pinned, so a PID reused between the first reading
/// and the pinning is left out. PIDs 0, 1, our own and our parent's are never listed.
QList<RunningApplicationPtr> find(const Classifier& classify);

/// The pinned process `pid`, when it is the current user's and `stillMatches` holds once the
/// pidfd is open; nullptr otherwise.
RunningApplicationPtr pin(pid_t pid, const std::function<bool()>& stillMatches);

/// The target of /proc/PID/exe (the path in the process's own mount namespace); "" when
/// unreadable.
QByteArray executable(pid_t pid);

/// The first `count` arguments of /proc/PID/cmdline (fewer when it has fewer).
QList<QByteArray> arguments(pid_t pid, int count);

/// The value of the environment variable `name` in /proc/PID/environ (read up to a bound);
/// nullopt when absent or unreadable.
std::optional<QByteArray> environmentValue(pid_t pid, const QByteArray& name);

} // namespace ProcessMatch
