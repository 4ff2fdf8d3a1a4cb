#include "SingleInstance.h"

#include <fcntl.h>
#include <unistd.h>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMessageBox>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <optional>

#include "Quorvane/core/DependencyKeys.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/UserFolders.h"
#include "platform/qt/Localizable.h"
#include "platform/xpc/Connection.h"

namespace {

QString nativePath(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

// What the receiving end reads from a peer at a time: a peer that sends more than its frame, or sends it
// faster than it is read, leaves the rest in the system's buffer.
constexpr qint64 readChunk = 64 * 1024;

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

void logRefusal(const std::string& reason) {
    Dependency<LoggerClientKey>()->error("Hand-over from a later start refused: " + reason);
}

// Reads one frame from a connected peer, then answers it once the handler has run. While it lives it counts
// as one of the hand-overs being received, with the size its frame announced.
class HandOverReceiver : public QObject {
  public:
    HandOverReceiver(QLocalSocket* socket, std::shared_ptr<SingleInstance::Pending> pending,
                     std::function<void(const QStringList&)> handler)
        : QObject(socket), socket_(socket), pending_(std::move(pending)), handler_(std::move(handler)) {
        ++pending_->handOvers;
        socket_->setReadBufferSize(readChunk);
        connect(socket_, &QLocalSocket::readyRead, this, [this] { read(); });
        connect(socket_, &QLocalSocket::disconnected, socket_, &QObject::deleteLater);
        // A peer that connects and sends nothing, or trickles, is not waited for forever.
        QTimer::singleShot(SingleInstance::receiveLimit, this, [this] {
            refuse("nothing complete within " + std::to_string(SingleInstance::receiveLimit.count()) + " ms");
        });
        read();
    }
    ~HandOverReceiver() override {
        --pending_->handOvers;
        pending_->announcedSize -= announced_;
    }

  private:
    void read() {
        if (done_)
            return;
        if (buffer_.size() < 4) {
            buffer_ += socket_->read(4 - buffer_.size());
            if (buffer_.size() < 4)
                return;
            const qint64 length = qFromBigEndian<quint32>(buffer_.constData());
            if (length > SingleInstance::maxMessageSize) {
                refuse("it announces " + std::to_string(length) + " bytes, more than the limit of " +
                       std::to_string(SingleInstance::maxMessageSize));
                return;
            }
            if (pending_->announcedSize + length > SingleInstance::maxPendingSize) {
                refuse("it announces " + std::to_string(length) +
                       " bytes while the hand-overs being received "
                       "hold " +
                       std::to_string(pending_->announcedSize) + " of at most " +
                       std::to_string(SingleInstance::maxPendingSize));
                return;
            }
            announced_ = length;
            pending_->announcedSize += announced_;
        }
        while (buffer_.size() < 4 + announced_ && socket_->bytesAvailable() > 0)
            buffer_ += socket_->read(std::min(readChunk, 4 + announced_ - buffer_.size()));
        if (buffer_.size() < 4 + announced_)
            return;
        const auto received = arguments(buffer_.mid(4));
        if (!received) {
            refuse("it is not a list of texts");
            return;
        }
        done_ = true;
        buffer_.clear();
        handler_(*received);
        socket_->write("1");
        socket_->disconnectFromServer();
    }

    void refuse(const std::string& reason) {
        if (done_)
            return;
        done_ = true;
        buffer_.clear();
        logRefusal(reason);
        socket_->abort();
    }

    QLocalSocket* socket_;
    std::shared_ptr<SingleInstance::Pending> pending_;
    std::function<void(const QStringList&)> handler_;
    QByteArray buffer_;
    qint64 announced_ = 0;
    bool done_ = false;
};

}  // namespace

std::filesystem::path SingleInstance::defaultFolder() {
    return platform::runtimeFolder() / "quorvane";
}

SingleInstance::SingleInstance(std::filesystem::path folder)
    : folder_(std::move(folder)), pending_(std::make_shared<Pending>()) {}

SingleInstance::~SingleInstance() {
    // The server removes its socket through the folder's descriptor: it goes first.
    server_.reset();
    if (folderDescriptor_ >= 0)
        ::close(folderDescriptor_);
}

QString SingleInstance::socketName() {
    // A socket address holds a path of 107 bytes at most; a runtime folder under a long home folder is
    // longer. Through the descriptor the name is short whatever the folder's path.
    if (folderDescriptor_ < 0)
        folderDescriptor_ = ::open(folder_.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderDescriptor_ < 0)
        return nativePath(socketPath());
    return QStringLiteral("/proc/self/fd/%1/instance").arg(folderDescriptor_);
}

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
    const QString name = socketName();
    // Holding the lock, a socket file left behind is a dead process's.
    QLocalServer::removeServer(name);
    if (!server_->listen(name)) {
        const std::string reason = server_->errorString().toStdString();
        Dependency<LoggerClientKey>()->error("Cannot listen for later starts at " + socketPath().string() +
                                             ": " + reason);
        auto* box = new QMessageBox(
            QMessageBox::Warning, "Quorvane",
            QString::fromStdString(L("Links opened while Quorvane runs cannot reach it")), QMessageBox::Ok);
        box->setInformativeText(QString::fromStdString(
            L("Quorvane cannot listen at %@ (%@). Quit Quorvane and start it again to open links.",
              socketPath().string(), reason)));
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
        server_.reset();
        return false;
    }
    QObject::connect(
        server_.get(), &QLocalServer::newConnection, server_.get(),
        [server = server_.get(), pending = pending_, handler = std::move(handler)] {
            while (QLocalSocket* socket = server->nextPendingConnection()) {
                const auto peer = xpc::peerCredentials(static_cast<int>(socket->socketDescriptor()));
                if (!peer || peer->uid != ::geteuid()) {
                    logRefusal("it does not come from this user");
                } else if (pending->handOvers >= maxPendingHandOvers) {
                    logRefusal(std::to_string(pending->handOvers) + " others are being received");
                } else {
                    new HandOverReceiver(socket, pending, handler);
                    continue;
                }
                socket->abort();
                socket->deleteLater();
            }
        });
    return true;
}

bool SingleInstance::handOver(const QStringList& arguments, std::chrono::milliseconds limit) {
    QDeadlineTimer deadline(limit);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(socketName());
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
