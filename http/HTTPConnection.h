#pragma once
// One HTTP/1.1 connection to one origin, on the thread that made it: one exchange at a time, kept open
// between exchanges while the server allows. Everything runs on that thread's event loop, without a network
// thread to hand each request to and back, so a client polling once a second costs little. TLS is verified by
// the socket against its configuration (chain and host name); the peer check then decides on the finished
// handshake, before any request byte is written. A TLS reply that runs to the connection's end counts only
// when the server ended it with TLS's closure alert.
#include <chrono>
#include <coroutine>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <qcoro/qcorotask.h>
#include <QNetworkProxy>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>
#include <QUrl>

#include "http/HTTPResponseParser.h"
#include "http/VastelError.h"

namespace vastel {

// Where a connection goes: scheme, host (as the URL gives it, lower case) and port.
struct HTTPOrigin {
    bool secure = true;
    QString host;
    quint16 port = 0;

    static HTTPOrigin of(const QUrl& url);
    bool operator==(const HTTPOrigin&) const = default;
};

struct HTTPReply {
    int statusCode = 0;
    std::vector<std::pair<std::string, std::string>> headerFields;
    QByteArray body;
};

class HTTPConnection : public QObject {
  public:
    // Whether the peer of a finished handshake is accepted; a refused peer gets no request.
    using PeerCheck = std::function<bool(const QSslSocket&)>;

    HTTPConnection(HTTPOrigin origin, const QSslConfiguration& configuration, const QNetworkProxy& proxy,
                   PeerCheck acceptPeer, std::string refusedPeerText, std::int64_t maximumBodySize);
    ~HTTPConnection() override;
    HTTPConnection(const HTTPConnection&) = delete;
    HTTPConnection& operator=(const HTTPConnection&) = delete;

    const HTTPOrigin& origin() const { return origin_; }
    // Open and idle, with nothing received or closed since its last exchange: neither by what the socket has
    // reported nor by what has reached the system's socket meanwhile.
    bool reusable() const;

    // Writes the request's bytes (opening the connection first if needed) and reads the reply. Fails with a
    // TransportError. `timeout` is the longest time without any progress, and also the longest time for the
    // reply's head once the request is written: a head trickled byte by byte does not keep the exchange
    // alive. By the deadline, if there is one, the whole reply must have arrived. A body over the limit fails
    // with a ReplyTooLargeError.
    QCoro::Task<HTTPReply> exchange(QByteArray request, bool headRequest, std::chrono::milliseconds timeout,
                                    std::optional<std::chrono::steady_clock::time_point> deadline = {});

    // After a failed exchange: it was sent on a connection that had carried an earlier exchange and nothing
    // of a reply came back. The server had most likely closed the idle connection meanwhile, so a request
    // that is safe to repeat may be sent again on a new one; the server may also have handled it first.
    bool failedAsStale() const { return failedAsStale_; }

  private:
    struct Completion {
        HTTPConnection* connection;
        bool await_ready() const noexcept { return connection->finished_; }
        void await_suspend(std::coroutine_handle<> waiter) noexcept { connection->waiter_ = waiter; }
        void await_resume() const noexcept {}
    };

    bool exchanging() const { return parser_.has_value() && !finished_; }
    void writeRequest();
    // Starts the head's deadline once the request is all written or the reply has begun.
    void startHeadDeadline();
    void readReply();
    void socketClosed();
    void socketFailed(QAbstractSocket::SocketError error);
    void fail(int code, std::string description);
    void finish();

    HTTPOrigin origin_;
    PeerCheck acceptPeer_;
    std::string refusedPeerText_;
    std::int64_t maximumBodySize_;
    QSslSocket socket_;
    QTimer progressTimer_;
    QTimer headTimer_;
    QTimer deadlineTimer_;

    bool used_ = false;          // an exchange completed on it
    bool broken_ = false;        // closed, failed, or sent bytes nobody asked for
    bool closureAlert_ = false;  // the TLS peer ended the connection with its closure alert
    QByteArray request_;
    bool requestWritten_ = false;
    bool reused_ = false;
    std::optional<HTTPResponseParser> parser_;
    std::optional<TransportError> error_;
    bool tooLarge_ = false;  // error_ is the body limit
    bool failedAsStale_ = false;
    bool finished_ = false;
    std::coroutine_handle<> waiter_;
};

}  // namespace vastel
