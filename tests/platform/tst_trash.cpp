#include "platform/file_system.h"
#include "platform/path_codec.h"
#include "platform/trash.h"
#include "support/gio_trash.h"
#include "support/test_home.h"
#include "support/tree_builder.h"

using namespace TreeBuilder;

class TestTrash : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        QVERIFY(FileSystem::removeItem(TestHome::path(), TestHome::trashPath()).ok());
    }

    // A file manager (and our own reader) sees every trashed item's original path, whatever its
    // name holds; a name too long for its record is stored shorter, unique when trashed twice.
    void fileManagerSeesTheOriginalPath_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("plain") << QByteArray("plain.log");
        QTest::newRow("line breaks") << QByteArray("two\nlines\nPath=elsewhere");
        QTest::newRow("percent") << QByteArray("100% done %41%2F");
        QTest::newRow("not utf-8") << QByteArray("caf\xE9 \xFF\\");
        QTest::newRow("239 bytes") << QByteArray(239, 'a');
        QTest::newRow("245 bytes") << QByteArray(241, 'b') + ".log";
        QTest::newRow("246 bytes") << QByteArray(246, 'c');
        QTest::newRow("255 bytes of 3-byte letters") << QString(85, QChar(0x1eaf)).toUtf8();
        QTest::newRow("folder") << QByteArray("a folder/");
    }
    void fileManagerSeesTheOriginalPath()
    {
        QFETCH(QByteArray, name);
        const QString root = TestHome::path() + "/Downloads";
        const bool folder = name.endsWith('/');
        const QByteArray original = PathCodec::encode(root) + '/' + name.chopped(folder ? 1 : 0);
        const QString item = PathCodec::decode(original);
        for (int twice = 0; twice < 2; ++twice) {
            QVERIFY(makeDir(folder ? item : root));
            QVERIFY(writeFileRaw(folder ? original + "/inside" : original, 1000));
            const FileSystem::Outcome outcome = FileSystem::moveToTrash(root, item);
            QVERIFY2(outcome.ok(), qPrintable(outcome.error));
            QVERIFY(!FileSystem::exists(item));
        }
        QStringList origins;
        for (const QString& entry :
             FileSystem::children(TestHome::trashPath() + "/files").value_or(QStringList()))
            origins << FileSystem::trashOrigin(entry).value_or(QString());
        QCOMPARE(origins, QStringList(2, item)); // two records, one original path
        QCOMPARE(GioTrash::origins(), QList<QByteArray>(2, original));
    }
};

SORVI_TEST_MAIN(TestTrash)
#include "tst_trash.moc"
