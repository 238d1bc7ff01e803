#include "support/http_server.h"
#include "support/test_home.h"
#include "update/feed_transfer.h"
#include "update/update_checker.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
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

// A feed whose only entry is ours, with these releases.
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
// Long enough never to be reached by a check that is meant to succeed, even under sanitizers.
constexpr std::chrono::milliseconds generous = 10s;

const QString failed = QStringLiteral("Không kiểm tra được cập nhật: ");
const QString upToDate = QStringLiteral("Bạn đang dùng bản mới nhất (2.0).");
const QString noVersions = QStringLiteral("Không tìm thấy thông tin phiên bản.");
const QString notConfigured = QStringLiteral("Chưa cấu hình địa chỉ kiểm tra cập nhật.");

QVariantMap infoDictionary(const QVariant& build = QStringLiteral("10"))
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

std::unique_ptr<UpdateChecker> checkerFor(const QUrl& feed,
                                          const QVariantMap& info = infoDictionary(),
                                          std::chrono::milliseconds timeout = generous,
                                          std::chrono::milliseconds interval = 6h)
{
    return std::make_unique<UpdateChecker>(info, UpdateChecker::Timing{timeout, interval},
                                           feedVariable(feed.toString()));
}

bool serve(HttpServer& server, const HttpServer::Response& feed)
{
    if (!server.listen()) return false;
    server.route(feedPath, feed);
    return true;
}

} // namespace

class TestUpdateChecker : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_certificates;
    std::optional<HttpServer::TlsIdentity> m_trusted;
    std::optional<HttpServer::TlsIdentity> m_untrusted;
    QString m_tlsUnavailable;

private slots:
    void initTestCase()
    {
        QVERIFY(m_certificates.isValid());
        if (!QSslSocket::supportsSsl()) {
            m_tlsUnavailable = QStringLiteral("no TLS backend in this Qt");
            return;
        }
        QVERIFY(QDir(m_certificates.path()).mkpath(QStringLiteral("a")));
        QVERIFY(QDir(m_certificates.path()).mkpath(QStringLiteral("b")));
        m_trusted = HttpServer::makeSelfSigned(m_certificates.filePath(QStringLiteral("a")));
        m_untrusted = HttpServer::makeSelfSigned(m_certificates.filePath(QStringLiteral("b")));
        if (!m_trusted || !m_untrusted) {
            m_tlsUnavailable = QStringLiteral("the openssl command cannot make a certificate");
            return;
        }
        // Trusting our own throwaway certificate as an authority is how the https tests get a
        // valid peer without ever ignoring TLS errors.
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificate(QSslCertificate(m_trusted->certificatePem, QSsl::Pem));
        QSslConfiguration::setDefaultConfiguration(configuration);
    }

    // ---- feed address, download page, running build -------------------------------------

    void feedAddress_data()
    {
        QTest::addColumn<OptionalText>("variable");
        QTest::addColumn<QVariant>("property");
        QTest::addColumn<QString>("expected"); // empty: no feed address

        const QString https = QStringLiteral("https://updates.example.com/feeds/stable.json");
        const auto set = [](const char* text) { return OptionalText(QString::fromUtf8(text)); };
        const auto variableOnly = [&](const char* variable, bool accepted) {
            QTest::newRow(variable) << set(variable) << QVariant()
                                    << (accepted ? QString::fromUtf8(variable) : QString());
        };
        QTest::newRow("variable") << OptionalText(https) << QVariant() << https;
        QTest::newRow("property") << OptionalText() << QVariant(https) << https;
        QTest::newRow("variable wins over property")
            << set("https://a.example/f.json") << QVariant(https) << "https://a.example/f.json";
        QTest::newRow("empty variable overrides property") << set("") << QVariant(https) << "";
        QTest::newRow("unusable variable overrides property")
            << set("ftp://example.com/f.json") << QVariant(https) << "";
        QTest::newRow("nothing configured") << OptionalText() << QVariant() << "";
        variableOnly(" https://updates.example.com/f.json", false); // leading blank
        variableOnly("HTTPS://updates.example.com/f.json", false);
        variableOnly("http://updates.example.com/f.json", false); // plain http to another host
        variableOnly("http://localhost:8080/f.json", true);
        variableOnly("http://127.0.0.1/f.json", true);
        variableOnly("http://localhost.example.net/f.json", false);
        variableOnly("http://127.0.0.1@example.net/f.json", false);
    }

    void feedAddress()
    {
        QFETCH(OptionalText, variable);
        QFETCH(QVariant, property);
        QFETCH(QString, expected);
        QVariantMap info = infoDictionary();
        if (property.isValid()) info.insert(QStringLiteral("SorviUpdateFeedURL"), property);
        UpdateChecker checker(info, {}, feedVariable(variable));
        const std::optional<QUrl> feed = checker.feedURL();
        QCOMPARE(feed ? feed->toString() : QString(), expected);
        if (!expected.isEmpty()) return;
        QVERIFY(!checker.downloadPageURL());
        QCoro::waitFor(checker.check(false));
        QCOMPARE(checker.message(), OptionalText());
        QCoro::waitFor(checker.check(true));
        QCOMPARE(checker.message(), OptionalText(notConfigured));
        QCOMPARE(checker.available(), OptionalAvailable());
    }

    void downloadPage_data()
    {
        QTest::addColumn<QString>("feed");
        QTest::addColumn<QVariant>("version"); // invalid: no CFBundleShortVersionString
        QTest::addColumn<QString>("expected");

        QTest::newRow("stable.json, 2.0")
            << "https://example.com/feeds/stable.json" << QVariant(QStringLiteral("2.0"))
            << "https://example.com/feeds/apps/sorviclean/?installed=sorviclean:2.0";
        QTest::newRow("query of the feed replaced")
            << "http://127.0.0.1:8080/updates/feed.json?channel=beta" << QVariant("1.4")
            << "http://127.0.0.1:8080/updates/apps/sorviclean/?installed=sorviclean:1.4";
        QTest::newRow("feed folder with a trailing slash")
            << "https://example.com/feeds/stable/" << QVariant("1")
            << "https://example.com/feeds/apps/sorviclean/?installed=sorviclean:1";
        QTest::newRow("no version")
            << "https://example.com/f.json" << QVariant()
            << "https://example.com/apps/sorviclean/?installed=sorviclean:0";
        QTest::newRow("version needing encoding")
            << "https://example.com/f.json" << QVariant("2.0 beta&x=1#2")
            << "https://example.com/apps/sorviclean/?installed=sorviclean:2.0%20beta%26x%3D1%232";
    }

    void downloadPage()
    {
        QFETCH(QString, feed);
        QFETCH(QVariant, version);
        QFETCH(QString, expected);
        QVariantMap info;
        if (version.isValid()) info.insert(QStringLiteral("CFBundleShortVersionString"), version);
        UpdateChecker checker(info, {}, feedVariable(feed));
        const std::optional<QUrl> page = checker.downloadPageURL();
        QVERIFY(page);
        QCOMPARE(page->toString(QUrl::FullyEncoded), expected);
    }

    void currentBuild_data()
    {
        QTest::addColumn<QVariant>("value"); // invalid: key missing
        QTest::addColumn<qint64>("expected");
        QTest::newRow("digits") << QVariant("12") << qint64(12);
        QTest::newRow("plus sign") << QVariant("+12") << qint64(12);
        QTest::newRow("minus sign") << QVariant("-12") << qint64(-12);
        QTest::newRow("12a") << QVariant("12a") << qint64(0);
        QTest::newRow("missing") << QVariant() << qint64(0);
        QTest::newRow("leading blank") << QVariant(" 12") << qint64(0);
        QTest::newRow("not text") << QVariant(12) << qint64(0);
        QTest::newRow("largest") << QVariant("9223372036854775807")
                                 << std::numeric_limits<qint64>::max();
        QTest::newRow("overflow") << QVariant("9223372036854775808") << qint64(0);
        QTest::newRow("Arabic-Indic digits") << QVariant(QString::fromUtf8("١٢")) << qint64(0);
    }

    void currentBuild()
    {
        QFETCH(QVariant, value);
        QFETCH(qint64, expected);
        UpdateChecker checker(infoDictionary(value), {}, feedVariable(std::nullopt));
        QCOMPARE(checker.currentBuild(), expected);
    }

    // ---- checks against a real server (the running build is 8) ---------------------------

    void check_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("manual");
        QTest::addColumn<OptionalAvailable>("available");
        QTest::addColumn<OptionalText>("message");

        const Available nine{QStringLiteral("v9"), 9, {QStringLiteral("note")}};
        const QByteArray otherApp =
            j("{'apps':[{'id':'other','versions':[{'version':'9','build':99}]}]}");
        for (const bool manual : {true, false}) {
            const char* kind = manual ? "manual" : "periodic";
            const auto said = [manual](const QString& text) {
                return manual ? OptionalText(text) : std::nullopt;
            };
            QTest::addRow("newer, %s", kind)
                << feedWithBuild(9) << manual << OptionalAvailable(nine) << OptionalText();
            QTest::addRow("equal, %s", kind)
                << feedWithBuild(8) << manual << OptionalAvailable() << said(upToDate);
            QTest::addRow("older, %s", kind)
                << feedWithBuild(7) << manual << OptionalAvailable() << said(upToDate);
            QTest::addRow("no entry, %s", kind)
                << otherApp << manual << OptionalAvailable() << said(noVersions);
            QTest::addRow("no versions, %s", kind)
                << feedOf("") << manual << OptionalAvailable() << said(noVersions);
        }
        QTest::newRow("identifier compared case-sensitively")
            << j("{'apps':[{'id':'SorviClean','versions':[{'version':'9','build':99}]}]}") << true
            << OptionalAvailable() << OptionalText(noVersions);
        QTest::newRow("entry listed twice: the first counts")
            << j("{'apps':[{'id':'sorviclean','versions':[{'version':'a','build':9}]},"
                 "{'id':'sorviclean','versions':[{'version':'b','build':99}]}]}")
            << true << OptionalAvailable(Available{QStringLiteral("a"), 9, {}}) << OptionalText();
        QTest::newRow("builds 7, 9, 9: the first 9")
            << feedOf("{'version':'seven','build':7},{'version':'nine-a','build':9,'notes':['a']},"
                      "{'version':'nine-b','build':9}")
            << true
            << OptionalAvailable(Available{QStringLiteral("nine-a"), 9, {QStringLiteral("a")}})
            << OptionalText();
        QTest::newRow("version texts never compared")
            << feedOf("{'version':'99.0','build':3},{'version':'1.0','build':12}") << false
            << OptionalAvailable(Available{QStringLiteral("1.0"), 12, {}}) << OptionalText();
        const QByteArray newer = feedWithBuild(9);
        QTest::newRow("body exactly at the cap")
            << newer + QByteArray(FeedTransfer::maxBodyBytes - newer.size(), ' ') << true
            << OptionalAvailable(nine) << OptionalText();
    }

    void check()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, manual);
        QFETCH(OptionalAvailable, available);
        QFETCH(OptionalText, message);

        HttpServer server;
        QVERIFY(serve(server, HttpServer::ok(body)));
        auto checker = checkerFor(server.url(feedPath), infoDictionary(QStringLiteral("8")));
        QCoro::waitFor(checker->check(manual));
        QCOMPARE(checker->available(), available);
        QCOMPARE(checker->message(), message);
        QCOMPARE(server.requestCount(), 1);
        const QByteArray head = server.lastRequestHead();
        QVERIFY2(head.startsWith("GET /feed.json HTTP/1.1\r\n"), head.constData());
        QVERIFY2(head.toLower().contains("cache-control: no-cache"), head.constData());
    }

    void failure_data()
    {
        QTest::addColumn<HttpServer::Response>("response");
        // The text after the prefix; only its start when it does not end the sentence.
        QTest::addColumn<QString>("description");
        QTest::addColumn<int>("requests");

        const QByteArray newer = feedWithBuild(11);
        // A 302 without a Location is no redirect.
        for (const int status : {204, 302, 304, 404, 500}) {
            QTest::addRow("status %d with a valid body", status)
                << HttpServer::withStatus(status, newer)
                << QStringLiteral("The server returned an unexpected response (HTTP status %1).")
                       .arg(status)
                << 1;
        }
        QTest::newRow("not JSON") << HttpServer::ok("<html>Service Unavailable</html>")
                                  << "The feed is not valid JSON: " << 1;
        const auto build = [](const QByteArray& value) {
            return HttpServer::ok(feedOf("{'version':'2','build':" + value + "}"));
        };
        const QString form =
            QStringLiteral("The feed does not have the expected form: apps[0].versions[0]");
        QTest::newRow("missing key")
            << HttpServer::ok(feedOf("{'version':'2'}")) << form + " has no key \"build\"." << 1;
        QTest::newRow("wrong type") << build("'11'") << form + ".build is not a number." << 1;
        QTest::newRow("fractional build")
            << build("11.0") << form + ".build is not an integer." << 1;
        QTest::newRow("huge build") << build("1e30") << form + ".build is not an integer." << 1;
        QTest::newRow("build beyond 64 bits")
            << build("18446744073709551616") << form + ".build does not fit in 64 bits." << 1;
        // The body is counted as it arrives: the server is told to send 1 GiB.
        QTest::newRow("endless body")
            << HttpServer::stream(qint64(1) << 30) << "The feed is larger than 1048576 bytes." << 1;
        QTest::newRow("one byte over the cap")
            << HttpServer::ok(newer +
                              QByteArray(FeedTransfer::maxBodyBytes + 1 - newer.size(), ' '))
            << "The feed is larger than 1048576 bytes." << 1;
        QTest::newRow("never answers") << HttpServer::silent() << "The request timed out." << 1;
        // Each byte resets Qt's own idle time-out; only a deadline for the whole exchange ends it.
        QTest::newRow("trickle") << HttpServer::trickle(newer + QByteArray(4096, ' '), 20ms)
                                 << "The request timed out." << 1;
        // Every hop is held to the rule for feed addresses, from http://localhost on.
        for (const char* location :
             {"http://updates.example.com/feed.json", "http://127.0.0.1@example.com/feed.json",
              "ftp://127.0.0.1/feed.json"}) {
            QTest::addRow("redirect to %s", location)
                << HttpServer::redirect(location)
                << QStringLiteral("The redirect to %1 was refused.").arg(location) << 1;
        }
        QTest::newRow("redirect loop") << HttpServer::redirect(QStringLiteral("/feed.json?again"))
                                       << "The feed was redirected more than 50 times." << 51;
    }

    void failure()
    {
        QFETCH(HttpServer::Response, response);
        QFETCH(QString, description);
        QFETCH(int, requests);

        HttpServer server;
        QVERIFY(serve(server, response));
        // Only the rows that are meant to time out wait for the short time-out.
        const bool meantToTimeOut = description == QLatin1String("The request timed out.");
        auto checker =
            checkerFor(QUrl(QStringLiteral("http://localhost:%1/feed.json").arg(server.port())),
                       infoDictionary(), meantToTimeOut ? 300ms : generous);
        QCoro::waitFor(checker->check(true));
        QVERIFY(checker->message());
        const QString message = *checker->message();
        if (description.endsWith(QLatin1Char('.')))
            QCOMPARE(message, failed + description);
        else
            QVERIFY2(message.startsWith(failed + description), qPrintable(message));
        QCOMPARE(checker->available(), OptionalAvailable());
        QCOMPARE(server.requestCount(), requests);
        // Socket buffers hold a few megabytes at most; a reader that kept going would reach 1 GiB.
        QVERIFY2(server.bodyBytesSent() < (qint64(64) << 20),
                 qPrintable(QString::number(server.bodyBytesSent())));

        QSignalSpy messages(checker.get(), &UpdateChecker::messageChanged);
        checker->clearMessage();
        QCOMPARE(messages.size(), 1);
        QCoro::waitFor(checker->check(false));
        QCOMPARE(checker->message(), OptionalText());
        QCOMPARE(messages.size(), 1);
        QCOMPARE(checker->available(), OptionalAvailable());
    }

    void signalsOnlyOnRealChange()
    {
        HttpServer server;
        QVERIFY(serve(server, HttpServer::ok(feedWithBuild(11))));
        auto checker = checkerFor(server.url(feedPath));
        QSignalSpy available(checker.get(), &UpdateChecker::availableChanged);
        QSignalSpy messages(checker.get(), &UpdateChecker::messageChanged);
        QCoro::waitFor(checker->check(true));
        QCoro::waitFor(checker->check(true));
        QCOMPARE(available.size(), 1);
        QCOMPARE(messages.size(), 0); // a newer build is announced without words
        const OptionalAvailable found = checker->available();
        QVERIFY(found);

        // A failed check, manual or periodic, keeps what an earlier one found.
        for (const QByteArray& broken : {QByteArray("garbage"), j("{'apps':[]}")}) {
            server.route(feedPath, HttpServer::ok(broken));
            QCoro::waitFor(checker->check(true));
            QCOMPARE(checker->available(), found);
        }
        QCOMPARE(checker->message(), OptionalText(noVersions));
        server.route(feedPath, HttpServer::withStatus(404, "gone"));
        QCoro::waitFor(checker->check(false));
        QCOMPARE(checker->available(), found);
        QCOMPARE(available.size(), 1);
        QCOMPARE(messages.size(), 2);

        server.route(feedPath, HttpServer::ok(feedWithBuild(10)));
        QCoro::waitFor(checker->check(true));
        QCOMPARE(available.size(), 2);
        QCOMPARE(checker->available(), OptionalAvailable());
        QCOMPARE(messages.size(), 3);
        QCoro::waitFor(checker->check(true));
        QCOMPARE(messages.size(), 3); // the same text, still shown
        checker->clearMessage();
        checker->clearMessage();
        QCOMPARE(messages.size(), 4);
        QCOMPARE(checker->message(), OptionalText());
        QCoro::waitFor(checker->check(true));
        QCOMPARE(messages.size(), 5); // shown again after being dismissed
        QCOMPARE(available.size(), 2);
        QCOMPARE(server.requestCount(), 8); // every check asks the server, none is answered early
    }

    // ---- redirects and TLS -------------------------------------------------------------

    void fiftyRedirectsFollowed()
    {
        HttpServer server;
        QVERIFY(server.listen());
        const auto hop = [](int i) { return QStringLiteral("/hop/%1").arg(i); };
        // From localhost to 127.0.0.1 on the first hop, relative after: all of it loopback.
        server.route(hop(0), HttpServer::redirect(server.url(hop(1)).toString(), 301));
        for (int i = 1; i < 50; ++i)
            server.route(hop(i), HttpServer::redirect(hop(i + 1), i % 2 ? 307 : 301));
        server.route(hop(50), HttpServer::ok(feedWithBuild(11)));
        auto checker =
            checkerFor(QUrl(QStringLiteral("http://localhost:%1/hop/0").arg(server.port())));
        QCoro::waitFor(checker->check(true));
        QCOMPARE(checker->message(), OptionalText());
        QVERIFY(checker->available());
        QCOMPARE(server.requestCount(), 51);
    }

    void https_data()
    {
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<bool>("redirectToPlainHttp");
        QTest::addColumn<QString>("failure"); // the start of the text after the prefix
        QTest::newRow("trusted certificate") << true << false << QString();
        QTest::newRow("self-signed certificate") << false << false << "SSL handshake failed";
        // Even to the loopback address, which would be accepted as a feed address of its own.
        QTest::newRow("redirect to plain http")
            << true << true << "The redirect to http://127.0.0.1:";
    }

    void https()
    {
        QFETCH(bool, trusted);
        QFETCH(bool, redirectToPlainHttp);
        QFETCH(QString, failure);
        if (!m_tlsUnavailable.isEmpty()) QSKIP(qPrintable(m_tlsUnavailable));
        HttpServer plain;
        QVERIFY(serve(plain, HttpServer::ok(feedWithBuild(11))));
        HttpServer secure;
        QVERIFY(secure.useTls(trusted ? *m_trusted : *m_untrusted));
        QVERIFY(serve(secure, redirectToPlainHttp
                                  ? HttpServer::redirect(plain.url(feedPath).toString())
                                  : HttpServer::ok(feedWithBuild(11))));
        auto checker = checkerFor(secure.url(feedPath));
        QCoro::waitFor(checker->check(true));
        QCOMPARE(plain.requestCount(), 0);
        if (failure.isEmpty()) {
            QCOMPARE(checker->message(), OptionalText());
            QVERIFY(checker->available());
            return;
        }
        QVERIFY(checker->message());
        QVERIFY2(checker->message()->startsWith(failed + failure), qPrintable(*checker->message()));
        QVERIFY(!checker->available());
        QCOMPARE(secure.requestCount(), trusted ? 1 : 0);
    }

    // ---- the periodic loop -------------------------------------------------------------

    void startChecksAtOnceAndOnlyOnce()
    {
        OptionalText variable;
        UpdateChecker checker(infoDictionary(), {generous, 6h},
                              [&variable](const QString&) { return variable; });
        checker.start(); // without a feed address: no loop, so a later start() begins one
        HttpServer server;
        QVERIFY(serve(server, HttpServer::ok(feedWithBuild(11))));
        variable = server.url(feedPath).toString();
        QSignalSpy available(&checker, &UpdateChecker::availableChanged);
        checker.start();
        checker.start();
        QVERIFY(available.wait());
        QCOMPARE(checker.message(), OptionalText());
        checker.start();
        // A manual check after the periodic one: had a second loop started, its request would
        // have been sent together with the first.
        QCoro::waitFor(checker.check(true));
        QCOMPARE(server.requestCount(), 2);
    }

    void startRepeatsAfterEachCheck()
    {
        HttpServer server;
        QVERIFY(serve(server, HttpServer::ok(feedWithBuild(11))));
        auto checker = checkerFor(server.url(feedPath), infoDictionary(), generous, 50ms);
        checker->start();
        QVERIFY(QTest::qWaitFor([&] { return server.requestCount() >= 3; }));
        // The newest release moves under a running loop: the next periodic check follows it.
        server.route(feedPath, HttpServer::ok(feedWithBuild(10)));
        QVERIFY(QTest::qWaitFor([&] { return !checker->available(); }));
        QCOMPARE(checker->message(), OptionalText());
    }

    void checkerDestroyedDuringCheck()
    {
        HttpServer server;
        QVERIFY(serve(server, HttpServer::trickle(feedWithBuild(11), 10ms)));
        auto checker = checkerFor(server.url(feedPath));
        QCoro::Task<> task = checker->check(true);
        QVERIFY(QTest::qWaitFor([&] { return server.requestCount() == 1; }));
        // The server shares this thread: had the check blocked it, the transfer would be over.
        QVERIFY(!task.isReady());
        checker.reset();
        // The transfer finishes on its own and the check ends without touching the checker.
        QCoro::waitFor(std::move(task));
    }
};

SORVI_TEST_MAIN(TestUpdateChecker)
#include "tst_update_checker.moc"
