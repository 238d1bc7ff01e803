#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QDir>
#include <QMutex>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <sys/resource.h>

using namespace TreeBuilder;

namespace {

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

// A figure of /proc/self/status (VmRSS, VmHWM), in kB.
qint64 statusField(const QString& name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    const QString all = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    return QRegularExpression(name + ":\\s*(\\d+)").match(all).captured(1).toLongLong();
}

} // namespace

class TestRemoval : public QObject
{
    Q_OBJECT
private slots:
    // Links inside the item, a name not UTF-8 beside its lookalike; and the places a removal must
    // refuse (a link on the way: the cleaner's test). Nothing but the item is ever touched.
    void removal_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<bool>("removed");
        QTest::newRow("links inside the item") << "/item" << true;
        QTest::newRow("not UTF-8") << PathCodec::decode("/caf\xE9") << true;
        QTest::newRow("root itself") << "" << false;
        QTest::newRow("root with slash") << "/" << false;
        QTest::newRow("sibling with root's name as prefix") << "Old/victim" << false;
        QTest::newRow("climbing out") << "/../outside-victim" << false;
        QTest::newRow("missing") << "/not-there" << false;
    }
    void removal()
    {
        QFETCH(QString, item);
        QFETCH(bool, removed);
        QTemporaryDir base;
        const QString root = base.path() + "/Caches";
        QVERIFY(writeFile(root + "/item/a/b/file", 5000) &&
                writeFile(root + "/item/.hidden/x", 10));
        for (const char* victim : {"/CachesOld/victim", "/outside-victim", "/linked/victim"})
            QVERIFY(writeFile(base.path() + victim, 10));
        QVERIFY(makeLink(base.path() + "/linked", root + "/via-link") &&
                makeLink(base.path() + "/linked", root + "/item/a/link-dir"));
        QVERIFY(makeLink(base.path() + "/linked/victim", root + "/item/link-file"));
        QVERIFY(writeFileRaw(PathCodec::encode(root) + "/caf\xE9", 10) &&
                writeFileRaw(PathCodec::encode(root) + "/caf\xEF\xBF\xBD", 10));
        const int inside = countEntries(root) - (removed ? countEntries(root + item) : 0);
        const int outside = countEntries(base.path()) - countEntries(root);
        const FileSystem::Outcome outcome = FileSystem::removeItem(root, root + item);
        QCOMPARE(outcome.ok(), removed);
        QCOMPARE(countEntries(base.path()) - countEntries(root), outside);
        QCOMPARE(countEntries(root), inside);
        QVERIFY(!removed || !FileSystem::exists(root + item));
        QVERIFY(FileSystem::removeItem(base.path(), root).ok()); // QTemporaryDir cannot
    }

    // Chains far deeper than PATH_MAX (and the descriptor limit): every level counts, a large file
    // deep down keeps its whole path, and the removal takes a few descriptors and megabytes.
    void deepChainWithBoundedDescriptorsAndMemory()
    {
        QTemporaryDir root(scratchPath() + "/sorvi-XXXXXX");
        const QString item = root.path() + "/item", walked = item + "/walked";
        constexpr int kLarge = 1300;
        constexpr qint64 kMiB = qint64(1) << 20;
        const qint64 sum =
            buildChain(walked, 2500, "d", [](int level) { return level == kLarge ? kMiB : 100; });
        QVERIFY(sum > kMiB);
        QCOMPARE(FileSystem::allocatedSize(walked), sum);
        QStringList found;
        QMutex mutex;
        FileSystem::walkFiles(walked, FileSystem::Hidden::Skip, kMiB,
                              [&](const FileSystem::WalkedFile& f) {
                                  QMutexLocker lock(&mutex);
                                  found << f.path;
                              });
        QCOMPARE(found, QStringList(walked + QString("/d").repeated(kLarge) + "/f"));
        QVERIFY(buildChain(item, 20000, "d", [](int level) { return level % 100; }) >= 0);
        rlimit old{};
        ::getrlimit(RLIMIT_NOFILE, &old);
        const rlimit low{rlim_t(openDescriptors() + 40), old.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &low) == 0);
        const int before = openDescriptors();
        QVERIFY(TreeBuilder::putFile("/proc/self/clear_refs", "5")); // VmHWM restarts from VmRSS
        const qint64 resident = statusField("VmRSS");
        const FileSystem::Outcome outcome = FileSystem::removeItem(root.path(), item);
        const qint64 peak = statusField("VmHWM");
        const int after = openDescriptors();
        ::setrlimit(RLIMIT_NOFILE, &old);
        QVERIFY2(outcome.ok(), qPrintable(outcome.error));
        QVERIFY(!FileSystem::exists(item));
        QCOMPARE(after, before);
        QVERIFY2(peak - resident < qint64{16} * 1024, qPrintable(QString::number(peak - resident)));
    }
};

SORVI_TEST_MAIN(TestRemoval)
#include "tst_removal.moc"
