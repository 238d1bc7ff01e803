#pragma once

#include <QByteArray>
#include <QFile>
#include <QTest>
#include <csignal>
#include <grp.h>
#include <optional>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

/// Real child processes for the tests that find, identify and signal processes.

/// The command name of `pid` as /proc shows it, or empty when it is gone.
inline QByteArray commOf(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/comm").arg(pid));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

/// Starts `sleep 600` as a child (as `uid` when given, which needs root) and returns its pid
/// once it runs sleep, or -1.
inline pid_t startSleeper(std::optional<uid_t> uid = std::nullopt)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (uid && (setgroups(0, nullptr) != 0 || setgid(*uid) != 0 || setuid(*uid) != 0))
            _exit(125);
        execl("/bin/sleep", "sleep", "600", static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid < 0 || !QTest::qWaitFor([pid] { return commOf(pid) == "sleep"; }, 5000)) return -1;
    return pid;
}

/// Reaps the child within 5 s; true when SIGTERM ended it.
inline bool endedBySigterm(pid_t pid)
{
    int status = 0;
    const bool reaped =
        QTest::qWaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 5000);
    return reaped && WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
}

/// True when the child has not ended yet (it is not reaped).
inline bool stillRunning(pid_t pid)
{
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == 0;
}

/// Kills the child and reaps it.
inline void killAndReap(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}
