#include "platform/process_signal.h"
#include "support/await.h"
#include "support/child_process.h"
#include "support/test_home.h"

#include <QFile>
#include <csignal>
#include <unistd.h>

namespace {

// A child that blocks SIGTERM: a signal sent to it stays pending, where /proc shows it, so a
// test can tell positively whether one was sent. Killed and reaped however the test ends.
class BlockingChild
{
public:
    BlockingChild() : m_pid(fork())
    {
        if (m_pid != 0) return;
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigprocmask(SIG_BLOCK, &set, nullptr);
        for (;;)
            pause();
    }
    BlockingChild(const BlockingChild&) = delete;
    BlockingChild& operator=(const BlockingChild&) = delete;
    ~BlockingChild() { end(); }

    pid_t pid() const { return m_pid; }
    void end()
    {
        if (m_pid > 0) killAndReap(std::exchange(m_pid, -1));
    }

private:
    pid_t m_pid;
};

// Whether SIGTERM is set in one of the masks of /proc/PID/status ("SigBlk", "ShdPnd", ...).
bool sigtermIn(pid_t pid, const QList<QByteArray>& masks)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (masks.contains(line.left(colon)) &&
            (line.mid(colon + 1).trimmed().toULongLong(nullptr, 16) & (1ULL << (SIGTERM - 1))) != 0)
            return true;
    }
    return false;
}

} // namespace

class TestProcessSignal : public QObject
{
    Q_OBJECT
private slots:
    // A PID whose start time or owner is not the identity's may have been given to another
    // process: it is never signalled. The last row is the check's own control.
    void staleIdentityIsNeverSignalled_data()
    {
        QTest::addColumn<int>("startShift");
        QTest::addColumn<int>("ownerShift");
        QTest::addColumn<int>("expected");
        QTest::newRow("later start time") << 1 << 0 << ESRCH;
        QTest::newRow("earlier start time") << -1 << 0 << ESRCH;
        QTest::newRow("other owner") << 0 << 1 << ESRCH;
        QTest::newRow("the same process") << 0 << 0 << 0;
    }
    void staleIdentityIsNeverSignalled()
    {
        QFETCH(int, startShift);
        QFETCH(int, ownerShift);
        QFETCH(int, expected);
        BlockingChild child;
        const pid_t pid = child.pid();
        QVERIFY(pid > 0);
        AWAIT_UNTIL(sigtermIn(pid, {"SigBlk"}), "the child to block SIGTERM");
        auto identity = ProcessSignal::identify(pid);
        QVERIFY(identity && identity->pid == pid && identity->owner == getuid());
        // A child starts after us, so its start time is no earlier than ours.
        QVERIFY(identity->startTime >= ProcessSignal::identify(getpid())->startTime);
        identity->startTime += startShift;
        identity->owner += ownerShift;
        QCOMPARE(ProcessSignal::Handle(*identity).valid(), expected == 0);
        QCOMPARE(ProcessSignal::terminate(*identity), expected);
        QCOMPARE(sigtermIn(pid, {"SigPnd", "ShdPnd"}), expected == 0);
    }

    void processThatAlreadyExited()
    {
        BlockingChild child;
        const pid_t pid = child.pid();
        QVERIFY(pid > 0);
        const auto identity = ProcessSignal::identify(pid);
        QVERIFY(identity);
        child.end();
        QVERIFY(!ProcessSignal::identify(pid));
        QVERIFY(!ProcessSignal::Handle(*identity).valid());
        QCOMPARE(ProcessSignal::terminate(*identity), ESRCH);
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
        const auto identity = ProcessSignal::identify(pid).value_or(ProcessSignal::Identity{pid});
        QVERIFY(!ProcessSignal::Handle(identity).valid());
        QCOMPARE(ProcessSignal::terminate(identity), EPERM);
    }
};

SORVI_TEST_MAIN(TestProcessSignal)
#include "tst_process_signal.moc"
