#include "core/scanner.h"
#include "platform/path_codec.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QCoro/QCoroTask>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using namespace TreeBuilder;

namespace {

// Generous: a scan that has not finished by then is hanging, not slow.
constexpr int kScanWait = 120'000;

// Seconds the race runs; SORVI_STRESS_SECONDS asks for a longer run.
int raceSeconds()
{
    const int requested = qEnvironmentVariableIntValue("SORVI_STRESS_SECONDS");
    return requested > 0 ? requested : 2;
}

Category category(const QString& id)
{
    return *Category::find(id);
}

Category withMinBytes(qint64 minBytes)
{
    Category large = category(u"large"_s);
    large.kind = ScanKind::largeFiles(minBytes);
    return large;
}

// Scans on the GUI thread's event loop, giving up (nullopt) instead of hanging.
std::optional<ScanResult> scanned(const Category& category)
{
    auto task = Scanner::scan(category);
    if (!QTest::qWaitFor([&] { return task.isReady(); }, kScanWait)) return std::nullopt;
    return QCoro::waitFor(task);
}

// Gives the file exactly `bytes` of allocated blocks without writing them where the file system
// allows it, so tests of 100 MiB files stay quick.
bool allocate(const QString& path, qint64 bytes)
{
    makeDir(QFileInfo(path).path());
    const int fd =
        ::open(PathCodec::encode(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool ok = ::posix_fallocate(fd, 0, off_t(bytes)) == 0;
    ::close(fd);
    return ok || writeFile(path, bytes);
}

bool makeFifo(const QString& path)
{
    makeDir(QFileInfo(path).path());
    return ::mkfifo(PathCodec::encode(path).constData(), 0644) == 0;
}

bool setMode(const QString& path, mode_t mode)
{
    return ::chmod(PathCodec::encode(path).constData(), mode) == 0;
}

// The items a correct scan yields for these paths, largest first (no ties among them).
QList<CleanItem> expectedItems(const QStringList& paths)
{
    QList<CleanItem> items;
    for (const QString& path : paths)
        items.append(CleanItem{path, expectedAllocated(path)});
    std::stable_sort(items.begin(), items.end(),
                     [](const CleanItem& a, const CleanItem& b) { return a.size > b.size; });
    return items;
}

bool largestFirst(const QList<CleanItem>& items)
{
    return std::is_sorted(items.begin(), items.end(),
                          [](const CleanItem& a, const CleanItem& b) { return a.size > b.size; });
}

// Runs the scan in a forked child that dropped to the unprivileged user 65534 (root ignores
// permissions); the child makes thread pools of its own, whatever the parent ran before.
bool scansAsNobodyTo(const Category& category, const ScanResult& expected)
{
    return runAsNobody([&] {
               ::alarm(120); // a hanging scan ends the child instead of the test run
               return QCoro::waitFor(Scanner::scan(category)) == expected ? 0 : 1;
           }) == 0;
}

} // namespace

class TestScanner : public QObject
{
    Q_OBJECT

    QString home() const { return TestHome::path(); }
    QString caches() const { return category(u"caches"_s).roots[0]; }

private slots:
    // Every test starts from a home with none of the category folders.
    void init()
    {
        setMode(home(), 0700);
        for (const QString& name :
             {u"Library"_s, u".Trash"_s, u".npm"_s, u".gradle"_s, u"Downloads"_s, u"Documents"_s,
              u"Desktop"_s, u"Movies"_s, u"outside"_s}) {
            // Byte-exact names included, which QDir cannot name.
            std::error_code error;
            std::filesystem::remove_all(PathCodec::encode(home() + u'/' + name).toStdString(),
                                        error);
            QVERIFY(!error);
        }
    }

    void missingRootsGiveNothing()
    {
        for (const Category& c : Category::all()) {
            const std::optional<ScanResult> result = scanned(c);
            QVERIFY2(result && *result == ScanResult(), qPrintable(c.id));
        }
    }

    // Only an entry named exactly ".DS_Store" at the top is dropped; deeper ones count toward
    // their folder, and look-alike names are ordinary entries.
    void dsStoreDroppedOnlyAtTheTop()
    {
        QVERIFY(writeFile(caches() + "/.DS_Store", 12000));
        std::optional<ScanResult> result = scanned(category(u"caches"_s));
        QVERIFY(result);
        QCOMPARE(*result, ScanResult());
        QVERIFY(writeFile(caches() + "/app/.DS_Store", 30000));
        QVERIFY(writeFile(caches() + "/app/data", 5000));
        QVERIFY(writeFile(caches() + "/.ds_store", 50000));
        QVERIFY(writeFile(caches() + "/x.DS_Store", 70000));
        QVERIFY(writeFile(caches() + "/.DS_Store2", 90000));
        result = scanned(category(u"caches"_s));
        QVERIFY(result);
        QCOMPARE(result->items,
                 expectedItems({caches() + "/app", caches() + "/.ds_store",
                                caches() + "/x.DS_Store", caches() + "/.DS_Store2"}));
        QCOMPARE(result->items.last().size,
                 blocksOf(caches() + "/app/.DS_Store") + blocksOf(caches() + "/app/data"));
    }

    // A hidden folder is an item, sized with everything below it; nothing that occupies no blocks
    // of its own is one: links are never followed.
    void onlyEntriesWithBlocksAreItems()
    {
        const QString outside = home() + "/outside";
        QVERIFY(writeFile(outside + "/big", 3 * 1024 * 1024));
        QVERIFY(writeFile(outside + "/dir/inner", 500000));
        QVERIFY(makeDir(caches() + "/empty-folder"));
        QVERIFY(writeFile(caches() + "/empty-file", 0));
        QVERIFY(makeLink(outside + "/big", caches() + "/link-to-big"));
        QVERIFY(makeLink(outside + "/dir", caches() + "/link-to-folder"));
        QVERIFY(makeLink(outside + "/dir", caches() + "/folder-of-links/link"));
        QVERIFY(makeLink(caches() + "/nowhere", caches() + "/dangling"));
        QVERIFY(makeFifo(caches() + "/pipe"));
        QVERIFY(writeFile(caches() + "/.hidden/a", 2048));
        QVERIFY(writeFile(caches() + "/.hidden/deep/er/b", 2048));
        const std::optional<ScanResult> result = scanned(category(u"caches"_s));
        QVERIFY(result);
        QCOMPARE(*result, (ScanResult{expectedItems({caches() + "/.hidden"}), false}));
        QVERIFY(result->items[0].size >= 4096);
    }

    void equalSizesAreAllKept()
    {
        for (int i = 0; i < 12; ++i)
            QVERIFY(writeFile(caches() + "/same" + QString::number(i) + "/f", 8192));
        const std::optional<ScanResult> result = scanned(category(u"caches"_s));
        QVERIFY(result);
        QSet<QString> urls;
        for (const CleanItem& item : result->items)
            urls.insert(item.url);
        QCOMPARE(result->items.size(), 12);
        QCOMPARE(urls.size(), 12);
    }

    void namesThatAreNotUtf8()
    {
        const QByteArray root = PathCodec::encode(caches());
        QVERIFY(makeDir(caches()));
        QVERIFY(writeFileRaw(root + "/caf\xE9", 20000));
        QVERIFY(writeFile(caches() + "/café", 4000));
        const std::optional<ScanResult> result = scanned(category(u"caches"_s));
        QVERIFY(result);
        QCOMPARE(result->items,
                 expectedItems({PathCodec::decode(root + "/caf\xE9"), caches() + "/café"}));
        QCOMPARE(PathCodec::encode(result->items[0].url), root + "/caf\xE9");
    }

    // A root that is not a plain folder: a link to a folder is listed through the link; anything
    // else that exists but cannot be listed sets the flag, and the other roots are still scanned.
    void rootsThatAreNotFolders_data()
    {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<bool>("unreadable");
        QTest::newRow("link to a folder") << u"folder link"_s << false;
        QTest::newRow("regular file") << u"file"_s << true;
        QTest::newRow("dangling link") << u"dangling"_s << true;
        QTest::newRow("named pipe") << u"fifo"_s << true;
    }
    void rootsThatAreNotFolders()
    {
        QFETCH(QString, shape);
        QFETCH(bool, unreadable);
        const Category dev = category(u"dev"_s);
        const QString root = dev.roots[0];
        const QString outside = home() + "/outside";
        QVERIFY(writeFile(outside + "/folder/entry/f", 30000));
        QVERIFY(writeFile(dev.roots[2] + "/other/f", 5000));
        QVERIFY(makeDir(QFileInfo(root).path()));
        QVERIFY(shape == u"folder link" ? makeLink(outside + "/folder", root)
                : shape == u"file"      ? writeFile(root, 30000)
                : shape == u"dangling"  ? makeLink(outside + "/none", root)
                                        : makeFifo(root));
        const std::optional<ScanResult> result = scanned(dev);
        QVERIFY(result);
        QStringList paths{dev.roots[2] + "/other"};
        if (!unreadable) paths.append(root + "/entry");
        QCOMPARE(*result, (ScanResult{expectedItems(paths), unreadable}));
    }

    // A large-files scan: every visible regular file of at least minBytes allocated bytes, found
    // anywhere below the roots.
    void largeFilesThreshold_data()
    {
        QTest::addColumn<qint64>("allocated");
        QTest::addColumn<bool>("found");
        const qint64 minBytes = category(u"large"_s).kind.minBytes;
        QTest::newRow("exactly minBytes") << minBytes << true;
        QTest::newRow("one block less") << minBytes - 4096 << false;
    }
    void largeFilesThreshold()
    {
        QFETCH(qint64, allocated);
        QFETCH(bool, found);
        const Category large = category(u"large"_s);
        const QString file = large.roots[1] + "/sub/dir/video.mov";
        QVERIFY(allocate(file, allocated));
        if (blocksOf(file) != allocated)
            QSKIP("this file system does not allocate exactly what is asked");
        const std::optional<ScanResult> result = scanned(large);
        QVERIFY(result);
        const QList<CleanItem> items{{file, allocated}};
        QCOMPARE(*result, (ScanResult{found ? items : QList<CleanItem>(), false}));
    }

    void largeFilesSkipHiddenAndLinks()
    {
        const Category large = withMinBytes(64 * 1024);
        const QString outside = home() + "/outside";
        QVERIFY(allocate(outside + "/big", 1024 * 1024));
        QVERIFY(allocate(large.roots[0] + "/.cache/big.iso", 1024 * 1024));
        QVERIFY(allocate(large.roots[0] + "/.hidden-file.iso", 1024 * 1024));
        QVERIFY(makeLink(outside + "/big", large.roots[0] + "/link.iso"));
        QVERIFY(makeLink(outside, large.roots[0] + "/link-to-folder"));
        QVERIFY(makeFifo(large.roots[0] + "/pipe"));
        QVERIFY(allocate(large.roots[0] + "/shown/a.iso", 512 * 1024));
        QVERIFY(allocate(large.roots[2] + "/b.iso", 256 * 1024));
        QVERIFY(writeFile(large.roots[1], 1024 * 1024)); // a root that is a file
        const std::optional<ScanResult> result = scanned(large);
        QVERIFY(result);
        QCOMPARE(
            *result,
            (ScanResult{expectedItems({large.roots[0] + "/shown/a.iso", large.roots[2] + "/b.iso"}),
                        false}));
    }

    void largeFilesKeepTheLargest200_data()
    {
        QTest::addColumn<int>("files");
        QTest::newRow("exactly 200") << 200;
        QTest::newRow("250") << 250;
    }
    void largeFilesKeepTheLargest200()
    {
        QFETCH(int, files);
        const Category large = withMinBytes(8192);
        // Distinct sizes, spread over the roots and shuffled against their names.
        for (int i = 0; i < files; ++i)
            QVERIFY(allocate(large.roots[i % 4] + "/d" + QString::number(i % 7) + "/f" +
                                 QString::number(i),
                             qint64(2 + (i * 37) % files) * 4096));
        QVERIFY(allocate(large.roots[0] + "/too-small", 4096));
        const std::optional<ScanResult> result = scanned(large);
        QVERIFY(result);
        QCOMPARE(result->items.size(), qMin(files, 200));
        QVERIFY(largestFirst(result->items));
        QCOMPARE(result->items.first().size, qint64(files + 1) * 4096);
        QCOMPARE(result->items.last().size, qint64(files + 2 - qMin(files, 200)) * 4096);
        for (const CleanItem& item : result->items)
            QCOMPARE(item.size, blocksOf(item.url));
    }

    // The scan runs off the GUI thread: while it is awaited, the GUI thread's event loop keeps
    // running its timers.
    void eventLoopKeepsTickingDuringALargeScan()
    {
        // 10,000 files: one entry holding 6,000 of them, the rest spread over 40 entries.
        for (int i = 0; i < 10'000; ++i) {
            const int entry = i < 6000 ? 0 : 1 + (i - 6000) / 100;
            QVERIFY(writeFile(caches() + "/entry" + QString::number(entry) + "/d" +
                                  QString::number(i / 100) + "/f" + QString::number(i % 100),
                              1));
        }
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, this, [&] { ++ticks; });
        timer.start(0);
        auto task = Scanner::scan(category(u"caches"_s));
        QVERIFY(!task.isReady());
        QVERIFY(QTest::qWaitFor([&] { return task.isReady(); }, kScanWait));
        QVERIFY(ticks > 0);
        const ScanResult result = QCoro::waitFor(task);
        QCOMPARE(result.items.size(), 41);
        QCOMPARE(result.items[0].url, caches() + "/entry0");
    }

    // Entries and a root appear, vanish and change kind while scans run: every scan finishes,
    // with items that lie directly below a root and occupy blocks.
    void rootsAndEntriesVanishDuringScans()
    {
        const Category dev = category(u"dev"_s);
        const QByteArray shifting = PathCodec::encode(dev.roots[0]);
        const QByteArray churning = PathCodec::encode(dev.roots[1]);
        const QByteArray spare = PathCodec::encode(home() + "/outside/spare");
        QVERIFY(makeDir(dev.roots[1]));
        QVERIFY(makeDir(QFileInfo(dev.roots[0]).path()));
        QVERIFY(writeFile(home() + "/outside/spare/entry/f", 20000));
        QVERIFY(writeFile(dev.roots[3] + "/steady/f", 20000));
        std::atomic<bool> stop{false};
        std::thread churn([&] {
            for (unsigned round = 0; !stop; ++round) {
                // The root: a folder, gone, a file, a link to a folder, a dangling link.
                ::unlink(shifting.constData());
                ::rename(shifting.constData(), spare.constData());
                if (round % 5 == 0) ::rename(spare.constData(), shifting.constData());
                if (round % 5 == 2)
                    ::close(::open(shifting.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
                if (round % 5 == 3) ::symlink(spare.constData(), shifting.constData());
                if (round % 5 == 4) ::symlink("/nonexistent", shifting.constData());
                // Entries: folders with files created and removed.
                const QByteArray entry = churning + "/e" + QByteArray::number(round % 8);
                const bool made = ::mkdir(entry.constData(), 0755) == 0;
                for (int f = 0; f < 20; ++f) {
                    const QByteArray file = entry + "/f" + QByteArray::number(f);
                    made ? ::close(::open(file.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644))
                         : ::unlink(file.constData());
                }
                if (!made) ::rmdir(entry.constData());
            }
        });
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(raceSeconds());
        int scans = 0;
        bool sound = true;
        for (; sound && std::chrono::steady_clock::now() < until; ++scans) {
            const std::optional<ScanResult> result = scanned(dev);
            sound = result && largestFirst(result->items);
            for (qsizetype i = 0; sound && i < result->items.size(); ++i) {
                const CleanItem& item = result->items[i];
                sound = item.size > 0 && dev.roots.contains(QFileInfo(item.url).path());
            }
        }
        stop = true;
        churn.join();
        QVERIFY(sound);
        QVERIFY(scans > 0);
    }

    // Permission refusals, as an unprivileged user in a forked child. These run after the scans
    // above have started the thread pools, which the child must not depend on.
    // A refused root sets the flag; the other roots are still scanned.
    void otherRootsAreScannedAfterARefusal()
    {
        if (!canDropPrivileges()) QSKIP("needs root to drop to an unprivileged user");
        const Category dev = category(u"dev"_s);
        QVERIFY(setMode(home(), 0755));
        QVERIFY(writeFile(dev.roots[0] + "/locked-away/f", 8000));
        QVERIFY(setMode(dev.roots[0], 0700));
        QVERIFY(writeFile(dev.roots[2] + "/pkg/f", 8000));
        // An unreadable folder inside an entry counts nothing and is no refusal of a root.
        QVERIFY(writeFile(dev.roots[3] + "/mixed/open", 12000));
        QVERIFY(writeFile(dev.roots[3] + "/mixed/locked/f", 40000));
        QVERIFY(setMode(dev.roots[3] + "/mixed/locked", 0700));
        QVERIFY(scansAsNobodyTo(dev,
                                {{{dev.roots[3] + "/mixed", blocksOf(dev.roots[3] + "/mixed/open")},
                                  {dev.roots[2] + "/pkg", blocksOf(dev.roots[2] + "/pkg/f")}},
                                 true}));
    }

    // A root whose parent refuses the search cannot even be seen: skipped, like a missing one.
    void invisibleRootSetsNoFlag()
    {
        if (!canDropPrivileges()) QSKIP("needs root to drop to an unprivileged user");
        QVERIFY(setMode(home(), 0755));
        const Category ios = category(u"ios"_s);
        QVERIFY(writeFile(ios.roots[0] + "/device/f", 8000));
        QVERIFY(setMode(home() + "/Library/Application Support", 0700));
        QVERIFY(scansAsNobodyTo(ios, ScanResult()));
    }

    void refusedLargeFilesRootSetsNoFlag()
    {
        if (!canDropPrivileges()) QSKIP("needs root to drop to an unprivileged user");
        const Category large = withMinBytes(64 * 1024);
        QVERIFY(setMode(home(), 0755));
        QVERIFY(allocate(large.roots[0] + "/hidden-from-us.iso", 1024 * 1024));
        QVERIFY(setMode(large.roots[0], 0700));
        QVERIFY(allocate(large.roots[1] + "/locked/x.iso", 1024 * 1024));
        QVERIFY(setMode(large.roots[1] + "/locked", 0700));
        QVERIFY(allocate(large.roots[1] + "/open/y.iso", 512 * 1024));
        const QString open = large.roots[1] + "/open/y.iso";
        QVERIFY(scansAsNobodyTo(large, {{{open, blocksOf(open)}}, false}));
    }

    void cleanupTestCase() { setMode(home(), 0700); }
};

SORVI_TEST_MAIN(TestScanner)
#include "tst_scanner.moc"
