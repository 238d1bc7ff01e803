#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "platform/unique_fd.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
    if (!status.open(QIODevice::ReadOnly)) return -1;
    return QRegularExpression(name + ":\\s*(\\d+)")
        .match(status.readAll())
        .captured(1)
        .toLongLong();
}

// Makes VmHWM start again from the current resident size.
bool resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
}

mode_t modeOf(const QString& path)
{
    return FileSystem::attributes(path)->permissions;
}

void setMode(const QString& path, mode_t mode)
{
    ::chmod(PathCodec::encode(path).constData(), mode);
}

} // namespace

class TestRemoval : public QObject
{
    Q_OBJECT
private slots:
    // Below a root: links inside the item, a link as the item; and the places a removal must
    // refuse. Nothing outside the item is ever touched.
    void removal_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<bool>("removed");
        QTest::newRow("links inside the item") << "/item" << true;
        QTest::newRow("the item is a link") << "/via-link" << true;
        QTest::newRow("root itself") << "" << false;
        QTest::newRow("root with slash") << "/" << false;
        QTest::newRow("sibling with root's name as prefix") << "Old/victim" << false;
        QTest::newRow("climbing out") << "/../outside-victim" << false;
        QTest::newRow("link between root and item") << "/via-link/victim" << false;
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
        QVERIFY(writeFile(base.path() + "/CachesOld/victim", 10));
        QVERIFY(writeFile(base.path() + "/outside-victim", 10));
        QVERIFY(writeFile(base.path() + "/linked/victim", 10));
        QVERIFY(makeLink(base.path() + "/linked", root + "/via-link"));
        QVERIFY(makeLink(base.path() + "/linked", root + "/item/a/link-dir"));
        QVERIFY(makeLink(base.path() + "/linked/victim", root + "/item/link-file"));
        const int inside = countEntries(root);
        const int outside = countEntries(base.path()) - inside;
        const FileSystem::Outcome outcome = FileSystem::removeItem(root, root + item);
        QCOMPARE(outcome.ok(), removed);
        QCOMPARE(outcome.error.isEmpty(), removed);
        QCOMPARE(countEntries(base.path()) - countEntries(root), outside);
        if (removed)
            QVERIFY(!FileSystem::exists(root + item));
        else
            QCOMPARE(countEntries(root), inside);
    }

    void nameThatIsNotUtf8IsNeverConfusedWithItsLookalike()
    {
        QTemporaryDir root;
        const QByteArray base = PathCodec::encode(root.path());
        QVERIFY(writeFileRaw(base + "/caf\xE9", 10));
        QVERIFY(writeFileRaw(base + "/caf\xEF\xBF\xBD", 10));
        QVERIFY(FileSystem::removeItem(root.path(), PathCodec::decode(base + "/caf\xE9")).ok());
        QVERIFY(!FileSystem::exists(PathCodec::decode(base + "/caf\xE9")));
        QVERIFY(FileSystem::exists(PathCodec::decode(base + "/caf\xEF\xBF\xBD")));
    }

    // A chain far deeper than the descriptor limit and PATH_MAX goes with a few descriptors
    // (ancestors closed and reopened on the way) and a few megabytes: the peak resident size is
    // reset before the removal and read after it.
    void deepChainWithBoundedDescriptorsAndMemory()
    {
        QTemporaryDir root(scratchPath() + "/sorvi-XXXXXX");
        const QString item = root.path() + "/item";
        QVERIFY(buildChain(item, 20000, "d", [](int level) { return level % 100; }) >= 0);
        rlimit old{};
        ::getrlimit(RLIMIT_NOFILE, &old);
        const rlimit low{rlim_t(openDescriptors() + 40), old.rlim_max};
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &low) == 0);
        const int before = openDescriptors();
        QVERIFY(resetPeakMemory());
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

    // Run by an unprivileged user where possible, for whom permissions are real: a read-only
    // tree cannot be removed until the owner's bits are added back, and those are added to the
    // user's own directories only, never through a link.
    void readOnlyTreeNeedsOwnerAccessFirst()
    {
        QTemporaryDir root, outside;
        setMode(root.path(), 0777);
        setMode(outside.path(), 0777);
        const QString item = root.path() + "/item", rootPath = root.path();
        const QString readOnly = outside.path() + "/read-only";
        const auto body = [&] {
            if (!writeFile(item + "/sub/none/file", 100) || !makeDir(readOnly) ||
                !makeLink(readOnly, item + "/link") || !writeFile(item + "/file", 10))
                return 10;
            for (const auto& [path, mode] : {std::pair{readOnly, 0555},
                                             {item + "/file", 0444},
                                             {item + "/sub/none", 0},
                                             {item + "/sub", 0555},
                                             {item, 0500}})
                setMode(path, mode_t(mode));
            if (FileSystem::removeItem(rootPath, item).ok()) return 11;
            FileSystem::grantOwnerAccess(rootPath, item, ::getuid());
            if (modeOf(item + "/sub/none") != 0700 || modeOf(item + "/file") != 0444 ||
                modeOf(readOnly) != 0555)
                return 12;
            return FileSystem::removeItem(rootPath, item).ok() ? 0 : 13;
        };
        QCOMPARE(canDropPrivileges() ? runAsNobody(body) : body(), 0);
        QVERIFY(!FileSystem::exists(item));
    }
};

SORVI_TEST_MAIN(TestRemoval)
#include "tst_removal.moc"
