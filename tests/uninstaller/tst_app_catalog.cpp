#include "platform/desktop.h"
#include "platform/file_system.h"
#include "support/test_home.h"
#include "support/tree_builder.h"
#include "uninstaller/app_catalog.h"
#include "uninstaller/bundle_fixture.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace BundleFixture;
using TreeBuilder::makeDir;
using TreeBuilder::makeLink;
using TreeBuilder::writeFile;

namespace {

int g_counter = 0;

// A fresh home-like layout per test: two application folders and a Library.
struct Layout
{
    QString root;
    QString apps1;
    QString apps2;
    AppCatalog::Folders folders;
};

Layout freshLayout()
{
    Layout layout;
    layout.root = TestHome::path() + QStringLiteral("/case-%1").arg(++g_counter);
    layout.apps1 = layout.root + QStringLiteral("/Applications");
    layout.apps2 = layout.root + QStringLiteral("/home/Applications");
    makeDir(layout.apps1);
    makeDir(layout.apps2);
    layout.folders.appRoots = {layout.apps1, layout.apps2};
    layout.folders.library = layout.root + QStringLiteral("/home/Library");
    layout.folders.ownIdentifier =
        Desktop::ownInfoDictionary().value(QStringLiteral("CFBundleIdentifier")).toString();
    return layout;
}

InstalledApp appRecord(const QString& url, const QString& name, const QString& bundleID)
{
    InstalledApp app;
    app.url = url;
    app.name = name;
    app.bundleID = bundleID;
    return app;
}

BundleShape shape(const QString& identifier, const QString& version, Format format = Format::Xml)
{
    BundleShape shape;
    shape.identifier = identifier;
    shape.version = version;
    shape.format = format;
    return shape;
}

} // namespace

class TestAppCatalog : public QObject
{
    Q_OBJECT
private slots:
    void listsBundlesTwoLevelsDeep()
    {
        const Layout l = freshLayout();
        QVERIFY(!makeBundle(l.apps1, "Alpha.app", shape("com.example.alpha", "1.2"))
                     .isEmpty());
        QVERIFY(!makeBundle(l.apps1 + "/Utilities", "beta.app", "com.example.beta").isEmpty());
        QVERIFY(
            !makeBundle(l.apps1 + "/Utilities/Deep", "Gamma.app", "com.example.gamma").isEmpty());
        QVERIFY(!makeBundle(l.apps1, "Upper.APP", "com.example.upper").isEmpty());
        QVERIFY(!makeBundle(l.apps1, "NoId.app", BundleShape{}).isEmpty());
        QVERIFY(writeBytes(l.apps1 + "/Broken.app/Contents/Info.plist", "<plist><dict><key>"));
        QVERIFY(!makeBundle(l.apps1, "Self.app", *l.folders.ownIdentifier).isEmpty());
        QVERIFY(writeFile(l.apps1 + "/File.app", 10));
        QVERIFY(!makeBundle(l.apps1, "Outer.app", "com.example.outer").isEmpty());
        QVERIFY(!makeBundle(l.apps1 + "/Outer.app", "Nested.app", "com.example.nested").isEmpty());
        const QString outside = l.root + "/outside";
        QVERIFY(!makeBundle(outside, "Linked.app", "com.example.linked").isEmpty());
        QVERIFY(makeLink(outside + "/Linked.app", l.apps1 + "/Linked.app"));
        QVERIFY(!makeBundle(outside + "/dir", "Inside.app", "com.example.inside").isEmpty());
        QVERIFY(makeLink(outside + "/dir", l.apps1 + "/LinkedDir"));
        QVERIFY(!makeBundle(l.apps2, "alpha.app", "com.example.alpha2").isEmpty());
        QVERIFY(!makeBundle(l.apps2, "Charlie.app",
                            shape("com.example.charlie", "2.0", Format::Binary))
                     .isEmpty());

        const QList<InstalledApp> apps = AppCatalog::installedApps(l.folders);
        // Case-insensitive order; "Alpha" and "alpha" compare equal and keep folder order.
        QCOMPARE(names(apps), (QStringList{"Alpha", "alpha", "beta", "Charlie", "Linked", "Outer"}));
        QCOMPARE(apps[1].url, l.apps2 + "/alpha.app");
        QCOMPARE(apps[2].url, l.apps1 + "/Utilities/beta.app");
        QCOMPARE(apps[0].version, QStringLiteral("1.2"));
        QCOMPARE(apps[3].version, QStringLiteral("2.0"));
        QCOMPARE(apps[3].bundleID, QStringLiteral("com.example.charlie"));
        for (const InstalledApp& app : apps)
            QCOMPARE(app.isProtected, app.name == u"Linked");
    }

    void unreadableFoldersGiveAnEmptyList()
    {
        AppCatalog::Folders folders;
        folders.appRoots = {TestHome::path() + "/missing-1", TestHome::path() + "/missing-2"};
        folders.library = TestHome::path() + "/missing-library";
        QVERIFY(AppCatalog::installedApps(folders).isEmpty());
        const InstalledApp app = appRecord(TestHome::path() + "/X.app", "Xylo", "com.example.x");
        QVERIFY(AppCatalog::leftovers(app, folders).isEmpty());
    }

    void readOnlyVolumeIsProtected()
    {
        const Layout l = freshLayout();
        const QString mountPoint = l.apps1 + "/ReadOnly";
        QVERIFY(makeDir(mountPoint));
        // Mounting needs a private mount namespace, which a multithreaded process cannot enter:
        // the mount and the test run in a forked child.
        const pid_t child = fork();
        if (child == 0) {
            if (unshare(CLONE_NEWNS) != 0 ||
                mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("tmpfs", mountPoint.toUtf8().constData(), "tmpfs", 0, "size=1m") != 0)
                _exit(77);
            if (makeBundle(mountPoint, "Frozen.app", "com.example.frozen").isEmpty()) _exit(3);
            if (AppCatalog::isProtected(mountPoint + "/Frozen.app", l.folders)) _exit(4);
            if (mount(nullptr, mountPoint.toUtf8().constData(), nullptr, MS_REMOUNT | MS_RDONLY,
                      nullptr) != 0)
                _exit(77);
            _exit(AppCatalog::isProtected(mountPoint + "/Frozen.app", l.folders) ? 0 : 5);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        if (WEXITSTATUS(status) == 77) QSKIP("no private mount namespace here");
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    void leftoverMatching_data()
    {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("appName");
        QTest::addColumn<QString>("bundleID");
        QTest::addColumn<bool>("matched");
        const auto row = [](const char* tag, const char* dir, const QString& entry, bool matched,
                            const QString& name = QStringLiteral("Example"),
                            const QString& id = QStringLiteral("com.example.app")) {
            QTest::newRow(tag) << QString::fromUtf8(dir) << entry << name << id << matched;
        };
        row("identifier, other case", "Preferences", "COM.Example.App.plist", true);
        row("longer identifier", "Preferences", "com.example.application.plist", false);
        row("identifier plus s", "HTTPStorages", "com.example.apps", false);
        row("by host", "Preferences/ByHost", "com.example.app.0A1B.plist", true);
        row("group suffix", "Group Containers", "ABCDE12345.com.example.app", true);
        row("group suffix without dot", "Group Containers", "Xcom.example.app", false);
        row("suffix outside groups", "Containers", "ABCDE12345.com.example.app", false);
        row("name in support", "Application Support", "EXAMPLE", true);
        row("name in logs", "Logs", "Example", true);
        row("name in preferences", "Preferences", "example", false);
        row("name with suffix", "Caches", "example.cache", false);
        row("two letters by name", "Application Support", "ab", false, "Ab", "com.example.ab");
        row("two letters by id", "Application Support", "com.example.ab", true, "Ab",
            "com.example.ab");
        row("three letters by name", "Caches", "abc", true, "Abc", "com.example.abc");
        // Four code points, two user-perceived characters.
        row("two graphemes", "Caches", QString::fromUtf8("a\u0301b\u0301"), false,
            QString::fromUtf8("A\u0301B\u0301"), "com.example.ab");
        row("vietnamese name", "Logs", QString::fromUtf8("bản"), true, QString::fromUtf8("Bản"),
            "com.example.ban");
    }
    void leftoverMatching()
    {
        QFETCH(QString, dir);
        QFETCH(QString, entry);
        QFETCH(QString, appName);
        QFETCH(QString, bundleID);
        QFETCH(bool, matched);
        const Layout l = freshLayout();
        const QString item = l.folders.library + u'/' + dir + u'/' + entry;
        QVERIFY(writeFile(item, 5000));
        const InstalledApp app = appRecord(l.apps1 + u'/' + appName + ".app", appName, bundleID);

        const QList<Leftover> found = AppCatalog::leftovers(app, l.folders);
        if (!matched) {
            QVERIFY(found.isEmpty());
            return;
        }
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0].url, item);
        QCOMPARE(found[0].size, TreeBuilder::expectedAllocated(item));
    }

    void leftoversLargestFirstFromEveryFolder()
    {
        const Layout l = freshLayout();
        const QString lib = l.folders.library;
        QVERIFY(writeFile(lib + "/Caches/com.example.app/a", 4096));
        QVERIFY(writeFile(lib + "/Caches/com.example.app/b", 40960));
        QVERIFY(writeFile(lib + "/Application Support/com.example.app/big", 200000));
        QVERIFY(writeFile(lib + "/Logs/com.example.app", 0));
        QVERIFY(writeFile(lib + "/Preferences/com.example.app.plist", 0));
        QVERIFY(writeFile(lib + "/Preferences/unrelated.plist", 100000));
        QVERIFY(writeFile(lib + "/Cookies", 10)); // a file where a folder belongs: nothing
        const InstalledApp app = appRecord(l.apps1 + "/Example.app", "Example", "com.example.app");

        const QList<Leftover> found = AppCatalog::leftovers(app, l.folders);
        QCOMPARE(found.size(), 4);
        QCOMPARE(found[0].url, lib + "/Application Support/com.example.app");
        QCOMPARE(found[1].url, lib + "/Caches/com.example.app");
        QCOMPARE(found[1].size, TreeBuilder::expectedAllocated(lib + "/Caches/com.example.app"));
        // Equal sizes keep the table order: Logs before Preferences.
        QCOMPARE(found[2].url, lib + "/Logs/com.example.app");
        QCOMPARE(found[3].url, lib + "/Preferences/com.example.app.plist");
        QCOMPARE(found[2].size, 0);
    }

    void allowList_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("child of caches") << "Library/Caches/com.example.app" << true;
        QTest::newRow("every folder allows children") << "Library/LaunchAgents/x.plist" << true;
        QTest::newRow("by host child") << "Library/Preferences/ByHost/x.plist" << true;
        QTest::newRow("caches itself") << "Library/Caches" << false;
        QTest::newRow("by host itself") << "Library/Preferences/ByHost" << false;
        QTest::newRow("deeper") << "Library/Caches/com.example.app/sub" << false;
        QTest::newRow("library child") << "Library/Keychains" << false;
        QTest::newRow("similar folder") << "Library/CachesX/com.example.app" << false;
        QTest::newRow("dot dot out") << "Library/Caches/../../Documents" << false;
        QTest::newRow("dot dot to sibling child") << "Library/Caches/../Logs/x" << true;
        QTest::newRow("dot dot deeper") << "Library/Caches/a/../b/c" << false;
        QTest::newRow("dot component") << "Library/Caches/./x" << true;
        QTest::newRow("home") << "" << false;
    }
    void allowList()
    {
        QFETCH(QString, relative);
        QFETCH(bool, allowed);
        const Layout l = freshLayout();
        const QString home = QFileInfo(l.folders.library).path();
        const InstalledApp app = appRecord(l.apps1 + "/Example.app", "Example", "com.example.app");
        QCOMPARE(AppCatalog::isAllowedTarget(home + u'/' + relative, app, l.folders), allowed);
    }

    void allowListForTheBundle()
    {
        const Layout l = freshLayout();
        InstalledApp app = appRecord(l.apps1 + "/Example.app", "Example", "com.example.app");
        QVERIFY(AppCatalog::isAllowedTarget(app.url, app, l.folders));
        // Only the exact location allows the bundle; another spelling is judged as a leftover.
        QVERIFY(!AppCatalog::isAllowedTarget(l.apps1 + "/./Example.app", app, l.folders));
        QVERIFY(!AppCatalog::isAllowedTarget(l.apps1 + "/Other.app", app, l.folders));
        app.isProtected = true;
        QVERIFY(!AppCatalog::isAllowedTarget(app.url, app, l.folders));
        InstalledApp noExtension = appRecord(l.apps1 + "/Example", "Example", "com.example.app");
        QVERIFY(!AppCatalog::isAllowedTarget(noExtension.url, noExtension, l.folders));
    }
};

SORVI_TEST_MAIN(TestAppCatalog)
#include "tst_app_catalog.moc"
