#include "platform/desktop.h"

#include <QDesktopServices>
#include <QGuiApplication>

namespace Desktop {

void openUrl(const QUrl& url)
{
    // Without a GUI application there is no platform integration to ask.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr)
        QDesktopServices::openUrl(url);
}

QVariantMap ownInfoDictionary()
{
    QVariantMap info{
        {QStringLiteral("CFBundleIdentifier"), QStringLiteral(SORVI_BUNDLE_IDENTIFIER)},
        {QStringLiteral("CFBundleShortVersionString"), QStringLiteral(SORVI_VERSION)},
        {QStringLiteral("CFBundleVersion"), QStringLiteral(SORVI_BUILD_NUMBER)},
    };
    const QString feed = QStringLiteral(SORVI_UPDATE_FEED_URL);
    if (!feed.isEmpty()) info.insert(QStringLiteral("SorviUpdateFeedURL"), feed);
    return info;
}

} // namespace Desktop
