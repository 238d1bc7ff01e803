#include "uninstaller/size_arrivals.h"

#include "core/io_pool.h"
#include "core/scanner.h"

#include <QtConcurrent>

std::shared_ptr<SizeArrivals> SizeArrivals::start(QList<std::pair<int, QString>> jobs)
{
    auto arrivals = std::make_shared<SizeArrivals>();
    arrivals->m_remaining = jobs.size();
    // The starting task only queues the others; it never waits for them.
    QtConcurrent::run(&ioPool(), [arrivals, jobs = std::move(jobs)] {
        for (const auto& [row, url] : jobs)
            QtConcurrent::run(&ioPool(), [arrivals, row = row, url = url] {
                Arrival arrival{row, url, Scanner::allocatedSize(url)};
                const std::lock_guard lock(arrivals->m_mutex);
                arrivals->m_arrived.append(std::move(arrival));
            });
    });
    return arrivals;
}

QList<SizeArrivals::Arrival> SizeArrivals::take()
{
    const std::lock_guard lock(m_mutex);
    m_remaining -= m_arrived.size();
    return std::exchange(m_arrived, {});
}

qsizetype SizeArrivals::remaining() const
{
    const std::lock_guard lock(m_mutex);
    return m_remaining;
}
