#include "core/scanner.h"
#include "platform/path_codec.h"
#include "support/await.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <atomic>
#include <filesystem>
#include <sys/stat.h>
#include <thread>

using namespace TreeBuilder;

namespace {

constexpr qint64 kMiB = qint64(1) << 20;

Category category(const char* id, qint64 minBytes = 0)
{
    Category c = *Category::find(QString::fromLatin1(id));
    if (minBytes > 0) c.kind = ScanKind::largeFiles(minBytes);
    return c;
}

bool makeFifo(const QString& path)
{
    return makeDir(QFileInfo(path).path()) &&
           ::mkfifo(PathCodec::encode(path).constData(), 0644) == 0;
}

// The result a correct scan gives, measured independently, largest first.
ScanResult expected(const QStringList& paths, bool unreadable = false)
{
    ScanResult result{{}, unreadable, {}};
    for (const QString& path : paths)
        result.items.append(CleanItem{path, expectedAllocated(path)});
    std::stable_sort(result.items.begin(), result.items.end(),
                     [](const CleanItem& a, const CleanItem& b) { return a.size > b.size; });
    return result;
}

ScanResult found(ScanResult result)
{
    result.pinnedRoots.clear();
    return result;
}

bool scansAsNobodyTo(const Category& c, const ScanResult& result)
{
    return runAsNobody([&] {
               auto scanned = Await::task(Scanner::scan(c), "the scan as nobody");
               return scanned && found(*scanned) == result ? 0 : 1;
           }) == 0;
}

} // namespace

class TestScanner : public QObject
{
    Q_OBJECT
    const QString home = TestHome::path();
    const QString outside = TestHome::path() + "/outside";
    const QString caches = category("caches").roots[0];

private slots:
    void init()
    {
        setPermissions(home, 0700);
        for (const char* name : {".cache", ".local", ".npm", ".gradle", ".cargo", "go", "Downloads",
                                 "Documents", "Desktop", "Videos", "outside"}) {
            std::error_code error; // names that are not UTF-8 too, which QDir cannot remove
            std::filesystem::remove_all(PathCodec::encode(home + u'/' + name).toStdString(), error);
        }
        QVERIFY(allocate(outside + "/big", 3 * kMiB));
    }

    // Only ".DS_Store" at the top is dropped; links are neither items nor followed.
    void childrenAreSizedItems()
    {
        const QByteArray latin1 = PathCodec::encode(caches) + "/caf\xE9";
        QVERIFY(writeFile(caches + "/.DS_Store", 12000) &&
                writeFile(caches + "/app/.DS_Store", 30000) &&
                writeFile(caches + "/.ds_store", 50000) &&
                writeFile(caches + "/.hidden/d/b", 2048) && makeDir(caches + "/empty-folder") &&
                writeFile(caches + "/empty-file", 0) &&
                makeLink(outside + "/big", caches + "/link-to-big") && makeFifo(caches + "/pipe") &&
                makeLink(outside, caches + "/folder-of-links/link") && writeFileRaw(latin1, 20000));
        AWAIT_VALUE(result, Scanner::scan(category("caches")), "the caches scan");
        QCOMPARE(found(result), expected({caches + "/app", caches + "/.ds_store",
                                          caches + "/.hidden", PathCodec::decode(latin1)}));
    }

    // A root linked to a folder is pinned as that folder; other non-folders flag unless missing.
    void rootsThatAreNotFolders_data()
    {
        QTest::addColumn<QString>("shape");
        for (const char* shape : {"link to a folder", "missing", "file", "dangling link", "pipe"})
            QTest::newRow(shape) << QString(shape);
    }
    void rootsThatAreNotFolders()
    {
        QFETCH(QString, shape);
        const Category dev = category("dev");
        const QString root = dev.roots[0], other = dev.roots[2] + "/other";
        QVERIFY(writeFile(outside + "/folder/entry/f", 30000) && writeFile(other + "/f", 5000));
        QVERIFY(makeDir(QFileInfo(root).path()));
        const bool linked = shape == u"link to a folder", missing = shape == u"missing";
        QVERIFY(linked                      ? makeLink(outside + "/folder", root)
                : missing                   ? true
                : shape == u"file"          ? writeFile(root, 30000)
                : shape == u"dangling link" ? makeLink(outside + "/none", root)
                                            : makeFifo(root));
        AWAIT_VALUE(result, Scanner::scan(dev), "the dev scan");
        QCOMPARE(found(result),
                 linked ? expected({other, root + "/entry"}) : expected({other}, !missing));
        RootPins pins{{dev.roots[2], *FileSystem::identity(dev.roots[2])}};
        if (linked) pins.insert(root, *FileSystem::identity(outside + "/folder"));
        QCOMPARE(result.pinnedRoots, pins);
    }

    // The origin is the record's escaped Path decoded.
    void trashItemsCarryTheirOrigin()
    {
        const Category trash = category("trash");
        QVERIFY(writeFile(trash.roots[0] + "/báo.pdf", 4096) &&
                writeFile(trash.roots[0] + "/orphan/f", 8192) &&
                putFile(TestHome::trashPath() + "/info/báo.pdf.trashinfo",
                        "[Trash Info]\nPath=/home/an/T%C3%A0i%20li%E1%BB%87u/b%C3%A1o.pdf\n"));
        AWAIT_VALUE(result, Scanner::scan(trash), "the trash scan");
        QCOMPARE(found(result),
                 expected({trash.roots[0] + "/orphan", trash.roots[0] + "/báo.pdf"}));
        QCOMPARE((QList{result.items[0].origin, result.items[1].origin}),
                 (QList<std::optional<QString>>{std::nullopt, "/home/an/Tài liệu/báo.pdf"}));
    }

    // Visible regular files of at least minBytes at any depth; only a root link is followed.
    void largeFiles()
    {
        const Category large = category("large");
        const qint64 min = large.kind.minBytes;
        QVERIFY(allocate(large.roots[1] + "/sub/dir/exact.mov", min));
        QVERIFY(allocate(large.roots[1] + "/short.mov", min - 4096));
        if (blocksOf(large.roots[1] + "/short.mov") != min - 4096)
            QSKIP("this file system does not allocate exactly what is asked");
        QVERIFY(allocate(large.roots[0] + "/.cache/big.iso", min) &&
                allocate(large.roots[0] + "/.hidden.iso", min) &&
                allocate(outside + "/huge", min) &&
                makeLink(outside + "/huge", large.roots[0] + "/link.iso") &&
                makeLink(outside, large.roots[0] + "/link-to-folder") &&
                makeFifo(large.roots[0] + "/pipe") && writeFile(large.roots[2], kMiB) &&
                allocate(outside + "/videos/film.mov", min) &&
                makeLink(outside + "/videos", large.roots[3]));
        AWAIT_VALUE(result, Scanner::scan(large), "the large-files scan");
        QCOMPARE(found(result),
                 expected({large.roots[1] + "/sub/dir/exact.mov", large.roots[3] + "/film.mov"}));
    }

    // 201 files of distinct sizes shuffled over the roots: the 200 largest stay.
    void largeFilesKeepTheLargest200()
    {
        const Category large = category("large", 8192);
        for (int i = 0; i < 201; ++i)
            QVERIFY(allocate(QStringLiteral("%1/d%2/f%3").arg(large.roots[i % 4]).arg(i % 7).arg(i),
                             qint64(2 + (i * 37) % 201) * 4096));
        AWAIT_VALUE(result, Scanner::scan(large), "the large-files scan");
        QList<qint64> sizes, largest;
        for (const CleanItem& item : result.items)
            sizes << item.size, largest << qint64(202 - largest.size()) * 4096;
        QCOMPARE(sizes.size(), 200);
        QCOMPARE(sizes, largest);
    }

    // Only a refused root flags (not in a large-files walk); one behind a refused search is
    // missing.
    void refusals()
    {
        if (!canDropPrivileges()) QSKIP("needs root to drop to an unprivileged user");
        QVERIFY(setPermissions(home, 0755));
        const Category dev = category("dev");
        const QString open = dev.roots[3] + "/mixed/open";
        QVERIFY(writeFile(dev.roots[0] + "/locked-away/f", 8000) &&
                setPermissions(dev.roots[0], 0700) && writeFile(open, 12000) &&
                writeFile(dev.roots[3] + "/mixed/locked/f", 40000) &&
                setPermissions(dev.roots[3] + "/mixed/locked", 0700));
        QVERIFY(scansAsNobodyTo(dev, {{{dev.roots[3] + "/mixed", blocksOf(open)}}, true, {}}));
        const Category logs = category("logs");
        QVERIFY(writeFile(logs.roots[0] + "/Xorg.0.log", 8000) &&
                setPermissions(home + "/.local/share", 0700));
        QVERIFY(scansAsNobodyTo(logs, ScanResult()));
        const Category large = category("large", kMiB / 16);
        QVERIFY(allocate(large.roots[0] + "/hidden-from-us.iso", kMiB) &&
                setPermissions(large.roots[0], 0700) &&
                allocate(large.roots[1] + "/open/y.iso", kMiB / 2));
        QVERIFY(scansAsNobodyTo(large, expected({large.roots[1] + "/open/y.iso"})));
    }

    // Roots and entries vanish, turn into links and come back while scans run: every scan ends,
    // and every item is still right below a root. SORVI_STRESS_SECONDS lengthens the run.
    void rootsAndEntriesVanishDuringScans()
    {
        const Category dev = category("dev");
        const QByteArray root = PathCodec::encode(dev.roots[0]),
                         spare = PathCodec::encode(outside + "/spare"),
                         entry = PathCodec::encode(dev.roots[1] + "/entry");
        QVERIFY(writeFile(outside + "/spare/entry/f", 20000));
        QVERIFY(makeDir(dev.roots[1]) && makeDir(QFileInfo(dev.roots[0]).path()));
        std::atomic<bool> stop{false};
        std::thread churn([&] {
            for (unsigned round = 0; !stop; ++round) {
                ::unlink(root.constData()); // the root: gone, a folder, a link, a dangling link
                ::rename(root.constData(), spare.constData());
                if (round % 3 == 0) ::rename(spare.constData(), root.constData());
                if (round % 3 == 1) ::symlink(spare.constData(), root.constData());
                if (round % 3 == 2) ::symlink("/nonexistent", root.constData());
                if (::mkdir(entry.constData(), 0755) == 0) // an entry: a folder with a file, gone
                    writeFileRaw(entry + "/f", 5000);
                else
                    ::unlink((entry + "/f").constData()), ::rmdir(entry.constData());
            }
        });
        const int seconds = std::max(1, qEnvironmentVariableIntValue("SORVI_STRESS_SECONDS"));
        bool sound = true;
        for (QDeadlineTimer deadline(1000LL * seconds); sound && !deadline.hasExpired();) {
            const std::optional<ScanResult> result = Await::task(Scanner::scan(dev), "a scan");
            sound = result.has_value();
            for (const CleanItem& item : result.value_or(ScanResult()).items)
                sound = sound && item.size > 0 && dev.roots.contains(QFileInfo(item.url).path());
        }
        stop = true;
        churn.join();
        QVERIFY(sound);
    }

    void cleanupTestCase() { setPermissions(home, 0700); }
};

SORVI_TEST_MAIN(TestScanner)
#include "tst_scanner.moc"
