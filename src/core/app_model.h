#pragma once

#include "core/category.h"
#include "core/progress.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <optional>

/// The cleaning model behind the sidebar, the overview and the category screens: per-category
/// scan state and selection, the disk figure, and one message for the user. Lives on the GUI
/// thread; every member is called there, and every signal is emitted there. Only the scanner's
/// and the cleaner's work leaves the thread. Overlapping operations are not refused: the last
/// one to finish writes last.
class AppModel : public QObject
{
    Q_OBJECT
    /// Every category that was scanned at least once, by id; stateChanged() names the one row.
    Q_PROPERTY(AppModel::States states READ states NOTIFY statesChanged)
    /// Capacity of the start-up volume; read when the model is created, refreshed after
    /// scanAll() and after each clean().
    Q_PROPERTY(DiskUsage disk READ disk NOTIFY diskChanged)
    /// Text for the user after a clean or a Trash emptying; nullopt when there is none.
    Q_PROPERTY(std::optional<QString> message READ message WRITE setMessage NOTIFY messageChanged)
    /// Allocated bytes of every found item of every category, selected or not.
    Q_PROPERTY(qint64 totalReclaimable READ totalReclaimable NOTIFY totalReclaimableChanged)
    /// The clean() that runs, from its start until its rescan is over; nullopt when none runs.
    Q_PROPERTY(std::optional<AppModel::CleanRun> cleaning READ cleaning NOTIFY cleaningChanged)

public:
    /// The state of one category.
    struct State
    {
        bool scanning = false;  ///< a scan of the category is running
        bool scanned = false;   ///< at least one scan has finished
        ScanResult result;      ///< the last finished scan
        QSet<QString> selected; ///< URLs the user wants removed (may name items not in result)
        friend bool operator==(const State&, const State&) = default;
    };
    using States = QHash<QString, State>;

    /// One running clean: its category and the items removed so far of those it removes.
    struct CleanRun
    {
        QString id;
        RunProgress progress;
        friend bool operator==(const CleanRun&, const CleanRun&) = default;
    };

    explicit AppModel(QObject* parent = nullptr);

    const States& states() const { return m_states; }
    /// A copy of the state of `c`; the default state when `c` was never scanned.
    State state(const Category& c) const;
    /// Bytes of the items of the result of `c` whose URL is selected.
    qint64 selectedSize(const Category& c) const;
    /// Bytes of all found items of `c`; 0 before its first scan.
    qint64 totalSize(const Category& c) const;
    qint64 totalReclaimable() const;

    DiskUsage disk() const { return m_disk; }

    std::optional<QString> message() const { return m_message; }
    /// Replaces the message (the category screen stores the outcome of emptying the Trash here).
    void setMessage(const std::optional<QString>& message);
    /// Called when the user dismissed the alert that showed the message.
    void clearMessage() { setMessage(std::nullopt); }

    /// Flips the selection of `url` in `c`. Nothing happens before the first scan of `c`;
    /// `url` is not checked against the found items.
    void toggle(const Category& c, const QString& url);
    /// Selects every found item of `c` (`on`) or none. Nothing happens before the first scan.
    void selectAll(const Category& c, bool on);

    /// Scans `c` off the GUI thread; meanwhile the old result and selection stay. Afterwards the
    /// result is replaced and the selection reset: every item for caches, logs, dev and trash,
    /// none for the others. Overlapping scans of `c` are not refused: each result replaces the
    /// previous one as it arrives (the last to finish wins), and `scanning` stays true until the
    /// last of them is back. Never fails.
    ///
    /// For scan(), scanAll() and clean(): the returned task may be dropped without awaiting it
    /// (the work goes on); when the model is destroyed meanwhile, the work ends without touching
    /// it.
    QCoro::Task<> scan(Category c);
    /// Scans all six categories at once, then refreshes `disk`.
    QCoro::Task<> scanAll();
    /// Removes the selected items of the result of `c` off the GUI thread (selected URLs that
    /// are not in the result are ignored), sets `message` from the report, rescans `c` and
    /// refreshes `disk`. Does nothing at all when no item of the result is selected. One clean
    /// at a time: a call while `cleaning` is set removes nothing and says so in `message`.
    QCoro::Task<> clean(Category c);

    const std::optional<CleanRun>& cleaning() const { return m_cleaning; }

signals:
    /// The state of the category `id` changed (a row of the sidebar redraws); statesChanged()
    /// follows.
    void stateChanged(const QString& id);
    void statesChanged();
    void diskChanged();
    void messageChanged();
    void totalReclaimableChanged();
    void cleaningChanged();

private:
    void setState(const QString& id, const State& state);
    void setDisk(const DiskUsage& disk);
    void setCleaning(const std::optional<CleanRun>& run);

    States m_states;
    QHash<QString, int> m_scansInFlight;
    DiskUsage m_disk;
    std::optional<QString> m_message;
    std::optional<CleanRun> m_cleaning;
};
