#pragma once
// A loopback server whose every reply byte the test writes, over plain TCP or over TLS: it answers each
// request (its head, and a body of the length the head announces) with the bytes that `reply` gives, at once
// or trickled, and then keeps the connection, closes it as the protocol says (over TLS: with the closure
// alert) or cuts it (the TCP connection ends without TLS's closure alert). Runs on the test's event loop.
#include <QByteArray>
#include <QTcpServer>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Certificate.h"
#include "platform/testing/TestPKI.h"

class QTcpSocket;

namespace httptest {

// The bytes of one answer, and how the connection goes on after them.
struct ScriptedAnswer {
    enum class End { keepOpen, close, cut };
    QByteArray bytes;
    End end = End::keepOpen;

    ScriptedAnswer(QByteArray bytes = {}, End end = End::keepOpen) : bytes(std::move(bytes)), end(end) {}
    ScriptedAnswer(const char* bytes) : bytes(bytes) {}
};

class ScriptedServer {
  public:
    using Answer = ScriptedAnswer;
    // Writes nothing; the connection stays open.
    static inline const Answer silent{};
    // Closes the connection without an answer.
    static inline const Answer hangUp{{}, Answer::End::close};

    // The answer to the connection's request (both counted from 0).
    std::function<Answer(int connection, int request)> reply = [](int, int) {
        return Answer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    };
    // With a gap, every answer is written one byte at a time, the gap between bytes, after its first
    // `trickleFrom` bytes have gone at once.
    std::chrono::milliseconds trickle{0};
    qsizetype trickleFrom = 0;

    std::vector<QByteArray> heads;  // every request head received, in order
    int connections = 0;

    // Plain TCP.
    ScriptedServer();
    // TLS presenting `leaf` (with its key) followed by `chain`.
    ScriptedServer(const testsupport::Issued& leaf, const std::vector<platform::Certificate>& chain);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    // "http://127.0.0.1:<port>" or "https://localhost:<port>", then the path.
    QUrl url(const QString& path = "/") const;
    quint16 port() const { return server_->serverPort(); }

  private:
    void listen();
    void serve(QTcpSocket* socket);
    // Writes the first `atOnce` bytes now, the rest as the trickle says.
    void send(QTcpSocket* socket, Answer answer, qsizetype atOnce);

    bool secure_;
    std::unique_ptr<QTcpServer> server_;
};

}  // namespace httptest
