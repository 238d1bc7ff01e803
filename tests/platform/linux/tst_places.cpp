#include "platform/linux/linux_places.h"
#include "platform/path_codec.h"
#include "platform/places.h"
#include "support/rows.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

namespace {

// "~" stands for the home folder.
QString expand(QString text)
{
    return text.replace(u'~', TestHome::path());
}

// A ","-separated list of paths; "*" stands for `fallback`.
QStringList roots(const QString& list, const QString& fallback = {})
{
    QStringList paths;
    for (const QString& path : (list == u"*" ? fallback : list).split(u',', Qt::SkipEmptyParts))
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

    // The XDG base folders and the user folders, localized, each replaced by its default (or
    // dropped) when unsafe. User folders are "|"-separated lines of user-dirs.dirs; "*" is the
    // default roots.
    void linuxTable_data()
    {
        Rows::add({"cache", "data", "userDirs", "caches", "logs", "trash", "large"},
                  {
                      "unset;-;-;;*;*;*;*",
                      "set;/var/tmp/c;~/d;;/var/tmp/c;~/d/xorg;~/d/Trash/files;*",
                      "relative;rel/cache;data;;*;*;*;*",
                      "the home folder;~;~;;*;*;*;*",
                      "the root;/;/;;*;*;*;*",
                      "above the home;~/..;~/../x/..;;*;*;*;*",
                      "a link to the home;~/home-link;-;;*;*;*;*",
                      "holding another's folder;~/.local/share;-;;*;*;*;*",
                      "equal to the trash;~/.local/share/Trash/files;-;;*;*;*;*",
                      "localized;-;-;XDG_DOWNLOAD_DIR=\"$HOME/Tải về\"|XDG_DOCUMENTS_DIR="
                      "\"$HOME/Tài liệu\"|XDG_DESKTOP_DIR=\"$HOME/\"|XDG_VIDEOS_DIR=\"/\";*;*;*;"
                      "~/Tải về,~/Tài liệu,~/Desktop,~/Videos",
                      "user folder in the cache;-;-;XDG_DOCUMENTS_DIR=\"$HOME/.cache/d\";;*;*;"
                      "~/Downloads,~/.cache/d,~/Desktop,~/Videos",
                      "nested user folders;-;-;XDG_DESKTOP_DIR=\"$HOME/Documents/Desk\";*;*;*;"
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
        QList<Places::Row> expected{
            {"caches", roots(caches, "~/.cache")},
            {"logs", roots(logs, "~/.local/share/xorg")},
            {"dev", roots("~/.npm/_cacache,~/.gradle/caches,~/.cargo/registry/cache,~/go/pkg/mod")},
            {"trash", roots(trash, "~/.local/share/Trash/files")},
            {"ios", {}},
            {"large", roots(large, "~/Downloads,~/Documents,~/Desktop,~/Videos")}};
        QCOMPARE(table, expected);
        QCOMPARE(LinuxPlaces::homeTrash(TestHome::path()) + "/files", expected[3].roots.value(0));
    }

    // The macOS places are kept as data for a macOS build; a typo there would ship unnoticed.
    void macOSTableAsWritten()
    {
        using Places::Row;
        const QList<Row> expected{
            {"caches", {"Library/Caches"}},
            {"logs", {"Library/Logs"}},
            {"dev",
             {"Library/Developer/Xcode/DerivedData", "Library/Developer/CoreSimulator/Caches",
              ".npm/_cacache", ".gradle/caches"}},
            {"trash", {".Trash"}},
            {"ios", {"Library/Application Support/MobileSync/Backup"}},
            {"large", {"Downloads", "Documents", "Desktop", "Movies"}}};
        QCOMPARE(Places::macOSTable(), expected);
    }
};

SORVI_TEST_MAIN(TestPlaces)
#include "tst_places.moc"
