#include "monitor/monitor_model.h"
#include "platform/process_signal.h"
#include "scripted_source.h"
#include "support/child_process.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QFile>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;

Q_DECLARE_METATYPE(ProcessSort)

namespace {

struct Proc
{
    qint32 pid;
    quint64 ticksPerSample; // one tick is 10 ms and a sample 1 s apart: this is its CPU percent
    quint64 memory;
};

// Frame i has memory in use of i percent, load average i, the clock at i seconds, and each
// process with `ticksPerSample` more CPU ticks than in frame i - 1.
Frame frameOf(int i, const QList<Proc>& processes, quint64 physical)
{
    Frame frame;
    frame.physical = physical;
    frame.pageSize = 4096;
    frame.pages = VmPageCounts{quint64(i), 0, 0, 0, 0};
    frame.load = std::array<double, 3>{double(i), 0, 0};
    frame.clock = quint64(i + 1) * 1'000'000'000;
    QList<ProcessUsage> usages;
    for (const Proc& p : processes)
        usages.append({p.pid, p.ticksPerSample * quint64(i), 0, p.memory,
                       "p" + QByteArray::number(p.pid), 1});
    frame.processes = usages;
    return frame;
}

struct Rig
{
    explicit Rig(QList<Proc> processes = {}, quint64 physical = 100 * 4096)
    {
        auto source = std::make_unique<ScriptedSource>(
            [processes, physical](int i) { return frameOf(i, processes, physical); });
        taken = source->taken;
        model = std::make_unique<MonitorModel>(std::move(source), 5ms);
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
    return ProcessStat{pid, QStringLiteral("sleep"), 0, 0,
                       identity ? std::optional<quint64>(identity->startTime) : std::nullopt};
}

} // namespace

class TestMonitorModel : public QObject
{
    Q_OBJECT
private slots:
    void initialState()
    {
        Rig rig;
        const SystemSnapshot& snapshot = rig.model->snapshot();
        QCOMPARE(snapshot.cpuTotal, 0.0);
        QVERIFY(snapshot.cores.isEmpty());
        QCOMPARE(snapshot.memory, MemoryInfo());
        QVERIFY(!snapshot.battery);
        QVERIFY(snapshot.processes.isEmpty());
        QCOMPARE(rig.model->snapshot().memory.pressure, 1);
        QVERIFY(rig.model->history().isEmpty());
        QCOMPARE(rig.model->processSort(), ProcessSort::cpu);
        QVERIFY(!rig.model->message());
        QVERIFY(!rig.model->isSampling());
        QCOMPARE(rig.taken->load(), 0);
    }

    void twoStartsNeedTwoStops()
    {
        Rig rig;
        QSignalSpy applied(rig.model.get(), &MonitorModel::historyPointAppended);
        QSignalSpy sampling(rig.model.get(), &MonitorModel::samplingChanged);
        QSignalSpy finished(rig.model.get(), &MonitorModel::samplingLoopFinished);
        rig.model->start();
        rig.model->start();
        rig.model->stop();
        QVERIFY(rig.model->isSampling());
        QVERIFY(QTest::qWaitFor([&] { return applied.count() >= 3; }));
        QCOMPARE(sampling.count(), 1);

        rig.model->stop();
        QVERIFY(!rig.model->isSampling());
        QCOMPARE(sampling.count(), 2);
        QCOMPARE(sampling.last().at(0).toBool(), false);
        QVERIFY(finished.wait());
        const int taken = rig.taken->load();
        const qsizetype points = applied.count();
        QTest::qWait(50); // ten intervals: a loop still running would have sampled
        QCOMPARE(rig.taken->load(), taken);
        QCOMPARE(applied.count(), points);
    }

    void stopWithoutWatchersDoesNothing()
    {
        Rig rig;
        QSignalSpy sampling(rig.model.get(), &MonitorModel::samplingChanged);
        QSignalSpy finished(rig.model.get(), &MonitorModel::samplingLoopFinished);
        rig.model->stop();
        rig.model->stop();
        QCOMPARE(sampling.count(), 0);
        // Had the extra stops counted below zero, these two starts and one stop would end it.
        rig.model->start();
        rig.model->start();
        rig.model->stop();
        QVERIFY(rig.model->isSampling());
        rig.model->stop();
        QVERIFY(!rig.model->isSampling());
        QVERIFY(finished.wait());
    }

    void firstSampleAfterEachStartIsDiscarded()
    {
        Rig rig;
        QSignalSpy snapshots(rig.model.get(), &MonitorModel::snapshotChanged);
        QSignalSpy finished(rig.model.get(), &MonitorModel::samplingLoopFinished);
        rig.model->start();
        QVERIFY(snapshots.wait());
        QCOMPARE(rig.model->snapshot().load[0], 1.0); // frame 0 primed
        rig.model->stop();
        QVERIFY(finished.wait());

        const int primedNext = rig.taken->load();
        snapshots.clear();
        rig.model->start();
        QVERIFY(snapshots.wait());
        QCOMPARE(rig.model->snapshot().load[0], double(primedNext + 1));
        // The history survived the stop and goes on growing.
        QVERIFY(rig.model->history().size() >= 2);
        QCOMPARE(rig.model->history().first().memory, 1.0);
        rig.model->stop();
        QVERIFY(finished.wait());
    }

    void historyKeepsTheLastSixtyPoints()
    {
        Rig rig;
        QList<HistoryPoint> points;
        int removedSignals = 0;
        connect(rig.model.get(), &MonitorModel::historyPointsRemoved, this, [&](int count) {
            QCOMPARE(count, 1);
            ++removedSignals;
        });
        // Stopping inside the 61st application ends the loop at the check right after it.
        connect(rig.model.get(), &MonitorModel::historyPointAppended, this,
                [&](const HistoryPoint& point) {
                    points << point;
                    if (points.size() == 61) rig.model->stop();
                });
        QSignalSpy finished(rig.model.get(), &MonitorModel::samplingLoopFinished);
        rig.model->start();
        QVERIFY(finished.wait(20000));
        QCOMPARE(points.size(), 61);
        QCOMPARE(rig.model->history().size(), 60);
        QCOMPARE(rig.model->history(), points.mid(1));
        QCOMPARE(removedSignals, 1);
        for (qsizetype i = 0; i < points.size(); ++i) {
            QCOMPARE(points[i].memory, double(i + 1)); // frame i + 1: i + 1 percent in use
            QVERIFY(!points[i].id.isNull());
            QVERIFY(points[i].time.isValid());
        }
        QVERIFY(points[0].id != points[1].id);
        QVERIFY(points[0].time <= points[60].time);
    }

    void historyWithoutInstalledMemory()
    {
        Rig rig({}, 0);
        QSignalSpy appended(rig.model.get(), &MonitorModel::historyPointAppended);
        rig.model->start();
        QVERIFY(appended.wait());
        QCOMPARE(rig.model->history().first().memory, 0.0);
        rig.model->stop();
    }

    void topProcessesOrder_data()
    {
        QTest::addColumn<ProcessSort>("sort");
        QTest::addColumn<QList<qint32>>("expected");
        // Equal CPU: larger memory first; equal on both: the sampler's order stays.
        QTest::newRow("cpu") << ProcessSort::cpu << QList<qint32>{103, 102, 101, 104, 105};
        QTest::newRow("memory") << ProcessSort::memory << QList<qint32>{102, 104, 105, 101, 103};
    }

    void topProcessesOrder()
    {
        QFETCH(ProcessSort, sort);
        QFETCH(QList<qint32>, expected);
        Rig rig({{101, 5, 100}, {102, 5, 300}, {103, 10, 50}, {104, 0, 300}, {105, 0, 300}});
        QSignalSpy top(rig.model.get(), &MonitorModel::topProcessesChanged);
        rig.model->setProcessSort(sort);
        rig.model->start();
        QVERIFY(top.wait());
        rig.model->stop();
        QCOMPARE(pidsOf(rig.model->topProcesses()), expected);
        QCOMPARE(rig.model->topProcesses()[0].cpu, sort == ProcessSort::cpu ? 10.0 : 5.0);
    }

    void changingTheSortReordersAtOnce()
    {
        Rig rig({{1, 1, 10}, {2, 2, 5}});
        QSignalSpy top(rig.model.get(), &MonitorModel::topProcessesChanged);
        QSignalSpy sortSpy(rig.model.get(), &MonitorModel::processSortChanged);
        rig.model->start();
        QVERIFY(top.wait());
        rig.model->stop();
        QCOMPARE(pidsOf(rig.model->topProcesses()), (QList<qint32>{2, 1}));
        top.clear();
        rig.model->setProcessSort(ProcessSort::memory);
        QCOMPARE(sortSpy.count(), 1);
        QCOMPARE(top.count(), 1);
        QCOMPARE(pidsOf(rig.model->topProcesses()), (QList<qint32>{1, 2}));
        rig.model->setProcessSort(ProcessSort::memory);
        QCOMPARE(sortSpy.count(), 1); // no change, no signal
    }

    void topProcessesAtMostTwentyFive_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("expected");
        QTest::newRow("30") << 30 << 25;
        QTest::newRow("26") << 26 << 25;
        QTest::newRow("25") << 25 << 25;
        QTest::newRow("3") << 3 << 3;
    }

    void topProcessesAtMostTwentyFive()
    {
        QFETCH(int, count);
        QFETCH(int, expected);
        QList<Proc> processes;
        for (int i = 1; i <= count; ++i)
            processes.append({i, quint64(i), 1000});
        Rig rig(processes);
        QSignalSpy snapshots(rig.model.get(), &MonitorModel::snapshotChanged);
        rig.model->start();
        QVERIFY(snapshots.wait());
        rig.model->stop();
        QCOMPARE(rig.model->snapshot().processes.size(), count);
        QCOMPARE(rig.model->topProcesses().size(), expected);
        QCOMPARE(rig.model->topProcesses().first().pid, count); // the busiest
    }

    void samplesRunOffTheGuiThread()
    {
        auto onGuiThread = std::make_shared<std::atomic<int>>(0);
        auto source = std::make_unique<ScriptedSource>([onGuiThread](int i) {
            if (QThread::currentThread() == QCoreApplication::instance()->thread()) ++*onGuiThread;
            QThread::msleep(40); // a slow sample
            return frameOf(i, {}, 4096);
        });
        MonitorModel model(std::move(source), 5ms);
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&] { ++ticks; });
        timer.start(2);
        QSignalSpy applied(&model, &MonitorModel::snapshotChanged);
        QSignalSpy finished(&model, &MonitorModel::samplingLoopFinished);
        model.start();
        QVERIFY(QTest::qWaitFor([&] { return applied.count() >= 2; }));
        model.stop();
        QVERIFY(finished.wait());
        QCOMPARE(onGuiThread->load(), 0);
        // Three slow samples took well over 100 ms; the GUI thread kept serving its timer.
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
    }

    void processSortTitles()
    {
        QCOMPARE(allProcessSorts(), (QList<ProcessSort>{ProcessSort::cpu, ProcessSort::memory}));
        QCOMPARE(title(ProcessSort::cpu), QStringLiteral("CPU"));
        QCOMPARE(title(ProcessSort::memory), QStringLiteral("Bộ nhớ"));
        QCOMPARE(processSortFromTitle("CPU"), std::optional(ProcessSort::cpu));
        QCOMPARE(processSortFromTitle("Bộ nhớ"), std::optional(ProcessSort::memory));
        for (const char* other : {"cpu", "Bộ nhớ ", "Bo nho", "", "memory"})
            QVERIFY2(!processSortFromTitle(QString::fromUtf8(other)), other);
    }

    void modelDestroyedWhileSamplingEndsTheLoop()
    {
        auto source = std::make_unique<ScriptedSource>([](int i) { return frameOf(i, {}, 4096); });
        const std::weak_ptr<std::atomic<int>> alive = source->taken; // dies with the source
        auto model = std::make_unique<MonitorModel>(std::move(source), 5ms);
        QSignalSpy applied(model.get(), &MonitorModel::snapshotChanged);
        model->start();
        QVERIFY(applied.wait());
        model.reset();
        QVERIFY(QTest::qWaitFor([&] { return alive.expired(); }));
    }

    void quitEndsAChildThatHonoursSigterm()
    {
        const pid_t pid = startSleeper();
        QVERIFY(pid > 0);
        Rig rig;
        rig.model->quit(statOf(pid));
        QVERIFY(!rig.model->message());
        int status = 0;
        QCOMPARE(waitpid(pid, &status, 0), pid);
        QVERIFY(WIFSIGNALED(status));
        QCOMPARE(WTERMSIG(status), SIGTERM);
    }

    void quitOnAProcessThatHasEnded()
    {
        const pid_t pid = startSleeper();
        QVERIFY(pid > 0);
        const ProcessStat stat = statOf(pid);
        killAndReap(pid);
        Rig rig;
        QSignalSpy changed(rig.model.get(), &MonitorModel::messageChanged);
        rig.model->quit(stat);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(rig.model->message(), std::optional(QStringLiteral("Không thoát được sleep: ") +
                                                     qt_error_string(ESRCH)));
        rig.model->clearMessage();
        QVERIFY(!rig.model->message());
        QCOMPARE(changed.count(), 2);
    }

    void quitNeverSignalsANewcomerWithTheSamePid()
    {
        const pid_t pid = startSleeper();
        QVERIFY(pid > 0);
        ProcessStat stat = statOf(pid);
        *stat.startTime -= 1; // as if the sampled process had ended and its pid been reused
        Rig rig;
        rig.model->quit(stat);
        QVERIFY(rig.model->message());
        QVERIFY(rig.model->message()->startsWith(QStringLiteral("Không thoát được sleep: ")));
        QTest::qWait(50); // a signal, had one been sent, is delivered by now
        int status = 0;
        QCOMPARE(waitpid(pid, &status, WNOHANG), 0);
        killAndReap(pid);
    }

    void quitRefusesOurselves()
    {
        Rig rig;
        const ProcessStat self = {int(getpid()), QStringLiteral("tst_monitor_model"), 0, 0,
                                  ProcessSignal::identify(getpid())->startTime};
        rig.model->quit(self);
        QCOMPARE(rig.model->message(),
                 std::optional(QStringLiteral("Không thoát được tst_monitor_model: ") +
                               qt_error_string(EPERM)));
    }

    void quitOnAnotherUsersProcess()
    {
        if (!TreeBuilder::canDropPrivileges())
            QSKIP("needs root to start a process of another user");
        const pid_t pid = startSleeper(65533);
        QVERIFY(pid > 0);
        const ProcessStat stat = statOf(pid);
        int pipeFds[2];
        QCOMPARE(pipe(pipeFds), 0);
        // The quit request comes from a child running as the unprivileged user 65534.
        const int outcome = TreeBuilder::runAsNobody([&] {
            close(pipeFds[0]);
            MonitorModel model(std::make_unique<ScriptedSource>([](int) { return Frame(); }));
            model.quit(stat);
            const QByteArray message = model.message().value_or(QString()).toUtf8();
            return write(pipeFds[1], message.constData(), size_t(message.size())) == message.size()
                       ? 0
                       : 1;
        });
        close(pipeFds[1]);
        QByteArray message;
        char buffer[512];
        for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
            message.append(buffer, n);
        close(pipeFds[0]);
        QCOMPARE(outcome, 0);
        QCOMPARE(QString::fromUtf8(message),
                 QStringLiteral("Không thoát được sleep: ") + qt_error_string(EPERM));
        int status = 0;
        QCOMPARE(waitpid(pid, &status, WNOHANG), 0);
        killAndReap(pid);
    }
};

SORVI_TEST_MAIN(TestMonitorModel)
#include "tst_monitor_model.moc"
