#include "support/test_home.h"
#include "update/feed.h"

namespace {

// ' stands for " to keep the feed texts readable.
QByteArray j(QByteArray text)
{
    return text.replace('\'', '"');
}

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
        const auto row = [](const char* tag, const QByteArray& body, const char* error) {
            QTest::newRow(tag) << body << QString(error);
        };
        row("empty body", {},
            "Dữ liệu cập nhật không phải JSON hợp lệ: dữ liệu kết thúc giữa chừng ở vị trí 0.");
        row("top level array", "[]",
            "Dữ liệu cập nhật không đúng cấu trúc: tài liệu không phải một đối tượng.");
        row("no apps", j("{'app':[]}"), "tài liệu thiếu khoá \"apps\"");
        row("other app's entry as strict as ours",
            j("{'apps':[{'id':'sorviclean','versions':[]},{'id':'x','versions':[{'version':'1'}]}]"
              "}"),
            "apps[1].versions[0] thiếu khoá \"build\"");
        row("build null", release("'version':'1','build':null"), "build không phải một số");
        row("fractional build", release("'version':'1','build':11.0"),
            "build không phải số nguyên");
        row("build 2^63", release("'version':'1','build':9223372036854775808"),
            "build vượt quá 64 bit");
        row("build leading zero", release("'version':'1','build':07"), "không phải JSON hợp lệ");
        row("notes with a number", release("'version':'1','build':1,'notes':['a',2]"),
            "apps[0].versions[0].notes[1] không phải một chuỗi");
        row("text after the document", j("{'apps':[]} x"), "dữ liệu thừa sau tài liệu");
        row("raw line break", "{\"x\":\"a\nb\",\"apps\":[]}", "ký tự điều khiển");
        row("lone surrogate", j("{'x':'\\ud800','apps':[]}"), "thiếu nửa cặp");
        row("invalid UTF-8", "{\"x\":\"\xff\xfe\",\"apps\":[]}",
            "Dữ liệu cập nhật không phải UTF-8 hợp lệ.");
        row("a million open brackets", j("{'x':") + QByteArray(1 << 20, '['),
            "lồng sâu quá 512 cấp");
    }

    void refused()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, error);
        const Feed::Decoded decoded = Feed::decode(body);
        QVERIFY2(!decoded.document && decoded.error.contains(error), qPrintable(decoded.error));
    }

    // Unknown keys are skipped whatever they hold, nesting up to the limit included.
    void accepted()
    {
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
        QCOMPARE(*decoded.document,
                 (Feed::Document{{{"other", {}},
                                  {"sorviclean",
                                   {{"1.0", max, {}},
                                    {"café 😀\n", -max - 1, {}},
                                    {"3", 0, {"first", "second \"quoted\""}}}}}}));
    }
};

SORVI_TEST_MAIN(TestFeed)
#include "tst_feed.moc"
