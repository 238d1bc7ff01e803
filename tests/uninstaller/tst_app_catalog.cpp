#include "platform/desktop.h"
#include "support/bundle_fixture.h"
#include "uninstaller/app_catalog.h"

#include <sched.h>
#include <sys/mount.h>

using namespace BundleFixture;
using TreeBuilder::makeLink;
using TreeBuilder::writeFile;

class TestAppCatalog : public QObject
{
    Q_OBJECT
private slots:
    // Bundles at the top of each folder and one level down, sorted by name (case-insensitive,
    // stable); a real location outside the folders makes an application protected.
    void listsBundlesTwoLevelsDeep()
    {
        AppLayout l = freshAppLayout();
        l.folders.ownIdentifier =
            Desktop::ownInfoDictionary().value("CFBundleIdentifier").toString();
        BundleShape alpha{.identifier = "com.example.alpha", .version = "1.2"};
        BundleShape charlie{
            .identifier = "com.example.charlie", .version = "2.0", .format = Format::Binary};
        QVERIFY(!makeBundle(l.apps, "Alpha.app", alpha).isEmpty());
        QVERIFY(!makeBundle(l.apps + "/Utilities", "beta.app", "com.example.beta").isEmpty());
        QVERIFY(!makeBundle(l.apps + "/Utilities/Deep", "Gamma.app", "com.example.g").isEmpty());
        QVERIFY(!makeBundle(l.apps, "Upper.APP", "com.example.upper").isEmpty());
        QVERIFY(!makeBundle(l.apps, "NoId.app", BundleShape{}).isEmpty());
        QVERIFY(writeBytes(l.apps + "/Broken.app/Contents/Info.plist", "<plist><dict><key>"));
        QVERIFY(!makeBundle(l.apps, "Self.app", *l.folders.ownIdentifier).isEmpty());
        QVERIFY(writeFile(l.apps + "/File.app", 10));
        QVERIFY(!makeBundle(l.apps, "Outer.app", "com.example.outer").isEmpty());
        QVERIFY(!makeBundle(l.apps + "/Outer.app", "Nested.app", "com.example.nested").isEmpty());
        QVERIFY(!makeBundle(l.root + "/outside", "Linked.app", "com.example.linked").isEmpty());
        QVERIFY(makeLink(l.root + "/outside/Linked.app", l.apps + "/Linked.app"));
        QVERIFY(!makeBundle(l.userApps, "alpha.app", "com.example.alpha2").isEmpty());
        QVERIFY(!makeBundle(l.userApps, "Charlie.app", charlie).isEmpty());

        const QList<InstalledApp> apps = AppCatalog::installedApps(l.folders);
        QCOMPARE(names(apps),
                 (QStringList{"Alpha", "alpha", "beta", "Charlie", "Linked", "Outer"}));
        QCOMPARE(apps[1].url, l.userApps + "/alpha.app");
        QCOMPARE(apps[2].url, l.apps + "/Utilities/beta.app");
        QCOMPARE(apps[0].version, QStringLiteral("1.2"));
        QCOMPARE(apps[3].version, QStringLiteral("2.0"));
        for (const InstalledApp& app : apps)
            QCOMPARE(app.isProtected, app.name == u"Linked");

        l.folders.appRoots = {l.root + "/missing", l.root + "/missing-too"};
        QVERIFY(AppCatalog::installedApps(l.folders).isEmpty());
    }

    void readOnlyVolumeIsProtected()
    {
        const AppLayout l = freshAppLayout();
        const QByteArray mountPoint = QFile::encodeName(l.apps + "/ReadOnly");
        QVERIFY(TreeBuilder::makeDir(l.apps + "/ReadOnly"));
        // A multithreaded process cannot enter a private mount namespace: a child does it.
        const pid_t child = fork();
        if (child == 0) {
            ::alarm(30); // the wait below has a deadline
            if (unshare(CLONE_NEWNS) != 0 ||
                mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=1m") != 0)
                _exit(77);
            const QString bundle = makeBundle(l.apps + "/ReadOnly", "Frozen.app", "com.x.frozen");
            if (bundle.isEmpty() || AppCatalog::isProtected(bundle, l.folders)) _exit(3);
            if (mount(nullptr, mountPoint.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) !=
                0)
                _exit(77);
            _exit(AppCatalog::isProtected(bundle, l.folders) ? 0 : 4);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        if (WEXITSTATUS(status) == 77) QSKIP("no private mount namespace here");
        QCOMPARE(WEXITSTATUS(status), 0);
    }

    // By identifier (equal, or followed by "."), by a group prefix in Group Containers, and by
    // a name of at least three user-perceived characters in the three folders that allow it.
    void leftoverMatching_data()
    {
        QTest::addColumn<QString>("entry"); // below the Library
        QTest::addColumn<QString>("appName");
        QTest::addColumn<bool>("matched");
        const auto row = [](const char* tag, const QString& entry, bool matched,
                            const QString& name = "Example") {
            QTest::newRow(tag) << entry << name << matched;
        };
        row("identifier, other case", "Preferences/COM.Example.App.plist", true);
        row("longer identifier", "Preferences/com.example.application.plist", false);
        row("identifier plus s", "HTTPStorages/com.example.apps", false);
        row("by host", "Preferences/ByHost/com.example.app.0A1B.plist", true);
        row("group prefix", "Group Containers/ABCDE12345.com.example.app", true);
        row("group prefix without dot", "Group Containers/Xcom.example.app", false);
        row("prefix outside groups", "Containers/ABCDE12345.com.example.app", false);
        row("name in support", "Application Support/EXAMPLE", true);
        row("name in logs", "Logs/Example", true);
        row("name in preferences", "Preferences/example", false);
        row("name with suffix", "Caches/example.cache", false);
        row("two letters", "Application Support/ab", false, "Ab");
        row("three letters", "Caches/abc", true, "Abc");
        row("two graphemes", "Caches/a\u0301b\u0301", false, "A\u0301B\u0301");
        row("vietnamese name", "Logs/bản", true, "Bản");
    }
    void leftoverMatching()
    {
        QFETCH(QString, entry);
        QFETCH(QString, appName);
        QFETCH(bool, matched);
        const AppLayout l = freshAppLayout();
        const QString item = l.leftover(entry);
        const QList<Leftover> found = AppCatalog::leftovers(
            appRecord(l.apps + u'/' + appName + ".app", "com.example.app"), l.folders);
        const QList<Leftover> expected{{item, TreeBuilder::expectedAllocated(item)}};
        QCOMPARE(found, matched ? expected : QList<Leftover>());
    }

    // Largest first; equal sizes keep the table order; a file where a folder belongs is skipped.
    void leftoversLargestFirst()
    {
        const AppLayout l = freshAppLayout();
        l.leftover("Caches/com.example.app/a", 40960);
        l.leftover("Application Support/com.example.app/big", 200000);
        l.leftover("Logs/com.example.app", 0);
        l.leftover("Preferences/com.example.app.plist", 0);
        l.leftover("Cookies", 10);
        QStringList urls;
        for (const Leftover& leftover :
             AppCatalog::leftovers(appRecord(l.apps + "/X.app", "com.example.app"), l.folders))
            urls.append(leftover.url.mid(l.library.size() + 1));
        QCOMPARE(urls, (QStringList{"Application Support/com.example.app", "Caches/com.example.app",
                                    "Logs/com.example.app", "Preferences/com.example.app.plist"}));
    }

    // The unprotected bundle itself, or a direct child of a leftover folder by standardised
    // path; the folders themselves, anything deeper and anything elsewhere are refused.
    void allowList_data()
    {
        QTest::addColumn<QString>("path"); // below the layout's root
        QTest::addColumn<bool>("isProtected");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("bundle") << "Applications/Example.app" << false << true;
        QTest::newRow("protected bundle") << "Applications/Example.app" << true << false;
        QTest::newRow("bundle spelled otherwise") << "Applications/./Example.app" << false << false;
        QTest::newRow("another bundle") << "Applications/Other.app" << false << false;
        QTest::newRow("child of caches") << "home/Library/Caches/com.x" << false << true;
        QTest::newRow("child of the last folder") << "home/Library/LaunchAgents/x" << false << true;
        QTest::newRow("child of by host") << "home/Library/Preferences/ByHost/x" << false << true;
        QTest::newRow("caches itself") << "home/Library/Caches" << false << false;
        QTest::newRow("deeper") << "home/Library/Caches/com.x/sub" << false << false;
        QTest::newRow("library child") << "home/Library/Keychains" << false << false;
        QTest::newRow("similar folder") << "home/Library/CachesX/com.x" << false << false;
        QTest::newRow("dot dot out") << "home/Library/Caches/../../Documents" << false << false;
        QTest::newRow("dot dot to a sibling") << "home/Library/Caches/../Logs/x" << false << true;
        QTest::newRow("dot dot deeper") << "home/Library/Caches/a/../b/c" << false << false;
        QTest::newRow("home") << "home" << false << false;
    }
    void allowList()
    {
        QFETCH(QString, path);
        QFETCH(bool, isProtected);
        QFETCH(bool, allowed);
        const AppLayout l = freshAppLayout();
        InstalledApp app = appRecord(l.apps + "/Example.app", "com.example.app");
        app.isProtected = isProtected;
        QCOMPARE(AppCatalog::isAllowedTarget(l.root + u'/' + path, app, l.folders), allowed);
    }
};

SORVI_TEST_MAIN(TestAppCatalog)
#include "tst_app_catalog.moc"
