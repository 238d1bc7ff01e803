#include "support/await.h"
#include "support/http_server.h"
#include "support/test_home.h"
#include "update/feed_transfer.h"
#include "update/update_checker.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QThread>
#include <memory>

using namespace std::chrono_literals;
using Available = UpdateChecker::Available;
using OptionalAvailable = std::optional<Available>;
using OptionalText = std::optional<QString>;

Q_DECLARE_METATYPE(OptionalAvailable)
Q_DECLARE_METATYPE(OptionalText)

namespace {

// Feed texts are written with ' for " to keep them readable.
QByteArray j(QByteArray text)
{
    return text.replace('\'', '"');
}

QByteArray feedOf(const QByteArray& releases)
{
    return j("{'apps':[{'id':'sorviclean','versions':[" + releases + "]}]}");
}

QByteArray feedWithBuild(qint64 build)
{
    const QByteArray n = QByteArray::number(build);
    return feedOf("{'version':'v" + n + "','build':" + n + ",'notes':['note']}");
}

const QString feedPath = QStringLiteral("/feed.json");
const QString failed = QStringLiteral("Không kiểm tra được cập nhật: ");
const QString tooLarge = failed + QStringLiteral("Dữ liệu cập nhật lớn hơn 1048576 byte.");

QVariantMap infoDictionary(const QVariant& build = QStringLiteral("8"))
{
    QVariantMap info{{QStringLiteral("CFBundleShortVersionString"), QStringLiteral("2.0")}};
    if (build.isValid()) info.insert(QStringLiteral("CFBundleVersion"), build);
    return info;
}

UpdateChecker::EnvironmentLookup feedVariable(const OptionalText& value)
{
    return [value](const QString& name) {
        return name == QLatin1String("SORVI_UPDATE_FEED_URL") ? value : std::nullopt;
    };
}

// 10 s is never reached by a check meant to succeed, under sanitizers too.
std::unique_ptr<UpdateChecker> checkerFor(const QUrl& feed, std::chrono::milliseconds timeout = 10s,
                                          std::chrono::milliseconds interval = 6h)
{
    return std::make_unique<UpdateChecker>(
        infoDictionary(), UpdateChecker::Timing{timeout, interval}, feedVariable(feed.toString()));
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
private:
    QTemporaryDir m_certificates;
    std::optional<HttpServer::TlsIdentity> m_trusted;
    std::optional<HttpServer::TlsIdentity> m_untrusted;

private slots:
    void initTestCase()
    {
        const QDir dir(m_certificates.path());
        if (!QSslSocket::supportsSsl() || !dir.mkpath("a") || !dir.mkpath("b")) return;
        m_trusted = HttpServer::makeSelfSigned(dir.filePath("a"));
        m_untrusted = HttpServer::makeSelfSigned(dir.filePath("b"));
        if (!m_trusted || !m_untrusted) return;
        // Trusting our own throwaway certificate as an authority gives the https tests a valid
        // peer without ever ignoring TLS errors.
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificate(QSslCertificate(m_trusted->certificatePem, QSsl::Pem));
        QSslConfiguration::setDefaultConfiguration(configuration);
    }

    void addresses_data()
    {
        QTest::addColumn<OptionalText>("variable");
        QTest::addColumn<QVariant>("property");
        QTest::addColumn<QVariant>("version"); // invalid: no CFBundleShortVersionString
        QTest::addColumn<QString>("feed");     // empty: no feed address
        QTest::addColumn<QString>("page");
        const auto row = [](const char* tag, const OptionalText& variable, const QVariant& property,
                            const char* feed, const char* page, const QVariant& version = "2.0") {
            QTest::newRow(tag) << variable << property << version << QString(feed) << QString(page);
        };
        const char* stable = "https://u.example/feeds/stable.json";
        row("property", {}, stable, stable,
            "https://u.example/feeds/apps/sorviclean/?installed=sorviclean:2.0");
        row("empty variable overrides", "", stable, "", "");
        row("leading blank", " https://u.example/f.json", {}, "", "");
        row("plain http off the machine", "http://u.example/f.json", {}, "", "");
        row("localhost", "http://localhost:8080/f.json", {}, "http://localhost:8080/f.json",
            "http://localhost:8080/apps/sorviclean/?installed=sorviclean:2.0");
        row("127.0.0.1, folder and query", "http://127.0.0.1:80/up/stable/?channel=beta", {},
            "http://127.0.0.1:80/up/stable/?channel=beta",
            "http://127.0.0.1:80/up/apps/sorviclean/?installed=sorviclean:2.0");
        row("localhost.example.net", "http://localhost.example.net/f.json", {}, "", "");
        row("127.0.0.1@example.net", "http://127.0.0.1@example.net/f.json", {}, "", "");
        row("no version", "https://e.com/f.json", {}, "https://e.com/f.json",
            "https://e.com/apps/sorviclean/?installed=sorviclean:0", QVariant());
        row("version needing encoding", "https://e.com/f.json", {}, "https://e.com/f.json",
            "https://e.com/apps/sorviclean/?installed=sorviclean:2.0%20beta%26x%3D1%232",
            "2.0 beta&x=1#2");
    }
    void addresses()
    {
        QFETCH(OptionalText, variable);
        QFETCH(QVariant, property);
        QFETCH(QVariant, version);
        QFETCH(QString, feed);
        QFETCH(QString, page);
        QVariantMap info;
        if (version.isValid()) info.insert(QStringLiteral("CFBundleShortVersionString"), version);
        if (property.isValid()) info.insert(QStringLiteral("SorviUpdateFeedURL"), property);
        UpdateChecker checker(info, {}, feedVariable(variable));
        QCOMPARE(checker.feedURL().value_or(QUrl()).toString(), feed);
        QCOMPARE(checker.downloadPageURL().value_or(QUrl()).toString(QUrl::FullyEncoded), page);
        if (!feed.isEmpty()) return;
        AWAIT(checker.check(false), "a periodic check without an address");
        QCOMPARE(checker.message(), OptionalText());
        AWAIT(checker.check(true), "a manual check without an address");
        QCOMPARE(checker.message(), OptionalText("Chưa cấu hình địa chỉ kiểm tra cập nhật."));
    }

    void currentBuild_data()
    {
        QTest::addColumn<QVariant>("value"); // invalid: key missing
        QTest::addColumn<qint64>("expected");
        QTest::newRow("signs") << QVariant("-12") << qint64(-12);
        QTest::newRow("12a") << QVariant("12a") << qint64(0);
        QTest::newRow("missing") << QVariant() << qint64(0);
        QTest::newRow("largest") << QVariant("+9223372036854775807")
                                 << std::numeric_limits<qint64>::max();
        QTest::newRow("overflow") << QVariant("9223372036854775808") << qint64(0);
        QTest::newRow("Arabic-Indic digits") << QVariant(QString::fromUtf8("١٢")) << qint64(0);
    }
    void currentBuild()
    {
        QFETCH(QVariant, value);
        QFETCH(qint64, expected);
        QCOMPARE(UpdateChecker(infoDictionary(value), {}, feedVariable({})).currentBuild(),
                 expected);
    }

    // Each row follows a check that found build 11, the running build being 8: only a newer
    // feed or an up-to-date one changes what was found, only a manual check has words.
    void check_data()
    {
        QTest::addColumn<HttpServer::Response>("response");
        QTest::addColumn<bool>("manual");
        QTest::addColumn<OptionalAvailable>("available");
        QTest::addColumn<QString>("message"); // "": none; ending in ": ", the start of it
        QTest::addColumn<int>("requests");
        const auto row = [](const char* tag, const HttpServer::Response& response, bool manual,
                            const OptionalAvailable& available, const QString& message,
                            int requests = 1) {
            QTest::newRow(tag) << response << manual << available << message << requests;
        };
        const auto ok = [](const QByteArray& body) { return HttpServer::ok(body); };
        const Available eleven{QStringLiteral("v11"), 11, {QStringLiteral("note")}};
        const Available nine{QStringLiteral("v9"), 9, {QStringLiteral("note")}};
        row("newer", ok(feedWithBuild(9)), true, nine, {});
        row("equal", ok(feedWithBuild(8)), true, {}, "Bạn đang dùng bản mới nhất (2.0).");
        row("older, periodic", ok(feedWithBuild(7)), false, {}, {});
        row("no versions", ok(feedOf("")), true, eleven, "Không tìm thấy thông tin phiên bản.");
        row("builds 7, 9, 9: the first 9; version texts never compared",
            ok(feedOf("{'version':'99','build':7},{'version':'nine-a','build':9,'notes':null},"
                      "{'version':'nine-b','build':9}")),
            false, Available{QStringLiteral("nine-a"), 9, {}}, {});
        const QByteArray newer = feedWithBuild(9);
        const qint64 cap = FeedTransfer::maxBodyBytes;
        row("body exactly at the cap", ok(newer + QByteArray(cap - newer.size(), ' ')), true, nine,
            {});
        row("one byte over the cap", ok(newer + QByteArray(cap + 1 - newer.size(), ' ')), true,
            eleven, tooLarge);
        row("endless body", HttpServer::endlessChunks(), true, eleven, tooLarge);
        // A 302 without a Location is no redirect.
        for (const int status : {302, 304})
            QTest::addRow("status %d", status)
                << HttpServer::withStatus(status, newer) << true << OptionalAvailable(eleven)
                << failed + QStringLiteral("Máy chủ trả về mã HTTP %1 thay vì 200.").arg(status)
                << 1;
        row("not a feed", ok("<html/>"), true, eleven,
            failed + "Dữ liệu cập nhật không phải JSON hợp lệ: thiếu giá trị ở vị trí 0.");
        row("not a feed, periodic", ok("<html/>"), false, eleven, {});
        // Each byte would reset an idle time-out: only a deadline for the whole exchange ends it.
        row("trickle", HttpServer::trickle(newer + QByteArray(4096, ' '), 20ms), true, eleven,
            failed + "Máy chủ không trả lời kịp thời hạn.");
        // Every hop is held to the rule for feed addresses, from http://localhost on.
        row("redirect off the machine", HttpServer::redirect("http://127.0.0.1@example.com/f"),
            true, eleven, failed + "Không theo chuyển hướng sang http://127.0.0.1@example.com/f.");
        row("redirect loop", HttpServer::redirect("/feed.json?again"), true, eleven,
            failed + "Bị chuyển hướng quá 50 lần.", 51);
    }
    void check()
    {
        QFETCH(HttpServer::Response, response);
        QFETCH(bool, manual);
        QFETCH(OptionalAvailable, available);
        QFETCH(QString, message);
        QFETCH(int, requests);
        HttpServer server;
        QVERIFY(serve(server, HttpServer::ok(feedWithBuild(11))));
        // Only the rows meant to time out wait for a short time-out.
        auto checker =
            checkerFor(QUrl(QStringLiteral("http://localhost:%1/feed.json").arg(server.port())),
                       message.contains("kịp thời hạn") ? 300ms : 10s);
        AWAIT(checker->check(false), "the check that finds build 11");
        const QByteArray head = server.lastRequestHead();
        QVERIFY2(head.startsWith("GET /feed.json HTTP/1.1\r\n"), head.constData());
        QVERIFY2(head.toLower().contains("cache-control: no-cache"), head.constData());
        server.route(feedPath, response);
        AWAIT(checker->check(manual), "the check");
        QCOMPARE(checker->available(), available);
        const QString said = checker->message().value_or(QString());
        QVERIFY2(message.endsWith(": ") ? said.startsWith(message) : said == message,
                 qPrintable(said));
        QCOMPARE(server.requestCount(), 1 + requests);
    }

    // Without a read-buffer limit Qt reads a fast server's stream far ahead of the reader: with
    // the GUI thread busy for a moment, hundreds of megabytes. Counted at a server on a thread of
    // its own, which can only send what the client takes (and what the sockets buffer).
    void endlessBodyStaysBounded()
    {
        QThread thread;
        QObject inThread;
        inThread.moveToThread(&thread);
        thread.start();
        std::unique_ptr<HttpServer> server;
        qint64 sent = 0;
        const auto run = [&](auto work) {
            QMetaObject::invokeMethod(&inThread, work, Qt::BlockingQueuedConnection);
        };
        const auto count = [&] { run([&] { sent = server ? server->bodyBytesSent() : 0; }); };
        QUrl feed;
        run([&] {
            server = std::make_unique<HttpServer>();
            if (serve(*server, HttpServer::endlessChunks())) feed = server->url(feedPath);
        });
        auto checker = checkerFor(feed);
        QCoro::Task<> task = checker->check(true);
        QCoreApplication::processEvents(); // hands the request to Qt's network thread
        // The GUI thread now reads nothing until the stream stalls or passes the limit.
        constexpr qint64 limit = qint64(16) << 20;
        for (qint64 before = -1, rounds = 0;
             (sent == 0 || sent != before) && sent < limit && ++rounds < 50;) {
            before = sent;
            QThread::msleep(100);
            count();
        }
        AWAIT(std::move(task), "the check of an endless feed");
        count();
        run([&] { server.reset(); });
        thread.quit();
        QVERIFY(thread.wait(QDeadlineTimer(Await::kDeadlineMs)));
        QCOMPARE(checker->message(), tooLarge);
        QVERIFY2(sent < limit, qPrintable(QString::number(sent)));
    }

    // A default Qt timer may fire 5 % early: 0.75 s of a 15 s limit. The deadline decides.
    void timeLimitIsNeverEarly()
    {
        QObject owner;
        int expired = 0;
        const auto expire = [&] { ++expired; };
        FeedTransfer::Deadline far(15s, expire, &owner);
        far.wake(); // as a timer that fires early would
        QCOMPARE(expired, 0);
        QVERIFY(far.timer().isActive());
        FeedTransfer::Deadline passed(0ms, expire, &owner);
        passed.wake();
        QCOMPARE(expired, 1);
    }

    void https_data()
    {
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("redirectToPlainHttp");
        QTest::addColumn<QString>("failure"); // the start of the text after the prefix
        QTest::newRow("trusted certificate") << true << false << QString();
        QTest::newRow("self-signed certificate")
            << false << false << "Không thiết lập được kết nối bảo mật (TLS) (127.0.0.1:";
        // Even to the loopback address, which would be accepted as a feed address of its own.
        QTest::newRow("redirect to plain http")
            << true << true << "Không theo chuyển hướng sang http://";
    }
    void https()
    {
        QFETCH(bool, trusted);
        QFETCH(bool, redirectToPlainHttp);
        QFETCH(QString, failure);
        if (!m_trusted) QSKIP("no TLS backend, or the openssl command cannot make a certificate");
        HttpServer plain;
        QVERIFY(serve(plain, HttpServer::ok(feedWithBuild(11))));
        HttpServer secure;
        QVERIFY(secure.useTls(trusted ? *m_trusted : *m_untrusted));
        QVERIFY(serve(secure, redirectToPlainHttp
                                  ? HttpServer::redirect(plain.url(feedPath).toString())
                                  : HttpServer::ok(feedWithBuild(11))));
        auto checker = checkerFor(secure.url(feedPath));
        AWAIT(checker->check(true), "the https check");
        QCOMPARE(plain.requestCount(), 0);
        QCOMPARE(checker->available().has_value(), failure.isEmpty());
        QVERIFY2(checker->message().value_or(failed).startsWith(failed + failure),
                 qPrintable(checker->message().value_or(QString())));
    }

    void startChecksAtOnceAndOnlyOnce()
    {
        OptionalText variable;
        UpdateChecker checker(infoDictionary(), {10s, 6h},
                              [&variable](const QString&) { return variable; });
        checker.start(); // without a feed address: no loop, so a later start() begins one
        HttpServer server;
        QVERIFY(serve(server, HttpServer::ok(feedWithBuild(11))));
        variable = server.url(feedPath).toString();
        checker.start();
        checker.start();
        AWAIT_UNTIL(checker.available(), "the first periodic check");
        // Had a second loop started, its request would have come with the first.
        AWAIT(checker.check(true), "a manual check");
        QCOMPARE(server.requestCount(), 2);
    }

    void startRepeatsAfterEachCheck()
    {
        HttpServer server;
        QVERIFY(serve(server, HttpServer::ok(feedWithBuild(11))));
        auto checker = checkerFor(server.url(feedPath), 10s, 50ms);
        checker->start();
        AWAIT_UNTIL(server.requestCount() >= 3, "three periodic checks");
        // The newest release moves under a running loop: the next periodic check follows it.
        server.route(feedPath, HttpServer::ok(feedWithBuild(8)));
        AWAIT_UNTIL(!checker->available(), "a later periodic check");
        QCOMPARE(checker->message(), OptionalText());
    }

    void checkerDestroyedDuringCheck()
    {
        HttpServer server;
        QVERIFY(serve(server, HttpServer::silent()));
        auto checker = checkerFor(server.url(feedPath), 300ms);
        QCoro::Task<> task = checker->check(true);
        AWAIT_UNTIL(server.requestCount() == 1, "the request");
        checker.reset();
        // The transfer times out on its own and the check ends without touching the checker.
        AWAIT(std::move(task), "the orphaned check");
    }
};

SORVI_TEST_MAIN(TestUpdateChecker)
#include "tst_update_checker.moc"
