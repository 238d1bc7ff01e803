#include "monitor/system_sampler.h"
#include "scripted_source.h"
#include "support/test_home.h"

#include <QVariantMap>

using Ticks = QList<ProcessorTicks>;
using Nets = QList<InterfaceCounters>;
using Usages = QList<ProcessUsage>;

Q_DECLARE_METATYPE(Frame)

// Rows name only the fields they are about.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

constexpr quint64 kSecond = 1'000'000'000, kPage = 4096;

// Interface "e" with these totals, plus `more`, at `seconds`.
Frame net(quint64 rx, quint64 tx, quint64 seconds, const Nets& more = {})
{
    return Frame{.interfaces = Nets{{"e", false, rx, tx}} + more, .clock = seconds * kSecond};
}

Frame procs(const Usages& usages, quint64 seconds)
{
    return Frame{.processes = usages, .clock = seconds * kSecond};
}

// `ticks` of 10 ms of CPU time so far.
ProcessUsage usage(qint32 pid, quint64 ticks, QByteArray name = "p", quint64 start = 1)
{
    return {pid, ticks, 0, kPage, std::move(name), start};
}

ProcessStat stat(qint32 pid, double cpu, const QString& name = "p", quint64 start = 1)
{
    return {pid, name, cpu, kPage, start};
}

Frame power(const QList<QVariantMap>& maps)
{
    QList<QVariant> sources{QVariant(), QVariant("x"), QVariantMap()}; // never usable
    for (const QVariantMap& map : maps)
        sources.append(map);
    return Frame{.power = sources};
}

QVariantMap internal(const QVariant& current, const QVariant& max, const QVariantMap& more = {})
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
    void sample_data()
    {
        QTest::addColumn<QList<Frame>>("frames");
        QTest::addColumn<SystemSnapshot>("expected");
        const auto row = [](const char* tag, const QList<Frame>& frames, const SystemSnapshot& e) {
            QTest::newRow(tag) << frames << e;
        };
        const auto cpu = [](const Ticks& ticks) { return Frame{.ticks = ticks}; };
        const Frame one = cpu({{0, 0, 0, 0}}), two = cpu({{0, 0, 0, 0}, {0, 0, 0, 0}});
        Frame first = procs({usage(5, 100)}, 1);
        first.ticks = Ticks{{10, 10, 10, 10}, {5, 5, 5, 5}};
        first.interfaces = Nets{{"e", false, 100, 100}};
        row("the first sample only primes the rates", {first},
            {.cores = {0, 0}, .processes = {stat(5, 0)}});
        row("nothing readable", {one, Frame()}, {});
        row("one processor, user + nice", {one, cpu({{30, 10, 50, 10}})},
            {.cpuTotal = 50, .cpuUser = 40, .cpuSystem = 10, .cores = {50}});
        const double wrap = 32.0 / 384 * 100; // in the order the sampler computes it
        row("ticks wrapped past 2^32",
            {cpu({{0xFFFFFFF0u, 0, 0xFFFFFF00u, 0}}), cpu({{0x10, 0, 0x60, 0}})},
            {.cpuTotal = wrap, .cpuUser = wrap, .cores = {wrap}});
        row("processors weigh by their ticks", {two, cpu({{50, 0, 50, 0}, {0, 0, 300, 0}})},
            {.cpuTotal = 12.5, .cpuUser = 12.5, .cores = {50, 0}});
        row("no ticks", {one, one}, {.cores = {0}});
        row("processor count changed", {two, cpu({{5, 5, 5, 5}, {5, 5, 5, 5}, {}})},
            {.cores = {0, 0, 0}});

        row("memory: each page class, swap, pressure, load",
            {Frame{.physical = 1'000'000,
                   .pages = VmPageCounts{100, 10, 20, 5, 50},
                   .swap = SwapUsage{2000, 500},
                   .pressure = 4,
                   .load = std::array<double, 3>{0.5, 0.25, 0.125}}},
            {.memory = {1'000'000, 90 * kPage, 20 * kPage, 5 * kPage, 60 * kPage, 500, 2000, 4},
             .load = {0.5, 0.25, 0.125}});
        row("memory: purgeable above internal",
            {Frame{.physical = 1'000'000, .pages = VmPageCounts{10, 30, 1, 0, 2}}},
            {.memory = {1'000'000, 0, kPage, 0, 32 * kPage}});

        const Nets before{{"lo", true, 0, 0}, {"w", false, 0, 0}},
            after{{"lo", true, 900, 900}, {"w", false, 200, 20}};
        row("network: per second, interfaces add up, loopback never",
            {net(1000, 500, 1, before), net(3000, 1500, 3, after)},
            {.netDown = 1100, .netUp = 510});
        row("network: a counter went back", {net(5000, 100, 0), net(1000, 300, 1)}, {.netUp = 200});
        row("network: the clock stood still", {net(0, 0, 7), net(100, 100, 7)}, {});

        // The first internal battery whose capacities are integers, the maximum at least 1.
        row("battery: first usable internal one",
            {power({internal(10, 100, {{"Type", "UPS"}}), internal(5, 0), internal("57", 100),
                    internal(5.0, 10), internal(10, 20)})},
            {.battery = BatteryInfo{50, false, false, {}}});
        row("battery: 57 of 60, charging on AC, no time",
            {power({internal(57, 60,
                             {{"Is Charging", true},
                              {"Power Source State", "AC Power"},
                              {"Time to Empty", 0}})})},
            {.battery = BatteryInfo{95, true, true, {}}});
        row("battery: above 100, 95 minutes, charging not a boolean",
            {power({internal(qlonglong(96), qlonglong(80),
                             {{"Time to Empty", 95}, {"Is Charging", 1}})})},
            {.battery = BatteryInfo{120, false, false, 95}});

        // Percent of one processor; 0 when new, gone back, reused, or without elapsed time.
        const Frame start = procs({usage(10, 0), usage(11, 500), usage(12, 10, "old")}, 1);
        row("processes: shares",
            {start, procs({usage(10, 150), usage(13, 900), usage(11, 400), usage(12, 50, "new", 2),
                           usage(14, 300), usage(0, 1)},
                          2)},
            {.processes = {stat(10, 150), stat(13, 0), stat(11, 0), stat(12, 0, "new", 2),
                           stat(14, 0)}});
        row("processes: gone and back starts again",
            {start, procs({usage(11, 500)}, 2), procs({usage(10, 100)}, 3)},
            {.processes = {stat(10, 0)}});
        row("processes: the clock did not advance", {start, procs({usage(10, 100)}, 1)},
            {.processes = {stat(10, 0)}});
        // Repaired UTF-8 up to the first NUL; an empty name becomes "pid " + the pid.
        const QByteArray bad = "bad\xff\xfe";
        row("processes: names",
            {procs({usage(123, 0, ""), usage(5, 0, "Xin chào"), usage(6, 0, bad),
                    usage(7, 0, QByteArray("cut\0here", 8)), usage(8, 0, QByteArray("\0x", 2))},
                   1)},
            {.processes = {stat(123, 0, "pid 123"), stat(5, 0, "Xin chào"),
                           stat(6, 0, QString::fromUtf8(bad)), stat(7, 0, "cut"),
                           stat(8, 0, "pid 8")}});
    }
    void sample()
    {
        QFETCH(QList<Frame>, frames);
        QFETCH(SystemSnapshot, expected);
        SystemSampler sampler(
            std::make_unique<ScriptedSource>([frames](int i) { return frames.value(i); }));
        SystemSnapshot last;
        for (qsizetype i = 0; i < frames.size(); ++i)
            last = sampler.sample();
        QCOMPARE(last, expected);
    }
};

SORVI_TEST_MAIN(TestSystemSampler)
#include "tst_system_sampler.moc"
