#include "monitor/monitor_model.h"
#include "platform/error_text.h"
#include "platform/process_signal.h"
#include "scripted_source.h"
#include "support/await.h"
#include "support/child_process.h"
#include "support/test_home.h"

#include <QThread>
#include <cerrno>

using namespace std::chrono_literals;

// Frames name only the fields a test is about.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

// A model sampling a scripted source every 5 ms, counting the samples taken on the GUI thread.
struct Rig
{
    explicit Rig(quint64 physical = 409600, const QList<ProcessUsage>& processes = {})
    {
        auto source = std::make_unique<ScriptedSource>([=, gui = onGuiThread](int i) {
            *gui += int(QThread::currentThread() == QCoreApplication::instance()->thread());
            // At sample i: i percent of the memory in use, the clock at i + 1 s, each process
            // at i times its CPU ticks.
            Frame frame{.physical = physical,
                        .pages = VmPageCounts{quint64(i), 0, 0, 0, 0},
                        .processes = processes,
                        .clock = quint64(i + 1) * 1'000'000'000};
            for (ProcessUsage& usage : *frame.processes)
                usage.userTime *= quint64(i);
            return frame;
        });
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
    std::shared_ptr<std::atomic<int>> onGuiThread = std::make_shared<std::atomic<int>>(0);
    std::weak_ptr<std::atomic<int>> taken; // dies with the source
    std::unique_ptr<MonitorModel> model;
};

} // namespace

class TestMonitorModel : public QObject
{
    Q_OBJECT
private slots:
    // Sampling while watched, off the GUI thread, each start priming; a destroyed model ends it.
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
        const int primed = rig.taken.lock()->load();
        QVERIFY(rig.sampleAndStop());
        QCOMPARE(model.history().at(points).memory, double(primed + 1));
        QCOMPARE(rig.onGuiThread->load(), 0);
        model.start();
        AWAIT_UNTIL(rig.taken.lock()->load() > primed + 2, "a sample of the last loop");
        rig.model.reset();
        AWAIT_UNTIL(rig.taken.expired(), "the loop of a destroyed model to end");
    }

    // The last 60 points stay; no installed memory reads as none in use.
    void historyKeepsTheLastSixtyPoints()
    {
        Rig rig;
        QSignalSpy removed(rig.model.get(), &MonitorModel::historyPointsRemoved);
        QVERIFY(rig.sampleAndStop(61));
        const QList<HistoryPoint>& history = rig.model->history();
        QCOMPARE((QList<double>{double(history.size()), history.first().memory,
                                history.last().memory, double(removed.count())}),
                 (QList<double>{60, 2, 61, 1}));
        QCOMPARE(removed.first().first(), QVariant(1));
        Rig noMemory(0);
        QVERIFY(noMemory.sampleAndStop());
        QCOMPARE(noMemory.model->history().first().memory, 0.0);
    }

    // A pid that now names a newer process is not signalled.
    void quitRefusesANewerProcess()
    {
        const pid_t pid = startSleeper();
        QVERIFY(pid > 0);
        Rig rig;
        rig.model->quit({pid, "sleep", 0, 0, ProcessSignal::identify(pid)->startTime - 1});
        QCOMPARE(rig.model->message(), "Không thoát được sleep: " + ErrorText::ofErrno(ESRCH));
        QVERIFY(stillRunning(pid));
        killAndReap(pid);
    }

    // At most 25 rows, the heaviest first; ties keep the sampler's order.
    void topProcesses()
    {
        QList<ProcessUsage> processes{{101, 5, 0, 100, "p", 1},
                                      {102, 5, 0, 300, "p", 1},
                                      {103, 10, 0, 50, "p", 1},
                                      {104, 0, 0, 300, "p", 1},
                                      {105, 0, 0, 300, "p", 1}};
        for (int pid = 106; pid <= 130; ++pid)
            processes.append({pid, 1, 0, 10, "p", 1});
        Rig rig(409600, processes);
        QVERIFY(rig.sampleAndStop());
        const auto top = [&](ProcessSort sort) {
            rig.model->setProcessSort(sort);
            QList<qint32> pids;
            for (const ProcessStat& stat : rig.model->topProcesses())
                pids << stat.pid;
            return pids.size() == 25 ? pids.first(5) : pids;
        };
        QCOMPARE(top(ProcessSort::cpu), (QList<qint32>{103, 102, 101, 106, 107}));
        QCOMPARE(top(ProcessSort::memory), (QList<qint32>{102, 104, 105, 101, 103}));
    }
};

SORVI_TEST_MAIN(TestMonitorModel)
#include "tst_monitor_model.moc"
