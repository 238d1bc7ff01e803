#include "core/io_pool.h"

#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <pthread.h>

namespace {

// A child forked from a process whose pool had started threads would queue work for threads that
// do not exist in it and wait forever, so the child forgets the pool and makes its own.
std::atomic<QThreadPool*> g_pool{nullptr};

void forgetPoolAfterFork()
{
    g_pool.store(nullptr, std::memory_order_relaxed);
}

} // namespace

QThreadPool& ioPool()
{
    QThreadPool* pool = g_pool.load(std::memory_order_acquire);
    if (pool) return *pool;
    [[maybe_unused]] static const int registered =
        pthread_atfork(nullptr, nullptr, forgetPoolAfterFork);
    auto* fresh = new QThreadPool;
    fresh->setMaxThreadCount(std::max(4, 2 * QThread::idealThreadCount()));
    if (g_pool.compare_exchange_strong(pool, fresh, std::memory_order_acq_rel)) return *fresh;
    delete fresh;
    return *pool;
}
