#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "platform/trash.h"
#include "platform/unique_fd.h"
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
    const UniqueFd fd(::open(PathCodec::encode(path).constData(), O_RDONLY | O_CLOEXEC));
    std::array<char, 4096> buffer{};
    for (ssize_t n = 0; fd && (n = ::read(fd.get(), buffer.data(), buffer.size())) > 0;)
        content.append(buffer.data(), n);
    return content;
}

} // namespace

class TestTrash : public QObject
{
    Q_OBJECT
private slots:
    // The .trashinfo names the original path exactly (percent-encoded), whatever the name holds,
    // and the item lies in files/ under the same name.
    void trashedItemIsRestorable_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("plain") << QByteArray("plain.log");
        QTest::newRow("line breaks") << QByteArray("two\nlines\nPath=elsewhere");
        QTest::newRow("quotes and spaces") << QByteArray("it's \"quoted\"");
        QTest::newRow("percent") << QByteArray("100% done %41%2F");
        QTest::newRow("vietnamese") << QByteArray("Bản sao lưu");
        QTest::newRow("not utf-8") << QByteArray("caf\xE9 \xFF");
        QTest::newRow("folder") << QByteArray("a folder/");
    }
    void trashedItemIsRestorable()
    {
        QFETCH(QByteArray, name);
        const QByteArray original = PathCodec::encode(TestHome::path()) + "/Downloads/" + name;
        const QString item =
            PathCodec::decode(original.endsWith('/') ? original.chopped(1) : original);
        const bool folder = original.endsWith('/');
        QVERIFY(makeDir(folder ? item : TestHome::path() + "/Downloads"));
        QVERIFY(writeFileRaw(folder ? original + "inside" : original, 1000));
        const QStringList before = infoFiles();

        const FileSystem::Outcome outcome = FileSystem::moveToTrash(item);
        QVERIFY2(outcome.ok(), qPrintable(outcome.error));
        QVERIFY(!FileSystem::exists(item));
        QStringList added = infoFiles();
        for (const QString& old : before)
            added.removeOne(old);
        QCOMPARE(added.size(), 1);
        const QList<QByteArray> lines = readRaw(added.first()).split('\n');
        QCOMPARE(lines.value(0), QByteArray("[Trash Info]"));
        QList<QByteArray> paths;
        for (const QByteArray& line : lines)
            if (line.startsWith("Path="))
                paths.append(QByteArray::fromPercentEncoding(line.mid(5)));
        QCOMPARE(paths, QList<QByteArray>{PathCodec::encode(item)});
        const QString stored = FileSystem::lastComponent(added.first()).chopped(10); // .trashinfo
        // Emptied again: QTemporaryDir cannot remove a name that is not UTF-8.
        const QString trash = TestHome::trashPath();
        QVERIFY(FileSystem::removeItem(trash, trash + "/files/" + stored).ok());
        QVERIFY(FileSystem::removeItem(trash, added.first()).ok());
    }

    void missingItemReportsAnError()
    {
        const FileSystem::Outcome outcome = FileSystem::moveToTrash(TestHome::path() + "/none");
        QVERIFY(!outcome.ok() && !outcome.error.isEmpty());
    }
};

SORVI_TEST_MAIN(TestTrash)
#include "tst_trash.moc"
