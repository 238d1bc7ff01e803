#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "platform/trash.h"
#include "platform/unique_dir.h"
#include "platform/unique_fd.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace TreeBuilder;

namespace {

// Milliseconds each row races; SORVI_STRESS_SECONDS asks for a longer run.
int raceMilliseconds()
{
    const int requested = qEnvironmentVariableIntValue("SORVI_STRESS_SECONDS");
    return requested > 0 ? requested * 1000 : 600;
}

// Creates `rel` below `root` one component at a time without following a link, so that the
// builder itself never writes through a link the swapper put in place; `files` files in each.
void buildBeneath(const QByteArray& root, const QByteArray& rel, int files)
{
    UniqueFd fd(::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const QByteArray& component : rel.split('/')) {
        ::mkdirat(fd.get(), component.constData(), 0755);
        fd = UniqueFd(::openat(fd.get(), component.constData(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd) return;
        for (int i = 0; i < files; ++i) {
            const QByteArray name = 'f' + QByteArray::number(i);
            (void)UniqueFd(::openat(fd.get(), name.constData(),
                                    O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
        }
    }
}

// Runs `remove` over and over while another thread swaps the folder `at` for a link to
// `outside` and back, for raceMilliseconds().
void race(const QByteArray& at, const QByteArray& outside, const std::function<void()>& remove)
{
    std::atomic<bool> stop{false};
    std::atomic<int> removals{0}, swaps{0};
    std::thread remover([&] {
        for (; !stop; ++removals)
            remove();
    });
    std::thread swapper([&] {
        const QByteArray away = at + ".away";
        while (!stop) {
            if (::rename(at.constData(), away.constData()) != 0) continue;
            if (::symlink(outside.constData(), at.constData()) == 0) {
                ++swaps;
                std::this_thread::yield();
                ::unlink(at.constData());
            }
            if (::rename(away.constData(), at.constData()) != 0)
                FileSystem::removeItem(QFileInfo(PathCodec::decode(away)).path(),
                                       PathCodec::decode(away));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(raceMilliseconds()));
    stop = true;
    remover.join();
    swapper.join();
    qInfo("%d removals, %d swaps", removals.load(), swaps.load());
    QVERIFY(removals > 0 && swaps > 0);
}

} // namespace

class TestRemovalRace : public QObject
{
    Q_OBJECT
private slots:
    // A remover rebuilds the item through the root it pinned, repairs its permissions and
    // removes it while a swapper replaces one folder on its way, or the root itself, by a link
    // to `outside`: nothing outside may ever be removed, nor a mode there changed.
    void swappedLinkNeverLeadsOutside_data()
    {
        QTest::addColumn<QByteArray>("item");
        QTest::addColumn<QByteArray>("swapped");
        QTest::newRow("at the item's top") << QByteArray("item") << QByteArray("/item");
        QTest::newRow("deep inside the item") << QByteArray("item") << QByteArray("/item/a/b");
        QTest::newRow("between root and item") << QByteArray("mid/item") << QByteArray("/mid");
        QTest::newRow("the root itself") << QByteArray("item") << QByteArray();
    }
    void swappedLinkNeverLeadsOutside()
    {
        QFETCH(QByteArray, item);
        QFETCH(QByteArray, swapped);
        QTemporaryDir base;
        const QByteArray outside = PathCodec::encode(base.path()) + "/outside";
        const QByteArray root = PathCodec::encode(base.path()) + "/root";
        QVERIFY(makeDir(PathCodec::decode(root)) && makeDir(PathCodec::decode(outside)));
        for (const char* dir : {"item/a/b", "a/b", "b"})
            buildBeneath(outside, dir, 2);
        const QStringList folders{"/item", "/item/a", "/item/a/b", "/a", "/a/b", "/b"};
        for (const QString& folder : folders)
            QVERIFY(setPermissions(PathCodec::decode(outside) + folder, 0555));
        const int before = countEntries(PathCodec::decode(outside));
        QCOMPARE(before, 1 + 6 * 3);
        const QString rootPath = PathCodec::decode(root);
        const QString itemPath = PathCodec::decode(root + '/' + item);
        const std::optional<FileSystem::Identity> pin = FileSystem::identity(rootPath);
        const UniqueFd pinned(::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        QVERIFY(pin && pinned);
        race(root + swapped, outside, [&] {
            buildBeneath("/proc/self/fd/" + QByteArray::number(pinned.get()), item + "/a/b/c", 2);
            FileSystem::grantOwnerAccess(rootPath, itemPath, ::getuid(), pin);
            FileSystem::removeItem(rootPath, itemPath, pin);
        });
        QCOMPARE(countEntries(PathCodec::decode(outside)), before);
        for (const QString& folder : folders)
            QCOMPARE(permissionsOf(PathCodec::decode(outside) + folder), mode_t(0555));
    }

    // Moves to the trash race the same swap between the root and the item: nothing outside is
    // ever trashed.
    void trashingThroughASwappedLinkNeverLeadsOutside()
    {
        QTemporaryDir base(TestHome::path() + "/race-XXXXXX");
        const QByteArray root = PathCodec::encode(base.path()) + "/root";
        const QByteArray outside = PathCodec::encode(base.path()) + "/outside";
        QVERIFY(makeDir(PathCodec::decode(root)) && makeDir(PathCodec::decode(outside)));
        buildBeneath(outside, "item/a", 2);
        const int before = countEntries(PathCodec::decode(outside));
        const QString rootPath = PathCodec::decode(root);
        race(root + "/mid", outside, [&] {
            buildBeneath(root, "mid/item/a", 2);
            FileSystem::moveToTrash(rootPath, rootPath + "/mid/item");
        });
        QCOMPARE(countEntries(PathCodec::decode(outside)), before);
        QVERIFY(FileSystem::removeItem(TestHome::path(), TestHome::trashPath()).ok());
    }

    // The same swap made at the worst moment: inotify reports that the remover listed the
    // folder, and the subfolder swapped for a link is the first listed of 200, which it opens
    // last.
    void linkSwappedInRightAfterTheListing()
    {
        QTemporaryDir base;
        const QByteArray root = PathCodec::encode(base.path()), folder = root + "/item/a";
        const QByteArray outside = root + "/outside";
        buildBeneath(root, "outside/keep", 2);
        for (int i = 0; i < 200; ++i)
            buildBeneath(root, "item/a/s" + QByteArray::number(i), 0);
        QByteArray last;
        const UniqueDir listing(opendir(folder.constData()));
        while (const dirent* entry = readdir(listing.get()))
            if (last.isEmpty() && entry->d_name[0] == 's') last = entry->d_name;
        const int before = countEntries(PathCodec::decode(outside));
        const UniqueFd watch(inotify_init1(IN_CLOEXEC));
        QVERIFY(inotify_add_watch(watch.get(), folder.constData(), IN_ACCESS) >= 0);
        bool swapped = false;
        std::thread swapper([&] {
            std::array<char, 4096> events{};
            const QByteArray at = folder + '/' + last;
            swapped = ::read(watch.get(), events.data(), events.size()) > 0 &&
                      ::rename(at.constData(), (at + ".away").constData()) == 0 &&
                      ::symlink(outside.constData(), at.constData()) == 0;
        });
        FileSystem::removeItem(base.path(), base.path() + "/item");
        swapper.join();
        QVERIFY(swapped);
        QCOMPARE(countEntries(PathCodec::decode(outside)), before);
    }
};

SORVI_TEST_MAIN(TestRemovalRace)
#include "tst_removal_race.moc"
