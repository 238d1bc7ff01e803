#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "platform/running_apps.h"
#include "platform/script_runner.h"
#include "support/test_home.h"
#include "support/tree_builder.h"
#include "uninstaller/bundle_fixture.h"
#include "uninstaller/uninstaller.h"

#include <QCoro/QCoroTask>
#include <atomic>
#include <functional>
#include <unistd.h>

using namespace BundleFixture;
using TreeBuilder::makeDir;
using TreeBuilder::writeFile;

namespace {

// The Finder stand-in: records each script and answers as told, optionally doing part of the
// work first (the Finder moved some items).
class RecordingRunner final : public ScriptRunner
{
public:
    explicit RecordingRunner(Result answer = {}) : result(std::move(answer)) {}
    Result run(const QString& source) override
    {
        sources.append(source);
        if (action) action();
        return result;
    }
    QStringList sources;
    Result result;
    std::function<void()> action;
};

class FakeInstance final : public RunningApplication
{
public:
    explicit FakeInstance(int quitsAfterChecks) : m_quitsAfter(quitsAfterChecks) {}
    pid_t pid() const override { return 4242; }
    bool terminate() override { return ++terminateCalls, true; }
    bool isTerminated() const override { return ++checks, m_quitsAfter >= 0 && checks >= m_quitsAfter; }
    int terminateCalls = 0;
    mutable int checks = 0;

private:
    int m_quitsAfter; ///< -1: never
};

class FakeRegistry final : public RunningApps
{
public:
    QList<RunningApplicationPtr> instances(const QString&, const QString&) override { return list; }
    QList<RunningApplicationPtr> list;
};

InstalledApp bundleApp(const AppLayout& l, const QString& fileName, std::optional<qint64> size)
{
    const QString url = makeBundle(l.apps, fileName, QStringLiteral("com.example.app"));
    InstalledApp app;
    app.url = url;
    app.name = fileName.chopped(4);
    app.bundleID = QStringLiteral("com.example.app");
    app.size = size;
    return app;
}

Leftover leftoverAt(const QString& path, qint64 size)
{
    writeFile(path, 100);
    return Leftover{path, size};
}

// GIO refuses names too long for their .trashinfo companion: a real refusal even for root.
QString longName(const QString& prefix)
{
    return prefix + QString(246 - prefix.size(), u'x');
}

int trashedCount()
{
    return int(FileSystem::children(TestHome::trashPath() + QStringLiteral("/files"))
                   .value_or(QStringList())
                   .size());
}

const QString kOutside = QStringLiteral("nằm ngoài vùng cho phép");
const QString kNoPermission = QStringLiteral("không có quyền");

} // namespace

class TestUninstaller : public QObject
{
    Q_OBJECT
private slots:
    void finderScriptText_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QString>("script");
        const auto row = [](const char* tag, const QStringList& paths, const QString& files) {
            QTest::newRow(tag) << paths << "tell application \"Finder\" to delete {" + files + "}";
        };
        row("two", {"/a", "/b c"}, "POSIX file \"/a\", POSIX file \"/b c\"");
        row("backslash", {"/x/a\\b"}, "POSIX file \"/x/a\\\\b\"");
        row("quote", {"/x/say \"hi\""}, "POSIX file \"/x/say \\\"hi\\\"\"");
        // Backslashes first: the backslash that escapes a quote is not doubled again.
        row("backslash before quote", {"/x/a\\\"b"}, "POSIX file \"/x/a\\\\\\\"b\"");
        row("breaking out", {"/x/\"} & do shell script \"rm -rf ~\" & {\""},
            "POSIX file \"/x/\\\"} & do shell script \\\"rm -rf ~\\\" & {\\\"\"");
        row("line break", {"/x/one\ntwo"}, "POSIX file \"/x/one\ntwo\"");
        row("non-latin", {QString::fromUtf8("/x/Bản sao/日本語.app")},
            QString::fromUtf8("POSIX file \"/x/Bản sao/日本語.app\""));
    }
    void finderScriptText()
    {
        QFETCH(QStringList, paths);
        QFETCH(QString, script);
        QCOMPARE(Uninstaller::finderDeleteScript(paths), script);
    }

    void everythingMovesToTheTrash()
    {
        const AppLayout l = freshAppLayout(QStringLiteral("u"));
        const InstalledApp app = bundleApp(l, "Example.app", 12345);
        const QList<Leftover> leftovers{
            leftoverAt(l.library + "/Caches/com.example.app", 700),
            leftoverAt(l.library + "/Preferences/com.example.app.plist", 11)};
        RecordingRunner runner;
        const int before = trashedCount();

        const CleanReport report = Uninstaller::uninstall(app, leftovers, runner, l.folders);
        QCOMPARE(report.failures, QStringList());
        // Sizes come from the records, not from the disk.
        QCOMPARE(report.freed, 12345 + 700 + 11);
        QVERIFY(runner.sources.isEmpty());
        QVERIFY(!FileSystem::exists(app.url));
        for (const Leftover& leftover : leftovers)
            QVERIFY(!FileSystem::exists(leftover.url));
        QCOMPARE(trashedCount(), before + 3);
    }

    void targetsOutsideTheAllowListStay()
    {
        const AppLayout l = freshAppLayout(QStringLiteral("u"));
        InstalledApp app = bundleApp(l, "Example.app", 100);
        app.isProtected = true;
        const QList<Leftover> leftovers{leftoverAt(l.root + "/Documents/com.example.app", 1),
                                        leftoverAt(l.library + "/Caches/com.example.app", 2),
                                        leftoverAt(l.library + "/Caches/com.example.app2/sub", 4),
                                        leftoverAt(l.library + "/Caches/../../escape", 8)};
        RecordingRunner runner;

        const CleanReport report = Uninstaller::uninstall(app, leftovers, runner, l.folders);
        QCOMPARE(report.failures,
                 (QStringList{"Example.app: " + kOutside, "com.example.app: " + kOutside,
                              "sub: " + kOutside, "escape: " + kOutside}));
        QCOMPARE(report.freed, 2);
        QVERIFY(FileSystem::exists(app.url));
        QVERIFY(FileSystem::exists(l.root + "/Documents/com.example.app"));
        QVERIFY(FileSystem::exists(l.library + "/Caches/com.example.app2/sub"));
        QVERIFY(FileSystem::exists(l.root + "/escape"));
        QVERIFY(!FileSystem::exists(l.library + "/Caches/com.example.app"));
        QVERIFY(runner.sources.isEmpty());
    }

    void refusedMovesGoToTheFinder_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("finder fails with a message") << 0;
        QTest::newRow("finder fails silently") << 1;
        QTest::newRow("finder moves everything") << 2;
        QTest::newRow("finder moves the first only") << 3;
    }
    void refusedMovesGoToTheFinder()
    {
        QFETCH(int, mode);
        const AppLayout l = freshAppLayout(QStringLiteral("u"));
        const InstalledApp app = bundleApp(l, "Example.app", 1000);
        const QString quoted = l.library + "/Caches/" + longName("com.example.app.\"q\"\\b.");
        const QString plain = l.library + "/Logs/" + longName("com.example.app.");
        const QList<Leftover> leftovers{
            leftoverAt(quoted, 20), leftoverAt(l.root + "/elsewhere", 40),
            leftoverAt(l.library + "/Caches/com.example.app", 10), leftoverAt(plain, 30)};
        RecordingRunner runner(
            mode == 0 ? ScriptRunner::Result{false, QStringLiteral("Finder không cho phép (-1743)")}
                      : ScriptRunner::Result{mode == 3, std::nullopt});
        if (mode == 2) runner.action = [&] { QFile::remove(quoted), QFile::remove(plain); };
        if (mode == 3) runner.action = [&] { QFile::remove(quoted); };

        const CleanReport report = Uninstaller::uninstall(app, leftovers, runner, l.folders);
        // One script for every refused move, in target order.
        QCOMPARE(runner.sources, QStringList{Uninstaller::finderDeleteScript({quoted, plain})});
        QVERIFY(runner.sources[0].contains("com.example.app.\\\"q\\\"\\\\b."));
        const QString reason =
            mode == 0 ? QStringLiteral("Finder không cho phép (-1743)") : kNoPermission;
        const QString outside = "elsewhere: " + kOutside;
        switch (mode) {
        case 0:
        case 1:
            QCOMPARE(report.failures,
                     (QStringList{outside, FileSystem::lastComponent(quoted) + ": " + reason,
                                  FileSystem::lastComponent(plain) + ": " + reason}));
            QCOMPARE(report.freed, 1000 + 10);
            QVERIFY(FileSystem::exists(quoted) && FileSystem::exists(plain));
            break;
        case 2:
            QCOMPARE(report.failures, QStringList{outside});
            QCOMPARE(report.freed, 1000 + 10 + 20 + 30);
            break;
        case 3:
            QCOMPARE(report.failures, (QStringList{outside, FileSystem::lastComponent(plain) +
                                                                ": " + kNoPermission}));
            QCOMPARE(report.freed, 1000 + 10 + 20);
            break;
        }
    }

    void withoutOsascriptTheFinderRunFailsSilently()
    {
        const AppLayout l = freshAppLayout(QStringLiteral("u"));
        const InstalledApp app = bundleApp(l, "Example.app", 1000);
        const QString stuck = l.library + "/Caches/" + longName("com.example.app.");
        const CleanReport report =
            Uninstaller::uninstall(app, {leftoverAt(stuck, 5)}, defaultScriptRunner(), l.folders);
        QCOMPARE(report.failures,
                 QStringList{FileSystem::lastComponent(stuck) + ": " + kNoPermission});
        QCOMPARE(report.freed, 1000);
        QVERIFY(FileSystem::exists(stuck));
    }

    void itemThatVanishedCountsAsFreed()
    {
        const AppLayout l = freshAppLayout(QStringLiteral("u"));
        // An unmeasured bundle counts nothing.
        const InstalledApp app = bundleApp(l, "Example.app", std::nullopt);
        const Leftover gone{l.library + "/Caches/com.example.app", 64};
        RecordingRunner runner;
        const CleanReport report = Uninstaller::uninstall(app, {gone}, runner, l.folders);
        QCOMPARE(report, (CleanReport{64, {}}));
        QVERIFY(!FileSystem::exists(app.url));
        QCOMPARE(runner.sources.size(), 1);
    }

    // A name that is not UTF-8 cannot be spelled in the script without becoming another name.
    void undecodableNameStaysOutOfTheScript()
    {
        const AppLayout l = freshAppLayout(QStringLiteral("u"));
        const InstalledApp app = bundleApp(l, "Example.app", 1);
        const QByteArray raw =
            PathCodec::encode(l.library + "/Caches/com.example.app.") + QByteArray(236, '\xFF');
        QVERIFY(makeDir(l.library + "/Caches"));
        QVERIFY(TreeBuilder::writeFileRaw(raw, 10));
        const QString odd = PathCodec::decode(raw);
        const QString stuck = l.library + "/Caches/" + longName("com.example.app.");
        RecordingRunner runner(ScriptRunner::Result{false, QStringLiteral("lỗi")});

        const CleanReport report = Uninstaller::uninstall(
            app, {Leftover{odd, 3}, leftoverAt(stuck, 5)}, runner, l.folders);
        QCOMPARE(runner.sources, QStringList{Uninstaller::finderDeleteScript({stuck})});
        QCOMPARE(report.failures, (QStringList{FileSystem::lastComponent(odd) + ": lỗi",
                                               FileSystem::lastComponent(stuck) + ": lỗi"}));
        QVERIFY(FileSystem::exists(odd));
        // QTemporaryDir cannot remove a name that is not UTF-8.
        QCOMPARE(::unlink(raw.constData()), 0);
    }

    void quitWithNothingRunning()
    {
        InstalledApp app;
        app.url = TestHome::path() + "/Nothing.app";
        QVERIFY(QCoro::waitFor(Uninstaller::quitIfRunning(app)));
    }

    void quitChecksTwentyTimes_data()
    {
        QTest::addColumn<QList<int>>("quitAfter");
        QTest::addColumn<bool>("quit");
        QTest::addColumn<QList<int>>("checks");
        QTest::newRow("never") << QList<int>{-1} << false << QList<int>{20};
        QTest::newRow("at the third check") << QList<int>{3} << true << QList<int>{3};
        QTest::newRow("at the last check") << QList<int>{20} << true << QList<int>{20};
        QTest::newRow("one of two stays") << QList<int>{1, -1} << false << QList<int>{20, 20};
        QTest::newRow("both quit") << QList<int>{1, 4} << true << QList<int>{4, 4};
    }
    void quitChecksTwentyTimes()
    {
        QFETCH(QList<int>, quitAfter);
        QFETCH(bool, quit);
        QFETCH(QList<int>, checks);
        FakeRegistry registry;
        QList<std::shared_ptr<FakeInstance>> fakes;
        for (int after : quitAfter) {
            fakes.append(std::make_shared<FakeInstance>(after));
            registry.list.append(fakes.last());
        }
        const bool result = QCoro::waitFor(
            Uninstaller::quitIfRunning(InstalledApp{}, &registry, std::chrono::milliseconds(1)));
        QCOMPARE(result, quit);
        for (qsizetype k = 0; k < fakes.size(); ++k) {
            QCOMPARE(fakes[k]->terminateCalls, 1);
            // all_of stops at the first instance still running, so later ones may be asked less.
            QVERIFY(fakes[k]->checks <= checks[k]);
        }
        QCOMPARE(fakes[0]->checks, checks[0]);
    }

    // The one test that waits the full five seconds: real processes, real signals.
    void realInstancesAreAskedNeverForced()
    {
        const AppLayout l = freshAppLayout(QStringLiteral("u"));
        BundleShape shape;
        shape.identifier = QStringLiteral("com.example.stubborn");
        shape.withExecutable = true;
        InstalledApp app;
        app.url = makeBundle(l.apps, "Stubborn.app", shape);
        app.bundleID = shape.identifier;
        const QString executable = app.url + "/Contents/MacOS/main";
        auto quitter = startProcess(executable, false);
        QVERIFY(quitter);
        QVERIFY(QCoro::waitFor(Uninstaller::quitIfRunning(app)));
        QTRY_COMPARE_WITH_TIMEOUT(quitter->state(), QProcess::NotRunning, 5000);

        quitter = startProcess(executable, false);
        auto stubborn = startProcess(executable, true);
        QVERIFY(quitter && stubborn);
        QVERIFY(!QCoro::waitFor(Uninstaller::quitIfRunning(app)));
        QTRY_COMPARE_WITH_TIMEOUT(quitter->state(), QProcess::NotRunning, 5000);
        QCOMPARE(stubborn->state(), QProcess::Running);
        stubborn->kill();
        QVERIFY(stubborn->waitForFinished(5000));
    }
};

SORVI_TEST_MAIN(TestUninstaller)
#include "tst_uninstaller.moc"
