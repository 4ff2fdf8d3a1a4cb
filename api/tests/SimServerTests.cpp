// The stand-in server refuses bad input with its error body and keeps serving.
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <thread>

#include "sim/testing/SimServerProcess.h"

using platform::json::Json;
using simtest::SimServerProcess;

namespace {

std::unique_ptr<httplib::SSLClient> clientFor(const SimServerProcess& server) {
    auto client = std::make_unique<httplib::SSLClient>("localhost", server.port());
    client->set_ca_cert_path(server.caFile().c_str());
    client->enable_server_certificate_verification(true);
    client->set_read_timeout(20, 0);
    return client;
}

void expectErrorBody(const std::string& body, const std::string& code) {
    Json json = Json::parse(body, nullptr, false);
    ASSERT_TRUE(json.is_object()) << body.substr(0, 200);
    EXPECT_EQ(json["error"], code);
    for (const char* language : {"en", "de", "fr", "nl"}) {
        EXPECT_TRUE(json[language]["text"].is_string()) << language;
        EXPECT_TRUE(json[language]["faqUrl"].is_string()) << language;
    }
    EXPECT_EQ(json["supportIds"].size(), 1u);
}

}  // namespace

TEST(SimServer, RefusesMalformedRequests) {
    SimServerProcess server({"--max-body-bytes", "4096"});
    auto client = clientFor(server);
    struct Case {
        const char* name;
        std::string path;
        std::string body;
        int status;
        const char* code;
    };
    const Case cases[] = {
        {"not JSON", "/srvremotesign/auth/getMeans", "{\"clientData\":", 400, "BAD_REQUEST"},
        {"not an object", "/srvremotesign/auth/getMeans", "[1,2]", 400, "BAD_REQUEST"},
        {"empty body", "/srvremotesign/wallet/poll", "", 400, "BAD_REQUEST"},
        {"missing key", "/srvremotesign/auth/getMeans", R"({"clientData":"A"})", 400, "BAD_REQUEST"},
        {"wrong type", "/srvremotesign/auth/getMeans", R"({"clientData":1,"level":"high"})", 400,
         "BAD_REQUEST"},
        {"unknown level", "/srvremotesign/auth/getMeans", R"({"clientData":"A","level":"low"})", 400,
         "BAD_REQUEST"},
        {"nested too deeply", "/srvremotesign/wallet/poll", std::string(200, '[') + std::string(200, ']'),
         400, "BAD_REQUEST"},
        {"not UTF-8", "/srvremotesign/wallet/poll", "{\"pollSessionId\":\"\xff\xfe\"}", 400, "BAD_REQUEST"},
        {"too large", "/srvremotesign/wallet/poll", "{\"pollSessionId\":\"" + std::string(8000, 'a') + "\"}",
         413, "PAYLOAD_TOO_LARGE"},
        {"unknown endpoint", "/srvremotesign/auth/nothing", "{}", 404, "NOT_FOUND"},
        {"unknown session", "/srvremotesign/rsign/getAccountStatus", R"({"authSessionId":"nope"})", 401,
         "SESSION_NOT_FOUND"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto result = client->Post(c.path.c_str(), c.body, "application/json");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, c.status);
        expectErrorBody(result->body, c.code);
    }
    // Still serving, and the requests it recorded can be read back.
    auto recorded = client->Get("/control/requests");
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->status, 200);
    auto result = client->Post("/srvremotesign/auth/getMeans", R"({"clientData":"A","level":"high"})",
                               "application/json");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
}

TEST(SimServer, ProofsMustMatchTheSession) {
    SimServerProcess server;
    auto client = clientFor(server);
    auto means = client->Post("/srvremotesign/auth/getMeans", R"({"clientData":"A","level":"high"})",
                              "application/json");
    ASSERT_TRUE(means);
    std::string session = Json::parse(means->body)["sessionId"];
    client->Post("/srvremotesign/auth/getMeanData", Json{{"sessionId", session}, {"mean", "eid"}}.dump(),
                 "application/json");
    const std::pair<Json, const char*> cases[] = {
        {Json{{"sessionId", session}}, "BAD_REQUEST"},  // no proof
        {Json{{"sessionId", session},
              {"eid", {{"authenticationCertificate", "AA=="}, {"signature", "AA=="}}},
              {"wallet", {{"pollSessionId", "p"}}}},
         "BAD_REQUEST"},  // two proofs
        {Json{{"sessionId", session}, {"wallet", {{"pollSessionId", "p"}}}}, "MEAN_NOT_AVAILABLE"},
        {Json{{"sessionId", session},
              {"eid", {{"authenticationCertificate", "AAEC"}, {"signature", "AA=="}}}},
         "INVALID_CERTIFICATE"},
        {Json{{"sessionId", session}, {"eid", {{"authenticationCertificate", "AA="}, {"signature", "AA=="}}}},
         "BAD_REQUEST"},
    };
    for (const auto& [body, code] : cases) {
        SCOPED_TRACE(body.dump());
        auto result = client->Post("/srvremotesign/auth/authenticate", body.dump(), "application/json");
        ASSERT_TRUE(result);
        expectErrorBody(result->body, code);
    }
}

TEST(SimServer, FaultsFromTheCommandLine) {
    SimServerProcess server({"--fault", "/auth/getMeans:status=503,count=1", "--fault",
                             "/wallet/poll:raw={\"type\":\"X\",\"a\":1}"});
    auto client = clientFor(server);
    const std::string body = R"({"clientData":"A","level":"high"})";
    auto first = client->Post("/srvremotesign/auth/getMeans", body, "application/json");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->status, 503);
    expectErrorBody(first->body, "SERVICE_UNAVAILABLE");
    auto second = client->Post("/srvremotesign/auth/getMeans", body, "application/json");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->status, 200);
    auto poll = client->Post("/srvremotesign/wallet/poll", R"({"pollSessionId":"any"})", "application/json");
    ASSERT_TRUE(poll);
    EXPECT_EQ(poll->status, 200);
    EXPECT_EQ(poll->body, R"({"type":"X","a":1})");
}

// Ended sessions answer "expired" for a while and are then forgotten, so a long-running server stays bounded.
TEST(SimServer, ForgetsSessionsLongOver) {
    SimServerProcess server({"--wallet-seconds", "1", "--wallet-polls", "0"});
    auto client = clientFor(server);
    auto openPoll = [&client] {
        auto means = client->Post("/srvremotesign/auth/getMeans", R"({"clientData":"A","level":"high"})",
                                  "application/json");
        std::string session = Json::parse(means->body)["sessionId"];
        auto data = client->Post("/srvremotesign/auth/getMeanData",
                                 Json{{"sessionId", session}, {"mean", "wallet"}}.dump(), "application/json");
        return Json::parse(data->body)["wallet"]["pollSessionId"].get<std::string>();
    };
    auto poll = [&client](const std::string& id) {
        return client->Post("/srvremotesign/wallet/poll", Json{{"pollSessionId", id}}.dump(),
                            "application/json");
    };
    std::string id = openPoll();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    auto expired = poll(id);
    ASSERT_TRUE(expired);
    EXPECT_EQ(expired->status, 200);
    EXPECT_EQ(Json::parse(expired->body)["type"], "EXPIRED");

    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    openPoll();  // a new session makes the server drop what is long over
    auto forgotten = poll(id);
    ASSERT_TRUE(forgotten);
    EXPECT_EQ(forgotten->status, 404);
    expectErrorBody(forgotten->body, "POLL_SESSION_NOT_FOUND");
}

// Recorded requests keep the latest ones within a byte budget, whatever the request limit allows.
TEST(SimServer, RecordedRequestsStayBounded) {
    SimServerProcess server({"--max-body-bytes", std::to_string(9 << 20)});
    auto client = clientFor(server);
    const std::string big(8 << 20, 'a');
    for (int i = 0; i < 9; ++i) {
        auto result = client->Post("/srvremotesign/wallet/poll", big, "application/json");
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, 400);
    }
    client->Post("/srvremotesign/wallet/poll", R"({"pollSessionId":"last"})", "application/json");
    auto recorded = server.requests();
    std::size_t bytes = 0;
    for (const auto& request : recorded)
        bytes += request.body.is_string() ? request.body.get_ref<const std::string&>().size() : 0;
    EXPECT_LT(recorded.size(), 10u);
    EXPECT_LE(bytes, std::size_t{64} << 20);
    ASSERT_FALSE(recorded.empty());
    EXPECT_EQ(recorded.back().body, Json::parse(R"({"pollSessionId":"last"})"));
}
