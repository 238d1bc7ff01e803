#include "platform/process_signal.h"
#include "support/child_process.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QFile>
#include <cerrno>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

class TestProcessSignal : public QObject
{
    Q_OBJECT
private slots:
    void identifiesARunningChild()
    {
        const pid_t pid = startSleeper();
        QVERIFY(pid > 0);
        const auto identity = ProcessSignal::identify(pid);
        QVERIFY(identity);
        QCOMPARE(identity->pid, pid);
        QCOMPARE(identity->owner, getuid());
        // A child starts after us, so its start time is no earlier than ours.
        QVERIFY(identity->startTime >= ProcessSignal::identify(getpid())->startTime);
        killAndReap(pid);
    }

    void terminatesAChildThatQuitsOnSigterm()
    {
        const pid_t pid = startSleeper();
        QVERIFY(pid > 0);
        const auto identity = ProcessSignal::identify(pid);
        QVERIFY(identity);
        const ProcessSignal::Handle handle(*identity);
        QVERIFY(handle.valid());
        QVERIFY(!handle.hasExited());
        QCOMPARE(handle.terminate(), 0);
        QVERIFY(QTest::qWaitFor([&] { return handle.hasExited(); }, 5000));
        QVERIFY(endedBySigterm(pid));
    }

    void oneStepTerminate()
    {
        const pid_t pid = startSleeper();
        QVERIFY(pid > 0);
        QCOMPARE(ProcessSignal::terminate(*ProcessSignal::identify(pid)), 0);
        QVERIFY(endedBySigterm(pid));
    }

    void processThatAlreadyExited()
    {
        const pid_t pid = startSleeper();
        QVERIFY(pid > 0);
        const auto identity = ProcessSignal::identify(pid);
        QVERIFY(identity);
        killAndReap(pid);
        QVERIFY(!ProcessSignal::identify(pid));
        QVERIFY(!ProcessSignal::Handle(*identity).valid());
        QCOMPARE(ProcessSignal::terminate(*identity), ESRCH);
    }

    void staleIdentityIsNeverSignalled_data()
    {
        QTest::addColumn<int>("startShift");
        QTest::addColumn<int>("ownerShift");
        QTest::newRow("later start time") << 1 << 0;
        QTest::newRow("earlier start time") << -1 << 0;
        QTest::newRow("other owner") << 0 << 1;
    }

    void staleIdentityIsNeverSignalled()
    {
        QFETCH(int, startShift);
        QFETCH(int, ownerShift);
        const pid_t pid = startSleeper();
        QVERIFY(pid > 0);
        auto identity = ProcessSignal::identify(pid);
        QVERIFY(identity);
        identity->startTime += startShift;
        identity->owner += ownerShift;
        QVERIFY(!ProcessSignal::Handle(*identity).valid());
        QCOMPARE(ProcessSignal::terminate(*identity), ESRCH);
        QTest::qWait(50); // a signal, had one been sent, is delivered by now
        QVERIFY(stillRunning(pid));
        killAndReap(pid);
    }

    void protectedPidsAreRefused_data()
    {
        QTest::addColumn<int>("pid");
        QTest::newRow("0") << 0;
        QTest::newRow("1") << 1;
        QTest::newRow("ours") << int(getpid());
        QTest::newRow("our parent") << int(getppid());
    }

    void protectedPidsAreRefused()
    {
        QFETCH(int, pid);
        QVERIFY(ProcessSignal::isProtected(pid));
        ProcessSignal::Identity identity{pid, 0, 0};
        if (const auto real = ProcessSignal::identify(pid)) identity = *real;
        QVERIFY(!ProcessSignal::Handle(identity).valid());
        QCOMPARE(ProcessSignal::terminate(identity), EPERM);
    }

    void anotherUsersProcessIsRefusedByTheSystem()
    {
        if (!TreeBuilder::canDropPrivileges())
            QSKIP("needs root to start a process of another user");
        const pid_t pid = startSleeper(65533);
        QVERIFY(pid > 0);
        const int outcome = TreeBuilder::runAsNobody([pid] {
            const auto identity = ProcessSignal::identify(pid);
            if (!identity) return 2;
            const int error = ProcessSignal::terminate(*identity);
            return error == EPERM ? 0 : 3;
        });
        QCOMPARE(outcome, 0);
        QVERIFY(stillRunning(pid));
        killAndReap(pid);
    }
};

SORVI_TEST_MAIN(TestProcessSignal)
#include "tst_process_signal.moc"
