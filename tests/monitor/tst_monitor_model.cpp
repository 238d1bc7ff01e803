#include "monitor/monitor_model.h"
#include "platform/error_text.h"
#include "platform/process_signal.h"
#include "scripted_source.h"
#include "support/await.h"
#include "support/child_process.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QSignalSpy>
#include <QThread>
#include <cerrno>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(ProcessSort)

namespace {

struct Proc
{
    qint32 pid;
    quint64 percent; // CPU ticks of 10 ms per one-second sample
    quint64 memory;
};

// Frame i: i percent of the memory in use, load average i, the clock at i + 1 seconds, and
// each process `percent` ticks further than in frame i - 1.
Frame frameOf(int i, const QList<Proc>& processes, quint64 physical = 409600)
{
    Frame frame;
    frame.physical = physical;
    frame.pages = VmPageCounts{quint64(i), 0, 0, 0, 0};
    frame.load = std::array<double, 3>{double(i), 0, 0};
    frame.clock = quint64(i + 1) * 1'000'000'000;
    frame.processes.emplace();
    for (const Proc& p : processes)
        frame.processes->append({p.pid, p.percent * quint64(i), 0, p.memory, "p", 1});
    return frame;
}

// A model sampling a scripted source every 5 ms; `taken` counts the samples.
struct Rig
{
    explicit Rig(const QList<Proc>& processes = {}, quint64 physical = 409600)
    {
        auto source = std::make_unique<ScriptedSource>(
            [=](int i) { return frameOf(i, processes, physical); });
        taken = source->taken;
        model = std::make_unique<MonitorModel>(std::move(source), 5ms);
    }
    // Starts sampling until `count` snapshots were applied, then stops and waits for the end.
    bool sampleAndStop(int count = 1)
    {
        QSignalSpy applied(model.get(), &MonitorModel::snapshotChanged);
        QSignalSpy finished(model.get(), &MonitorModel::samplingLoopFinished);
        model->start();
        const bool sampled = Await::signal(applied, "snapshots", count);
        model->stop();
        return sampled && Await::signal(finished, "the end of the sampling loop");
    }
    std::shared_ptr<std::atomic<int>> taken;
    std::unique_ptr<MonitorModel> model;
};

QList<qint32> pidsOf(const QList<ProcessStat>& list)
{
    QList<qint32> pids;
    for (const ProcessStat& stat : list)
        pids << stat.pid;
    return pids;
}

ProcessStat statOf(pid_t pid)
{
    const auto identity = ProcessSignal::identify(pid);
    return {pid, "sleep", 0, 0, identity ? std::optional(identity->startTime) : std::nullopt};
}

} // namespace

class TestMonitorModel : public QObject
{
    Q_OBJECT
private slots:
    // Watchers are counted and never below zero: the loop runs from the first start to the
    // stop that leaves none, and its end is announced.
    void startsAndStopsAreCounted()
    {
        Rig rig;
        QSignalSpy sampling(rig.model.get(), &MonitorModel::samplingChanged);
        QSignalSpy finished(rig.model.get(), &MonitorModel::samplingLoopFinished);
        rig.model->stop();
        rig.model->start();
        rig.model->start();
        rig.model->stop();
        QVERIFY(rig.model->isSampling());
        AWAIT_UNTIL(rig.model->history().size() >= 2, "two samples");
        rig.model->stop();
        QVERIFY(!rig.model->isSampling());
        QCOMPARE(sampling.count(), 2);
        AWAIT_SIGNAL(finished, "the end of the sampling loop");
        rig.model->stop();
        QCOMPARE(sampling.count(), 2);
    }

    // The first sample after every start only primes the counters; the history survives a stop.
    void firstSampleAfterEachStartIsDiscarded()
    {
        Rig rig;
        QVERIFY(rig.sampleAndStop());
        QCOMPARE(rig.model->history().first().memory, 1.0); // frame 0 primed
        const int primedNext = rig.taken->load();
        const qsizetype points = rig.model->history().size();
        QVERIFY(rig.sampleAndStop());
        QCOMPARE(rig.model->history().value(points).memory, double(primedNext + 1));
    }

    // 61 samples leave the last 60 points, the oldest dropped in one step.
    void historyKeepsTheLastSixtyPoints()
    {
        Rig rig;
        QList<HistoryPoint> points;
        QSignalSpy removed(rig.model.get(), &MonitorModel::historyPointsRemoved);
        connect(rig.model.get(), &MonitorModel::historyPointAppended, this,
                [&](const HistoryPoint& point) {
                    points << point;
                    if (points.size() == 61) rig.model->stop();
                });
        QSignalSpy finished(rig.model.get(), &MonitorModel::samplingLoopFinished);
        rig.model->start();
        AWAIT_SIGNAL(finished, "61 samples");
        QCOMPARE(rig.model->history(), points.mid(1));
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.first().first().toInt(), 1);
        for (qsizetype i = 0; i < points.size(); ++i)
            QCOMPARE(points[i].memory, double(i + 1)); // frame i + 1: i + 1 percent in use
        QVERIFY(!points[0].id.isNull() && points[0].id != points[1].id);
        QVERIFY(points[0].time.isValid() && points[0].time <= points[60].time);

        Rig noMemory({}, 0);
        QVERIFY(noMemory.sampleAndStop());
        QCOMPARE(noMemory.model->history().first().memory, 0.0);
    }

    // Equal CPU: larger memory first; equal on both: the sampler's order stays. At most 25;
    // a new order applies at once.
    void topProcesses_data()
    {
        QTest::addColumn<ProcessSort>("sort");
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<qint32>>("expected");
        QTest::newRow("cpu") << ProcessSort::cpu << 5 << QList<qint32>{103, 102, 101, 104, 105};
        QTest::newRow("memory") << ProcessSort::memory << 5
                                << QList<qint32>{102, 104, 105, 101, 103};
        QTest::newRow("30 processes") << ProcessSort::cpu << 30 << QList<qint32>{130, 129};
        QTest::newRow("25 processes") << ProcessSort::cpu << 25 << QList<qint32>{125, 124};
    }
    void topProcesses()
    {
        QFETCH(ProcessSort, sort);
        QFETCH(int, count);
        QFETCH(QList<qint32>, expected);
        QList<Proc> processes{
            {101, 5, 100}, {102, 5, 300}, {103, 10, 50}, {104, 0, 300}, {105, 0, 300}};
        for (int pid = 106; pid <= 100 + count; ++pid)
            processes.append({pid, quint64(pid), 1000});
        Rig rig(processes.first(count));
        QVERIFY(rig.sampleAndStop());
        QList<qint32> top = pidsOf(rig.model->topProcesses());
        QCOMPARE(top.size(), std::min(count, 25));
        rig.model->setProcessSort(sort);
        top = pidsOf(rig.model->topProcesses());
        QCOMPARE(top.first(expected.size()), expected);
    }

    void processSortTitles()
    {
        QCOMPARE(allProcessSorts(), (QList<ProcessSort>{ProcessSort::cpu, ProcessSort::memory}));
        QCOMPARE(title(ProcessSort::cpu), QStringLiteral("CPU"));
        QCOMPARE(title(ProcessSort::memory), QStringLiteral("Bộ nhớ"));
        QCOMPARE(processSortFromTitle("Bộ nhớ"), std::optional(ProcessSort::memory));
        for (const char* other : {"cpu", "Bộ nhớ ", "memory", ""})
            QVERIFY2(!processSortFromTitle(QString::fromUtf8(other)), other);
    }

    // Samples are taken off the GUI thread, whose event loop keeps turning meanwhile; a model
    // destroyed while sampling lets its loop end.
    void samplesRunOffTheGuiThread()
    {
        auto onGuiThread = std::make_shared<std::atomic<int>>(0);
        auto source = std::make_unique<ScriptedSource>([onGuiThread](int i) {
            onGuiThread->fetch_add(QThread::currentThread() ==
                                   QCoreApplication::instance()->thread());
            QThread::msleep(20); // a slow sample
            return frameOf(i, {});
        });
        const std::weak_ptr<std::atomic<int>> alive = source->taken; // dies with the source
        auto model = std::make_unique<MonitorModel>(std::move(source), 5ms);
        QSignalSpy applied(model.get(), &MonitorModel::snapshotChanged);
        Await::LoopTicker ticker;
        model->start();
        AWAIT_UNTIL(applied.count() >= 2, "two slow samples");
        QCOMPARE(onGuiThread->load(), 0);
        QVERIFY(ticker.ticks() > 2);
        model.reset();
        AWAIT_UNTIL(alive.expired(), "the loop of a destroyed model to end");
    }

    // SIGTERM only to the process that was sampled; every refusal is a message with the
    // system's text.
    void quit_data()
    {
        QTest::addColumn<int>("shape");
        QTest::addColumn<int>("error"); // 0: no message
        QTest::newRow("honours SIGTERM") << 0 << 0;
        QTest::newRow("has ended") << 1 << ESRCH;
        QTest::newRow("pid now names another process") << 2 << ESRCH;
        QTest::newRow("ourselves") << 3 << EPERM;
    }
    void quit()
    {
        QFETCH(int, shape);
        QFETCH(int, error);
        const pid_t pid = startSleeper();
        QVERIFY(pid > 0);
        ProcessStat stat = statOf(pid);
        if (shape == 1) killAndReap(pid);
        if (shape == 2) *stat.startTime -= 1; // as if the pid had been reused
        if (shape == 3)
            stat = {getpid(), "sleep", 0, 0, ProcessSignal::identify(getpid())->startTime};
        Rig rig;
        rig.model->quit(stat);
        if (error == 0) {
            QVERIFY(!rig.model->message());
            QVERIFY(endedBySigterm(pid));
            return;
        }
        QCOMPARE(rig.model->message(), "Không thoát được sleep: " + ErrorText::ofErrno(error));
        QVERIFY(shape == 1 || stillRunning(pid));
        if (shape != 1) killAndReap(pid);
        rig.model->clearMessage();
        QVERIFY(!rig.model->message());
    }
};

SORVI_TEST_MAIN(TestMonitorModel)
#include "tst_monitor_model.moc"
