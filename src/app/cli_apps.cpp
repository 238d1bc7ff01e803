#include "app/cli_commands.h"
#include "app/cli_json.h"
#include "app/cli_output.h"
#include "core/io_pool.h"
#include "core/report_text.h"
#include "core/scanner.h"
#include "platform/file_system.h"
#include "uninstaller/uninstaller.h"

#include <QCoro/QCoroFuture>
#include <QtConcurrent>
#include <vector>

namespace Cli {
namespace {

using CliOutput::err;
using CliOutput::out;
using CliOutput::shown;

QCoro::Task<QList<InstalledApp>> catalogue()
{
    auto listing = QtConcurrent::run(&ioPool(), [] { return AppCatalog::installedApps(); });
    QList<InstalledApp> apps = co_await listing;
    co_return apps;
}

/// The size the window shows: measured on disk, or known when listed (Flatpak); nullopt for a
/// system package's entry.
std::optional<qint64> measuredSize(const InstalledApp& app)
{
    if (app.size || !app.isMeasured()) return app.size;
    return Scanner::allocatedSize(app.url);
}

/// The catalogue with every size measured, all at once, before anything is printed.
QCoro::Task<QList<InstalledApp>> measuredCatalogue()
{
    auto listing = catalogue();
    QList<InstalledApp> apps = co_await listing;
    std::vector<QFuture<std::optional<qint64>>> sizes;
    for (const InstalledApp& app : apps)
        sizes.push_back(QtConcurrent::run(&ioPool(), [app] { return measuredSize(app); }));
    for (qsizetype i = 0; i < apps.size(); ++i) {
        const std::optional<qint64> size = co_await sizes[size_t(i)];
        apps[i].size = size;
    }
    co_return apps;
}

/// How the line of an application ends: what kind it is, or that it cannot be removed.
QString kindText(const InstalledApp& app)
{
    if (app.isProtected) return QStringLiteral(" · ứng dụng hệ thống, không gỡ được");
    switch (app.kind) {
    case ApplicationKind::Flatpak:
        return QStringLiteral(" · Flatpak");
    case ApplicationKind::AppImage:
        return QStringLiteral(" · AppImage");
    case ApplicationKind::HomeProgram:
        return QStringLiteral(" · cài trong thư mục cá nhân");
    default:
        return {};
    }
}

void printApp(const InstalledApp& app)
{
    QString line = shown(app.name);
    if (!app.version.isEmpty()) line += u' ' + shown(app.version);
    if (app.size) line += QStringLiteral(" · ") + formatBytes(*app.size);
    line += QStringLiteral(" · ") + shown(app.bundleID) + kindText(app);
    out(line);
    out(QStringLiteral("  ") + shown(app.url));
}

/// The one application `argument` names, by identifier or else by path; nullopt after saying
/// why none can be removed (unknown, ambiguous or protected).
std::optional<InstalledApp> chosenApp(const QList<InstalledApp>& apps, const QString& argument)
{
    QList<InstalledApp> found;
    for (const InstalledApp& app : apps)
        if (app.bundleID == argument) found.append(app);
    if (found.isEmpty() && argument.startsWith(u'/'))
        for (const InstalledApp& app : apps)
            if (FileSystem::standardized(app.url) == FileSystem::standardized(argument))
                found.append(app);
    const QString named = shown(argument, CliOutput::Stream::err);
    if (found.isEmpty()) {
        err(QStringLiteral("Không có ứng dụng “") + named +
            QStringLiteral("” (xem: sorviclean apps)."));
        return std::nullopt;
    }
    if (found.size() > 1) {
        err(QStringLiteral("Có ") + QString::number(found.size()) +
            QStringLiteral(" ứng dụng mang mã “") + named +
            QStringLiteral("”; hãy nêu đường dẫn của một trong số đó:"));
        for (const InstalledApp& app : found)
            err(QStringLiteral("  ") + shown(app.url, CliOutput::Stream::err));
        return std::nullopt;
    }
    if (found.first().isProtected) {
        err(shown(found.first().name, CliOutput::Stream::err) +
            QStringLiteral(" là ứng dụng hệ thống, không thể gỡ."));
        return std::nullopt;
    }
    return found.first();
}

/// The application measured (the window waits for its size too) and the leftovers to remove
/// with it, as the window chooses them: those matched by name alone stay unless asked for.
struct Plan
{
    InstalledApp app;
    QList<Leftover> leftovers;

    /// Removed by its installer, not moved to the Trash.
    bool viaInstaller() const { return app.removal == Removal::Transaction; }
    /// The application first, then the leftovers.
    QList<CleanItem> targets() const
    {
        QList<CleanItem> items{{app.url, app.size.value_or(0)}};
        for (const Leftover& leftover : leftovers)
            items.append({leftover.url, leftover.size});
        return items;
    }
    /// What goes to the Trash.
    QList<CleanItem> trashed() const { return targets().mid(viaInstaller() ? 1 : 0); }
    QString question() const
    {
        const QString name = shown(app.name, CliOutput::Stream::err);
        const QString trash = countAndSize(trashed()) + QStringLiteral(" vào Thùng rác? [c/K] ");
        if (!viaInstaller())
            return QStringLiteral("Gỡ ") + name + QStringLiteral(" và chuyển ") + trash;
        return QStringLiteral("Gỡ ") + name + QStringLiteral(" qua Flatpak (") +
               formatBytes(app.size.value_or(0)) + QStringLiteral(") và chuyển ") + trash;
    }
};

QCoro::Task<Plan> prepared(InstalledApp app, bool keepLeftovers)
{
    auto measuring = QtConcurrent::run(&ioPool(), [app, keepLeftovers] {
        Plan plan{app, {}};
        plan.app.size = measuredSize(app);
        if (!keepLeftovers) plan.leftovers = AppCatalog::leftovers(app);
        plan.leftovers.removeIf([](const Leftover& leftover) { return leftover.byName; });
        return plan;
    });
    Plan plan = co_await measuring;
    co_return plan;
}

void printDryRun(const Plan& plan, bool json)
{
    if (json) {
        printPlan(DeletionMode::trash, plan.targets(), true);
        return;
    }
    if (plan.viaInstaller())
        out(QStringLiteral("Sẽ gỡ qua Flatpak: ") + shown(plan.app.name) + QStringLiteral(" · ") +
            formatBytes(plan.app.size.value_or(0)));
    printPlan(DeletionMode::trash, plan.trashed(), false);
}

/// Asks (unless --yes), quits the application, removes it: the window's flow.
QCoro::Task<int> removed(Arguments args, Plan plan)
{
    if (!confirmed(args, DeletionMode::trash, plan.trashed(), plan.question())) co_return kUsage;

    auto quitting = Uninstaller::quitIfRunning(plan.app);
    const Uninstaller::Quit quit = co_await quitting;
    if (quit != Uninstaller::Quit::done) {
        const QString name = shown(plan.app.name, CliOutput::Stream::err);
        err(quit == Uninstaller::Quit::replaced ? ReportText::replaced(name)
                                                : ReportText::notQuit(name));
        co_return kFailures;
    }
    auto removing = QtConcurrent::run(
        &ioPool(), [plan] { return Uninstaller::uninstall(plan.app, plan.leftovers); });
    const CleanReport report = co_await removing;
    printReport(report, args.json, [&](const CleanReport& shownReport) {
        return ReportText::uninstall(shown(plan.app.name), shownReport, plan.app.removal,
                                     shownReport.failures.size());
    });
    co_return report.failures.isEmpty() ? kSuccess : kFailures;
}

} // namespace

QCoro::Task<int> apps(Arguments args)
{
    auto listing = measuredCatalogue();
    const QList<InstalledApp> apps = co_await listing;
    if (args.json) {
        CliOutput::raw(CliJson::apps(apps));
        co_return kSuccess;
    }
    for (const InstalledApp& app : apps)
        printApp(app);
    out(QString::number(apps.size()) + QStringLiteral(" ứng dụng."));
    co_return kSuccess;
}

QCoro::Task<int> uninstall(Arguments args)
{
    if (args.positional.size() != 1) {
        err(QStringLiteral("Cần đúng một MÃ-ỨNG-DỤNG (xem: sorviclean uninstall --help)."));
        co_return kUsage;
    }
    auto listing = catalogue();
    const QList<InstalledApp> apps = co_await listing;
    const std::optional<InstalledApp> app = chosenApp(apps, args.positional.first());
    if (!app) co_return kUsage;
    auto preparing = prepared(*app, args.keepLeftovers);
    const Plan plan = co_await preparing;

    if (args.dryRun) {
        printDryRun(plan, args.json);
        co_return kSuccess;
    }
    auto removing = removed(args, plan);
    const int code = co_await removing;
    co_return code;
}

} // namespace Cli
