#include "monitor/monitor_model.h"

#include "platform/error_text.h"
#include "platform/process_signal.h"

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTask>
#include <QCoro/QCoroTimer>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cerrno>

QList<ProcessSort> allProcessSorts()
{
    return {ProcessSort::cpu, ProcessSort::memory};
}

QString title(ProcessSort sort)
{
    switch (sort) {
    case ProcessSort::cpu:
        return QStringLiteral("CPU");
    case ProcessSort::memory:
        return QStringLiteral("Bộ nhớ");
    }
    return {};
}

std::optional<ProcessSort> processSortFromTitle(const QString& text)
{
    for (const ProcessSort sort : allProcessSorts()) {
        if (title(sort) == text) return sort;
    }
    return std::nullopt;
}

// The sampler and the one thread it runs on. A pool of one thread queues the samples of an
// old loop that is still winding down and of a new one after a quick stop and start, so two
// samples never run at once even then.
struct MonitorModel::Rig
{
    explicit Rig(std::unique_ptr<CounterSource> source) : sampler(std::move(source))
    {
        pool.setMaxThreadCount(1);
    }
    SystemSampler sampler;
    QThreadPool pool; // declared last: destroyed first, after waiting for a running sample
};

// A stopped loop is woken from its pause at once, so that it ends in the next turn of the event
// loop rather than an interval later.
struct MonitorModel::Loop
{
    Loop() { pause.setSingleShot(true); }
    void cancel()
    {
        cancelled = true;
        pause.start(0);
    }
    bool cancelled = false;
    QTimer pause;
};

class MonitorLoop
{
public:
    // Holds the sampler strongly and the model weakly; ends at the checks after each wait.
    static QCoro::Task<> run(QPointer<MonitorModel> model, std::shared_ptr<MonitorModel::Rig> rig,
                             std::shared_ptr<MonitorModel::Loop> loop,
                             std::chrono::milliseconds interval)
    {
        SystemSampler* sampler = &rig->sampler;
        // Only primes the counters; a future of void leaves no snapshot temporary beside the
        // co_await (GCC 12 destroys such a temporary twice).
        auto priming = QtConcurrent::run(&rig->pool, [sampler] { sampler->sample(); });
        co_await priming;
        while (!loop->cancelled) {
            loop->pause.start(interval);
            auto pause = qCoro(loop->pause).waitForTimeout();
            co_await pause;
            if (loop->cancelled) break;
            auto future = QtConcurrent::run(&rig->pool, [sampler] { return sampler->sample(); });
            SystemSnapshot snapshot = co_await future;
            if (model) model->apply(std::move(snapshot));
        }
        if (model) emit model->samplingLoopFinished();
    }
};

MonitorModel::MonitorModel(QObject* parent)
    : MonitorModel(makeSystemCounterSource(), std::chrono::seconds(2), parent)
{
}

MonitorModel::MonitorModel(std::unique_ptr<CounterSource> source,
                           std::chrono::milliseconds interval, QObject* parent)
    : QObject(parent), m_rig(std::make_shared<Rig>(std::move(source))), m_interval(interval)
{
}

MonitorModel::~MonitorModel()
{
    // Nothing could ever stop a loop whose model is gone.
    if (m_loop) m_loop->cancel();
}

void MonitorModel::setProcessSort(ProcessSort sort)
{
    if (sort == m_processSort) return;
    m_processSort = sort;
    emit processSortChanged(sort);
    refreshTopProcesses();
}

void MonitorModel::clearMessage()
{
    setMessage(std::nullopt);
}

void MonitorModel::setMessage(std::optional<QString> message)
{
    if (message == m_message) return;
    m_message = std::move(message);
    emit messageChanged();
}

void MonitorModel::start()
{
    ++m_watchers;
    if (m_loop) return;
    m_loop = std::make_shared<Loop>();
    MonitorLoop::run(QPointer<MonitorModel>(this), m_rig, m_loop, m_interval);
    emit samplingChanged(true);
}

void MonitorModel::stop()
{
    m_watchers = std::max(m_watchers - 1, 0);
    if (m_watchers > 0 || !m_loop) return;
    m_loop->cancel();
    m_loop.reset();
    emit samplingChanged(false);
}

void MonitorModel::apply(SystemSnapshot snapshot)
{
    const MemoryInfo& memory = snapshot.memory;
    const quint64 used = memory.app + memory.wired + memory.compressed;
    const double memoryPercent =
        memory.total == 0 ? 0.0 : double(used) / double(memory.total) * 100;
    const HistoryPoint point{QUuid::createUuid(), QDateTime::currentDateTime(), snapshot.cpuTotal,
                             memoryPercent};

    if (snapshot != m_snapshot) {
        m_snapshot = std::move(snapshot);
        emit snapshotChanged();
        refreshTopProcesses();
    }
    m_history.append(point);
    emit historyPointAppended(point);
    const int excess = int(m_history.size()) - maxHistory;
    if (excess > 0) {
        m_history.remove(0, excess);
        emit historyPointsRemoved(excess);
    }
    emit historyChanged();
}

void MonitorModel::refreshTopProcesses()
{
    QList<ProcessStat> ordered = m_snapshot.processes;
    if (m_processSort == ProcessSort::cpu) {
        std::stable_sort(ordered.begin(), ordered.end(),
                         [](const ProcessStat& a, const ProcessStat& b) {
                             if (a.cpu != b.cpu) return a.cpu > b.cpu;
                             return a.memory > b.memory;
                         });
    } else {
        std::stable_sort(
            ordered.begin(), ordered.end(),
            [](const ProcessStat& a, const ProcessStat& b) { return a.memory > b.memory; });
    }
    if (ordered.size() > maxTopProcesses) ordered.resize(maxTopProcesses);
    if (ordered == m_topProcesses) return;
    m_topProcesses = std::move(ordered);
    emit topProcessesChanged();
}

void MonitorModel::quit(const ProcessStat& process)
{
    // No running-application registry answers for a pid here, so every request is a signal.
    int error = 0;
    const std::optional<ProcessSignal::Identity> identity = ProcessSignal::identify(process.pid);
    if (ProcessSignal::isProtected(process.pid))
        error = EPERM;
    else if (!identity || (process.startTime && *process.startTime != identity->startTime))
        error = ESRCH; // gone, or its pid now names a newer process
    else
        error = ProcessSignal::terminate(*identity);
    if (error == 0) return;
    setMessage(QStringLiteral("Không thoát được ") + process.name + QStringLiteral(": ") +
               ErrorText::ofErrno(error));
}
