#pragma once

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QUrl>
#include <chrono>
#include <optional>

class QTcpServer;
class QTcpSocket;

/// A scripted HTTP/1.1 server on 127.0.0.1 with an ephemeral port, plain or TLS, for tests that
/// need a real peer. Each request is answered by the response routed to its path (the query is
/// ignored), or 404. Runs on the thread that created it, driven by its event loop.
class HttpServer : public QObject
{
    Q_OBJECT
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

    static Response withStatus(int status, const QByteArray& body = {})
    {
        return {status, body, Delivery::Whole, {}, {}};
    }
    static Response ok(const QByteArray& body) { return withStatus(200, body); }
    static Response redirect(const QString& location)
    {
        return {302, {}, Delivery::Whole, {}, location.toUtf8()};
    }
    static Response silent() { return {200, {}, Delivery::Silent, {}, {}}; }
    static Response endless(std::chrono::milliseconds interval = {})
    {
        return {200, {}, Delivery::Endless, interval, {}};
    }

    /// A throwaway self-signed certificate for 127.0.0.1 made by openssl in `folder`, if it can.
    struct TlsIdentity
    {
        QByteArray certificatePem;
        QByteArray keyPem;
    };
    static std::optional<TlsIdentity> makeSelfSigned(const QString& folder);

    /// Serves over TLS with this identity; call before listen(). False when TLS is unavailable.
    bool useTls(const TlsIdentity& identity);
    bool listen();
    quint16 port() const;
    QUrl url(const QString& path) const;
    void route(const QString& path, const Response& response) { m_routes.insert(path, response); }

    int requestCount() const { return m_requests; }
    QByteArray lastRequestHead() const { return m_lastHead; }
    qint64 bodyBytesSent() const { return m_bodyBytesSent; }

private:
    void accept(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Response& response);
    void send(QTcpSocket* socket, const QByteArray& bodyBytes);

    QTcpServer* m_server = nullptr;
    bool m_tls = false;
    QMap<QString, Response> m_routes;
    int m_requests = 0;
    QByteArray m_lastHead;
    qint64 m_bodyBytesSent = 0;
};
