#include "core/app_model.h"
#include "core/io_pool.h"
#include "core/scanner.h"
#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QCoro/QCoroTask>
#include <QDeadlineTimer>
#include <QDir>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThreadPool>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace TreeBuilder;

namespace {

const Category& category(const char* id)
{
    return *Category::find(QString::fromLatin1(id));
}

// Allocates `size` bytes without writing them, so 100 MiB "large files" cost no time.
bool allocateFile(const QString& path, qint64 size)
{
    makeDir(FileSystem::standardized(path + "/.."));
    const int fd =
        ::open(PathCodec::encode(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool ok = fd >= 0 && ::posix_fallocate(fd, 0, size) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
}

// Creates `count` items of distinct sizes in the first root of `c`, largest last; returns them.
QStringList makeItems(const Category& c, const QString& prefix, int count)
{
    QStringList paths;
    const bool large = c.kind.isLargeFiles();
    for (int i = 0; i < count; ++i) {
        const QString path = c.roots[0] + u'/' + prefix + QString::number(i);
        const qint64 size = (large ? c.kind.minBytes : 0) + 4096 * (i + 1);
        if (!(large ? allocateFile(path, size) : writeFile(path, size)))
            qFatal("cannot create %s", qPrintable(path));
        paths.append(path);
    }
    return paths;
}

QSet<QString> urlsOf(const QList<CleanItem>& items)
{
    QSet<QString> urls;
    for (const CleanItem& item : items)
        urls.insert(item.url);
    return urls;
}

// Occupies every thread of the I/O pool until released, so that work queued meanwhile cannot
// finish before the test has looked at the state it left behind.
class PoolGate
{
public:
    PoolGate() : m_threads(ioPool().maxThreadCount())
    {
        for (int i = 0; i < m_threads; ++i)
            ioPool().start([this] {
                m_busy.release();
                m_gate.acquire();
            });
        m_busy.acquire(m_threads);
    }
    ~PoolGate() { release(); }
    void release()
    {
        m_gate.release(m_threads);
        m_threads = 0;
    }

private:
    int m_threads;
    QSemaphore m_busy;
    QSemaphore m_gate;
};

} // namespace

class TestAppModel : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        for (const Category& c : Category::all())
            for (const QString& root : c.roots)
                QDir(root).removeRecursively();
    }

    void preselectionAfterEveryScan_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("preselected");
        QTest::newRow("caches") << "caches" << true;
        QTest::newRow("logs") << "logs" << true;
        QTest::newRow("dev") << "dev" << true;
        QTest::newRow("trash") << "trash" << true;
        QTest::newRow("ios") << "ios" << false;
        QTest::newRow("large") << "large" << false;
    }
    void preselectionAfterEveryScan()
    {
        QFETCH(QString, id);
        QFETCH(bool, preselected);
        const Category& c = *Category::find(id);
        makeItems(c, "item", 3);
        AppModel model;
        QSignalSpy total(&model, &AppModel::totalReclaimableChanged);
        for (int round = 0; round < 2; ++round) {
            QCoro::waitFor(model.scan(c));
            const AppModel::State state = model.state(c);
            QVERIFY(state.scanned && !state.scanning);
            QCOMPARE(state.result.items.size(), 3);
            QCOMPARE(state.selected, preselected ? urlsOf(state.result.items) : QSet<QString>());
            QCOMPARE(model.selectedSize(c), preselected ? model.totalSize(c) : qint64(0));
            // Unselected items count too.
            QCOMPARE(model.totalReclaimable(), model.totalSize(c));
            // The user's choice is undone by the next scan.
            const CleanItem& toggled = state.result.items[0];
            model.toggle(c, toggled.url);
            QCOMPARE(model.selectedSize(c),
                     preselected ? model.totalSize(c) - toggled.size : toggled.size);
        }
        model.selectAll(c, true);
        QCOMPARE(model.state(c).selected, urlsOf(model.state(c).result.items));
        model.selectAll(c, false);
        QCOMPARE(model.selectedSize(c), qint64(0));
        QCOMPARE(total.count(), 1);
    }

    void scanKeepsTheOldListWhileItRuns()
    {
        const Category& c = category("ios");
        makeItems(c, "backup", 2);
        AppModel model;
        QCoro::waitFor(model.scan(c));
        model.toggle(c, model.state(c).result.items[0].url);
        const AppModel::State before = model.state(c);
        makeItems(c, "later", 1);
        PoolGate gate;
        auto task = model.scan(c);
        AppModel::State running = model.state(c);
        QVERIFY(running.scanning);
        running.scanning = false;
        QCOMPARE(running, before);
        gate.release();
        QCoro::waitFor(task);
        QCOMPARE(model.state(c).result.items.size(), 3);
        QVERIFY(model.state(c).selected.isEmpty());
        QVERIFY(!model.state(c).scanning);
    }

    void cleanWithoutSelectedResultItemsDoesNothing_data()
    {
        QTest::addColumn<bool>("strangers");
        QTest::newRow("nothing selected") << false;
        QTest::newRow("only URLs outside the result") << true;
    }
    void cleanWithoutSelectedResultItemsDoesNothing()
    {
        QFETCH(bool, strangers);
        const Category& c = category("caches");
        const QStringList paths = makeItems(c, "item", 2);
        AppModel model;
        QCoro::waitFor(model.scan(c));
        model.selectAll(c, false);
        const QString late = makeItems(c, "late", 1)[0];
        const QString outside = TestHome::path() + "/Documents/precious";
        QVERIFY(writeFile(outside, 100));
        if (strangers)
            for (const QString& url : {late, outside, c.roots[0]})
                model.toggle(c, url);
        QCOMPARE(model.selectedSize(c), qint64(0));
        model.setMessage(QStringLiteral("old"));
        const AppModel::State before = model.state(c);
        QSignalSpy changed(&model, &AppModel::stateChanged);
        QSignalSpy message(&model, &AppModel::messageChanged);
        QSignalSpy disk(&model, &AppModel::diskChanged);
        auto task = model.clean(c);
        QVERIFY(task.isReady());
        QCOMPARE(model.state(c), before);
        QCOMPARE(model.message(), std::optional<QString>(QStringLiteral("old")));
        QCOMPARE(changed.count() + message.count() + disk.count(), 0);
        for (const QString& path : paths + QStringList{late, outside})
            QVERIFY(FileSystem::exists(path));
    }

    void cleanMessageAndRescan_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<int>("removable");
        QTest::addColumn<int>("vanishing");
        QTest::newRow("permanent, all removed") << "caches" << 3 << 0;
        QTest::newRow("permanent, seven failures") << "logs" << 2 << 7;
        QTest::newRow("permanent, every item failed") << "dev" << 0 << 3;
        QTest::newRow("trash, two moved") << "ios" << 2 << 0;
        QTest::newRow("trash, one failure") << "large" << 1 << 1;
    }
    void cleanMessageAndRescan()
    {
        QFETCH(QString, id);
        QFETCH(int, removable);
        QFETCH(int, vanishing);
        const Category& c = *Category::find(id);
        const QStringList paths = makeItems(c, "item", removable + vanishing);
        AppModel model;
        QCoro::waitFor(model.scan(c));
        model.selectAll(c, true);
        const QList<CleanItem> items = model.state(c).result.items;
        QCOMPARE(items.size(), removable + vanishing);
        // Every second item (and the rest once nothing removable is left) vanishes before the
        // clean.
        QStringList failures;
        qint64 freed = 0;
        for (int i = 0, toVanish = vanishing, toRemove = removable; i < items.size(); ++i) {
            if (toVanish > 0 && (toRemove == 0 || i % 2 == 1)) {
                --toVanish;
                QVERIFY(QFile::remove(items[i].url));
                failures.append(items[i].name() + ": ");
            } else {
                --toRemove;
                freed += items[i].size;
            }
        }
        const QString trash = TestHome::trashPath() + "/files";
        const qsizetype trashedBefore = FileSystem::children(trash).value_or(QStringList()).size();
        QSignalSpy message(&model, &AppModel::messageChanged);
        QCoro::waitFor(model.clean(c));

        QString expected = "Đã giải phóng " + formatBytes(freed) + ".";
        if (c.deletion == DeletionMode::trash) expected += " Các mục đã được chuyển vào Thùng rác.";
        const QString text = model.message().value_or(QString());
        if (vanishing > 0) {
            expected += "\n\nKhông xoá được " + QString::number(vanishing) + " mục:\n";
            QVERIFY2(text.startsWith(expected), qPrintable(text));
            const QStringList lines = text.mid(expected.size()).split(u'\n');
            QCOMPARE(lines.size(), std::min(vanishing, 5));
            for (int i = 0; i < lines.size(); ++i) {
                // The platform's error text follows the name; GIO's wording is its own.
                QVERIFY2(lines[i].startsWith(failures[i]) && lines[i].size() > failures[i].size(),
                         qPrintable(lines[i]));
                if (c.deletion == DeletionMode::permanent)
                    QCOMPARE(lines[i], failures[i] + FileSystem::Outcome::failure(ENOENT).error);
            }
        } else {
            QCOMPARE(text, expected);
        }
        QCOMPARE(message.count(), 1);
        // Rescanned: everything went (removed or vanished).
        const AppModel::State after = model.state(c);
        QVERIFY(after.scanned && !after.scanning);
        QVERIFY(after.result.items.isEmpty());
        for (const QString& path : paths)
            QVERIFY(!FileSystem::exists(path));
        QCOMPARE(FileSystem::children(trash).value_or(QStringList()).size() - trashedBefore,
                 c.deletion == DeletionMode::trash ? removable : 0);
    }

    void cleanRemovesOnlySelectedResultItems()
    {
        const Category& c = category("caches");
        const QStringList paths = makeItems(c, "item", 3);
        AppModel model;
        QCoro::waitFor(model.scan(c));
        model.toggle(c, paths[0]);
        const QString late = makeItems(c, "late", 1)[0];
        model.toggle(c, late);
        const qint64 selected = model.selectedSize(c);
        QCoro::waitFor(model.clean(c));
        QCOMPARE(model.message(),
                 std::optional<QString>("Đã giải phóng " + formatBytes(selected) + "."));
        QVERIFY(FileSystem::exists(paths[0]));
        QVERIFY(FileSystem::exists(late));
        QVERIFY(!FileSystem::exists(paths[1]));
        QVERIFY(!FileSystem::exists(paths[2]));
        const AppModel::State after = model.state(c);
        QCOMPARE(urlsOf(after.result.items), (QSet<QString>{paths[0], late}));
        QCOMPARE(after.selected, urlsOf(after.result.items));
    }

    void cleanRemovesOffTheGuiThread()
    {
        const Category& c = category("caches");
        const QStringList paths = makeItems(c, "item", 2);
        AppModel model;
        QCoro::waitFor(model.scan(c));
        PoolGate gate;
        auto task = model.clean(c);
        // The pool is held, so a removal that ran on this thread would already be done.
        QVERIFY(!task.isReady());
        QVERIFY(FileSystem::exists(paths[0]) && FileSystem::exists(paths[1]));
        gate.release();
        QCoro::waitFor(task);
        QVERIFY(!FileSystem::exists(paths[0]) && !FileSystem::exists(paths[1]));
    }

    void droppedTaskStillRuns()
    {
        const Category& c = category("logs");
        makeItems(c, "item", 2);
        AppModel model;
        QCoro::waitFor(model.scan(c));
        (void)model.clean(c);
        QVERIFY(QTest::qWaitFor([&] {
            return model.message() && model.state(c).scanned && !model.state(c).scanning &&
                   model.state(c).result.items.isEmpty();
        }));
    }

    void scanAllIsConcurrentAndRefreshesDiskLast()
    {
        for (const Category& c : Category::all())
            makeItems(c, "item", 1);
        AppModel model;
        // Allocated after the model read the disk, so the refresh is a real change.
        const QString filler = TestHome::path() + "/filler";
        QVERIFY(allocateFile(filler, 64 * 1024 * 1024));
        QVERIFY(DiskUsage::current() != model.disk());
        int finished = 0;
        int stillScanningAtFirstFinish = -1;
        int finishedAtDisk = -1;
        const auto scanningNow = [&] {
            return std::count_if(model.states().begin(), model.states().end(),
                                 [](const AppModel::State& s) { return s.scanning; });
        };
        connect(&model, &AppModel::stateChanged, this, [&](const QString& id) {
            if (!model.states().value(id).scanning && ++finished == 1)
                stillScanningAtFirstFinish = int(scanningNow());
        });
        connect(&model, &AppModel::diskChanged, this, [&] { finishedAtDisk = finished; });
        PoolGate gate;
        auto task = model.scanAll();
        QCOMPARE(scanningNow(), 6);
        QVERIFY(!task.isReady());
        gate.release();
        QCoro::waitFor(task);
        QCOMPARE(finished, 6);
        QCOMPARE(stillScanningAtFirstFinish, 5);
        QCOMPARE(finishedAtDisk, 6);
        for (const Category& c : Category::all())
            QCOMPARE(model.state(c).result.items.size(), 1);
        QVERIFY(QFile::remove(filler));
    }

    void destroyedModelIsNotTouchedByItsTasks()
    {
        const Category& c = category("caches");
        makeItems(c, "item", 2);
        auto* model = new AppModel;
        QCoro::waitFor(model->scan(c));
        auto scan = model->scanAll();
        auto clean = model->clean(c);
        delete model;
        QCoro::waitFor(scan);
        QCoro::waitFor(clean);
    }

    // Overlapping scans, selections and cleans of one category: no crash, the final state is
    // the last scan's, and nothing that was never selected is touched.
    void overlappingScansAndCleans()
    {
        const Category& c = category("ios");
        const QStringList kept = makeItems(c, "keep", 4);
        AppModel model;
        std::vector<QCoro::Task<>> tasks;
        QRandomGenerator random(12345);
        int victims = 0;
        const int seconds = qEnvironmentVariableIntValue("SORVI_STRESS_SECONDS");
        const QDeadlineTimer deadline((seconds > 0 ? seconds : 2) * 1000);
        while (!deadline.hasExpired()) {
            const quint32 step = random.bounded(4);
            if (step == 0) makeItems(c, "victim" + QString::number(victims++) + "-", 1);
            if (step == 1) tasks.push_back(model.scan(c));
            if (step == 2)
                for (const CleanItem& item : model.state(c).result.items)
                    if (item.name().startsWith("victim") &&
                        !model.state(c).selected.contains(item.url))
                        model.toggle(c, item.url);
            if (step == 3) tasks.push_back(model.clean(c));
            // A bounded number in flight, so the run ends soon after the deadline.
            QVERIFY(QTest::qWaitFor([&] {
                std::erase_if(tasks, [](const QCoro::Task<>& t) { return t.isReady(); });
                return tasks.size() < 12;
            }));
        }
        for (QCoro::Task<>& task : tasks)
            QCoro::waitFor(task);
        QVERIFY(!model.state(c).scanning);
        QCoro::waitFor(model.scan(c));
        const ScanResult fresh = QCoro::waitFor(Scanner::scan(c));
        const AppModel::State last = model.state(c);
        QVERIFY(last.scanned && !last.scanning);
        QCOMPARE(urlsOf(last.result.items), urlsOf(fresh.items));
        QVERIFY(last.selected.isEmpty());
        for (const QString& path : kept)
            QVERIFY2(FileSystem::exists(path), qPrintable(path));
    }
};

SORVI_TEST_MAIN(TestAppModel)
#include "tst_app_model.moc"
