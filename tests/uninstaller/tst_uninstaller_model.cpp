#include "core/category.h"
#include "core/io_pool.h"
#include "platform/file_system.h"
#include "platform/running_apps.h"
#include "support/await.h"
#include "support/bundle_fixture.h"
#include "support/pool_gate.h"
#include "support/recording_runner.h"
#include "support/rows.h"
#include "uninstaller/uninstaller_model.h"

#include <QRegularExpression>
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
    UninstallerModel model;

    Fixture()
        : AppLayout(freshAppLayout()),
          model(
              UninstallerModel::Services{nullptr, &runner, folders, std::chrono::milliseconds(10)})
    {
    }
    // Selects `url` and waits for its leftover search to store its result.
    bool select(const QString& url)
    {
        model.setSelectedID(url);
        return Await::until([&] { return !model.loadingLeftovers(); }, "the leftover search");
    }
};

} // namespace

class TestUninstallerModel : public QObject
{
    Q_OBJECT
private slots:
    // The list is stored first (no size yet), then each size in its own row signal; a load while
    // one runs returns at once; a reload replaces the list and keeps the selection and its leftover
    // choice without searching again.
    void loadThenReload()
    {
        Fixture f;
        const QStringList bundles{f.bundle("Alpha", "com.example.alpha", 300000),
                                  f.bundle("Beta", "org.sample.beta", 5000),
                                  f.bundle("Gamma", "com.example.gamma", 90000)};
        const QString prefs = f.leftover("Preferences/org.sample.beta.plist");
        f.model.setSort(Sort::size);
        QList<bool> loading;
        bool absentWhenStored = false;
        connect(&f.model, &UninstallerModel::loadingChanged, this, [&] {
            loading.append(f.model.loading());
            absentWhenStored = std::none_of(f.model.apps().begin(), f.model.apps().end(),
                                            [](const InstalledApp& app) { return app.size; });
        });
        QSignalSpy lists(&f.model, &UninstallerModel::appsChanged);
        QSignalSpy rows(&f.model, &UninstallerModel::appChanged);
        PoolGate gate;
        QVERIFY(gate.held());
        auto first = f.model.load();
        QVERIFY(f.model.loading() && f.model.load().isReady());
        gate.release();
        AWAIT(std::move(first), "the load");
        QCOMPARE(loading, (QList<bool>{true, false}));
        QVERIFY(absentWhenStored);
        QCOMPARE((QList<qsizetype>{lists.count(), rows.count()}), (QList<qsizetype>{1, 3}));
        for (qsizetype k = 0; k < bundles.size(); ++k)
            QCOMPARE(f.model.apps()[k].size, TreeBuilder::expectedAllocated(bundles[k]));
        QCOMPARE(names(f.model.visibleApps()), (QStringList{"Alpha", "Gamma", "Beta"}));

        QVERIFY(f.select(bundles[1]));
        f.model.setLeftoverChosen(prefs, false);
        QVERIFY(QDir().rename(bundles[0], f.root + "/Alpha-moved.app"));
        f.bundle("Delta", "com.example.delta", 50000);
        QSignalSpy leftovers(&f.model, &UninstallerModel::leftoversChanged);
        AWAIT(f.model.load(), "the reload");
        QCOMPARE(names(f.model.visibleApps()), (QStringList{"Gamma", "Delta", "Beta"}));
        QCOMPARE(f.model.selectedID(), bundles[1]);
        QCOMPARE(leftovers.count(), 0);
        QVERIFY(f.model.selectedLeftovers().isEmpty());
    }

    void searchAndSort()
    {
        Fixture f;
        f.bundle("Alpha", "com.example.alpha");
        const QString road = f.bundle("Straße", "de.example.road");
        const QString beta = f.bundle("Beta", "org.sample.beta");
        const QString gamma = f.bundle("Gamma", "com.example.gamma");
        // Used: a read of the executable after its last write. Gamma used last, Beta before;
        // Straße read no later than written and Alpha never read: not used.
        const auto times = [](const QString& bundle, time_t accessed, time_t modified) {
            const timespec both[2] = {{accessed, 0}, {modified, 0}};
            const QByteArray main = QFile::encodeName(bundle + "/Contents/MacOS/main");
            return utimensat(AT_FDCWD, main.constData(), both, 0) == 0;
        };
        QVERIFY(times(beta, 1700000500, 1700000000) && times(gamma, 1800000000, 1500000000) &&
                times(road, 1900000000, 1900000000));
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
        QCOMPARE(names(f.model.visibleApps()), (QStringList{"Gamma", "Beta", "Alpha", "Straße"}));
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

    // What stays is reported as its count and first five lines. A bundle that went takes the
    // application off the list; one that stays keeps it selected, its leftovers searched again.
    void unfinishedUninstall_data()
    {
        Rows::add({"goes"}, {"seven leftovers stay;1", "the bundle stays;"});
    }
    void unfinishedUninstall()
    {
        QFETCH(QString, goes);
        const bool bundleGoes = !goes.isEmpty();
        Fixture f;
        const QString app = f.bundle("Seven", "com.example.seven", 1000);
        QStringList items;
        for (int k = 0; k < 7; ++k)
            items.append(f.leftover("Caches/com.example.seven." + QString::number(k), 4096LL * k));
        if (bundleGoes) f.runner.result = {false, "Finder từ chối"};
        f.runner.action = [&] {
            for (const QString& item : bundleGoes ? QStringList{app} : items.mid(1))
                FileSystem::removeItem(f.root, item);
        };
        AWAIT(f.model.load(), "the load");
        QVERIFY(f.select(app));
        f.model.setLeftoverChosen(items[0], bundleGoes);
        QStringList lines{"Seven.app: không có quyền"};
        if (bundleGoes)
            lines = urls(f.model.leftovers())
                        .replaceInStrings(QRegularExpression("^.*/"), "")
                        .replaceInStrings(QRegularExpression("$"), ": Finder từ chối");
        const TestHome::BrokenTrash broken;
        AWAIT(f.model.uninstallSelected(), "the uninstall");
        QCOMPARE(f.model.message(), "Gỡ Seven chưa hoàn tất.\n\nKhông xoá được " +
                                        QString::number(lines.size()) + " mục:\n" +
                                        lines.mid(0, 5).join('\n'));
        QVERIFY(!f.model.working() && !f.model.loadingLeftovers());
        QCOMPARE(f.model.apps().isEmpty(), bundleGoes);
        if (bundleGoes) return;
        QCOMPARE(f.model.selectedID(), app);
        QCOMPARE(urls(f.model.leftovers()), QStringList{items[0]});
        QCOMPARE(f.model.selectedLeftovers(), QSet<QString>{items[0]});
    }

    // A running application is asked to quit first. One that quits is uninstalled: the exact
    // message, and it leaves the list and the selection. One that will not quit stays.
    void runningApplication_data() { Rows::add({"stays"}, {"quits;", "will not quit;1"}); }
    void runningApplication()
    {
        QFETCH(QString, stays);
        const bool ignoresTerm = !stays.isEmpty();
        Fixture f;
        const QString app = f.bundle("Busy", "com.example.busy", 40000);
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
        // The bundle and one leftover: from none moved, forward only, to no run.
        QCOMPARE(steps.isEmpty(), ignoresTerm);
        for (qsizetype i = 1; i + 1 < steps.size(); ++i)
            QVERIFY(steps[i]->total == 2 && steps[i]->done > steps[i - 1]->done);
        if (!ignoresTerm) {
            QVERIFY(steps.first() == RunProgress({0, 2}) && steps.last() == std::nullopt);
            QCOMPARE(f.model.message(),
                     "Đã gỡ Busy và chuyển " + formatBytes(total) + " vào Thùng rác.");
            QVERIFY(!f.model.selectedID() && f.model.leftovers().isEmpty());
            AWAIT_UNTIL(process->state() == QProcess::NotRunning, "the application to end");
            return;
        }
        QCOMPARE(f.model.message(), "Busy không thoát được. Hãy thoát app thủ công rồi thử lại.");
        QVERIFY(f.model.selectedApp() && process->state() == QProcess::Running);
        process->kill();
        QVERIFY(process->waitForFinished(5000));
    }
};

SORVI_TEST_MAIN(TestUninstallerModel)
#include "tst_uninstaller_model.moc"
