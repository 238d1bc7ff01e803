#pragma once

#include <QHash>
#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QSet>

struct InstalledApp;

/// Application icons for the uninstaller screens: the application's own icon file, else the
/// theme icon its desktop entry names, else the theme's generic application icon. An icon file is
/// read and decoded on the I/O pool (a hostile application may name a huge or damaged file), so
/// a list of hundreds of applications draws at once with the generic icon and each row switches
/// to its own icon when it has been read. GUI thread.
class AppIcons : public QObject
{
    Q_OBJECT

public:
    explicit AppIcons(QObject* parent = nullptr);

    /// The icon of `app`, `size` pixels square (device-independent): its own once read, the
    /// generic application icon until then and when it has none. The first request for an
    /// application starts the reading of its icon file.
    QPixmap icon(const InstalledApp& app, int size, qreal devicePixelRatio = 1.0);

    /// True once the application at `url` was read and has an icon of its own (a file or a
    /// theme icon).
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
    QPixmap genericIcon(int size, qreal devicePixelRatio);
    void request(const QString& url, const QString& path);

    QHash<QString, QImage> m_images; ///< by url; null image: read, no icon of its own
    QHash<QString, QIcon> m_themed;  ///< by url: the theme icons found
    QSet<QString> m_pending;
    QHash<QString, QPixmap> m_scaled; ///< by url, size and ratio
};
