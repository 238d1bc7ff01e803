#include "platform/desktop.h"
#include "support/bundle_fixture.h"
#include "support/rows.h"
#include "uninstaller/app_catalog.h"

using namespace BundleFixture;
using TreeBuilder::makeLink;
using TreeBuilder::writeFile;

namespace {

// The layout's Library folders, then the Linux leftover folders of its home.
AppLayout mixedLayout()
{
    AppLayout l = freshAppLayout();
    const ApplicationPlaces places = ApplicationPlaces::inHome(l.root + "/home");
    l.folders.leftoverFolders += places.leftoverFolders();
    l.folders.sharedFolders = places.sharedFolders();
    return l;
}

} // namespace

class TestAppCatalog : public QObject
{
    Q_OBJECT
private slots:
    // Bundles at the top of each folder and one level down (not deeper, not nested, not a file,
    // not unreadable, not without identifier, not the program itself), sorted by name the
    // Vietnamese way whatever the locale (Đ after D, accents after their letter),
    // case-insensitively and stably; a real location outside the folders is protected.
    void listsBundlesTwoLevelsDeep()
    {
        QLocale::setDefault(QLocale::c());
        AppLayout l = freshAppLayout();
        l.folders.ownIdentifier =
            Desktop::ownInfoDictionary().value("CFBundleIdentifier").toString();
        const auto make = [](const QString& path, BundleShape shape) {
            if (shape.identifier.isNull()) shape.identifier = QFileInfo(path).baseName();
            return !makeBundle(QFileInfo(path).path(), QFileInfo(path).fileName(), shape).isEmpty();
        };
        QVERIFY(make(l.apps + "/Alpha.app", {.identifier = "com.example.alpha", .version = "1.2"}));
        QVERIFY(make(l.userApps + "/Charlie.app", {.version = "2.0", .format = Format::Binary}));
        QVERIFY(make(l.apps + "/NoId.app", {.identifier = ""}));
        QVERIFY(make(l.apps + "/Self.app", {.identifier = *l.folders.ownIdentifier}));
        for (const char* path : {"Utilities/beta.app", "Utilities/Deep/Gamma.app", "Upper.APP",
                                 "Outer.app", "Outer.app/Nested.app", "../outside/Linked.app"})
            QVERIFY(make(l.apps + u'/' + path, {}));
        for (const char* name : {"alpha", "Đàn", "Dê", "Ánh"})
            QVERIFY(make(l.userApps + u'/' + QString::fromUtf8(name) + ".app", {}));
        QVERIFY(writeBytes(l.apps + "/Broken.app/Contents/Info.plist", "<plist><dict><key>"));
        QVERIFY(writeFile(l.apps + "/File.app", 10));
        QVERIFY(makeLink(l.root + "/outside/Linked.app", l.apps + "/Linked.app"));

        const QList<InstalledApp> apps = AppCatalog::installedApps(l.folders);
        QCOMPARE(names(apps), (QStringList{"Alpha", "alpha", "Ánh", "beta", "Charlie", "Dê", "Đàn",
                                           "Linked", "Outer"}));
        QCOMPARE(apps[1].url, l.userApps + "/alpha.app");
        QCOMPARE(apps[3].url, l.apps + "/Utilities/beta.app");
        QCOMPARE(apps[0].version + u'|' + apps[4].version, "1.2|2.0");
        for (const InstalledApp& app : apps)
            QCOMPARE(app.isProtected, app.name == u"Linked");
        l.folders.appRoots = {l.root + "/missing", l.root + "/missing-too"};
        QVERIFY(AppCatalog::installedApps(l.folders).isEmpty());
    }

    // By identifier (equal, or followed by "."), by a group prefix in Group Containers, and by
    // a name of at least three user-perceived characters where the folder allows names; a
    // folder that holds other things (a leftover folder, the trash, the Flatpak installation,
    // the icon theme) never. Matched by name alone: offered, not chosen.
    void leftoverMatching_data()
    {
        // entry below the home; match: id, name or "" (none)
        Rows::add({"entry", "appName", "match"},
                  {"identifier, other case;Library/Preferences/COM.Example.App.plist;Example;id",
                   "longer identifier;Library/Preferences/com.example.application.plist;Example;",
                   "by host;Library/Preferences/ByHost/com.example.app.0A1B.plist;Example;id",
                   "group prefix;Library/Group Containers/ABCDE12345.com.example.app;Example;id",
                   "group prefix without dot;Library/Group Containers/Xcom.example.app;Example;",
                   "prefix outside groups;Library/Containers/ABCDE12345.com.example.app;Example;",
                   "name in support;Library/Application Support/EXAMPLE;Example;name",
                   "name with suffix;Library/Caches/example.cache;Example;",
                   "two letters;Library/Application Support/ab;Ab;",
                   "three letters;Library/Caches/abc;Abc;name",
                   "two graphemes;Library/Caches/a\u0301b\u0301;A\u0301B\u0301;",
                   "autostart entry;.config/autostart/com.example.app.desktop;Example;id",
                   "autostart by name;.config/autostart/example;Example;",
                   "desktop entry;.local/share/applications/com.example.app.desktop;Example;id",
                   "a leftover folder;.config/autostart;Autostart;",
                   "the trash;.local/share/Trash;Trash;",
                   "the flatpak installation;.local/share/flatpak;Flatpak;",
                   "the icon theme;.local/share/icons;Icons;"});
    }
    void leftoverMatching()
    {
        QFETCH(QString, entry);
        QFETCH(QString, appName);
        QFETCH(QString, match);
        const AppLayout l = mixedLayout();
        const QString item = l.root + "/home/" + entry;
        QVERIFY(writeFile(item, 5000));
        const QList<Leftover> found = AppCatalog::leftovers(
            appRecord(l.apps + u'/' + appName + ".app", "com.example.app"), l.folders);
        const QList<Leftover> expected{
            {item, TreeBuilder::expectedAllocated(item), match == u"name"}};
        QCOMPARE(found, match.isEmpty() ? QList<Leftover>() : expected);
    }

    // The unprotected application itself when it goes to the Trash, or a direct child of a
    // leftover folder by standardised path; the leftover and shared folders themselves,
    // anything deeper and anything elsewhere are refused.
    void allowList_data()
    {
        // path below the layout's root; app: how Example.app is recorded
        Rows::add(
            {"path", "app", "allowed"},
            {"bundle;Applications/Example.app;;1",
             "protected bundle;Applications/Example.app;protected;0",
             "bundle spelled otherwise;Applications/./Example.app;;0",
             "another bundle;Applications/Other.app;;0",
             "an appimage;Applications/Example.app;appimage;1",
             "a flatpak goes through its installer;Applications/Example.app;flatpak;0",
             "child of caches;home/Library/Caches/com.x;;1", "caches itself;home/Library/Caches;;0",
             "deeper;home/Library/Caches/com.x/sub;;0", "library child;home/Library/Keychains;;0",
             "a name that only begins like one;home/Library/CachesX;;0",
             "dot dot out;home/Library/Caches/../../Documents;;0",
             "dot dot to a sibling;home/Library/Caches/../Logs/x;;1",
             "child of autostart;home/.config/autostart/x.desktop;;1",
             "autostart itself;home/.config/autostart;;0", "the trash;home/.local/share/Trash;;0"});
    }
    void allowList()
    {
        QFETCH(QString, path);
        QFETCH(QString, app);
        QFETCH(QString, allowed);
        const AppLayout l = mixedLayout();
        InstalledApp record = appRecord(l.apps + "/Example.app", "com.example.app");
        record.isProtected = app == u"protected";
        if (app == u"appimage") record.kind = ApplicationKind::AppImage;
        if (app == u"flatpak")
            record.removal = Removal::Transaction, record.kind = ApplicationKind::Flatpak;
        QCOMPARE(AppCatalog::isAllowedTarget(l.root + u'/' + path, record, l.folders),
                 allowed == u"1");
    }
};

SORVI_TEST_MAIN(TestAppCatalog)
#include "tst_app_catalog.moc"
