#include "platform/linux/linux_places.h"
#include "platform/path_codec.h"
#include "support/rows.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

namespace {

// "~" stands for the home folder.
QString expand(QString text)
{
    return text.replace(u'~', TestHome::path());
}

QStringList expandList(const QString& list)
{
    QStringList paths;
    for (const QString& path : list.split(u',', Qt::SkipEmptyParts))
        paths.append(expand(path));
    return paths;
}

// "-" leaves the variable unset.
void setVariable(const char* name, const QString& value)
{
    if (value == u"-")
        qunsetenv(name);
    else
        qputenv(name, PathCodec::encode(expand(value)));
}

} // namespace

class TestPlaces : public QObject
{
    Q_OBJECT
    const QString m_userDirs = TestHome::path() + "/.config/user-dirs.dirs";

private slots:
    void initTestCase() { QVERIFY(TreeBuilder::makeLink(TestHome::path(), expand("~/home-link"))); }

    void cleanup()
    {
        qputenv("XDG_CACHE_HOME", PathCodec::encode(expand("~/.cache")));
        qputenv("XDG_DATA_HOME", PathCodec::encode(expand("~/.local/share")));
        QFile::remove(m_userDirs);
    }

    // A macOS home keeps each category in these folders.
    void macOSTable()
    {
        const QList<Places::Row> expected{
            {"caches", {"Library/Caches"}},
            {"logs", {"Library/Logs"}},
            {"dev",
             {"Library/Developer/Xcode/DerivedData", "Library/Developer/CoreSimulator/Caches",
              ".npm/_cacache", ".gradle/caches"}},
            {"trash", {".Trash"}},
            {"ios", {"Library/Application Support/MobileSync/Backup"}},
            {"large", {"Downloads", "Documents", "Desktop", "Movies"}},
        };
        QCOMPARE(Places::macOSTable(), expected);
    }

    // The XDG base folders and the user folders, localized, each replaced by its default (or
    // dropped) when unsafe. User folders are "|"-separated lines of user-dirs.dirs.
    void linuxTable_data()
    {
        Rows::add({"cache", "data", "userDirs", "caches", "logs", "trash", "large"},
                  {
                      "unset;-;-;;~/.cache;~/.local/share/xorg;~/.local/share/Trash/files;",
                      "set;/var/tmp/c;~/d;;/var/tmp/c;~/d/xorg;~/d/Trash/files;",
                      "relative;rel/cache;data;;~/.cache;~/.local/share/xorg;"
                      "~/.local/share/Trash/files;",
                      "the home folder;~;~;;~/.cache;~/.local/share/xorg;"
                      "~/.local/share/Trash/files;",
                      "the root;/;/;;~/.cache;~/.local/share/xorg;~/.local/share/Trash/files;",
                      "above the home;~/..;~/../x/..;;~/.cache;~/.local/share/xorg;"
                      "~/.local/share/Trash/files;",
                      "a link to the home;~/home-link;-;;~/.cache;~/.local/share/xorg;"
                      "~/.local/share/Trash/files;",
                      "holding another's folder;~/.local/share;-;;~/.cache;~/.local/share/xorg;"
                      "~/.local/share/Trash/files;",
                      "equal to the trash;~/.local/share/Trash/files;-;;~/.cache;"
                      "~/.local/share/xorg;~/.local/share/Trash/files;",
                      "localized;-;-;XDG_DOWNLOAD_DIR=\"$HOME/Tải về\"|XDG_DOCUMENTS_DIR="
                      "\"$HOME/Tài liệu\"|XDG_DESKTOP_DIR=\"$HOME/\"|XDG_VIDEOS_DIR=\"/\";~/.cache;"
                      "~/.local/share/xorg;~/.local/share/Trash/files;"
                      "~/Tải về,~/Tài liệu,~/Desktop,~/Videos",
                      "user folder in the cache;-;-;XDG_DOCUMENTS_DIR=\"$HOME/.cache/d\";;"
                      "~/.local/share/xorg;~/.local/share/Trash/files;"
                      "~/Downloads,~/.cache/d,~/Desktop,~/Videos",
                      "nested user folders;-;-;XDG_DESKTOP_DIR=\"$HOME/Documents/Desk\";~/.cache;"
                      "~/.local/share/xorg;~/.local/share/Trash/files;"
                      "~/Downloads,~/Documents,~/Videos",
                  });
    }
    void linuxTable()
    {
        QFETCH(QString, cache);
        QFETCH(QString, data);
        QFETCH(QString, userDirs);
        QFETCH(QString, large);
        setVariable("XDG_CACHE_HOME", cache);
        setVariable("XDG_DATA_HOME", data);
        if (userDirs != u"-") {
            QFile file(m_userDirs);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(userDirs.replace(u'|', u'\n').toUtf8() + '\n');
        }
        QFETCH(QString, caches);
        QFETCH(QString, logs);
        QFETCH(QString, trash);
        const QList<Places::Row> table = LinuxPlaces::build(TestHome::path());
        QStringList ids;
        for (const Places::Row& row : table)
            ids.append(row.id);
        QCOMPARE(ids, QStringList({"caches", "logs", "dev", "trash", "ios", "large"}));
        QCOMPARE(table[0].roots, expandList(caches));
        QCOMPARE(table[1].roots, expandList(logs));
        QCOMPARE(table[2].roots, expandList("~/.npm/_cacache,~/.gradle/caches,"
                                            "~/.cargo/registry/cache,~/go/pkg/mod"));
        QCOMPARE(table[3].roots, expandList(trash));
        QCOMPARE(table[4].roots, QStringList());
        QCOMPARE(
            table[5].roots,
            expandList(large.isEmpty() ? "~/Downloads,~/Documents,~/Desktop,~/Videos" : large));
        QCOMPARE(LinuxPlaces::homeTrash(TestHome::path()) + "/files", expand(trash));
    }
};

SORVI_TEST_MAIN(TestPlaces)
#include "tst_places.moc"
