// Revealing files in the desktop's file manager, through the freedesktop.org FileManager1
// interface on the session bus.
#include "platform/desktop.h"
#include "platform/path_codec.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QSet>

namespace Desktop {
namespace {

// Asking a file manager that is being started may take a while; it never blocks anything.
constexpr int kShowItemsTimeoutMs = 10000;

// The exact bytes of the path, percent-encoded: a name that is not UTF-8 still names itself.
QString fileUri(const QString& path)
{
    return QStringLiteral("file://") +
           QString::fromLatin1(PathCodec::encode(path).toPercentEncoding("/"));
}

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

void openParents(const QStringList& paths)
{
    QSet<QString> opened;
    for (const QString& path : paths) {
        const QString parent = parentOf(path);
        if (opened.contains(parent)) continue;
        opened.insert(parent);
        openUrl(QUrl(fileUri(parent)));
    }
}

} // namespace

void revealInFileViewer(const QStringList& paths)
{
    if (paths.isEmpty()) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openParents(paths);
        return;
    }
    QStringList uris;
    for (const QString& path : paths)
        uris.append(fileUri(path));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kShowItemsTimeoutMs),
                                                QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [paths](QDBusPendingCallWatcher* finished) {
                         // No file manager implements the interface: show the folders instead.
                         if (finished->isError()) openParents(paths);
                         finished->deleteLater();
                     });
}

} // namespace Desktop
