#include "core/app_model.h"

#include "core/cleaner.h"
#include "core/io_pool.h"
#include "core/report_text.h"
#include "core/scanner.h"

#include <QCoro/QCoroFuture>
#include <QPointer>
#include <QtConcurrent>

namespace {

bool isPreselected(const QString& id)
{
    return id == u"caches" || id == u"logs" || id == u"dev" || id == u"trash";
}

QSet<QString> urlsOf(const ScanResult& result)
{
    QSet<QString> urls;
    urls.reserve(result.items.size());
    for (const CleanItem& item : result.items)
        urls.insert(item.url);
    return urls;
}

qint64 sizeOf(const QList<CleanItem>& items)
{
    qint64 total = 0;
    for (const CleanItem& item : items)
        total += item.size;
    return total;
}

} // namespace

AppModel::AppModel(QObject* parent) : QObject(parent), m_disk(DiskUsage::current()) {}

AppModel::State AppModel::state(const Category& c) const
{
    return m_states.value(c.id);
}

qint64 AppModel::selectedSize(const Category& c) const
{
    const auto it = m_states.constFind(c.id);
    if (it == m_states.cend()) return 0;
    qint64 total = 0;
    for (const CleanItem& item : it->result.items)
        if (it->selected.contains(item.url)) total += item.size;
    return total;
}

qint64 AppModel::totalSize(const Category& c) const
{
    const auto it = m_states.constFind(c.id);
    return it == m_states.cend() ? 0 : sizeOf(it->result.items);
}

qint64 AppModel::totalReclaimable() const
{
    qint64 total = 0;
    for (const Category& c : Category::all())
        total += totalSize(c);
    return total;
}

void AppModel::setMessage(const std::optional<QString>& message)
{
    if (m_message == message) return;
    m_message = message;
    emit messageChanged();
}

void AppModel::toggle(const Category& c, const QString& url)
{
    const auto it = m_states.constFind(c.id);
    if (it == m_states.cend()) return;
    State next = *it;
    if (!next.selected.remove(url)) next.selected.insert(url);
    setState(c.id, next);
}

void AppModel::selectAll(const Category& c, bool on)
{
    const auto it = m_states.constFind(c.id);
    if (it == m_states.cend()) return;
    State next = *it;
    next.selected = on ? urlsOf(next.result) : QSet<QString>();
    setState(c.id, next);
}

QCoro::Task<> AppModel::scan(Category c)
{
    QPointer<AppModel> self(this);
    const QString id = c.id;
    State started = state(c);
    started.scanning = true;
    ++m_scansInFlight[id];
    setState(id, started);

    auto scanning = Scanner::scan(c);
    ScanResult result = co_await scanning;
    if (!self) co_return;

    State finished;
    // Another scan of the same category may still be running; the flag stays up until the last
    // one is back, while each result replaces the previous one as it arrives.
    finished.scanning = --m_scansInFlight[id] > 0;
    finished.scanned = true;
    finished.selected = isPreselected(id) ? urlsOf(result) : QSet<QString>();
    finished.result = std::move(result);
    setState(id, finished);
}

QCoro::Task<> AppModel::scanAll()
{
    QPointer<AppModel> self(this);
    // All six start before the first is awaited, so their file-system work overlaps.
    std::vector<QCoro::Task<>> scans;
    for (const Category& c : Category::all())
        scans.push_back(scan(c));
    for (QCoro::Task<>& task : scans)
        co_await task;
    if (!self) co_return;
    setDisk(DiskUsage::current());
}

QCoro::Task<> AppModel::clean(Category c)
{
    QPointer<AppModel> self(this);
    const State current = state(c);
    // Only items of the result are candidates: a selected URL that was never found, or is gone
    // from the latest result, is never handed to the cleaner.
    QList<CleanItem> items;
    for (const CleanItem& item : current.result.items)
        if (current.selected.contains(item.url)) items.append(item);
    if (items.isEmpty()) co_return;
    if (m_cleaning) {
        setMessage(ReportText::cleanRefused(m_cleaning->id));
        co_return;
    }
    setCleaning(CleanRun{c.id, {0, items.size()}});

    auto relay = std::make_unique<ProgressRelay>([self, id = c.id](RunProgress progress) {
        if (self) self->setCleaning(CleanRun{id, progress});
    });
    auto removal = QtConcurrent::task(
                       [items, c, pins = current.result.pinnedRoots, progress = relay->callback()] {
                           return Cleaner::remove(items, c, pins, progress);
                       })
                       .onThreadPool(ioPool())
                       .withPriority(1)
                       .spawn();
    const CleanReport report = co_await removal;
    relay.reset();
    if (!self) co_return;
    setCleaning(CleanRun{c.id, {items.size(), items.size()}});
    setMessage(ReportText::clean(report, c));

    auto rescan = scan(c);
    co_await rescan;
    if (!self) co_return;
    setDisk(DiskUsage::current());
    setCleaning(std::nullopt);
}

void AppModel::setState(const QString& id, const State& state)
{
    const auto it = m_states.constFind(id);
    if (it != m_states.cend() && *it == state) return;
    const qint64 before = totalReclaimable();
    m_states.insert(id, state);
    emit stateChanged(id);
    emit statesChanged();
    if (totalReclaimable() != before) emit totalReclaimableChanged();
}

void AppModel::setDisk(const DiskUsage& disk)
{
    if (m_disk == disk) return;
    m_disk = disk;
    emit diskChanged();
}

void AppModel::setCleaning(const std::optional<CleanRun>& run)
{
    if (m_cleaning == run) return;
    m_cleaning = run;
    emit cleaningChanged();
}
