#include "support/test_home.h"
#include "update/feed.h"

namespace {

// Feed texts are written with ' for " to keep them readable.
QByteArray j(const char* text)
{
    return QByteArray(text).replace('\'', '"');
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

        const auto feedOf = [](const QByteArray& release) {
            return j("{'apps':[{'id':'sorviclean','versions':[") + release + "]}]}";
        };
        QTest::newRow("empty body") << QByteArray() << "not valid JSON";
        QTest::newRow("plain text") << QByteArray("<html>hello</html>") << "not valid JSON";
        QTest::newRow("top level array") << QByteArray("[]") << "the document is not an object";
        QTest::newRow("no apps") << (j("{'app':[]}"))
                                 << QString::fromUtf8(j("the document has no key 'apps'"));
        QTest::newRow("apps an object") << (j("{'apps':{}}")) << "apps is not an array";
        QTest::newRow("app without id")
            << (j("{'apps':[{'versions':[]}]}")) << QString::fromUtf8(j("apps[0] has no key 'id'"));
        QTest::newRow("app without versions")
            << (j("{'apps':[{'id':'x'}]}"))
            << QString::fromUtf8(j("apps[0] has no key 'versions'"));
        QTest::newRow("id a number")
            << (j("{'apps':[{'id':7,'versions':[]}]}")) << "apps[0].id is not a string";
        QTest::newRow("versions null")
            << (j("{'apps':[{'id':'x','versions':null}]}")) << "apps[0].versions is not an array";
        // Another application's entry is decoded as strictly as ours.
        QTest::newRow("other app broken")
            << (j("{'apps':[{'id':'sorviclean','versions':[]},{'id':'x','versions':[{'version':'1'}"
                  "]}]}"))
            << QString::fromUtf8(j("apps[1].versions[0] has no key 'build'"));
        QTest::newRow("no version text")
            << feedOf(j("{'build':1}"))
            << QString::fromUtf8(j("apps[0].versions[0] has no key 'version'"));
        QTest::newRow("version a number") << feedOf(j("{'version':1.0,'build':1}"))
                                          << "apps[0].versions[0].version is not a string";
        QTest::newRow("build a string") << feedOf(j("{'version':'1','build':'7'}"))
                                        << "apps[0].versions[0].build is not a number";
        QTest::newRow("build a boolean")
            << feedOf(j("{'version':'1','build':true}")) << "build is not a number";
        QTest::newRow("build null")
            << feedOf(j("{'version':'1','build':null}")) << "build is not a number";
        QTest::newRow("build 7.0")
            << feedOf(j("{'version':'1','build':7.0}")) << "build is not an integer";
        QTest::newRow("build 7.5")
            << feedOf(j("{'version':'1','build':7.5}")) << "build is not an integer";
        QTest::newRow("build 1e2")
            << feedOf(j("{'version':'1','build':1e2}")) << "build is not an integer";
        QTest::newRow("build 1e30")
            << feedOf(j("{'version':'1','build':1e30}")) << "build is not an integer";
        QTest::newRow("build 2^63") << feedOf(j("{'version':'1','build':9223372036854775808}"))
                                    << "does not fit in 64 bits";
        QTest::newRow("build below -2^63")
            << feedOf(j("{'version':'1','build':-9223372036854775809}"))
            << "does not fit in 64 bits";
        QTest::newRow("build 30 digits")
            << feedOf(j("{'version':'1','build':123456789012345678901234567890}"))
            << "does not fit in 64 bits";
        QTest::newRow("build leading zero")
            << feedOf(j("{'version':'1','build':07}")) << "not valid JSON";
        QTest::newRow("build plus sign")
            << feedOf(j("{'version':'1','build':+7}")) << "not valid JSON";
        QTest::newRow("build NaN") << feedOf(j("{'version':'1','build':NaN}")) << "not valid JSON";
        QTest::newRow("notes a string") << feedOf(j("{'version':'1','build':1,'notes':'fix'}"))
                                        << "apps[0].versions[0].notes is not an array";
        QTest::newRow("notes with a number")
            << feedOf(j("{'version':'1','build':1,'notes':['a',2]}"))
            << "apps[0].versions[0].notes[1] is not a string";
        QTest::newRow("notes with null")
            << feedOf(j("{'version':'1','build':1,'notes':[null]}")) << "notes[0] is not a string";
        QTest::newRow("text after the document") << (j("{'apps':[]} x")) << "unexpected text";
        QTest::newRow("two documents") << (j("{'apps':[]}{'apps':[]}")) << "unexpected text";
        QTest::newRow("trailing comma") << (j("{'apps':[],}")) << "expected a key";
        QTest::newRow("trailing comma in array") << (j("{'x':[1,],'apps':[]}")) << "not valid JSON";
        QTest::newRow("single quotes") << QByteArray("{'apps':[]}") << "expected a key";
        QTest::newRow("unterminated string") << (j("{'apps")) << "unterminated string";
        QTest::newRow("cut short") << (j("{'apps':[")) << "not valid JSON";
        QTest::newRow("bad literal in an unknown key")
            << (j("{'x':tru,'apps':[]}")) << "not valid JSON";
        QTest::newRow("raw line break in a string")
            << QByteArray("{\"x\":\"a\nb\",\"apps\":[]}") << "control character";
        QTest::newRow("invalid escape") << (j("{'x':'\\q','apps':[]}")) << "invalid escape";
        QTest::newRow("short unicode escape")
            << (j("{'x':'\\u12','apps':[]}")) << "invalid \\u escape";
        QTest::newRow("lone surrogate") << (j("{'x':'\\ud800','apps':[]}")) << "unpaired surrogate";
        QTest::newRow("invalid UTF-8")
            << QByteArray("{\"x\":\"\xff\xfe\",\"apps\":[]}") << "not valid UTF-8";
        QTest::newRow("nesting too deep")
            << (j("{'x':") + QByteArray(600, '[') + QByteArray(600, ']') + j(",'apps':[]}"))
            << "nesting deeper than 512 levels";
        QTest::newRow("endless nesting")
            << j("{'x':") + QByteArray(1 << 20, '[') << "nesting deeper";
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
        const QByteArray body =
            j(" { 'schema': {'deep': [[[{'a': [1.5e3, true, null, 'x']}]]]},"
              "'apps': ["
              "{'id': 'other', 'versions': [], 'extra': {'k': [false]}},"
              "{'id': 'sorviclean', 'homepage': 'https://example.com', 'versions': ["
              "{'version': '1.0', 'build': 9223372036854775807, 'date': '2024-01-01'},"
              "{'version': 'caf\\u00e9 \\ud83d\\ude00\\n', 'build': -9223372036854775808, 'notes': "
              "null},"
              "{'version': '3', 'build': -0, 'notes': ['first', 'second \\'quoted\\''],"
              "'size': 12.5}"
              "]}"
              "]} ");
        const Feed::Decoded decoded = Feed::decode(body);
        QVERIFY2(decoded.document, qPrintable(decoded.error));
        const Feed::Document expected{{
            {QStringLiteral("other"), {}},
            {QStringLiteral("sorviclean"),
             {{QStringLiteral("1.0"), std::numeric_limits<qint64>::max(), {}},
              {QString::fromUtf8("café 😀\n"), std::numeric_limits<qint64>::min(), {}},
              {QStringLiteral("3"),
               0,
               {QStringLiteral("first"), QStringLiteral("second \"quoted\"")}}}},
        }};
        QCOMPARE(*decoded.document, expected);
    }

    void nestingWithinTheLimitIsIgnoredLikeAnyUnknownKey()
    {
        const QByteArray body =
            j("{'x':") + QByteArray(500, '[') + QByteArray(500, ']') + j(",'apps':[]}");
        const Feed::Decoded decoded = Feed::decode(body);
        QVERIFY2(decoded.document, qPrintable(decoded.error));
        QVERIFY(decoded.document->apps.isEmpty());
    }
};

SORVI_TEST_MAIN(TestFeed)
#include "tst_feed.moc"
