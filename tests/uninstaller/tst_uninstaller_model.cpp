#include "core/category.h"
#include "core/io_pool.h"
#include "platform/file_system.h"
#include "support/await.h"
#include "support/bundle_fixture.h"
#include "support/pool_gate.h"
#include "support/recording_runner.h"
#include "support/rows.h"
#include "uninstaller/uninstaller_model.h"

#include <QSignalSpy>
#include <QThreadPool>

using namespace BundleFixture;
using Sort = UninstallerModel::SortMode;

namespace {

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
    // The list first, then each size in its own row signal; a load while one runs returns at once;
    // a reload keeps the selection and its leftover choice without searching again.
    void loadThenReload()
    {
        Fixture f;
        const QStringList bundles{f.bundle("Alpha", "com.example.alpha", 300000),
                                  f.bundle("Beta", "org.sample.beta", 5000),
                                  f.bundle("Gamma", "com.example.gamma", 90000)};
        const QString prefs = f.leftover("Preferences/org.sample.beta.plist");
        f.model.setSort(Sort::size);
        bool absentWhenStored = false;
        connect(&f.model, &UninstallerModel::loadingChanged, this, [&] {
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

    // By name or identifier; full case folding: ß is "ss".
    void search()
    {
        Fixture f;
        for (const auto& [name, id] : {std::pair{"Alpha", "com.example.alpha"},
                                       {"Straße", "de.example.road"},
                                       {"Beta", "org.sample.beta"},
                                       {"Gamma", "com.example.gamma"}})
            f.bundle(name, id);
        AWAIT(f.model.load(), "the load");
        const QList<std::pair<QString, QStringList>> searches{
            {"sample", {"Beta"}},    {"ALP", {"Alpha"}},    {"EXAMPLE.G", {"Gamma"}}, {" ", {}},
            {"STRASSE", {"Straße"}}, {"straẞe", {"Straße"}}};
        for (const auto& [search, found] : searches) {
            f.model.setSearch(search);
            QCOMPARE(names(f.model.visibleApps()), found);
        }
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

    // What stays is reported as its count and first five lines; a bundle that stays keeps it
    // selected, its leftovers searched again.
    void unfinishedUninstall()
    {
        Fixture f;
        const QString app = f.bundle("Seven", "com.example.seven", 1000);
        QStringList items;
        for (int k = 0; k < 7; ++k)
            items.append(f.leftover("Caches/com.example.seven." + QString::number(k), 4096LL * k));
        f.runner.result = {false, "Finder từ chối"};
        f.runner.action = [&] { FileSystem::removeItem(f.root, items[0]); };
        AWAIT(f.model.load(), "the load");
        QVERIFY(f.select(app));
        const TestHome::BrokenTrash broken;
        AWAIT(f.model.uninstallSelected(), "the uninstall");
        QString lines = "Seven.app: Finder từ chối"; // then the leftovers, largest first
        for (int k = 6; k > 2; --k)
            lines += "\ncom.example.seven." + QString::number(k) + ": Finder từ chối";
        QCOMPARE(f.model.message(), "Gỡ Seven chưa hoàn tất.\n\nKhông xoá được 7 mục:\n" + lines);
        QVERIFY(!f.model.working() && !f.model.loadingLeftovers());
        QCOMPARE(f.model.selectedID(), app);
        QCOMPARE(f.model.selectedLeftovers(), QSet<QString>(items.begin() + 1, items.end()));
        QCOMPARE(f.model.leftovers().size(), 6);
    }

    // A running application is asked to quit first; one that will not quit stays.
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
        auto uninstall = f.model.uninstallSelected();
        // A second request while the first waits for the quit is refused, not queued.
        AWAIT(f.model.uninstallSelected(), "the refused uninstall");
        QCOMPARE(f.model.message(), "Đang gỡ Busy. Hãy đợi lần gỡ này xong rồi thử lại.");
        AWAIT(std::move(uninstall), "the uninstall");
        QCOMPARE(FileSystem::exists(app), ignoresTerm);
        if (ignoresTerm) {
            QCOMPARE(f.model.message(),
                     "Busy không thoát được. Hãy thoát app thủ công rồi thử lại.");
            QVERIFY(f.model.selectedApp() && process->state() == QProcess::Running);
            process->kill();
            QVERIFY(process->waitForFinished(5000));
            return;
        }
        QCOMPARE(f.model.message(),
                 "Đã gỡ Busy và chuyển " + formatBytes(total) + " vào Thùng rác.");
        QVERIFY(!f.model.selectedID() && f.model.leftovers().isEmpty());
        AWAIT_UNTIL(process->state() == QProcess::NotRunning, "the application to end");
    }
};

SORVI_TEST_MAIN(TestUninstallerModel)
#include "tst_uninstaller_model.moc"
