#include "platform/file_system.h"
#include "platform/running_apps.h"
#include "support/await.h"
#include "support/bundle_fixture.h"
#include "support/recording_runner.h"
#include "uninstaller/uninstaller.h"

using namespace BundleFixture;
using namespace std::chrono_literals;

namespace {

const QString kOutside = QStringLiteral(": nằm ngoài vùng cho phép");

// An instance that reports itself gone at its `quitsAt`-th check (never when negative).
struct FakeInstance final : RunningApplication
{
    explicit FakeInstance(int quitsAt) : quitsAt(quitsAt) {}
    pid_t pid() const override { return 4242; }
    bool terminate() override { return ++terminateCalls, true; }
    bool isTerminated() const override { return ++checks, quitsAt >= 0 && checks >= quitsAt; }
    int quitsAt, terminateCalls = 0;
    mutable int checks = 0;
};

struct FakeRegistry final : RunningApps
{
    std::optional<QList<RunningApplicationPtr>> instances(const SourcedApplication&) override
    {
        return list;
    }
    std::optional<QList<RunningApplicationPtr>> list = QList<RunningApplicationPtr>();
};

} // namespace

class TestUninstaller : public QObject
{
    Q_OBJECT
private slots:
    // Backslashes are doubled before quotes are escaped: no path ends the string.
    void finderScriptText()
    {
        QCOMPARE(Uninstaller::finderDeleteScript({"/a\\b", "/x/\"} & do shell script \"rm ~\""}),
                 "tell application \"Finder\" to delete {POSIX file \"/a\\\\b\", POSIX file "
                 "\"/x/\\\"} & do shell script \\\"rm ~\\\"\"}");
    }

    // What the allow-list refuses (a protected bundle, a leftover elsewhere or deeper) stays.
    void allowListDecides()
    {
        const AppLayout l = freshAppLayout();
        InstalledApp app =
            appRecord(l.bundle("Example", "com.example.app"), "com.example.app", 12345);
        app.isProtected = true;
        const QString elsewhere = l.root + "/Documents/com.example.app";
        TreeBuilder::writeFile(elsewhere, 100);
        const QList<Leftover> leftovers{{l.leftover("Caches/com.example.app"), 700},
                                        {elsewhere, 1},
                                        {l.leftover("Caches/other/sub"), 4},
                                        {l.leftover("Preferences/com.example.app.plist"), 11}};
        RecordingRunner runner;
        const CleanReport report = Uninstaller::uninstall(app, leftovers, runner, l.folders);
        QCOMPARE(report, (CleanReport{700 + 11,
                                      {"Example.app" + kOutside, "com.example.app" + kOutside,
                                       "sub" + kOutside}}));
        const QString trashed = TestHome::trashPath() + "/files/com.example.app";
        QVERIFY(FileSystem::exists(trashed) && FileSystem::exists(trashed + ".plist"));
        QVERIFY(FileSystem::exists(app.url) && FileSystem::exists(elsewhere) &&
                FileSystem::exists(l.library + "/Caches/other/sub"));
        QVERIFY(runner.sources().isEmpty());
    }

    // What the Trash refuses goes to the Finder in one script, but a name that is not UTF-8 (in
    // the script it would name another file); what is gone then counts as freed.
    void refusedMovesGoToTheFinder()
    {
        const AppLayout l = freshAppLayout();
        const InstalledApp app = appRecord(l.bundle("Example", "com.example.app"), "com.x");
        const QStringList refused{app.url, l.leftover("Caches/com.example.app.\"q\"\\."),
                                  l.leftover("Logs/com.example.app.")};
        const QByteArray raw = QFile::encodeName(refused[2]) + QByteArray(20, '\xFF');
        QVERIFY(TreeBuilder::writeFileRaw(raw, 10));
        const QString odd = PathCodec::decode(raw);
        RecordingRunner runner({false, QStringLiteral("Finder từ chối")});
        runner.action = [&] {
            FileSystem::removeItem(l.root, refused[0]);
            FileSystem::removeItem(l.root, refused[1]);
        };
        const TestHome::BrokenTrash broken;
        const CleanReport report = Uninstaller::uninstall(
            app, {{refused[1], 20}, {refused[2], 30}, {odd, 3}}, runner, l.folders);
        QCOMPARE(::unlink(raw.constData()), 0); // QTemporaryDir cannot remove it
        QCOMPARE(runner.sources(), QStringList{Uninstaller::finderDeleteScript(refused)});
        QCOMPARE(report, (CleanReport{20,
                                      {"com.example.app.: Finder từ chối",
                                       FileSystem::lastComponent(odd) + ": Finder từ chối"}}));
    }

    // Asked once, never forced, checked at most 20 times; a replaced location: nothing is asked.
    void quitChecksAtMostTwentyTimes_data()
    {
        using Quit = Uninstaller::Quit;
        QTest::addColumn<QList<int>>("quitsAt");
        QTest::addColumn<Quit>("quit");
        QTest::addColumn<int>("checks"); // of the first instance
        QTest::newRow("nothing running") << QList<int>{} << Quit::done << 0;
        QTest::newRow("never") << QList<int>{-1} << Quit::stillRunning << 20;
        QTest::newRow("at the last check") << QList<int>{20} << Quit::done << 20;
        QTest::newRow("one of two stays") << QList<int>{1, -1} << Quit::stillRunning << 20;
        QTest::newRow("both quit") << QList<int>{1, 4} << Quit::done << 4;
        QTest::newRow("replaced") << QList<int>{-2} << Quit::replaced << 0;
    }
    void quitChecksAtMostTwentyTimes()
    {
        QFETCH(QList<int>, quitsAt);
        QFETCH(Uninstaller::Quit, quit);
        QFETCH(int, checks);
        FakeRegistry registry;
        QList<std::shared_ptr<FakeInstance>> fakes;
        for (int at : quitsAt)
            registry.list->append(fakes.emplace_back(std::make_shared<FakeInstance>(at)));
        if (quitsAt.value(0) == -2) registry.list.reset();
        AWAIT_VALUE(result, Uninstaller::quitIfRunning(InstalledApp{}, &registry, 1ms), "quitting");
        QCOMPARE(result, quit);
        for (const auto& fake : fakes)
            QCOMPARE(fake->terminateCalls, registry.list ? 1 : 0);
        QCOMPARE(fakes.isEmpty() ? 0 : fakes[0]->checks, checks);
    }
};

SORVI_TEST_MAIN(TestUninstaller)
#include "tst_uninstaller.moc"
