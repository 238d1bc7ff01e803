#include "platform/process_signal.h"
#include "support/child_process.h"
#include "support/test_home.h"

#include <QScopeGuard>
#include <unistd.h>

class TestProcessSignal : public QObject
{
    Q_OBJECT
private slots:
    // A PID whose start time or owner is not the identity's may have been given to another
    // process, and one that exited may be given next: neither is signalled. The last row is
    // the check's own control.
    void staleIdentityIsNeverSignalled_data()
    {
        QTest::addColumn<int>("startShift");
        QTest::addColumn<int>("ownerShift");
        QTest::addColumn<bool>("exited");
        QTest::addColumn<int>("expected");
        QTest::newRow("later start time") << 1 << 0 << false << ESRCH;
        QTest::newRow("earlier start time") << -1 << 0 << false << ESRCH;
        QTest::newRow("other owner") << 0 << 1 << false << ESRCH;
        QTest::newRow("exited") << 0 << 0 << true << ESRCH;
        QTest::newRow("the same process") << 0 << 0 << false << 0;
    }
    void staleIdentityIsNeverSignalled()
    {
        QFETCH(int, startShift);
        QFETCH(int, ownerShift);
        QFETCH(bool, exited);
        QFETCH(int, expected);
        const pid_t pid = startSleeper();
        QVERIFY(pid > 0);
        // waitpid reaps a child that ended, so no kill can reach a PID given to another.
        const auto reap = qScopeGuard([pid] {
            if (stillRunning(pid)) killAndReap(pid);
        });
        auto identity = ProcessSignal::identify(pid);
        QVERIFY(identity && identity->pid == pid && identity->owner == getuid());
        identity->startTime += startShift;
        identity->owner += ownerShift;
        if (exited) killAndReap(pid);
        QCOMPARE(ProcessSignal::identify(pid).has_value(), !exited);
        QCOMPARE(ProcessSignal::Handle(*identity).valid(), expected == 0);
        QCOMPARE(ProcessSignal::terminate(*identity), expected);
        if (expected == 0) QVERIFY(endedBySigterm(pid));
    }

    void protectedPidsAreRefused()
    {
        for (const pid_t pid : {0, 1, int(getpid()), int(getppid())}) {
            QVERIFY(ProcessSignal::isProtected(pid));
            const auto identity =
                ProcessSignal::identify(pid).value_or(ProcessSignal::Identity{pid});
            QVERIFY(!ProcessSignal::Handle(identity).valid());
            QCOMPARE(ProcessSignal::terminate(identity), EPERM);
        }
    }
};

SORVI_TEST_MAIN(TestProcessSignal)
#include "tst_process_signal.moc"
