#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace TreeBuilder;

namespace {

// Seconds each row races; SORVI_STRESS_SECONDS asks for a longer run.
int raceSeconds()
{
    const int requested = qEnvironmentVariableIntValue("SORVI_STRESS_SECONDS");
    return requested > 0 ? requested : 2;
}

// Creates `rel` below `root` one component at a time without following a link, so that the
// builder itself never writes through a link the swapper put in place.
void buildBeneath(const QByteArray& root, const QByteArray& rel)
{
    int fd = ::open(root.constData(), O_RDONLY | O_DIRECTORY);
    for (const QByteArray& component : rel.split('/')) {
        ::mkdirat(fd, component.constData(), 0755);
        const int next = ::openat(fd, component.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        ::close(fd);
        if (next < 0)
            return;
        fd = next;
        for (const char* file : {"f1", "f2"})
            ::close(::openat(fd, file, O_WRONLY | O_CREAT | O_NOFOLLOW, 0644));
    }
    ::close(fd);
}

struct Snapshot
{
    int entries = 0;
    QList<mode_t> modes;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(const QString& outside)
{
    Snapshot s;
    s.entries = countEntries(outside);
    for (const char* dir : {"", "/item", "/item/a", "/a", "/a/b", "/b"}) {
        const auto attributes = FileSystem::attributes(outside + dir);
        s.modes.append(attributes ? attributes->permissions : mode_t(-1));
    }
    return s;
}

} // namespace

class TestRemovalRace : public QObject
{
    Q_OBJECT
private slots:
    void swappedLinkNeverLeadsOutside_data()
    {
        QTest::addColumn<QByteArray>("item");
        QTest::addColumn<QByteArray>("swapped");
        QTest::newRow("at the item's top") << QByteArray("item") << QByteArray("item");
        QTest::newRow("deep inside the item") << QByteArray("item") << QByteArray("item/a/b");
        QTest::newRow("between root and item") << QByteArray("mid/item") << QByteArray("mid");
    }
    void swappedLinkNeverLeadsOutside()
    {
        QFETCH(QByteArray, item);
        QFETCH(QByteArray, swapped);
        QTemporaryDir base;
        const QString outside = base.path() + "/outside";
        const QByteArray root = PathCodec::encode(base.path()) + "/root";
        QVERIFY(makeDir(PathCodec::decode(root)));
        QVERIFY(makeDir(outside));
        for (const char* dir : {"/item/a/b", "/a/b", "/b"})
            buildBeneath(PathCodec::encode(outside), QByteArray(dir).mid(1));
        const Snapshot before = snapshot(outside);
        QCOMPARE(before.entries, 1 + 3 * 2 + 2 * 2 + 1 * 2 + 6);

        std::atomic<bool> stop{false};
        std::atomic<int> removals{0}, swaps{0};
        const QString rootPath = PathCodec::decode(root);
        const QString itemPath = PathCodec::decode(root + '/' + item);
        std::thread remover([&] {
            while (!stop) {
                buildBeneath(root, item + "/a/b/c");
                FileSystem::removeItem(rootPath, itemPath);
                ++removals;
            }
        });
        std::thread swapper([&] {
            const QByteArray at = root + '/' + swapped;
            const QByteArray away = at + ".away";
            while (!stop) {
                if (::rename(at.constData(), away.constData()) != 0)
                    continue;
                if (::symlink(PathCodec::encode(outside).constData(), at.constData()) == 0) {
                    ++swaps;
                    std::this_thread::yield();
                    ::unlink(at.constData());
                }
                if (::rename(away.constData(), at.constData()) != 0)
                    FileSystem::removeItem(rootPath, PathCodec::decode(away));
            }
        });
        std::this_thread::sleep_for(std::chrono::seconds(raceSeconds()));
        stop = true;
        remover.join();
        swapper.join();

        qInfo("%d removals, %d swaps", removals.load(), swaps.load());
        QVERIFY(removals > 0);
        QVERIFY(swaps > 0);
        QCOMPARE(snapshot(outside), before);
    }
};

SORVI_TEST_MAIN(TestRemovalRace)
#include "tst_removal_race.moc"
