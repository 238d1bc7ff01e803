#pragma once

#include <QString>
#include <QUrl>
#include <optional>

/// Which addresses the update feed may be fetched from, and the download page derived from one.
/// Pure functions; any thread.
namespace FeedAddress {

/// The feed address for raw configured text, used unchanged (no trimming, no case folding).
/// Accepted only when the text starts, case-sensitively, with "https://", "http://localhost" or
/// "http://127.0.0.1", parses as an address, and a plain-http address really names the loopback
/// host. Empty when the text is not accepted.
std::optional<QUrl> fromText(const QString& raw);

/// Whether a transfer at `from` may follow a redirect to `to`: the target must itself be an
/// acceptable feed address, and an https transfer never continues over plain http.
bool permitsRedirect(const QUrl& from, const QUrl& to);

/// The download page for a feed: the feed's last path component replaced by "apps/sorviclean/",
/// with the single query item installed=sorviclean:<version>. Empty when it cannot be built.
std::optional<QUrl> downloadPage(const QUrl& feed, const QString& version);

} // namespace FeedAddress
