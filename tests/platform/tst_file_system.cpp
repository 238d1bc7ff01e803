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
    void listingLinksAttributesAndSizes()
    {
        QTemporaryDir dir(scratchPath() + "/sorvi-XXXXXX"), outside;
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

        // Sizes against nftw's sum, twice: wide enough that helpers take subtrees, links (one to
        // a large file outside) not followed; a file, a link and a missing path.
        QVERIFY(writeFile(outside.filePath("big"), qint64{3} << 20) &&
                makeLink(outside.filePath("big"), dir.filePath("link-to-big")));
        QVERIFY(writeFile(dir.filePath("Bộ nhớ/line\nbreak"), 70000));
        for (int i = 0; i < 40; ++i)
            for (int j = 0; j < 20; ++j)
                QVERIFY(writeFile(dir.filePath(QStringLiteral("wide/%1/s%2/f").arg(i).arg(j)),
                                  qint64{4096} * (j + 1)));
        for (const QString& path : {dir.path(), dir.path(), dir.filePath("a"),
                                    dir.filePath("link-to-big"), dir.filePath("nowhere")})
            QCOMPARE(FileSystem::allocatedSize(path), expectedAllocated(path));
        QVERIFY(FileSystem::removeItem(dir.path(), cafe).ok()); // QTemporaryDir cannot
    }

    // Every byte sequence comes back unchanged (two names never share a text, so removing one
    // cannot hit the other); valid UTF-8 decodes to its own text.
    void pathCodecRoundTrip()
    {
        for (const char* raw :
             {"plain name.txt", "Bộ nhớ đệm", "caf\xEF\xBF\xBD", "\xF0\x9F\x98\x80", "a\xFF-",
              "x\xE1\xBB", "\xC0\xAF", "\xED\xA0\x80", "caf\xE9", "\xF4\x90\x80\x80"}) {
            const QByteArray bytes(raw);
            const QString text = PathCodec::decode(bytes);
            QCOMPARE(PathCodec::encode(text), bytes);
            QCOMPARE(text == QString::fromUtf8(bytes), QString::fromUtf8(bytes).toUtf8() == bytes);
        }
    }

    void pathForms_data()
    {
        Rows::add({"path", "forms"}, // standardized|last component|extension
                  {"plain;/a/b/Foo.app;/a/b/Foo.app|Foo.app|app", "dot;/a/./b/c;/a/b/c|c|",
                   "dotdot;/a/b/../c.tar.gz;/a/c.tar.gz|c.tar.gz|gz",
                   "trailing slash;/a/b/;/a/b|b|", "double slash;/a//b;/a/b|b|",
                   "hidden;/a/.bashrc;/a/.bashrc|.bashrc|"});
    }
    void pathForms()
    {
        QFETCH(QString, path);
        QFETCH(QString, forms);
        const QStringList got{FileSystem::standardized(path), FileSystem::lastComponent(path),
                              FileSystem::extension(path)};
        QCOMPARE(got.join(u'|'), forms);
    }
};

SORVI_TEST_MAIN(TestFileSystem)
#include "tst_file_system.moc"
