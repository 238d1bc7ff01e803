#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "platform/trash.h"
#include "platform/unique_fd.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace TreeBuilder;

namespace {

// Milliseconds the race runs; SORVI_STRESS_SECONDS asks for a longer run.
int raceMilliseconds()
{
    const int requested = qEnvironmentVariableIntValue("SORVI_STRESS_SECONDS");
    return requested > 0 ? requested * 1000 : 1500;
}

// Creates `rel` below `root` one component at a time without following a link, so that the
// builder never writes through a link the swapper put in place; two files in the last folder.
void buildBeneath(const QByteArray& root, const QByteArray& rel)
{
    UniqueFd fd(::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (const QByteArray& component : rel.split('/')) {
        ::mkdirat(fd.get(), component.constData(), 0755);
        fd = UniqueFd(::openat(fd.get(), component.constData(),
                               O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!fd) return;
    }
    for (const char* name : {"f1", "f2"})
        (void)UniqueFd(::openat(fd.get(), name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
}

} // namespace

class TestTrashRace : public QObject
{
    Q_OBJECT
private slots:
    // A trasher rebuilds and trashes root/mid/item while a swapper replaces "mid" by a link to a
    // folder outside the root that holds an "item" too: nothing outside may ever be trashed.
    void swappedLinkNeverLeadsOutside()
    {
        QTemporaryDir base(TestHome::path() + "/race-XXXXXX");
        const QByteArray root = PathCodec::encode(base.path()) + "/root";
        const QByteArray outside = PathCodec::encode(base.path()) + "/outside";
        QVERIFY(makeDir(PathCodec::decode(root)) && makeDir(PathCodec::decode(outside)));
        buildBeneath(outside, "item/a");
        const int before = countEntries(PathCodec::decode(outside));
        QCOMPARE(before, 1 + 4);

        std::atomic<bool> stop{false};
        std::atomic<int> moves{0}, swaps{0};
        const QString rootPath = PathCodec::decode(root);
        const QString itemPath = rootPath + "/mid/item";
        std::thread trasher([&] {
            while (!stop) {
                buildBeneath(root, "mid/item/a");
                if (FileSystem::moveToTrash(rootPath, itemPath).ok()) ++moves;
            }
        });
        std::thread swapper([&] {
            const QByteArray at = root + "/mid", away = root + "/mid.away";
            while (!stop) {
                if (::rename(at.constData(), away.constData()) != 0) continue;
                if (::symlink(outside.constData(), at.constData()) == 0) {
                    ++swaps;
                    std::this_thread::yield();
                    ::unlink(at.constData());
                }
                // The trasher may have built a new "mid" meanwhile.
                if (::rename(away.constData(), at.constData()) != 0)
                    FileSystem::removeItem(rootPath, PathCodec::decode(away));
                // As long without a link as with one, so that moves succeed too.
                std::this_thread::sleep_for(std::chrono::microseconds(20));
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(raceMilliseconds()));
        stop = true;
        trasher.join();
        swapper.join();

        qInfo("%d moves, %d swaps", moves.load(), swaps.load());
        QVERIFY(moves > 0 && swaps > 0);
        QCOMPARE(countEntries(PathCodec::decode(outside)), before);
        QVERIFY(FileSystem::removeItem(TestHome::path(), TestHome::trashPath()).ok());
    }
};

SORVI_TEST_MAIN(TestTrashRace)
#include "tst_trash_race.moc"
