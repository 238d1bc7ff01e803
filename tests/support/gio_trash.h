#pragma once

#include <QtTest>

/// The original paths (bytes) of every entry `gio list trash:///` shows, as a file manager sees
/// them, through a private session bus so that GVfs reads this test's XDG_DATA_HOME; or nullopt.
namespace GioTrash {

inline std::optional<QList<QByteArray>> origins()
{
    QProcess gio;
    gio.start(QStringLiteral("dbus-run-session"),
              QStringLiteral("-- gio list -a trash::orig-path trash:///").split(u' '));
    if (!gio.waitForFinished(20000) || gio.exitCode() != 0) {
        qWarning("gio list trash:/// did not answer: %s", gio.readAllStandardError().constData());
        return std::nullopt;
    }
    // Names are printed raw (line breaks too); the original path is escaped (\xNN) to its line end.
    QList<QByteArray> paths;
    const QByteArray output = gio.readAllStandardOutput();
    static const QByteArray key = "\ttrash::orig-path=";
    for (qsizetype at = output.indexOf(key); at >= 0; at = output.indexOf(key, at + 1)) {
        const qsizetype start = at + key.size();
        QByteArray escaped = output.mid(start, output.indexOf('\n', start) - start);
        paths.append(
            QByteArray::fromPercentEncoding(escaped.replace('%', "%25").replace("\\x", "%")));
    }
    return paths;
}

} // namespace GioTrash
