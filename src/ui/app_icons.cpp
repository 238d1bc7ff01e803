#include "ui/app_icons.h"

#include "core/io_pool.h"
#include "ui/symbols.h"
#include "uninstaller/app_catalog.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QImageReader>
#include <QtConcurrent>

namespace {

// The largest drawing is 72 points; twice that covers a 2x screen.
constexpr int kDecodedEdge = 144;
// Real icon files are a few megabytes at most; anything far larger is not worth reading.
constexpr qint64 kMaxIconFileBytes = qint64(32) * 1024 * 1024;

QString key(const QString& url, int size, qreal ratio)
{
    return url + QLatin1Char('\n') + QString::number(size) + QLatin1Char('@') +
           QString::number(ratio);
}

} // namespace

AppIcons::AppIcons(QObject* parent) : QObject(parent) {}

QIcon AppIcons::generic()
{
    // Symbols::icon also points an empty theme at the installed icon folders.
    QIcon fallback = Symbols::icon(QStringLiteral("xmark.app"));
    for (const char* name : {"application-x-executable", "application-x-generic"}) {
        const QString themeName = QLatin1String(name);
        if (QIcon::hasThemeIcon(themeName)) return QIcon::fromTheme(themeName);
    }
    return fallback;
}

QPixmap AppIcons::genericIcon(int size, qreal devicePixelRatio)
{
    const QString genericKey = key(QString(), size, devicePixelRatio);
    auto found = m_scaled.find(genericKey);
    if (found == m_scaled.end())
        found = m_scaled.insert(genericKey, generic().pixmap(QSize(size, size), devicePixelRatio));
    return *found;
}

QPixmap AppIcons::icon(const InstalledApp& app, int size, qreal devicePixelRatio)
{
    const QString& url = app.url;
    const QString cacheKey = key(url, size, devicePixelRatio);
    if (const auto found = m_scaled.constFind(cacheKey); found != m_scaled.constEnd())
        return *found;
    if (!m_images.contains(url) && !m_themed.contains(url)) {
        if (!app.iconPath.isEmpty()) {
            request(url, app.iconPath);
            // Until the application's own icon has been read; not cached under its key.
            return genericIcon(size, devicePixelRatio);
        }
        // A theme name is looked up in the theme's own folders; one with a "/" would be a path.
        if (!app.iconName.isEmpty() && !app.iconName.contains(u'/') &&
            QIcon::hasThemeIcon(app.iconName))
            m_themed.insert(url, QIcon::fromTheme(app.iconName));
        else
            m_images.insert(url, QImage());
    }
    QPixmap pixmap;
    const QImage image = m_images.value(url);
    if (const auto themed = m_themed.constFind(url); themed != m_themed.constEnd()) {
        pixmap = themed->pixmap(QSize(size, size), devicePixelRatio);
    } else if (image.isNull()) {
        pixmap = genericIcon(size, devicePixelRatio);
    } else {
        const int edge = qRound(size * devicePixelRatio);
        pixmap = QPixmap::fromImage(
            image.scaled(edge, edge, Qt::KeepAspectRatio, Qt::SmoothTransformation));
        pixmap.setDevicePixelRatio(devicePixelRatio);
    }
    m_scaled.insert(cacheKey, pixmap);
    return pixmap;
}

bool AppIcons::hasOwnIcon(const QString& url) const
{
    return m_themed.contains(url) || !m_images.value(url).isNull();
}

void AppIcons::request(const QString& url, const QString& path)
{
    if (m_pending.contains(url)) return;
    m_pending.insert(url);
    // A watcher owned by this object, not a continuation with a context: Qt 6.4 asserts when
    // the context of a continuation is gone by the time the work ends (the screen was left).
    auto* watcher = new QFutureWatcher<QImage>(this);
    connect(watcher, &QFutureWatcher<QImage>::finished, this, [this, watcher, url] {
        watcher->deleteLater();
        m_pending.remove(url);
        m_images.insert(url, watcher->future().result());
        emit iconLoaded(url);
    });
    watcher->setFuture(QtConcurrent::run(&ioPool(), [path] { return decode(path, kDecodedEdge); }));
}

QImage AppIcons::decode(const QString& path, int edge)
{
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > kMaxIconFileBytes) return {};
    QImageReader reader(path);
    int best = -1;
    QSize bestSize;
    for (int i = 0; i < qMax(1, reader.imageCount()); ++i) {
        if (i > 0 && !reader.jumpToImage(i)) break;
        const QSize size = reader.size();
        if (!size.isValid()) continue;
        const bool bigEnough = qMin(size.width(), size.height()) >= edge;
        const bool bestBigEnough = best >= 0 && qMin(bestSize.width(), bestSize.height()) >= edge;
        const bool better = best < 0 ||
                            (bigEnough && (!bestBigEnough || size.width() < bestSize.width())) ||
                            (!bigEnough && !bestBigEnough && size.width() > bestSize.width());
        if (better) {
            best = i;
            bestSize = size;
        }
    }
    // A fresh reader: a multi-image reader cannot always go back to an earlier image.
    QImageReader chosen(path);
    if (best > 0 && !chosen.jumpToImage(best)) return {};
    QImage image = chosen.read();
    if (image.isNull()) return {};
    if (image.width() > edge || image.height() > edge)
        image = image.scaled(edge, edge, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}
