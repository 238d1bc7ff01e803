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
Q_DECLARE_METATYPE(Frame)

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
    void primingCallHasNoRatesAndUnreadableMeansDefaults()
    {
        Frame frame = ticksFrame(Ticks{{10, 10, 10, 10}, {5, 5, 5, 5}});
        frame.interfaces = Interfaces{{"eth0", false, 100, 100}};
        frame.processes = QList<ProcessUsage>{usage(5, 100, 100)};
        frame.clock = 5'000'000'000;
        frame.swap = SwapUsage{2000, 500};
        frame.pressure = 4;
        frame.load = std::array<double, 3>{0.5, 0.25, 0.125};
        SystemSampler sampler = samplerOf({frame, Frame()});
        const SystemSnapshot first = sampler.sample();
        QCOMPARE(first.cores, (QList<double>{0, 0}));
        QCOMPARE(first.cpuTotal, 0.0);
        QCOMPARE(first.netDown, 0.0);
        QCOMPARE(first.processes, (QList<ProcessStat>{{5, "proc", 0, 4096, 1}}));
        QCOMPARE(first.memory, (MemoryInfo{0, 0, 0, 0, 0, 500, 2000, 4}));
        QCOMPARE(first.load, (std::array<double, 3>{0.5, 0.25, 0.125}));
        const SystemSnapshot none = sampler.sample();
        QCOMPARE(none.memory, MemoryInfo());
        QCOMPARE(none.memory.usedFraction(), 0.0);
        QCOMPARE(none.load, (std::array<double, 3>{0, 0, 0}));
    }

    void cpuShares_data()
    {
        QTest::addColumn<QList<Frame>>("frames");
        QTest::addColumn<QList<double>>("cores");
        QTest::addColumn<double>("total");
        QTest::addColumn<double>("user");
        QTest::addColumn<double>("system");
        // user and nice count as user; idle completes the total.
        QTest::newRow("one processor") << QList{ticksFrame(Ticks{{0, 0, 0, 0}}),
                                               ticksFrame(Ticks{{30, 10, 50, 10}})}
                                       << QList<double>{50} << 50.0 << 40.0 << 10.0;
        const double wrapped = 100.0 * 32 / 384;
        QTest::newRow("wrapped past 2^32")
            << QList{ticksFrame(Ticks{{0xFFFFFFF0u, 0, 0xFFFFFF00u, 0}}),
                     ticksFrame(Ticks{{0x10, 0, 0x60, 0}})}
            << QList<double>{wrapped} << wrapped << wrapped << 0.0;
        QTest::newRow("ticks did not move")
            << QList{ticksFrame(Ticks{{7, 7, 7, 7}})} << QList<double>{0} << 0.0 << 0.0 << 0.0;
        QTest::newRow("weighted by ticks")
            << QList{ticksFrame(Ticks{{0, 0, 0, 0}, {0, 0, 0, 0}}),
                     ticksFrame(Ticks{{50, 0, 50, 0}, {0, 0, 300, 0}})}
            << QList<double>{50, 0} << 12.5 << 12.5 << 0.0;
        const QList<Frame> growing{ticksFrame(Ticks{{0, 0, 0, 0}, {0, 0, 0, 0}}),
                                   ticksFrame(Ticks{{5, 5, 5, 5}, {5, 5, 5, 5}, {1, 1, 1, 1}}),
                                   ticksFrame(Ticks{{5, 5, 5, 5}, {5, 5, 5, 5}, {3, 1, 1, 1}})};
        QTest::newRow("processor count changed")
            << growing.first(2) << QList<double>{0, 0, 0} << 0.0 << 0.0 << 0.0;
        QTest::newRow("after the count changed")
            << growing << QList<double>{0, 0, 100} << 100.0 << 100.0 << 0.0;
        const QList<Frame> failing{ticksFrame(Ticks{{0, 0, 0, 0}}), ticksFrame(std::nullopt),
                                   ticksFrame(Ticks{{10, 0, 30, 0}})};
        QTest::newRow("read failed") << failing.first(2) << QList<double>{} << 0.0 << 0.0 << 0.0;
        QTest::newRow("after a failed read")
            << failing << QList<double>{25} << 25.0 << 25.0 << 0.0;
    }

    void cpuShares()
    {
        QFETCH(QList<Frame>, frames);
        QFETCH(QList<double>, cores);
        QFETCH(double, total);
        QFETCH(double, user);
        QFETCH(double, system);
        SystemSampler sampler = samplerOf(frames);
        SystemSnapshot snapshot = sampler.sample();
        for (qsizetype i = 1; i < std::max<qsizetype>(frames.size(), 2); ++i)
            snapshot = sampler.sample();
        QCOMPARE(snapshot.cores.size(), cores.size());
        for (qsizetype i = 0; i < cores.size(); ++i)
            QVERIFY2(near(snapshot.cores[i], cores[i]),
                     qPrintable(QString::number(snapshot.cores[i])));
        QVERIFY(near(snapshot.cpuTotal, total));
        QVERIFY(near(snapshot.cpuUser, user));
        QVERIFY(near(snapshot.cpuSystem, system));
    }

    void networkRates_data()
    {
        QTest::addColumn<QList<Frame>>("frames");
        QTest::addColumn<double>("down");
        QTest::addColumn<double>("up");
        const quint64 s = 1'000'000'000;
        QTest::newRow("over two seconds")
            << QList{netFrame(Interfaces{{"eth0", false, 1000, 500}}, s),
                     netFrame(Interfaces{{"eth0", false, 3000, 1500}}, 3 * s)}
            << 1000.0 << 500.0;
        QTest::newRow("interfaces add up")
            << QList{netFrame(Interfaces{{"eth0", false, 0, 0}, {"wlan0", false, 0, 0}}, 1),
                     netFrame(Interfaces{{"eth0", false, 100, 10}, {"wlan0", false, 200, 20}},
                              s + 1)}
            << 300.0 << 30.0;
        QTest::newRow("received counter went back")
            << QList{netFrame(Interfaces{{"eth0", false, 5000, 100}}, 0),
                     netFrame(Interfaces{{"eth0", false, 1000, 300}}, s)}
            << 0.0 << 200.0;
        QTest::newRow("loopback never counted")
            << QList{netFrame(Interfaces{{"lo", true, 0, 1'000'000}, {"eth0", false, 0, 0}}, 0),
                     netFrame(Interfaces{{"lo", true, 1'000'000, 0}, {"eth0", false, 10, 20}}, s)}
            << 10.0 << 20.0;
        QTest::newRow("clock did not advance")
            << QList{netFrame(Interfaces{{"eth0", false, 0, 0}}, 7),
                     netFrame(Interfaces{{"eth0", false, 100, 100}}, 7)}
            << 0.0 << 0.0;
        QTest::newRow("read failed in between")
            << QList{netFrame(Interfaces{{"eth0", false, 0, 0}}, s), netFrame(std::nullopt, 2 * s),
                     netFrame(Interfaces{{"eth0", false, 400, 200}}, 3 * s)}
            << 200.0 << 100.0;
    }

    void networkRates()
    {
        QFETCH(QList<Frame>, frames);
        QFETCH(double, down);
        QFETCH(double, up);
        SystemSampler sampler = samplerOf(frames);
        SystemSnapshot snapshot = sampler.sample();
        QCOMPARE(snapshot.netDown, 0.0);
        QCOMPARE(snapshot.netUp, 0.0);
        for (qsizetype i = 1; i < frames.size(); ++i) {
            snapshot = sampler.sample();
            if (i + 1 < frames.size()) QCOMPARE(snapshot.netDown, 0.0);
        }
        QVERIFY2(near(snapshot.netDown, down), qPrintable(QString::number(snapshot.netDown)));
        QVERIFY2(near(snapshot.netUp, up), qPrintable(QString::number(snapshot.netUp)));
    }

    void memory_data()
    {
        QTest::addColumn<std::optional<VmPageCounts>>("pages");
        QTest::addColumn<QList<quint64>>("expected"); // app, wired, compressed, cached in pages
        QTest::newRow("mapped") << std::optional(VmPageCounts{100, 10, 20, 5, 50})
                                << QList<quint64>{90, 20, 5, 60};
        QTest::newRow("purgeable above internal")
            << std::optional(VmPageCounts{10, 30, 1, 0, 2}) << QList<quint64>{0, 1, 0, 32};
        QTest::newRow("unreadable") << std::optional<VmPageCounts>() << QList<quint64>{0, 0, 0, 0};
    }

    void memory()
    {
        QFETCH(std::optional<VmPageCounts>, pages);
        QFETCH(QList<quint64>, expected);
        Frame frame;
        frame.physical = 1'000'000;
        frame.pages = pages;
        SystemSampler sampler = samplerOf({frame});
        const MemoryInfo memory = sampler.sample().memory;
        QCOMPARE(memory, (MemoryInfo{1'000'000, expected[0] * 4096, expected[1] * 4096,
                                     expected[2] * 4096, expected[3] * 4096}));
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
        QTest::newRow("first internal battery")
            << std::optional(Sources{batteryMap(10, 100, "UPS"), QVariant(), QVariant("text"),
                                     QVariantMap(), batteryMap(5, 0),
                                     batteryMap(QStringLiteral("57"), 100), batteryMap(5.0, 10),
                                     batteryMap(10, 20), batteryMap(30, 40)})
            << std::optional(BatteryInfo{50, false, false, {}});
        QTest::newRow("only a UPS and a malformed entry")
            << std::optional(Sources{batteryMap(50, 100, "UPS"), batteryMap(1, 2, 7)})
            << std::optional<BatteryInfo>();
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
        QCOMPARE(sampler.sample().battery, expected);
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
        QCOMPARE(snapshot.processes,
                 (QList<ProcessStat>{{10, "proc", 50, 4096, 1},  // 50 ticks of 10 ms in one second
                                     {11, "proc", 0, 4096, 1},   // seen for the first time
                                     {12, "proc", 0, 4096, 1},   // CPU time went backwards
                                     {14, "proc", 300, 4096, 1}, // several threads
                                     {15, "new", 0, 4096, 2}})); // its pid names another process
    }

    void processRateOverSeveralSamples_data()
    {
        QTest::addColumn<QList<Frame>>("frames");
        QTest::addColumn<double>("cpu"); // of pid 10 in the last sample; -1: not listed
        using Usages = QList<ProcessUsage>;
        const quint64 s = 1'000'000'000;
        const QList<Frame> failing{processFrame(Usages{usage(10, 0, 0)}, s),
                                   processFrame(std::nullopt, 2 * s),
                                   processFrame(Usages{usage(10, 100, 0)}, 3 * s)};
        QTest::newRow("listing failed") << failing.first(2) << -1.0;
        QTest::newRow("measured across a failed listing") << failing << 50.0;
        QTest::newRow("gone and back starts again")
            << QList{processFrame(Usages{usage(10, 0, 0), usage(11, 0, 0)}, s),
                     processFrame(Usages{usage(11, 0, 0)}, 2 * s),
                     processFrame(Usages{usage(10, 100, 0), usage(11, 0, 0)}, 3 * s)}
            << 0.0;
        const QList<Frame> stuck{processFrame(Usages{usage(10, 0, 0)}, 5),
                                 processFrame(Usages{usage(10, 100, 0)}, 5),
                                 processFrame(Usages{usage(10, 200, 0)}, 4)};
        QTest::newRow("clock did not advance") << stuck.first(2) << 0.0;
        QTest::newRow("clock went back") << stuck << 0.0;
    }

    void processRateOverSeveralSamples()
    {
        QFETCH(QList<Frame>, frames);
        QFETCH(double, cpu);
        SystemSampler sampler = samplerOf(frames);
        SystemSnapshot snapshot;
        for (qsizetype i = 0; i < frames.size(); ++i)
            snapshot = sampler.sample();
        const ProcessStat* stat = findPid(snapshot, 10);
        QCOMPARE(stat ? stat->cpu : -1.0, cpu);
    }

    void processOrderAndNames()
    {
        const QByteArray bad = "bad\xff\xfe";
        SystemSampler sampler = samplerOf({processFrame(
            QList<ProcessUsage>{usage(123, 0, 0, ""), usage(5, 0, 0, "Xin chào"), usage(6, 0, 0, bad),
                                usage(7, 0, 0, QByteArray("cut\0here", 8)),
                                usage(8, 0, 0, QByteArray("\0lead", 5))},
            1)});
        QStringList names;
        for (const ProcessStat& stat : sampler.sample().processes)
            names << stat.name;
        QCOMPARE(names, (QStringList{"pid 123", "Xin chào", QString::fromUtf8(bad), "cut", "pid 8"}));
        QVERIFY(names[2].contains(QChar::ReplacementCharacter));
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
        QList<double> shares = second.cores;
        shares << second.cpuTotal << second.cpuUser << second.cpuSystem;
        for (const double share : shares)
            QVERIFY2(share >= 0 && share <= 100, qPrintable(QString::number(share)));
        QVERIFY(second.cpuUser + second.cpuSystem <= second.cpuTotal + 1e-9);
        QVERIFY(second.memory.usedFraction() > 0 && second.memory.usedFraction() <= 1);
        QVERIFY(second.netDown >= 0 && second.netUp >= 0);
        const ProcessStat* self = findPid(second, int(getpid()));
        QVERIFY(self);
        QCOMPARE(self->name, QStringLiteral("tst_system_sampler"));
        QVERIFY(self->memory > 0);
    }
};

SORVI_TEST_MAIN(TestSystemSampler)
#include "tst_system_sampler.moc"
