#include "platform/path_codec.h"
#include "support/test_home.h"

class TestPathCodec : public QObject
{
    Q_OBJECT
private slots:
    // Every byte sequence comes back unchanged (two names never share a text, so removing one
    // cannot hit the other); valid UTF-8 decodes to its own text.
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ascii") << QByteArray("plain name.txt") << true;
        QTest::newRow("vietnamese") << QByteArray("Bộ nhớ đệm") << true;
        QTest::newRow("replacement character") << QByteArray("caf\xEF\xBF\xBD") << true;
        QTest::newRow("emoji") << QByteArray("\xF0\x9F\x98\x80 smile") << true;
        QTest::newRow("lone 0xFF") << QByteArray("a\xFF-") << false;
        QTest::newRow("truncated sequence") << QByteArray("x\xE1\xBB") << false;
        QTest::newRow("overlong slash") << QByteArray("\xC0\xAF") << false;
        QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80") << false;
        QTest::newRow("latin-1 name") << QByteArray("caf\xE9") << false;
        QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
    }
    void roundTrip()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        const QString text = PathCodec::decode(bytes);
        QCOMPARE(PathCodec::encode(text), bytes);
        QCOMPARE(text == QString::fromUtf8(bytes), valid);
    }
};

SORVI_TEST_MAIN(TestPathCodec)
#include "tst_path_codec.moc"
