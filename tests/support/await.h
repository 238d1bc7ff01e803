#pragma once

#include <QCoro/QCoroTask>
#include <QDeadlineTimer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <optional>
#include <type_traits>

/// Every wait has a deadline; one that runs out fails the test with the name of what it waited
/// for, instead of stalling the suite until CI's time limit.
namespace Await {

/// Long enough for a loaded CI machine under sanitizers, short enough that a hang fails fast.
inline constexpr int kDeadlineMs = 30000;

/// Where a wait was written, so that its failure points at the test, not at this header.
struct Site
{
    const char* file = __FILE__;
    int line = __LINE__;
};

/// Runs the event loop until `predicate` holds; false (and a test failure naming `what`) when it
/// still does not after `ms`. Unlike QTest::qWaitFor, which sleeps 10 ms a pass, it blocks in the
/// dispatcher woken every millisecond for flags set by other threads.
template <typename Predicate>
bool until(Predicate predicate, const char* what, int ms = kDeadlineMs, Site site = {})
{
    const QDeadlineTimer deadline(ms, Qt::PreciseTimer);
    QTimer wake;
    wake.start(1);
    for (;;) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (predicate()) return true;
        if (deadline.hasExpired()) break;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    const QByteArray text = "timed out after " + QByteArray::number(ms) + " ms waiting for " + what;
    QTest::qFail(text.constData(), site.file, site.line);
    return false;
}

namespace detail {

template <typename T> using Value = std::conditional_t<std::is_void_v<T>, bool, T>;

// GCC 12 destroys a temporary twice when it shares a full-expression with co_await: the result
// is named before it is stored.
template <typename T>
QCoro::Task<void> drive(QCoro::Task<T> task, std::shared_ptr<std::optional<Value<T>>> slot)
{
    if constexpr (std::is_void_v<T>) {
        co_await task;
        *slot = true;
    } else {
        T value = co_await task;
        *slot = std::move(value);
    }
}

} // namespace detail

/// Runs the event loop until the coroutine ends; one that outlives the deadline is left running.
template <typename T>
std::conditional_t<std::is_void_v<T>, bool, std::optional<T>>
task(QCoro::Task<T> task, const char* what, int ms = kDeadlineMs, Site site = {})
{
    auto slot = std::make_shared<std::optional<detail::Value<T>>>();
    auto driver = detail::drive(std::move(task), slot);
    const bool finished = until([&] { return slot->has_value(); }, what, ms, site);
    if constexpr (std::is_void_v<T>)
        return finished;
    else
        return finished ? std::move(*slot) : std::nullopt;
}

/// Runs the event loop until `spy` has recorded at least `count` emissions.
inline bool signal(QSignalSpy& spy, const char* what, int count = 1, int ms = kDeadlineMs,
                   Site site = {})
{
    return until([&] { return spy.count() >= count; }, what, ms, site);
}

/// Proves that the event loop kept turning while something ran: a 1 ms timer counts its ticks.
class LoopTicker
{
public:
    LoopTicker()
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] { ++m_ticks; });
        m_timer.start(1);
    }
    int ticks() const { return m_ticks; }

private:
    QTimer m_timer;
    int m_ticks = 0;
};

} // namespace Await

// Each macro returns from the test function when its wait times out.
#define AWAIT(expr, what)                                                                          \
    do {                                                                                           \
        if (!Await::task((expr), (what), Await::kDeadlineMs, {__FILE__, __LINE__})) return;        \
    } while (false)

/// Declares `name` holding the coroutine's result.
#define AWAIT_VALUE(name, expr, what)                                                              \
    auto name##Result_ = Await::task((expr), (what), Await::kDeadlineMs, {__FILE__, __LINE__});    \
    if (!name##Result_) return;                                                                    \
    auto name = std::move(*name##Result_) /* NOLINT(bugprone-macro-parentheses): a name */

#define AWAIT_UNTIL(predicate, what)                                                               \
    do {                                                                                           \
        if (!Await::until([&] { return bool(predicate); }, (what), Await::kDeadlineMs,             \
                          {__FILE__, __LINE__}))                                                   \
            return;                                                                                \
    } while (false)

#define AWAIT_SIGNAL(spy, what)                                                                    \
    do {                                                                                           \
        if (!Await::signal((spy), (what), 1, Await::kDeadlineMs, {__FILE__, __LINE__})) return;    \
    } while (false)
