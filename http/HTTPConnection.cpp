#include "http/HTTPConnection.h"

#include <sys/socket.h>

#include <QNetworkReply>
#include <algorithm>
#include <cerrno>

namespace vastel {

namespace {

// The socket's error as the QNetworkReply::NetworkError that names the same failure.
int networkError(QAbstractSocket::SocketError error, bool throughProxy) {
    switch (error) {
        case QAbstractSocket::SocketAccessError:
            // An HTTP proxy's "403 Forbidden" (or 405) to CONNECT, a SOCKS proxy's ruleset: the proxy refused
            // the tunnel.
            return throughProxy ? QNetworkReply::ProxyConnectionRefusedError
                                : QNetworkReply::UnknownNetworkError;
        case QAbstractSocket::ConnectionRefusedError:
            return QNetworkReply::ConnectionRefusedError;
        case QAbstractSocket::RemoteHostClosedError:
            return QNetworkReply::RemoteHostClosedError;
        case QAbstractSocket::HostNotFoundError:
            return QNetworkReply::HostNotFoundError;
        case QAbstractSocket::SocketTimeoutError:
            return QNetworkReply::TimeoutError;
        case QAbstractSocket::SslHandshakeFailedError:
        case QAbstractSocket::SslInternalError:
        case QAbstractSocket::SslInvalidUserDataError:
            return QNetworkReply::SslHandshakeFailedError;
        case QAbstractSocket::ProxyAuthenticationRequiredError:
            return QNetworkReply::ProxyAuthenticationRequiredError;
        case QAbstractSocket::ProxyConnectionRefusedError:
            return QNetworkReply::ProxyConnectionRefusedError;
        case QAbstractSocket::ProxyConnectionClosedError:
            return QNetworkReply::ProxyConnectionClosedError;
        case QAbstractSocket::ProxyConnectionTimeoutError:
            return QNetworkReply::ProxyTimeoutError;
        case QAbstractSocket::ProxyNotFoundError:
            return QNetworkReply::ProxyNotFoundError;
        case QAbstractSocket::ProxyProtocolError:
            return QNetworkReply::UnknownProxyError;
        case QAbstractSocket::TemporaryError:
            return QNetworkReply::TemporaryNetworkFailureError;
        default:
            return QNetworkReply::UnknownNetworkError;
    }
}

}  // namespace

HTTPOrigin HTTPOrigin::of(const QUrl& url) {
    HTTPOrigin origin;
    origin.secure = url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    origin.host = url.host().toLower();
    origin.port = quint16(url.port(origin.secure ? 443 : 80));
    return origin;
}

HTTPConnection::HTTPConnection(HTTPOrigin origin, const QSslConfiguration& configuration,
                               const QNetworkProxy& proxy, PeerCheck acceptPeer, std::string refusedPeerText,
                               std::int64_t maximumBodySize)
    : origin_(std::move(origin)),
      acceptPeer_(std::move(acceptPeer)),
      refusedPeerText_(std::move(refusedPeerText)),
      maximumBodySize_(maximumBodySize) {
    socket_.setProxy(proxy);
    if (origin_.secure)
        socket_.setSslConfiguration(configuration);
    progressTimer_.setSingleShot(true);
    headTimer_.setSingleShot(true);
    deadlineTimer_.setSingleShot(true);

    connect(&socket_, &QSslSocket::connected, this, [this] {
        socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        if (!origin_.secure)
            writeRequest();
    });
    connect(&socket_, &QSslSocket::encrypted, this, [this] {
        if (!exchanging())
            return;
        if (acceptPeer_ && !acceptPeer_(socket_)) {
            fail(QNetworkReply::SslHandshakeFailedError, refusedPeerText_);
            return;
        }
        writeRequest();
    });
    connect(&socket_, &QSslSocket::readyRead, this, [this] { readReply(); });
    connect(&socket_, &QSslSocket::alertReceived, this, [this](QSsl::AlertLevel, QSsl::AlertType type) {
        if (type == QSsl::AlertType::CloseNotify)
            closureAlert_ = true;
    });
    auto progressed = [this] {
        if (!exchanging())
            return;
        progressTimer_.start();
        if (requestWritten_ && socket_.bytesToWrite() == 0 && socket_.encryptedBytesToWrite() == 0)
            startHeadDeadline();
    };
    connect(&socket_, &QSslSocket::bytesWritten, this, progressed);
    connect(&socket_, &QSslSocket::encryptedBytesWritten, this, progressed);
    connect(&socket_, &QSslSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            socketClosed();
        else
            socketFailed(error);
    });
    connect(&socket_, &QSslSocket::disconnected, this, [this] { socketClosed(); });
    connect(&progressTimer_, &QTimer::timeout, this, [this] {
        fail(QNetworkReply::TimeoutError,
             "No progress within the time-out of " + std::to_string(progressTimer_.interval()) + " ms");
    });
    connect(&headTimer_, &QTimer::timeout, this, [this] {
        fail(QNetworkReply::TimeoutError, "The reply's head did not arrive within the time-out of " +
                                              std::to_string(headTimer_.interval()) + " ms");
    });
    connect(&deadlineTimer_, &QTimer::timeout, this,
            [this] { fail(QNetworkReply::TimeoutError, "The reply did not arrive whole within its time"); });
}

HTTPConnection::~HTTPConnection() {
    // Nothing may reach this object from the socket while it goes.
    socket_.disconnect(this);
    socket_.abort();
}

bool HTTPConnection::reusable() const {
    if (!used_ || broken_ || exchanging() || socket_.state() != QAbstractSocket::ConnectedState ||
        socket_.bytesAvailable() != 0)
        return false;
    // The server's close (or anything else it sent) may have arrived before the event loop told the socket.
    // A request written now would meet that close, and one that is not safe to repeat could not be sent
    // again: only a connection with nothing waiting in the system's buffer is used.
    char byte;
    const auto waiting =
        ::recv(static_cast<int>(socket_.socketDescriptor()), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return waiting < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

QCoro::Task<HTTPReply> HTTPConnection::exchange(
    QByteArray request, bool headRequest, std::chrono::milliseconds timeout,
    std::optional<std::chrono::steady_clock::time_point> deadline) {
    request_ = std::move(request);
    requestWritten_ = false;
    reused_ = used_;
    parser_.emplace(headRequest, maximumBodySize_);
    error_.reset();
    tooLarge_ = false;
    failedAsStale_ = false;
    finished_ = false;
    const int interval = std::max<int>(1, int(std::min<std::int64_t>(timeout.count(), INT32_MAX)));
    headTimer_.stop();
    headTimer_.setInterval(interval);
    progressTimer_.start(interval);
    if (deadline) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
        deadlineTimer_.start(int(std::clamp<std::int64_t>(left.count(), 0, INT32_MAX)));
    }

    if (broken_) {
        fail(QNetworkReply::RemoteHostClosedError, "The connection is closed");
    } else if (socket_.state() == QAbstractSocket::ConnectedState) {
        writeRequest();
    } else if (socket_.state() == QAbstractSocket::UnconnectedState) {
        if (origin_.secure)
            socket_.connectToHostEncrypted(origin_.host, origin_.port);
        else
            socket_.connectToHost(origin_.host, origin_.port);
    } else {
        fail(QNetworkReply::UnknownNetworkError, "The connection is busy");
    }
    co_await Completion{this};

    if (error_ && tooLarge_)
        throw ReplyTooLargeError(error_->code(), error_->what());
    if (error_)
        throw *error_;
    used_ = true;
    if (!parser_->keepsConnection())
        broken_ = true;
    HTTPReply reply;
    reply.statusCode = parser_->statusCode();
    reply.headerFields = parser_->headerFields();
    reply.body = parser_->takeBody();
    parser_.reset();
    co_return reply;
}

void HTTPConnection::writeRequest() {
    if (!exchanging() || requestWritten_)
        return;
    requestWritten_ = true;
    socket_.write(request_);
    request_.clear();
}

void HTTPConnection::startHeadDeadline() {
    // Runs once per exchange: interim replies and later writes do not extend it.
    if (exchanging() && parser_->state() == HTTPResponseParser::State::head && !headTimer_.isActive())
        headTimer_.start();
}

void HTTPConnection::readReply() {
    const QByteArray data = socket_.readAll();
    if (!exchanging()) {
        // Bytes between exchanges belong to no request: the connection can no longer be trusted.
        if (!data.isEmpty())
            broken_ = true;
        return;
    }
    progressTimer_.start();
    if (!data.isEmpty())
        startHeadDeadline();
    parser_->feed(std::string_view(data.constData(), std::size_t(data.size())));
    if (parser_->state() != HTTPResponseParser::State::head)
        headTimer_.stop();
    if (parser_->state() == HTTPResponseParser::State::failed) {
        tooLarge_ = parser_->bodyTooLarge();
        fail(QNetworkReply::ProtocolFailure, parser_->failure());
    } else if (parser_->state() == HTTPResponseParser::State::complete)
        finish();
}

void HTTPConnection::socketClosed() {
    broken_ = true;
    if (!exchanging())
        return;
    readReply();  // what arrived before the close
    if (!exchanging())
        return;
    // Over TLS, only the closure alert tells the server's end of the reply from a connection cut short.
    parser_->closed(!origin_.secure || closureAlert_);
    if (parser_->state() == HTTPResponseParser::State::complete) {
        finish();
        return;
    }
    failedAsStale_ = reused_ && !parser_->started();
    fail(parser_->started() ? QNetworkReply::ProtocolFailure : QNetworkReply::RemoteHostClosedError,
         parser_->failure());
}

void HTTPConnection::socketFailed(QAbstractSocket::SocketError error) {
    broken_ = true;
    if (!exchanging())
        return;
    failedAsStale_ = reused_ && !parser_->started();
    const bool throughProxy = socket_.proxy().type() != QNetworkProxy::NoProxy;
    std::string description = socket_.errorString().toStdString();
    if (throughProxy)
        description = "Through the proxy " + socket_.proxy().hostName().toStdString() + ":" +
                      std::to_string(socket_.proxy().port()) + ": " + description;
    fail(networkError(error, throughProxy), description);
}

void HTTPConnection::fail(int code, std::string description) {
    if (finished_)
        return;
    broken_ = true;
    error_.emplace(code, description);
    finish();  // first: aborting reports the close, which must not count as this exchange's outcome
    socket_.abort();
}

void HTTPConnection::finish() {
    if (finished_)
        return;
    finished_ = true;
    progressTimer_.stop();
    headTimer_.stop();
    deadlineTimer_.stop();
    // Resumed from the event loop, not from inside the socket's signal: the awaiting round trip may let go of
    // this connection. Gone with the connection, the resumption is dropped.
    if (waiter_)
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (auto waiter = std::exchange(waiter_, nullptr))
                    waiter.resume();
            },
            Qt::QueuedConnection);
}

}  // namespace vastel
