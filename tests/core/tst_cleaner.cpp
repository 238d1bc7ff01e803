#include "core/cleaner.h"
#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "platform/trash.h"
#include "support/rows.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QFile>
#include <cerrno>
#include <unistd.h>

using namespace TreeBuilder;

Q_DECLARE_METATYPE(DeletionMode)

namespace {

const QString kOutside = QStringLiteral(": nằm ngoài vùng cho phép");

QString errorText(int error)
{
    return FileSystem::Outcome::failure(error).error;
}

Category categoryAt(const QString& root, DeletionMode deletion = DeletionMode::permanent)
{
    Category category = *Category::find(QStringLiteral("caches"));
    category.roots = {root};
    category.deletion = deletion;
    return category;
}

QStringList trashInfoFiles()
{
    return FileSystem::children(TestHome::trashPath() + "/info").value_or(QStringList());
}

} // namespace

class TestCleaner : public QObject
{
    Q_OBJECT
private slots:
    // Strictly below a root once "." and ".." are resolved (links kept); "~" is the home.
    void allowList_data()
    {
        Rows::add({"category", "url", "allowed"},
                  {"child;caches;~/.cache/com.app;1", "root with slash;caches;~/.cache/;0",
                   "sibling named like the root;caches;~/.cacheOld/x;0",
                   "up into another folder;caches;~/.cache/../.config/x;0",
                   "up but still inside;caches;~/.cache/a/../b;1",
                   "doubled slash and dot;caches;~//.cache//./x;1",
                   "relative;caches;.cache/com.app;0", "another category's root;logs;~/.cache/x;0",
                   "no roots;ios;~/x;0"});
    }
    void allowList()
    {
        QFETCH(QString, category);
        QFETCH(QString, url);
        QFETCH(QString, allowed);
        url.replace(u'~', TestHome::path());
        QCOMPARE(Cleaner::isAllowed(url, *Category::find(category)), allowed == u"1");
    }

    // Refused items stay, reported in item order; `freed` sums scanned sizes; progress counts all.
    void mixedListKeepsOrderAndCountsScannedSizes()
    {
        const Category& caches = *Category::find("caches");
        const QString root = caches.roots[0];
        QVERIFY(writeFile(root + "/first/data", 5000) && writeFile(root + "/second", 3000) &&
                writeFile(root + "Old/kept", 100));
        const QList<CleanItem> items{{root + "Old/kept", 1},
                                     {root + "/first", 1000},
                                     {root, 4},
                                     {root + "/vanished", 8},
                                     {root + "/./second", 20000}};
        QList<RunProgress> steps;
        const CleanReport report = Cleaner::remove(items, caches, Cleaner::pinRoots(caches),
                                                   [&](RunProgress step) { steps.append(step); });
        QCOMPARE(steps, (QList<RunProgress>{{0, 5}, {1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}}));
        QCOMPARE(report, (CleanReport{21000,
                                      {"kept" + kOutside, ".cache" + kOutside,
                                       "vanished: " + errorText(ENOENT)}}));
        QVERIFY(!FileSystem::exists(root + "/first") && !FileSystem::exists(root + "/second"));
        QVERIFY(FileSystem::exists(root + "Old/kept") && FileSystem::exists(root));
    }

    // A link on the way is refused, a link item goes; a root swapped after pinning is not entered.
    void linksAreNeverFollowed_data()
    {
        QTest::addColumn<DeletionMode>("deletion");
        QTest::newRow("permanent") << DeletionMode::permanent;
        QTest::newRow("trash") << DeletionMode::trash;
    }
    void linksAreNeverFollowed()
    {
        QFETCH(DeletionMode, deletion);
        QTemporaryDir base;
        const QString root = base.path() + "/root", outside = base.path() + "/outside";
        QVERIFY(writeFile(outside + "/victim/data", 4096));
        QVERIFY(makeLink(outside, root + "/detour") && makeLink(outside, root + "/link"));
        const qsizetype trashed = trashInfoFiles().size();
        const Category category = categoryAt(root, deletion);
        const RootPins pins = Cleaner::pinRoots(category);
        const CleanReport report =
            Cleaner::remove({{root + "/detour/victim", 4096}, {root + "/link", 7}}, category, pins);
        QCOMPARE(report.freed, 7);
        QVERIFY2(report.failures.size() == 1 && report.failures[0].startsWith("victim: "),
                 qPrintable(report.failures.join(u'|')));
        QVERIFY(FileSystem::exists(outside + "/victim/data") &&
                !FileSystem::exists(root + "/link"));
        QCOMPARE(trashInfoFiles().size(), trashed + (deletion == DeletionMode::trash ? 1 : 0));

        QVERIFY(setPermissions(outside + "/victim", 0555));
        QVERIFY(::rename(PathCodec::encode(root).constData(),
                         PathCodec::encode(root + ".away").constData()) == 0);
        QVERIFY(makeLink(outside, root));
        QCOMPARE(Cleaner::remove({{root + "/victim", 5}}, category, pins),
                 (CleanReport{0, {"victim: " + errorText(ESTALE)}}));
        QVERIFY(FileSystem::exists(outside + "/victim/data"));
        QCOMPARE(permissionsOf(outside + "/victim"), mode_t(0555)); // not entered to chmod
        QCOMPARE(Cleaner::remove({{root + "/victim", 5}}, category, Cleaner::pinRoots(category)),
                 (CleanReport{5, {}}));
        QVERIFY(!FileSystem::exists(outside + "/victim"));
    }

    // An item of the trash takes its record and directorysizes line along, and nothing else.
    void trashItemsGoWithTheirRecords()
    {
        const QString trash = TestHome::trashPath(), downloads = TestHome::path() + "/Downloads";
        QVERIFY(!FileSystem::exists(trash) || FileSystem::removeItem(TestHome::path(), trash).ok());
        for (const QString name : {"gone", "kept", "100% gone"}) {
            QVERIFY(writeFile(downloads + '/' + name + '/' + name, 4096));
            QVERIFY(FileSystem::moveToTrash(downloads, downloads + '/' + name).ok());
        }
        QFile sizes(trash + "/directorysizes");
        QVERIFY(putFile(sizes.fileName(), "4096 1 gone\n4096 1 kept\n4096 1 100%25%20gone\n"));
        const Category& category = *Category::find("trash");
        const QString files = category.roots[0];
        // Something inside a trashed folder has no record of its own, even when named like one.
        QCOMPARE(Cleaner::remove(
                     {{files + "/gone", 1}, {files + "/100% gone", 2}, {files + "/kept/kept", 4}},
                     category, Cleaner::pinRoots(category)),
                 (CleanReport{7, {}}));
        QCOMPARE(FileSystem::children(files), QStringList{files + "/kept"});
        QCOMPARE(trashInfoFiles(), QStringList{trash + "/info/kept.trashinfo"});
        QVERIFY(sizes.open(QIODevice::ReadOnly));
        QCOMPARE(sizes.readAll(), "4096 1 kept\n");
    }

    // Owner access for a read-only tree (Go's modules), never through a link or to a foreign one.
    void secondAttempt()
    {
        if (!canDropPrivileges()) QSKIP("needs root to own a folder as another user");
        QTemporaryDir base;
        const QString root = base.path() + "/root", outside = base.path() + "/outside";
        QVERIFY(writeFile(root + "/blocked/foreign/file", 100)); // root keeps "foreign"
        for (const QString& path : {base.path(), root, root + "/blocked"})
            QVERIFY(::chown(PathCodec::encode(path).constData(), 65534, 65534) == 0);
        QVERIFY(setPermissions(root + "/blocked/foreign", 0555));
        const int code = runAsNobody([&] {
            const QString module = root + "/golang.org/x/text@v0.14.0";
            if (!writeFile(outside + "/ro/file", 100) ||
                !makeLink(outside + "/ro", module + "/link") ||
                !writeFile(module + "/unicode/go.mod", 5000))
                return 10;
            setPermissions(module + "/unicode/go.mod", 0444);
            for (const QString& dir :
                 {outside + "/ro", module + "/unicode", module, root + "/golang.org/x",
                  root + "/golang.org", root + "/blocked"})
                setPermissions(dir, 0555);
            const Category category = categoryAt(root);
            const CleanReport report =
                Cleaner::remove({{root + "/golang.org", 777}, {root + "/blocked", 900}}, category,
                                Cleaner::pinRoots(category));
            return report == CleanReport{777, {"blocked: " + errorText(EACCES)}} ? 0 : 11;
        });
        QCOMPARE(code, 0);
        QVERIFY(!FileSystem::exists(root + "/golang.org"));
        QCOMPARE(
            (QList<mode_t>{permissionsOf(outside + "/ro"), permissionsOf(root + "/blocked/foreign"),
                           permissionsOf(root + "/blocked")}),
            (QList<mode_t>{0555, 0555, 0755}));
    }
};

SORVI_TEST_MAIN(TestCleaner)
#include "tst_cleaner.moc"
