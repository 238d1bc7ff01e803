#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QTemporaryDir>

#include <sys/stat.h>
#include <unistd.h>

using namespace TreeBuilder;

class TestFileSystem : public QObject
{
    Q_OBJECT
private slots:
    void homeIsTheTestHome() { QCOMPARE(FileSystem::homeDirectory(), TestHome::path()); }

    void existsDoesNotFollowLinks()
    {
        QTemporaryDir dir;
        QVERIFY(makeLink(dir.filePath("nowhere"), dir.filePath("dangling")));
        QVERIFY(FileSystem::exists(dir.filePath("dangling")));
        QVERIFY(!FileSystem::exists(dir.filePath("nowhere")));
        QVERIFY(FileSystem::exists(dir.path()));
    }

    void childrenListsHiddenOnlyWhenAsked()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("a"), 10));
        QVERIFY(writeFile(dir.filePath(".hidden"), 10));
        QVERIFY(makeDir(dir.filePath("sub")));
        auto all = FileSystem::children(dir.path());
        QVERIFY(all);
        all->sort();
        QCOMPARE(*all, (QStringList{dir.filePath(".hidden"), dir.filePath("a"), dir.filePath("sub")}));
        auto visible = FileSystem::children(dir.path(), FileSystem::Hidden::Skip);
        QVERIFY(visible);
        visible->sort();
        QCOMPARE(*visible, (QStringList{dir.filePath("a"), dir.filePath("sub")}));
    }

    void childrenFailsForMissingFileAndUnreadable()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("file"), 1));
        QVERIFY(!FileSystem::children(dir.filePath("missing")));
        QVERIFY(!FileSystem::children(dir.filePath("file")));
        QVERIFY(makeDir(dir.filePath("locked")));
        ::chmod(QFile::encodeName(dir.filePath("locked")).constData(), 0700);
        if (!canDropPrivileges())
            QSKIP("needs root to drop to an unprivileged user");
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
        const QString locked = dir.filePath("locked");
        QCOMPARE(runAsNobody([&] { return FileSystem::children(locked) ? 1 : 0; }), 0);
    }

    void childrenKeepsNamesThatAreNotUtf8()
    {
        QTemporaryDir dir;
        const QByteArray raw = QFile::encodeName(dir.path()) + "/caf\xE9";
        QVERIFY(writeFileRaw(raw, 100));
        const auto listed = FileSystem::children(dir.path());
        QVERIFY(listed && listed->size() == 1);
        QCOMPARE(PathCodec::encode(listed->first()), raw);
        QVERIFY(FileSystem::exists(listed->first()));
    }

    void volumeOfRoot()
    {
        const auto info = FileSystem::volume(QStringLiteral("/"));
        QVERIFY(info);
        QVERIFY(info->total > 0);
        QVERIFY(info->available >= 0 && info->available <= info->total);
        QVERIFY(!FileSystem::volume(QStringLiteral("/no/such/place")));
    }

    void pathForms_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("standardized");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("extension");
        QTest::newRow("plain") << "/a/b/Foo.app" << "/a/b/Foo.app" << "Foo.app" << "app";
        QTest::newRow("dot") << "/a/./b/c" << "/a/b/c" << "c" << "";
        QTest::newRow("dotdot") << "/a/b/../c.tar.gz" << "/a/c.tar.gz" << "c.tar.gz" << "gz";
        QTest::newRow("trailing slash") << "/a/b/" << "/a/b" << "b" << "";
        QTest::newRow("double slash") << "/a//b" << "/a/b" << "b" << "";
        QTest::newRow("hidden") << "/a/.bashrc" << "/a/.bashrc" << ".bashrc" << "";
    }
    void pathForms()
    {
        QFETCH(QString, path);
        QFETCH(QString, standardized);
        QFETCH(QString, last);
        QFETCH(QString, extension);
        QCOMPARE(FileSystem::standardized(path), standardized);
        QCOMPARE(FileSystem::lastComponent(path), last);
        QCOMPARE(FileSystem::extension(path), extension);
    }

    void resolvedFollowsLinks()
    {
        QTemporaryDir dir;
        QVERIFY(makeDir(dir.filePath("real/inner")));
        QVERIFY(makeLink(dir.filePath("real"), dir.filePath("link")));
        const QString real = FileSystem::resolved(dir.path());
        QCOMPARE(FileSystem::resolved(dir.filePath("link/inner")), real + "/real/inner");
        QCOMPARE(FileSystem::resolved(dir.filePath("x/../missing")), dir.filePath("missing"));
    }

    void attributesDescribeLinkItself()
    {
        QTemporaryDir dir;
        QVERIFY(makeDir(dir.filePath("d")));
        ::chmod(QFile::encodeName(dir.filePath("d")).constData(), 0751);
        QVERIFY(makeLink(dir.filePath("d"), dir.filePath("l")));
        const auto d = FileSystem::attributes(dir.filePath("d"));
        QVERIFY(d && d->isDirectory());
        QCOMPARE(d->permissions, mode_t(0751));
        QCOMPARE(d->owner, ::getuid());
        const auto l = FileSystem::attributes(dir.filePath("l"));
        QVERIFY(l && l->type == S_IFLNK);
        QVERIFY(!FileSystem::attributes(dir.filePath("none")));
    }

    void setPermissionsNeverFollowsALink()
    {
        QTemporaryDir dir;
        QVERIFY(makeDir(dir.filePath("target")));
        ::chmod(QFile::encodeName(dir.filePath("target")).constData(), 0555);
        QVERIFY(makeLink(dir.filePath("target"), dir.filePath("link")));
        QVERIFY(!FileSystem::setDirectoryPermissions(dir.filePath("link"), 0777).ok());
        QCOMPARE(FileSystem::attributes(dir.filePath("target"))->permissions, mode_t(0555));
        QVERIFY(FileSystem::setDirectoryPermissions(dir.filePath("target"), 0750).ok());
        QCOMPARE(FileSystem::attributes(dir.filePath("target"))->permissions, mode_t(0750));
    }
};

SORVI_TEST_MAIN(TestFileSystem)
#include "tst_file_system.moc"
