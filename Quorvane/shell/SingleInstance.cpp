#include "SingleInstance.h"

#include <unistd.h>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <optional>

#include "platform/UserFolders.h"
#include "platform/xpc/Connection.h"

namespace {

QString nativePath(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

QByteArray frame(const QStringList& arguments) {
    const QByteArray body =
        QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact);
    QByteArray message(4, '\0');
    qToBigEndian(static_cast<quint32>(body.size()), message.data());
    return message + body;
}

// The arguments of a whole frame; none when it is malformed.
std::optional<QStringList> arguments(const QByteArray& body) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QStringList list;
    for (const QJsonValue& value : document.array()) {
        if (!value.isString())
            return std::nullopt;
        list.append(value.toString());
    }
    return list;
}

// Reads one frame from a connected peer, then answers it once the handler has run.
class HandOverReceiver : public QObject {
  public:
    HandOverReceiver(QLocalSocket* socket, std::function<void(const QStringList&)> handler)
        : QObject(socket), socket_(socket), handler_(std::move(handler)) {
        connect(socket_, &QLocalSocket::readyRead, this, [this] { read(); });
        connect(socket_, &QLocalSocket::disconnected, socket_, &QObject::deleteLater);
        // A peer that connects and sends nothing is not waited for forever.
        QTimer::singleShot(SingleInstance::receiveLimit, this, [this] { socket_->abort(); });
        read();
    }

  private:
    void read() {
        if (handled_)
            return;
        buffer_ += socket_->readAll();
        if (buffer_.size() < 4)
            return;
        const qint64 length = qFromBigEndian<quint32>(buffer_.constData());
        if (length > SingleInstance::maxMessageSize) {
            socket_->abort();
            return;
        }
        if (buffer_.size() < 4 + length)
            return;
        const auto received = arguments(buffer_.mid(4, length));
        if (!received) {
            socket_->abort();
            return;
        }
        handled_ = true;
        handler_(*received);
        socket_->write("1");
        socket_->disconnectFromServer();
    }

    QLocalSocket* socket_;
    std::function<void(const QStringList&)> handler_;
    QByteArray buffer_;
    bool handled_ = false;
};

}  // namespace

std::filesystem::path SingleInstance::defaultFolder() {
    return platform::runtimeFolder() / "quorvane";
}

SingleInstance::SingleInstance(std::filesystem::path folder) : folder_(std::move(folder)) {}

SingleInstance::~SingleInstance() = default;

SingleInstance::Claim SingleInstance::claim() {
    if (!platform::makePrivateFolder(folder_))
        return Claim::unavailable;
    lock_ = std::make_unique<QLockFile>(nativePath(folder_ / "instance.lock"));
    // Held for the life of the process: only a lock whose process has gone is stale, never an old one.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0))
        return Claim::first;
    if (lock_->error() == QLockFile::LockFailedError)
        return Claim::second;
    return Claim::unavailable;
}

bool SingleInstance::listen(std::function<void(const QStringList&)> handler) {
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // Holding the lock, a socket file left behind is a dead process's.
    QLocalServer::removeServer(nativePath(socketPath()));
    if (!server_->listen(nativePath(socketPath())))
        return false;
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(),
                     [server = server_.get(), handler = std::move(handler)] {
                         while (QLocalSocket* socket = server->nextPendingConnection()) {
                             const auto peer =
                                 xpc::peerCredentials(static_cast<int>(socket->socketDescriptor()));
                             if (!peer || peer->uid != ::geteuid()) {
                                 socket->abort();
                                 socket->deleteLater();
                                 continue;
                             }
                             new HandOverReceiver(socket, handler);
                         }
                     });
    return true;
}

bool SingleInstance::handOver(const QStringList& arguments, std::chrono::milliseconds limit) {
    QDeadlineTimer deadline(limit);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(nativePath(socketPath()));
        if (socket.waitForConnected(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0))))
            break;
        if (deadline.hasExpired())
            return false;
        // The first process holds the lock but may not listen yet.
        socket.abort();
        QThread::msleep(20);
    }
    socket.write(frame(arguments));
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0))))
            return false;
    }
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0))))
            return false;
    }
    return socket.read(1) == "1";
}
