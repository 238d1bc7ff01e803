#include "core/app_model.h"
#include "core/scanner.h"
#include "platform/file_system.h"
#include "support/await.h"
#include "support/pool_gate.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QDir>
#include <QThread>

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

    // The preselection after a scan follows the category; unselected items count in the total.
    void scanPreselects_data()
    {
        QTest::addColumn<bool>("preselected");
        for (const char* id : {"caches", "logs", "dev", "trash"})
            QTest::newRow(id) << true;
        QTest::newRow("large") << false;
    }
    void scanPreselects()
    {
        QFETCH(bool, preselected);
        const Category& c = category(QTest::currentDataTag());
        const QStringList paths = makeItems(c, "item", 2);
        AppModel model;
        AWAIT(model.scan(c), "the scan");
        const QSet<QString> urls = urlsOf(model.state(c).result.items);
        QCOMPARE(urls, QSet<QString>(paths.begin(), paths.end()));
        QCOMPARE(model.state(c).selected, preselected ? urls : QSet<QString>());
        QCOMPARE(model.selectedSize(c), preselected ? model.totalSize(c) : 0);
        QCOMPARE(model.totalReclaimable(), model.totalSize(c));
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
        QVERIFY(model.clean(c).isReady());
        QCOMPARE(model.message(), "old");

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
