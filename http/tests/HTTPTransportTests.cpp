// The sender's own HTTP/1.1 connections against a plain-HTTP server whose every reply byte the test writes:
// connections kept and reused, a kept connection the server closed meanwhile, malformed and silent replies,
// refused header fields and session cookies.
#include <gtest/gtest.h>

#include <QNetworkReply>
#include <QTcpServer>
#include <QTcpSocket>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "HttpTestSupport.h"
#include "http/URLSessionRequestSender.h"

namespace {

using httptest::run;
using vastel::TransportError;
using vastel::URLRequest;
using vastel::URLSessionRequestSender;

// Answers each request head with the bytes `reply` gives for it (by connection and by request on that
// connection). `silent` writes nothing; `hangUp` closes the connection without an answer.
class ScriptedServer {
  public:
    static inline const QByteArray silent = "";
    static inline const QByteArray hangUp = "<hang up>";

    std::function<QByteArray(int connection, int request)> reply = [](int, int) {
        return QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    };
    std::vector<QByteArray> heads;  // every request head received, in order
    int connections = 0;

    ScriptedServer() {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost));
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                const int connection = connections++;
                auto served = std::make_shared<int>(0);
                auto buffer = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [=, this] {
                    *buffer += socket->readAll();
                    for (qsizetype end; (end = buffer->indexOf("\r\n\r\n")) >= 0;) {
                        heads.push_back(buffer->left(end + 4));
                        buffer->remove(0, end + 4);
                        const QByteArray answer = reply(connection, (*served)++);
                        if (answer == hangUp)
                            socket->disconnectFromHost();
                        else
                            socket->write(answer);
                    }
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
    }

    QUrl url(const QString& path = "/") const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path));
    }

  private:
    QTcpServer server_;
};

URLRequest get(const QUrl& url) {
    URLRequest request;
    request.url = url;
    return request;
}

int transportCode(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const TransportError& e) {
        return e.code();
    } catch (...) {
    }
    return -1;
}

TEST(HTTPTransport, KeepsOneConnectionForRequestsInTurn) {
    ScriptedServer server;
    URLSessionRequestSender sender(vastel::APIEnvironment(""));
    for (int i = 0; i < 3; ++i) {
        auto outcome = run(sender.data(get(server.url("/poll"))));
        ASSERT_TRUE(outcome.value);
        EXPECT_EQ(outcome.value->response.statusCode(), 200);
        EXPECT_EQ(platform::toString(outcome.value->data), "ok");
    }
    EXPECT_EQ(server.connections, 1);
    ASSERT_EQ(server.heads.size(), 3u);
    EXPECT_TRUE(server.heads[0].startsWith("GET /poll HTTP/1.1\r\nHost: 127.0.0.1:"));
}

TEST(HTTPTransport, SendsOnceMoreWhenAKeptConnectionWasClosedMeanwhile) {
    ScriptedServer server;
    // The first connection is closed by the server as the second request arrives, unanswered.
    server.reply = [](int connection, int request) {
        return connection == 0 && request == 1 ? ScriptedServer::hangUp
                                               : QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    };
    URLSessionRequestSender sender(vastel::APIEnvironment(""));
    ASSERT_TRUE(run(sender.data(get(server.url()))).value);
    auto second = run(sender.data(get(server.url())));
    ASSERT_TRUE(second.value);
    EXPECT_EQ(platform::toString(second.value->data), "ok");
    EXPECT_EQ(server.connections, 2);

    // A new connection closed without an answer is not tried again: the request may have been handled.
    ScriptedServer closing;
    closing.reply = [](int, int) { return ScriptedServer::hangUp; };
    URLSessionRequestSender fresh(vastel::APIEnvironment(""));
    auto failed = run(fresh.data(get(closing.url())));
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(transportCode(failed.error), QNetworkReply::RemoteHostClosedError);
    EXPECT_EQ(closing.connections, 1);
}

TEST(HTTPTransport, FailsMalformedRepliesAndStaysUsable) {
    const std::map<std::string, QByteArray> replies = {
        {"not HTTP", "SSH-2.0-OpenSSH\r\n\r\n"},
        {"lengths that disagree", "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nok"},
        {"bad chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nnope\r\n"},
        {"endless head", "HTTP/1.1 200 OK\r\nX: " + QByteArray(70 * 1024, 'a')},
    };
    for (const auto& [name, bytes] : replies) {
        SCOPED_TRACE(name);
        ScriptedServer server;
        server.reply = [&bytes](int connection, int) {
            return connection == 0 ? bytes : QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        };
        URLSessionRequestSender sender(vastel::APIEnvironment(""));
        auto failed = run(sender.data(get(server.url())));
        ASSERT_TRUE(failed.error);
        EXPECT_EQ(transportCode(failed.error), QNetworkReply::ProtocolFailure);
        // The broken connection is dropped; the next request gets a new one.
        auto next = run(sender.data(get(server.url())));
        ASSERT_TRUE(next.value);
        EXPECT_EQ(server.connections, 2);
    }
}

TEST(HTTPTransport, TimesOutASilentServer) {
    ScriptedServer server;
    server.reply = [](int, int) { return ScriptedServer::silent; };
    URLSessionRequestSender sender(vastel::APIEnvironment(""));
    URLRequest request = get(server.url());
    request.timeoutInterval = std::chrono::milliseconds(200);
    auto failed = run(sender.data(request));
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(transportCode(failed.error), QNetworkReply::TimeoutError);
}

TEST(HTTPTransport, RefusesHeaderFieldsThatWouldForgeOthers) {
    ScriptedServer server;
    URLSessionRequestSender sender(vastel::APIEnvironment(""));
    const std::pair<std::string, std::string> fields[] = {{"X-Value", "a\r\nX-Injected: 1"},
                                                          {"X-Value", std::string("a\0b", 3)},
                                                          {"X-Na\nme", "a"},
                                                          {"X:Y", "a"}};
    for (const auto& [name, value] : fields) {
        URLRequest request = get(server.url());
        request.setValue(value, name);
        auto failed = run(sender.data(request));
        ASSERT_TRUE(failed.error) << name;
        EXPECT_EQ(transportCode(failed.error), QNetworkReply::ProtocolInvalidOperationError);
    }
    URLRequest badMethod = get(server.url());
    badMethod.httpMethod = "GET / HTTP/1.1\r\nX:";
    EXPECT_EQ(transportCode(run(sender.data(badMethod)).error), QNetworkReply::ProtocolInvalidOperationError);
    EXPECT_TRUE(server.heads.empty());
}

TEST(HTTPTransport, SendsTheSessionsCookiesBack) {
    ScriptedServer server;
    server.reply = [](int, int request) {
        return request == 0 ? QByteArray(
                                  "HTTP/1.1 200 OK\r\nSet-Cookie: session=abc; Path=/\r\n"
                                  "Content-Length: 0\r\n\r\n")
                            : QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
    };
    URLSessionRequestSender sender(vastel::APIEnvironment(""));
    ASSERT_TRUE(run(sender.data(get(server.url()))).value);
    ASSERT_TRUE(run(sender.data(get(server.url("/next")))).value);
    ASSERT_EQ(server.heads.size(), 2u);
    EXPECT_FALSE(server.heads[0].contains("Cookie:"));
    EXPECT_TRUE(server.heads[1].contains("\r\nCookie: session=abc\r\n"));

    // Another sender has its own cookies.
    URLSessionRequestSender other(vastel::APIEnvironment(""));
    ASSERT_TRUE(run(other.data(get(server.url()))).value);
    ASSERT_EQ(server.heads.size(), 3u);
    EXPECT_FALSE(server.heads[2].contains("Cookie:"));
}

}  // namespace
