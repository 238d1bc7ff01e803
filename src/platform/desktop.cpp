#include "platform/desktop.h"

#include "platform/path_codec.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QSet>

namespace Desktop {
namespace {

// Asking a file manager that is being started may take a while; it never blocks anything.
constexpr int kShowItemsTimeoutMs = 10000;

// The exact bytes of the path, percent-encoded: a name that is not UTF-8 still names itself.
QString fileUri(const QString& path)
{
    return QStringLiteral("file://")
           + QString::fromLatin1(PathCodec::encode(path).toPercentEncoding("/"));
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
        if (opened.contains(parent))
            continue;
        opened.insert(parent);
        openUrl(QUrl(fileUri(parent)));
    }
}

} // namespace

void openUrl(const QUrl& url)
{
    // Without a GUI application there is no platform integration to ask.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QDesktopServices::openUrl(url);
}

void revealInFileViewer(const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openParents(paths);
        return;
    }
    QStringList uris;
    for (const QString& path : paths)
        uris.append(fileUri(path));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << uris << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kShowItemsTimeoutMs),
                                                QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [paths](QDBusPendingCallWatcher* finished) {
                         // No file manager implements the interface: show the folders instead.
                         if (finished->isError())
                             openParents(paths);
                         finished->deleteLater();
                     });
}

QVariantMap ownInfoDictionary()
{
    QVariantMap info{
        {QStringLiteral("CFBundleIdentifier"), QStringLiteral(SORVI_BUNDLE_IDENTIFIER)},
        {QStringLiteral("CFBundleShortVersionString"), QStringLiteral(SORVI_VERSION)},
        {QStringLiteral("CFBundleVersion"), QStringLiteral(SORVI_BUILD_NUMBER)},
    };
    const QString feed = QStringLiteral(SORVI_UPDATE_FEED_URL);
    if (!feed.isEmpty())
        info.insert(QStringLiteral("SorviUpdateFeedURL"), feed);
    return info;
}

} // namespace Desktop
