#include "monitor/monitor_model.h"
#include "platform/error_text.h"
#include "platform/process_signal.h"
#include "scripted_source.h"
#include "support/await.h"
#include "support/child_process.h"
#include "support/test_home.h"

#include <QSignalSpy>
#include <QThread>
#include <cerrno>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(ProcessSort)

namespace {

// A process using `ticks` of 10 ms of CPU time a second.
ProcessUsage rate(qint32 pid, quint64 ticks, quint64 memory)
{
    return {pid, ticks, 0, memory, "p", 1};
}

// Frame i: i percent of the memory in use, the clock at i + 1 seconds, and each process `rates`
// lists at i times its rate.
Frame frameOf(int i, const QList<ProcessUsage>& rates, quint64 physical = 409600)
{
    Frame frame;
    frame.physical = physical;
    frame.pages = VmPageCounts{quint64(i), 0, 0, 0, 0};
    frame.clock = quint64(i + 1) * 1'000'000'000;
    frame.processes.emplace();
    for (ProcessUsage usage : rates) {
        usage.userTime *= quint64(i);
        frame.processes->append(usage);
    }
    return frame;
}

// A model sampling a scripted source every 5 ms; `taken` counts the samples.
struct Rig
{
    explicit Rig(const QList<ProcessUsage>& processes = {}, quint64 physical = 409600)
    {
        auto source = std::make_unique<ScriptedSource>(
            [=](int i) { return frameOf(i, processes, physical); });
        taken = source->taken;
        model = std::make_unique<MonitorModel>(std::move(source), 5ms);
    }
    // Samples until `count` points were applied, then stops and waits for the loop to end.
    bool sampleAndStop(int count = 1)
    {
        QSignalSpy applied(model.get(), &MonitorModel::historyPointAppended);
        QSignalSpy finished(model.get(), &MonitorModel::samplingLoopFinished);
        model->start();
        const bool sampled = Await::signal(applied, "samples", count);
        model->stop();
        return sampled && Await::signal(finished, "the end of the sampling loop");
    }
    std::shared_ptr<std::atomic<int>> taken;
    std::unique_ptr<MonitorModel> model;
};

} // namespace

class TestMonitorModel : public QObject
{
    Q_OBJECT
private slots:
    // The loop runs from the first start to the stop that leaves no watcher (never below zero);
    // nothing is applied after that stop; the first sample after every start only primes.
    void samplingFollowsWatchers()
    {
        Rig rig;
        MonitorModel& model = *rig.model;
        QSignalSpy sampling(&model, &MonitorModel::samplingChanged);
        QSignalSpy finished(&model, &MonitorModel::samplingLoopFinished);
        model.stop();
        model.start();
        model.start();
        model.stop();
        AWAIT_UNTIL(model.history().size() >= 2, "two samples");
        model.stop();
        const qsizetype points = model.history().size();
        AWAIT_SIGNAL(finished, "the end of the sampling loop");
        QCOMPARE(model.history().size(), points);
        model.stop();
        QCOMPARE(sampling.count(), 2);
        QCOMPARE(model.history().first().memory, 1.0);
        const int primed = rig.taken->load();
        QVERIFY(rig.sampleAndStop());
        QCOMPARE(model.history().at(points).memory, double(primed + 1));
    }

    // 61 samples leave the last 60 points, the oldest dropped in one step.
    void historyKeepsTheLastSixtyPoints()
    {
        Rig rig;
        QList<HistoryPoint> points;
        QSignalSpy removed(rig.model.get(), &MonitorModel::historyPointsRemoved);
        connect(rig.model.get(), &MonitorModel::historyPointAppended, this,
                [&](const HistoryPoint& point) { points << point; });
        QVERIFY(rig.sampleAndStop(61));
        QCOMPARE(rig.model->history(), points.mid(points.size() - 60));
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.first().first(), QVariant(1));
        QCOMPARE(points.last().memory, double(points.size())); // frame i: i percent in use

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
    }
    void topProcesses()
    {
        QFETCH(ProcessSort, sort);
        QFETCH(int, count);
        QFETCH(QList<qint32>, expected);
        QList<ProcessUsage> processes{rate(101, 5, 100), rate(102, 5, 300), rate(103, 10, 50),
                                      rate(104, 0, 300), rate(105, 0, 300)};
        for (int pid = 106; pid <= 100 + count; ++pid)
            processes.append(rate(pid, quint64(pid), 1000));
        Rig rig(processes.first(count));
        QVERIFY(rig.sampleAndStop());
        QCOMPARE(rig.model->topProcesses().size(), std::min(count, 25));
        rig.model->setProcessSort(sort);
        QList<qint32> top;
        for (const ProcessStat& stat : rig.model->topProcesses().first(expected.size()))
            top << stat.pid;
        QCOMPARE(top, expected);
    }

    // Samples are taken off the GUI thread, whose event loop keeps turning meanwhile; a model
    // destroyed while sampling lets its loop end.
    void samplesRunOffTheGuiThread()
    {
        auto onGuiThread = std::make_shared<std::atomic<int>>(0);
        auto source = std::make_unique<ScriptedSource>([onGuiThread](int i) {
            onGuiThread->fetch_add(QThread::currentThread() == qApp->thread());
            QThread::msleep(20); // a slow sample
            return frameOf(i, {});
        });
        const std::weak_ptr<std::atomic<int>> alive = source->taken; // dies with the source
        auto model = std::make_unique<MonitorModel>(std::move(source), 5ms);
        Await::LoopTicker ticker;
        model->start();
        AWAIT_UNTIL(model->history().size() >= 2, "two slow samples");
        QCOMPARE(onGuiThread->load(), 0);
        QVERIFY(ticker.ticks() > 2);
        model.reset();
        AWAIT_UNTIL(alive.expired(), "the loop of a destroyed model to end");
    }

    // Nothing is signalled but the process that was sampled: not a newer one under its pid, not
    // this program. Each refusal is a message with the system's text. (The screen's test sends
    // the SIGTERM itself.)
    void quitRefusesOtherProcesses()
    {
        const pid_t pid = startSleeper();
        QVERIFY(pid > 0);
        Rig rig;
        rig.model->quit({pid, "sleep", 0, 0, ProcessSignal::identify(pid)->startTime - 1});
        QCOMPARE(rig.model->message(), "Không thoát được sleep: " + ErrorText::ofErrno(ESRCH));
        rig.model->quit({getpid(), "me", 0, 0, ProcessSignal::identify(getpid())->startTime});
        QCOMPARE(rig.model->message(), "Không thoát được me: " + ErrorText::ofErrno(EPERM));
        QVERIFY(stillRunning(pid));
        killAndReap(pid);
    }
};

SORVI_TEST_MAIN(TestMonitorModel)
#include "tst_monitor_model.moc"
