#include "core/cleaner.h"
#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QFile>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using namespace TreeBuilder;

namespace {

const QString kOutside = QStringLiteral(": nằm ngoài vùng cho phép");

mode_t modeOf(const QString& path)
{
    struct stat st;
    if (::lstat(PathCodec::encode(path).constData(), &st) != 0) return mode_t(-1);
    return st.st_mode & 07777;
}

void setMode(const QString& path, mode_t mode)
{
    ::chmod(PathCodec::encode(path).constData(), mode);
}

QString errorText(int error)
{
    return FileSystem::Outcome::failure(error).error;
}

// A category of the given deletion mode whose only root is `root`.
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
    void allowList_data()
    {
        QTest::addColumn<QString>("category");
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("allowed");
        const QString home = TestHome::path();
        const QString caches = home + "/Library/Caches";
        QTest::newRow("child") << "caches" << caches + "/com.app" << true;
        QTest::newRow("root itself") << "caches" << caches << false;
        QTest::newRow("root with slash") << "caches" << caches + "/" << false;
        QTest::newRow("child then up") << "caches" << caches + "/com.app/.." << false;
        QTest::newRow("sibling with root's name as prefix")
            << "caches" << caches + "Old/x" << false;
        QTest::newRow("dot-dot into another home folder")
            << "caches" << caches + "/../Logs/x" << false;
        QTest::newRow("dot-dot that stays inside") << "caches" << caches + "/a/../b" << true;
        QTest::newRow("single dot inside") << "caches" << caches + "/./com.app" << true;
        QTest::newRow("trailing slash") << "caches" << caches + "/com.app/" << true;
        QTest::newRow("doubled slash") << "caches" << home + "/Library//Caches//com.app" << true;
        QTest::newRow("relative") << "caches"
                                  << "Library/Caches/com.app" << false;
        QTest::newRow("other case") << "caches" << home + "/Library/caches/com.app" << false;
        QTest::newRow("empty") << "caches"
                               << "" << false;
        QTest::newRow("other category's root") << "logs" << caches + "/com.app" << false;
        QTest::newRow("dev fourth root") << "dev" << home + "/.gradle/caches/x" << true;
        QTest::newRow("dev parent of a root") << "dev" << home + "/.gradle/wrapper" << false;
        QTest::newRow("large file deep in Movies") << "large" << home + "/Movies/a/b/c.mov" << true;
        QTest::newRow("large climbing to Library")
            << "large" << home + "/Movies/../Library/x" << false;
    }
    void allowList()
    {
        QFETCH(QString, category);
        QFETCH(QString, url);
        QFETCH(bool, allowed);
        QCOMPARE(Cleaner::isAllowed(url, *Category::find(category)), allowed);
    }

    void mixedListKeepsOrderAndCountsScannedSizes()
    {
        const Category& caches = *Category::find("caches");
        const QString root = caches.roots[0];
        const QString logs = TestHome::path() + "/Library/Logs";
        QVERIFY(writeFile(root + "/first/data", 5000));
        QVERIFY(writeFile(root + "/second", 3000));
        QVERIFY(writeFile(root + "Old/kept", 100));
        QVERIFY(writeFile(logs + "/kept.log", 100));

        // The sizes are the scanned ones, deliberately not what the disk holds now.
        const QList<CleanItem> items{
            {root + "Old/kept", 1},          {root + "/first", 1000},
            {root + "/../Logs/kept.log", 2}, {root, 4},
            {root + "/vanished", 8},         {root + "/./second", 20000},
        };
        const CleanReport report = Cleaner::remove(items, caches);

        QCOMPARE(report.freed, qint64(21000));
        QCOMPARE(report.failures, (QStringList{
                                      "kept" + kOutside,
                                      "kept.log" + kOutside,
                                      "Caches" + kOutside,
                                      "vanished: " + errorText(ENOENT),
                                  }));
        QVERIFY(!FileSystem::exists(root + "/first"));
        QVERIFY(!FileSystem::exists(root + "/second"));
        QVERIFY(FileSystem::exists(root));
        QVERIFY(FileSystem::exists(root + "Old/kept"));
        QVERIFY(FileSystem::exists(logs + "/kept.log"));
    }

    // A link between the root and the item passes the lexical test but is refused at removal;
    // a link that is the item goes itself, not its target; a vanished item becomes a line.
    void linksAndVanishedItems_data()
    {
        QTest::addColumn<bool>("toTrash");
        QTest::newRow("permanent") << false;
        QTest::newRow("trash") << true;
    }
    void linksAndVanishedItems()
    {
        QFETCH(bool, toTrash);
        QTemporaryDir base;
        const QString root = base.path() + "/root";
        const QString outside = base.path() + "/outside";
        QVERIFY(writeFile(outside + "/victim/data", 4096));
        QVERIFY(makeLink(outside, root + "/detour"));
        QVERIFY(makeLink(outside, root + "/link"));
        const Category category =
            categoryAt(root, toTrash ? DeletionMode::trash : DeletionMode::permanent);
        const QString item = root + "/detour/victim";
        QVERIFY(Cleaner::isAllowed(item, category));
        const QStringList trashedBefore = trashInfoFiles();

        const CleanReport report =
            Cleaner::remove({{item, 4096}, {root + "/link", 7}, {root + "/gone", 10}}, category);

        QCOMPARE(report.freed, qint64(7));
        QCOMPARE(report.failures.size(), 2);
        QVERIFY2(report.failures[0].startsWith("victim: ") && report.failures[0].size() > 8,
                 qPrintable(report.failures[0]));
        QVERIFY2(report.failures[1].startsWith("gone: ") && report.failures[1].size() > 6,
                 qPrintable(report.failures[1]));
        QVERIFY(FileSystem::exists(outside + "/victim/data"));
        QVERIFY(!FileSystem::exists(root + "/link"));
        QCOMPARE(trashInfoFiles().size(), trashedBefore.size() + (toTrash ? 1 : 0));
    }

    void trashedItemIsRestorable_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("folder");
        QTest::newRow("file") << "film.mov" << false;
        QTest::newRow("folder") << "Bản sao lưu" << true;
        QTest::newRow("odd name") << "50% off\nPath=/etc" << false;
    }
    void trashedItemIsRestorable()
    {
        QFETCH(QString, name);
        QFETCH(bool, folder);
        const Category& large = *Category::find("large");
        const QString item = large.roots[0] + "/" + name;
        const QString data = folder ? item + "/inside" : item;
        QVERIFY(writeFile(data, 3000));
        const qint64 bytes = blocksOf(data);
        const QStringList before = trashInfoFiles();

        const CleanReport report = Cleaner::remove({{item, 123456}}, large);

        QCOMPARE(report, (CleanReport{123456, {}}));
        QVERIFY(!FileSystem::exists(item));
        QStringList added = trashInfoFiles();
        added.removeIf([&](const QString& info) { return before.contains(info); });
        QCOMPARE(added.size(), 1);
        QFile info(added[0]);
        QVERIFY(info.open(QIODevice::ReadOnly));
        QString original;
        for (const QByteArray& line : info.readAll().split('\n'))
            if (line.startsWith("Path="))
                original = PathCodec::decode(QByteArray::fromPercentEncoding(line.mid(5)));
        QCOMPARE(original, item);

        // Restore it the way a file manager does: move the stored file back to its Path.
        QString stored = FileSystem::lastComponent(added[0]);
        stored.chop(int(qstrlen(".trashinfo")));
        const QString storedPath = TestHome::trashPath() + "/files/" + stored;
        QVERIFY(::rename(PathCodec::encode(storedPath).constData(),
                         PathCodec::encode(original).constData()) == 0);
        QCOMPARE(blocksOf(data), bytes);
        QVERIFY(QFile::remove(added[0]));
    }

    void readOnlyTreeGoesOnTheSecondAttempt()
    {
        if (!canDropPrivileges())
            QSKIP("needs root to drop to an unprivileged user, for whom permissions are real");
        QTemporaryDir base;
        setMode(base.path(), 0777);
        const QString root = base.path() + "/root";
        const QString outside = base.path() + "/outside";
        const Category category = categoryAt(root);
        const int code = runAsNobody([&] {
            // Two identical trees: the first proves that a single removal is refused.
            if (!writeFile(outside + "/ro/file", 100) ||
                !makeLink(outside + "/ro", root + "/item/link"))
                return 11;
            setMode(outside + "/ro", 0555);
            for (const QString& item : {root + "/probe", root + "/item"}) {
                if (!writeFile(item + "/sub/deeper/file", 5000) || !writeFile(item + "/file", 100))
                    return 10;
                setMode(item + "/sub/deeper", 0555);
                setMode(item + "/sub", 0555);
                setMode(item, 0555);
            }
            if (FileSystem::removeItem(root, root + "/probe").ok()) return 12;
            return Cleaner::remove({{root + "/item", 777}}, category) == CleanReport{777, {}} ? 0
                                                                                              : 13;
        });
        QCOMPARE(code, 0);
        QVERIFY(!FileSystem::exists(root + "/item"));
        QCOMPARE(modeOf(outside + "/ro"), mode_t(0555));
        QVERIFY(FileSystem::exists(outside + "/ro/file"));
        // The probe was never handed to the cleaner: its modes are untouched.
        QCOMPARE(modeOf(root + "/probe/sub"), mode_t(0555));
    }

    void foreignFolderBlocksAndKeepsItsMode()
    {
        if (!canDropPrivileges())
            QSKIP("needs root to drop to an unprivileged user and to own a folder as another user");
        QTemporaryDir base;
        setMode(base.path(), 0777);
        const QString root = base.path() + "/root";
        const QString item = root + "/item";
        // Built as root: the item and "own" belong to 65534, "foreign" and "locked" to root.
        QVERIFY(writeFile(item + "/own/file", 100));
        QVERIFY(writeFile(item + "/foreign/file", 100));
        QVERIFY(writeFile(item + "/locked/file", 100));
        for (const QString& path : {root, item, item + "/own", item + "/own/file"})
            QVERIFY(::chown(PathCodec::encode(path).constData(), 65534, 65534) == 0);
        setMode(item + "/own", 0555);
        setMode(item + "/foreign", 0755);
        setMode(item + "/locked", 0555);
        setMode(item, 0555);
        const Category category = categoryAt(root);

        // The second error's text is the one in the line.
        const int code = runAsNobody([&] {
            const CleanReport expected{0, {"item: " + errorText(EACCES)}};
            return Cleaner::remove({{item, 900}}, category) == expected ? 0 : 13;
        });
        QCOMPARE(code, 0);
        QCOMPARE(modeOf(item + "/foreign"), mode_t(0755));
        QCOMPARE(modeOf(item + "/locked"), mode_t(0555));
        QVERIFY(FileSystem::exists(item + "/foreign/file"));
        QVERIFY(FileSystem::exists(item + "/locked/file"));
        // The user's own folders were opened up, and stay so after the failed second attempt.
        QCOMPARE(modeOf(item), mode_t(0755));
        QVERIFY(!FileSystem::exists(item + "/own") || modeOf(item + "/own") == 0755);
    }
};

SORVI_TEST_MAIN(TestCleaner)
#include "tst_cleaner.moc"
