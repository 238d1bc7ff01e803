#include "support/await.h"
#include "support/http_server.h"
#include "support/rows.h"
#include "support/test_home.h"
#include "update/feed_transfer.h"
#include "update/update_checker.h"

#include <QSslSocket>
#include <QTemporaryDir>
#include <QThread>

using namespace std::chrono_literals;
using Available = UpdateChecker::Available;
using OptionalAvailable = std::optional<Available>;
using OptionalText = std::optional<QString>;

Q_DECLARE_METATYPE(OptionalAvailable)

namespace {

const QString feedPath = QStringLiteral("/feed.json");
const QString failed = QStringLiteral("Không kiểm tra được cập nhật: ");
const QString tooLarge = failed + QStringLiteral("Dữ liệu cập nhật lớn hơn 1048576 byte.");

// ' stands for ".
QByteArray feedOf(const QByteArray& releases)
{
    QByteArray text = "{'apps':[{'id':'sorviclean','versions':[" + releases + "]}]}";
    return text.replace('\'', '"');
}

QByteArray feedWithBuild(qint64 build)
{
    const QByteArray n = QByteArray::number(build);
    return feedOf("{'version':'v" + n + "','build':" + n + ",'notes':['note']}");
}

// Version 2.0, build 8 unless `info` says otherwise; `feed` is SORVI_UPDATE_FEED_URL.
std::unique_ptr<UpdateChecker> checkerFor(
    const OptionalText& feed, UpdateChecker::Timing timing = {10s, 6h},
    const QVariantMap& info = {{"CFBundleShortVersionString", "2.0"}, {"CFBundleVersion", "8"}})
{
    return std::make_unique<UpdateChecker>(info, timing, [feed](const QString& name) {
        return name == QLatin1String("SORVI_UPDATE_FEED_URL") ? feed : std::nullopt;
    });
}

bool serve(HttpServer& server, const HttpServer::Response& feed)
{
    server.route(feedPath, feed);
    return server.listen();
}

} // namespace

class TestUpdateChecker : public QObject
{
    Q_OBJECT
private slots:
    void addresses_data() // "-": absent
    {
#define STABLE "https://u.example/feeds/stable.json"
        Rows::add(
            {"variable", "property", "version", "feed", "page"},
            {"property, no version;-;" STABLE ";-;" STABLE
             ";https://u.example/feeds/apps/sorviclean/?installed=sorviclean:0",
             "empty variable overrides;;" STABLE ";2.0;;",
             " https://u.example/f.json; https://u.example/f.json;-;2.0;;",
             "http://u.example/f.json;http://u.example/f.json;-;2.0;;",
             "http://localhost.example.net/f.json;http://localhost.example.net/f.json;-;2.0;;",
             "http://127.0.0.1@example.net/f.json;http://127.0.0.1@example.net/f.json;-;2.0;;",
             "localhost, folder and query;http://localhost:80/up/stable/?channel=beta;-;2.0;"
             "http://localhost:80/up/stable/?channel=beta;"
             "http://localhost:80/up/apps/sorviclean/?installed=sorviclean:2.0",
             "version needing encoding;https://e.com/f.json;-;2.0 beta&x=1#2;https://e.com/"
             "f.json;https://e.com/apps/sorviclean/?installed=sorviclean:2.0%20beta%26x%3D1%232"});
#undef STABLE
    }
    void addresses()
    {
        QFETCH(QString, variable);
        QFETCH(QString, property);
        QFETCH(QString, version);
        QFETCH(QString, feed);
        QFETCH(QString, page);
        QVariantMap info;
        if (version != u"-") info.insert(QStringLiteral("CFBundleShortVersionString"), version);
        if (property != u"-") info.insert(QStringLiteral("SorviUpdateFeedURL"), property);
        const auto checker = checkerFor(variable == u"-" ? OptionalText() : variable, {}, info);
        QCOMPARE(checker->feedURL().value_or(QUrl()).toString(), feed);
        QCOMPARE(checker->downloadPageURL().value_or(QUrl()).toString(QUrl::FullyEncoded), page);
    }

    // After a loop's first check found build 11 (running: 8), a check or the loop's next one.
    void check_data()
    {
        QTest::addColumn<HttpServer::Response>("response");
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<OptionalAvailable>("available");
        QTest::addColumn<QString>("message"); // "": none; ending in ": ", the start of it
        QTest::addColumn<int>("requests");
        const auto row = [](const char* tag, const HttpServer::Response& response,
                            const char* trigger, const OptionalAvailable& available,
                            const QString& message, int requests = 1) {
            QTest::newRow(tag) << response << QString(trigger) << available << message << requests;
        };
        const auto ok = [](const QByteArray& body) { return HttpServer::ok(body); };
        const Available eleven{"v11", 11, {"note"}}, nine{"v9", 9, {"note"}};
        row("newer", ok(feedWithBuild(9)), "manual", nine, {});
        row("equal", ok(feedWithBuild(8)), "manual", {}, "Bạn đang dùng bản mới nhất (2.0).");
        row("older, next of the loop", ok(feedWithBuild(7)), "timer", {}, {});
        row("no versions", ok(feedOf("")), "manual", eleven, "Không tìm thấy thông tin phiên bản.");
        row("builds 7, 9, 9: the first 9; version texts never compared",
            ok(feedOf("{'version':'99','build':7},{'version':'nine-a','build':9,'notes':null},"
                      "{'version':'nine-b','build':9}")),
            "periodic", Available{"nine-a", 9, {}}, {});
        const QByteArray newer = feedWithBuild(9);
        const qint64 cap = FeedTransfer::maxBodyBytes;
        row("body exactly at the cap", ok(newer + QByteArray(cap - newer.size(), ' ')), "manual",
            nine, {});
        row("one byte over the cap", ok(newer + QByteArray(cap + 1 - newer.size(), ' ')), "manual",
            eleven, tooLarge);
        row("302 without a Location: no redirect", HttpServer::withStatus(302, newer), "manual",
            eleven, failed + "Máy chủ trả về mã HTTP 302 thay vì 200.");
        row("not a feed, periodic", ok("<html/>"), "periodic", eleven, {});
        // Each byte would reset an idle time-out.
        row("trickle", HttpServer::endless(20ms), "manual", eleven,
            failed + "Máy chủ không trả lời kịp thời hạn.");
        row("redirect off the machine", HttpServer::redirect("http://127.0.0.1@example.com/f"),
            "manual", eleven,
            failed + "Không theo chuyển hướng sang http://127.0.0.1@example.com/f.");
        row("redirect loop", HttpServer::redirect("/feed.json?again"), "manual", eleven,
            failed + "Bị chuyển hướng quá 50 lần.", 51);
    }
    void check()
    {
        QFETCH(HttpServer::Response, response);
        QFETCH(QString, trigger);
        QFETCH(OptionalAvailable, available);
        QFETCH(QString, message);
        QFETCH(int, requests);
        HttpServer server;
        QVERIFY(serve(server, HttpServer::ok(feedWithBuild(11))));
        const auto checker = checkerFor(
            QStringLiteral("http://localhost:%1/feed.json").arg(server.port()),
            {message.contains("kịp thời hạn") ? 300ms : 10s, trigger == u"timer" ? 100ms : 6h});
        checker->start();
        checker->start(); // a second loop would ask at once too
        AWAIT_UNTIL(checker->available(), "the first check, which finds build 11");
        const QByteArray head = server.lastRequestHead();
        QVERIFY2(head.startsWith("GET /feed.json HTTP/1.1\r\n"), head.constData());
        QVERIFY2(head.toLower().contains("cache-control: no-cache"), head.constData());
        server.route(feedPath, response);
        if (trigger == u"timer")
            AWAIT_UNTIL(checker->available() == available, "the next check of the loop");
        else
            AWAIT(checker->check(trigger == u"manual"), "the check");
        QCOMPARE(checker->available(), available);
        const QString said = checker->message().value_or(QString());
        QVERIFY2(message.endsWith(": ") ? said.startsWith(message) : said == message,
                 qPrintable(said));
        if (trigger != u"timer") QCOMPARE(server.requestCount(), 1 + requests);
    }

    // Without a read-buffer limit Qt reads far ahead of a busy GUI thread.
    void endlessBodyStaysBounded()
    {
        QThread thread;
        QObject inThread;
        inThread.moveToThread(&thread);
        thread.start();
        const auto run = [&](auto work) {
            QMetaObject::invokeMethod(&inThread, work, Qt::BlockingQueuedConnection);
        };
        std::unique_ptr<HttpServer> server;
        QString feed;
        run([&] {
            server = std::make_unique<HttpServer>();
            if (serve(*server, HttpServer::endless())) feed = server->url(feedPath).toString();
        });
        qint64 sent = 0;
        const auto checker = checkerFor(feed);
        QCoro::Task<> task = checker->check(true);
        QCoreApplication::processEvents(); // hands the request to Qt's network thread
        constexpr qint64 limit = qint64(16) << 20;
        for (qint64 before = -1, rounds = 0;
             (sent == 0 || sent != before) && sent < limit && ++rounds < 50;) {
            before = sent;
            QThread::msleep(100);
            run([&] { sent = server->bodyBytesSent(); });
        }
        AWAIT(std::move(task), "the check of an endless feed");
        run([&] {
            sent = server->bodyBytesSent();
            server.reset();
        });
        thread.quit();
        QVERIFY(thread.wait(QDeadlineTimer(Await::kDeadlineMs)));
        QCOMPARE(checker->message(), tooLarge);
        QVERIFY2(sent < limit, qPrintable(QString::number(sent)));
    }

    // Never a certificate no authority vouches for, not even on this machine.
    void selfSignedCertificateIsRefused()
    {
        QTemporaryDir folder;
        const std::optional<HttpServer::TlsIdentity> identity =
            QSslSocket::supportsSsl() ? HttpServer::makeSelfSigned(folder.path()) : std::nullopt;
        if (!identity) QSKIP("no TLS backend, or the openssl command cannot make a certificate");
        HttpServer server;
        QVERIFY(server.useTls(*identity) && serve(server, HttpServer::ok(feedWithBuild(11))));
        const auto checker = checkerFor(server.url(feedPath).toString());
        AWAIT(checker->check(true), "the https check");
        QVERIFY(!checker->available());
        const QString said = checker->message().value_or(QString());
        QVERIFY2(said.startsWith(failed + "Không thiết lập được kết nối bảo mật (TLS) (127.0.0.1:"),
                 qPrintable(said));
    }

    // The transfer times out on its own and the check ends without touching the checker.
    void checkerDestroyedDuringCheck()
    {
        HttpServer server;
        QVERIFY(serve(server, HttpServer::silent()));
        auto checker = checkerFor(server.url(feedPath).toString(), {300ms, 6h});
        QCoro::Task<> task = checker->check(true);
        AWAIT_UNTIL(server.requestCount() == 1, "the request");
        checker.reset();
        AWAIT(std::move(task), "the orphaned check");
    }
};

SORVI_TEST_MAIN(TestUpdateChecker)
#include "tst_update_checker.moc"
