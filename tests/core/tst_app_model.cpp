#include "core/app_model.h"
#include "core/scanner.h"
#include "platform/file_system.h"
#include "support/await.h"
#include "support/pool_gate.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QDir>
#include <QSignalSpy>
#include <QThread>
#include <cerrno>

using namespace TreeBuilder;

namespace {

constexpr qint64 kBlock = 4096;

const Category& category(const char* id)
{
    return *Category::find(QString::fromLatin1(id));
}

// `count` items of distinct sizes in the first root of `c` (large enough for a large-files
// category), the largest last; none for a category without roots.
QStringList makeItems(const Category& c, const QString& prefix, int count)
{
    QStringList paths;
    for (int i = 0; i < count && !c.roots.isEmpty(); ++i) {
        paths.append(c.roots[0] + u'/' + prefix + QString::number(i));
        if (!allocate(paths.last(), c.kind.minBytes + kBlock * (i + 1))) return {};
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

qsizetype trashedCount()
{
    return FileSystem::children(TestHome::trashPath() + "/files").value_or(QStringList()).size();
}

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

    // Per category: the preselection after a scan, then a clean of every item of which some
    // vanished first: the exact message, at most five failure lines, and the rescan.
    void scanSelectCleanRescan_data()
    {
        QTest::addColumn<bool>("preselected");
        QTest::addColumn<int>("removable");
        QTest::addColumn<int>("vanishing");
        QTest::newRow("caches") << true << 3 << 0;
        QTest::newRow("logs") << true << 2 << 7;
        QTest::newRow("dev") << true << 0 << 3;
        QTest::newRow("trash") << true << 1 << 0;
        QTest::newRow("large") << false << 1 << 1;
    }
    void scanSelectCleanRescan()
    {
        QFETCH(bool, preselected);
        QFETCH(int, removable);
        QFETCH(int, vanishing);
        const Category& c = category(QTest::currentDataTag());
        const QStringList paths = makeItems(c, "item", removable + vanishing);
        AppModel model;
        QSignalSpy total(&model, &AppModel::totalReclaimableChanged);
        AWAIT(model.scan(c), "the first scan");
        const QList<CleanItem> items = model.state(c).result.items;
        QCOMPARE(urlsOf(items), QSet<QString>(paths.begin(), paths.end()));
        QCOMPARE(model.state(c).selected, preselected ? urlsOf(items) : QSet<QString>());
        QCOMPARE(model.selectedSize(c), preselected ? model.totalSize(c) : 0);
        QCOMPARE(model.totalReclaimable(), model.totalSize(c)); // unselected items count too
        QCOMPARE(total.count(), 1);
        model.toggle(c, items[0].url);
        model.toggle(c, items[0].url);
        QCOMPARE(model.state(c).selected, preselected ? urlsOf(items) : QSet<QString>());
        model.selectAll(c, true);

        // The smallest items vanish before the clean.
        qint64 freed = 0;
        for (int i = 0; i < items.size(); ++i)
            i < removable ? void(freed += items[i].size) : void(QFile::remove(items[i].url));
        const qsizetype trashed = trashedCount();
        AWAIT(model.clean(c), "the clean");
        const bool toTrash = c.deletion == DeletionMode::trash;
        QString expected = "Đã giải phóng " + formatBytes(freed) + ".";
        if (toTrash) expected += " Các mục đã được chuyển vào Thùng rác.";
        if (vanishing > 0)
            expected += "\n\nKhông xoá được " + QString::number(vanishing) + " mục:\n";
        const QString text = model.message().value_or(QString());
        QVERIFY2(text.startsWith(expected), qPrintable(text));
        const QStringList lines = text.mid(expected.size()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), std::min(vanishing, 5));
        for (int i = 0; i < lines.size(); ++i) {
            // GIO words its own errors; the cleaner's are the system's.
            const QString name = items[removable + i].name() + ": ";
            QVERIFY2(lines[i].startsWith(name), qPrintable(lines[i]));
            if (!toTrash) QCOMPARE(lines[i], name + FileSystem::Outcome::failure(ENOENT).error);
        }
        QVERIFY(model.state(c).scanned && model.state(c).result.items.isEmpty());
        // Cleaning the trash category empties the trash itself.
        QCOMPARE(trashedCount() - trashed, toTrash ? removable : c.id == u"trash" ? -removable : 0);
    }

    // One clean at a time: a second, of another category, is refused with a message and
    // removes nothing. The running one publishes items done of items on the GUI thread.
    void oneCleanAtATimeWithProgress()
    {
        const Category& caches = category("caches");
        const Category& logs = category("logs");
        const QStringList cached = makeItems(caches, "c", 3);
        const QStringList logged = makeItems(logs, "l", 2);
        AppModel model;
        AWAIT(model.scan(caches), "the scan of caches");
        AWAIT(model.scan(logs), "the scan of logs");
        QList<std::optional<AppModel::CleanRun>> runs;
        connect(&model, &AppModel::cleaningChanged, this, [&] {
            QCOMPARE(QThread::currentThread(), model.thread());
            runs.append(model.cleaning());
        });
        auto first = model.clean(caches);
        AWAIT(model.clean(logs), "the refused clean");
        QCOMPARE(model.message(), "Đang dọn Bộ nhớ đệm ứng dụng. Hãy đợi lần dọn này xong rồi "
                                  "thử lại.");
        AWAIT(std::move(first), "the clean");
        QVERIFY(FileSystem::exists(logged[0]) && !FileSystem::exists(cached[0]));
        QCOMPARE(runs.first(), (AppModel::CleanRun{"caches", {0, 3}}));
        QCOMPARE(runs.value(runs.size() - 2), (AppModel::CleanRun{"caches", {3, 3}}));
        QCOMPARE(runs.last(), std::nullopt);
    }

    // While a scan runs the old list and selection stay; afterwards the selection follows the
    // rule again, and `scanning` stays up until the last of two overlapping scans is back.
    void scanKeepsTheOldListWhileItRuns()
    {
        const Category& c = category("large");
        makeItems(c, "backup", 2);
        AppModel model;
        AWAIT(model.scan(c), "the first scan");
        model.toggle(c, model.state(c).result.items[0].url);
        const AppModel::State before = model.state(c);
        makeItems(c, "later", 1);
        QList<bool> scanning;
        connect(&model, &AppModel::stateChanged, this,
                [&] { scanning.append(model.state(c).scanning); });
        PoolGate gate;
        QVERIFY(gate.held());
        auto first = model.scan(c);
        auto second = model.scan(c);
        AppModel::State running = model.state(c);
        QVERIFY(running.scanning);
        running.scanning = false;
        QCOMPARE(running, before);
        gate.release();
        AWAIT(std::move(first), "the first of two scans");
        AWAIT(std::move(second), "the second of two scans");
        QCOMPARE(scanning, (QList<bool>{true, true, false}));
        QCOMPARE(model.state(c).result.items.size(), 3);
        QVERIFY(model.state(c).selected.isEmpty());
    }

    // Selected URLs that are not in the result are never handed over; with none of the result
    // selected nothing happens at all. The removal runs on the I/O pool.
    void cleanTouchesOnlySelectedResultItems()
    {
        const Category& c = category("caches");
        const QStringList paths = makeItems(c, "item", 3);
        AppModel model;
        AWAIT(model.scan(c), "the scan");
        model.selectAll(c, false);
        const QString late = makeItems(c, "late", 1).value(0);
        const QString outside = TestHome::path() + "/Documents/precious";
        QVERIFY(writeFile(outside, 100));
        for (const QString& url : {late, outside, c.roots[0]})
            model.toggle(c, url);
        model.setMessage(QStringLiteral("old"));
        QSignalSpy message(&model, &AppModel::messageChanged);
        QSignalSpy disk(&model, &AppModel::diskChanged);
        QVERIFY(model.clean(c).isReady());
        QCOMPARE(message.count() + disk.count(), 0);

        model.toggle(c, paths[1]);
        PoolGate gate;
        QVERIFY(gate.held());
        auto clean = model.clean(c);
        QVERIFY(!clean.isReady() && FileSystem::exists(paths[1]));
        gate.release();
        AWAIT(std::move(clean), "the clean");
        QCOMPARE(model.message(),
                 "Đã giải phóng " + formatBytes(c.kind.minBytes + 2 * kBlock) + ".");
        for (const QString& path : {paths[0], paths[2], late, outside, c.roots[0]})
            QVERIFY2(FileSystem::exists(path), qPrintable(path));
        QVERIFY(!FileSystem::exists(paths[1]));
        QCOMPARE(model.state(c).selected, urlsOf(model.state(c).result.items));
    }

    // All six scans run at once; the disk figure is refreshed after the last.
    void scanAllIsConcurrentAndRefreshesDiskLast()
    {
        for (const Category& c : Category::all())
            makeItems(c, "item", 1);
        AppModel model;
        const QString filler = TestHome::path() + "/filler"; // makes the refresh a real change
        QVERIFY(allocate(filler, 16384 * kBlock));
        int finished = 0;
        int finishedAtDisk = -1;
        connect(&model, &AppModel::stateChanged, this,
                [&](const QString& id) { finished += model.states().value(id).scanning ? 0 : 1; });
        connect(&model, &AppModel::diskChanged, this, [&] { finishedAtDisk = finished; });
        PoolGate gate;
        QVERIFY(gate.held());
        auto task = model.scanAll();
        QCOMPARE(std::count_if(model.states().begin(), model.states().end(),
                               [](const AppModel::State& s) { return s.scanning; }),
                 6);
        gate.release();
        AWAIT(std::move(task), "scanning every category");
        QCOMPARE(finishedAtDisk, 6);
        QVERIFY(QFile::remove(filler));
    }

    // Tasks that are dropped go on; a model that is gone is not touched.
    void droppedTasksAndADestroyedModel()
    {
        const Category& c = category("logs");
        makeItems(c, "item", 2);
        AppModel model;
        AWAIT(model.scan(c), "the scan");
        (void)model.clean(c);
        AWAIT_UNTIL(model.message() && model.state(c).scanned && !model.state(c).scanning &&
                        model.state(c).result.items.isEmpty(),
                    "the dropped clean and its rescan");
        makeItems(c, "again", 2);
        auto* doomed = new AppModel;
        AWAIT(doomed->scan(c), "the scan");
        auto scan = doomed->scanAll();
        auto clean = doomed->clean(c);
        delete doomed;
        AWAIT(std::move(scan), "a scan of a destroyed model");
        AWAIT(std::move(clean), "a clean of a destroyed model");
    }
};

SORVI_TEST_MAIN(TestAppModel)
#include "tst_app_model.moc"
