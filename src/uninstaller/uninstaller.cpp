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

} // namespace

QCoro::Task<bool> quitIfRunning(InstalledApp app)
{
    auto quit = quitIfRunning(app, &defaultRunningApps(), kCheckInterval);
    const bool quitted = co_await quit;
    co_return quitted;
}

QCoro::Task<bool> quitIfRunning(InstalledApp app, RunningApps* registry,
                                std::chrono::milliseconds interval)
{
    if (!registry) registry = &defaultRunningApps();
    const QString path = app.url;
    const QString id = app.bundleID;
    auto listed = QtConcurrent::run(&ioPool(),
                                    [registry, path, id] { return registry->instances(path, id); });
    const QList<RunningApplicationPtr> running = co_await listed;
    if (running.isEmpty()) co_return true;
    for (const RunningApplicationPtr& instance : running)
        instance->terminate();
    for (int checks = 0;;) {
        auto sleep = QCoro::sleepFor(interval);
        co_await sleep;
        const bool allGone =
            std::all_of(running.begin(), running.end(), [](const RunningApplicationPtr& instance) {
                return instance->isTerminated();
            });
        if (allGone) co_return true;
        if (++checks == kChecks) co_return false;
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
    QList<Target> targets{{app.url, app.size.value_or(0)}};
    for (const Leftover& leftover : leftovers)
        targets.append({leftover.url, leftover.size});

    QList<Target> retry;
    qint64 done = 0;
    for (const Target& target : targets) {
        if (progress) progress({done++, targets.size()});
        if (!AppCatalog::isAllowedTarget(target.location, app, folders)) {
            report.failures.append(
                failureLine(target.location, QStringLiteral("nằm ngoài vùng cho phép")));
            continue;
        }
        if (FileSystem::moveToTrash(target.location).ok())
            report.freed += target.size;
        else
            retry.append(target);
    }
    if (retry.isEmpty()) {
        if (progress) progress({done, targets.size()});
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
    if (progress) progress({done, targets.size()});
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
