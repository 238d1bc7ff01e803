#include "update/feed_transfer.h"

#include "update/feed_address.h"

#include <QCoro/QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <memory>

namespace FeedTransfer {

namespace {

// Shared between the reply's signal handlers and the awaiting coroutine.
struct Progress
{
    QUrl current;
    QByteArray body;
    std::optional<QUrl> refusedRedirect;
    bool tooLarge = false;
    bool timedOut = false;
};

void drain(QNetworkReply* reply, Progress& progress)
{
    if (progress.tooLarge)
        return;
    progress.body += reply->read(maxBodyBytes + 1 - progress.body.size());
    if (progress.body.size() > maxBodyBytes) {
        progress.tooLarge = true;
        progress.body.clear();
        reply->abort();
    }
}

Result failure(QString error)
{
    return {false, {}, std::move(error)};
}

QString timedOutText()
{
    return QStringLiteral("The request timed out.");
}

Result conclude(QNetworkReply* reply, Progress& progress)
{
    if (progress.refusedRedirect)
        return failure(QStringLiteral("The redirect to %1 was refused.")
                           .arg(progress.refusedRedirect->toDisplayString()));
    if (progress.timedOut)
        return failure(timedOutText());
    if (progress.tooLarge)
        return failure(QStringLiteral("The feed is larger than %1 bytes.").arg(maxBodyBytes));

    const QNetworkReply::NetworkError error = reply->error();
    // Qt's own transfer time-out is the only other thing that cancels a reply.
    if (error == QNetworkReply::OperationCanceledError)
        return failure(timedOutText());
    // Errors below 200 are connection-level: TLS, refused, too many redirects, ...
    if (error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied)
        return failure(reply->errorString());

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return failure(QStringLiteral("The server returned a response that is not HTTP."));
    if (status.toInt() != 200)
        return failure(QStringLiteral("The server returned an unexpected response (HTTP status %1).")
                           .arg(status.toInt()));
    if (error != QNetworkReply::NoError)
        return failure(reply->errorString());
    return {true, std::move(progress.body), {}};
}

} // namespace

QCoro::Task<Result> fetch(QUrl url, std::chrono::milliseconds timeout)
{
    // The manager and the reply outlive the coroutine frame by one turn of the event loop: the
    // coroutine may be resumed from inside the reply's own signal emission.
    auto* manager = new QNetworkAccessManager;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setTransferTimeout(static_cast<int>(timeout.count()));
    QNetworkReply* reply = manager->get(request);

    auto progress = std::make_shared<Progress>();
    progress->current = url;
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply, progress](const QUrl& to) {
        if (!FeedAddress::permitsRedirect(progress->current, to)) {
            progress->refusedRedirect = to;
            reply->abort();
            return;
        }
        progress->current = to;
        emit reply->redirectAllowed();
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply,
                     [reply, progress] { drain(reply, *progress); });
    // Qt's transfer time-out only measures silence; a trickling server would never trip it.
    auto* deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, reply, [reply, progress] {
        progress->timedOut = true;
        reply->abort();
    });
    deadline->start(timeout);

    co_await reply;

    deadline->stop();
    if (reply->error() == QNetworkReply::NoError)
        drain(reply, *progress);
    Result result = conclude(reply, *progress);
    manager->deleteLater();
    co_return result;
}

} // namespace FeedTransfer
