#pragma once

#include <QCoro/QCoroTask>
#include <QtTest>
#include <memory>
#include <optional>
#include <source_location>
#include <type_traits>

/// Every wait has a deadline; one that runs out fails the test naming what it waited for.
namespace Await {

inline constexpr int kDeadlineMs = 30000; // a loaded CI machine under sanitizers

/// Unlike QTest::qWaitFor (10 ms sleeps), wakes every millisecond for flags set by other threads.
template <typename Predicate>
bool until(Predicate predicate, const char* what, int ms = kDeadlineMs,
           std::source_location site = std::source_location::current())
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
    QTest::qFail(text.constData(), site.file_name(), int(site.line()));
    return false;
}

template <typename T> using Value = std::conditional_t<std::is_void_v<T>, bool, T>;

// GCC 12 destroys a temporary twice when it shares a full-expression with co_await.
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

/// Runs the event loop until the coroutine ends; one that outlives the deadline is left running.
template <typename T>
std::conditional_t<std::is_void_v<T>, bool, std::optional<T>>
task(QCoro::Task<T> task, const char* what, int ms = kDeadlineMs,
     std::source_location site = std::source_location::current())
{
    auto slot = std::make_shared<std::optional<Value<T>>>();
    auto driver = drive(std::move(task), slot);
    const bool finished = until([&] { return slot->has_value(); }, what, ms, site);
    if constexpr (std::is_void_v<T>)
        return finished;
    else
        return finished ? std::move(*slot) : std::nullopt;
}

inline bool signal(QSignalSpy& spy, const char* what, int count = 1, int ms = kDeadlineMs,
                   std::source_location site = std::source_location::current())
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
        if (!Await::task((expr), (what))) return;                                                  \
    } while (false)

/// Declares `name` holding the coroutine's result.
#define AWAIT_VALUE(name, expr, what)                                                              \
    auto name##Result_ = Await::task((expr), (what));                                              \
    if (!name##Result_) return;                                                                    \
    auto name = std::move(*name##Result_) /* NOLINT(bugprone-macro-parentheses): a name */

#define AWAIT_UNTIL(predicate, what)                                                               \
    do {                                                                                           \
        if (!Await::until([&] { return bool(predicate); }, (what))) return;                        \
    } while (false)

#define AWAIT_SIGNAL(spy, what)                                                                    \
    do {                                                                                           \
        if (!Await::signal((spy), (what))) return;                                                 \
    } while (false)
