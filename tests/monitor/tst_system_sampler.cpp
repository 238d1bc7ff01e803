#include "monitor/system_sampler.h"
#include "scripted_source.h"
#include "support/test_home.h"

#include <QVariantMap>
#include <unistd.h>

using Ticks = QList<ProcessorTicks>;
using Interfaces = QList<InterfaceCounters>;
using Sources = QList<QVariant>;

Q_DECLARE_METATYPE(std::optional<BatteryInfo>)
Q_DECLARE_METATYPE(std::optional<Sources>)

namespace {

SystemSampler samplerOf(QList<Frame> frames)
{
    return SystemSampler(std::make_unique<ScriptedSource>(std::move(frames)));
}

Frame ticksFrame(std::optional<Ticks> ticks)
{
    Frame frame;
    frame.ticks = std::move(ticks);
    return frame;
}

Frame netFrame(std::optional<Interfaces> interfaces, quint64 clock)
{
    Frame frame;
    frame.interfaces = std::move(interfaces);
    frame.clock = clock;
    return frame;
}

Frame processFrame(std::optional<QList<ProcessUsage>> processes, quint64 clock)
{
    Frame frame;
    frame.processes = std::move(processes);
    frame.clock = clock;
    return frame;
}

ProcessUsage usage(qint32 pid, quint64 user, quint64 system, QByteArray name = "proc",
                   std::optional<quint64> start = 1)
{
    return ProcessUsage{pid, user, system, 4096, std::move(name), start};
}

QVariantMap batteryMap(QVariant current, QVariant max,
                       QVariant type = QStringLiteral("InternalBattery"))
{
    return QVariantMap{{"Type", type}, {"Current Capacity", current}, {"Max Capacity", max}};
}

const ProcessStat* findPid(const SystemSnapshot& snapshot, int pid)
{
    for (const ProcessStat& stat : snapshot.processes) {
        if (stat.pid == pid) return &stat;
    }
    return nullptr;
}

bool near(double a, double b)
{
    return std::abs(a - b) < 1e-9;
}

} // namespace

class TestSystemSampler : public QObject
{
    Q_OBJECT
private slots:
    void primingCallHasNoRates()
    {
        Frame frame = ticksFrame(Ticks{{10, 10, 10, 10}, {5, 5, 5, 5}});
        frame.physical = 1000;
        frame.power = Sources{batteryMap(50, 100)};
        frame.load = std::array<double, 3>{1, 2, 3};
        frame.interfaces = Interfaces{{"eth0", false, 100, 100}};
        frame.processes = QList<ProcessUsage>{usage(5, 100, 100)};
        frame.clock = 5'000'000'000;
        SystemSampler sampler = samplerOf({frame});
        const SystemSnapshot first = sampler.sample();
        QCOMPARE(first.cores, (QList<double>{0, 0}));
        QCOMPARE(first.cpuTotal, 0.0);
        QCOMPARE(first.cpuUser, 0.0);
        QCOMPARE(first.cpuSystem, 0.0);
        QCOMPARE(first.netDown, 0.0);
        QCOMPARE(first.netUp, 0.0);
        QCOMPARE(first.memory.total, quint64(1000));
        QVERIFY(first.battery);
        QCOMPARE(first.load, (std::array<double, 3>{1, 2, 3}));
        QCOMPARE(first.processes.size(), 1);
        QCOMPARE(first.processes[0].cpu, 0.0);
    }

    void cpuShares_data()
    {
        QTest::addColumn<Ticks>("before");
        QTest::addColumn<Ticks>("after");
        QTest::addColumn<QList<double>>("cores");
        QTest::addColumn<double>("total");
        QTest::addColumn<double>("user");
        QTest::addColumn<double>("system");
        // user and nice count as user; idle completes the total.
        QTest::newRow("one processor") << Ticks{{0, 0, 0, 0}} << Ticks{{30, 10, 50, 10}}
                                       << QList<double>{50} << 50.0 << 40.0 << 10.0;
        QTest::newRow("wrapped past 2^32")
            << Ticks{{0xFFFFFFF0u, 0, 0xFFFFFF00u, 0}} << Ticks{{0x10, 0, 0x60, 0}}
            << QList<double>{100.0 * 32 / 384} << 100.0 * 32 / 384 << 100.0 * 32 / 384 << 0.0;
        QTest::newRow("ticks did not move")
            << Ticks{{7, 7, 7, 7}} << Ticks{{7, 7, 7, 7}} << QList<double>{0} << 0.0 << 0.0 << 0.0;
        QTest::newRow("one busy, one still")
            << Ticks{{0, 0, 0, 0}, {9, 9, 9, 9}} << Ticks{{60, 40, 0, 0}, {9, 9, 9, 9}}
            << QList<double>{100, 0} << 100.0 << 60.0 << 40.0;
        QTest::newRow("weighted by ticks")
            << Ticks{{0, 0, 0, 0}, {0, 0, 0, 0}} << Ticks{{50, 0, 50, 0}, {0, 0, 300, 0}}
            << QList<double>{50, 0} << 12.5 << 12.5 << 0.0;
    }

    void cpuShares()
    {
        QFETCH(Ticks, before);
        QFETCH(Ticks, after);
        QFETCH(QList<double>, cores);
        QFETCH(double, total);
        QFETCH(double, user);
        QFETCH(double, system);
        SystemSampler sampler = samplerOf({ticksFrame(before), ticksFrame(after)});
        sampler.sample();
        const SystemSnapshot snapshot = sampler.sample();
        QCOMPARE(snapshot.cores.size(), cores.size());
        for (qsizetype i = 0; i < cores.size(); ++i)
            QVERIFY2(near(snapshot.cores[i], cores[i]),
                     qPrintable(QString::number(snapshot.cores[i])));
        QVERIFY(near(snapshot.cpuTotal, total));
        QVERIFY(near(snapshot.cpuUser, user));
        QVERIFY(near(snapshot.cpuSystem, system));
    }

    void processorCountChanges()
    {
        SystemSampler sampler =
            samplerOf({ticksFrame(Ticks{{0, 0, 0, 0}, {0, 0, 0, 0}}),
                       ticksFrame(Ticks{{5, 5, 5, 5}, {5, 5, 5, 5}, {1, 1, 1, 1}}),
                       ticksFrame(Ticks{{5, 5, 5, 5}, {5, 5, 5, 5}, {3, 1, 1, 1}})});
        sampler.sample();
        const SystemSnapshot changed = sampler.sample();
        QCOMPARE(changed.cores, (QList<double>{0, 0, 0}));
        QCOMPARE(changed.cpuTotal, 0.0);
        const SystemSnapshot next = sampler.sample();
        QCOMPARE(next.cores, (QList<double>{0, 0, 100}));
        QCOMPARE(next.cpuTotal, 100.0);
    }

    void failedCpuReadKeepsThePreviousTicks()
    {
        SystemSampler sampler =
            samplerOf({ticksFrame(Ticks{{0, 0, 0, 0}}), ticksFrame(std::nullopt),
                       ticksFrame(Ticks{{10, 0, 30, 0}})});
        sampler.sample();
        const SystemSnapshot failed = sampler.sample();
        QVERIFY(failed.cores.isEmpty());
        QCOMPARE(failed.cpuTotal, 0.0);
        QCOMPARE(sampler.sample().cores, QList<double>{25});
    }

    void networkRates_data()
    {
        QTest::addColumn<Interfaces>("before");
        QTest::addColumn<quint64>("beforeClock");
        QTest::addColumn<Interfaces>("after");
        QTest::addColumn<quint64>("afterClock");
        QTest::addColumn<double>("down");
        QTest::addColumn<double>("up");
        QTest::newRow("over two seconds")
            << Interfaces{{"eth0", false, 1000, 500}} << quint64(1'000'000'000)
            << Interfaces{{"eth0", false, 3000, 1500}} << quint64(3'000'000'000) << 1000.0 << 500.0;
        QTest::newRow("interfaces add up")
            << Interfaces{{"eth0", false, 0, 0}, {"wlan0", false, 0, 0}} << quint64(1)
            << Interfaces{{"eth0", false, 100, 10}, {"wlan0", false, 200, 20}}
            << quint64(1'000'000'001) << 300.0 << 30.0;
        QTest::newRow("received counter went back")
            << Interfaces{{"eth0", false, 5000, 100}} << quint64(0)
            << Interfaces{{"eth0", false, 1000, 300}} << quint64(1'000'000'000) << 0.0 << 200.0;
        QTest::newRow("loopback never counted")
            << Interfaces{{"lo", true, 0, 0}, {"eth0", false, 0, 0}} << quint64(0)
            << Interfaces{{"lo", true, 1'000'000, 1'000'000}, {"eth0", false, 10, 20}}
            << quint64(1'000'000'000) << 10.0 << 20.0;
        QTest::newRow("loopback going back does not matter")
            << Interfaces{{"lo", true, 1'000'000, 0}, {"eth0", false, 0, 0}} << quint64(0)
            << Interfaces{{"lo", true, 0, 0}, {"eth0", false, 10, 20}} << quint64(1'000'000'000)
            << 10.0 << 20.0;
        QTest::newRow("clock did not advance")
            << Interfaces{{"eth0", false, 0, 0}} << quint64(7)
            << Interfaces{{"eth0", false, 100, 100}} << quint64(7) << 0.0 << 0.0;
    }

    void networkRates()
    {
        QFETCH(Interfaces, before);
        QFETCH(quint64, beforeClock);
        QFETCH(Interfaces, after);
        QFETCH(quint64, afterClock);
        QFETCH(double, down);
        QFETCH(double, up);
        SystemSampler sampler =
            samplerOf({netFrame(before, beforeClock), netFrame(after, afterClock)});
        const SystemSnapshot first = sampler.sample();
        QCOMPARE(first.netDown, 0.0);
        QCOMPARE(first.netUp, 0.0);
        const SystemSnapshot second = sampler.sample();
        QVERIFY2(near(second.netDown, down), qPrintable(QString::number(second.netDown)));
        QVERIFY2(near(second.netUp, up), qPrintable(QString::number(second.netUp)));
    }

    void failedInterfaceReadKeepsThePreviousTotals()
    {
        SystemSampler sampler =
            samplerOf({netFrame(Interfaces{{"eth0", false, 0, 0}}, 1'000'000'000),
                       netFrame(std::nullopt, 2'000'000'000),
                       netFrame(Interfaces{{"eth0", false, 400, 200}}, 3'000'000'000)});
        sampler.sample();
        QCOMPARE(sampler.sample().netDown, 0.0);
        const SystemSnapshot third = sampler.sample();
        QCOMPARE(third.netDown, 200.0);
        QCOMPARE(third.netUp, 100.0);
    }

    void memory_data()
    {
        QTest::addColumn<std::optional<VmPageCounts>>("pages");
        QTest::addColumn<quint64>("app");
        QTest::addColumn<quint64>("wired");
        QTest::addColumn<quint64>("compressed");
        QTest::addColumn<quint64>("cached");
        QTest::newRow("mapped") << std::optional(VmPageCounts{100, 10, 20, 5, 50})
                                << quint64(90 * 4096) << quint64(20 * 4096) << quint64(5 * 4096)
                                << quint64(60 * 4096);
        QTest::newRow("purgeable above internal")
            << std::optional(VmPageCounts{10, 30, 1, 0, 2}) << quint64(0) << quint64(4096)
            << quint64(0) << quint64(32 * 4096);
        QTest::newRow("purgeable equal to internal")
            << std::optional(VmPageCounts{10, 10, 0, 0, 0}) << quint64(0) << quint64(0)
            << quint64(0) << quint64(10 * 4096);
        QTest::newRow("statistics unreadable") << std::optional<VmPageCounts>() << quint64(0)
                                               << quint64(0) << quint64(0) << quint64(0);
    }

    void memory()
    {
        QFETCH(std::optional<VmPageCounts>, pages);
        QFETCH(quint64, app);
        QFETCH(quint64, wired);
        QFETCH(quint64, compressed);
        QFETCH(quint64, cached);
        Frame frame;
        frame.physical = 1'000'000;
        frame.pages = pages;
        SystemSampler sampler = samplerOf({frame});
        const MemoryInfo memory = sampler.sample().memory;
        QCOMPARE(memory.total, quint64(1'000'000));
        QCOMPARE(memory.app, app);
        QCOMPARE(memory.wired, wired);
        QCOMPARE(memory.compressed, compressed);
        QCOMPARE(memory.cached, cached);
        QCOMPARE(memory.used(), app + wired + compressed);
    }

    void swapAndPressure()
    {
        Frame unreadable;
        Frame readable;
        readable.swap = SwapUsage{2000, 500};
        readable.pressure = 4;
        SystemSampler sampler = samplerOf({unreadable, readable});
        const MemoryInfo none = sampler.sample().memory;
        QCOMPARE(none.swapTotal, quint64(0));
        QCOMPARE(none.swapUsed, quint64(0));
        QCOMPARE(none.pressure, 1);
        QCOMPARE(none.usedFraction(), 0.0);
        const MemoryInfo some = sampler.sample().memory;
        QCOMPARE(some.swapTotal, quint64(2000));
        QCOMPARE(some.swapUsed, quint64(500));
        QCOMPARE(some.pressure, 4);
    }

    void battery_data()
    {
        QTest::addColumn<std::optional<Sources>>("sources");
        QTest::addColumn<std::optional<BatteryInfo>>("expected");
        QVariantMap full = batteryMap(57, 60);
        full.insert("Is Charging", true);
        full.insert("Power Source State", QStringLiteral("AC Power"));
        full.insert("Time to Empty", 0);
        QTest::newRow("57 of 60") << std::optional(Sources{full})
                                  << std::optional(BatteryInfo{95, true, true, std::nullopt});
        QTest::newRow("above 100 not clamped") << std::optional(Sources{batteryMap(120, 100)})
                                               << std::optional(BatteryInfo{120, false, false, {}});
        QVariantMap calculating = batteryMap(50, 100);
        calculating.insert("Time to Empty", -1);
        calculating.insert("Power Source State", QStringLiteral("Battery Power"));
        QTest::newRow("time to empty -1") << std::optional(Sources{calculating})
                                          << std::optional(BatteryInfo{50, false, false, {}});
        QVariantMap draining = batteryMap(qlonglong(40), qlonglong(80));
        draining.insert("Time to Empty", qlonglong(95));
        draining.insert("Is Charging", 1); // not a boolean
        QTest::newRow("time to empty 95")
            << std::optional(Sources{draining}) << std::optional(BatteryInfo{50, false, false, 95});
        QTest::newRow("UPS ignored")
            << std::optional(Sources{batteryMap(50, 100, "UPS")}) << std::optional<BatteryInfo>();
        QTest::newRow("first internal battery")
            << std::optional(Sources{batteryMap(10, 100, "UPS"), QVariant(), QVariant("text"),
                                     QVariantMap(), batteryMap(5, 0),
                                     batteryMap(QStringLiteral("57"), 100), batteryMap(5.0, 10),
                                     batteryMap(10, 20), batteryMap(30, 40)})
            << std::optional(BatteryInfo{50, false, false, {}});
        QTest::newRow("type not a string")
            << std::optional(Sources{batteryMap(1, 2, 7)}) << std::optional<BatteryInfo>();
        QTest::newRow("no sources") << std::optional(Sources{}) << std::optional<BatteryInfo>();
        QTest::newRow("information absent")
            << std::optional<Sources>() << std::optional<BatteryInfo>();
    }

    void battery()
    {
        QFETCH(std::optional<Sources>, sources);
        QFETCH(std::optional<BatteryInfo>, expected);
        Frame frame;
        frame.power = sources;
        SystemSampler sampler = samplerOf({frame});
        const std::optional<BatteryInfo> info = sampler.sample().battery;
        QCOMPARE(bool(info), bool(expected));
        if (!expected) return;
        QCOMPARE(info->percent, expected->percent);
        QCOMPARE(info->charging, expected->charging);
        QCOMPARE(info->onAC, expected->onAC);
        QCOMPARE(info->minutesLeft, expected->minutesLeft);
    }

    void loadAverage()
    {
        Frame with;
        with.load = std::array<double, 3>{0.5, 0.25, 0.125};
        SystemSampler sampler = samplerOf({with, Frame()});
        QCOMPARE(sampler.sample().load, (std::array<double, 3>{0.5, 0.25, 0.125}));
        QCOMPARE(sampler.sample().load, (std::array<double, 3>{0, 0, 0}));
    }

    void processRates()
    {
        const quint64 second = 1'000'000'000;
        SystemSampler sampler = samplerOf(
            {processFrame(QList<ProcessUsage>{usage(10, 100, 0), usage(12, 500, 0), usage(14, 0, 0),
                                              usage(15, 10, 0, "old", 1)},
                          second),
             processFrame(QList<ProcessUsage>{usage(10, 130, 20), usage(11, 900, 0),
                                              usage(12, 400, 0), usage(14, 300, 0),
                                              usage(15, 50, 0, "new", 2), usage(0, 1, 1),
                                              usage(-3, 1, 1)},
                          2 * second)});
        sampler.sample();
        const SystemSnapshot snapshot = sampler.sample();
        QCOMPARE(snapshot.processes.size(), 5);
        QCOMPARE(findPid(snapshot, 10)->cpu, 50.0);  // 50 ticks of 10 ms in one second
        QCOMPARE(findPid(snapshot, 11)->cpu, 0.0);   // seen for the first time
        QCOMPARE(findPid(snapshot, 12)->cpu, 0.0);   // CPU time went backwards
        QCOMPARE(findPid(snapshot, 14)->cpu, 300.0); // several threads
        QCOMPARE(findPid(snapshot, 15)->cpu, 0.0);   // its pid now names another process
        QCOMPARE(findPid(snapshot, 10)->memory, quint64(4096));
        QCOMPARE(findPid(snapshot, 10)->startTime, std::optional<quint64>(1));
    }

    void processOrderAndNames()
    {
        SystemSampler sampler = samplerOf(
            {processFrame(QList<ProcessUsage>{usage(123, 0, 0, ""), usage(5, 0, 0, "Xin chào"),
                                              usage(6, 0, 0,
                                                    "bad\xff\xfe"
                                                    "byte"),
                                              usage(7, 0, 0, QByteArray("cut\0here", 8)),
                                              usage(8, 0, 0, QByteArray("\0lead", 5))},
                          1)});
        const SystemSnapshot snapshot = sampler.sample();
        QStringList names;
        for (const ProcessStat& stat : snapshot.processes)
            names << stat.name;
        QCOMPARE(names, (QStringList{"pid 123", "Xin chào",
                                     QString::fromUtf8("bad\xff\xfe"
                                                       "byte"),
                                     "cut", "pid 8"}));
        QVERIFY(names[2].contains(QChar::ReplacementCharacter));
    }

    void processPassThatFailsChangesNothing()
    {
        const quint64 second = 1'000'000'000;
        SystemSampler sampler =
            samplerOf({processFrame(QList<ProcessUsage>{usage(10, 0, 0)}, second),
                       processFrame(std::nullopt, 2 * second),
                       processFrame(QList<ProcessUsage>{usage(10, 100, 0)}, 3 * second)});
        sampler.sample();
        QVERIFY(sampler.sample().processes.isEmpty());
        QCOMPARE(sampler.sample().processes[0].cpu, 50.0); // measured over both seconds
    }

    void processGoneAndBackStartsAgain()
    {
        const quint64 second = 1'000'000'000;
        SystemSampler sampler = samplerOf(
            {processFrame(QList<ProcessUsage>{usage(10, 0, 0), usage(11, 0, 0)}, second),
             processFrame(QList<ProcessUsage>{usage(11, 0, 0)}, 2 * second),
             processFrame(QList<ProcessUsage>{usage(10, 100, 0), usage(11, 0, 0)}, 3 * second)});
        sampler.sample();
        sampler.sample();
        QCOMPARE(findPid(sampler.sample(), 10)->cpu, 0.0);
    }

    void processClockDidNotAdvance()
    {
        SystemSampler sampler =
            samplerOf({processFrame(QList<ProcessUsage>{usage(10, 0, 0)}, 5),
                       processFrame(QList<ProcessUsage>{usage(10, 100, 0)}, 5),
                       processFrame(QList<ProcessUsage>{usage(10, 200, 0)}, 4)});
        sampler.sample();
        QCOMPARE(sampler.sample().processes[0].cpu, 0.0);
        QCOMPARE(sampler.sample().processes[0].cpu, 0.0); // clock went back: no rate either
    }

    void realSystemSharesStayInRange()
    {
        SystemSampler sampler;
        const SystemSnapshot first = sampler.sample();
        QVERIFY(!first.cores.isEmpty());
        volatile quint64 spin = 0;
        for (quint64 i = 0; i < 30'000'000; ++i)
            spin = spin + i;
        const SystemSnapshot second = sampler.sample();
        QCOMPARE(second.cores.size(), first.cores.size());
        for (const double share : {second.cpuTotal, second.cpuUser, second.cpuSystem}) {
            QVERIFY2(share >= 0 && share <= 100, qPrintable(QString::number(share)));
        }
        QVERIFY(second.cpuUser + second.cpuSystem <= second.cpuTotal + 1e-9);
        for (const double core : second.cores)
            QVERIFY2(core >= 0 && core <= 100, qPrintable(QString::number(core)));
        QVERIFY(second.memory.total > 0);
        QVERIFY(second.memory.usedFraction() > 0 && second.memory.usedFraction() <= 1);
        QVERIFY(second.netDown >= 0 && second.netUp >= 0);
        const ProcessStat* self = findPid(second, int(getpid()));
        QVERIFY(self);
        QCOMPARE(self->name, QStringLiteral("tst_system_sampler"));
        QVERIFY(self->memory > 0);
        QVERIFY(self->cpu >= 0);
    }
};

SORVI_TEST_MAIN(TestSystemSampler)
#include "tst_system_sampler.moc"
