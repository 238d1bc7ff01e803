#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QDir>
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
    void removesTreeButNotWhatLinksPointTo()
    {
        QTemporaryDir root, outside;
        QVERIFY(writeFile(outside.path() + "/keep/file", 5000));
        QVERIFY(writeFile(root.path() + "/item/a/b/file", 5000));
        QVERIFY(writeFile(root.path() + "/item/.hidden/x", 10));
        QVERIFY(makeLink(outside.path() + "/keep", root.path() + "/item/a/link-dir"));
        QVERIFY(makeLink(outside.path() + "/keep/file", root.path() + "/item/link-file"));
        const int outsideBefore = countEntries(outside.path());

        QVERIFY(FileSystem::removeItem(root.path(), root.path() + "/item").ok());
        QVERIFY(!FileSystem::exists(root.path() + "/item"));
        QCOMPARE(countEntries(outside.path()), outsideBefore);
    }

    void linkAtTheItemIsRemovedItself()
    {
        QTemporaryDir root, outside;
        QVERIFY(writeFile(outside.path() + "/file", 10));
        QVERIFY(makeLink(outside.path(), root.path() + "/item"));
        QVERIFY(FileSystem::removeItem(root.path(), root.path() + "/item").ok());
        QVERIFY(!FileSystem::exists(root.path() + "/item"));
        QVERIFY(FileSystem::exists(outside.path() + "/file"));
    }

    void refusedPlaces_data()
    {
        QTest::addColumn<QString>("item");
        QTest::newRow("root itself") << "";
        QTest::newRow("root with slash") << "/";
        QTest::newRow("sibling with root's name as prefix") << "Old/victim";
        QTest::newRow("climbing out") << "/../outside-victim";
        QTest::newRow("link between root and item") << "/via-link/victim";
        QTest::newRow("missing") << "/not-there";
    }
    void refusedPlaces()
    {
        QFETCH(QString, item);
        QTemporaryDir base;
        const QString root = base.path() + "/Caches";
        QVERIFY(makeDir(root));
        QVERIFY(writeFile(base.path() + "/CachesOld/victim", 10));
        QVERIFY(writeFile(base.path() + "/outside-victim", 10));
        QVERIFY(writeFile(base.path() + "/linked/victim", 10));
        QVERIFY(makeLink(base.path() + "/linked", root + "/via-link"));
        const int before = countEntries(base.path());

        const FileSystem::Outcome outcome = FileSystem::removeItem(root, root + item);
        QVERIFY(!outcome.ok());
        QVERIFY(!outcome.error.isEmpty());
        QCOMPARE(countEntries(base.path()), before);
    }

    void nameThatIsNotUtf8IsNeverConfusedWithItsLookalike()
    {
        QTemporaryDir root;
        const QByteArray base = PathCodec::encode(root.path());
        QVERIFY(writeFileRaw(base + "/caf\xE9", 10));
        QVERIFY(writeFileRaw(base + "/caf\xEF\xBF\xBD", 10));
        const auto listed = FileSystem::children(root.path());
        QVERIFY(listed);
        for (const QString& path : *listed)
            if (PathCodec::encode(path).endsWith("\xE9"))
                QVERIFY(FileSystem::removeItem(root.path(), path).ok());
        struct stat st;
        QVERIFY(::lstat(base + "/caf\xE9", &st) != 0);
        QVERIFY(::lstat(base + "/caf\xEF\xBF\xBD", &st) == 0);
    }

    void deepTreeWithFewDescriptors()
    {
        QTemporaryDir root;
        const QByteArray item = PathCodec::encode(root.path()) + "/item";
        QVERIFY(::mkdir(item.constData(), 0755) == 0);
        int fd = ::open(item.constData(), O_RDONLY | O_DIRECTORY);
        for (int depth = 0; depth < 3000; ++depth) {
            const int file = ::openat(fd, "f", O_WRONLY | O_CREAT, 0644);
            ::close(file);
            QVERIFY(::mkdirat(fd, "d", 0755) == 0);
            const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
        }
        ::close(fd);

        struct rlimit old;
        ::getrlimit(RLIMIT_NOFILE, &old);
        struct rlimit low = old;
        low.rlim_cur = 256;
        QVERIFY(::setrlimit(RLIMIT_NOFILE, &low) == 0);
        const int before = openDescriptors();
        const FileSystem::Outcome outcome = FileSystem::removeItem(root.path(), root.path() + "/item");
        const int after = openDescriptors();
        ::setrlimit(RLIMIT_NOFILE, &old);

        QVERIFY2(outcome.ok(), qPrintable(outcome.error));
        QVERIFY(!FileSystem::exists(root.path() + "/item"));
        QCOMPARE(after, before);
    }

    void ownerAccessAddsBitsToOwnDirectoriesOnly()
    {
        QTemporaryDir root, outside;
        const QString item = root.path() + "/item";
        QVERIFY(writeFile(item + "/ro/file", 10));
        QVERIFY(writeFile(item + "/ro/none/file", 10));
        QVERIFY(writeFile(item + "/file", 10));
        QVERIFY(makeDir(item + "/foreign"));
        QVERIFY(makeDir(outside.path() + "/readonly"));
        QVERIFY(makeLink(outside.path() + "/readonly", item + "/link"));
        setMode(outside.path() + "/readonly", 0555);
        setMode(item + "/file", 0444);
        setMode(item + "/ro/none", 0);
        setMode(item + "/ro", 0555);
        setMode(item, 0500);
        setMode(item + "/foreign", 0555);
        if (canDropPrivileges())
            QVERIFY(::chown(QFile::encodeName(item + "/foreign").constData(), 65534, 65534) == 0);

        FileSystem::grantOwnerAccess(root.path(), item, ::getuid());

        QCOMPARE(modeOf(item), mode_t(0700));
        QCOMPARE(modeOf(item + "/ro"), mode_t(0755));
        QCOMPARE(modeOf(item + "/ro/none"), mode_t(0700));
        QCOMPARE(modeOf(item + "/file"), mode_t(0444));
        QCOMPARE(modeOf(outside.path() + "/readonly"), mode_t(0555));
        if (canDropPrivileges())
            QCOMPARE(modeOf(item + "/foreign"), mode_t(0555));
        setMode(outside.path() + "/readonly", 0755);
    }

    void readOnlyTreeNeedsOwnerAccessFirst()
    {
        if (!canDropPrivileges())
            QSKIP("needs root to drop to an unprivileged user");
        QTemporaryDir root;
        ::chmod(QFile::encodeName(root.path()).constData(), 0777);
        const QString item = root.path() + "/item";
        const QString rootPath = root.path();
        // Built and removed by the unprivileged user, for whom the permissions are real.
        const int code = runAsNobody([&] {
            if (!writeFile(item + "/sub/file", 100))
                return 10;
            setMode(item + "/sub", 0555);
            setMode(item, 0555);
            if (FileSystem::removeItem(rootPath, item).ok())
                return 11;
            FileSystem::grantOwnerAccess(rootPath, item, ::getuid());
            return FileSystem::removeItem(rootPath, item).ok() && !FileSystem::exists(item) ? 0 : 12;
        });
        QCOMPARE(code, 0);
    }
};

SORVI_TEST_MAIN(TestRemoval)
#include "tst_removal.moc"
