#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QTcpServer>
#include <QUrl>
#include <chrono>
#include <optional>

/// A scripted HTTP/1.1 server on 127.0.0.1 (ephemeral port, plain or TLS), driven by the event
/// loop of its thread. A request gets the response routed to its path (query ignored), or 404.
class HttpServer : public QObject
{
public:
    /// Endless: chunked filler, one byte per `interval` or, with none, as fast as it is taken.
    enum class Delivery { Whole, Silent, Endless };

    struct Response
    {
        int status = 200;
        QByteArray body;
        Delivery delivery = Delivery::Whole;
        std::chrono::milliseconds interval{0};
        QByteArray location; ///< of a redirect
    };

    static Response withStatus(int code, const QByteArray& body = {})
    {
        return {code, body, Delivery::Whole, {}, {}};
    }
    static Response ok(const QByteArray& body) { return withStatus(200, body); }
    static Response redirect(const QString& to)
    {
        return {302, {}, Delivery::Whole, {}, to.toUtf8()};
    }
    static Response silent() { return {200, {}, Delivery::Silent, {}, {}}; }
    static Response endless(std::chrono::milliseconds interval = {})
    {
        return {200, {}, Delivery::Endless, interval, {}};
    }

    /// A throwaway self-signed certificate for 127.0.0.1 made by openssl in `folder`, if it can.
    struct TlsIdentity
    {
        QByteArray certificatePem, keyPem;
    };
    static std::optional<TlsIdentity> makeSelfSigned(const QString& folder);

    /// Serves over TLS with this identity; call before listen(). False when TLS is unavailable.
    bool useTls(const TlsIdentity& identity);
    bool listen();
    quint16 port() const { return m_server ? m_server->serverPort() : 0; }
    QUrl url(const QString& path) const
    {
        return QStringLiteral("%1://127.0.0.1:%2%3")
            .arg(m_tls ? "https" : "http")
            .arg(port())
            .arg(path);
    }
    void route(const QString& path, const Response& response) { m_routes.insert(path, response); }

    int requestCount() const { return m_requests; }
    QByteArray lastRequestHead() const { return m_lastHead; }
    qint64 bodyBytesSent() const { return m_bodyBytesSent; }

private:
    void accept(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Response& response);

    QTcpServer* m_server = nullptr;
    bool m_tls = false;
    QMap<QString, Response> m_routes;
    int m_requests = 0;
    QByteArray m_lastHead;
    qint64 m_bodyBytesSent = 0;
};
