#include "platform/error_text.h"
#include "support/await.h"
#include "support/http_server.h"
#include "support/rows.h"
#include "support/test_home.h"
#include "ui/monitor_text.h"
#include "update/network_error_text.h"
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

    void errorCodes()
    {
        for (int code = 1; code < 134; ++code)
            QVERIFY_VIETNAMESE(ErrorText::ofErrno(code));
        const QMetaEnum errors = QMetaEnum::fromType<QNetworkReply::NetworkError>();
        for (int i = 0; i < errors.keyCount(); ++i)
            QVERIFY_VIETNAMESE(NetworkErrorText::of(QNetworkReply::NetworkError(errors.value(i))));
    }

    // Vietnamese separators; a count that would round to 1000 of a unit shows in the next one.
    void byteCounts()
    {
        QStringList texts;
        for (const qint64 count : {0LL, 1024LL, 999'999LL, 104'857'600LL, 1'500'000'000'000LL})
            texts << formatBytes(count);
        texts << MonitorText::memory((1 << 20) - 1) << MonitorText::memory(1536ULL << 20);
        QCOMPARE(texts, (QStringList{"0 byte", "1,0 kB", "1,0 MB", "104,9 MB", "1,5 TB", "1,0 MB",
                                     "1,5 GB"}));
    }
};

SORVI_TEST_MAIN(TestMessages)
#include "tst_messages.moc"
