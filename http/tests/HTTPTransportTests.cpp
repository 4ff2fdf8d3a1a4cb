// The sender's own HTTP/1.1 connections against a plain-HTTP server whose every reply byte the test writes:
// connections kept and reused, a kept connection the server closed meanwhile, malformed and silent replies,
// refused header fields, the resource time-out, a sender's body limit and session cookies.
#include <gtest/gtest.h>

#include <QNetworkProxy>
#include <QNetworkReply>
#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "HttpTestSupport.h"
#include "ScriptedServer.h"
#include "http/URLSessionRequestSender.h"

namespace {

using httptest::run;
using httptest::ScriptedServer;
using vastel::TransportError;
using vastel::URLRequest;
using vastel::URLSessionRequestSender;

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

// The server closes a kept connection as the next request arrives, unanswered: it may have closed the idle
// connection just then, or it may have carried the request out first. Only a request that is safe to repeat
// goes once more, on a new connection; a POST (every API call) is never sent twice.
TEST(HTTPTransport, SendsOnlyRequestsSafeToRepeatAgainWhenAKeptConnectionDies) {
    struct Case {
        const char* method;
        bool sentAgain;
    };
    for (auto c : {Case{"GET", true}, Case{"HEAD", true}, Case{"POST", false}, Case{"PUT", false},
                   Case{"DELETE", false}}) {
        SCOPED_TRACE(c.method);
        ScriptedServer server;
        server.reply = [](int connection, int request) {
            return connection == 0 && request == 1 ? ScriptedServer::hangUp
                                                   : ScriptedServer::Answer(
                                                         "HTTP/1.1 200 OK\r\nContent-Length: "
                                                         "2\r\n\r\nok");
        };
        URLSessionRequestSender sender(vastel::APIEnvironment(""));
        ASSERT_TRUE(run(sender.data(get(server.url()))).value);
        URLRequest request = get(server.url("/consent"));
        request.httpMethod = c.method;
        if (c.method == std::string("POST") || c.method == std::string("PUT"))
            request.httpBody = platform::toBytes(R"({"hashes":["n4bQ"]})");
        auto outcome = run(sender.data(request));

        const auto sent = std::count_if(
            server.heads.begin(), server.heads.end(),
            [&](const QByteArray& head) { return head.startsWith(QByteArray(c.method) + " /consent "); });
        EXPECT_EQ(sent, c.sentAgain ? 2 : 1);
        EXPECT_EQ(server.connections, c.sentAgain ? 2 : 1);
        if (c.sentAgain) {
            ASSERT_TRUE(outcome.value);
            EXPECT_EQ(outcome.value->response.statusCode(), 200);
        } else {
            ASSERT_TRUE(outcome.error);
            EXPECT_EQ(transportCode(outcome.error), QNetworkReply::RemoteHostClosedError);
        }
    }

    // A new connection closed without an answer is not tried again, whatever the method.
    ScriptedServer closing;
    closing.reply = [](int, int) { return ScriptedServer::hangUp; };
    URLSessionRequestSender fresh(vastel::APIEnvironment(""));
    auto failed = run(fresh.data(get(closing.url())));
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(transportCode(failed.error), QNetworkReply::RemoteHostClosedError);
    EXPECT_EQ(closing.connections, 1);
}

// POSTs one after the other, each sent as soon as the one before has its reply: how many got one.
QCoro::Task<int> postInTurn(URLSessionRequestSender& sender, QUrl url, int count) {
    int replies = 0;
    for (int i = 0; i < count; ++i) {
        URLRequest request = get(url);
        request.httpMethod = "POST";
        request.httpBody = platform::toBytes("{}");
        try {
            co_await sender.data(request);
            ++replies;
        } catch (const TransportError&) {
        }
    }
    co_return replies;
}

// A server that closes each connection right after its reply, without saying so in the reply: the close has
// reached the client before its next request, even when the event loop has not reported it yet, so the next
// request (one that may not be sent twice) goes on a new connection instead of failing on the closed one.
TEST(HTTPTransport, AKeptConnectionTheServerHasClosedIsNotUsedAgain) {
    ScriptedServer server;
    server.reply = [](int, int) {
        return ScriptedServer::Answer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
                                      ScriptedServer::Answer::End::close);
    };
    URLSessionRequestSender sender(vastel::APIEnvironment(""));
    constexpr int requests = 20;
    auto replies = run(postInTurn(sender, server.url("/poll"), requests));
    ASSERT_TRUE(replies.value);
    EXPECT_EQ(*replies.value, requests);
    EXPECT_EQ(server.connections, requests);
}

// The time-out is the longest wait without progress, and also the longest wait for the whole head once the
// request is written: a head that comes a byte at a time does not keep the request alive past it. The body
// may take longer while it keeps coming.
TEST(HTTPTransport, AReplyHeadMustArriveWithinTheTimeOutABodyMayTakeLonger) {
    const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 20\r\n\r\n";
    const QByteArray body = R"({"signatures":["x"]})";
    ScriptedServer server;
    server.reply = [&](int, int) { return head + body; };
    server.trickle = std::chrono::milliseconds(100);
    URLSessionRequestSender sender(vastel::APIEnvironment(""));
    URLRequest request = get(server.url());
    request.timeoutInterval = std::chrono::milliseconds(1500);

    // 70 bytes of head, one per 100 ms: every byte is progress, the head as a whole is late.
    auto trickledHead = run(sender.data(request));
    ASSERT_TRUE(trickledHead.error);
    EXPECT_EQ(transportCode(trickledHead.error), QNetworkReply::TimeoutError);

    // The head at once, then 20 bytes of body over 2 s.
    server.trickleFrom = head.size();
    auto trickledBody = run(sender.data(request));
    ASSERT_TRUE(trickledBody.value) << "the body was held to the head's deadline";
    EXPECT_EQ(platform::toString(trickledBody.value->data), body.toStdString());
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

// The resource time-out bounds the whole round trip, however steadily the reply keeps coming.
TEST(HTTPTransport, TheWholeReplyMustArriveWithinTheResourceTimeOut) {
    const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n";
    ScriptedServer server;
    server.reply = [&](int, int) { return head + QByteArray(20, 'x'); };
    server.trickle = std::chrono::milliseconds(100);
    server.trickleFrom = head.size();
    URLSessionRequestSender sender(vastel::APIEnvironment(""));
    URLRequest request = get(server.url());
    request.timeoutInterval = std::chrono::milliseconds(1500);
    request.resourceTimeoutInterval = std::chrono::milliseconds(1000);
    auto late = run(sender.data(request));
    ASSERT_TRUE(late.error);
    EXPECT_EQ(transportCode(late.error), QNetworkReply::TimeoutError);

    request.resourceTimeoutInterval = std::chrono::milliseconds(10000);
    EXPECT_TRUE(run(sender.data(request)).value);
}

// A sender's own smaller body limit, announced or found while the body arrives, is told apart from other
// failures.
TEST(HTTPTransport, ABodyOverTheSendersLimitIsAReplyTooLarge) {
    const std::pair<const char*, QByteArray> replies[] = {
        {"announced", "HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n" + QByteArray(20, 'x')},
        {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\na\r\n" + QByteArray(10, 'x') +
                        "\r\na\r\n" + QByteArray(10, 'x') + "\r\n0\r\n\r\n"},
        {"until the close", "HTTP/1.1 200 OK\r\n\r\n" + QByteArray(20, 'x')},
    };
    for (const auto& [name, bytes] : replies) {
        SCOPED_TRACE(name);
        ScriptedServer server;
        server.reply = [&](int, int) {
            return ScriptedServer::Answer(bytes, ScriptedServer::Answer::End::close);
        };
        URLSessionRequestSender limited(vastel::APIEnvironment(""), 19);
        auto refused = run(limited.data(get(server.url())));
        ASSERT_TRUE(refused.error);
        EXPECT_THROW(std::rethrow_exception(refused.error), vastel::ReplyTooLargeError);

        URLSessionRequestSender enough(vastel::APIEnvironment(""), 20);
        auto accepted = run(enough.data(get(server.url())));
        ASSERT_TRUE(accepted.value);
        EXPECT_EQ(accepted.value->data.size(), 20u);
    }
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

// A proxy's refusal to open the tunnel to the server is a refusal by the proxy, not an unknown failure.
TEST(HTTPTransport, AProxyThatRefusesTheTunnelIsReportedAsTheProxysRefusal) {
    struct Case {
        const char* reply;
        int code;
    };
    const Case cases[] = {
        {"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n", QNetworkReply::ProxyConnectionRefusedError},
        {"HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\n\r\n",
         QNetworkReply::ProxyConnectionRefusedError},
        {"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"proxy\"\r\n"
         "Content-Length: 0\r\n\r\n",
         QNetworkReply::ProxyAuthenticationRequiredError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        ScriptedServer proxy;
        proxy.reply = [&](int, int) { return ScriptedServer::Answer(c.reply); };
        const QNetworkProxy before = QNetworkProxy::applicationProxy();
        QNetworkProxy::setApplicationProxy(
            QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", proxy.port()));
        URLSessionRequestSender sender(vastel::APIEnvironment("https://signing.example"));
        URLRequest request = get(QUrl("https://signing.example/api/consent"));
        request.httpMethod = "POST";
        request.httpBody = platform::toBytes("{}");
        auto failed = run(sender.data(request));
        QNetworkProxy::setApplicationProxy(before);

        ASSERT_TRUE(failed.error);
        EXPECT_EQ(transportCode(failed.error), c.code);
        try {
            std::rethrow_exception(failed.error);
        } catch (const TransportError& e) {
            EXPECT_NE(std::string(e.what()).find("proxy 127.0.0.1:"), std::string::npos) << e.what();
        }
        ASSERT_EQ(proxy.heads.size(), 1u);
        EXPECT_TRUE(proxy.heads[0].startsWith("CONNECT signing.example:443 HTTP/1.1\r\n"))
            << proxy.heads[0].data();
    }
}

}  // namespace
