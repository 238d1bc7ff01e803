#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "platform/trash.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

#include <fcntl.h>
#include <unistd.h>

using namespace TreeBuilder;

namespace {

QStringList infoFiles()
{
    return FileSystem::children(TestHome::trashPath() + "/info").value_or(QStringList());
}

// QFile cannot open a name that is not UTF-8; the kernel can.
QByteArray readRaw(const QString& path)
{
    QByteArray content;
    const int fd = ::open(PathCodec::encode(path).constData(), O_RDONLY | O_CLOEXEC);
    char buffer[4096];
    for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        content.append(buffer, n);
    if (fd >= 0)
        ::close(fd);
    return content;
}

} // namespace

class TestTrash : public QObject
{
    Q_OBJECT
private slots:
    void trashedItemIsRestorable_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("plain") << QByteArray("plain.log");
        QTest::newRow("spaces") << QByteArray("with some spaces");
        QTest::newRow("line break") << QByteArray("two\nlines\nPath=elsewhere");
        QTest::newRow("quotes") << QByteArray("it's \"quoted\"");
        QTest::newRow("percent") << QByteArray("100% done %41%2F");
        QTest::newRow("vietnamese") << QByteArray("Bản sao lưu");
        QTest::newRow("not utf-8") << QByteArray("caf\xE9 \xFF");
        QTest::newRow("folder") << QByteArray("a folder");
    }
    void trashedItemIsRestorable()
    {
        QFETCH(QByteArray, name);
        const QString dir = TestHome::path() + "/Downloads";
        QVERIFY(makeDir(dir));
        const QByteArray original = PathCodec::encode(dir) + '/' + name;
        if (name == "a folder") {
            QVERIFY(makeDir(PathCodec::decode(original)));
            QVERIFY(writeFile(PathCodec::decode(original) + "/inside", 100));
        } else {
            QVERIFY(writeFileRaw(original, 1000));
        }
        const QStringList before = infoFiles();

        const FileSystem::Outcome outcome = FileSystem::moveToTrash(PathCodec::decode(original));
        QVERIFY2(outcome.ok(), qPrintable(outcome.error));
        QVERIFY(!FileSystem::exists(PathCodec::decode(original)));

        QStringList added = infoFiles();
        for (const QString& old : before)
            added.removeOne(old);
        QCOMPARE(added.size(), 1);
        const QList<QByteArray> lines = readRaw(added.first()).split('\n');
        QCOMPARE(lines.value(0), QByteArray("[Trash Info]"));
        QList<QByteArray> paths;
        for (const QByteArray& line : lines)
            if (line.startsWith("Path="))
                paths.append(line.mid(5));
        QCOMPARE(paths.size(), 1);
        QCOMPARE(QByteArray::fromPercentEncoding(paths.first()), original);

        QString stored = FileSystem::lastComponent(added.first());
        stored.chop(int(qstrlen(".trashinfo")));
        QVERIFY(FileSystem::exists(TestHome::trashPath() + "/files/" + stored));
    }

    void missingItemReportsAnError()
    {
        const FileSystem::Outcome outcome = FileSystem::moveToTrash(TestHome::path() + "/Downloads/none");
        QVERIFY(!outcome.ok());
        QVERIFY(!outcome.error.isEmpty());
    }
};

SORVI_TEST_MAIN(TestTrash)
#include "tst_trash.moc"
