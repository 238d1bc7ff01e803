#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "platform/trash.h"
#include "platform/unique_dir.h"
#include "platform/unique_fd.h"
#include "support/rows.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace TreeBuilder;

namespace {

// Creates `rel` below `root` with two files in each folder, never through a swapped-in link.
void buildBeneath(const QByteArray& root, const QByteArray& rel)
{
    UniqueFd fd(::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const QByteArray& component : rel.split('/')) {
        ::mkdirat(fd.get(), component.constData(), 0755);
        fd = UniqueFd(::openat(fd.get(), component.constData(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        for (const char* name : {"f0", "f1"})
            (void)UniqueFd(
                ::openat(fd.get(), name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    }
}

// Runs `remove` over and over while another thread swaps the folder `at` for a link to `outside`.
void race(const QByteArray& at, const QByteArray& outside, const std::function<void()>& remove)
{
    std::atomic<bool> stop{false};
    std::atomic<int> swaps{0};
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
    const int seconds = qEnvironmentVariableIntValue("SORVI_STRESS_SECONDS"); // for longer runs
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::milliseconds(seconds > 0 ? seconds * 1000 : 400);
    int removals = 0;
    for (; std::chrono::steady_clock::now() < end; ++removals)
        remove();
    stop = true;
    swapper.join();
    QVERIFY(removals > 0 && swaps > 0);
}

} // namespace

class TestRemovalRace : public QObject
{
    Q_OBJECT
private slots:
    // Rebuild through the pinned root, grant owner access and remove (or trash), while one folder
    // on the way (or the root) is swapped for a link: nothing outside goes, no mode there changes.
    void swappedLinkNeverLeadsOutside_data()
    {
        Rows::add({"item", "swapped", "trash"}, // swapped "": the root itself
                  {"at the item's top;item;/item;", "deep inside the item;item;/item/a/b;",
                   "between root and item;mid/item;/mid;", "the root itself;item;;",
                   "trashed, between root and item;mid/item;/mid;yes",
                   "trashed, the root itself;item;;yes"});
    }
    void swappedLinkNeverLeadsOutside()
    {
        QFETCH(QString, item);
        QFETCH(QString, swapped);
        QFETCH(QString, trash);
        QTemporaryDir base(TestHome::path() + "/race-XXXXXX"); // the trash's file system
        const QString rootPath = base.path() + "/root", outsidePath = base.path() + "/outside";
        const QByteArray root = PathCodec::encode(rootPath);
        for (const char* dir : {"root", "outside/item/a/b", "outside/a/b", "outside/b"})
            buildBeneath(PathCodec::encode(base.path()), dir);
        const QStringList folders{"/item", "/item/a", "/item/a/b", "/a", "/a/b", "/b"};
        for (const QString& folder : folders)
            QVERIFY(setPermissions(outsidePath + folder, 0555));
        const int before = countEntries(outsidePath);
        const QString itemPath = rootPath + '/' + item;
        const std::optional<FileSystem::Identity> pin = FileSystem::identity(rootPath);
        const UniqueFd pinned(::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        QVERIFY(pin && pinned);
        race(root + swapped.toUtf8(), PathCodec::encode(outsidePath), [&] {
            buildBeneath("/proc/self/fd/" + QByteArray::number(pinned.get()),
                         item.toUtf8() + "/a/b/c");
            if (!trash.isEmpty()) return (void)FileSystem::moveToTrash(rootPath, itemPath, pin);
            FileSystem::grantOwnerAccess(rootPath, itemPath, ::getuid(), pin);
            FileSystem::removeItem(rootPath, itemPath, pin);
        });
        QCOMPARE(countEntries(outsidePath), before);
        for (const QString& folder : folders)
            QCOMPARE(permissionsOf(outsidePath + folder), mode_t(0555));
        if (!trash.isEmpty()) FileSystem::removeItem(TestHome::path(), TestHome::trashPath());
    }

    // The swap between listing and opening, which a random race rarely hits: once inotify reports
    // the listing, the first listed of 200 subfolders (opened last) becomes a link.
    void linkSwappedInRightAfterTheListing()
    {
        QTemporaryDir base;
        const QByteArray root = PathCodec::encode(base.path()), folder = root + "/item/a",
                         outside = root + "/outside";
        buildBeneath(root, "outside/keep");
        for (int i = 0; i < 200; ++i)
            buildBeneath(root, "item/a/s" + QByteArray::number(i));
        QByteArray last;
        const UniqueDir listing(opendir(folder.constData()));
        while (const dirent* entry = readdir(listing.get()))
            if (last.isEmpty() && entry->d_name[0] == 's') last = entry->d_name;
        const int before = countEntries(PathCodec::decode(outside));
        const UniqueFd watch(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
        QVERIFY(inotify_add_watch(watch.get(), folder.constData(), IN_ACCESS) >= 0);
        bool swapped = false;
        std::thread swapper([&] {
            std::array<char, 4096> events{};
            pollfd ready{watch.get(), POLLIN, 0};
            const QByteArray at = folder + '/' + last;
            swapped = ::poll(&ready, 1, 30000) > 0 &&
                      ::read(watch.get(), events.data(), events.size()) > 0 &&
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
