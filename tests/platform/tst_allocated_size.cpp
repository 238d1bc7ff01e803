#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QMutex>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace TreeBuilder;

class TestAllocatedSize : public QObject
{
    Q_OBJECT

    // A tree with every kind of entry the walk must treat right.
    static void buildMixedTree(const QString& root, const QString& outside)
    {
        QVERIFY(writeFile(outside + "/big", 3 * 1024 * 1024));
        QVERIFY(writeFile(outside + "/dir/inner", 200000));
        QVERIFY(writeFile(root + "/a.bin", 12345));
        QVERIFY(writeFile(root + "/.hidden/cache.db", 4096));
        QVERIFY(writeFile(root + "/sub/deeper/.dot/x", 70000));
        QVERIFY(writeFile(root + "/empty-file", 0));
        QVERIFY(makeDir(root + "/empty-dir"));
        QVERIFY(makeLink(outside + "/big", root + "/link-to-big"));
        QVERIFY(makeLink(outside + "/dir", root + "/sub/link-to-dir"));
        QVERIFY(writeFile(root + "/with space/quote\"s 'and' %41 percent", 5000));
        QVERIFY(writeFile(root + "/line\nbreak/file", 9000));
        QVERIFY(writeFile(root + "/Bộ nhớ/tệp", 8000));
        QVERIFY(writeFileRaw(PathCodec::encode(root) + "/caf\xE9", 20000));
    }

private slots:
    void treeMatchesIndependentSum()
    {
        QTemporaryDir root, outside;
        buildMixedTree(root.path(), outside.path());
        const qint64 expected = expectedAllocated(root.path());
        QVERIFY(expected > 0);
        QCOMPARE(FileSystem::allocatedSize(root.path()), expected);
        QCOMPARE(FileSystem::allocatedSize(root.path() + "/sub"), expectedAllocated(root.path() + "/sub"));
    }

    void singleObjects_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<bool>("countsBlocks");
        QTest::newRow("regular file") << "a.bin" << true;
        QTest::newRow("empty file") << "empty-file" << true;
        QTest::newRow("empty directory") << "empty-dir" << false;
        QTest::newRow("link to large file") << "link-to-big" << false;
        QTest::newRow("missing") << "no-such-thing" << false;
    }
    void singleObjects()
    {
        QFETCH(QString, relative);
        QFETCH(bool, countsBlocks);
        QTemporaryDir root, outside;
        buildMixedTree(root.path(), outside.path());
        const QString path = root.filePath(relative);
        QCOMPARE(FileSystem::allocatedSize(path), countsBlocks ? blocksOf(path) : 0);
    }

    // Deeper than one walker keeps open, and wide enough that helpers take subtrees.
    void deepAndWideTrees()
    {
        QTemporaryDir root;
        QString deep = root.path();
        for (int i = 0; i < 120; ++i) {
            deep += "/d" + QString::number(i);
            QVERIFY(writeFile(deep + "/f", 100 + i));
        }
        for (int i = 0; i < 40; ++i)
            for (int j = 0; j < 20; ++j)
                QVERIFY(writeFile(QStringLiteral("%1/wide%2/s%3/f").arg(root.path()).arg(i).arg(j), 4096 * (j + 1)));
        const qint64 expected = expectedAllocated(root.path());
        for (int round = 0; round < 5; ++round)
            QCOMPARE(FileSystem::allocatedSize(root.path()), expected);
    }

    void unreadableSubfolderIsSkipped()
    {
        if (!canDropPrivileges())
            QSKIP("needs root to drop to an unprivileged user");
        QTemporaryDir root;
        ::chmod(QFile::encodeName(root.path()).constData(), 0755);
        QVERIFY(writeFile(root.path() + "/open/f", 50000));
        QVERIFY(writeFile(root.path() + "/locked/f", 50000));
        ::chmod(QFile::encodeName(root.path() + "/locked").constData(), 0700);
        const qint64 readable = expectedAllocated(root.path() + "/open");
        const QString path = root.path();
        QCOMPARE(runAsNobody([&] { return FileSystem::allocatedSize(path) == readable ? 0 : 1; }), 0);
    }

    void walkFilesReportsLargeVisibleFiles()
    {
        QTemporaryDir root, outside;
        buildMixedTree(root.path(), outside.path());
        QVERIFY(writeFile(root.path() + "/.hidden/huge", 300000));
        QVERIFY(writeFile(root.path() + "/Bộ nhớ/lớn", 300000));
        QMutex mutex;
        QMap<QString, qint64> found;
        FileSystem::walkFiles(root.path(), FileSystem::Hidden::Skip, 9000, [&](const FileSystem::WalkedFile& f) {
            QMutexLocker lock(&mutex);
            found.insert(f.path, f.allocated);
        });
        QStringList expected{root.path() + "/a.bin", root.path() + "/line\nbreak/file",
                             root.path() + "/Bộ nhớ/lớn", PathCodec::decode(PathCodec::encode(root.path()) + "/caf\xE9")};
        for (auto it = expected.begin(); it != expected.end();)
            it = blocksOf(*it) >= 9000 ? it + 1 : expected.erase(it);
        expected.sort();
        QCOMPARE(found.keys(), expected);
        for (auto it = found.cbegin(); it != found.cend(); ++it)
            QCOMPARE(it.value(), blocksOf(it.key()));
    }

    void walkFilesFollowsALinkedRootOnly()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.path() + "/real/f", 40000));
        QVERIFY(writeFile(dir.path() + "/elsewhere/g", 40000));
        QVERIFY(makeLink(dir.path() + "/real", dir.path() + "/root"));
        QVERIFY(makeLink(dir.path() + "/elsewhere", dir.path() + "/real/link"));
        QStringList found;
        QMutex mutex;
        FileSystem::walkFiles(dir.path() + "/root", FileSystem::Hidden::Include, 1, [&](const FileSystem::WalkedFile& f) {
            QMutexLocker lock(&mutex);
            found.append(f.path);
        });
        QCOMPARE(found, QStringList{dir.path() + "/root/f"});
    }
};

SORVI_TEST_MAIN(TestAllocatedSize)
#include "tst_allocated_size.moc"
