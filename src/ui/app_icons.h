#pragma once

#include <QHash>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QSet>

/// Application icons for the uninstaller screens. A bundle's icon file is read and decoded on
/// the I/O pool (a hostile bundle may name a huge or damaged file), so a list of hundreds of
/// applications draws at once with the generic application icon and each row switches to its
/// own icon when it has been read. GUI thread.
class AppIcons : public QObject
{
    Q_OBJECT

public:
    explicit AppIcons(QObject* parent = nullptr);

    /// The icon of the bundle at `url`, `size` pixels square (device-independent): the bundle's
    /// own once read, the generic application icon until then and when it has none. The first
    /// request for a bundle starts its reading. An empty `url` gives the generic icon.
    QPixmap icon(const QString& url, int size, qreal devicePixelRatio = 1.0);

    /// True once the bundle at `url` was read and has an icon of its own.
    bool hasOwnIcon(const QString& url) const;

    /// The generic application icon of the theme.
    static QIcon generic();

    /// Decodes the icon file at `path` to at most `edge` pixels square: of several images (an
    /// .icns holds one per size) the smallest that is at least `edge`, else the largest. A null
    /// image when the file cannot be read or is far too big to be an icon. Any thread.
    static QImage decode(const QString& path, int edge);

Q_SIGNALS:
    /// The icon of `url` was read (it may have turned out to have none).
    void iconLoaded(const QString& url);

private:
    void request(const QString& url);

    QHash<QString, QImage> m_images; ///< null image: read, no icon of its own
    QSet<QString> m_pending;
    QHash<QString, QPixmap> m_scaled; ///< by url, size and ratio
};
