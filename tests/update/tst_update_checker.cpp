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
QByteArray j(const char* text)
{
    return QByteArray(text).replace('\'', '"');
}

QByteArray feedWithBuild(qint64 build)
{
    return j("{'apps':[{'id':'sorviclean','versions':[{'version':'v") + QByteArray::number(build) +
           j("','build':") + QByteArray::number(build) + j(",'notes':['note']}]}]}");
}

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

UpdateChecker::EnvironmentLookup feedVariable(const std::optional<QString>& value)
{
    return [value](const QString& name) {
        return name == QLatin1String("SORVI_UPDATE_FEED_URL") ? value : std::nullopt;
    };
}

std::unique_ptr<UpdateChecker> checkerFor(const QUrl& feed,
                                          const QVariantMap& info = infoDictionary(),
                                          std::chrono::milliseconds interval = 6h)
{
    return std::make_unique<UpdateChecker>(info, UpdateChecker::Timing{generous, interval},
                                           feedVariable(feed.toString()));
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
        const OptionalText unset;
        QTest::newRow("variable") << OptionalText(https) << QVariant() << https;
        QTest::newRow("property") << unset << QVariant(https) << https;
        QTest::newRow("variable wins over property")
            << OptionalText(QStringLiteral("https://a.example/f.json")) << QVariant(https)
            << QStringLiteral("https://a.example/f.json");
        QTest::newRow("empty variable overrides property")
            << OptionalText(QString()) << QVariant(https) << QString();
        QTest::newRow("unusable variable overrides property")
            << OptionalText(QStringLiteral("ftp://example.com/f.json")) << QVariant(https)
            << QString();
        QTest::newRow("nothing configured") << unset << QVariant() << QString();
        QTest::newRow("property not text") << unset << QVariant(42) << QString();
        QTest::newRow("leading blank")
            << OptionalText(QLatin1Char(' ') + https) << QVariant() << QString();
        QTest::newRow("capital scheme")
            << OptionalText(QStringLiteral("HTTPS://updates.example.com/f.json")) << QVariant()
            << QString();
        QTest::newRow("capital http scheme")
            << OptionalText(QStringLiteral("Http://localhost/f.json")) << QVariant() << QString();
        QTest::newRow("capital localhost")
            << OptionalText(QStringLiteral("http://LOCALHOST/f.json")) << QVariant() << QString();
        QTest::newRow("plain http to another host")
            << OptionalText(QStringLiteral("http://updates.example.com/f.json")) << QVariant()
            << QString();
        QTest::newRow("plain http to another loopback spelling")
            << OptionalText(QStringLiteral("http://[::1]/f.json")) << QVariant() << QString();
        QTest::newRow("localhost") << OptionalText(QStringLiteral("http://localhost:8080/f.json"))
                                   << QVariant() << QStringLiteral("http://localhost:8080/f.json");
        QTest::newRow("127.0.0.1") << OptionalText(QStringLiteral("http://127.0.0.1/f.json"))
                                   << QVariant() << QStringLiteral("http://127.0.0.1/f.json");
        QTest::newRow("localhost prefix of another host")
            << OptionalText(QStringLiteral("http://localhost.example.net/f.json")) << QVariant()
            << QString();
        QTest::newRow("loopback prefix hiding another host")
            << OptionalText(QStringLiteral("http://127.0.0.1@example.net/f.json")) << QVariant()
            << QString();
        QTest::newRow("https that does not parse")
            << OptionalText(QStringLiteral("https://exa mple.com/f.json")) << QVariant()
            << QString();
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
        QCoro::waitFor(checker.check(true));
        QCOMPARE(checker.message(), OptionalText(notConfigured));
        QCOMPARE(checker.available(), OptionalAvailable());
    }

    void periodicCheckWithoutFeedIsSilent()
    {
        UpdateChecker checker(infoDictionary(), {}, feedVariable(std::nullopt));
        QCoro::waitFor(checker.check(false));
        QCOMPARE(checker.message(), OptionalText());
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
            << "http://127.0.0.1:8080/updates/feed.json?channel=beta"
            << QVariant(QStringLiteral("1.4"))
            << "http://127.0.0.1:8080/updates/apps/sorviclean/?installed=sorviclean:1.4";
        QTest::newRow("feed at the root")
            << "https://example.com/feed.json" << QVariant(QStringLiteral("1"))
            << "https://example.com/apps/sorviclean/?installed=sorviclean:1";
        QTest::newRow("feed folder with a trailing slash")
            << "https://example.com/feeds/stable/" << QVariant(QStringLiteral("1"))
            << "https://example.com/feeds/apps/sorviclean/?installed=sorviclean:1";
        QTest::newRow("no version")
            << "https://example.com/f.json" << QVariant()
            << "https://example.com/apps/sorviclean/?installed=sorviclean:0";
        QTest::newRow("version not text")
            << "https://example.com/f.json" << QVariant(2)
            << "https://example.com/apps/sorviclean/?installed=sorviclean:0";
        QTest::newRow("version needing encoding")
            << "https://example.com/f.json" << QVariant(QStringLiteral("2.0 beta&x=1#2"))
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
        QTest::newRow("digits") << QVariant(QStringLiteral("12")) << qint64(12);
        QTest::newRow("plus sign") << QVariant(QStringLiteral("+12")) << qint64(12);
        QTest::newRow("minus sign") << QVariant(QStringLiteral("-12")) << qint64(-12);
        QTest::newRow("12a") << QVariant(QStringLiteral("12a")) << qint64(0);
        QTest::newRow("missing") << QVariant() << qint64(0);
        QTest::newRow("empty") << QVariant(QString()) << qint64(0);
        QTest::newRow("sign only") << QVariant(QStringLiteral("-")) << qint64(0);
        QTest::newRow("leading blank") << QVariant(QStringLiteral(" 12")) << qint64(0);
        QTest::newRow("dotted") << QVariant(QStringLiteral("1.2")) << qint64(0);
        QTest::newRow("not text") << QVariant(12) << qint64(0);
        QTest::newRow("largest") << QVariant(QStringLiteral("9223372036854775807"))
                                 << std::numeric_limits<qint64>::max();
        QTest::newRow("smallest") << QVariant(QStringLiteral("-9223372036854775808"))
                                  << std::numeric_limits<qint64>::min();
        QTest::newRow("overflow") << QVariant(QStringLiteral("9223372036854775808")) << qint64(0);
        QTest::newRow("Arabic-Indic digits") << QVariant(QString::fromUtf8("١٢")) << qint64(0);
    }

    void currentBuild()
    {
        QFETCH(QVariant, value);
        QFETCH(qint64, expected);
        UpdateChecker checker(infoDictionary(value), {}, feedVariable(std::nullopt));
        QCOMPARE(checker.currentBuild(), expected);
    }

    // ---- checks against a real server ----------------------------------------------------

    void check_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QVariant>("runningBuild");
        QTest::addColumn<bool>("manual");
        QTest::addColumn<OptionalAvailable>("available");
        QTest::addColumn<OptionalText>("message");

        const QVariant ten = QStringLiteral("10");
        const Available eleven{QStringLiteral("v11"), 11, {QStringLiteral("note")}};
        for (const bool manual : {true, false}) {
            const char* kind = manual ? "manual" : "periodic";
            const OptionalText upToDateMessage = manual ? OptionalText(upToDate) : std::nullopt;
            const OptionalText missingMessage = manual ? OptionalText(noVersions) : std::nullopt;
            QTest::addRow("newer, %s", kind) << feedWithBuild(11) << ten << manual
                                             << OptionalAvailable(eleven) << OptionalText();
            QTest::addRow("equal, %s", kind)
                << feedWithBuild(10) << ten << manual << OptionalAvailable() << upToDateMessage;
            QTest::addRow("older, %s", kind)
                << feedWithBuild(9) << ten << manual << OptionalAvailable() << upToDateMessage;
            QTest::addRow("no entry, %s", kind)
                << j("{'apps':[{'id':'other','versions':[{'version':'9','build':99}]}]}") << ten
                << manual << OptionalAvailable() << missingMessage;
            QTest::addRow("no versions, %s", kind)
                << j("{'apps':[{'id':'sorviclean','versions':[]}]}") << ten << manual
                << OptionalAvailable() << missingMessage;
        }
        QTest::newRow("identifier compared case-sensitively")
            << j("{'apps':[{'id':'SorviClean','versions':[{'version':'9','build':99}]}]}") << ten
            << true << OptionalAvailable() << OptionalText(noVersions);
        QTest::newRow("entry listed twice: the first counts")
            << j("{'apps':[{'id':'sorviclean','versions':[{'version':'a','build':11}]},"
                 "{'id':'sorviclean','versions':[{'version':'b','build':99}]}]}")
            << ten << true << OptionalAvailable(Available{QStringLiteral("a"), 11, {}})
            << OptionalText();
        QTest::newRow("first entry up to date, second newer")
            << j("{'apps':[{'id':'sorviclean','versions':[{'version':'a','build':10}]},"
                 "{'id':'sorviclean','versions':[{'version':'b','build':99}]}]}")
            << ten << true << OptionalAvailable() << OptionalText(upToDate);
        QTest::newRow("builds 7, 9, 9: the first 9")
            << j("{'apps':[{'id':'sorviclean','versions':[{'version':'seven','build':7},"
                 "{'version':'nine-a','build':9,'notes':['a']},{'version':'nine-b','build':9}]}]}")
            << QVariant(QStringLiteral("1")) << true
            << OptionalAvailable(Available{QStringLiteral("nine-a"), 9, {QStringLiteral("a")}})
            << OptionalText();
        QTest::newRow("version texts never compared")
            << j("{'apps':[{'id':'sorviclean','versions':[{'version':'99.0','build':3},"
                 "{'version':'1.0','build':12}]}]}")
            << ten << false << OptionalAvailable(Available{QStringLiteral("1.0"), 12, {}})
            << OptionalText();
        QTest::newRow("running build 12a counts as 0")
            << feedWithBuild(1) << QVariant(QStringLiteral("12a")) << true
            << OptionalAvailable(Available{QStringLiteral("v1"), 1, {QStringLiteral("note")}})
            << OptionalText();
        QTest::newRow("running build missing, feed build 0")
            << feedWithBuild(0) << QVariant() << true << OptionalAvailable()
            << OptionalText(upToDate);
        QTest::newRow("notes null")
            << j("{'apps':[{'id':'sorviclean','versions':[{'version':'n','build':11,'notes':null}]}"
                 "]}")
            << ten << true << OptionalAvailable(Available{QStringLiteral("n"), 11, {}})
            << OptionalText();
        QTest::newRow("six notes all kept")
            << j("{'apps':[{'id':'sorviclean','versions':[{'version':'n','build':11,"
                 "'notes':['1','2','3','4','5','6']}]}]}")
            << ten << true
            << OptionalAvailable(Available{QStringLiteral("n"), 11, {"1", "2", "3", "4", "5", "6"}})
            << OptionalText();
    }

    void check()
    {
        QFETCH(QByteArray, body);
        QFETCH(QVariant, runningBuild);
        QFETCH(bool, manual);
        QFETCH(OptionalAvailable, available);
        QFETCH(OptionalText, message);

        HttpServer server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/feed.json"), HttpServer::ok(body));
        auto checker =
            checkerFor(server.url(QStringLiteral("/feed.json")), infoDictionary(runningBuild));
        QCoro::waitFor(checker->check(manual));
        QCOMPARE(checker->available(), available);
        QCOMPARE(checker->message(), message);
        QCOMPARE(server.requestCount(), 1);
    }

    void requestBypassesCaches()
    {
        HttpServer server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/feed.json"), HttpServer::ok(feedWithBuild(11)));
        auto checker = checkerFor(server.url(QStringLiteral("/feed.json")));
        QCoro::waitFor(checker->check(false));
        QCoro::waitFor(checker->check(false));
        QCOMPARE(server.requestCount(), 2);
        QVERIFY2(server.lastRequestHead().startsWith("GET /feed.json HTTP/1.1\r\n"),
                 server.lastRequestHead().constData());
        QVERIFY2(server.lastRequestHead().toLower().contains("cache-control: no-cache"),
                 server.lastRequestHead().constData());
    }

    void failure_data()
    {
        QTest::addColumn<HttpServer::Response>("response");
        QTest::addColumn<QString>("description"); // the text after the prefix, or its start

        const QByteArray newer = feedWithBuild(11);
        for (const int status : {204, 304, 404, 500}) {
            HttpServer::Response response = HttpServer::withStatus(status, newer);
            QTest::addRow("status %d with a valid body", status)
                << response
                << QStringLiteral("The server returned an unexpected response (HTTP status %1).")
                       .arg(status);
        }
        QTest::newRow("not JSON") << HttpServer::ok("<html>Service Unavailable</html>")
                                  << QStringLiteral("The feed is not valid JSON: ");
        QTest::newRow("empty body")
            << HttpServer::ok({}) << QStringLiteral("The feed is not valid JSON: ");
        QTest::newRow("missing key")
            << HttpServer::ok(j("{'apps':[{'id':'sorviclean','versions':[{'version':'2'}]}]}"))
            << QStringLiteral("The feed does not have the expected form: apps[0].versions[0] has "
                              "no key \"build\".");
        QTest::newRow("wrong type")
            << HttpServer::ok(
                   j("{'apps':[{'id':'sorviclean','versions':[{'version':'2','build':'11'}]}]}"))
            << QStringLiteral("The feed does not have the expected form: apps[0].versions[0].build "
                              "is not a number.");
        QTest::newRow("fractional build")
            << HttpServer::ok(
                   j("{'apps':[{'id':'sorviclean','versions':[{'version':'2','build':11.0}]}]}"))
            << QStringLiteral("The feed does not have the expected form: apps[0].versions[0].build "
                              "is not an integer.");
        QTest::newRow("huge build")
            << HttpServer::ok(
                   j("{'apps':[{'id':'sorviclean','versions':[{'version':'2','build':1e30}]}]}"))
            << QStringLiteral("The feed does not have the expected form: apps[0].versions[0].build "
                              "is not an integer.");
        QTest::newRow("build beyond 64 bits")
            << HttpServer::ok(j("{'apps':[{'id':'sorviclean','versions':[{'version':'2','build':"
                                "18446744073709551616}]}]}"))
            << QStringLiteral("The feed does not have the expected form: apps[0].versions[0].build "
                              "does not fit in 64 bits.");
        // The body is counted as it arrives: the server is told to send 64 MiB.
        QTest::newRow("endless body") << HttpServer::stream(64 << 20)
                                      << QStringLiteral("The feed is larger than 1048576 bytes.");
        QTest::newRow("one byte over the cap")
            << HttpServer::ok(newer +
                              QByteArray(FeedTransfer::maxBodyBytes + 1 - newer.size(), ' '))
            << QStringLiteral("The feed is larger than 1048576 bytes.");
        QTest::newRow("never answers")
            << HttpServer::silent() << QStringLiteral("The request timed out.");
        // Each byte resets Qt's own idle time-out; only a deadline for the whole exchange ends it.
        QTest::newRow("trickle") << HttpServer::trickle(newer + QByteArray(4096, ' '), 20ms)
                                 << QStringLiteral("The request timed out.");
    }

    void failure()
    {
        QFETCH(HttpServer::Response, response);
        QFETCH(QString, description);

        HttpServer server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/feed.json"), response);
        const QUrl feed = server.url(QStringLiteral("/feed.json"));
        // Only the rows that are meant to time out wait for the short time-out.
        const bool meantToTimeOut = description == QLatin1String("The request timed out.");
        const UpdateChecker::Timing timing{meantToTimeOut ? 300ms : generous, 6h};
        UpdateChecker checker(infoDictionary(), timing, feedVariable(feed.toString()));

        QCoro::waitFor(checker.check(true));
        QVERIFY(checker.message());
        const QString message = *checker.message();
        QVERIFY2(message.startsWith(failed + description), qPrintable(message));
        QCOMPARE(checker.available(), OptionalAvailable());

        QSignalSpy messages(&checker, &UpdateChecker::messageChanged);
        checker.clearMessage();
        QCOMPARE(messages.size(), 1);
        QCoro::waitFor(checker.check(false));
        QCOMPARE(checker.message(), OptionalText());
        QCOMPARE(messages.size(), 1);
        QCOMPARE(checker.available(), OptionalAvailable());
    }

    void guiThreadKeepsTurningWhileWaiting()
    {
        HttpServer server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/feed.json"), HttpServer::silent());
        UpdateChecker checker(infoDictionary(), {1s, 6h},
                              feedVariable(server.url(QStringLiteral("/feed.json")).toString()));
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
        ticker.start(5ms);
        QCoro::Task<> task = checker.check(true);
        QVERIFY(QTest::qWaitFor([&] { return ticks >= 3; }));
        QVERIFY(!task.isReady());
        QCoro::waitFor(std::move(task));
        QCOMPARE(checker.message(),
                 OptionalText(failed + QStringLiteral("The request timed out.")));
    }

    void failedCheckKeepsAvailable()
    {
        HttpServer server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/feed.json"), HttpServer::ok(feedWithBuild(11)));
        auto checker = checkerFor(server.url(QStringLiteral("/feed.json")));
        QCoro::waitFor(checker->check(false));
        const OptionalAvailable found = checker->available();
        QVERIFY(found);

        QSignalSpy changes(checker.get(), &UpdateChecker::availableChanged);
        for (const QByteArray& broken : {QByteArray("garbage"), j("{'apps':[]}")}) {
            server.route(QStringLiteral("/feed.json"), HttpServer::ok(broken));
            QCoro::waitFor(checker->check(true));
            QCOMPARE(checker->available(), found);
        }
        QCOMPARE(checker->message(), OptionalText(noVersions));
        server.route(QStringLiteral("/feed.json"), HttpServer::withStatus(404, "gone"));
        QCoro::waitFor(checker->check(false));
        QCOMPARE(checker->available(), found);
        QCOMPARE(changes.size(), 0);
    }

    void signalsOnlyOnRealChange()
    {
        HttpServer server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/feed.json"), HttpServer::ok(feedWithBuild(11)));
        auto checker = checkerFor(server.url(QStringLiteral("/feed.json")));
        QSignalSpy available(checker.get(), &UpdateChecker::availableChanged);
        QSignalSpy messages(checker.get(), &UpdateChecker::messageChanged);

        QCoro::waitFor(checker->check(true));
        QCoro::waitFor(checker->check(true));
        QCOMPARE(available.size(), 1);
        QCOMPARE(messages.size(), 0); // a newer build is announced without words

        server.route(QStringLiteral("/feed.json"), HttpServer::ok(feedWithBuild(10)));
        QCoro::waitFor(checker->check(true));
        QCOMPARE(available.size(), 2);
        QCOMPARE(checker->available(), OptionalAvailable());
        QCOMPARE(messages.size(), 1);
        QCoro::waitFor(checker->check(true));
        QCOMPARE(messages.size(), 1); // the same text, still shown
        checker->clearMessage();
        checker->clearMessage();
        QCOMPARE(messages.size(), 2);
        QCOMPARE(checker->message(), OptionalText());
        QCoro::waitFor(checker->check(true));
        QCOMPARE(messages.size(), 3); // shown again after being dismissed
        QCOMPARE(available.size(), 2);
    }

    void connectionRefused()
    {
        quint16 port = 0;
        {
            HttpServer closed;
            QVERIFY(closed.listen());
            port = closed.port();
        }
        UpdateChecker checker(
            infoDictionary(), {generous, 6h},
            feedVariable(QStringLiteral("http://127.0.0.1:%1/feed.json").arg(port)));
        QCoro::waitFor(checker.check(true));
        QVERIFY(checker.message());
        QVERIFY2(checker.message()->startsWith(failed + QStringLiteral("Connection refused")),
                 qPrintable(*checker.message()));
    }

    void bodyExactlyAtTheCapIsRead()
    {
        const QByteArray newer = feedWithBuild(11);
        HttpServer server;
        QVERIFY(server.listen());
        server.route(
            QStringLiteral("/feed.json"),
            HttpServer::ok(newer + QByteArray(FeedTransfer::maxBodyBytes - newer.size(), ' ')));
        auto checker = checkerFor(server.url(QStringLiteral("/feed.json")));
        QCoro::waitFor(checker->check(true));
        QCOMPARE(checker->message(), OptionalText());
        QVERIFY(checker->available());
    }

    void endlessBodyIsAbandonedEarly()
    {
        HttpServer server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/feed.json"), HttpServer::stream(qint64(1) << 30));
        auto checker = checkerFor(server.url(QStringLiteral("/feed.json")));
        QCoro::waitFor(checker->check(true));
        QVERIFY(checker->message());
        QVERIFY2(checker->message()->startsWith(failed + QStringLiteral("The feed is larger")),
                 qPrintable(*checker->message()));
        // Socket buffers hold a few megabytes at most; a reader that kept going would reach 1 GiB.
        QVERIFY2(server.bodyBytesSent() < (qint64(64) << 20),
                 qPrintable(QString::number(server.bodyBytesSent())));
    }

    // ---- redirects ---------------------------------------------------------------------

    void redirectWithinLoopbackFollowed()
    {
        HttpServer server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/old.json"),
                     HttpServer::redirect(QStringLiteral("/feed.json"), 301));
        server.route(QStringLiteral("/feed.json"), HttpServer::ok(feedWithBuild(11)));
        // localhost → 127.0.0.1 is a hop between two accepted loopback addresses.
        const QString feed = QStringLiteral("http://localhost:%1/old.json").arg(server.port());
        UpdateChecker checker(infoDictionary(), {generous, 6h}, feedVariable(feed));
        QCoro::waitFor(checker.check(true));
        QCOMPARE(checker.message(), OptionalText());
        QVERIFY(checker.available());
        QCOMPARE(server.requestedPaths(), QStringList({"/old.json", "/feed.json"}));
    }

    void redirectOffLoopbackRefused_data()
    {
        QTest::addColumn<QString>("location");
        QTest::newRow("another host") << QStringLiteral("http://updates.example.com/feed.json");
        QTest::newRow("host starting with localhost")
            << QStringLiteral("http://localhost.example.com/feed.json");
        QTest::newRow("loopback as user name")
            << QStringLiteral("http://127.0.0.1@example.com/feed.json");
        QTest::newRow("other scheme") << QStringLiteral("ftp://127.0.0.1/feed.json");
    }

    void redirectOffLoopbackRefused()
    {
        QFETCH(QString, location);
        HttpServer server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/feed.json"), HttpServer::redirect(location));
        const QString feed = QStringLiteral("http://localhost:%1/feed.json").arg(server.port());
        UpdateChecker checker(infoDictionary(), {generous, 6h}, feedVariable(feed));
        QCoro::waitFor(checker.check(true));
        QCOMPARE(
            checker.message(),
            OptionalText(failed + QStringLiteral("The redirect to %1 was refused.").arg(location)));
        QCOMPARE(server.requestCount(), 1);
    }

    void redirectChain_data()
    {
        QTest::addColumn<int>("hops");
        QTest::addColumn<bool>("followed");
        QTest::newRow("50 hops") << 50 << true;
        QTest::newRow("51 hops") << 51 << false;
    }

    void redirectChain()
    {
        QFETCH(int, hops);
        QFETCH(bool, followed);
        HttpServer server;
        QVERIFY(server.listen());
        for (int i = 0; i < hops; ++i)
            server.route(
                QStringLiteral("/hop/%1").arg(i),
                HttpServer::redirect(QStringLiteral("/hop/%1").arg(i + 1), i % 2 ? 307 : 301));
        const QString last = QStringLiteral("/hop/%1").arg(hops);
        server.route(last, HttpServer::ok(feedWithBuild(11)));
        auto checker = checkerFor(server.url(QStringLiteral("/hop/0")));
        QCoro::waitFor(checker->check(true));
        if (followed) {
            QCOMPARE(checker->message(), OptionalText());
            QVERIFY(checker->available());
            QCOMPARE(server.requestCount(), hops + 1);
            return;
        }
        QCOMPARE(
            checker->message(),
            OptionalText(failed + QStringLiteral("The feed was redirected more than 50 times.")));
        QVERIFY(!checker->available());
        QVERIFY(!server.requestedPaths().contains(last));
    }

    void redirectLoopRefused()
    {
        HttpServer server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/feed.json"),
                     HttpServer::redirect(QStringLiteral("/feed.json?again")));
        auto checker = checkerFor(server.url(QStringLiteral("/feed.json")));
        QCoro::waitFor(checker->check(true));
        QCOMPARE(
            checker->message(),
            OptionalText(failed + QStringLiteral("The feed was redirected more than 50 times.")));
        QCOMPARE(server.requestCount(), 51);
    }

    void redirectWithoutLocationIsABadResponse()
    {
        HttpServer server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/feed.json"), HttpServer::withStatus(302, feedWithBuild(11)));
        auto checker = checkerFor(server.url(QStringLiteral("/feed.json")));
        QCoro::waitFor(checker->check(true));
        QCOMPARE(
            checker->message(),
            OptionalText(
                failed +
                QStringLiteral("The server returned an unexpected response (HTTP status 302).")));
    }

    // ---- TLS ---------------------------------------------------------------------------

    void httpsWithTrustedCertificate()
    {
        if (!m_tlsUnavailable.isEmpty()) QSKIP(qPrintable(m_tlsUnavailable));
        HttpServer server;
        QVERIFY(server.useTls(*m_trusted));
        QVERIFY(server.listen());
        server.route(QStringLiteral("/feed.json"), HttpServer::ok(feedWithBuild(11)));
        auto checker = checkerFor(server.url(QStringLiteral("/feed.json")));
        QCoro::waitFor(checker->check(true));
        QCOMPARE(checker->message(), OptionalText());
        QVERIFY(checker->available());
    }

    void httpsWithSelfSignedCertificateRefused()
    {
        if (!m_tlsUnavailable.isEmpty()) QSKIP(qPrintable(m_tlsUnavailable));
        HttpServer server;
        QVERIFY(server.useTls(*m_untrusted));
        QVERIFY(server.listen());
        server.route(QStringLiteral("/feed.json"), HttpServer::ok(feedWithBuild(11)));
        auto checker = checkerFor(server.url(QStringLiteral("/feed.json")));
        QCoro::waitFor(checker->check(true));
        QVERIFY(checker->message());
        QVERIFY2(checker->message()->startsWith(failed + QStringLiteral("SSL handshake failed")),
                 qPrintable(*checker->message()));
        QVERIFY(!checker->available());
        QCOMPARE(server.requestCount(), 0);
    }

    void httpsToPlainHttpRedirectRefused()
    {
        if (!m_tlsUnavailable.isEmpty()) QSKIP(qPrintable(m_tlsUnavailable));
        HttpServer plain;
        QVERIFY(plain.listen());
        plain.route(QStringLiteral("/feed.json"), HttpServer::ok(feedWithBuild(11)));
        HttpServer secure;
        QVERIFY(secure.useTls(*m_trusted));
        QVERIFY(secure.listen());
        // Even to the loopback address, which would be accepted as a feed address of its own.
        secure.route(QStringLiteral("/feed.json"),
                     HttpServer::redirect(plain.url(QStringLiteral("/feed.json")).toString()));
        auto checker = checkerFor(secure.url(QStringLiteral("/feed.json")));
        QCoro::waitFor(checker->check(true));
        QVERIFY(checker->message());
        QVERIFY2(checker->message()->startsWith(
                     failed + QStringLiteral("The redirect to http://127.0.0.1:")),
                 qPrintable(*checker->message()));
        QCOMPARE(secure.requestCount(), 1);
        QCOMPARE(plain.requestCount(), 0);
    }

    // ---- the periodic loop -------------------------------------------------------------

    void startChecksAtOnceAndOnlyOnce()
    {
        HttpServer server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/feed.json"), HttpServer::ok(feedWithBuild(11)));
        auto checker = checkerFor(server.url(QStringLiteral("/feed.json")));
        QSignalSpy available(checker.get(), &UpdateChecker::availableChanged);
        checker->start();
        checker->start();
        QVERIFY(available.wait());
        QCOMPARE(checker->message(), OptionalText());
        checker->start();
        // A manual check after the periodic one: had a second loop started, its request would
        // have been sent together with the first.
        QCoro::waitFor(checker->check(true));
        QCOMPARE(server.requestCount(), 2);
    }

    void startRepeatsAfterEachCheck()
    {
        HttpServer server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/feed.json"), HttpServer::ok(feedWithBuild(11)));
        auto checker = checkerFor(server.url(QStringLiteral("/feed.json")), infoDictionary(), 50ms);
        checker->start();
        QVERIFY(QTest::qWaitFor([&] { return server.requestCount() >= 3; }));
        // The newest release moves under a running loop: the next periodic check follows it.
        server.route(QStringLiteral("/feed.json"), HttpServer::ok(feedWithBuild(10)));
        QVERIFY(QTest::qWaitFor([&] { return !checker->available(); }));
        QCOMPARE(checker->message(), OptionalText());
    }

    void startWithoutFeedDoesNothing()
    {
        std::optional<QString> variable;
        UpdateChecker checker(infoDictionary(), {generous, 6h},
                              [&variable](const QString&) { return variable; });
        checker.start();
        HttpServer server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/feed.json"), HttpServer::ok(feedWithBuild(11)));
        // Configured later: the loop was never started, so a later start() begins it.
        variable = server.url(QStringLiteral("/feed.json")).toString();
        QSignalSpy available(&checker, &UpdateChecker::availableChanged);
        checker.start();
        QVERIFY(available.wait());
        QCOMPARE(server.requestCount(), 1);
    }

    void checkerDestroyedDuringCheck()
    {
        HttpServer server;
        QVERIFY(server.listen());
        server.route(QStringLiteral("/feed.json"), HttpServer::trickle(feedWithBuild(11), 10ms));
        auto checker = checkerFor(server.url(QStringLiteral("/feed.json")));
        QCoro::Task<> task = checker->check(true);
        QVERIFY(QTest::qWaitFor([&] { return server.requestCount() == 1; }));
        checker.reset();
        // The transfer finishes on its own and the check ends without touching the checker.
        QCoro::waitFor(std::move(task));
    }
};

SORVI_TEST_MAIN(TestUpdateChecker)
#include "tst_update_checker.moc"
