#include "core/io_pool.h"

#include <QThread>
#include <QThreadPool>

QThreadPool& ioPool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(std::max(4, 2 * QThread::idealThreadCount()));
        return p;
    }();
    return *pool;
}
