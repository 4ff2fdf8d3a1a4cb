#include "ScriptedServer.h"

#include <sys/socket.h>

#include <QPointer>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>
#include <stdexcept>

namespace httptest {

namespace {

// The body length the request head announces; 0 without one.
qsizetype announcedLength(const QByteArray& head) {
    for (const QByteArray& line : head.split('\n')) {
        const QByteArray field = line.trimmed();
        if (field.toLower().startsWith("content-length:"))
            return field.mid(15).trimmed().toLongLong();
    }
    return 0;
}

}  // namespace

ScriptedServer::ScriptedServer() : secure_(false), server_(std::make_unique<QTcpServer>()) {
    listen();
}

ScriptedServer::ScriptedServer(const testsupport::Issued& leaf,
                               const std::vector<platform::Certificate>& chain)
    : secure_(true) {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    QList<QSslCertificate> certificates{QSslCertificate(QByteArray::fromStdString(leaf.certificatePEM()))};
    for (const auto& certificate : chain)
        certificates.append(
            QSslCertificate(QByteArray(reinterpret_cast<const char*>(certificate.data().data()),
                                       qsizetype(certificate.data().size())),
                            QSsl::Der));
    configuration.setLocalCertificateChain(certificates);
    configuration.setPrivateKey(QSslKey(QByteArray::fromStdString(leaf.privateKeyPEM()), QSsl::Ec));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    auto server = std::make_unique<QSslServer>();
    server->setSslConfiguration(configuration);
    server_ = std::move(server);
    listen();
}

ScriptedServer::~ScriptedServer() = default;

void ScriptedServer::listen() {
    if (!server_->listen(QHostAddress::LocalHost))
        throw std::runtime_error("ScriptedServer: cannot listen");
    // Over TLS a connection is pending once its handshake is done.
    QObject::connect(server_.get(), &QTcpServer::pendingConnectionAvailable, server_.get(), [this] {
        while (QTcpSocket* socket = server_->nextPendingConnection())
            serve(socket);
    });
}

QUrl ScriptedServer::url(const QString& path) const {
    return QUrl(QStringLiteral("%1://%2:%3%4")
                    .arg(secure_ ? "https" : "http", secure_ ? "localhost" : "127.0.0.1")
                    .arg(port())
                    .arg(path));
}

void ScriptedServer::serve(QTcpSocket* socket) {
    const int connection = connections++;
    auto served = std::make_shared<int>(0);
    auto buffer = std::make_shared<QByteArray>();
    auto bodyLeft = std::make_shared<qsizetype>(0);
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [=, this] {
        *buffer += socket->readAll();
        for (;;) {
            if (*bodyLeft > 0) {
                const qsizetype skipped = std::min(*bodyLeft, buffer->size());
                buffer->remove(0, skipped);
                *bodyLeft -= skipped;
                if (*bodyLeft > 0)
                    return;
                send(socket, reply(connection, (*served)++), trickleFrom);
                continue;
            }
            const qsizetype end = buffer->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            heads.push_back(buffer->left(end + 4));
            *bodyLeft = announcedLength(heads.back());
            buffer->remove(0, end + 4);
            if (*bodyLeft == 0)
                send(socket, reply(connection, (*served)++), trickleFrom);
        }
    });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

void ScriptedServer::send(QTcpSocket* socket, Answer answer, qsizetype atOnce) {
    if (trickle.count() > 0 && answer.bytes.size() > std::max<qsizetype>(atOnce, 1)) {
        const qsizetype now = std::max<qsizetype>(atOnce, 1);
        socket->write(answer.bytes.left(now));
        answer.bytes.remove(0, now);
        QTimer::singleShot(trickle, socket, [this, socket = QPointer<QTcpSocket>(socket), answer] {
            if (socket)
                send(socket, answer, 1);
        });
        return;
    }
    socket->write(answer.bytes);
    switch (answer.end) {
        case Answer::End::keepOpen:
            break;
        case Answer::End::close:
            socket->disconnectFromHost();
            break;
        case Answer::End::cut:
            // The bytes go out, then the end of the TCP stream, and no TLS record after them.
            socket->flush();
            ::shutdown(static_cast<int>(socket->socketDescriptor()), SHUT_WR);
            break;
    }
}

}  // namespace httptest
