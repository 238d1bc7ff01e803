#pragma once

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QDeadlineTimer>
#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>

class QTimer;

/// One HTTP fetch of the update feed.
namespace FeedTransfer {

/// The largest body accepted; a feed is a few kilobytes.
inline constexpr qint64 maxBodyBytes = qint64(1024) * 1024;
/// What Qt may hold of a body that has not been read yet; without a limit it reads a fast
/// server's stream into memory faster than the body is counted.
inline constexpr qint64 readBufferBytes = qint64(64) * 1024;

/// The time limit of one transfer. Calls `onExpiry` once the limit has passed since
/// construction, never earlier: a default Qt timer may fire up to 5 % early, so the deadline
/// decides and the timer only wakes the check. Lives on the thread that created it.
class Deadline
{
public:
    Deadline(std::chrono::milliseconds limit, std::function<void()> onExpiry, QObject* parent);
    ~Deadline();
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;
    /// The timer that wakes the check; a child of `parent`.
    const QTimer& timer() const { return *m_timer; }
    /// What the timer runs: `onExpiry` when the limit has passed, else sleep for the rest.
    void wake();
    void stop();

private:
    QDeadlineTimer m_deadline;
    QTimer* m_timer;
    std::function<void()> m_onExpiry;
};

/// A body received with status 200, or the description of why there is none.
struct Result
{
    bool ok = false;
    QByteArray body;
    QString error; ///< Vietnamese sentence when !ok
};

/// GETs `url`, always from the network, and resumes on the calling thread (which needs an
/// event loop). Follows at most 50 redirects, each only to an address that
/// FeedAddress::permitsRedirect allows. Fails when the whole exchange, redirects included, takes
/// longer than `timeout` (a Deadline), when a redirect is refused, when the final status is not
/// exactly 200, and when a body grows beyond maxBodyBytes (abandoned as soon as it does, having
/// buffered at most readBufferBytes more). TLS errors are never ignored. The transfer owns
/// everything it uses, so its caller may go away meanwhile.
QCoro::Task<Result> fetch(QUrl url, std::chrono::milliseconds timeout);

} // namespace FeedTransfer
