#pragma once

#include <QtTest>
#include <csignal>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

/// Starts `sleep 600` as a child and returns its pid once it runs sleep, or -1.
inline pid_t startSleeper()
{
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sleep", "sleep", "600", static_cast<char*>(nullptr));
        _exit(127);
    }
    const auto runsSleep = [pid] {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        return comm.open(QIODevice::ReadOnly) && comm.readAll() == "sleep\n";
    };
    return pid > 0 && QTest::qWaitFor(runsSleep, 5000) ? pid : -1;
}

/// Reaps the child within 5 s; true when SIGTERM ended it.
inline bool endedBySigterm(pid_t pid)
{
    int status = 0;
    return QTest::qWaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 5000) &&
           WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
}

/// True while the child runs; one that ended is reaped.
inline bool stillRunning(pid_t pid)
{
    return waitpid(pid, nullptr, WNOHANG) == 0;
}

inline void killAndReap(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}
