#pragma once

#include "monitor/system_sampler.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QUuid>
#include <chrono>
#include <memory>
#include <optional>

/// One point of the CPU and memory chart.
struct HistoryPoint
{
    QUuid id;          ///< fresh per point; the point's identity
    QDateTime time;    ///< wall-clock time at which it was added
    double cpu = 0;    ///< cpuTotal of the snapshot, percent
    double memory = 0; ///< memory in use, percent of the installed memory

    friend bool operator==(const HistoryPoint&, const HistoryPoint&) = default;
};

/// Order of the process table. Its title is also its identity.
enum class ProcessSort { cpu, memory };

/// Every order, in declaration order (for a picker).
QList<ProcessSort> allProcessSorts();
/// "CPU" or "Bộ nhớ".
QString title(ProcessSort sort);
/// The order with exactly this title; absent for any other text.
std::optional<ProcessSort> processSortFromTitle(const QString& title);

Q_DECLARE_METATYPE(HistoryPoint)

/// The model behind the monitor screen: samples the system every two seconds while at least
/// one screen watches, keeps the last two minutes of CPU and memory use, orders the processes
/// and asks one to quit. Lives on the GUI thread; every member is called there. Samples are
/// taken on a background thread, one at a time.
class MonitorModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(SystemSnapshot snapshot READ snapshot NOTIFY snapshotChanged)
    Q_PROPERTY(QList<HistoryPoint> history READ history NOTIFY historyChanged)
    Q_PROPERTY(QList<ProcessStat> topProcesses READ topProcesses NOTIFY topProcessesChanged)
    Q_PROPERTY(
        ProcessSort processSort READ processSort WRITE setProcessSort NOTIFY processSortChanged)
    Q_PROPERTY(std::optional<QString> message READ message NOTIFY messageChanged)
    Q_PROPERTY(bool sampling READ isSampling NOTIFY samplingChanged)

public:
    /// Most points `history` keeps: 60 × 2 s, the last two minutes.
    static constexpr int maxHistory = 60;
    /// Most processes `topProcesses` lists.
    static constexpr int maxTopProcesses = 25;

    /// Samples the running system every 2 s.
    explicit MonitorModel(QObject* parent = nullptr);
    /// Samples `source` every `interval` (tests use a scripted source and a short interval).
    explicit MonitorModel(std::unique_ptr<CounterSource> source,
                          std::chrono::milliseconds interval = std::chrono::seconds(2),
                          QObject* parent = nullptr);
    /// Asks a running loop to end at its next check; it updates nothing after this.
    ~MonitorModel() override;

    /// The latest applied sample; the default snapshot until the first one arrives, about one
    /// interval after the first `start()`.
    const SystemSnapshot& snapshot() const { return m_snapshot; }
    /// Oldest first, at most `maxHistory` points.
    const QList<HistoryPoint>& history() const { return m_history; }
    /// The snapshot's processes in `processSort` order (stable: equal ones keep the sampler's
    /// order), at most `maxTopProcesses`.
    const QList<ProcessStat>& topProcesses() const { return m_topProcesses; }
    ProcessSort processSort() const { return m_processSort; }
    void setProcessSort(ProcessSort sort);
    /// Why the last quit request failed; absent when there is nothing to tell.
    const std::optional<QString>& message() const { return m_message; }
    /// Called when the user has read the message.
    void clearMessage();
    /// True while the sampling loop is meant to run (from a `start()` with no watchers until
    /// the `stop()` that leaves none).
    bool isSampling() const { return m_loop != nullptr; }

    /// A screen begins watching: counts it and starts the sampling loop if it is not running.
    /// The loop's first sample only primes the counters and is not shown.
    void start();
    /// A screen stops watching. When none is left, the loop is asked to end; it does so at its
    /// next check, so one sample already under way may still be applied.
    void stop();

    /// Asks `process` to quit with SIGTERM, never SIGKILL. Nothing happens to a process other
    /// than the one that was sampled: when its pid now names a newer process (its start time
    /// differs), or it is gone, or it may not be signalled (PIDs 0 and 1, this program and its
    /// parent, another user's process), `message` says so: "Không thoát được " + name + ": " +
    /// the system's text for the error. Success leaves no message; the process leaves the
    /// table with a later sample.
    void quit(const ProcessStat& process);

signals:
    void snapshotChanged();
    /// Any change of `history`; `historyPointAppended` and `historyPointsRemoved` tell which.
    void historyChanged();
    /// `point` was added at the end.
    void historyPointAppended(const HistoryPoint& point);
    /// The `count` oldest points were dropped from the front.
    void historyPointsRemoved(int count);
    void topProcessesChanged();
    void processSortChanged(ProcessSort sort);
    void messageChanged();
    void samplingChanged(bool sampling);
    /// A sampling loop has ended (after the `stop()` that left no watcher, at its next check).
    void samplingLoopFinished();

private:
    friend class MonitorLoop;
    struct Loop;
    struct Rig;

    void apply(SystemSnapshot snapshot);
    void refreshTopProcesses();
    void setMessage(std::optional<QString> message);

    std::shared_ptr<Rig> m_rig;
    std::shared_ptr<Loop> m_loop;
    std::chrono::milliseconds m_interval;
    int m_watchers = 0;
    SystemSnapshot m_snapshot;
    QList<HistoryPoint> m_history;
    QList<ProcessStat> m_topProcesses;
    ProcessSort m_processSort = ProcessSort::cpu;
    std::optional<QString> m_message;
};
