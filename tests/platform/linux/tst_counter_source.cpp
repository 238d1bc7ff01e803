#include "platform/linux/linux_counter_source.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QVariantMap>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

Q_DECLARE_METATYPE(std::optional<QList<ProcessorTicks>>)
Q_DECLARE_METATYPE(std::optional<qint32>)

namespace {

// A folder holding copies of /proc and /sys files, written in place so that descriptors a
// source keeps open see the new contents.
class Fixture
{
public:
    Fixture() { QVERIFY(m_dir.isValid()); }
    QString root() const { return m_dir.path(); }

    bool put(const QString& path, const QByteArray& content)
    {
        const QString full = m_dir.filePath(path);
        QDir().mkpath(QFileInfo(full).path());
        QFile file(full);
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    }
    bool remove(const QString& path) { return QDir(m_dir.filePath(path)).removeRecursively(); }

    // A stat line with the given name and fields 14, 15 and 22.
    bool putProcess(int pid, const QByteArray& name, quint64 user, quint64 system, quint64 start,
                    const QByteArray& statm = "100 40 15 1 0 20 0\n")
    {
        QByteArray stat =
            QByteArray::number(pid) + " (" + name + ") S 1 1 1 0 -1 4194560 100 0 0 0 ";
        stat += QByteArray::number(user) + ' ' + QByteArray::number(system);
        stat += " 0 0 20 0 1 0 " + QByteArray::number(start) + " 1000000 40 18446744073709551615\n";
        const QString dir = QStringLiteral("proc/%1/").arg(pid);
        return put(dir + QStringLiteral("stat"), stat) && put(dir + QStringLiteral("statm"), statm);
    }

private:
    QTemporaryDir m_dir;
};

const QByteArray kMemInfo = "MemTotal:        8000000 kB\n"
                            "MemFree:         1000000 kB\n"
                            "Active(anon):     400000 kB\n"
                            "Inactive(anon):   200000 kB\n"
                            "Active(file):    1000000 kB\n"
                            "Inactive(file):   600000 kB\n"
                            "Unevictable:        4000 kB\n"
                            "SwapTotal:       2000000 kB\n"
                            "SwapFree:        1500000 kB\n"
                            "SUnreclaim:        80000 kB\n"
                            "KernelStack:       12000 kB\n"
                            "PageTables:        24000 kB\n"
                            "Zswap:             40000 kB\n";

const ProcessUsage* findPid(const QList<ProcessUsage>& list, int pid)
{
    for (const ProcessUsage& usage : list) {
        if (usage.pid == pid) return &usage;
    }
    return nullptr;
}

} // namespace

class TestCounterSource : public QObject
{
    Q_OBJECT
private slots:
    void processorTicks_data()
    {
        QTest::addColumn<QByteArray>("stat");
        QTest::addColumn<std::optional<QList<ProcessorTicks>>>("expected");
        using Ticks = QList<ProcessorTicks>;
        // system = system + irq + softirq + steal, idle = idle + iowait; the "cpu" total line
        // is not a processor.
        QTest::newRow("two processors")
            << QByteArray("cpu  30 2 20 300 5 1 1 1 0 0\ncpu0 10 1 5 100 2 1 0 0 0 0\n"
                          "cpu1 20 1 15 200 3 0 1 1 0 0\nintr 5 0 0\n")
            << std::optional(Ticks{{10, 6, 102, 1}, {20, 17, 203, 1}});
        QTest::newRow("old kernel with four fields")
            << QByteArray("cpu0 7 8 9 10\n") << std::optional(Ticks{{7, 9, 10, 8}});
        QTest::newRow("truncated to 32 bits")
            << QByteArray("cpu0 4294967301 0 0 4294967296\n") << std::optional(Ticks{{5, 0, 0, 0}});
        QTest::newRow("malformed processor line")
            << QByteArray("cpu0 1 2 3 4\ncpu1 1 x 3 4\n") << std::optional<Ticks>();
        QTest::newRow("truncated file") << QByteArray("cpu0 1 2") << std::optional<Ticks>();
        QTest::newRow("empty") << QByteArray() << std::optional<Ticks>();
    }

    void processorTicks()
    {
        QFETCH(QByteArray, stat);
        QFETCH(std::optional<QList<ProcessorTicks>>, expected);
        Fixture fixture;
        QVERIFY(fixture.put("proc/stat", stat));
        LinuxCounterSource source(fixture.root());
        source.beginSample();
        QCOMPARE(source.processorTicks(), expected);
    }

    void everyReadingAbsentWhenFilesAreMissing()
    {
        Fixture fixture;
        LinuxCounterSource source(fixture.root());
        source.beginSample();
        QVERIFY(!source.processorTicks());
        QCOMPARE(source.physicalMemory(), quint64(0));
        QVERIFY(!source.vmPageCounts());
        QVERIFY(!source.swapUsage());
        QVERIFY(!source.pressureLevel());
        QVERIFY(!source.interfaces());
        QVERIFY(!source.powerSources());
        QVERIFY(!source.loadAverage());
        QVERIFY(!source.processes());
        QVERIFY(source.pageSize() > 0);
    }

    void memoryMapping()
    {
        Fixture fixture;
        QVERIFY(fixture.put("proc/meminfo", kMemInfo));
        LinuxCounterSource source(fixture.root());
        source.beginSample();
        const quint64 page = source.pageSize();
        QCOMPARE(source.physicalMemory(), quint64(8000000) * 1024);
        const quint64 wired = 4000 + 80000 + 12000 + 24000;
        QCOMPARE(source.vmPageCounts(), (VmPageCounts{600000 * 1024 / page, 0, wired * 1024 / page,
                                                      40000 * 1024 / page, 1600000 * 1024 / page}));
        QCOMPARE(source.swapUsage(), (SwapUsage{quint64(2000000) * 1024, quint64(500000) * 1024}));
        // The memory readings of one sample come from one reading of the file.
        QVERIFY(fixture.put("proc/meminfo", "MemTotal: 4 kB\n"));
        QVERIFY(source.vmPageCounts() && source.swapUsage());
        source.beginSample();
        QCOMPARE(source.physicalMemory(), quint64(4096));
        QVERIFY(!source.vmPageCounts());
        QVERIFY(!source.swapUsage());
    }

    void memoryWithMissingAndMalformedKeys()
    {
        Fixture fixture;
        // No Zswap, no SwapFree, a garbled Unevictable line: optional keys count as 0, swap
        // cannot be told.
        QVERIFY(fixture.put("proc/meminfo", "MemTotal: 1000 kB\nActive(anon): 8 kB\n"
                                            "Inactive(anon): 0 kB\nActive(file): 4 kB\n"
                                            "Inactive(file): 4 kB\nUnevictable: lots kB\n"
                                            "SwapTotal: 0 kB\n"));
        LinuxCounterSource source(fixture.root());
        source.beginSample();
        const auto pages = source.vmPageCounts();
        QVERIFY(pages);
        QCOMPARE(pages->wired, quint64(0));
        QCOMPARE(pages->compressor, quint64(0));
        QCOMPARE(pages->internal, quint64(8192) / source.pageSize());
        QVERIFY(!source.swapUsage());
    }

    void pressure_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<std::optional<qint32>>("expected");
        const QByteArray full0 = "full avg10=0.00 avg60=0.00 avg300=0.00 total=0\n";
        QTest::newRow("calm") << "some avg10=0.00 avg60=0.00 avg300=0.00 total=0\n" + full0
                              << std::optional<qint32>(1);
        QTest::newRow("just below warning")
            << "some avg10=9.99 avg60=1 avg300=0 total=5\n" + full0 << std::optional<qint32>(1);
        QTest::newRow("warning") << "some avg10=10.00 avg60=1 avg300=0 total=5\n" + full0
                                 << std::optional<qint32>(2);
        QTest::newRow("critical") << QByteArray("some avg10=35.50 avg60=1 avg300=0 total=5\n"
                                                "full avg10=12.25 avg60=1 avg300=0 total=5\n")
                                  << std::optional<qint32>(4);
        QTest::newRow("malformed") << QByteArray("some avg10=abc\n") << std::optional<qint32>();
    }

    void pressure()
    {
        QFETCH(QByteArray, text);
        QFETCH(std::optional<qint32>, expected);
        Fixture fixture;
        QVERIFY(fixture.put("proc/pressure/memory", text));
        LinuxCounterSource source(fixture.root());
        source.beginSample();
        QCOMPARE(source.pressureLevel(), expected);
    }

    void interfaces()
    {
        Fixture fixture;
        QVERIFY(fixture.put(
            "proc/net/dev",
            "Inter-|   Receive                            |  Transmit\n"
            " face |bytes    packets errs drop fifo frame compressed multicast|bytes packets\n"
            "    lo: 5000 10 0 0 0 0 0 0 5000 10 0 0 0 0 0 0\n"
            "  eth0: 123456 100 0 0 0 0 0 0 654321 90 0 0 0 0 0 0\n"
            "wlan0-with-a-long:42 1 0 0 0 0 0 0 24 1 0 0 0 0 0 0\n"
            "  bad0: 1 2 3\n"
            "  ../x: 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1\n"
            "  lo2: 7 0 0 0 0 0 0 0 8 0 0 0 0 0 0 0\n"));
        // No flags for lo: loopback by its name; lo2 by its flags.
        QVERIFY(fixture.put("sys/class/net/eth0/flags", "0x1003\n"));
        QVERIFY(fixture.put("sys/class/net/lo2/flags", "0x49\n"));
        LinuxCounterSource source(fixture.root());
        source.beginSample();
        const auto list = source.interfaces();
        QVERIFY(list);
        const QList<InterfaceCounters> expected{{"lo", true, 5000, 5000},
                                                {"eth0", false, 123456, 654321},
                                                {"wlan0-with-a-long", false, 42, 24},
                                                {"lo2", true, 7, 8}};
        QCOMPARE(*list, expected);
    }

    void powerSources()
    {
        Fixture fixture;
        QVERIFY(
            fixture.put("sys/class/power_supply/AC/uevent",
                        "POWER_SUPPLY_NAME=AC\nPOWER_SUPPLY_TYPE=Mains\nPOWER_SUPPLY_ONLINE=1\n"));
        QVERIFY(fixture.put("sys/class/power_supply/BAT0/uevent",
                            "POWER_SUPPLY_NAME=BAT0\nPOWER_SUPPLY_TYPE=Battery\n"
                            "POWER_SUPPLY_STATUS=Charging\nPOWER_SUPPLY_PRESENT=1\n"
                            "POWER_SUPPLY_CAPACITY=57\nPOWER_SUPPLY_SCOPE=System\n"));
        QVERIFY(fixture.put("sys/class/power_supply/hidpp_battery_0/uevent",
                            "POWER_SUPPLY_TYPE=Battery\nPOWER_SUPPLY_SCOPE=Device\n"
                            "POWER_SUPPLY_CAPACITY=80\n"));
        QVERIFY(fixture.put("sys/class/power_supply/ups/uevent", "POWER_SUPPLY_TYPE=UPS\n"));
        QVERIFY(QDir().mkpath(fixture.root() + "/sys/class/power_supply/broken"));
        LinuxCounterSource source(fixture.root());
        source.beginSample();
        const auto list = source.powerSources();
        QVERIFY(list);
        QStringList types; // sorted by name: AC, BAT0, broken, hidpp_battery_0, ups
        for (const QVariant& supply : *list)
            types << supply.toMap().value("Type").toString();
        QCOMPARE(types, (QStringList{"Mains", "InternalBattery", "", "Battery", "UPS"}));
        QVERIFY(!list->at(2).isValid());
        QCOMPARE(list->at(1).toMap(),
                 (QVariantMap{{"Type", "InternalBattery"}, {"Current Capacity", qlonglong(57)},
                              {"Max Capacity", qlonglong(100)}, {"Is Charging", true},
                              {"Power Source State", "AC Power"}, {"Time to Empty", qlonglong(0)}}));
    }

    void dischargingBatteryFromEnergy()
    {
        Fixture fixture;
        QVERIFY(fixture.put("sys/class/power_supply/AC/uevent",
                            "POWER_SUPPLY_TYPE=Mains\nPOWER_SUPPLY_ONLINE=0\n"));
        QVERIFY(fixture.put("sys/class/power_supply/BAT1/uevent",
                            "POWER_SUPPLY_TYPE=Battery\nPOWER_SUPPLY_STATUS=Discharging\n"
                            "POWER_SUPPLY_ENERGY_NOW=30000000\nPOWER_SUPPLY_ENERGY_FULL=60000000\n"
                            "POWER_SUPPLY_POWER_NOW=10000000\n"));
        LinuxCounterSource source(fixture.root());
        source.beginSample();
        const auto list = source.powerSources();
        QVERIFY(list);
        QCOMPARE(list->at(1).toMap(),
                 (QVariantMap{{"Type", "InternalBattery"}, {"Current Capacity", qlonglong(30000000)},
                              {"Max Capacity", qlonglong(60000000)}, {"Is Charging", false},
                              {"Power Source State", "Battery Power"},
                              {"Time to Empty", qlonglong(180)}}));
    }

    void loadAverage_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("normal") << QByteArray("0.59 0.55 0.32 2/130 12586\n") << true;
        QTest::newRow("two values") << QByteArray("0.59 0.55\n") << false;
        QTest::newRow("not a number") << QByteArray("nan 1 1 1/1 1\n") << false;
    }

    void loadAverage()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        Fixture fixture;
        QVERIFY(fixture.put("proc/loadavg", text));
        LinuxCounterSource source(fixture.root());
        const auto load = source.loadAverage();
        QCOMPARE(bool(load), valid);
        if (valid) QCOMPARE(*load, (std::array<double, 3>{0.59, 0.55, 0.32}));
    }

    void processesOfFixture()
    {
        Fixture fixture;
        const QByteArray hostile = "a) (b\nc d) ";
        QVERIFY(fixture.putProcess(42, hostile, 150, 50, 9000));
        QVERIFY(fixture.putProcess(7, "bash", 1, 2, 300, "10 5 5 0 0 0 0\n"));
        QVERIFY(fixture.putProcess(8, "kworker/0:1-eve", 0, 9, 3)); // 15 bytes, empty cmdline
        QVERIFY(fixture.put("proc/8/cmdline", ""));
        QVERIFY(fixture.putProcess(10, "", 0, 0, 6));
        QVERIFY(fixture.put("proc/11/stat", "11 (truncated) S 1 1")); // too few fields
        QVERIFY(fixture.put("proc/11/statm", "1 1 1 0 0 0 0\n"));
        QVERIFY(fixture.put("proc/12/stat", "12 no parentheses S 1\n")); // malformed
        QVERIFY(fixture.putProcess(13, "nostatm", 1, 1, 1));
        QVERIFY(QFile::remove(fixture.root() + "/proc/13/statm"));
        QVERIFY(fixture.putProcess(14, "badstatm", 1, 1, 1, "x y z\n"));
        QVERIFY(fixture.put("proc/self/stat", "not a pid directory"));
        QVERIFY(fixture.put("proc/0/stat", "0 (zero) S"));
        QVERIFY(fixture.put("proc/meminfo", kMemInfo));

        LinuxCounterSource source(fixture.root());
        source.beginSample();
        const auto list = source.processes();
        QVERIFY(list);
        QList<ProcessUsage> sorted = *list;
        std::sort(sorted.begin(), sorted.end(), [](auto& a, auto& b) { return a.pid < b.pid; });
        const quint64 footprint = (40 - 15) * quint64(sysconf(_SC_PAGESIZE));
        QCOMPARE(sorted, (QList<ProcessUsage>{{7, 1, 2, 0, "bash", 300},
                                              {8, 0, 9, footprint, "kworker/0:1-eve", 3},
                                              {10, 0, 0, footprint, "", 6},
                                              {42, 150, 50, footprint, hostile, 9000}}));
    }

    void keptDescriptorsAreReadAgainAndClosedWhenGone()
    {
        Fixture fixture;
        QVERIFY(fixture.putProcess(100, "first", 10, 10, 77));
        QVERIFY(fixture.putProcess(101, "second", 5, 5, 78));
        LinuxCounterSource source(fixture.root());
        QVERIFY(source.processes());
        QCOMPARE(source.keptDescriptors(), 4);

        // Rewritten in place: the kept descriptors must be read again, not their old contents.
        QVERIFY(fixture.putProcess(100, "renamed", 20, 30, 77, "100 60 10 0 0 0 0\n"));
        const ProcessUsage renamed{100, 20, 30, 50 * quint64(sysconf(_SC_PAGESIZE)), "renamed", 77};
        QVERIFY(source.processes().value_or(QList<ProcessUsage>()).contains(renamed));
        QCOMPARE(source.keptDescriptors(), 4);

        QVERIFY(fixture.remove("proc/101"));
        QCOMPARE(source.processes().value_or(QList<ProcessUsage>()).size(), 1);
        QCOMPARE(source.keptDescriptors(), 2);

        QVERIFY(fixture.remove("proc/100"));
        QVERIFY(!source.processes());          // nothing listed
        QCOMPARE(source.keptDescriptors(), 2); // a failed listing changes nothing
        QVERIFY(fixture.putProcess(102, "third", 1, 1, 79));
        QVERIFY(source.processes());
        QCOMPARE(source.keptDescriptors(), 2);
    }

    void onlyOurOwnProcessesWithoutRoot()
    {
        if (!TreeBuilder::canDropPrivileges()) QSKIP("needs root to drop to an unprivileged user");
        Fixture fixture;
        QVERIFY(::chmod(QFile::encodeName(fixture.root()).constData(), 0755) == 0);
        const QList<std::pair<int, QByteArray>> owners{
            {20, "Uid:\t65534\t65534\t65534\t65534\n"},
            {21, "Uid:\t0\t0\t0\t0\n"},
            {22, ""},                                      // no status: cannot tell, so not ours
            {23, "Uid:\t0\t65534\t65534\t65534\n"},        // really root's
            {24, "Name:\tpasswd\nUid:\t65534\t0\t0\t0\n"}, // ours, running set-user-ID
        };
        for (const auto& [pid, status] : owners) {
            QVERIFY(fixture.putProcess(pid, "p" + QByteArray::number(pid), 1, 1, 1));
            if (!status.isEmpty())
                QVERIFY(fixture.put(QStringLiteral("proc/%1/status").arg(pid), status));
        }
        const QString root = fixture.root();
        const int outcome = TreeBuilder::runAsNobody([root] {
            LinuxCounterSource source(root);
            const auto list = source.processes();
            if (!list) return 2;
            QList<int> pids;
            for (const ProcessUsage& usage : *list)
                pids << usage.pid;
            return pids == QList<int>{20, 24} || pids == QList<int>{24, 20} ? 0 : 3;
        });
        QCOMPARE(outcome, 0);
    }

    void onlyOurOwnProcessesOfTheRunningSystem()
    {
        if (!TreeBuilder::canDropPrivileges()) QSKIP("needs root to drop to an unprivileged user");
        const pid_t parent = getpid();
        // The child changed its user, so the kernel made it undumpable and its /proc folder
        // belongs to root: it must still be found as ours.
        const int outcome = TreeBuilder::runAsNobody([parent] {
            LinuxCounterSource source;
            const auto list = source.processes();
            if (!list) return 2;
            if (!findPid(*list, int(getpid()))) return 3;
            if (findPid(*list, int(parent))) return 4;
            return 0;
        });
        QCOMPARE(outcome, 0);
    }

    void descriptorsBeyondTheLimitAreOpenedAfresh()
    {
        Fixture fixture;
        for (int pid = 1000; pid < 1100; ++pid)
            QVERIFY(fixture.putProcess(pid, "idle", 1, 1, quint64(pid)));
        const QString root = fixture.root();
        // A quarter of the processes keep their descriptors, the rest are read all the same.
        const pid_t child = fork(); // a child, as the lowered limit must not outlive the test
        if (child == 0) {
            const rlimit low{128, 128};
            if (setrlimit(RLIMIT_NOFILE, &low) != 0) _exit(2);
            LinuxCounterSource source(root);
            for (int pass = 0; pass < 3; ++pass) {
                const auto list = source.processes();
                if (!list || list->size() != 100) _exit(3);
            }
            _exit(source.keptDescriptors() == 64 ? 0 : 4);
        }
        int status = -1;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    void realSystemInvariants()
    {
        LinuxCounterSource source;
        source.beginSample();
        const auto ticks1 = source.processorTicks();
        const auto nets1 = source.interfaces();
        const auto procs1 = source.processes();
        QVERIFY(ticks1 && !ticks1->isEmpty() && nets1 && procs1);
        QVERIFY(source.physicalMemory() > 0 && source.vmPageCounts() && source.loadAverage());
        const ProcessUsage* self = findPid(*procs1, int(getpid()));
        QVERIFY(self);
        QVERIFY(self->footprint > 0);
        QCOMPARE(self->name, QByteArray("tst_counter_source")); // widened past 15 bytes
        QVERIFY(source.keptDescriptors() >= 2);

        source.beginSample();
        const auto ticks2 = source.processorTicks();
        const auto nets2 = source.interfaces();
        const auto procs2 = source.processes();
        QVERIFY(ticks2 && nets2 && procs2);
        for (qsizetype i = 0; ticks2->size() == ticks1->size() && i < ticks1->size(); ++i) {
            const ProcessorTicks &a = ticks1->at(i), &b = ticks2->at(i);
            QVERIFY(b.user >= a.user && b.system >= a.system && b.idle >= a.idle && b.nice >= a.nice);
        }
        for (const InterfaceCounters& before : *nets1)
            for (const InterfaceCounters& after : *nets2)
                if (after.name == before.name)
                    QVERIFY(after.rxBytes >= before.rxBytes && after.txBytes >= before.txBytes);
        const ProcessUsage* selfAgain = findPid(*procs2, int(getpid()));
        QVERIFY(selfAgain);
        QVERIFY(selfAgain->userTime + selfAgain->systemTime >= self->userTime + self->systemTime);
        QCOMPARE(selfAgain->startTime, self->startTime);
    }
};

SORVI_TEST_MAIN(TestCounterSource)
#include "tst_counter_source.moc"
