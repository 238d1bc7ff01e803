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

    QTemporaryDir m_root, m_outside;

    QString at(const QString& relative) const { return m_root.filePath(relative); }

private slots:
    // One tree with every kind of entry the walk must treat right, wide enough that helpers take
    // subtrees.
    void initTestCase()
    {
        const QString outside = m_outside.path();
        QVERIFY(writeFile(outside + "/big", qint64{3} * 1024 * 1024));
        QVERIFY(writeFile(outside + "/dir/inner", 200000));
        QVERIFY(writeFile(at("a.bin"), 12345));
        QVERIFY(writeFile(at(".hidden/cache.db"), 4096));
        QVERIFY(writeFile(at("sub/deeper/.dot/x"), 70000));
        QVERIFY(writeFile(at("empty-file"), 0));
        QVERIFY(makeDir(at("empty-dir")));
        QVERIFY(makeLink(outside + "/big", at("link-to-big")));
        QVERIFY(makeLink(outside + "/dir", at("sub/link-to-dir")));
        QVERIFY(writeFile(at("with space/quote\"s 'and' %41 percent"), 5000));
        QVERIFY(writeFile(at("line\nbreak/file"), 9000));
        QVERIFY(writeFile(at("Bộ nhớ/tệp"), 8000));
        QVERIFY(writeFile(at("Bộ nhớ/lớn"), 300000));
        QVERIFY(writeFileRaw(PathCodec::encode(m_root.path()) + "/caf\xE9", 20000));
        for (int i = 0; i < 40; ++i)
            for (int j = 0; j < 20; ++j)
                QVERIFY(writeFile(at(QStringLiteral("wide/%1/s%2/f").arg(i).arg(j)),
                                  qint64{4096} * (j + 1)));
    }

    // QTemporaryDir cannot remove a name that is not UTF-8.
    void cleanupTestCase()
    {
        QVERIFY(FileSystem::removeItem(m_root.path(), at(PathCodec::decode("caf\xE9"))).ok());
    }

    // Against an independent measure: nftw's regular files, links not followed.
    void matchesIndependentSum_data()
    {
        QTest::addColumn<QString>("relative");
        for (const char* relative : {"", "sub", "wide", "a.bin", "empty-file", "empty-dir",
                                     "link-to-big", "no-such-thing"})
            QTest::newRow(*relative ? relative : "whole tree") << QString(relative);
    }
    void matchesIndependentSum()
    {
        QFETCH(QString, relative);
        const QString path = at(relative);
        for (int round = 0; round < 3; ++round)
            QCOMPARE(FileSystem::allocatedSize(path), expectedAllocated(path));
    }

    void unreadableSubfolderIsSkipped()
    {
        if (!canDropPrivileges()) QSKIP("needs root to drop to an unprivileged user");
        QTemporaryDir root;
        ::chmod(QFile::encodeName(root.path()).constData(), 0755);
        QVERIFY(writeFile(root.path() + "/open/f", 50000));
        QVERIFY(writeFile(root.path() + "/locked/f", 50000));
        ::chmod(QFile::encodeName(root.path() + "/locked").constData(), 0700);
        const qint64 readable = expectedAllocated(root.path() + "/open");
        const QString path = root.path();
        QCOMPARE(runAsNobody([&] { return FileSystem::allocatedSize(path) == readable ? 0 : 1; }),
                 0);
    }

    // Far deeper than PATH_MAX below the root: every level counts, and a large file 5,000 bytes
    // below the root is reported with its whole path.
    void treeFarBeyondPathMax()
    {
        QTemporaryDir base(scratchPath() + "/sorvi-XXXXXX");
        const QString top = base.path() + "/chain";
        constexpr int kDepth = 2500, kLarge = 1300;
        constexpr qint64 kMiB = qint64(1) << 20;
        const qint64 sum =
            buildChain(top, kDepth, "dir", [](int level) { return level == kLarge ? kMiB : 100; });
        QVERIFY(sum > kMiB);
        QCOMPARE(FileSystem::allocatedSize(top), sum);
        QStringList found;
        QMutex mutex;
        FileSystem::walkFiles(base.path(), FileSystem::Hidden::Skip, kMiB,
                              [&](const FileSystem::WalkedFile& f) {
                                  QMutexLocker lock(&mutex);
                                  found << f.path;
                              });
        QCOMPARE(found, QStringList(top + QString("/dir").repeated(kLarge) + "/f"));
        QVERIFY(FileSystem::removeItem(base.path(), top).ok());
    }

    // Through a link to the tree: a link at the root is followed, none below it is.
    void walkFilesReportsLargeVisibleFiles()
    {
        const QString link = m_outside.filePath("link-to-root");
        QVERIFY(makeLink(m_root.path(), link));
        QMutex mutex;
        QMap<QString, qint64> found;
        FileSystem::walkFiles(link, FileSystem::Hidden::Skip, 9000,
                              [&](const FileSystem::WalkedFile& f) {
                                  QMutexLocker lock(&mutex);
                                  found.insert(f.path.mid(link.size() + 1), f.allocated);
                              });
        // Hidden files and folders, files under the threshold and links are left out.
        QStringList expected{"a.bin", "line\nbreak/file", "Bộ nhớ/lớn",
                             PathCodec::decode("caf\xE9")};
        for (int j = 2; j < 20; ++j)
            for (int i = 0; i < 40; ++i)
                expected << QStringLiteral("wide/%1/s%2/f").arg(i).arg(j);
        expected.removeIf([this](const QString& path) { return blocksOf(at(path)) < 9000; });
        expected.sort();
        QCOMPARE(found.keys(), expected);
        for (auto it = found.cbegin(); it != found.cend(); ++it)
            QCOMPARE(it.value(), blocksOf(at(it.key())));
    }
};

SORVI_TEST_MAIN(TestAllocatedSize)
#include "tst_allocated_size.moc"
