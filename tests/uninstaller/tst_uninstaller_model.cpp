#include "core/category.h"
#include "core/io_pool.h"
#include "platform/file_system.h"
#include "platform/running_apps.h"
#include "support/await.h"
#include "support/bundle_fixture.h"
#include "support/pool_gate.h"
#include "support/recording_runner.h"
#include "uninstaller/uninstaller_model.h"

#include <QSignalSpy>
#include <QThreadPool>
#include <fcntl.h>
#include <sys/stat.h>

using namespace BundleFixture;
using Sort = UninstallerModel::SortMode;

namespace {

// A fresh layout, and a model working on it with a recording Finder and short quit checks.
struct Fixture : AppLayout
{
    RecordingRunner runner;
    RunningApps& registry = defaultRunningApps();
    UninstallerModel model;

    Fixture()
        : AppLayout(freshAppLayout()),
          model(UninstallerModel::Services{&registry, &runner, folders,
                                           std::chrono::milliseconds(10)})
    {
    }
    // Selects `url` and waits for its leftover search to store its result.
    bool select(const QString& url)
    {
        model.setSelectedID(url);
        return Await::until([&] { return !model.loadingLeftovers(); }, "the leftover search");
    }
};

QStringList urls(const QList<Leftover>& leftovers)
{
    QStringList list;
    for (const Leftover& leftover : leftovers)
        list.append(leftover.url);
    return list;
}

} // namespace

class TestUninstallerModel : public QObject
{
    Q_OBJECT
private slots:
    // The list is stored first (loading ends, sizes absent), then each size as it arrives; sorted
    // by size, the unmeasured follow the measured in name order.
    void loadStoresTheListThenEachSize()
    {
        Fixture f;
        const QStringList bundles{f.bundle("Alpha", "com.example.alpha", 300000),
                                  f.bundle("Beta", "org.sample.beta", 5000),
                                  f.bundle("Gamma", "com.example.gamma", 90000)};
        f.model.setSort(Sort::size);
        QList<bool> loading;
        bool absentWhenStored = false;
        connect(&f.model, &UninstallerModel::loadingChanged, this, [&] {
            loading.append(f.model.loading());
            absentWhenStored = std::none_of(f.model.apps().begin(), f.model.apps().end(),
                                            [](const InstalledApp& app) { return app.size; });
        });
        bool ordered = true;
        connect(&f.model, &UninstallerModel::appChanged, this, [&] {
            const QList<InstalledApp> visible = f.model.visibleApps();
            for (qsizetype k = 1; k < visible.size(); ++k) {
                const qint64 before = visible[k - 1].size.value_or(-1);
                const qint64 after = visible[k].size.value_or(-1);
                ordered = ordered && before >= after &&
                          (before != -1 || visible[k - 1].name < visible[k].name);
            }
        });
        AWAIT(f.model.load(), "the load");
        QCOMPARE(loading, (QList<bool>{true, false}));
        QVERIFY(absentWhenStored && ordered);
        for (qsizetype k = 0; k < bundles.size(); ++k)
            QCOMPARE(f.model.apps()[k].size, TreeBuilder::expectedAllocated(bundles[k]));
        QCOMPARE(names(f.model.visibleApps()), (QStringList{"Alpha", "Gamma", "Beta"}));
    }

    // Two loads asked in one turn of the event loop are one load, however fast the listing.
    void loadTwiceInOneTurnIsOneLoad()
    {
        Fixture f;
        for (int round = 0; round < 50; ++round) {
            QSignalSpy loading(&f.model, &UninstallerModel::loadingChanged);
            auto first = f.model.load();
            QVERIFY(f.model.load().isReady());
            AWAIT(std::move(first), "the load");
            QCOMPARE(loading.count(), 2);
        }
    }

    // A second load while one runs returns at once; a reload replaces the list and keeps the
    // selection without searching again.
    void loadOnceThenReload()
    {
        Fixture f;
        const QString alpha = f.bundle("Alpha", "com.example.alpha");
        const QString beta = f.bundle("Beta", "com.example.beta");
        const QString prefs = f.leftover("Preferences/com.example.beta.plist");
        QSignalSpy apps(&f.model, &UninstallerModel::appsChanged);
        QSignalSpy rows(&f.model, &UninstallerModel::appChanged);
        PoolGate gate;
        QVERIFY(gate.held());
        auto first = f.model.load();
        QVERIFY(f.model.loading() && f.model.load().isReady());
        gate.release();
        AWAIT(std::move(first), "the first load");
        // The list once, then one row for each size.
        QCOMPARE(apps.count(), 1);
        QCOMPARE(rows.count(), 2);
        QVERIFY(f.select(beta));
        f.model.setLeftoverChosen(prefs, false);
        QVERIFY(QDir().rename(alpha, f.root + "/Alpha-moved.app"));
        const QString gamma = f.bundle("Gamma", "com.example.gamma", 50000);
        QSignalSpy leftovers(&f.model, &UninstallerModel::leftoversChanged);
        AWAIT(f.model.load(), "the reload");
        QCOMPARE(names(f.model.apps()), (QStringList{"Beta", "Gamma"}));
        QCOMPARE(f.model.apps()[1].size, TreeBuilder::expectedAllocated(gamma));
        QCOMPARE(f.model.selectedID(), beta);
        QCOMPARE(leftovers.count(), 0);
        QVERIFY(f.model.selectedLeftovers().isEmpty());
    }

    void searchAndSort()
    {
        Fixture f;
        f.bundle("Alpha", "com.example.alpha");
        f.bundle("Straße", "de.example.road");
        const QString beta = f.bundle("Beta", "org.sample.beta");
        const QString gamma = f.bundle("Gamma", "com.example.gamma");
        // Beta used recently, Gamma long ago, Alpha never.
        const timespec recent[2] = {{1700000500, 0}, {1700000000, 0}};
        const timespec old[2] = {{1500000500, 0}, {1500000000, 0}};
        QCOMPARE(utimensat(AT_FDCWD, QFile::encodeName(beta + "/Contents/MacOS/main").constData(),
                           recent, 0),
                 0);
        QCOMPARE(utimensat(AT_FDCWD, QFile::encodeName(gamma + "/Contents/MacOS/main").constData(),
                           old, 0),
                 0);
        AWAIT(f.model.load(), "the load");
        // Full case folding: ß is "ss".
        const QList<std::pair<QString, QStringList>> searches{
            {"sample", {"Beta"}},    {"ALP", {"Alpha"}},    {"EXAMPLE.G", {"Gamma"}}, {" ", {}},
            {"STRASSE", {"Straße"}}, {"straẞe", {"Straße"}}};
        for (const auto& [search, found] : searches) {
            f.model.setSearch(search);
            QCOMPARE(names(f.model.visibleApps()), found);
        }
        f.model.setSearch("");
        f.model.setSort(Sort::lastUsed);
        QCOMPARE(names(f.model.visibleApps()), (QStringList{"Beta", "Gamma", "Alpha", "Straße"}));
    }

    // Every leftover found by identifier starts chosen, one matched by name alone is only listed
    // (another program may use that name); the total counts the bundle and the chosen ones.
    void selectionFindsAndChoosesLeftovers()
    {
        Fixture f;
        const QString alpha = f.bundle("Alpha", "com.example.alpha", 40000);
        const QString cache =
            f.leftover("Caches/com.example.alpha/data", 30000).section('/', 0, -2);
        const QString byName = f.leftover("Application Support/alpha", 1000);
        const QString prefs = f.leftover("Preferences/com.example.alpha.plist", 4000);
        f.leftover("Caches/com.example.other", 4000);
        AWAIT(f.model.load(), "the load");
        QVERIFY(f.select(alpha));
        QCOMPARE(urls(f.model.leftovers()), (QStringList{cache, byName, prefs}));
        QCOMPARE(f.model.selectedLeftovers(), (QSet<QString>{cache, prefs}));
        f.model.setLeftoverChosen(cache, false);
        QCOMPARE(f.model.totalSelectedSize(),
                 *f.model.selectedApp()->size + TreeBuilder::expectedAllocated(prefs));
    }

    // A search overtaken by a newer selection never publishes its result under the newer one.
    void staleLeftoverSearchIsDropped()
    {
        Fixture f;
        const QString slow = f.bundle("Slow", "com.example.slow");
        const QString fast = f.bundle("Fast", "com.example.fast");
        for (int k = 0; k < 500; ++k)
            f.leftover(QStringLiteral("Caches/com.example.slow/f%1").arg(k), 10);
        const QString fastLeftover = f.leftover("Logs/com.example.fast", 10);
        AWAIT(f.model.load(), "the load");
        QList<std::pair<std::optional<QString>, QStringList>> published;
        connect(&f.model, &UninstallerModel::leftoversChanged, this, [&] {
            published.append({f.model.selectedID(), urls(f.model.leftovers())});
        });
        f.model.setSelectedID(slow);
        f.model.setSelectedID(fast);
        f.model.setSelectedID(slow);
        f.model.setSelectedID(std::nullopt); // selecting nothing while searches run
        QVERIFY(!f.model.loadingLeftovers());
        f.model.setSelectedID(fast);
        QVERIFY(ioPool().waitForDone(30000)); // every search has ended: their results are posted
        AWAIT_UNTIL(!f.model.loadingLeftovers(), "the last search");
        QCoreApplication::processEvents();
        QCOMPARE(urls(f.model.leftovers()), QStringList{fastLeftover});
        for (const auto& [selected, value] : published)
            QVERIFY(value.isEmpty() || (selected == fast) == (value == QStringList{fastLeftover}));
    }

    // Seven leftovers stay: the count and the first five lines. The bundle went, so the
    // application leaves the list all the same.
    void sevenFailuresListFive()
    {
        Fixture f;
        const QString seven = f.bundle("Seven", "com.example.seven", 1000);
        for (int k = 0; k < 7; ++k)
            f.leftover("Caches/com.example.seven." + QString::number(k), 4096LL * (k + 1));
        f.runner.result = {false, "Finder từ chối"};
        f.runner.action = [&] { QDir(seven).removeRecursively(); };
        AWAIT(f.model.load(), "the load");
        QVERIFY(f.select(seven));
        const TestHome::BrokenTrash broken;
        QStringList lines;
        for (const Leftover& leftover : f.model.leftovers())
            lines.append(FileSystem::lastComponent(leftover.url) + ": Finder từ chối");
        AWAIT(f.model.uninstallSelected(), "the uninstall");
        QCOMPARE(f.model.message(),
                 "Gỡ Seven chưa hoàn tất.\n\nKhông xoá được 7 mục:\n" + lines.first(5).join('\n'));
        QVERIFY(f.model.apps().isEmpty() && !f.model.working());
    }

    // A bundle that stays keeps the application selected, and its leftovers are searched again.
    void bundleThatStaysKeepsTheApplication()
    {
        Fixture f;
        const QString stuck = f.bundle("Stuck", "com.example.stuck");
        const QString chosen = f.leftover("Caches/com.example.stuck", 100);
        const QString kept = f.leftover("Logs/com.example.stuck", 100);
        f.runner.action = [&] { QFile::remove(chosen); };
        AWAIT(f.model.load(), "the load");
        QVERIFY(f.select(stuck));
        f.model.setLeftoverChosen(kept, false);
        const TestHome::BrokenTrash broken;
        AWAIT(f.model.uninstallSelected(), "the uninstall");
        const QString name = FileSystem::lastComponent(stuck);
        QCOMPARE(f.model.message(), "Gỡ " + name.chopped(4) +
                                        " chưa hoàn tất.\n\nKhông xoá được 1 mục:\n" + name +
                                        ": không có quyền");
        QCOMPARE(f.model.selectedID(), stuck);
        QCOMPARE(urls(f.model.leftovers()), QStringList{kept});
        QCOMPARE(f.model.selectedLeftovers(), QSet<QString>{kept});
        QVERIFY(!FileSystem::exists(chosen) && !f.model.working() && !f.model.loadingLeftovers());
    }

    // A running application is asked to quit first. One that quits is uninstalled: the exact
    // message, and it leaves the list and the selection. One that will not quit stays.
    void runningApplication_data()
    {
        QTest::addColumn<bool>("ignoresTerm");
        QTest::newRow("quits") << false;
        QTest::newRow("will not quit") << true;
    }
    void runningApplication()
    {
        QFETCH(bool, ignoresTerm);
        Fixture f;
        const QString app = f.bundle("Busy", "com.example.busy", 40000);
        f.bundle("Other", "com.example.other");
        f.leftover("Caches/com.example.busy/data", 30000);
        auto process = startProcess(app + "/Contents/MacOS/main", ignoresTerm);
        QVERIFY(process);
        AWAIT(f.model.load(), "the load");
        QVERIFY(f.select(app) && f.model.isRunning(*f.model.selectedApp()));
        const qint64 total = f.model.totalSelectedSize();
        QList<bool> working;
        connect(&f.model, &UninstallerModel::workingChanged, this,
                [&] { working.append(f.model.working()); });
        QList<std::optional<RunProgress>> steps;
        connect(&f.model, &UninstallerModel::progressChanged, this,
                [&] { steps.append(f.model.progress()); });
        auto uninstall = f.model.uninstallSelected();
        // A second request while the first waits for the quit is refused, not queued.
        AWAIT(f.model.uninstallSelected(), "the refused uninstall");
        QCOMPARE(f.model.message(), "Đang gỡ Busy. Hãy đợi lần gỡ này xong rồi thử lại.");
        AWAIT(std::move(uninstall), "the uninstall");
        QCOMPARE(working, (QList<bool>{true, false}));
        QCOMPARE(FileSystem::exists(app), ignoresTerm);
        // The bundle and one leftover, from none to both moved (steps between may merge).
        // The bundle and one leftover: from none moved, forward only, to no run.
        QCOMPARE(steps.isEmpty(), ignoresTerm);
        for (qsizetype i = 1; i + 1 < steps.size(); ++i)
            QVERIFY(steps[i]->total == 2 && steps[i]->done > steps[i - 1]->done);
        if (!ignoresTerm)
            QVERIFY(steps.first() == RunProgress({0, 2}) && steps.last() == std::nullopt);
        if (!ignoresTerm) {
            QCOMPARE(f.model.message(),
                     "Đã gỡ Busy và chuyển " + formatBytes(total) + " vào Thùng rác.");
            QCOMPARE(names(f.model.apps()), QStringList{"Other"});
            QCOMPARE(f.model.selectedID(), std::nullopt);
            QVERIFY(f.model.leftovers().isEmpty());
            AWAIT_UNTIL(process->state() == QProcess::NotRunning, "the application to end");
            return;
        }
        QCOMPARE(f.model.message(), "Busy không thoát được. Hãy thoát app thủ công rồi thử lại.");
        QCOMPARE(f.model.apps().size(), 2);
        QCOMPARE(process->state(), QProcess::Running);
        process->kill();
        QVERIFY(process->waitForFinished(5000));
    }

    void protectedOrMissingSelectionDoesNothing()
    {
        Fixture f;
        const QString outside = makeBundle(f.root + "/outside", "Linked.app", "com.example.linked");
        QVERIFY(TreeBuilder::makeLink(outside, f.apps + "/Linked.app"));
        AWAIT(f.model.load(), "the load");
        QVERIFY(f.model.apps().value(0).isProtected);
        QSignalSpy working(&f.model, &UninstallerModel::workingChanged);
        for (const QString& selected : {f.apps + "/Linked.app", f.apps + "/NotThere.app"}) {
            QVERIFY(f.select(selected));
            AWAIT(f.model.uninstallSelected(), "an uninstall that does nothing");
        }
        QCOMPARE(working.count(), 0);
        QCOMPARE(f.model.message(), std::nullopt);
        QVERIFY(FileSystem::exists(outside));
    }
};

SORVI_TEST_MAIN(TestUninstallerModel)
#include "tst_uninstaller_model.moc"
