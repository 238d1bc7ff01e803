#include "platform/linux/linux_places.h"
#include "platform/path_codec.h"
#include "platform/places.h"
#include "support/rows.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

class TestPlaces : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(QFile::link(TestHome::path(), TestHome::path() + "/home-link")); }

    // Each folder replaced by its default (or dropped) when unsafe. "~": the home; "-": unset;
    // "*": the default roots; userDirs: "|"-separated lines.
    void linuxTable_data()
    {
        Rows::add({"cache", "data", "userDirs", "caches", "logs", "trash", "large"},
                  {"unset;-;-;;*;*;*;*",
                   "set;/var/tmp/c;~/d;;/var/tmp/c;~/d/xorg;~/d/Trash/files;*",
                   "relative;rel/cache;data;;*;*;*;*", "the home folder;~;~;;*;*;*;*",
                   "the root;/;/;;*;*;*;*", "above the home;~/..;~/../x/..;;*;*;*;*",
                   "a link to the home;~/home-link;-;;*;*;*;*",
                   "holding another's folder;~/.local/share;-;;*;*;*;*",
                   "equal to the trash;~/.local/share/Trash/files;-;;*;*;*;*",
                   "localized;-;-;XDG_DOWNLOAD_DIR=\"$HOME/Tải về\"|XDG_DOCUMENTS_DIR="
                   "\"$HOME/Tài liệu\"|XDG_DESKTOP_DIR=\"$HOME/\"|XDG_VIDEOS_DIR=\"/\";*;*;*;"
                   "~/Tải về,~/Tài liệu,~/Desktop,~/Videos",
                   "user folder in the cache;-;-;XDG_DOCUMENTS_DIR=\"$HOME/.cache/d\";;*;*;"
                   "~/Downloads,~/.cache/d,~/Desktop,~/Videos",
                   "nested user folders;-;-;XDG_DESKTOP_DIR=\"$HOME/Documents/Desk\";*;*;*;"
                   "~/Downloads,~/Documents,~/Videos"});
    }
    void linuxTable()
    {
        QFETCH(QString, cache);
        QFETCH(QString, data);
        QFETCH(QString, userDirs);
        QFETCH(QString, large);
        const auto expand = [](QString text) { return text.replace(u'~', TestHome::path()); };
        const auto roots = [&](const QString& list, const QString& fallback = {}) {
            return expand(list == u"*" ? fallback : list).split(u',', Qt::SkipEmptyParts);
        };
        for (const auto& [name, value] :
             {std::pair{"XDG_CACHE_HOME", cache}, {"XDG_DATA_HOME", data}})
            value == u"-" ? qunsetenv(name) : qputenv(name, PathCodec::encode(expand(value)));
        QVERIFY(TreeBuilder::putFile(TestHome::path() + "/.config/user-dirs.dirs",
                                     userDirs.replace(u'|', u'\n').toUtf8() + '\n'));
        QFETCH(QString, caches);
        QFETCH(QString, logs);
        QFETCH(QString, trash);
        const QList<Places::Row> expected{
            {"caches", roots(caches, "~/.cache")},
            {"logs", roots(logs, "~/.local/share/xorg")},
            {"dev", roots("~/.npm/_cacache,~/.gradle/caches,~/.cargo/registry/cache,~/go/pkg/mod")},
            {"trash", roots(trash, "~/.local/share/Trash/files")},
            {"ios", {}},
            {"large", roots(large, "~/Downloads,~/Documents,~/Desktop,~/Videos")}};
        QCOMPARE(LinuxPlaces::build(TestHome::path()), expected);
        QCOMPARE(LinuxPlaces::homeTrash(TestHome::path()) + "/files", expected[3].roots.value(0));
    }
};

SORVI_TEST_MAIN(TestPlaces)
#include "tst_places.moc"
