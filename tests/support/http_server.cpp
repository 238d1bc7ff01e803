#include "support/http_server.h"

#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

// Keeps the client's socket buffers topped up without holding the whole stream in memory.
static constexpr qint64 streamChunk = qint64(64) * 1024;

std::optional<HttpServer::TlsIdentity> HttpServer::makeSelfSigned(const QString& folder)
{
    QFile cert(folder + QStringLiteral("/cert.pem"));
    QFile key(folder + QStringLiteral("/key.pem"));
    QProcess process;
    process.start(QStandardPaths::findExecutable(QStringLiteral("openssl")),
                  QStringLiteral("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
                                 "-nodes -days 2 -subj /CN=127.0.0.1 -addext "
                                 "subjectAltName=IP:127.0.0.1")
                          .split(u' ')
                      << "-keyout" << key.fileName() << "-out" << cert.fileName());
    if (!process.waitForFinished(60000) || process.exitCode() != 0 ||
        !cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
        return std::nullopt;
    return TlsIdentity{cert.readAll(), key.readAll()};
}

bool HttpServer::useTls(const TlsIdentity& identity)
{
    const QSslCertificate certificate(identity.certificatePem, QSsl::Pem);
    const QSslKey key(identity.keyPem, QSsl::Ec, QSsl::Pem);
    if (!QSslSocket::supportsSsl() || m_server || certificate.isNull() || key.isNull())
        return false;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone); // clients bring no certificate
    auto* server = new QSslServer(this);
    server->setSslConfiguration(configuration);
    m_server = server;
    return m_tls = true;
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

void HttpServer::accept(QTcpSocket* socket)
{
    socket->setParent(this);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
        *buffer += socket->readAll();
        // Requests are GETs without a body; a kept-alive connection may carry several.
        for (qsizetype end; (end = buffer->indexOf("\r\n\r\n")) >= 0;) {
            m_lastHead = buffer->left(end);
            buffer->remove(0, end + 4);
            ++m_requests;
            const QString target = QString::fromUtf8(m_lastHead.split(' ').value(1));
            const Response response =
                m_routes.value(target.left(target.indexOf(u'?')), withStatus(404, "not found"));
            answer(socket, response);
            if (response.delivery != Delivery::Whole)
                return (void)disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
        }
    });
}

void HttpServer::answer(QTcpSocket* socket, const Response& response)
{
    if (response.delivery == Delivery::Silent) return;
    const auto send = [this, socket](const QByteArray& bytes) {
        socket->write(bytes);
        m_bodyBytesSent += bytes.size();
    };
    const bool whole = response.delivery == Delivery::Whole;
    socket->write(
        "HTTP/1.1 " + QByteArray::number(response.status) + " Scripted\r\n" +
        (whole ? "Content-Length: " + QByteArray::number(response.body.size())
               : QByteArray("Transfer-Encoding: chunked\r\nConnection: close")) +
        (response.location.isEmpty() ? QByteArray() : "\r\nLocation: " + response.location) +
        "\r\n\r\n");
    if (whole) return send(response.body);
    const qint64 size = response.interval.count() > 0 ? 1 : streamChunk;
    const QByteArray chunk = QByteArray::number(size, 16) + "\r\n" + QByteArray(size, ' ') + "\r\n";
    auto topUp = [send, socket, chunk] {
        while (socket->bytesToWrite() < 2 * streamChunk &&
               socket->state() == QAbstractSocket::ConnectedState)
            send(chunk);
    };
    if (size == streamChunk) {
        connect(socket, &QTcpSocket::bytesWritten, socket, topUp);
        return topUp();
    }
    auto* timer = new QTimer(socket);
    connect(timer, &QTimer::timeout, socket, [send, chunk] { send(chunk); });
    timer->start(response.interval);
}
