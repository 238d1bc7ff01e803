#include "monitor/system_sampler.h"
#include "scripted_source.h"
#include "support/test_home.h"

#include <QVariantMap>
#include <unistd.h>

using Ticks = QList<ProcessorTicks>;
using Interfaces = QList<InterfaceCounters>;
using Usages = QList<ProcessUsage>;
using Sources = QList<QVariant>;

Q_DECLARE_METATYPE(std::optional<BatteryInfo>)
Q_DECLARE_METATYPE(std::optional<Sources>)
Q_DECLARE_METATYPE(Frame)

namespace {

constexpr quint64 kSecond = 1'000'000'000;

// The snapshot of the last of `frames`, one sample each (at least two).
SystemSnapshot lastOf(const QList<Frame>& frames)
{
    SystemSampler sampler(std::make_unique<ScriptedSource>(frames));
    SystemSnapshot snapshot = sampler.sample();
    for (qsizetype i = 1; i < std::max<qsizetype>(frames.size(), 2); ++i)
        snapshot = sampler.sample();
    return snapshot;
}

Frame cpu(const Ticks& value)
{
    Frame frame;
    frame.ticks = value;
    return frame;
}

// One interface "e" with these totals at `seconds`.
Frame net(quint64 rx, quint64 tx, quint64 seconds)
{
    Frame frame;
    frame.interfaces = Interfaces{{"e", false, rx, tx}};
    frame.clock = seconds * kSecond;
    return frame;
}

// The processes at `seconds`.
Frame procs(std::optional<Usages> value, quint64 seconds)
{
    Frame frame;
    frame.processes = std::move(value);
    frame.clock = seconds * kSecond;
    return frame;
}

// One tick of the scripted time base is 10 ms.
ProcessUsage usage(qint32 pid, quint64 ticks, QByteArray name = "p", quint64 start = 1)
{
    return ProcessUsage{pid, ticks, 0, 4096, std::move(name), start};
}

QVariantMap internal(QVariant current, QVariant max, const QVariantMap& more = {})
{
    QVariantMap map{
        {"Type", "InternalBattery"}, {"Current Capacity", current}, {"Max Capacity", max}};
    map.insert(more);
    return map;
}

} // namespace

class TestSystemSampler : public QObject
{
    Q_OBJECT
private slots:
    // The first call only primes the rates; the rest is filled at once. What cannot be read
    // leaves its defaults.
    void primingAndUnreadableSources()
    {
        Frame frame = cpu({{10, 10, 10, 10}, {5, 5, 5, 5}});
        frame.interfaces = Interfaces{{"eth0", false, 100, 100}};
        frame.processes = Usages{usage(5, 100)};
        frame.swap = SwapUsage{2000, 500};
        frame.pressure = 4;
        frame.load = std::array<double, 3>{0.5, 0.25, 0.125};
        SystemSampler sampler(std::make_unique<ScriptedSource>(QList{frame, Frame()}));
        const SystemSnapshot first = sampler.sample();
        QCOMPARE(first.cores, (QList<double>{0, 0}));
        QCOMPARE(first.cpuTotal + first.netDown + first.netUp, 0.0);
        QCOMPARE(first.processes, (QList<ProcessStat>{{5, "p", 0, 4096, 1}}));
        QCOMPARE(first.memory, (MemoryInfo{0, 0, 0, 0, 0, 500, 2000, 4}));
        QCOMPARE(first.load, (std::array<double, 3>{0.5, 0.25, 0.125}));
        const SystemSnapshot none = sampler.sample();
        QCOMPARE(none, SystemSnapshot());
    }

    // Differences as unsigned 32-bit subtractions; user + nice is user; each processor weighs
    // by its ticks; no ticks, a failed read or a changed processor count give zeros.
    void cpuShares_data()
    {
        QTest::addColumn<QList<Frame>>("frames");
        QTest::addColumn<QList<double>>("cores");
        QTest::addColumn<QList<double>>("shares"); // total, user, system
        const Frame one = cpu({{0, 0, 0, 0}}), two = cpu({{0, 0, 0, 0}, {0, 0, 0, 0}});
        const double wrap = 32.0 / 384 * 100; // in the order the sampler computes it
        QTest::newRow("one processor") << QList{one, cpu({{30, 10, 50, 10}})} << QList<double>{50}
                                       << QList<double>{50, 40, 10};
        QTest::newRow("wrapped past 2^32")
            << QList{cpu({{0xFFFFFFF0u, 0, 0xFFFFFF00u, 0}}), cpu({{0x10, 0, 0x60, 0}})}
            << QList<double>{wrap} << QList<double>{wrap, wrap, 0};
        QTest::newRow("no ticks") << QList{one, one} << QList<double>{0} << QList<double>{0, 0, 0};
        QTest::newRow("weighted") << QList{two, cpu({{50, 0, 50, 0}, {0, 0, 300, 0}})}
                                  << QList<double>{50, 0} << QList<double>{12.5, 12.5, 0};
        QTest::newRow("count changed") << QList{two, cpu({{5, 5, 5, 5}, {5, 5, 5, 5}, {}})}
                                       << QList<double>{0, 0, 0} << QList<double>{0, 0, 0};
        QTest::newRow("read failed")
            << QList{one, Frame()} << QList<double>{} << QList<double>{0, 0, 0};
        QTest::newRow("after a failed read") << QList{one, Frame(), cpu({{10, 0, 30, 0}})}
                                             << QList<double>{25} << QList<double>{25, 25, 0};
    }
    void cpuShares()
    {
        QFETCH(QList<Frame>, frames);
        QFETCH(QList<double>, cores);
        QFETCH(QList<double>, shares);
        const SystemSnapshot s = lastOf(frames);
        QCOMPARE(s.cores, cores);
        QCOMPARE((QList<double>{s.cpuTotal, s.cpuUser, s.cpuSystem}), shares);
    }

    // Bytes per second of every non-loopback interface; a counter that went back gives 0 for
    // its direction; a clock that did not advance gives 0; a failed read keeps the last one.
    void networkRates_data()
    {
        QTest::addColumn<QList<Frame>>("frames");
        QTest::addColumn<double>("down");
        QTest::addColumn<double>("up");
        QTest::newRow("over two seconds")
            << QList{net(1000, 500, 1), net(3000, 1500, 3)} << 1000.0 << 500.0;
        QTest::newRow("counter went back")
            << QList{net(5000, 100, 0), net(1000, 300, 1)} << 0.0 << 200.0;
        QTest::newRow("clock stood still") << QList{net(0, 0, 7), net(100, 100, 7)} << 0.0 << 0.0;
        QTest::newRow("failed in between")
            << QList{net(0, 0, 1), Frame(), net(400, 200, 3)} << 200.0 << 100.0;
        Frame more = net(0, 0, 0), later = net(100, 10, 1);
        *more.interfaces << InterfaceCounters{"w", false, 0, 0}
                         << InterfaceCounters{"lo", true, 0, 0};
        *later.interfaces << InterfaceCounters{"w", false, 200, 20}
                          << InterfaceCounters{"lo", true, 900, 900};
        QTest::newRow("interfaces add up, loopback never") << QList{more, later} << 300.0 << 30.0;
    }
    void networkRates()
    {
        QFETCH(QList<Frame>, frames);
        QFETCH(double, down);
        QFETCH(double, up);
        const SystemSnapshot s = lastOf(frames);
        QCOMPARE(s.netDown, down);
        QCOMPARE(s.netUp, up);
    }

    void memory()
    {
        const auto memoryOf = [](std::optional<VmPageCounts> pages) {
            Frame frame;
            frame.physical = 1'000'000;
            frame.pages = pages;
            return lastOf({frame}).memory;
        };
        const quint64 page = 4096;
        QCOMPARE(memoryOf(VmPageCounts{100, 10, 20, 5, 50}),
                 (MemoryInfo{1'000'000, 90 * page, 20 * page, 5 * page, 60 * page}));
        // Purgeable pages above the internal ones: no application memory.
        QCOMPARE(memoryOf(VmPageCounts{10, 30, 1, 0, 2}),
                 (MemoryInfo{1'000'000, 0, 1 * page, 0, 32 * page}));
        QCOMPARE(memoryOf(std::nullopt), (MemoryInfo{1'000'000}));
    }

    // The first internal battery whose capacities are integers, the maximum at least 1.
    void battery_data()
    {
        QTest::addColumn<std::optional<Sources>>("sources");
        QTest::addColumn<std::optional<BatteryInfo>>("expected");
        const QVariantMap ups = internal(10, 100, {{"Type", "UPS"}});
        const QVariantMap full = internal(
            57, 60,
            {{"Is Charging", true}, {"Power Source State", "AC Power"}, {"Time to Empty", 0}});
        const QVariantMap draining =
            internal(qlonglong(40), qlonglong(80), {{"Time to Empty", 95}, {"Is Charging", 1}});
        QTest::newRow("57 of 60, on AC, no time")
            << std::optional(Sources{full}) << std::optional(BatteryInfo{95, true, true, {}});
        QTest::newRow("above 100, calculating")
            << std::optional(Sources{internal(120, 100, {{"Time to Empty", -1}})})
            << std::optional(BatteryInfo{120, false, false, {}});
        QTest::newRow("95 minutes")
            << std::optional(Sources{draining}) << std::optional(BatteryInfo{50, false, false, 95});
        QTest::newRow("first usable internal one")
            << std::optional(Sources{ups, QVariant(), QVariant("x"), QVariantMap(), internal(5, 0),
                                     internal("57", 100), internal(5.0, 10), internal(10, 20)})
            << std::optional(BatteryInfo{50, false, false, {}});
        QTest::newRow("only a UPS") << std::optional(Sources{ups}) << std::optional<BatteryInfo>();
        QTest::newRow("unreadable") << std::optional<Sources>() << std::optional<BatteryInfo>();
    }
    void battery()
    {
        QFETCH(std::optional<Sources>, sources);
        QFETCH(std::optional<BatteryInfo>, expected);
        Frame frame;
        frame.power = sources;
        QCOMPARE(lastOf({frame}).battery, expected);
    }

    // Percent of one processor since the last pass (above 100 for several threads); 0 for a
    // newcomer, for CPU time that went back, for a pid that now names another process, and when
    // the clock did not advance.
    void processShares_data()
    {
        QTest::addColumn<QList<Frame>>("frames");
        QTest::addColumn<QList<ProcessStat>>("expected");
        const Frame start = procs(Usages{usage(10, 0), usage(11, 500), usage(12, 10, "old")}, 1);
        const auto stat = [](qint32 pid, double cpu) {
            return ProcessStat{pid, "p", cpu, 4096, 1};
        };
        QTest::newRow("shares") << QList{start,
                                         procs(Usages{usage(10, 150), usage(13, 900),
                                                      usage(11, 400), usage(12, 50, "new", 2),
                                                      usage(14, 300), usage(0, 1)},
                                               2)}
                                << QList{stat(10, 150), stat(13, 0), stat(11, 0),
                                         ProcessStat{12, "new", 0, 4096, 2}, stat(14, 0)};
        QTest::newRow("across a failed listing")
            << QList{start, procs(std::nullopt, 2), procs(Usages{usage(10, 100)}, 3)}
            << QList{stat(10, 50)};
        QTest::newRow("gone and back starts again")
            << QList{start, procs(Usages{usage(11, 500)}, 2), procs(Usages{usage(10, 100)}, 3)}
            << QList{stat(10, 0)};
        QTest::newRow("clock did not advance")
            << QList{start, procs(Usages{usage(10, 100)}, 1)} << QList{stat(10, 0)};
        QTest::newRow("clock went back")
            << QList{start, procs(Usages{usage(10, 100)}, 1), procs(Usages{usage(10, 200)}, 0)}
            << QList{stat(10, 0)};
    }
    void processShares()
    {
        QFETCH(QList<Frame>, frames);
        QFETCH(QList<ProcessStat>, expected);
        QCOMPARE(lastOf(frames).processes, expected);
    }

    // Names are repaired UTF-8 up to the first NUL; an empty one becomes "pid " + the pid.
    void processNames()
    {
        const QByteArray bad = "bad\xff\xfe";
        const SystemSnapshot s = lastOf({procs(
            Usages{usage(123, 0, ""), usage(5, 0, "Xin chào"), usage(6, 0, bad),
                   usage(7, 0, QByteArray("cut\0here", 8)), usage(8, 0, QByteArray("\0x", 2))},
            1)});
        QStringList names;
        for (const ProcessStat& stat : s.processes)
            names << stat.name;
        QCOMPARE(names,
                 (QStringList{"pid 123", "Xin chào", QString::fromUtf8(bad), "cut", "pid 8"}));
    }

    // The real system: shares within 0–100, our own process listed.
    void realSystem()
    {
        SystemSampler sampler;
        sampler.sample();
        const SystemSnapshot s = sampler.sample();
        QVERIFY(!s.cores.isEmpty());
        for (const double share : s.cores + QList<double>{s.cpuTotal, s.cpuUser, s.cpuSystem})
            QVERIFY2(share >= 0 && share <= 100, qPrintable(QString::number(share)));
        QVERIFY(s.memory.usedFraction() > 0 && s.memory.usedFraction() <= 1);
        QVERIFY(std::any_of(s.processes.begin(), s.processes.end(), [](const ProcessStat& p) {
            return p.pid == getpid() && p.name == "tst_system_sampler" && p.memory > 0;
        }));
    }
};

SORVI_TEST_MAIN(TestSystemSampler)
#include "tst_system_sampler.moc"
