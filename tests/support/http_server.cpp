#include "support/http_server.h"

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

namespace {

// Keeps the client's socket buffers topped up without holding the whole stream in memory.
constexpr qint64 streamChunk = qint64(64) * 1024;

// A negative length announces a chunked body.
QByteArray head(const HttpServer::Response& response, qint64 length, bool keepAlive = false)
{
    QByteArray text = "HTTP/1.1 " + QByteArray::number(response.status) + " Scripted\r\n";
    text += length < 0 ? QByteArray("Transfer-Encoding: chunked\r\n")
                       : "Content-Length: " + QByteArray::number(length) + "\r\n";
    if (!keepAlive) text += "Connection: close\r\n";
    for (const auto& [name, value] : response.headers)
        text += name + ": " + value + "\r\n";
    return text + "\r\n";
}

} // namespace

std::optional<HttpServer::TlsIdentity> HttpServer::makeSelfSigned(const QString& folder)
{
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty()) return std::nullopt;
    const QString certPath = folder + QStringLiteral("/cert.pem");
    const QString keyPath = folder + QStringLiteral("/key.pem");
    QProcess process;
    QStringList arguments =
        QStringLiteral("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
                       "-nodes -days 2 -subj /CN=127.0.0.1 -addext")
            .split(u' ');
    arguments << "subjectAltName=IP:127.0.0.1,DNS:localhost"
              << "-keyout" << keyPath << "-out" << certPath;
    process.start(openssl, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return std::nullopt;
    QFile cert(certPath);
    QFile key(keyPath);
    if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly)) return std::nullopt;
    return TlsIdentity{cert.readAll(), key.readAll()};
}

bool HttpServer::useTls(const TlsIdentity& identity)
{
    if (!QSslSocket::supportsSsl() || m_server) return false;
    const QSslCertificate certificate(identity.certificatePem, QSsl::Pem);
    const QSslKey key(identity.keyPem, QSsl::Ec, QSsl::Pem);
    if (certificate.isNull() || key.isNull()) return false;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone); // clients bring no certificate
    auto* server = new QSslServer(this);
    server->setSslConfiguration(configuration);
    m_server = server;
    m_tls = true;
    return true;
}

bool HttpServer::listen()
{
    if (!m_server) m_server = new QTcpServer(this);
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection())
            accept(socket);
    });
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 HttpServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

QUrl HttpServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3")
                    .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"))
                    .arg(port())
                    .arg(path));
}

void HttpServer::accept(QTcpSocket* socket)
{
    socket->setParent(this);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
        *buffer += socket->readAll();
        // Requests are GETs without a body; a kept-alive connection may carry several.
        for (qsizetype end; (end = buffer->indexOf("\r\n\r\n")) >= 0;) {
            const QByteArray requestHead = buffer->left(end);
            buffer->remove(0, end + 4);
            const QList<QByteArray> requestLine =
                requestHead.left(requestHead.indexOf("\r\n")).split(' ');
            QString path = requestLine.size() > 1 ? QString::fromUtf8(requestLine[1]) : QString();
            path = path.left(path.indexOf(QLatin1Char('?')));
            m_lastHead = requestHead;
            ++m_requests;
            const auto route = m_routes.constFind(path);
            const Response response =
                route != m_routes.cend() ? *route : withStatus(404, "not found");
            answer(socket, response);
            if (response.delivery != Delivery::Whole) {
                disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
                return;
            }
        }
    });
}

void HttpServer::send(QTcpSocket* socket, const QByteArray& bodyBytes)
{
    socket->write(bodyBytes);
    m_bodyBytesSent += bodyBytes.size();
}

void HttpServer::answer(QTcpSocket* socket, const Response& response)
{
    switch (response.delivery) {
    case Delivery::Silent:
        return;
    case Delivery::Whole:
        socket->write(head(response, response.body.size(), true));
        send(socket, response.body);
        return;
    case Delivery::Trickle: {
        socket->write(head(response, response.body.size()));
        auto* timer = new QTimer(socket);
        auto sent = std::make_shared<qsizetype>(0);
        connect(timer, &QTimer::timeout, socket, [this, socket, timer, sent, body = response.body] {
            if (*sent >= body.size()) {
                timer->stop();
                socket->disconnectFromHost();
                return;
            }
            send(socket, body.mid((*sent)++, 1));
        });
        timer->start(response.interval);
        return;
    }
    case Delivery::Chunked: {
        socket->write(head(response, -1));
        const QByteArray chunk =
            QByteArray::number(streamChunk, 16) + "\r\n" + QByteArray(streamChunk, ' ') + "\r\n";
        auto topUp = [this, socket, chunk] {
            while (socket->bytesToWrite() < 2 * streamChunk &&
                   socket->state() == QAbstractSocket::ConnectedState)
                send(socket, chunk);
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, topUp);
        topUp();
        return;
    }
    }
}
