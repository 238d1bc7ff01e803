#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QUrl>
#include <chrono>
#include <optional>
#include <utility>

class QTcpServer;
class QTcpSocket;

/// A scripted HTTP/1.1 server on 127.0.0.1 with an ephemeral port, plain or TLS, for tests that
/// need a real peer. Each request is answered by the response routed to its path (the query is
/// ignored), or 404. Runs on the thread that created it, driven by its event loop.
class HttpServer : public QObject
{
    Q_OBJECT
public:
    /// How a response's bytes go out.
    enum class Delivery {
        Whole,   ///< head and body at once; the connection stays open for the next request
        Silent,  ///< the request is read and never answered
        Trickle, ///< the head, then one body byte per `interval`, then close
        Chunked, ///< a chunked head without a length, then chunks of filler that never end
    };

    struct Response
    {
        int status = 200;
        QList<std::pair<QByteArray, QByteArray>> headers; ///< besides Content-Length, Connection
        QByteArray body;
        Delivery delivery = Delivery::Whole;
        std::chrono::milliseconds interval{50};
    };

    static Response withStatus(int status, const QByteArray& body = {})
    {
        return {status, {{"Content-Type", "application/json"}}, body};
    }
    static Response ok(const QByteArray& body) { return withStatus(200, body); }
    /// A 302 to `location` (absolute or relative).
    static Response redirect(const QString& location)
    {
        return {302, {{"Location", location.toUtf8()}}, {}};
    }
    static Response silent() { return {200, {}, {}, Delivery::Silent}; }
    static Response trickle(const QByteArray& body, std::chrono::milliseconds interval)
    {
        Response response = ok(body);
        response.delivery = Delivery::Trickle;
        response.interval = interval;
        return response;
    }
    static Response endlessChunks() { return {200, {}, {}, Delivery::Chunked}; }

    /// A throwaway self-signed certificate for 127.0.0.1 and localhost, made with the openssl
    /// command in `folder`. Empty when the command is missing or fails.
    struct TlsIdentity
    {
        QByteArray certificatePem;
        QByteArray keyPem;
    };
    static std::optional<TlsIdentity> makeSelfSigned(const QString& folder);

    explicit HttpServer(QObject* parent = nullptr) : QObject(parent) {}

    /// Serves over TLS with this identity; call before listen(). False when TLS is unavailable.
    bool useTls(const TlsIdentity& identity);
    /// Starts listening on 127.0.0.1 with a port chosen by the system.
    bool listen();

    quint16 port() const;
    /// http://127.0.0.1:port + path (https with TLS).
    QUrl url(const QString& path) const;
    /// Answers requests for `path` with `response` from now on.
    void route(const QString& path, const Response& response) { m_routes.insert(path, response); }

    /// Requests received so far (request head complete).
    int requestCount() const { return m_requests; }
    /// The raw head of the last request received.
    QByteArray lastRequestHead() const { return m_lastHead; }
    /// Body bytes written so far over every connection.
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
