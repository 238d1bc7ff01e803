#include "core/category.h"
#include "core/io_pool.h"
#include "platform/file_system.h"
#include "platform/running_apps.h"
#include "platform/script_runner.h"
#include "support/test_home.h"
#include "support/tree_builder.h"
#include "uninstaller/bundle_fixture.h"
#include "uninstaller/uninstaller_model.h"

#include <QCoro/QCoroTask>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThreadPool>
#include <fcntl.h>
#include <sys/stat.h>

using namespace BundleFixture;
using TreeBuilder::makeDir;
using TreeBuilder::writeFile;

namespace {

class RecordingRunner final : public ScriptRunner
{
public:
    Result run(const QString&) override
    {
        ++runs;
        return result;
    }
    std::atomic<int> runs{0};
    Result result;
};

struct Fixture : AppLayout
{
    RecordingRunner runner;
    RunningApps& registry = defaultRunningApps();
    UninstallerModel::Services services;

    Fixture() : AppLayout(freshAppLayout(QStringLiteral("m")))
    {
        services.folders = folders;
        services.runningApps = &registry;
        services.scriptRunner = &runner;
        services.quitCheckInterval = std::chrono::milliseconds(10);
    }

    QString bundle(const QString& name, const QString& id, qint64 payload = 0)
    {
        BundleShape shape;
        shape.identifier = id;
        shape.withExecutable = true;
        const QString url = makeBundle(apps, name + QStringLiteral(".app"), shape);
        if (payload > 0) writeFile(url + QStringLiteral("/Contents/Resources/payload"), payload);
        return url;
    }

    QString leftover(const QString& relative, qint64 size = 5000)
    {
        const QString path = library + u'/' + relative;
        writeFile(path, size);
        return path;
    }
};

QStringList urls(const QList<Leftover>& leftovers)
{
    QStringList list;
    for (const Leftover& leftover : leftovers)
        list.append(leftover.url);
    return list;
}

// Selects `url` and waits for its leftover search to store its result.
bool selectAndWait(UninstallerModel& model, const QString& url)
{
    model.setSelectedID(url);
    return QTest::qWaitFor([&] { return !model.loadingLeftovers(); }, 10000);
}

QString longName(const QString& prefix, int index)
{
    const QString tail = QStringLiteral(".%1").arg(index);
    return prefix + QString(246 - prefix.size() - tail.size(), u'x') + tail;
}

} // namespace

class TestUninstallerModel : public QObject
{
    Q_OBJECT
private slots:
    void loadStoresTheListThenEachSize()
    {
        Fixture f;
        const QStringList bundles{f.bundle("Alpha", "com.example.alpha", 300000),
                                  f.bundle("Beta", "org.sample.beta", 5000),
                                  f.bundle("Gamma", "com.example.gamma", 90000)};
        UninstallerModel model(f.services);
        model.setSort(UninstallerModel::SortMode::size);
        QList<bool> loadingValues;
        bool sizesAbsentWhenStored = false;
        connect(&model, &UninstallerModel::loadingChanged, this, [&] {
            loadingValues.append(model.loading());
            if (!model.loading())
                sizesAbsentWhenStored =
                    std::all_of(model.apps().begin(), model.apps().end(),
                                [](const InstalledApp& app) { return !app.size; });
        });
        QList<int> rows;
        bool orderHeld = true;
        connect(&model, &UninstallerModel::appChanged, this, [&](int row) {
            rows.append(row);
            orderHeld = orderHeld && model.apps().value(row).size.has_value();
            // Measured ones first, largest first; the rest after them in name order.
            const QList<InstalledApp> visible = model.visibleApps();
            for (qsizetype k = 1; k < visible.size(); ++k) {
                const qint64 before = visible[k - 1].size.value_or(-1);
                const qint64 after = visible[k].size.value_or(-1);
                orderHeld = orderHeld && before >= after;
                if (before == -1 && after == -1)
                    orderHeld = orderHeld && visible[k - 1].name < visible[k].name;
            }
        });

        QCoro::waitFor(model.load());
        QCOMPARE(loadingValues, (QList<bool>{true, false}));
        QVERIFY(sizesAbsentWhenStored);
        QCOMPARE(names(model.apps()), (QStringList{"Alpha", "Beta", "Gamma"}));
        std::sort(rows.begin(), rows.end());
        QCOMPARE(rows, (QList<int>{0, 1, 2}));
        QVERIFY(orderHeld);
        for (qsizetype k = 0; k < bundles.size(); ++k)
            QCOMPARE(model.apps()[k].size,
                     std::optional<qint64>(TreeBuilder::expectedAllocated(bundles[k])));
        QCOMPARE(names(model.visibleApps()), (QStringList{"Alpha", "Gamma", "Beta"}));
    }

    void loadTwiceRunsOnce()
    {
        Fixture f;
        f.bundle("Alpha", "com.example.alpha");
        UninstallerModel model(f.services);
        QSignalSpy loading(&model, &UninstallerModel::loadingChanged);
        QSignalSpy apps(&model, &UninstallerModel::appsChanged);
        // Every pool thread held, so the first listing cannot finish before the second call.
        QSemaphore hold;
        const int threads = ioPool().maxThreadCount();
        QAtomicInt held = 0;
        for (int k = 0; k < threads; ++k)
            ioPool().start([&] {
                ++held;
                hold.acquire();
            });
        QVERIFY(QTest::qWaitFor([&] { return held.loadRelaxed() == threads; }, 5000));
        auto first = model.load();
        QVERIFY(model.loading());
        auto second = model.load();
        QVERIFY(second.isReady());
        hold.release(threads);
        QCoro::waitFor(first);
        QCOMPARE(loading.count(), 2);
        // The list once, then its one size.
        QCOMPARE(apps.count(), 2);
    }

    void reloadReplacesTheListAndMeasuresAgain()
    {
        Fixture f;
        const QString alpha = f.bundle("Alpha", "com.example.alpha", 200000);
        const QString beta = f.bundle("Beta", "com.example.beta", 100000);
        UninstallerModel model(f.services);
        model.setSelectedID(beta);
        // The first load's sizes may still be arriving when the second load stores its list.
        auto first = model.load();
        QVERIFY(QTest::qWaitFor([&] { return !model.loading(); }, 10000));
        QVERIFY(QDir().rename(alpha, f.root + "/Alpha-moved.app"));
        const QString gamma = f.bundle("Gamma", "com.example.gamma", 50000);
        auto second = model.load();
        QCoro::waitFor(first);
        QCoro::waitFor(second);
        QCOMPARE(names(model.apps()), (QStringList{"Beta", "Gamma"}));
        QCOMPARE(model.apps()[0].size, std::optional<qint64>(TreeBuilder::expectedAllocated(beta)));
        QCOMPARE(model.apps()[1].size,
                 std::optional<qint64>(TreeBuilder::expectedAllocated(gamma)));
        QCOMPARE(model.selectedID(), std::optional<QString>(beta));
    }

    void searchAndSort()
    {
        Fixture f;
        f.bundle("Alpha", "com.example.alpha");
        const QString beta = f.bundle("Beta", "org.sample.beta");
        const QString gamma = f.bundle("Gamma", "com.example.gamma");
        // Beta used recently, Gamma long ago, Alpha never.
        const timespec recent[2] = {{1700000500, 0}, {1700000000, 0}};
        const timespec old[2] = {{1500000500, 0}, {1500000000, 0}};
        QCOMPARE(
            utimensat(AT_FDCWD, (beta + "/Contents/MacOS/main").toUtf8().constData(), recent, 0),
            0);
        QCOMPARE(utimensat(AT_FDCWD, (gamma + "/Contents/MacOS/main").toUtf8().constData(), old, 0),
                 0);
        UninstallerModel model(f.services);
        QCoro::waitFor(model.load());

        model.setSearch("sample");
        QCOMPARE(names(model.visibleApps()), QStringList{"Beta"});
        model.setSearch("ALP");
        QCOMPARE(names(model.visibleApps()), QStringList{"Alpha"});
        model.setSearch("EXAMPLE.G");
        QCOMPARE(names(model.visibleApps()), QStringList{"Gamma"});
        model.setSearch(" ");
        QVERIFY(model.visibleApps().isEmpty());
        model.setSearch("");

        model.setSort(UninstallerModel::SortMode::lastUsed);
        QCOMPARE(names(model.visibleApps()), (QStringList{"Beta", "Gamma", "Alpha"}));
        model.setSort(UninstallerModel::SortMode::name);
        QCOMPARE(names(model.visibleApps()), (QStringList{"Alpha", "Beta", "Gamma"}));
    }

    void selectionFindsAndChoosesLeftovers()
    {
        Fixture f;
        const QString alpha = f.bundle("Alpha", "com.example.alpha", 40000);
        f.leftover("Caches/com.example.alpha/data", 30000);
        const QString prefs = f.leftover("Preferences/com.example.alpha.plist", 4000);
        f.leftover("Caches/com.example.other", 4000);
        UninstallerModel model(f.services);
        QCoro::waitFor(model.load());

        QVERIFY(selectAndWait(model, alpha));
        const QString cacheDir = f.library + "/Caches/com.example.alpha";
        QCOMPARE(urls(model.leftovers()), (QStringList{cacheDir, prefs}));
        QCOMPARE(model.selectedLeftovers(), (QSet<QString>{cacheDir, prefs}));
        const qint64 bundleSize = *model.selectedApp()->size;
        const qint64 prefsSize = TreeBuilder::expectedAllocated(prefs);
        QCOMPARE(model.totalSelectedSize(),
                 bundleSize + TreeBuilder::expectedAllocated(cacheDir) + prefsSize);
        model.setLeftoverChosen(cacheDir, false);
        QCOMPARE(model.totalSelectedSize(), bundleSize + prefsSize);

        // Setting the same selection starts nothing.
        QSignalSpy leftovers(&model, &UninstallerModel::leftoversChanged);
        model.setSelectedID(alpha);
        QCOMPARE(leftovers.count(), 0);
        // Nor does a reload that keeps the application.
        QCoro::waitFor(model.load());
        QCOMPARE(leftovers.count(), 0);
        QCOMPARE(model.selectedLeftovers(), QSet<QString>{prefs});
    }

    void staleLeftoverSearchIsDropped()
    {
        Fixture f;
        const QString slow = f.bundle("Slow", "com.example.slow");
        const QString fast = f.bundle("Fast", "com.example.fast");
        // Many files make the first search take longer than the second.
        for (int k = 0; k < 2000; ++k)
            f.leftover(QStringLiteral("Caches/com.example.slow/f%1").arg(k), 10);
        const QString fastLeftover = f.leftover("Logs/com.example.fast", 10);
        UninstallerModel model(f.services);
        QCoro::waitFor(model.load());

        // Each published value with the selection it was published under: the slow search may
        // finish before the second selection (then it is current and applies), never after.
        QList<std::pair<std::optional<QString>, QStringList>> seen;
        connect(&model, &UninstallerModel::leftoversChanged, this,
                [&] { seen.append({model.selectedID(), urls(model.leftovers())}); });
        model.setSelectedID(slow);
        model.setSelectedID(fast);
        QVERIFY(QTest::qWaitFor([&] { return !model.loadingLeftovers(); }, 10000));
        QCOMPARE(urls(model.leftovers()), QStringList{fastLeftover});
        // Let the overtaken search finish too: it must not overwrite anything.
        QTest::qWait(300);
        QCOMPARE(urls(model.leftovers()), QStringList{fastLeftover});
        for (const auto& [selected, value] : seen)
            if (selected == fast)
                QVERIFY(!value.contains(f.library + "/Caches/com.example.slow"));

        // Selecting nothing while a search runs ends with nothing loading.
        model.setSelectedID(slow);
        model.setSelectedID(std::nullopt);
        QVERIFY(!model.loadingLeftovers());
        QTest::qWait(300);
        QVERIFY(model.leftovers().isEmpty());
        QVERIFY(!model.loadingLeftovers());
    }

    void successfulUninstall()
    {
        Fixture f;
        const QString alpha = f.bundle("Alpha", "com.example.alpha", 40000);
        f.bundle("Beta", "com.example.beta");
        f.leftover("Caches/com.example.alpha/data", 30000);
        f.leftover("Preferences/com.example.alpha.plist", 4000);
        UninstallerModel model(f.services);
        QCoro::waitFor(model.load());
        QVERIFY(selectAndWait(model, alpha));
        const qint64 expected = model.totalSelectedSize();
        QList<bool> working;
        connect(&model, &UninstallerModel::workingChanged, this,
                [&] { working.append(model.working()); });

        QCoro::waitFor(model.uninstallSelected());
        QCOMPARE(model.message(),
                 std::optional<QString>("Đã gỡ Alpha và chuyển " + formatBytes(expected) +
                                        " vào Thùng rác."));
        QCOMPARE(working, (QList<bool>{true, false}));
        QCOMPARE(names(model.apps()), QStringList{"Beta"});
        QCOMPARE(model.selectedID(), std::nullopt);
        QVERIFY(model.leftovers().isEmpty());
        QVERIFY(!FileSystem::exists(alpha));
        QCOMPARE(f.runner.runs.load(), 0);
    }

    void sevenFailuresListFive()
    {
        Fixture f;
        const QString seven = f.bundle("Seven", "com.example.seven", 1000);
        for (int k = 0; k < 7; ++k)
            f.leftover("Caches/" + longName("com.example.seven.", k), 4096 * (k + 1));
        f.runner.result = {false, QStringLiteral("Finder từ chối")};
        UninstallerModel model(f.services);
        QCoro::waitFor(model.load());
        QVERIFY(selectAndWait(model, seven));
        QCOMPARE(model.leftovers().size(), 7);
        QStringList lines;
        for (const Leftover& leftover : model.leftovers())
            lines.append(FileSystem::lastComponent(leftover.url) + ": Finder từ chối");

        QCoro::waitFor(model.uninstallSelected());
        QCOMPARE(model.message(),
                 std::optional<QString>("Gỡ Seven chưa hoàn tất.\n\nKhông xoá được 7 mục:\n" +
                                        lines.first(5).join('\n')));
        // The bundle went, so the application leaves the list even though leftovers stayed.
        QVERIFY(model.apps().isEmpty());
        QCOMPARE(model.selectedID(), std::nullopt);
        QCOMPARE(f.runner.runs.load(), 1);
        QVERIFY(!model.working());
    }

    void bundleThatStaysKeepsTheApplication()
    {
        Fixture f;
        const QString stuck = f.bundle(longName("Stuck", 0).chopped(4), "com.example.stuck");
        const QString chosen = f.leftover("Caches/com.example.stuck", 100);
        const QString kept = f.leftover("Logs/com.example.stuck", 100);
        UninstallerModel model(f.services);
        QCoro::waitFor(model.load());
        QVERIFY(selectAndWait(model, stuck));
        model.setLeftoverChosen(kept, false);

        QCoro::waitFor(model.uninstallSelected());
        const QString name = FileSystem::lastComponent(stuck);
        QCOMPARE(model.message(),
                 std::optional<QString>("Gỡ " + name.chopped(4) +
                                        " chưa hoàn tất.\n\nKhông xoá được 1 mục:\n" + name +
                                        ": không có quyền"));
        QCOMPARE(model.apps().size(), 1);
        QCOMPARE(model.selectedID(), std::optional<QString>(stuck));
        // The leftovers were searched again: what remains, all chosen.
        QCOMPARE(urls(model.leftovers()), QStringList{kept});
        QCOMPARE(model.selectedLeftovers(), QSet<QString>{kept});
        QVERIFY(!FileSystem::exists(chosen));
        QVERIFY(!model.working());
        QVERIFY(!model.loadingLeftovers());
    }

    void runningApplication_data()
    {
        QTest::addColumn<bool>("ignoresTerm");
        QTest::addColumn<QString>("message");
        QTest::newRow("quits") << false << "Đã gỡ Busy và chuyển ";
        QTest::newRow("will not quit")
            << true << "Busy không thoát được. Hãy thoát app thủ công rồi thử lại.";
    }

    void runningApplication()
    {
        QFETCH(bool, ignoresTerm);
        QFETCH(QString, message);
        Fixture f;
        const QString app = f.bundle("Busy", "com.example.busy");
        auto process = startProcess(app + "/Contents/MacOS/main", ignoresTerm);
        QVERIFY(process);
        UninstallerModel model(f.services);
        QCoro::waitFor(model.load());
        QVERIFY(selectAndWait(model, app));
        QVERIFY(model.isRunning(*model.selectedApp()));

        QCoro::waitFor(model.uninstallSelected());
        QVERIFY(!model.working());
        if (!ignoresTerm) {
            QVERIFY2(model.message()->startsWith(message), qPrintable(*model.message()));
            QTRY_COMPARE_WITH_TIMEOUT(process->state(), QProcess::NotRunning, 5000);
            QVERIFY(!FileSystem::exists(app));
            return;
        }
        QCOMPARE(model.message(), std::optional<QString>(message));
        QVERIFY(FileSystem::exists(app));
        QCOMPARE(model.apps().size(), 1);
        QCOMPARE(process->state(), QProcess::Running);
        process->kill();
        QVERIFY(process->waitForFinished(5000));
        QVERIFY(QTest::qWaitFor([&] { return !model.isRunning(*model.selectedApp()); }, 5000));
    }

    void protectedOrMissingSelectionDoesNothing()
    {
        Fixture f;
        const QString outside = makeBundle(f.root + "/outside", "Linked.app", "com.example.linked");
        QVERIFY(TreeBuilder::makeLink(outside, f.apps + "/Linked.app"));
        UninstallerModel model(f.services);
        QCoro::waitFor(model.load());
        QVERIFY(model.apps().value(0).isProtected);
        QVERIFY(selectAndWait(model, f.apps + "/Linked.app"));
        QSignalSpy working(&model, &UninstallerModel::workingChanged);
        QCoro::waitFor(model.uninstallSelected());
        QCOMPARE(working.count(), 0);
        QCOMPARE(model.message(), std::nullopt);
        QVERIFY(FileSystem::exists(outside));

        model.setSelectedID(f.apps + "/NotThere.app");
        QCoro::waitFor(model.uninstallSelected());
        QCOMPARE(working.count(), 0);
        QCOMPARE(model.message(), std::nullopt);
    }
};

SORVI_TEST_MAIN(TestUninstallerModel)
#include "tst_uninstaller_model.moc"
