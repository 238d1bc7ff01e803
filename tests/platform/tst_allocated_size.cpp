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
private slots:
    // Against nftw's sum, twice: a tree wide enough that helpers take subtrees, with links (not
    // followed), hidden and odd names; and a file, a link and a missing path.
    void matchesIndependentSum()
    {
        QTemporaryDir root(scratchPath() + "/sorvi-XXXXXX"), outside;
        const auto at = [&](const char* relative) { return root.filePath(relative); };
        QVERIFY(writeFile(outside.filePath("big"), qint64{3} << 20) && writeFile(at("empty"), 0));
        QVERIFY(makeLink(outside.filePath("big"), at("link-to-big")) &&
                makeLink(outside.path(), at("sub/link-to-dir")));
        QVERIFY(writeFile(at(".hidden/line\nbreak"), 70000) && writeFile(at("Bộ nhớ/tệp"), 8000));
        QVERIFY(writeFileRaw(PathCodec::encode(root.path()) + "/caf\xE9", 20000));
        for (int i = 0; i < 40; ++i)
            for (int j = 0; j < 20; ++j)
                QVERIFY(writeFile(root.filePath(QStringLiteral("wide/%1/s%2/f").arg(i).arg(j)),
                                  qint64{4096} * (j + 1)));
        for (const QString& path :
             {root.path(), root.path(), at("empty"), at("link-to-big"), at("none")})
            QCOMPARE(FileSystem::allocatedSize(path), expectedAllocated(path));
        QVERIFY(
            FileSystem::removeItem(root.path(), root.path() + PathCodec::decode("/caf\xE9")).ok());
    }

    // Far beyond PATH_MAX: every level counts, and a large file deep down keeps its whole path.
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
};

SORVI_TEST_MAIN(TestAllocatedSize)
#include "tst_allocated_size.moc"
