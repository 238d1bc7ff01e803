#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <QCoro/QCoroTask>

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
/// event loop). Fails when the whole exchange takes longer than `timeout`, when a redirect
/// leads to an address FeedAddress::permitsRedirect refuses, when the status is not exactly
/// 200, and when the body grows beyond maxBodyBytes (abandoned as soon as it does). TLS errors
/// are never ignored. Safe to abandon: the transfer owns everything it uses.
QCoro::Task<Result> fetch(QUrl url, std::chrono::milliseconds timeout);

} // namespace FeedTransfer
