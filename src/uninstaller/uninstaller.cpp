#include "uninstaller/uninstaller.h"

#include "core/io_pool.h"
#include "platform/file_system.h"
#include "platform/running_apps.h"
#include "platform/script_runner.h"
#include "platform/trash.h"

#include <QCoro/QCoroFuture>
#include <QCoro/QCoroTimer>
#include <QtConcurrent>
#include <algorithm>

namespace Uninstaller {
namespace {

constexpr int kChecks = 20;
constexpr std::chrono::milliseconds kCheckInterval{250};

struct Target
{
    QString location;
    qint64 size = 0;
};

QString escaped(QString path)
{
    path.replace(u'\\', QStringLiteral("\\\\"));
    path.replace(u'"', QStringLiteral("\\\""));
    return path;
}

QString failureLine(const QString& location, const QString& reason)
{
    return FileSystem::lastComponent(location) + QStringLiteral(": ") + reason;
}

const QString& outsideReason()
{
    static const QString reason = QStringLiteral("nằm ngoài vùng cho phép");
    return reason;
}

// An application of another kind than a bundle, through its source: to the Trash with its own
// files (after the allow-list test of its location), or through its installer.
void removeThroughSource(const InstalledApp& app, const AppCatalog::Folders& folders,
                         CleanReport& report)
{
    ApplicationSource* source = folders.source(app.kind);
    const bool allowed = app.removal == Removal::Transaction
                             ? !app.isProtected
                             : AppCatalog::isAllowedTarget(app.url, app, folders);
    if (!source || !allowed) {
        report.failures.append(failureLine(app.url, outsideReason()));
        return;
    }
    for (const RemovalFailure& failure : source->remove(app.sourced()))
        report.failures.append(failureLine(failure.item, failure.reason));
    if (!FileSystem::exists(app.url)) report.freed += app.size.value_or(0);
}

} // namespace

QCoro::Task<Quit> quitIfRunning(InstalledApp app)
{
    auto quit = quitIfRunning(app, &defaultRunningApps(), kCheckInterval);
    const Quit outcome = co_await quit;
    co_return outcome;
}

QCoro::Task<Quit> quitIfRunning(InstalledApp app, RunningApps* registry,
                                std::chrono::milliseconds interval)
{
    if (!registry) registry = &defaultRunningApps();
    const SourcedApplication sourced = app.sourced();
    auto listed =
        QtConcurrent::run(&ioPool(), [registry, sourced] { return registry->instances(sourced); });
    const std::optional<QList<RunningApplicationPtr>> found = co_await listed;
    if (!found) co_return Quit::replaced;
    const QList<RunningApplicationPtr>& running = *found;
    if (running.isEmpty()) co_return Quit::done;
    for (const RunningApplicationPtr& instance : running)
        instance->terminate();
    for (int checks = 0;;) {
        auto sleep = QCoro::sleepFor(interval);
        co_await sleep;
        const bool allGone =
            std::all_of(running.begin(), running.end(), [](const RunningApplicationPtr& instance) {
                return instance->isTerminated();
            });
        if (allGone) co_return Quit::done;
        if (++checks == kChecks) co_return Quit::stillRunning;
    }
}

QString finderDeleteScript(const QStringList& paths)
{
    QStringList items;
    for (const QString& path : paths)
        items.append(QStringLiteral("POSIX file \"") + escaped(path) + u'"');
    return QStringLiteral("tell application \"Finder\" to delete {") +
           items.join(QStringLiteral(", ")) + u'}';
}

CleanReport uninstall(const InstalledApp& app, const QList<Leftover>& leftovers)
{
    return uninstall(app, leftovers, defaultScriptRunner(), AppCatalog::Folders::standard());
}

CleanReport uninstall(const InstalledApp& app, const QList<Leftover>& leftovers,
                      ScriptRunner& runner, const AppCatalog::Folders& folders,
                      const ProgressCallback& progress)
{
    CleanReport report;
    QList<Target> targets;
    // The application is the first step whichever way it goes, then each leftover.
    const qint64 total = leftovers.size() + 1;
    qint64 done = 0;
    if (app.kind == ApplicationKind::Bundle) {
        targets.append({app.url, app.size.value_or(0)});
    } else {
        if (progress) progress({done++, total});
        removeThroughSource(app, folders, report);
    }
    for (const Leftover& leftover : leftovers)
        targets.append({leftover.url, leftover.size});

    QList<Target> retry;
    for (const Target& target : targets) {
        if (progress) progress({done++, total});
        if (!AppCatalog::isAllowedTarget(target.location, app, folders)) {
            report.failures.append(failureLine(target.location, outsideReason()));
            continue;
        }
        if (FileSystem::moveToTrash(target.location).ok())
            report.freed += target.size;
        else
            retry.append(target);
    }
    if (retry.isEmpty()) {
        if (progress) progress({done, total});
        return report;
    }

    // A name that is not valid Unicode (bytes that are not UTF-8, kept as lone surrogates) cannot
    // be written into the script without turning into another name, which the Finder might find
    // and delete instead; such a target is left out of the request and reported below.
    QStringList paths;
    for (const Target& target : retry)
        if (QStringView(target.location).isValidUtf16()) paths.append(target.location);
    std::optional<QString> error;
    if (!paths.isEmpty()) {
        const ScriptRunner::Result result = runner.run(finderDeleteScript(paths));
        if (!result.ok) error = result.errorMessage;
    }

    // The Finder's attempt is one step for all that was left: done once it answered.
    if (progress) progress({done, total});
    const QString reason = error.value_or(QStringLiteral("không có quyền"));
    for (const Target& target : retry) {
        if (!FileSystem::exists(target.location))
            report.freed += target.size;
        else
            report.failures.append(failureLine(target.location, reason));
    }
    return report;
}

} // namespace Uninstaller
