#include "support/child_process.h"

#include <QFile>
#include <QTest>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

QByteArray commOf(pid_t pid)
{
    QFile file(QStringLiteral("/proc/%1/comm").arg(pid));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

pid_t startSleeper(std::optional<uid_t> uid)
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

bool endedBySigterm(pid_t pid)
{
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
}

bool stillRunning(pid_t pid)
{
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == 0;
}

void killAndReap(pid_t pid)
{
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}
