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

/// The catalogue with every size measured, all at once, before anything is printed.
QCoro::Task<QList<InstalledApp>> measuredCatalogue()
{
    auto listing = catalogue();
    QList<InstalledApp> apps = co_await listing;
    std::vector<QFuture<qint64>> sizes;
    for (const InstalledApp& app : apps)
        sizes.push_back(
            QtConcurrent::run(&ioPool(), [url = app.url] { return Scanner::allocatedSize(url); }));
    for (qsizetype i = 0; i < apps.size(); ++i) {
        const qint64 size = co_await sizes[size_t(i)];
        apps[i].size = size;
    }
    co_return apps;
}

void printApp(const InstalledApp& app)
{
    QString line = shown(app.name);
    if (!app.version.isEmpty()) line += u' ' + shown(app.version);
    line += QStringLiteral(" · ") + formatBytes(app.size.value_or(0)) + QStringLiteral(" · ") +
            shown(app.bundleID);
    if (app.isProtected) line += QStringLiteral(" · ứng dụng hệ thống, không gỡ được");
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
/// with it.
struct Removal
{
    InstalledApp app;
    QList<Leftover> leftovers;

    QList<CleanItem> targets() const
    {
        QList<CleanItem> items{{app.url, app.size.value_or(0)}};
        for (const Leftover& leftover : leftovers)
            items.append({leftover.url, leftover.size});
        return items;
    }
};

QCoro::Task<Removal> prepared(InstalledApp app, bool keepLeftovers)
{
    auto measuring = QtConcurrent::run(&ioPool(), [app, keepLeftovers] {
        Removal removal{app, {}};
        removal.app.size = Scanner::allocatedSize(app.url);
        if (!keepLeftovers) removal.leftovers = AppCatalog::leftovers(app);
        return removal;
    });
    Removal removal = co_await measuring;
    co_return removal;
}

/// Asks (unless --yes), quits the application, removes it: the window's flow.
QCoro::Task<int> removed(Arguments args, Removal removal)
{
    const QList<CleanItem> targets = removal.targets();
    const QString question = QStringLiteral("Gỡ ") +
                             shown(removal.app.name, CliOutput::Stream::err) +
                             QStringLiteral(" và chuyển ") + countAndSize(targets) +
                             QStringLiteral(" vào Thùng rác? [c/K] ");
    if (!confirmed(args, DeletionMode::trash, targets, question)) co_return kUsage;

    auto quitting = Uninstaller::quitIfRunning(removal.app);
    const bool quit = co_await quitting;
    if (!quit) {
        err(ReportText::notQuit(shown(removal.app.name, CliOutput::Stream::err)));
        co_return kFailures;
    }
    auto removing = QtConcurrent::run(
        &ioPool(), [removal] { return Uninstaller::uninstall(removal.app, removal.leftovers); });
    const CleanReport report = co_await removing;
    printReport(report, args.json, [&](const CleanReport& shownReport) {
        return ReportText::uninstall(shown(removal.app.name), shownReport,
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
    const Removal removal = co_await preparing;

    if (args.dryRun) {
        printPlan(DeletionMode::trash, removal.targets(), args.json);
        co_return kSuccess;
    }
    auto removing = removed(args, removal);
    const int code = co_await removing;
    co_return code;
}

} // namespace Cli
