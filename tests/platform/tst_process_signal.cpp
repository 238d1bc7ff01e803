#include "platform/process_signal.h"
#include "support/child_process.h"
#include "support/test_home.h"

#include <QScopeGuard>
#include <unistd.h>

enum Change { None, StartTime, Owner, Exited };

class TestProcessSignal : public QObject
{
    Q_OBJECT
private slots:
    // A pid whose start time or owner is not the identity's may name another process now, one
    // that exited may be given next, and a protected one never is signalled. "pid" -1: a child.
    void terminate_data()
    {
        QTest::addColumn<int>("pid");
        QTest::addColumn<int>("change");
        QTest::addColumn<int>("expected");
        QTest::newRow("other start time") << -1 << int(StartTime) << ESRCH;
        QTest::newRow("other owner") << -1 << int(Owner) << ESRCH;
        QTest::newRow("exited") << -1 << int(Exited) << ESRCH;
        QTest::newRow("the same process") << -1 << int(None) << 0;
        for (const int pid : {0, 1, int(getpid()), int(getppid())})
            QTest::addRow("protected %d", pid) << pid << int(None) << EPERM;
    }
    void terminate()
    {
        QFETCH(int, pid);
        QFETCH(int, change);
        QFETCH(int, expected);
        const pid_t child = pid < 0 ? startSleeper() : 0;
        QVERIFY(pid >= 0 || child > 0);
        // waitpid reaps a child that ended, so no kill can reach a pid given to another.
        const auto reap = qScopeGuard([child] {
            if (child > 0 && stillRunning(child)) killAndReap(child);
        });
        if (child > 0) pid = child;
        auto identity = ProcessSignal::identify(pid).value_or(ProcessSignal::Identity{pid});
        identity.startTime += quint64(change == StartTime);
        identity.owner += uid_t(change == Owner);
        if (change == Exited) killAndReap(pid);
        QCOMPARE(ProcessSignal::Handle(identity).valid(), expected == 0);
        QCOMPARE(ProcessSignal::terminate(identity), expected);
        if (expected == 0) QVERIFY(endedBySigterm(pid));
    }
};

SORVI_TEST_MAIN(TestProcessSignal)
#include "tst_process_signal.moc"
