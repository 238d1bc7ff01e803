#include "platform/linux/linux_counter_source.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

using namespace TreeBuilder;

namespace {

using Files = QMap<QString, QByteArray>;

// A stat line with the given name and fields 14, 15 and 22.
bool putProcess(const QString& root, int pid, const QByteArray& name, quint64 user, quint64 system,
                quint64 start, const QByteArray& statm = "100 40 15 1 0 20 0\n")
{
    const QByteArray stat = QByteArray::number(pid) + " (" + name + ") S 1 1 1 0 -1 4 100 0 0 0 " +
                            QByteArray::number(user) + ' ' + QByteArray::number(system) +
                            " 0 0 20 0 1 0 " + QByteArray::number(start) + " 1000000 40 1\n";
    const QString dir = root + QStringLiteral("/proc/%1/").arg(pid);
    return putFile(dir + "stat", stat) && putFile(dir + "statm", statm);
}

// The reading from file `name` (or "power") as text: parts joined by " | ", KiB, "-" if absent.
QString reading(LinuxCounterSource& source, const QString& name)
{
    QStringList parts;
    const quint64 kib = source.pageSize() / 1024;
    if (name == "proc/stat") {
        for (const ProcessorTicks& t : source.processorTicks().value_or(QList<ProcessorTicks>()))
            parts << QString::asprintf("%u/%u/%u/%u", t.user, t.system, t.idle, t.nice);
    } else if (name == "proc/pressure/memory" && source.pressureLevel()) {
        parts << QString::number(*source.pressureLevel());
    } else if (const auto load = source.loadAverage(); name == "proc/loadavg" && load) {
        parts << QString::asprintf("%g %g %g", (*load)[0], (*load)[1], (*load)[2]);
    } else if (const auto p = source.vmPageCounts(); name == "proc/meminfo") {
        const auto swap = source.swapUsage();
        parts << QString::number(source.physicalMemory() / 1024)
              << (p ? QString::asprintf("%llu/%llu/%llu/%llu/%llu", kib * p->internal,
                                        kib * p->purgeable, kib * p->wired, kib * p->compressor,
                                        kib * p->external)
                    : "-")
              << (swap ? QString::asprintf("%llu/%llu", swap->total / 1024, swap->used / 1024)
                       : "-");
    } else if (name == "proc/net/dev") {
        for (const InterfaceCounters& i : source.interfaces().value_or(QList<InterfaceCounters>()))
            parts << QString::asprintf("%s%s:%llu:%llu", i.name.constData(),
                                       i.loopback ? "(lo)" : "", i.rxBytes, i.txBytes);
    } else if (name == "power") {
        for (const QVariant& supply : source.powerSources().value_or(QList<QVariant>())) {
            QStringList keys;
            for (const auto& [key, value] : supply.toMap().asKeyValueRange())
                keys << key + '=' + value.toString();
            parts << (supply.isValid() ? keys.join(',') : "-");
        }
    }
    return parts.isEmpty() ? "-" : parts.join(" | ");
}

QList<int> pidsOf(const std::optional<QList<ProcessUsage>>& list)
{
    QList<int> pids;
    for (const ProcessUsage& usage : list.value_or(QList<ProcessUsage>()))
        pids << usage.pid;
    std::sort(pids.begin(), pids.end());
    return pids;
}

} // namespace

class TestCounterSource : public QObject
{
    Q_OBJECT
private slots:
    void readings_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Files>("extra");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* tag, const char* name, const QByteArray& content,
                            const QString& expected, const Files& extra = {}) {
            QTest::newRow(tag) << QString(name) << content << extra << expected;
        };
        for (const char* name : {"proc/stat", "proc/pressure/memory", "proc/loadavg",
                                 "proc/meminfo", "proc/net/dev", "power"})
            row(name, name, QByteArray(), QString(name) == "proc/meminfo" ? "0 | - | -" : "-");
        // system = system + irq + softirq + steal, idle = idle + iowait; "cpu" is no processor.
        row("ticks", "proc/stat",
            "cpu  30 2 20 300 5 1 1 1 0 0\ncpu0 10 1 5 100 2 1 0 0 0 0\n"
            "cpu1 20 1 15 200 3 0 1 1 0 0\nintr 5 0\n",
            "10/6/102/1 | 20/17/203/1");
        row("ticks cut to 32 bits", "proc/stat", "cpu0 4294967301 0 0 4294967296\n", "5/0/0/0");
        row("ticks malformed", "proc/stat", "cpu0 1 2 3 4\ncpu1 1 x 3 4\n", "-");
        const char* psi = "proc/pressure/memory";
        const QByteArray full0 = "full avg10=0.00 avg60=0.00 total=0\n";
        row("pressure below warning", psi, "some avg10=9.99 avg60=1 total=5\n" + full0, "1");
        row("pressure warning", psi, "some avg10=10.00 avg60=1 total=5\n" + full0, "2");
        row("pressure critical", psi,
            "some avg10=35.5 avg60=1 total=5\nfull avg10=12.25 avg60=1 total=5\n", "4");
        row("load", "proc/loadavg", "0.59 0.55 0.32 2/130 12586\n", "0.59 0.55 0.32");
        row("load not a number", "proc/loadavg", "nan 1 1 1/1 1\n", "-");
        // internal = anon, wired = unevictable + kernel's own, compressor = zswap, external = file.
        row("memory", "proc/meminfo",
            "MemTotal: 8000000 kB\nActive(anon): 400000 kB\nInactive(anon): 200000 kB\n"
            "Active(file): 1000000 kB\nInactive(file): 600000 kB\nUnevictable: 4000 kB\n"
            "SwapTotal: 2000000 kB\nSwapFree: 1500000 kB\nSUnreclaim: 80000 kB\n"
            "KernelStack: 12000 kB\nPageTables: 24000 kB\nZswap: 40000 kB\n",
            "8000000 | 600000/0/120000/40000/1600000 | 2000000/500000");
        // Optional keys count as 0; swap cannot be told without SwapFree.
        row("memory with missing and garbled keys", "proc/meminfo",
            "MemTotal: 1024 kB\nActive(anon): 64 kB\nInactive(anon): 0 kB\nActive(file): 64 kB\n"
            "Inactive(file): 64 kB\nUnevictable: lots kB\nSwapTotal: 0 kB\n",
            "1024 | 64/0/0/0/128 | -");
        // Headers, short lines and path-like names skipped; loopback by flags, else by name.
        row("interfaces", "proc/net/dev",
            "Inter-|   Receive |  Transmit\n face |bytes    packets|bytes\n"
            "    lo: 5000 10 0 0 0 0 0 0 5000 10 0 0 0 0 0 0\n"
            "  eth0: 123456 100 0 0 0 0 0 0 654321 90 0 0 0 0 0 0\n"
            "  bad0: 1 2 3\n  ../x: 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1\n"
            "  lo2: 7 0 0 0 0 0 0 0 8 0 0 0 0 0 0 0\n",
            "lo(lo):5000:5000 | eth0:123456:654321 | lo2(lo):7:8",
            {{"sys/class/net/eth0/flags", "0x1003\n"}, {"sys/class/net/lo2/flags", "0x49\n"}});
        const QString ps = "sys/class/power_supply/";
        // The mains reading decides the power state of every battery; energy figures count too.
        row("power: mains, batteries, a device's, a supply without uevent", "power", QByteArray(),
            "Type=Mains | Current Capacity=57,Is Charging=true,Max Capacity=100,"
            "Power Source State=AC Power,Time to Empty=0,Type=InternalBattery | "
            "Current Capacity=30000000,Is Charging=false,Max Capacity=60000000,"
            "Power Source State=AC Power,Time to Empty=180,Type=InternalBattery | - | Type=Battery",
            {{ps + "AC/uevent", "POWER_SUPPLY_TYPE=Mains\nPOWER_SUPPLY_ONLINE=1\n"},
             {ps + "BAT0/uevent", "POWER_SUPPLY_TYPE=Battery\nPOWER_SUPPLY_STATUS=Charging\n"
                                  "POWER_SUPPLY_PRESENT=1\nPOWER_SUPPLY_CAPACITY=57\n"},
             {ps + "BAT1/uevent", "POWER_SUPPLY_TYPE=Battery\nPOWER_SUPPLY_STATUS=Discharging\n"
                                  "POWER_SUPPLY_ENERGY_NOW=30000000\n"
                                  "POWER_SUPPLY_ENERGY_FULL=60000000\n"
                                  "POWER_SUPPLY_POWER_NOW=10000000\n"},
             {ps + "broken/x", ""},
             {ps + "mouse/uevent", "POWER_SUPPLY_TYPE=Battery\nPOWER_SUPPLY_SCOPE=Device\n"}});
    }
    void readings()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(Files, extra);
        QFETCH(QString, expected);
        const QTemporaryDir dir;
        if (!content.isNull()) extra.insert(name, content);
        for (auto it = extra.cbegin(); it != extra.cend(); ++it)
            QVERIFY(putFile(dir.path() + '/' + it.key(), it.value()));
        LinuxCounterSource source(dir.path());
        source.beginSample();
        QCOMPARE(reading(source, name), expected);
    }

    // A process picks its own name (")", blanks, line breaks); skipped: too few fields, no
    // parentheses, no or garbled statm, not a pid, pid 0. Without root, only 7 and 42 (set-user-ID)
    // are ours by the status file's real user (an undumpable process's /proc folder is root's).
    void processesOfFixture()
    {
        const QTemporaryDir dir;
        const QString root = dir.path();
        const QByteArray hostile = "a) (b\nc d) ";
        QVERIFY(putProcess(root, 42, hostile, 150, 50, 9000) &&
                putProcess(root, 7, "bash", 1, 2, 300, "10 5 5 0 0 0 0\n") &&
                putProcess(root, 8, "kworker/0:1-eve", 0, 9, 3) &&
                putProcess(root, 10, "", 0, 0, 6) && putProcess(root, 13, "nostatm", 1, 1, 1) &&
                QFile::remove(root + "/proc/13/statm") &&
                putProcess(root, 14, "badstatm", 1, 1, 1, "x y z\n"));
        const Files files{{"8/cmdline", ""},
                          {"11/stat", "11 (truncated) S 1 1"},
                          {"11/statm", "1 1 1 0 0 0 0\n"},
                          {"12/stat", "12 no parentheses S 1\n"},
                          {"self/stat", "not a pid directory"},
                          {"0/stat", "0 (zero) S"},
                          {"7/status", "Uid:\t65534\t65534\t65534\t65534\n"},
                          {"8/status", "Uid:\t0\t65534\t65534\t65534\n"},
                          {"42/status", "Name:\tpasswd\nUid:\t65534\t0\t0\t0\n"}};
        for (const auto& [path, content] : files.asKeyValueRange())
            QVERIFY(putFile(root + "/proc/" + path, content));
        LinuxCounterSource source(root);
        auto list = source.processes().value_or(QList<ProcessUsage>());
        std::sort(list.begin(), list.end(), [](auto& a, auto& b) { return a.pid < b.pid; });
        const quint64 footprint = (40 - 15) * quint64(sysconf(_SC_PAGESIZE));
        QCOMPARE(list, (QList<ProcessUsage>{{7, 1, 2, 0, "bash", 300},
                                            {8, 0, 9, footprint, "kworker/0:1-eve", 3},
                                            {10, 0, 0, footprint, "", 6},
                                            {42, 150, 50, footprint, hostile, 9000}}));
        if (!canDropPrivileges()) QSKIP("needs root to drop to an unprivileged user");
        QVERIFY(::chmod(QFile::encodeName(root).constData(), 0755) == 0);
        QCOMPARE(runAsNobody([root] {
                     return pidsOf(LinuxCounterSource(root).processes()) == QList<int>{7, 42};
                 }),
                 1);
    }

    void keptDescriptorsAreReadAgainAndClosedWhenGone()
    {
        const QTemporaryDir dir;
        const QString root = dir.path();
        QVERIFY(putProcess(root, 100, "first", 10, 10, 77) &&
                putProcess(root, 101, "second", 5, 5, 78));
        LinuxCounterSource source(root);
        QCOMPARE(pidsOf(source.processes()), (QList<int>{100, 101}));
        QCOMPARE(source.keptDescriptors(), 4);
        // Rewritten in place: the kept descriptors must be read again, not their old contents.
        QVERIFY(putProcess(root, 100, "renamed", 20, 30, 77, "100 60 10 0 0 0 0\n"));
        const ProcessUsage renamed{100, 20, 30, 50 * quint64(sysconf(_SC_PAGESIZE)), "renamed", 77};
        QVERIFY(source.processes().value_or(QList<ProcessUsage>()).contains(renamed));
        QVERIFY(QDir(root + "/proc/101").removeRecursively());
        QCOMPARE(pidsOf(source.processes()), QList<int>{100});
        QCOMPARE(source.keptDescriptors(), 2);
        QVERIFY(QDir(root + "/proc/100").removeRecursively());
        QVERIFY(!source.processes() && source.keptDescriptors() == 2); // failed listing: no change
    }
};

SORVI_TEST_MAIN(TestCounterSource)
#include "tst_counter_source.moc"
