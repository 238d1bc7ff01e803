#pragma once

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>
#include <QUrl>
#include <chrono>

/// One HTTP fetch of the update feed.
namespace FeedTransfer {

/// The largest body accepted; a feed is a few kilobytes.
inline constexpr qint64 maxBodyBytes = 1024 * 1024;

/// A body received with status 200, or the description of why there is none.
struct Result
{
    bool ok = false;
    QByteArray body;
    QString error; ///< English description when !ok
};

/// GETs `url`, always from the network, and resumes on the calling thread (which needs an
/// event loop). Follows at most 50 redirects, each only to an address that
/// FeedAddress::permitsRedirect allows. Fails when the whole exchange, redirects included, takes
/// longer than `timeout`, when a redirect is refused, when the final status is not exactly 200,
/// and when a body grows beyond maxBodyBytes (abandoned as soon as it does). TLS errors are never
/// ignored. The transfer owns everything it uses, so its caller may go away meanwhile.
QCoro::Task<Result> fetch(QUrl url, std::chrono::milliseconds timeout);

} // namespace FeedTransfer
