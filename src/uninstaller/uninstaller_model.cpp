#include "uninstaller/uninstaller_model.h"

#include "core/io_pool.h"
#include "core/report_text.h"
#include "core/scanner.h"
#include "platform/bundle.h"
#include "platform/file_system.h"
#include "platform/running_apps.h"
#include "platform/script_runner.h"
#include "uninstaller/uninstaller.h"

#include <QCoro/QCoroFuture>
#include <QPointer>
#include <QtConcurrent>
#include <algorithm>
#include <limits>

UninstallerModel::UninstallerModel(QObject* parent) : UninstallerModel(Services{}, parent) {}

UninstallerModel::UninstallerModel(Services services, QObject* parent)
    : QObject(parent), m_services(std::move(services))
{
}

UninstallerModel::~UninstallerModel() = default;

QList<UninstallerModel::SortMode> UninstallerModel::allSortModes()
{
    return {SortMode::name, SortMode::size, SortMode::lastUsed};
}

QString UninstallerModel::title(SortMode mode)
{
    switch (mode) {
    case SortMode::name:
        return QStringLiteral("Tên");
    case SortMode::size:
        return QStringLiteral("Dung lượng");
    case SortMode::lastUsed:
        return QStringLiteral("Lần dùng cuối");
    }
    return {};
}

void UninstallerModel::setSearch(const QString& search)
{
    if (m_search == search) return;
    m_search = search;
    emit searchChanged();
}

void UninstallerModel::setSort(SortMode sort)
{
    if (m_sort == sort) return;
    m_sort = sort;
    emit sortChanged();
}

void UninstallerModel::setSelectedID(const std::optional<QString>& id)
{
    if (m_selectedID == id) return;
    m_selectedID = id;
    emit selectedIDChanged();
    // Runs on by itself; a newer selection makes it drop its result.
    auto search = loadLeftovers();
    Q_UNUSED(search);
}

void UninstallerModel::setSelectedLeftovers(const QSet<QString>& urls)
{
    if (m_selectedLeftovers == urls) return;
    m_selectedLeftovers = urls;
    emit selectedLeftoversChanged();
}

void UninstallerModel::setLeftoverChosen(const QString& url, bool chosen)
{
    QSet<QString> urls = m_selectedLeftovers;
    if (chosen)
        urls.insert(url);
    else
        urls.remove(url);
    setSelectedLeftovers(urls);
}

void UninstallerModel::setMessage(const std::optional<QString>& message)
{
    if (m_message == message) return;
    m_message = message;
    emit messageChanged();
}

std::optional<InstalledApp> UninstallerModel::selectedApp() const
{
    if (!m_selectedID) return std::nullopt;
    for (const InstalledApp& app : m_apps)
        if (app.url == *m_selectedID) return app;
    return std::nullopt;
}

QList<InstalledApp> UninstallerModel::visibleApps() const
{
    QList<InstalledApp> visible;
    for (const InstalledApp& app : m_apps)
        if (m_search.isEmpty() || app.name.contains(m_search, Qt::CaseInsensitive) ||
            app.bundleID.contains(m_search, Qt::CaseInsensitive))
            visible.append(app);
    if (m_sort == SortMode::size) {
        std::stable_sort(visible.begin(), visible.end(),
                         [](const InstalledApp& a, const InstalledApp& b) {
                             return a.size.value_or(-1) > b.size.value_or(-1);
                         });
    } else if (m_sort == SortMode::lastUsed) {
        const auto key = [](const InstalledApp& app) {
            return app.lastUsed ? app.lastUsed->toMSecsSinceEpoch()
                                : std::numeric_limits<qint64>::min();
        };
        std::stable_sort(
            visible.begin(), visible.end(),
            [&](const InstalledApp& a, const InstalledApp& b) { return key(a) > key(b); });
    }
    return visible;
}

qint64 UninstallerModel::totalSelectedSize() const
{
    const std::optional<InstalledApp> app = selectedApp();
    qint64 total = app ? app->size.value_or(0) : 0;
    for (const Leftover& leftover : m_leftovers)
        if (m_selectedLeftovers.contains(leftover.url)) total += leftover.size;
    return total;
}

bool UninstallerModel::isRunning(const InstalledApp& app) const
{
    return !runningApps().instances(app.url, app.bundleID).isEmpty();
}

QString UninstallerModel::iconPath(const InstalledApp& app)
{
    const std::optional<Bundle> bundle = Bundle::open(app.url);
    return bundle ? bundle->iconPath() : QString();
}

QCoro::Task<> UninstallerModel::load()
{
    if (m_loading) co_return;
    setLoading(true);
    QPointer<UninstallerModel> self(this);
    const AppCatalog::Folders where = folders();
    auto listing =
        QtConcurrent::run(&ioPool(), [where] { return AppCatalog::installedApps(where); });
    const QList<InstalledApp> loaded = co_await listing;
    if (!self) co_return;
    setApps(loaded);
    setLoading(false);

    // Every size is measured at once; each continuation runs on this object's thread in the
    // order the measurements finish.
    QList<QFuture<void>> applied;
    for (const InstalledApp& app : loaded) {
        const QString url = app.url;
        QFuture<qint64> measured =
            QtConcurrent::run(&ioPool(), [url] { return Scanner::allocatedSize(url); });
        applied.append(measured.then(this, [this, url](qint64 size) { applySize(url, size); }));
    }
    for (const QFuture<void>& each : applied) {
        QFuture<void> pending = each;
        co_await pending;
        if (!self) co_return;
    }
}

QCoro::Task<> UninstallerModel::loadLeftovers()
{
    const quint64 search = ++m_leftoverSearch;
    setLeftovers({});
    setSelectedLeftovers({});
    const std::optional<InstalledApp> selected = selectedApp();
    if (!selected) {
        // An overtaken search leaves the flag for the newest one to reset; with nothing selected
        // this is the newest, and no search will follow to reset it.
        setLoadingLeftovers(false);
        co_return;
    }
    setLoadingLeftovers(true);
    QPointer<UninstallerModel> self(this);
    const InstalledApp& app = *selected;
    const AppCatalog::Folders where = folders();
    auto searching =
        QtConcurrent::run(&ioPool(), [app, where] { return AppCatalog::leftovers(app, where); });
    const QList<Leftover> found = co_await searching;
    if (!self || search != m_leftoverSearch || m_selectedID != app.url) co_return;
    QSet<QString> chosen;
    for (const Leftover& leftover : found)
        chosen.insert(leftover.url);
    setLeftovers(found);
    setSelectedLeftovers(chosen);
    setLoadingLeftovers(false);
}

QCoro::Task<> UninstallerModel::uninstallSelected()
{
    const std::optional<InstalledApp> selected = selectedApp();
    if (!selected || selected->isProtected) co_return;
    if (m_working) {
        setMessage(ReportText::uninstallRefused(m_workingName));
        co_return;
    }
    const InstalledApp& app = *selected;
    QPointer<UninstallerModel> self(this);
    m_workingName = app.name;
    setWorking(true);

    auto quitting = Uninstaller::quitIfRunning(app, &runningApps(), m_services.quitCheckInterval);
    const bool quit = co_await quitting;
    if (!self) co_return;
    if (!quit) {
        setMessage(ReportText::notQuit(app.name));
        setWorking(false);
        co_return;
    }

    QList<Leftover> chosen;
    for (const Leftover& leftover : m_leftovers)
        if (m_selectedLeftovers.contains(leftover.url)) chosen.append(leftover);
    ScriptRunner* runner = &scriptRunner();
    const AppCatalog::Folders where = folders();
    setProgress(RunProgress{0, chosen.size() + 1});
    auto relay = std::make_unique<ProgressRelay>([self](RunProgress step) {
        if (self) self->setProgress(step);
    });
    auto removing =
        QtConcurrent::run(&ioPool(), [app, chosen, runner, where, step = relay->callback()] {
            const CleanReport report = Uninstaller::uninstall(app, chosen, *runner, where, step);
            return std::pair{report, FileSystem::exists(app.url)};
        });
    const std::pair<CleanReport, bool> outcome = co_await removing;
    relay.reset();
    if (!self) co_return;
    setProgress(std::nullopt);
    setMessage(ReportText::uninstall(app.name, outcome.first));

    if (outcome.second) {
        auto refresh = loadLeftovers();
        co_await refresh;
        if (!self) co_return;
        setWorking(false);
        co_return;
    }
    QList<InstalledApp> remaining = m_apps;
    remaining.removeIf([&](const InstalledApp& each) { return each.url == app.url; });
    setApps(remaining);
    setSelectedID(std::nullopt);
    setWorking(false);
}

void UninstallerModel::setApps(const QList<InstalledApp>& apps)
{
    if (m_apps == apps) return;
    m_apps = apps;
    emit appsChanged();
}

void UninstallerModel::setLoading(bool loading)
{
    if (m_loading == loading) return;
    m_loading = loading;
    emit loadingChanged();
}

void UninstallerModel::setLeftovers(const QList<Leftover>& leftovers)
{
    if (m_leftovers == leftovers) return;
    m_leftovers = leftovers;
    emit leftoversChanged();
}

void UninstallerModel::setLoadingLeftovers(bool loading)
{
    if (m_loadingLeftovers == loading) return;
    m_loadingLeftovers = loading;
    emit loadingLeftoversChanged();
}

void UninstallerModel::setWorking(bool working)
{
    if (m_working == working) return;
    m_working = working;
    emit workingChanged();
}

void UninstallerModel::setProgress(const std::optional<RunProgress>& progress)
{
    if (m_progress == progress) return;
    m_progress = progress;
    emit progressChanged();
}

void UninstallerModel::applySize(const QString& url, qint64 size)
{
    const auto found = std::find_if(m_apps.begin(), m_apps.end(),
                                    [&](const InstalledApp& app) { return app.url == url; });
    if (found == m_apps.end() || found->size == size) return;
    found->size = size;
    emit appChanged(int(found - m_apps.begin()));
    emit appsChanged();
}

AppCatalog::Folders UninstallerModel::folders() const
{
    return m_services.folders ? *m_services.folders : AppCatalog::Folders::standard();
}

RunningApps& UninstallerModel::runningApps() const
{
    return m_services.runningApps ? *m_services.runningApps : defaultRunningApps();
}

ScriptRunner& UninstallerModel::scriptRunner() const
{
    return m_services.scriptRunner ? *m_services.scriptRunner : defaultScriptRunner();
}
