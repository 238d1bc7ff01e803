#include "core/permission_helper.h"

#include "core/io_pool.h"
#include "platform/desktop.h"
#include "platform/file_system.h"
#include "platform/script_runner.h"

#include <QCoro/QCoroFuture>
#include <QSet>
#include <QStandardPaths>
#include <QThreadPool>
#include <QUrl>
#include <QtConcurrent>
#include <optional>
#include <unistd.h>

namespace PermissionHelper {
namespace {

const QString kEmptied = QStringLiteral("Đã dọn Thùng rác.");
const QString kUnknownError = QStringLiteral("Lỗi không xác định");

QString failureText(const QString& reason)
{
    return QStringLiteral("Không dọn được Thùng rác: ") + reason +
           QStringLiteral("\n\nHãy cho phép SorviClean điều khiển Finder trong System Settings > "
                          "Privacy & Security > Automation.");
}

QString runFinderScript(ScriptRunner& runner)
{
    const ScriptRunner::Result result =
        runner.run(QStringLiteral("tell application \"Finder\" to empty the trash"));
    if (result.ok) return kEmptied;
    const bool usable = result.errorMessage && !result.errorMessage->isEmpty();
    return failureText(usable ? *result.errorMessage : kUnknownError);
}

QString homeTrashPath()
{
    // An XDG variable that is not an absolute path is to be ignored.
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.startsWith(u'/'))
        return FileSystem::standardized(dataHome) + QStringLiteral("/Trash");
    return FileSystem::homeDirectory() + QStringLiteral("/.local/share/Trash");
}

// `folder` must still be the one listed: one replaced by a link meanwhile is never entered.
FileSystem::Outcome removeEntry(const QString& folder, const QString& entry,
                                FileSystem::Identity listed)
{
    FileSystem::Outcome first = FileSystem::removeItem(folder, entry, listed);
    if (first.ok()) return first;
    // Trashed trees are often read-only (module caches, unpacked archives).
    FileSystem::grantOwnerAccess(folder, entry, ::getuid(), listed);
    return FileSystem::removeItem(folder, entry, listed);
}

} // namespace

void openFullDiskAccess()
{
    Desktop::openUrl(QUrl(QStringLiteral(
        "x-apple.systempreferences:com.apple.preference.security?Privacy_AllFiles")));
}

QString emptyHomeTrash()
{
    const QString trash = homeTrashPath();
    const QString files = trash + QStringLiteral("/files");
    const QString info = trash + QStringLiteral("/info");

    std::optional<QString> firstFailure;
    bool unreadable = false;
    QSet<QString> kept;
    if (FileSystem::exists(files)) {
        FileSystem::Identity listed;
        const std::optional<QStringList> entries =
            FileSystem::children(files, FileSystem::Hidden::Include, &listed);
        unreadable = !entries;
        for (const QString& entry : entries.value_or(QStringList())) {
            const FileSystem::Outcome outcome = removeEntry(files, entry, listed);
            if (outcome.ok()) continue;
            const QString name = FileSystem::lastComponent(entry);
            kept.insert(name + QStringLiteral(".trashinfo"));
            if (!firstFailure) firstFailure = name + QStringLiteral(": ") + outcome.error;
        }
    }
    // Records go only after their files, and a record whose file stayed is kept with it.
    if (!unreadable && FileSystem::exists(info)) {
        FileSystem::Identity listed;
        const std::optional<QStringList> entries =
            FileSystem::children(info, FileSystem::Hidden::Include, &listed);
        unreadable = !entries;
        for (const QString& entry : entries.value_or(QStringList())) {
            const QString name = FileSystem::lastComponent(entry);
            if (kept.contains(name)) continue;
            const FileSystem::Outcome outcome = removeEntry(info, entry, listed);
            if (!outcome.ok() && !firstFailure)
                firstFailure = name + QStringLiteral(": ") + outcome.error;
        }
    }
    if (firstFailure) return failureText(*firstFailure);
    if (unreadable) return failureText(kUnknownError);
    return kEmptied;
}

QCoro::Task<QString> emptyTrashViaFinder(ScriptRunner& runner)
{
    ScriptRunner* script = &runner;
    // Not the I/O pool: the Finder may keep the thread for minutes (the consent dialog).
    auto run = QtConcurrent::run(QThreadPool::globalInstance(),
                                 [script] { return runFinderScript(*script); });
    QString text = co_await run;
    co_return text;
}

QCoro::Task<QString> emptyTrashViaFinder()
{
    if (!QStandardPaths::findExecutable(QStringLiteral("osascript")).isEmpty()) {
        auto viaFinder = emptyTrashViaFinder(defaultScriptRunner());
        QString text = co_await viaFinder;
        co_return text;
    }
    auto emptying = QtConcurrent::run(&ioPool(), [] { return emptyHomeTrash(); });
    QString text = co_await emptying;
    co_return text;
}

} // namespace PermissionHelper
