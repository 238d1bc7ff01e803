#pragma once

#include "core/progress.h"
#include "uninstaller/app_catalog.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <chrono>
#include <optional>

class RunningApps;
class ScriptRunner;

/// Everything the uninstaller screens show and every operation they offer: the application list
/// and its sizes, search and sort, the selection and its leftovers, and the uninstall flow with
/// its closing message. Lives on the GUI thread: every property is read and written there, every
/// operation starts there, and slow work runs on the I/O pool with its result applied back on
/// the GUI thread. Each NOTIFY signal is emitted only when the value really changed.
class UninstallerModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<InstalledApp> apps READ apps NOTIFY appsChanged)
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    Q_PROPERTY(QString search READ search WRITE setSearch NOTIFY searchChanged)
    Q_PROPERTY(SortMode sort READ sort WRITE setSort NOTIFY sortChanged)
    Q_PROPERTY(std::optional<QString> selectedID READ selectedID WRITE setSelectedID NOTIFY
                   selectedIDChanged)
    Q_PROPERTY(QList<Leftover> leftovers READ leftovers NOTIFY leftoversChanged)
    Q_PROPERTY(bool loadingLeftovers READ loadingLeftovers NOTIFY loadingLeftoversChanged)
    Q_PROPERTY(QSet<QString> selectedLeftovers READ selectedLeftovers WRITE setSelectedLeftovers
                   NOTIFY selectedLeftoversChanged)
    Q_PROPERTY(bool working READ working NOTIFY workingChanged)
    /// Targets of the running uninstall moved so far of all of them; nullopt while none moves.
    Q_PROPERTY(std::optional<RunProgress> progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(std::optional<QString> message READ message WRITE setMessage NOTIFY messageChanged)
    Q_PROPERTY(std::optional<QString> owningPackage READ owningPackage NOTIFY owningPackageChanged)

public:
    /// The orders of the list.
    enum class SortMode { name, size, lastUsed };
    Q_ENUM(SortMode)

    /// The services the model calls. The defaults are the real ones; tests pass their own.
    struct Services
    {
        RunningApps* runningApps = nullptr;         ///< nullptr: the Linux registry
        ScriptRunner* scriptRunner = nullptr;       ///< nullptr: osascript
        std::optional<AppCatalog::Folders> folders; ///< nullopt: the fixed folders
        std::chrono::milliseconds quitCheckInterval{250};
    };

    explicit UninstallerModel(QObject* parent = nullptr);
    explicit UninstallerModel(Services services, QObject* parent = nullptr);
    ~UninstallerModel() override;

    /// The sort modes in display order, and each one's title ("Tên", "Dung lượng",
    /// "Lần dùng cuối").
    static QList<SortMode> allSortModes();
    static QString title(SortMode mode);

    /// The installed applications in catalogue order (by name). appsChanged when the list is
    /// replaced or shortened; appChanged(row) when one application's size arrives.
    const QList<InstalledApp>& apps() const { return m_apps; }
    /// True from the start of load() until the list is stored (sizes arrive afterwards).
    bool loading() const { return m_loading; }
    /// The search text as typed (not trimmed).
    const QString& search() const { return m_search; }
    void setSearch(const QString& search);
    SortMode sort() const { return m_sort; }
    void setSort(SortMode sort);
    /// `url` of the selected application. Every change starts a new leftover search whose result
    /// replaces `leftovers` and chooses all of them; a search overtaken by a newer change drops
    /// its result.
    const std::optional<QString>& selectedID() const { return m_selectedID; }
    void setSelectedID(const std::optional<QString>& id);
    /// The leftovers found for the selection, largest first.
    const QList<Leftover>& leftovers() const { return m_leftovers; }
    bool loadingLeftovers() const { return m_loadingLeftovers; }
    /// The leftovers chosen for removal, by `url`. A search chooses every leftover it finds but
    /// those matched by name alone.
    const QSet<QString>& selectedLeftovers() const { return m_selectedLeftovers; }
    void setSelectedLeftovers(const QSet<QString>& urls);
    /// Adds or removes one leftover from the choice.
    void setLeftoverChosen(const QString& url, bool chosen);
    /// True while an uninstall runs (disable the uninstall button meanwhile).
    bool working() const { return m_working.has_value(); }
    const std::optional<RunProgress>& progress() const { return m_progress; }
    /// The outcome of the last uninstall, for the screen to show; it clears it when dismissed.
    const std::optional<QString>& message() const { return m_message; }
    void setMessage(const std::optional<QString>& message);
    void clearMessage() { setMessage(std::nullopt); }
    /// The package that holds the selected system application, once found (read off the GUI
    /// thread after each selection of a protected application); nullopt otherwise.
    const std::optional<QString>& owningPackage() const { return m_owningPackage; }

    /// The first application whose `url` is selectedID, or nullopt.
    std::optional<InstalledApp> selectedApp() const;
    /// `apps` whose name or identifier contains `search` (full case folding: "STRASSE" finds
    /// "Straße"), in `sort` order; sorts are stable, so ties keep the name order.
    QList<InstalledApp> visibleApps() const;
    /// The same as rows of `apps`.
    QList<int> visibleRows() const;
    /// Bytes of the selected bundle (0 while unmeasured) plus the chosen leftovers.
    qint64 totalSelectedSize() const;
    /// Whether an instance of `app` is running. Reads the process table: a few milliseconds.
    bool isRunning(const InstalledApp& app) const;

    /// Loads the list (loading true until it is stored, always in a later turn of the event
    /// loop), then measures every application whose size is not known concurrently, storing
    /// each size as it arrives (appChanged for its row). Returns when every size is in. A call
    /// while a list is being loaded returns at once.
    QCoro::Task<> load();
    /// Uninstalls the selected application with the chosen leftovers: quits it (a message and
    /// nothing removed when it does not quit or its location was replaced since the listing),
    /// removes it and the leftovers, sets `message`, and drops the application from the list
    /// when its location is gone. Does nothing for no selection or a protected one. One uninstall
    /// at a time: a call while `working` removes nothing and says so in `message`.
    QCoro::Task<> uninstallSelected();

Q_SIGNALS:
    void appsChanged();
    /// One row of `apps` changed in place (its size arrived).
    void appChanged(int row);
    void loadingChanged();
    void searchChanged();
    void sortChanged();
    void selectedIDChanged();
    void leftoversChanged();
    void loadingLeftoversChanged();
    void selectedLeftoversChanged();
    void workingChanged();
    void progressChanged();
    void messageChanged();
    void owningPackageChanged();

private:
    QCoro::Task<> loadLeftovers();
    QCoro::Task<> loadOwningPackage();
    void setOwningPackage(const std::optional<QString>& package);
    void setApps(const QList<InstalledApp>& apps);
    void setLoading(bool loading);
    void setLeftovers(const QList<Leftover>& leftovers);
    void setLoadingLeftovers(bool loading);
    void setWorking(const std::optional<QString>& appName);
    void setProgress(const std::optional<RunProgress>& progress);
    void applySize(int row, const QString& url, qint64 size);
    AppCatalog::Folders folders() const;
    RunningApps& runningApps() const;
    ScriptRunner& scriptRunner() const;

    Services m_services;
    QList<InstalledApp> m_apps;
    bool m_loading = false;
    QString m_search;
    SortMode m_sort = SortMode::name;
    std::optional<QString> m_selectedID;
    QList<Leftover> m_leftovers;
    bool m_loadingLeftovers = false;
    QSet<QString> m_selectedLeftovers;
    std::optional<QString> m_working; ///< the application being uninstalled
    std::optional<RunProgress> m_progress;
    std::optional<QString> m_message;
    std::optional<QString> m_owningPackage;
    /// Per row of m_apps: its name and identifier, case-folded.
    QList<std::pair<QString, QString>> m_searchKeys;
    quint64 m_leftoverSearch = 0; ///< counts searches, so an overtaken one knows it
};
