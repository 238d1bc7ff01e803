#include "update/feed_transfer.h"

#include "update/feed_address.h"
#include "update/network_error_text.h"

#include <QCoro/QCoroNetworkReply>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <memory>

namespace FeedTransfer {

namespace {

// As many as Qt's own default.
constexpr int maxRedirects = 50;

// Shared between the signal handlers and the awaiting coroutine.
struct Progress
{
    QPointer<QNetworkReply> reply; // the hop in flight
    QByteArray body;
    bool tooLarge = false;
    bool timedOut = false;
};

void drain(QNetworkReply* reply, Progress& progress)
{
    if (progress.tooLarge) return;
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
    return QStringLiteral("Máy chủ không trả lời kịp thời hạn.");
}

// A connection that failed: the table's words, and where the transfer was going.
QString connectionText(QNetworkReply::NetworkError error, const QUrl& url)
{
    const int port = url.port();
    return NetworkErrorText::of(error) + QStringLiteral(" (") + url.host() +
           (port < 0 ? QString() : u':' + QString::number(port)) + QStringLiteral(").");
}

QNetworkRequest requestFor(const QUrl& url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    // Qt 6.4 following redirects itself repeats requests and ends a chain of a few hops with a
    // made-up status 100; each hop is therefore a request of our own.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    // No Qt transfer time-out: it measures only silence, and its coarse timer may end the
    // exchange before the deadline.
    return request;
}

/// Where a finished hop redirects to, if it is a redirect at all.
std::optional<QUrl> redirectTarget(QNetworkReply* reply, const QUrl& url)
{
    if (reply->error() != QNetworkReply::NoError) return std::nullopt;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status != 301 && status != 302 && status != 303 && status != 307 && status != 308)
        return std::nullopt;
    const QByteArray location = reply->rawHeader("Location");
    const QUrl target = QUrl::fromEncoded(location, QUrl::StrictMode);
    if (location.isEmpty() || !target.isValid()) return std::nullopt;
    return url.resolved(target);
}

Result conclude(QNetworkReply* reply, Progress& progress, const QUrl& url)
{
    if (progress.timedOut) return failure(timedOutText());
    if (progress.tooLarge)
        return failure(QStringLiteral("Dữ liệu cập nhật lớn hơn %1 byte.").arg(maxBodyBytes));

    const QNetworkReply::NetworkError error = reply->error();
    // Errors below 200 are connection-level: TLS, refused, closed, ...
    if (error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied)
        return failure(connectionText(error, url));

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return failure(QStringLiteral("Máy chủ không trả lời theo giao thức HTTP."));
    if (status.toInt() != 200)
        return failure(
            QStringLiteral("Máy chủ trả về mã HTTP %1 thay vì 200.").arg(status.toInt()));
    if (error != QNetworkReply::NoError) return failure(NetworkErrorText::of(error) + u'.');
    return {true, std::move(progress.body), {}};
}

} // namespace

Deadline::Deadline(std::chrono::milliseconds limit, std::function<void()> onExpiry, QObject* parent)
    : m_deadline(limit, Qt::PreciseTimer), m_timer(new QTimer(parent)),
      m_onExpiry(std::move(onExpiry))
{
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(m_timer, &QTimer::timeout, m_timer, [this] { wake(); });
    m_timer->start(limit);
}

void Deadline::wake()
{
    if (!m_deadline.hasExpired()) {
        // Rounded up: a timer woken a fraction of a millisecond early sleeps again.
        m_timer->start(
            std::chrono::ceil<std::chrono::milliseconds>(m_deadline.remainingTimeAsDuration()));
        return;
    }
    m_timer->stop();
    // The callback may end the transfer and with it this object: it runs from a copy, last.
    const std::function<void()> onExpiry = m_onExpiry;
    onExpiry();
}

void Deadline::stop()
{
    m_timer->stop();
}

Deadline::~Deadline()
{
    // This may run inside the timer's own signal, so the timer goes later, and silenced.
    QObject::disconnect(m_timer, nullptr, nullptr, nullptr);
    m_timer->stop();
    m_timer->deleteLater();
}

QCoro::Task<Result> fetch(QUrl url, std::chrono::milliseconds timeout)
{
    // The manager and its replies outlive the coroutine frame by one turn of the event loop:
    // the coroutine may be resumed from inside a reply's own signal emission.
    auto* manager = new QNetworkAccessManager;
    auto progress = std::make_shared<Progress>();
    // One limit for the whole exchange: Qt's own transfer time-out only measures silence, so a
    // trickling server would never trip it.
    Deadline deadline(
        timeout,
        [progress] {
            progress->timedOut = true;
            if (progress->reply) progress->reply->abort();
        },
        manager);

    Result result;
    for (int redirects = 0;; ++redirects) {
        QNetworkReply* reply = manager->get(requestFor(url));
        // Set before the request starts: the limit is handed to Qt's network thread with it.
        reply->setReadBufferSize(readBufferBytes);
        progress->reply = reply;
        progress->body.clear();
        QObject::connect(reply, &QNetworkReply::readyRead, reply,
                         [reply, progress] { drain(reply, *progress); });

        co_await reply;

        if (reply->error() == QNetworkReply::NoError) drain(reply, *progress);
        reply->deleteLater();
        const std::optional<QUrl> target = redirectTarget(reply, url);
        if (!target || progress->tooLarge) {
            result = conclude(reply, *progress, url);
            break;
        }
        if (!FeedAddress::permitsRedirect(url, *target)) {
            result = failure(
                QStringLiteral("Không theo chuyển hướng sang %1.").arg(target->toDisplayString()));
            break;
        }
        if (redirects == maxRedirects) {
            result = failure(QStringLiteral("Bị chuyển hướng quá %1 lần.").arg(maxRedirects));
            break;
        }
        url = *target;
    }
    deadline.stop();
    manager->deleteLater();
    co_return result;
}

} // namespace FeedTransfer
