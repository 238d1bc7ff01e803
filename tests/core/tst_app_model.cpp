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

// `count` items of distinct sizes, large enough for `c`, in its first root; the largest last.
QStringList makeItems(const Category& c, const QString& prefix, int count)
{
    QStringList paths;
    for (int i = 0; i < count; ++i) {
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

    // One clean at a time; progress is published on the GUI thread.
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
        QCOMPARE(runs.mid(runs.size() - 2),
                 (decltype(runs){AppModel::CleanRun{"caches", {3, 3}}, {}}));
    }

    // Selected URLs not in the result are never handed over; the removal runs on the I/O pool.
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
        Await::LoopTicker ticker;
        AWAIT_UNTIL(ticker.ticks() >= 3, "the event loop to turn while the clean waits");
        gate.release();
        AWAIT(std::move(clean), "the clean");
        QCOMPARE(model.message(),
                 "Đã giải phóng " + formatBytes(c.kind.minBytes + 2 * kBlock) + ".");
        for (const QString& path : {paths[0], paths[2], late, outside, c.roots[0]})
            QVERIFY2(FileSystem::exists(path), qPrintable(path));
        QVERIFY(!FileSystem::exists(paths[1]));
        QCOMPARE(model.state(c).selected, urlsOf(model.state(c).result.items));
    }

    void destroyedModel()
    {
        const Category& c = category("logs");
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
