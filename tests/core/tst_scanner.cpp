#include "core/scanner.h"
#include "platform/path_codec.h"
#include "support/await.h"
#include "support/pool_gate.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QDeadlineTimer>
#include <atomic>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

// The result a correct scan gives for these items, measured independently, largest first.
ScanResult expected(const QStringList& paths, bool unreadable = false)
{
    ScanResult result{{}, unreadable, {}};
    for (const QString& path : paths)
        result.items.append(CleanItem{path, expectedAllocated(path)});
    std::stable_sort(result.items.begin(), result.items.end(),
                     [](const CleanItem& a, const CleanItem& b) { return a.size > b.size; });
    return result;
}

// The items and the flag of a scan; its pinned roots are checked on their own.
ScanResult found(ScanResult result)
{
    result.pinnedRoots.clear();
    return result;
}

// Root ignores permissions: the scan runs in a child that dropped to an unprivileged user.
bool scansAsNobodyTo(const Category& c, const ScanResult& result)
{
    // runAsNobody ends a child that hangs, so this wait has a deadline too.
    return runAsNobody([&] { return found(QCoro::waitFor(Scanner::scan(c))) == result ? 0 : 1; }) ==
           0;
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

    void missingRootsGiveNothing()
    {
        for (const Category& c : Category::all()) {
            AWAIT_VALUE(result, Scanner::scan(c), "a scan of missing roots");
            QVERIFY2(result == ScanResult(), qPrintable(c.id));
        }
    }

    // Each direct child that occupies blocks, hidden ones too; ".DS_Store" only at the top is
    // dropped; links are neither items nor followed; names that are not UTF-8 keep their bytes.
    void childrenAreSizedItems()
    {
        QVERIFY(writeFile(caches + "/.DS_Store", 12000));
        QVERIFY(writeFile(caches + "/app/.DS_Store", 30000));
        QVERIFY(writeFile(caches + "/.ds_store", 50000));
        QVERIFY(writeFile(caches + "/.hidden/deep/er/b", 2048));
        QVERIFY(makeDir(caches + "/empty-folder"));
        QVERIFY(writeFile(caches + "/empty-file", 0));
        QVERIFY(makeLink(outside + "/big", caches + "/link-to-big"));
        QVERIFY(makeLink(outside, caches + "/folder-of-links/link"));
        QVERIFY(makeFifo(caches + "/pipe"));
        const QByteArray latin1 = PathCodec::encode(caches) + "/caf\xE9";
        QVERIFY(writeFileRaw(latin1, 20000));
        AWAIT_VALUE(result, Scanner::scan(category("caches")), "the caches scan");
        QCOMPARE(found(result), expected({caches + "/app", caches + "/.ds_store",
                                          caches + "/.hidden", PathCodec::decode(latin1)}));
        QVERIFY(std::any_of(result.items.begin(), result.items.end(), [&](const CleanItem& item) {
            return PathCodec::encode(item.url) == latin1;
        }));
    }

    // A link to a folder is listed through; anything else that exists but cannot be listed sets
    // the flag, and the other roots are still scanned.
    void rootsThatAreNotFolders_data()
    {
        QTest::addColumn<int>("shape");
        QTest::newRow("link to a folder") << 0;
        QTest::newRow("regular file") << 1;
        QTest::newRow("dangling link") << 2;
        QTest::newRow("named pipe") << 3;
    }
    void rootsThatAreNotFolders()
    {
        QFETCH(int, shape);
        const Category dev = category("dev");
        const QString root = dev.roots[0];
        QVERIFY(writeFile(outside + "/folder/entry/f", 30000));
        QVERIFY(writeFile(dev.roots[2] + "/other/f", 5000));
        QVERIFY(makeDir(QFileInfo(root).path()));
        QVERIFY(shape == 0   ? makeLink(outside + "/folder", root)
                : shape == 1 ? writeFile(root, 30000)
                : shape == 2 ? makeLink(outside + "/none", root)
                             : makeFifo(root));
        AWAIT_VALUE(result, Scanner::scan(dev), "the dev scan");
        QCOMPARE(found(result), shape == 0 ? expected({dev.roots[2] + "/other", root + "/entry"})
                                           : expected({dev.roots[2] + "/other"}, true));
        // Pinned as listed: a root that is a link, as the folder it leads to.
        RootPins pins{{dev.roots[2], *FileSystem::identity(dev.roots[2])}};
        if (shape == 0) pins.insert(root, *FileSystem::identity(outside + "/folder"));
        QCOMPARE(result.pinnedRoots, pins);
    }

    // With something in every place, each category lists what its own places hold (an item of
    // the trash with the origin its record names), and no path is listed by two categories.
    void everyCategoryListsItsOwnPlaces()
    {
        QHash<QString, QStringList> made;
        for (const Category& c : Category::all()) {
            for (const QString& root : c.roots) {
                const QString item = root + "/item-of-" + c.id;
                QVERIFY(c.kind.isLargeFiles() ? allocate(item, c.kind.minBytes)
                                              : writeFile(item + "/f", 4096));
                made[c.id].append(item);
            }
        }
        QVERIFY(makeDir(TestHome::trashPath() + "/info"));
        QFile record(TestHome::trashPath() + "/info/item-of-trash.trashinfo");
        QVERIFY(record.open(QIODevice::WriteOnly));
        record.write("[Trash Info]\nPath=/home/an/T%C3%A0i%20li%E1%BB%87u/b%C3%A1o.pdf\n");
        record.close();
        QList<std::pair<QString, QString>> listed; // category, path
        for (const Category& c : Category::all()) {
            AWAIT_VALUE(result, Scanner::scan(c), "the scan of every category");
            QStringList urls;
            for (const CleanItem& item : result.items) {
                urls.append(item.url);
                listed.append({c.id, item.url});
                QCOMPARE(item.origin, c.id == u"trash"
                                          ? std::optional<QString>("/home/an/Tài liệu/báo.pdf")
                                          : std::nullopt);
            }
            urls.sort();
            made[c.id].sort();
            QCOMPARE(urls, made[c.id]);
        }
        for (const auto& [id, path] : listed)
            for (const auto& [otherId, other] : listed)
                QVERIFY2(id == otherId || !(path + '/').startsWith(other + '/'), qPrintable(path));
    }

    // Every visible regular file of at least minBytes allocated bytes anywhere below a root.
    void largeFiles()
    {
        const Category large = category("large");
        const qint64 min = large.kind.minBytes;
        QVERIFY(allocate(large.roots[1] + "/sub/dir/exact.mov", min));
        QVERIFY(allocate(large.roots[1] + "/short.mov", min - 4096));
        if (blocksOf(large.roots[1] + "/short.mov") != min - 4096)
            QSKIP("this file system does not allocate exactly what is asked");
        QVERIFY(allocate(large.roots[0] + "/.cache/big.iso", min));
        QVERIFY(allocate(large.roots[0] + "/.hidden.iso", min));
        QVERIFY(allocate(outside + "/huge", min));
        QVERIFY(makeLink(outside + "/huge", large.roots[0] + "/link.iso"));
        QVERIFY(makeLink(outside, large.roots[0] + "/link-to-folder"));
        QVERIFY(makeFifo(large.roots[0] + "/pipe"));
        QVERIFY(writeFile(large.roots[2], kMiB)); // a root that is a file: no flag
        AWAIT_VALUE(result, Scanner::scan(large), "the large-files scan");
        QCOMPARE(found(result), expected({large.roots[1] + "/sub/dir/exact.mov"}));
    }

    // More than 200 qualifying files: the 200 largest, largest first.
    void largeFilesKeepTheLargest200()
    {
        const Category large = category("large", 8192);
        // Distinct sizes, spread over the roots and shuffled against their names.
        for (int i = 0; i < 201; ++i)
            QVERIFY(allocate(QStringLiteral("%1/d%2/f%3").arg(large.roots[i % 4]).arg(i % 7).arg(i),
                             qint64(2 + (i * 37) % 201) * 4096));
        AWAIT_VALUE(result, Scanner::scan(large), "the large-files scan");
        QCOMPARE(result.items.size(), 200);
        for (int i = 0; i < 200; ++i)
            QCOMPARE(result.items[i].size, qint64(202 - i) * 4096);
    }

    // The walk runs on the I/O pool: while the pool is held, the scan waits and the GUI
    // thread's event loop keeps turning.
    void scanRunsOffTheGuiThread()
    {
        QVERIFY(writeFile(caches + "/entry/f", 5000));
        Await::LoopTicker ticker;
        PoolGate gate;
        QVERIFY(gate.held());
        auto scan = Scanner::scan(category("caches"));
        QVERIFY(!scan.isReady());
        AWAIT_UNTIL(ticker.ticks() >= 3, "the event loop turning while the scan waits");
        gate.release();
        AWAIT_VALUE(result, std::move(scan), "the held scan");
        QCOMPARE(found(result), expected({caches + "/entry"}));
    }

    // A root and its entries appear, vanish and change kind while scans run: every scan ends,
    // with items directly below a root. SORVI_STRESS_SECONDS runs it longer than a second.
    void rootsAndEntriesVanishDuringScans()
    {
        const Category dev = category("dev");
        const QByteArray root = PathCodec::encode(dev.roots[0]);
        const QByteArray spare = PathCodec::encode(outside + "/spare");
        const QByteArray entry = PathCodec::encode(dev.roots[1] + "/entry");
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
        QDeadlineTimer deadline(1000LL *
                                std::max(1, qEnvironmentVariableIntValue("SORVI_STRESS_SECONDS")));
        bool sound = true;
        while (sound && !deadline.hasExpired()) {
            const std::optional<ScanResult> result = Await::task(Scanner::scan(dev), "a scan");
            sound = result.has_value();
            for (const CleanItem& item : result.value_or(ScanResult()).items)
                sound = sound && item.size > 0 && dev.roots.contains(QFileInfo(item.url).path());
        }
        stop = true;
        churn.join();
        QVERIFY(sound);
    }

    // A refused root sets the flag, the others are still scanned, and a refused folder inside
    // an entry counts nothing; a root whose parent refuses the search is as good as missing; a
    // large-files walk never sets the flag.
    void refusals()
    {
        if (!canDropPrivileges()) QSKIP("needs root to drop to an unprivileged user");
        QVERIFY(setPermissions(home, 0755));
        const Category dev = category("dev");
        QVERIFY(writeFile(dev.roots[0] + "/locked-away/f", 8000));
        QVERIFY(setPermissions(dev.roots[0], 0700));
        QVERIFY(writeFile(dev.roots[3] + "/mixed/open", 12000));
        QVERIFY(writeFile(dev.roots[3] + "/mixed/locked/f", 40000));
        QVERIFY(setPermissions(dev.roots[3] + "/mixed/locked", 0700));
        const QString open = dev.roots[3] + "/mixed/open";
        QVERIFY(scansAsNobodyTo(dev, {{{dev.roots[3] + "/mixed", blocksOf(open)}}, true, {}}));

        const Category logs = category("logs");
        QVERIFY(writeFile(logs.roots[0] + "/Xorg.0.log", 8000));
        QVERIFY(setPermissions(home + "/.local/share", 0700));
        QVERIFY(scansAsNobodyTo(logs, ScanResult()));

        const Category large = category("large", kMiB / 16);
        QVERIFY(allocate(large.roots[0] + "/hidden-from-us.iso", kMiB));
        QVERIFY(setPermissions(large.roots[0], 0700));
        QVERIFY(allocate(large.roots[1] + "/open/y.iso", kMiB / 2));
        QVERIFY(scansAsNobodyTo(large, expected({large.roots[1] + "/open/y.iso"})));
    }

    void cleanupTestCase() { setPermissions(home, 0700); }
};

SORVI_TEST_MAIN(TestScanner)
#include "tst_scanner.moc"
