#include "update/feed_address.h"

#include <QHostAddress>
#include <algorithm>

namespace FeedAddress {

namespace {

bool isLoopbackHost(const QString& host)
{
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

} // namespace

std::optional<QUrl> fromText(const QString& raw)
{
    static const QLatin1String prefixes[] = {QLatin1String("https://"),
                                             QLatin1String("http://localhost"),
                                             QLatin1String("http://127.0.0.1")};
    const bool prefixed = std::any_of(std::begin(prefixes), std::end(prefixes),
                                      [&](QLatin1String p) { return raw.startsWith(p); });
    if (!prefixed) return std::nullopt;
    const QUrl url(raw, QUrl::StrictMode);
    if (!url.isValid()) return std::nullopt;
    // The prefix alone also admits "http://localhost.example.net/" and
    // "http://127.0.0.1@example.net/", which leave the machine over plain http.
    if (url.scheme() == QLatin1String("http") && !isLoopbackHost(url.host())) return std::nullopt;
    return url;
}

bool permitsRedirect(const QUrl& from, const QUrl& to)
{
    if (!fromText(to.toString(QUrl::FullyEncoded))) return false;
    return from.scheme() != QLatin1String("https") || to.scheme() == QLatin1String("https");
}

std::optional<QUrl> downloadPage(const QUrl& feed, const QString& version)
{
    if (!feed.isValid()) return std::nullopt;
    QString path = feed.path(QUrl::FullyEncoded);
    // As with file paths, a trailing slash does not make an empty last component.
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString parent = slash < 0 ? QStringLiteral("/") : path.left(slash + 1);

    QUrl page = feed;
    page.setPath(parent + QLatin1String("apps/sorviclean/"), QUrl::TolerantMode);
    const QByteArray value =
        QUrl::toPercentEncoding(QLatin1String("sorviclean:") + version, ":@/?!$'()*+,;");
    page.setQuery(QLatin1String("installed=") + QString::fromLatin1(value), QUrl::StrictMode);
    if (!page.isValid()) return std::nullopt;
    return page;
}

} // namespace FeedAddress
