// The stand-in server refuses bad input with its error body and keeps serving; it holds up under hostile
// clients and ends cleanly.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "platform/testing/Eventually.h"
#include "platform/testing/TestEnvironment.h"
#include "sim/testing/SimServerProcess.h"

extern char** environ;

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
        {"clientData too long", "/srvremotesign/auth/getMeans",
         Json{{"clientData", std::string(257, 'C')}, {"level", "high"}}.dump(), 400, "BAD_REQUEST"},
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
    // Still serving, and the requests it recorded can be read back; a clientData at its limit is taken.
    auto recorded = client->Get("/control/requests");
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->status, 200);
    auto result = client->Post("/srvremotesign/auth/getMeans",
                               Json{{"clientData", std::string(256, 'C')}, {"level", "high"}}.dump(),
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

    // A fault for an endpoint that does not exist is a mistake, whichever way it is given.
    EXPECT_EQ(server.control("/faults", {{"endpoint", "/auth/getMean"}, {"status", 500}}), 400);
    EXPECT_THROW(SimServerProcess({"--fault", "/auth/getMean:status=500"}), std::runtime_error);
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

// The body limit holds whatever the transfer encoding: a chunked body that outgrows it is refused with 413,
// or the connection is dropped while it is still being sent, and the server keeps serving.
TEST(SimServer, ChunkedBodyOverTheLimitIsRefused) {
    SimServerProcess server;  // the default limit, 1 MiB
    auto client = clientFor(server);
    // Writing to a connection that the server dropped must fail the write, not end this process.
    struct IgnoreSigpipe {
        IgnoreSigpipe() : previous(signal(SIGPIPE, SIG_IGN)) {}
        ~IgnoreSigpipe() { signal(SIGPIPE, previous); }
        sighandler_t previous;
    } ignoreSigpipe;
    // A well-formed request: a server that read all of it would answer that the poll session does not exist.
    const std::string head = R"({"pollSessionId":")";
    const std::string piece(64 << 10, 'a');
    const std::size_t pieces = 1024;  // 64 MiB
    auto result = client->Post(
        "/srvremotesign/wallet/poll",
        [&](std::size_t offset, httplib::DataSink& sink) {
            if (offset == 0)
                return sink.write(head.data(), head.size());
            if (offset < head.size() + pieces * piece.size())
                return sink.write(piece.data(), piece.size());
            sink.write("\"}", 2);
            sink.done();
            return true;
        },
        "application/json");
    if (result) {
        EXPECT_EQ(result->status, 413);
        expectErrorBody(result->body, "PAYLOAD_TOO_LARGE");
    }
    auto next = clientFor(server)->Post("/srvremotesign/auth/getMeans",
                                        R"({"clientData":"A","level":"high"})", "application/json");
    ASSERT_TRUE(next);
    EXPECT_EQ(next->status, 200);
}

// Clients that connect and never start TLS do not hold the server up: a request is served while they are
// connected, and they are still connected afterwards (the server did not have to drop them first).
TEST(SimServer, ClientsThatNeverStartTLSDoNotBlockOthers) {
    SimServerProcess server;
    std::vector<int> idle;
    for (int i = 0; i < 16; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(server.port()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        idle.push_back(fd);
    }
    auto result = clientFor(server)->Post("/srvremotesign/auth/getMeans",
                                          R"({"clientData":"A","level":"high"})", "application/json");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    for (int fd : idle) {
        pollfd p{fd, POLLIN, 0};
        EXPECT_EQ(poll(&p, 1, 0), 0) << "the server had closed an idle connection";
        close(fd);
    }
}

// SIGTERM ends the server cleanly: a request in progress gets its reply and the exit status is 0.
TEST(SimServer, StopsCleanlyOnSigterm) {
    SimServerProcess server;
    server.fault("/auth/getMeans", {{"delayMs", 500}, {"passThrough", true}});
    server.clearRequests();
    auto inProgress = std::async(std::launch::async, [&server] {
        return clientFor(server)->Post("/srvremotesign/auth/getMeans", R"({"clientData":"A","level":"high"})",
                                       "application/json");
    });
    ASSERT_TRUE(
        testsupport::eventually([&] { return !server.requests().empty(); }, std::chrono::seconds(20)));
    EXPECT_EQ(server.stop(), 0);
    auto result = inProgress.get();
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
}

// A test process that dies takes its stand-in server along, instead of leaving it to hold CTest's output
// until the time-out: a helper starts a server as the tests do and is killed.
TEST(SimServer, EndsWithTheProcessThatStartedIt) {
    // This process adopts the orphaned server, so that it can wait for it.
    ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    struct Cleanup {
        pid_t helper = -1;
        ~Cleanup() {
            if (helper > 0) {
                kill(helper, SIGKILL);
                waitpid(helper, nullptr, 0);
            }
            prctl(PR_SET_CHILD_SUBREAPER, 0);
        }
    } cleanup;
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    auto helper = testsupport::binaryDir() / "api_test_server_parent";
    std::string tmp = "TMPDIR=" + testsupport::makeTempDir("parent").string();
    std::vector<char*> env = {tmp.data()};
    for (char** variable = environ; *variable; ++variable)
        env.push_back(*variable);
    env.push_back(nullptr);
    char* argv[] = {const_cast<char*>(helper.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    int spawned = posix_spawn(&cleanup.helper, helper.c_str(), &actions, nullptr, argv, env.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0)
        cleanup.helper = -1;
    ASSERT_EQ(spawned, 0);
    std::string line;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    close(out[0]);
    ASSERT_EQ(line.rfind("SERVER ", 0), 0u) << line;
    pid_t serverPid = std::stoi(line.substr(7));

    kill(cleanup.helper, SIGKILL);
    waitpid(cleanup.helper, nullptr, 0);
    cleanup.helper = -1;
    int status = 0;
    bool ended = testsupport::eventually([&] { return waitpid(serverPid, &status, WNOHANG) == serverPid; },
                                         std::chrono::seconds(30));
    if (!ended) {
        kill(serverPid, SIGKILL);
        waitpid(serverPid, nullptr, 0);
    }
    ASSERT_TRUE(ended) << "the server outlived the process that started it";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
}
