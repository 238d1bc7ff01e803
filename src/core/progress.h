#pragma once

#include <QtGlobal>
#include <functional>
#include <memory>

/// How far a removal run has come: items finished of all its items.
struct RunProgress
{
    qint64 done = 0;
    qint64 total = 0;
    friend bool operator==(const RunProgress&, const RunProgress&) = default;
};

/// Told by a removal before each item and once at the end, on the removal's own thread.
using ProgressCallback = std::function<void(RunProgress)>;

/// Carries the progress of a run on a worker thread to the thread that created the relay. A
/// removal of many small items calls back far faster than a screen redraws: while one delivery
/// waits in the event queue, later steps only replace the figure it will deliver, so the queue
/// never grows with the item count.
class ProgressRelay
{
public:
    /// `apply` runs on the creating thread, which must run an event loop, with the latest figure.
    explicit ProgressRelay(std::function<void(RunProgress)> apply);
    /// Nothing is applied after this, even when a worker still calls the callback.
    ~ProgressRelay();
    ProgressRelay(const ProgressRelay&) = delete;
    ProgressRelay& operator=(const ProgressRelay&) = delete;

    /// The callback to hand to the removal; any thread, also after the relay is gone.
    ProgressCallback callback() const;

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};
