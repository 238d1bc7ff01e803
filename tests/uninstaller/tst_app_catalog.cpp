#include "support/bundle_fixture.h"
#include "support/rows.h"
#include "uninstaller/app_catalog.h"

using namespace BundleFixture;
using TreeBuilder::makeLink;
using TreeBuilder::writeFile;

namespace {

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
    // Vietnamese order whatever the locale (Đ after D, accents after their letter), case-blind
    // and stable; a bundle linked in from a sibling folder named like the root is protected.
    void sortsTheVietnameseWay()
    {
        QLocale::setDefault(QLocale::c());
        const AppLayout l = freshAppLayout();
        const auto make = [](const QString& folder, const char* name) {
            const QString text = QString::fromUtf8(name);
            return !makeBundle(folder, text + ".app", text).isEmpty();
        };
        QVERIFY(make(l.apps, "Alpha") && make(l.apps + "-outside", "Linked"));
        for (const char* name : {"alpha", "Đàn", "Dê", "Ánh"})
            QVERIFY(make(l.userApps, name));
        QVERIFY(makeLink(l.apps + "-outside/Linked.app", l.apps + "/Linked.app"));
        const QList<InstalledApp> apps = AppCatalog::installedApps(l.folders);
        QCOMPARE(names(apps), (QStringList{"Alpha", "alpha", "Ánh", "Dê", "Đàn", "Linked"}));
        QCOMPARE(apps[1].url, l.userApps + "/alpha.app");
        for (const InstalledApp& app : apps)
            QCOMPARE(app.isProtected, app.name == u"Linked");
    }

    // By identifier (equal, or followed by "."), by a name of at least three graphemes where the
    // folder allows names; a folder that holds other things never.
    void leftoverMatching_data()
    {
        // entry below the home; match: id, name or "" (none)
        Rows::add({"entry", "appName", "match"}, // entry below the home; match: id, name or ""
                  {"identifier, other case;.config/COM.Example.App;Example;id",
                   "longer identifier;.config/com.example.application;Example;",
                   "identifier and a dot;.cache/com.example.app.0A1B;Example;id",
                   "group prefix;Library/Group Containers/ABCDE12345.com.example.app;Example;id",
                   "name;.local/state/EXAMPLE;Example;name",
                   "name with suffix;.cache/example.cache;Example;", "two letters;.config/ab;Ab;",
                   "three letters;.cache/abc;Abc;name",
                   "two graphemes;.cache/a\u0301b\u0301;A\u0301B\u0301;",
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
    // leftover folder by standardised path.
    void allowList_data()
    {
        Rows::add({"path", "app", "allowed"}, // path below the layout's root; app: its record
                  {"bundle;Applications/Example.app;;1",
                   "protected bundle;Applications/Example.app;protected;0",
                   "bundle spelled otherwise;Applications/./Example.app;;0",
                   "another bundle;Applications/Other.app;;0",
                   "an appimage;Applications/Example.app;appimage;1",
                   "a flatpak goes through its installer;Applications/Example.app;flatpak;0",
                   "child of caches;home/.cache/com.x;;1", "caches itself;home/.cache;;0",
                   "deeper;home/.cache/com.x/sub;;0", "a library child;home/Library/Caches;;0",
                   "a name that only begins like one;home/.cacheX;;0",
                   "dot dot out;home/.cache/../../Documents;;0",
                   "dot dot to a sibling;home/.cache/../.config/x;;1",
                   "child of autostart;home/.config/autostart/x.desktop;;1",
                   "autostart itself;home/.config/autostart;;0",
                   "the trash;home/.local/share/Trash;;0"});
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
