#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QtTest>

/// GIO's view of the trash, as a file manager sees it: the original paths (bytes) of every entry
/// that `gio list trash:///` shows, read through a private session bus so that GVfs's trash
/// backend reads this test's XDG_DATA_HOME. nullopt when GIO could not list the trash in time.
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
    // Names are printed raw and may hold line breaks; the original path is escaped (\xNN), so
    // each one ends at the next line break.
    QList<QByteArray> paths;
    const QByteArray output = gio.readAllStandardOutput();
    static const QByteArray key = "\ttrash::orig-path=";
    for (qsizetype at = output.indexOf(key); at >= 0; at = output.indexOf(key, at + 1)) {
        const qsizetype start = at + key.size();
        const QByteArray escaped = output.mid(start, output.indexOf('\n', start) - start);
        QByteArray path;
        for (qsizetype i = 0; i < escaped.size(); ++i) {
            const bool hex = escaped.at(i) == '\\' && escaped.mid(i + 1, 1) == "x";
            path.append(hex ? char(escaped.mid(i + 2, 2).toInt(nullptr, 16)) : escaped.at(i));
            i += hex ? 3 : 0;
        }
        paths.append(path);
    }
    return paths;
}

} // namespace GioTrash
