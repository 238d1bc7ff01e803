#pragma once

#include "core/io_pool.h"

#include <QSemaphore>
#include <QThreadPool>
#include <memory>
#include <utility>

/// Occupies every I/O pool thread until released (or destroyed): work queued meanwhile waits.
class PoolGate
{
public:
    PoolGate()
    {
        for (int i = 0; i < m_threads; ++i)
            ioPool().start([state = m_state] {
                state->busy.release();
                state->gate.acquire();
            });
        // Work already queued must end first; a pool that stays busy fails the test instead.
        m_held = m_state->busy.tryAcquire(m_threads, 10000);
    }
    ~PoolGate() { release(); }
    PoolGate(const PoolGate&) = delete;
    PoolGate& operator=(const PoolGate&) = delete;

    bool held() const { return m_held; }
    void release() { m_state->gate.release(std::exchange(m_threads, 0)); }

private:
    struct State // shared with pool threads, which may still be leaving after the gate is gone
    {
        QSemaphore busy, gate;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
    int m_threads = ioPool().maxThreadCount();
    bool m_held = false;
};
