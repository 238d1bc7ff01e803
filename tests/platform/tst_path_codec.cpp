#include "platform/path_codec.h"
#include "support/test_home.h"

class TestPathCodec : public QObject
{
    Q_OBJECT
private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("ascii") << QByteArray("plain name.txt");
        QTest::newRow("vietnamese") << QByteArray("Bộ nhớ đệm");
        QTest::newRow("emoji") << QByteArray("\xF0\x9F\x98\x80 smile");
        QTest::newRow("lone 0xFF") << QByteArray("a\xFF" "b");
        QTest::newRow("truncated sequence") << QByteArray("x\xE1\xBB");
        QTest::newRow("overlong slash") << QByteArray("\xC0\xAF");
        QTest::newRow("encoded surrogate") << QByteArray("\xED\xA0\x80");
        QTest::newRow("latin-1 name") << QByteArray("caf\xE9");
        QTest::newRow("beyond U+10FFFF") << QByteArray("\xF4\x90\x80\x80");
    }
    void roundTrip()
    {
        QFETCH(QByteArray, bytes);
        QCOMPARE(PathCodec::encode(PathCodec::decode(bytes)), bytes);
    }

    void validUtf8DecodesNormally()
    {
        QCOMPARE(PathCodec::decode("Bộ nhớ đệm"), QStringLiteral("Bộ nhớ đệm"));
        QCOMPARE(PathCodec::encode(QStringLiteral("Thùng rác")), QByteArray("Thùng rác"));
    }

    // A name that is not UTF-8 must never decode to the same text as a real UTF-8 name, or a
    // removal of one could hit the other.
    void invalidBytesNeverLookLikeValidNames()
    {
        const QString raw = PathCodec::decode("\xFF");
        const QString replacement = PathCodec::decode("\xEF\xBF\xBD");
        QVERIFY(raw != replacement);
        QVERIFY(PathCodec::decode("caf\xE9") != PathCodec::decode("café"));
    }
};

SORVI_TEST_MAIN(TestPathCodec)
#include "tst_path_codec.moc"
