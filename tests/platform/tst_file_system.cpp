#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "support/rows.h"
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
    // Hidden entries only when asked, a name not UTF-8 kept byte for byte, a dangling link that
    // exists; nothing to list where there is no readable folder.
    void listingLinksAndAttributes()
    {
        QTemporaryDir dir;
        const QByteArray latin1 = PathCodec::encode(dir.path()) + "/caf\xE9";
        const QString cafe = PathCodec::decode(latin1), locked = dir.filePath("locked");
        QVERIFY(writeFile(dir.filePath("a"), 10) && writeFile(dir.filePath(".hidden"), 10));
        QVERIFY(writeFileRaw(latin1, 10) && makeDir(locked));
        QVERIFY(makeLink(dir.filePath("nowhere"), dir.filePath("dangling")));
        auto all = FileSystem::children(dir.path()).value_or(QStringList());
        auto visible =
            FileSystem::children(dir.path(), FileSystem::Hidden::Skip).value_or(QStringList());
        all.sort();
        visible.sort();
        QCOMPARE(visible, (QStringList{dir.filePath("a"), cafe, dir.filePath("dangling"), locked}));
        QCOMPARE(all, QStringList{dir.filePath(".hidden")} + visible);
        for (const QString& path : all)
            QVERIFY(FileSystem::exists(path));
        QVERIFY(!FileSystem::exists(dir.filePath("nowhere")));
        QVERIFY(!FileSystem::children(dir.filePath("nowhere")) &&
                !FileSystem::children(dir.filePath("a")));
        ::chmod(QFile::encodeName(locked).constData(), 0700);
        ::chmod(QFile::encodeName(dir.path()).constData(), 0755);
        if (canDropPrivileges())
            QCOMPARE(runAsNobody([&] { return FileSystem::children(locked) ? 1 : 0; }), 0);
        const auto volume = FileSystem::volume(locked);
        QVERIFY(volume && volume->total > 0 && volume->available <= volume->total);
        QVERIFY(FileSystem::removeItem(dir.path(), cafe).ok()); // QTemporaryDir cannot

        // Links resolved only when asked; attributes of the object itself.
        QVERIFY(makeDir(dir.filePath("real/inner")) && setPermissions(dir.filePath("real"), 0751));
        QVERIFY(makeLink(dir.filePath("real"), dir.filePath("link")));
        QCOMPARE(FileSystem::resolved(dir.filePath("link/inner")),
                 FileSystem::resolved(dir.path()) + "/real/inner");
        QCOMPARE(FileSystem::resolved(dir.filePath("x/../missing")), dir.filePath("missing"));
        const auto target = FileSystem::attributes(dir.filePath("real"));
        QVERIFY(target && target->isDirectory() && target->owner == ::getuid());
        QCOMPARE(target->permissions, mode_t(0751));
        QCOMPARE(FileSystem::attributes(dir.filePath("link"))->type, mode_t(S_IFLNK));
    }

    void pathForms_data()
    {
        Rows::add({"path", "standardized", "last", "extension"},
                  {"plain;/a/b/Foo.app;/a/b/Foo.app;Foo.app;app", "dot;/a/./b/c;/a/b/c;c;",
                   "dotdot;/a/b/../c.tar.gz;/a/c.tar.gz;c.tar.gz;gz",
                   "trailing slash;/a/b/;/a/b;b;", "double slash;/a//b;/a/b;b;",
                   "hidden;/a/.bashrc;/a/.bashrc;.bashrc;"});
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
};

SORVI_TEST_MAIN(TestFileSystem)
#include "tst_file_system.moc"
