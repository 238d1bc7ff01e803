#pragma once

#include <QByteArray>
#include <optional>
#include <sys/types.h>

/// Real child processes for the tests that find, identify and signal processes.

/// The command name of `pid` as /proc shows it, or empty when it is gone.
QByteArray commOf(pid_t pid);
/// Starts `sleep 600` as a child (as `uid` when given, which needs root) and returns its pid
/// once it runs sleep, or -1.
pid_t startSleeper(std::optional<uid_t> uid = std::nullopt);
/// Reaps the child; true when SIGTERM ended it.
bool endedBySigterm(pid_t pid);
/// True when the child has not ended yet (it is not reaped).
bool stillRunning(pid_t pid);
/// Kills the child and reaps it.
void killAndReap(pid_t pid);
