#include "platform/script_runner.h"

#include <QProcess>
#include <QStandardPaths>

ScriptRunner::Result OsascriptRunner::run(const QString& source)
{
    const QString osascript = QStandardPaths::findExecutable(QStringLiteral("osascript"));
    if (osascript.isEmpty()) return {};
    QProcess process;
    process.start(osascript, {QStringLiteral("-e"), source});
    if (!process.waitForFinished(-1)) return {};
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return {true, std::nullopt};
    const QString message = QString::fromUtf8(process.readAllStandardError()).trimmed();
    return {false, message.isEmpty() ? std::nullopt : std::optional<QString>(message)};
}

ScriptRunner& defaultScriptRunner()
{
    static OsascriptRunner runner;
    return runner;
}
