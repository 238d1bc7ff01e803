#include "uninstaller/uninstaller_model.h"

#include "core/io_pool.h"
#include "core/report_text.h"
#include "platform/file_system.h"
#include "platform/running_apps.h"
#include "platform/script_runner.h"
#include "uninstaller/size_arrivals.h"
#include "uninstaller/uninstaller.h"

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTimer>
#include <QElapsedTimer>
#include <QPointer>
#include <QtConcurrent>
#include <algorithm>
#include <limits>

namespace {

// How often arrived sizes are looked for, and how long one batch of them may keep the event loop.
constexpr std::chrono::milliseconds kSizePoll{15};
constexpr qint64 kSizeBatchMs = 8;

// Full case folding: QString::toCaseFolded maps one character to one, so "ß" stays and
// "STRASSE" would not find "Straße". Upper-casing expands the full mappings (ß → SS, ﬁ → FI);
// lower-casing first turns the capital ẞ into ß so that it expands too.
QString folded(const QString& text)
{
    return text.toLower().toUpper().toCaseFolded();
}

} // namespace

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
    // Both run on by themselves; a newer selection makes them drop their results.
    auto search = loadLeftovers();
    Q_UNUSED(search);
    auto package = loadOwningPackage();
    Q_UNUSED(package);
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
    for (const int row : visibleRows())
        visible.append(m_apps.at(row));
    return visible;
}

QList<int> UninstallerModel::visibleRows() const
{
    QList<int> rows;
    rows.reserve(m_apps.size());
    const QString search = folded(m_search);
    for (int row = 0; row < m_apps.size(); ++row)
        if (search.isEmpty() || m_searchKeys.at(row).first.contains(search) ||
            m_searchKeys.at(row).second.contains(search))
            rows.append(row);
    if (m_sort == SortMode::size) {
        std::stable_sort(rows.begin(), rows.end(), [this](int a, int b) {
            return m_apps.at(a).size.value_or(-1) > m_apps.at(b).size.value_or(-1);
        });
    } else if (m_sort == SortMode::lastUsed) {
        const auto key = [this](int row) {
            const std::optional<QDateTime>& used = m_apps.at(row).lastUsed;
            return used ? used->toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
        };
        std::stable_sort(rows.begin(), rows.end(), [&](int a, int b) { return key(a) > key(b); });
    }
    return rows;
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
    return !runningApps()
                .instances(app.sourced())
                .value_or(QList<RunningApplicationPtr>())
                .isEmpty();
}

QCoro::Task<> UninstallerModel::load()
{
    if (m_loading) co_return;
    setLoading(true);
    QPointer<UninstallerModel> self(this);
    // A listing that is done before it is awaited would let the whole load run inside this
    // call, and a second call in the same turn of the event loop would then start another: the
    // list is always stored in a later turn.
    auto nextTurn = QCoro::sleepFor(std::chrono::milliseconds(0));
    co_await nextTurn;
    if (!self) co_return;
    const AppCatalog::Folders where = folders();
    auto listing =
        QtConcurrent::run(&ioPool(), [where] { return AppCatalog::installedApps(where); });
    const QList<InstalledApp> loaded = co_await listing;
    if (!self) co_return;
    setApps(loaded);
    setLoading(false);

    // Every size is measured at once; they are applied in the order they finish, in batches
    // that each keep the event loop for a few milliseconds at most, however many arrive at once.
    QList<std::pair<int, QString>> jobs;
    for (int row = 0; row < loaded.size(); ++row)
        if (!loaded[row].size && loaded[row].isMeasured()) jobs.append({row, loaded[row].url});
    const std::shared_ptr<SizeArrivals> sizes = SizeArrivals::start(std::move(jobs));
    QList<SizeArrivals::Arrival> backlog;
    while (sizes->remaining() > 0 || !backlog.isEmpty()) {
        auto wait = QCoro::sleepFor(backlog.isEmpty() ? kSizePoll : std::chrono::milliseconds(0));
        co_await wait;
        if (!self) co_return;
        backlog += sizes->take();
        QElapsedTimer spent;
        spent.start();
        qsizetype applied = 0;
        while (applied < backlog.size() && spent.elapsed() < kSizeBatchMs) {
            const SizeArrivals::Arrival& arrival = backlog.at(applied++);
            applySize(arrival.row, arrival.url, arrival.size);
        }
        backlog.remove(0, applied);
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
        if (!leftover.byName) chosen.insert(leftover.url);
    setLeftovers(found);
    setSelectedLeftovers(chosen);
    setLoadingLeftovers(false);
}

QCoro::Task<> UninstallerModel::uninstallSelected()
{
    const std::optional<InstalledApp> selected = selectedApp();
    if (!selected || selected->isProtected) co_return;
    if (m_working) {
        setMessage(ReportText::uninstallRefused(*m_working));
        co_return;
    }
    const InstalledApp& app = *selected;
    QPointer<UninstallerModel> self(this);
    setWorking(app.name);

    auto quitting = Uninstaller::quitIfRunning(app, &runningApps(), m_services.quitCheckInterval);
    const Uninstaller::Quit quit = co_await quitting;
    if (!self) co_return;
    if (quit != Uninstaller::Quit::done) {
        setMessage(quit == Uninstaller::Quit::replaced ? ReportText::replaced(app.name)
                                                       : ReportText::notQuit(app.name));
        setWorking(std::nullopt);
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
    setMessage(ReportText::uninstall(app.name, outcome.first, app.removal));

    if (outcome.second) {
        auto refresh = loadLeftovers();
        co_await refresh;
        if (!self) co_return;
        setWorking(std::nullopt);
        co_return;
    }
    QList<InstalledApp> remaining = m_apps;
    remaining.removeIf([&](const InstalledApp& each) { return each.url == app.url; });
    setApps(remaining);
    setSelectedID(std::nullopt);
    setWorking(std::nullopt);
}

QCoro::Task<> UninstallerModel::loadOwningPackage()
{
    setOwningPackage(std::nullopt);
    const std::optional<InstalledApp> selected = selectedApp();
    const AppCatalog::Folders where = folders();
    ApplicationSource* source = selected ? where.source(selected->kind) : nullptr;
    if (!source || !selected->isProtected) co_return;
    QPointer<UninstallerModel> self(this);
    const SourcedApplication app = selected->sourced();
    // The folders are captured: they own the source.
    auto finding =
        QtConcurrent::run(&ioPool(), [where, source, app] { return source->owningPackage(app); });
    const std::optional<QString> package = co_await finding;
    if (self && m_selectedID == app.location) setOwningPackage(package);
}

void UninstallerModel::setOwningPackage(const std::optional<QString>& package)
{
    if (m_owningPackage == package) return;
    m_owningPackage = package;
    emit owningPackageChanged();
}

void UninstallerModel::setApps(const QList<InstalledApp>& apps)
{
    if (m_apps == apps) return;
    m_apps = apps;
    m_searchKeys.clear();
    m_searchKeys.reserve(m_apps.size());
    for (const InstalledApp& app : m_apps)
        m_searchKeys.append({folded(app.name), folded(app.bundleID)});
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

void UninstallerModel::setWorking(const std::optional<QString>& appName)
{
    const bool changed = m_working.has_value() != appName.has_value();
    m_working = appName;
    if (changed) emit workingChanged();
}

void UninstallerModel::setProgress(const std::optional<RunProgress>& progress)
{
    if (m_progress == progress) return;
    m_progress = progress;
    emit progressChanged();
}

void UninstallerModel::applySize(int row, const QString& url, qint64 size)
{
    // The row it was listed at, unless the list changed meanwhile.
    auto found =
        row < m_apps.size() && m_apps[row].url == url ? m_apps.begin() + row : m_apps.end();
    if (found == m_apps.end())
        found = std::find_if(m_apps.begin(), m_apps.end(),
                             [&](const InstalledApp& app) { return app.url == url; });
    if (found == m_apps.end() || found->size == size) return;
    found->size = size;
    // One row changed: a view updates that row alone, not the whole list.
    emit appChanged(int(found - m_apps.begin()));
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
