#include "platform/error_text.h"
#include "support/await.h"
#include "support/http_server.h"
#include "support/rows.h"
#include "support/test_home.h"
#include "ui/monitor_text.h"
#include "update/update_checker.h"

#include <QRegularExpression>
#include <QTcpServer>

namespace {

// Words that give English away; the names and addresses in these cases hold none of them.
const QRegularExpression kEnglish(
    QStringLiteral("\\b(the|not|no|such|file|directory|permission|denied|error|refused|host|"
                   "found|connection|timed|out|bytes|server|invalid|expected|unexpected|process|"
                   "failed|is|of|at|offset|operation|document)\\b"),
    QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);

#define QVERIFY_VIETNAMESE(message)                                                                \
    QVERIFY2(!kEnglish.match(message).hasMatch(), qPrintable(message))

} // namespace

// Error texts are the product's Vietnamese under LANG=C and LANG=en_US.UTF-8 (both CTest runs).
class TestMessages : public QObject
{
    Q_OBJECT
private slots:
    // The feed's own failures, and the network's (status 0: nothing listens at the port).
    void updateCheck_data()
    {
        Rows::add({"status", "body"}, {"refused connection;0;", "wrong form;200;{\"apps\":[{}]}",
                                       "too deep;200;{\"x\":[[[[[[[["});
    }
    void updateCheck()
    {
        QFETCH(QString, status);
        QFETCH(QString, body);
        HttpServer server;
        server.route("/f", HttpServer::withStatus(status.toInt(), body.repeated(100).toUtf8()));
        QTcpServer closed;
        QVERIFY(server.listen() && closed.listen(QHostAddress::LocalHost));
        QUrl feed = server.url("/f");
        if (status == "0") feed.setPort(closed.serverPort());
        closed.close();
        UpdateChecker checker({}, {}, [feed](const QString&) { return feed.toString(); });
        AWAIT(checker.check(true), "the manual check");
        QVERIFY(checker.message());
        QVERIFY_VIETNAMESE(*checker.message());
    }

    // Every errno and network error, never the system's own words.
    void errorCodes()
    {
        for (int code = 1; code < 134; ++code)
            QVERIFY_VIETNAMESE(ErrorText::ofErrno(code));
        const QMetaEnum errors = QMetaEnum::fromType<QNetworkReply::NetworkError>();
        for (int i = 0; i < errors.keyCount(); ++i)
            QVERIFY_VIETNAMESE(ErrorText::ofNetwork(QNetworkReply::NetworkError(errors.value(i))));
    }

    // Vietnamese separators; a count that would round to 1000 of a unit shows in the next one.
    void byteCounts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* tag, const QString& text, const char* expected) {
            QTest::newRow(tag) << text << QString::fromUtf8(expected);
        };
        row("none", formatBytes(0), "0 byte");
        row("1024", formatBytes(1024), "1,0 kB");
        row("just below a megabyte", formatBytes(999'999), "1,0 MB");
        row("100 MiB", formatBytes(104'857'600), "104,9 MB");
        row("terabytes", formatBytes(1'500'000'000'000), "1,5 TB");
        row("memory just below a mebibyte", MonitorText::memory((1 << 20) - 1), "1,0 MB");
        row("memory 1.5 GiB", MonitorText::memory(1536ULL << 20), "1,5 GB");
    }
    void byteCounts()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }
};

SORVI_TEST_MAIN(TestMessages)
#include "tst_messages.moc"
