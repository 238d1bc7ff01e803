#include "support/test_home.h"
#include "update/feed.h"

namespace {

// Feed texts are written with ' for " to keep them readable.
QByteArray j(QByteArray text)
{
    return text.replace('\'', '"');
}

// A feed whose only entry is ours, with one release of these fields.
QByteArray release(const QByteArray& fields)
{
    return j("{'apps':[{'id':'sorviclean','versions':[{" + fields + "}]}]}");
}

} // namespace

class TestFeed : public QObject
{
    Q_OBJECT
private slots:
    void refused_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error");

        QTest::newRow("empty body") << QByteArray() << "not valid JSON";
        QTest::newRow("top level array") << QByteArray("[]") << "the document is not an object";
        QTest::newRow("no apps") << j("{'app':[]}") << "the document has no key \"apps\"";
        QTest::newRow("apps an object") << j("{'apps':{}}") << "apps is not an array";
        QTest::newRow("app without id")
            << j("{'apps':[{'versions':[]}]}") << "apps[0] has no key \"id\"";
        QTest::newRow("app without versions")
            << j("{'apps':[{'id':'x'}]}") << "apps[0] has no key \"versions\"";
        QTest::newRow("id a number")
            << j("{'apps':[{'id':7,'versions':[]}]}") << "apps[0].id is not a string";
        // Another application's entry is decoded as strictly as ours.
        QTest::newRow("other app broken")
            << j("{'apps':[{'id':'sorviclean','versions':[]},{'id':'x','versions':[{'version':'1'}"
                 "]}]}")
            << "apps[1].versions[0] has no key \"build\"";
        QTest::newRow("no version text")
            << release("'build':1") << "apps[0].versions[0] has no key \"version\"";
        QTest::newRow("build null")
            << release("'version':'1','build':null") << "build is not a number";
        QTest::newRow("build 2^63") << release("'version':'1','build':9223372036854775808")
                                    << "build does not fit in 64 bits";
        QTest::newRow("build leading zero")
            << release("'version':'1','build':07") << "not valid JSON";
        QTest::newRow("notes a string") << release("'version':'1','build':1,'notes':'fix'")
                                        << "apps[0].versions[0].notes is not an array";
        QTest::newRow("notes with a number") << release("'version':'1','build':1,'notes':['a',2]")
                                             << "apps[0].versions[0].notes[1] is not a string";
        QTest::newRow("text after the document") << j("{'apps':[]} x") << "unexpected text";
        QTest::newRow("trailing comma") << j("{'apps':[],}") << "expected a key";
        QTest::newRow("trailing comma in array") << j("{'x':[1,],'apps':[]}") << "not valid JSON";
        QTest::newRow("unterminated string") << j("{'apps") << "unterminated string";
        QTest::newRow("cut short") << j("{'apps':[") << "not valid JSON";
        QTest::newRow("bad literal in an unknown key")
            << j("{'x':tru,'apps':[]}") << "not valid JSON";
        QTest::newRow("raw line break in a string")
            << QByteArray("{\"x\":\"a\nb\",\"apps\":[]}") << "control character";
        QTest::newRow("invalid escape") << j("{'x':'\\q','apps':[]}") << "invalid escape";
        QTest::newRow("lone surrogate") << j("{'x':'\\ud800','apps':[]}") << "unpaired surrogate";
        QTest::newRow("invalid UTF-8")
            << QByteArray("{\"x\":\"\xff\xfe\",\"apps\":[]}") << "not valid UTF-8";
        // A million open brackets end in a refusal, not in a stack overflow.
        QTest::newRow("endless nesting")
            << j("{'x':") + QByteArray(1 << 20, '[') << "nesting deeper than 512 levels";
    }

    void refused()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        const Feed::Decoded decoded = Feed::decode(body);
        QVERIFY(!decoded.document);
        QVERIFY2(decoded.error.contains(error), qPrintable(decoded.error));
    }

    void accepted()
    {
        // Unknown keys are skipped whatever they hold, nesting up to the limit included.
        const QByteArray body =
            j(" { 'x': ") + QByteArray(500, '[') + j("{'a': [1.5e3, true, null, 'x']}") +
            QByteArray(500, ']') +
            j(", 'apps': [{'id': 'other', 'versions': []},"
              "{'id': 'sorviclean', 'homepage': 'https://example.com', 'versions': ["
              "{'version': '1.0', 'build': 9223372036854775807, 'date': '2024-01-01'},"
              "{'version': 'caf\\u00e9 \\ud83d\\ude00\\n', 'build': -9223372036854775808,"
              "'notes': null},"
              "{'version': '3', 'build': -0, 'notes': ['first', 'second \\'quoted\\'']}]}]} ");
        const Feed::Decoded decoded = Feed::decode(body);
        QVERIFY2(decoded.document, qPrintable(decoded.error));
        const qint64 max = std::numeric_limits<qint64>::max();
        const QStringList notes{QStringLiteral("first"), QStringLiteral("second \"quoted\"")};
        const Feed::Document expected{{
            {QStringLiteral("other"), {}},
            {QStringLiteral("sorviclean"),
             {{QStringLiteral("1.0"), max, {}},
              {QString::fromUtf8("café 😀\n"), -max - 1, {}},
              {QStringLiteral("3"), 0, notes}}},
        }};
        QCOMPARE(*decoded.document, expected);
    }
};

SORVI_TEST_MAIN(TestFeed)
#include "tst_feed.moc"
