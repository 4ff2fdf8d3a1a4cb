// The live client over real TLS on loopback: trust and pins, client identity, statuses and bodies as sent and
// received, redirects, requests in flight together, and bounded replies.
#include <gtest/gtest.h>

#include <QNetworkReply>
#include <condition_variable>
#include <mutex>

#include "HttpTestSupport.h"
#include "ScriptedServer.h"
#include "TestServer.h"
#include "http/URLSessionRequestSender.h"
#include "http/VastelClientLive.h"
#include "http/VastelClientProvider.h"
#include "platform/qt/TlsTrust.h"
#include "platform/testing/TestEnvironment.h"

namespace {

using httptest::run;
using httptest::TestServer;
using testsupport::ServerPKI;
using vastel::APIEnvironment;
using vastel::HTTPMethod;
using vastel::NetworkRequest;
using vastel::VastelError;
using Chain = std::vector<platform::Bytes>;

const ServerPKI& pki() {
    return ServerPKI::shared();
}

// The test root is trusted for the whole process, as the deployment configuration's extra CA would be. The
// unrelated root never is.
void trustTestRoot() {
    static const bool trusted = [] {
        auto file = testsupport::makeTempDir("ca") / "root.pem";
        testsupport::writeFile(file, pki().root.certificatePEM());
        return platform::addTrustedCACertificates(file);
    }();
    ASSERT_TRUE(trusted);
}

void addHandlers(httplib::Server& server) {
    server.Get("/hello", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("hello", "text/plain");
    });
    auto echo = [](const httplib::Request& request, httplib::Response& response) {
        response.set_content(request.method + " " + request.body, "text/plain");
    };
    server.Post("/echo", echo);
    server.Put("/echo", echo);
    server.Get("/echo", echo);
    server.Delete("/echo", echo);
    server.Get(R"(/status/(\d+))", [](const httplib::Request& request, httplib::Response& response) {
        response.status = std::stoi(request.matches[1]);
        // Challenges too: a 401 or 407 is still the server's reply, not a transport failure.
        response.set_header("WWW-Authenticate", "Basic realm=\"api\"");
        response.set_header("Proxy-Authenticate", "Basic realm=\"api\"");
        response.set_header("X-Reply", "yes");
        response.set_content("status " + std::string(request.matches[1]), "application/octet-stream");
    });
    auto redirect = [](const httplib::Request& request, httplib::Response& response) {
        response.status = std::stoi(request.get_param_value("code"));
        response.set_header("Location", request.get_param_value("to"));
        response.set_content("moved", "text/plain");
    };
    server.Get("/redirect", redirect);
    server.Post("/redirect", redirect);
}

struct Trusted : ::testing::Test {
    static void SetUpTestSuite() { trustTestRoot(); }
};

vastel::VastelClientLive clientFor(const std::string& basePath, Chain pins = {},
                                   std::optional<vastel::PKCS12> identity = std::nullopt) {
    return vastel::VastelClientLive(APIEnvironment(basePath, std::move(pins), std::move(identity)));
}

int transportCode(const VastelError& error) {
    auto transport = httptest::underlying<vastel::TransportError>(error);
    return transport ? transport->code() : -1;
}

using TLS = Trusted;

TEST_F(TLS, AcceptsOnlyVerifiedChainsForTheHostAndPinsWithinThem) {
    const auto& p = pki();
    testsupport::CertificateRequest wrongHost;
    wrongHost.commonName = "wrong.example";
    wrongHost.dnsNames = {"wrong.example"};
    const auto wrongHostLeaf = testsupport::issue(wrongHost, p.intermediate);
    testsupport::CertificateRequest selfSignedRequest;
    selfSignedRequest.commonName = "localhost";
    selfSignedRequest.dnsNames = {"localhost"};
    const auto selfSigned = testsupport::makeSelfSigned(selfSignedRequest);
    struct Case {
        const char* name;
        const testsupport::Issued& leaf;
        std::vector<platform::Certificate> chain;
        Chain pins;
        bool accepted;
    };
    const Case cases[] = {
        {"trusted chain, no pins", p.leaf, {p.intermediate.certificate}, {}, true},
        {"unknown CA", p.unrelatedLeaf, {p.unrelatedRoot.certificate}, {}, false},
        {"wrong host name", wrongHostLeaf, {p.intermediate.certificate}, {}, false},
        {"expired leaf", p.expiredLeaf, {p.intermediate.certificate}, {}, false},
        {"pin mismatch", p.leaf, {p.intermediate.certificate}, {p.unrelatedRoot.der()}, false},
        {"pinned root beside a foreign leaf", p.unrelatedLeaf, {p.root.certificate}, {p.root.der()}, false},
        {"pinned leaf", p.leaf, {p.intermediate.certificate}, {p.leaf.der()}, true},
        {"pinned intermediate", p.leaf, {p.intermediate.certificate}, {p.intermediate.der()}, true},
        {"pinned root", p.leaf, {p.intermediate.certificate}, {p.root.der()}, true},
        // Pins are anchors too: a server outside the trust store is reached through its pinned root or its
        // pinned self-signed certificate, still for the right host name only.
        {"pinned root outside the trust store",
         p.unrelatedLeaf,
         {p.unrelatedRoot.certificate},
         {p.unrelatedRoot.der()},
         true},
        {"pinned self-signed leaf", selfSigned, {}, {selfSigned.der()}, true},
        {"self-signed leaf, not pinned", selfSigned, {}, {}, false},
        {"one pin of several",
         p.leaf,
         {p.intermediate.certificate},
         {p.unrelatedRoot.der(), p.leaf.der()},
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestServer server(c.leaf, c.chain);
        addHandlers(server.server());
        server.start();
        auto client = clientFor(server.origin(), c.pins);
        // Twice: the second request may reuse the first one's connection.
        for (int attempt = 0; attempt < 2; ++attempt) {
            auto outcome = run(client.send(NetworkRequest<std::string>(HTTPMethod::get, "/hello")));
            if (c.accepted) {
                ASSERT_TRUE(outcome.value) << outcome.errorAs<vastel::VastelError>()->what();
                EXPECT_EQ(outcome.value->value, "hello");
            } else {
                auto error = outcome.errorAs<vastel::VastelError>();
                ASSERT_TRUE(error);
                EXPECT_EQ(error->kind(), VastelError::Kind::networkError);
                EXPECT_EQ(transportCode(*error), QNetworkReply::SslHandshakeFailedError) << error->what();
            }
        }
        // A refused server never sees the request.
        EXPECT_EQ(server.requests().size(), c.accepted ? 2u : 0u);
    }
}

TEST_F(TLS, RefusesAnotherHostThanTheBasePaths) {
    // Joined as text, the path extends the base path's host name: the connection is not even attempted.
    auto client = clientFor("https://localhost");
    auto error = run(client.send(NetworkRequest<std::string>(HTTPMethod::get, ".invalid/hello")))
                     .errorAs<vastel::VastelError>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), VastelError::Kind::networkError);
    EXPECT_EQ(transportCode(*error), QNetworkReply::OperationCanceledError) << error->what();
}

TEST_F(TLS, PresentsTheClientIdentityWhenAsked) {
    const auto& p = pki();
    TestServer server(p.leaf, {p.intermediate.certificate}, /*requestClientCertificate=*/true);
    addHandlers(server.server());
    server.start();

    auto identity = vastel::PKCS12::make(testsupport::makePKCS12(p.client, {p.root}, "pw"), "pw");
    ASSERT_TRUE(identity);
    auto withIdentity = clientFor(server.origin(), {}, identity);
    ASSERT_TRUE(run(withIdentity.send(NetworkRequest<std::string>(HTTPMethod::get, "/hello"))).value);

    auto certificateOnly =
        vastel::PKCS12::make(testsupport::makePKCS12(p.client, {p.root}, "pw", false), "pw");
    ASSERT_TRUE(certificateOnly);
    ASSERT_TRUE(run(clientFor(server.origin(), {}, certificateOnly)
                        .send(NetworkRequest<std::string>(HTTPMethod::get, "/hello")))
                    .value);
    ASSERT_TRUE(
        run(clientFor(server.origin()).send(NetworkRequest<std::string>(HTTPMethod::get, "/hello"))).value);

    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].clientCertificate, p.client.der());
    EXPECT_FALSE(requests[1].clientCertificate);
    EXPECT_FALSE(requests[2].clientCertificate);
}

// A reply without a length runs to the connection's end. Over TLS only the closure alert tells that end from
// a connection cut short (by the network, or by someone between who cannot forge the alert).
TEST_F(TLS, AReplyThatRunsToTheEndCountsOnlyWithTheClosureAlert) {
    using End = httptest::ScriptedServer::Answer::End;
    const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n";
    const QByteArray half = R"({"signatures":["MEUCIQ)";
    struct Case {
        const char* name;
        End end;
        bool complete;
    };
    for (auto c : {Case{"closure alert", End::close, true}, Case{"cut", End::cut, false}}) {
        SCOPED_TRACE(c.name);
        httptest::ScriptedServer server(pki().leaf, {pki().intermediate.certificate});
        server.reply = [&](int, int) { return httptest::ScriptedServer::Answer(head + half, c.end); };
        vastel::URLSessionRequestSender sender(APIEnvironment(server.url().toString().toStdString()));
        vastel::URLRequest request;
        request.url = server.url("/consent");
        auto outcome = run(sender.data(request));
        if (c.complete) {
            ASSERT_TRUE(outcome.value);
            EXPECT_EQ(platform::toString(outcome.value->data), half.toStdString());
        } else {
            ASSERT_TRUE(outcome.error);
            try {
                std::rethrow_exception(outcome.error);
            } catch (const vastel::TransportError& e) {
                EXPECT_EQ(e.code(), QNetworkReply::ProtocolFailure) << e.what();
            }
        }
    }
}

struct Live : Trusted {
    void SetUp() override {
        server = std::make_unique<TestServer>(pki().leaf, std::vector{pki().intermediate.certificate});
        addHandlers(server->server());
        server->start();
    }
    std::unique_ptr<TestServer> server;
    std::string base() const { return server->origin() + "/api"; }
};

TEST_F(Live, SendsMethodBodyAndHeaderFieldsAsBuilt) {
    auto client = clientFor(server->origin());
    struct Case {
        HTTPMethod method;
        vastel::RequestBody body;
        vastel::HTTPHeaders headers;
        std::string reply;
        std::optional<std::string> contentType;
        std::optional<std::string> contentLength;
    };
    const Case cases[] = {
        {HTTPMethod::get, {}, {{"X-Custom", "1"}}, "GET ", std::nullopt, std::nullopt},
        {HTTPMethod::delete_, {}, {}, "DELETE ", std::nullopt, std::nullopt},
        {HTTPMethod::post, {}, {}, "POST ", std::nullopt, "0"},
        {HTTPMethod::post,
         std::string(R"({"a":1})"),
         {{"X-Custom", "1"}},
         R"(POST {"a":1})",
         "application/json",
         "7"},
        {HTTPMethod::put,
         platform::Bytes{'x', 'y'},
         {{"content-type", "text/plain"}},
         "PUT xy",
         "text/plain",
         "2"},
    };
    for (const auto& c : cases) {
        auto outcome = run(client.send(NetworkRequest<std::string>(c.method, "/echo", c.body, c.headers)));
        ASSERT_TRUE(outcome.value) << outcome.errorAs<vastel::VastelError>()->what();
        EXPECT_EQ(outcome.value->value, c.reply);
        EXPECT_EQ(outcome.value->statusCode(), 200);
        const auto sent = server->requests().back();
        EXPECT_EQ(sent.header("Content-Type"), c.contentType) << c.reply;
        EXPECT_EQ(sent.header("Content-Length"), c.contentLength) << c.reply;
        if (c.headers.count("X-Custom")) {
            EXPECT_EQ(sent.header("X-Custom"), "1");
        }
    }
}

TEST_F(Live, ChecksTheStatusOfRealReplies) {
    auto client = clientFor(server->origin());
    for (int status : {200, 201, 204, 299, 300, 304, 400, 401, 404, 407, 409, 418, 500, 503, 599}) {
        SCOPED_TRACE(status);
        auto outcome = run(client.send(
            NetworkRequest<platform::Bytes>(HTTPMethod::get, "/status/" + std::to_string(status))));
        const bool hasBody = status != 204 && status != 304;
        const std::string body = hasBody ? "status " + std::to_string(status) : "";
        if (status >= 200 && status <= 299) {
            ASSERT_TRUE(outcome.value) << outcome.errorAs<vastel::VastelError>()->what();
            EXPECT_EQ(outcome.value->statusCode(), status);
            EXPECT_EQ(platform::toString(outcome.value->data), body);
            EXPECT_EQ(outcome.value->response.headerFields.value("x-reply"), "yes");
        } else {
            auto error = outcome.errorAs<vastel::VastelError>();
            ASSERT_TRUE(error);
            ASSERT_EQ(error->kind(), VastelError::Kind::unexpectedStatusCode) << error->what();
            EXPECT_EQ(error->response().statusCode(), status);
            EXPECT_EQ(platform::toString(error->body()), body);
            EXPECT_EQ(error->response().headerFields.value("X-Reply"), "yes");
        }
    }
}

TEST_F(Live, FollowsRedirectsOnlyToHTTPSOnTheSameHost) {
    TestServer plain;
    addHandlers(plain.server());
    plain.start();
    auto client = clientFor(server->origin());
    auto redirect = [&](int code, const std::string& to) {
        return "/redirect?code=" + std::to_string(code) +
               "&to=" + QUrl::toPercentEncoding(QString::fromStdString(to)).toStdString();
    };
    const std::string sameHostUpper = "HTTPS://localhost:" + std::to_string(server->port()) + "/echo";

    // "HTTPS" on the same host: followed. 302 and 303 after a POST continue as a GET without body; 307 and
    // 308 keep method and body.
    struct Case {
        HTTPMethod method;
        int code;
        std::string reply;
    };
    const Case followed[] = {{HTTPMethod::get, 302, "GET "},
                             {HTTPMethod::post, 302, "GET "},
                             {HTTPMethod::post, 303, "GET "},
                             {HTTPMethod::post, 307, "POST payload"},
                             {HTTPMethod::post, 308, "POST payload"}};
    for (const auto& c : followed) {
        SCOPED_TRACE(c.code);
        vastel::RequestBody body;
        if (c.method == HTTPMethod::post)
            body = std::string("payload");
        auto outcome =
            run(client.send(NetworkRequest<std::string>(c.method, redirect(c.code, sameHostUpper), body)));
        ASSERT_TRUE(outcome.value) << outcome.errorAs<vastel::VastelError>()->what();
        EXPECT_EQ(outcome.value->value, c.reply);
        EXPECT_EQ(outcome.value->response.url.path().toStdString(), "/echo");
    }
    const auto followedRequests = server->requests().size();

    // Plain HTTP on the same host, HTTPS on another host name, a Location that is no URL or empty: not
    // followed; the 3xx is the reply.
    const std::string refused[] = {plain.origin() + "/echo", server->origin("127.0.0.1") + "/echo",
                                   "not a url", ""};
    for (const auto& to : refused) {
        SCOPED_TRACE(to);
        auto error = run(client.send(NetworkRequest<std::string>(HTTPMethod::get, redirect(302, to))))
                         .errorAs<vastel::VastelError>();
        ASSERT_TRUE(error);
        ASSERT_EQ(error->kind(), VastelError::Kind::unexpectedStatusCode) << error->what();
        EXPECT_EQ(error->response().statusCode(), 302);
        EXPECT_EQ(platform::toString(error->body()), "moved");
    }
    EXPECT_EQ(server->requests().size(), followedRequests + std::size(refused));
    EXPECT_TRUE(plain.requests().empty());
}

TEST_F(Live, BoundsTheNumberOfRedirects) {
    server->server().Get("/loop", [](const httplib::Request&, httplib::Response& response) {
        response.set_redirect("/loop", 302);
    });
    auto error = run(clientFor(server->origin()).send(NetworkRequest<std::string>(HTTPMethod::get, "/loop")))
                     .errorAs<vastel::VastelError>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), VastelError::Kind::networkError);
    EXPECT_EQ(transportCode(*error), QNetworkReply::TooManyRedirectsError);
    EXPECT_EQ(server->requests().size(), size_t(vastel::maximumRedirects + 1));
}

TEST_F(Live, KeepsSeveralRequestsInFlightAtOnce) {
    // Each request is answered only once all of them have arrived: requests sent one after another would wait
    // for each other until the server gives up.
    constexpr int count = 4;
    std::mutex mutex;
    std::condition_variable arrived;
    int waiting = 0;
    server->server().Get("/together", [&](const httplib::Request&, httplib::Response& response) {
        std::unique_lock lock(mutex);
        ++waiting;
        arrived.notify_all();
        bool all = arrived.wait_for(lock, std::chrono::seconds(20), [&] { return waiting >= count; });
        response.status = all ? 200 : 503;
        response.set_content(all ? "together" : "alone", "text/plain");
    });
    auto client = clientFor(server->origin());
    std::vector<QCoro::Task<vastel::NetworkResponse<std::string>>> tasks;
    for (int i = 0; i < count; ++i)
        tasks.push_back(client.send(NetworkRequest<std::string>(HTTPMethod::get, "/together")));
    for (auto& task : tasks) {
        auto outcome = run(std::move(task));
        ASSERT_TRUE(outcome.value) << outcome.errorAs<vastel::VastelError>()->what();
        EXPECT_EQ(outcome.value->value, "together");
    }
}

TEST_F(Live, RefusesRepliesLargerThanTheLimit) {
    constexpr size_t chunk = 1 << 20;
    const size_t tooLarge = size_t(vastel::maximumReplyBodySize) + 1;
    // Announced by Content-Length, and sent in chunks without a length.
    server->server().Get("/announced", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(tooLarge, "application/octet-stream",
                                      [&](size_t offset, size_t length, httplib::DataSink& sink) {
                                          std::string data(std::min(chunk, length), '\0');
                                          (void)offset;
                                          return sink.write(data.data(), data.size());
                                      });
    });
    server->server().Get("/chunked", [&](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("application/octet-stream",
                                              [&](size_t offset, httplib::DataSink& sink) {
                                                  if (offset >= tooLarge + chunk) {
                                                      sink.done();
                                                      return true;
                                                  }
                                                  std::string data(chunk, '\0');
                                                  return sink.write(data.data(), data.size());
                                              });
    });
    auto client = clientFor(server->origin());
    for (const char* path : {"/announced", "/chunked"}) {
        SCOPED_TRACE(path);
        auto error = run(client.send(NetworkRequest<platform::Bytes>(HTTPMethod::get, path)))
                         .errorAs<vastel::VastelError>();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), VastelError::Kind::networkError);
        EXPECT_EQ(transportCode(*error), QNetworkReply::ProtocolFailure) << error->what();
    }
    // The client stays usable.
    ASSERT_TRUE(run(client.send(NetworkRequest<std::string>(HTTPMethod::get, "/hello"))).value);
}

TEST_F(Live, ReportsAFailedConnectionAsNetworkError) {
    auto port = server->port();
    server.reset();
    auto error = run(clientFor("https://localhost:" + std::to_string(port))
                         .send(NetworkRequest<std::string>(HTTPMethod::get, "/hello")))
                     .errorAs<vastel::VastelError>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), VastelError::Kind::networkError);
    EXPECT_EQ(transportCode(*error), QNetworkReply::ConnectionRefusedError) << error->what();
}

TEST_F(Live, ProviderMakesClientsThatShareNothing) {
    APIEnvironment environment(server->origin());
    auto first = vastel::VastelClientProvider::live(environment);
    auto second = vastel::VastelClientProvider::live(environment);
    auto* a = dynamic_cast<vastel::VastelClientLive*>(first.get());
    auto* b = dynamic_cast<vastel::VastelClientLive*>(second.get());
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->requestSender(), b->requestSender());
    EXPECT_TRUE(std::dynamic_pointer_cast<vastel::URLSessionRequestSender>(a->requestSender()));
    auto outcome = run(first->send(NetworkRequest<std::string>(HTTPMethod::get, "/hello")));
    ASSERT_TRUE(outcome.value);
    EXPECT_EQ(outcome.value->value, "hello");
    // The client may go before its reply arrives.
    auto task = second->send(NetworkRequest<std::string>(HTTPMethod::get, "/hello"));
    second.reset();
    auto late = run(std::move(task));
    ASSERT_TRUE(late.value);
    EXPECT_EQ(late.value->value, "hello");
}

}  // namespace
