// The token's relay client and session against the real relay (or none): deadlines, retries, the relay
// started on demand, answers that are not this request's, a token displaced by another, and the one error of
// the session.
#include <gtest/gtest.h>
#include <openssl/ec.h>

#include <atomic>
#include <fstream>
#include <future>
#include <thread>

#include "outside/Logger/LoggerClient.h"
#include "platform/LaunchAgent.h"
#include "platform/Workspace.h"
#include "platform/testing/TestEnvironment.h"
#include "relay/testing/RelayTestSupport.h"
#include "relay/token/QuorvaneToken.h"
#include "relay/token/XPCClientLive.h"

using namespace relaytest;
using pellin::Timeouts;
using pellin::XPCClientLive;

namespace {

// The real waits divided by 50 (30 s -> 0.6 s, 300 s -> 6 s, 1 s -> 20 ms), but a validation wait long enough
// for a refused connection to be seen as invalidated within it.
Timeouts fastTimeouts() {
    Timeouts timeouts = Timeouts::scaled(0.1);  // 30 s for the app to be ready become 3 s
    timeouts.validation = pellin::Duration(0.03);
    return timeouts;
}

std::shared_ptr<EVP_PKEY> newKey() {
    return std::shared_ptr<EVP_PKEY>(EVP_EC_gen("P-256"), EVP_PKEY_free);
}

std::vector<std::string> tokenMessages(const LogCapture& capture) {
    std::vector<std::string> messages;
    for (const auto& line : capture.lines())
        if (line.logID == "token")
            messages.push_back((line.level == LogLevel::error ? "error: " : "info: ") + line.message);
    return messages;
}

class TokenClient : public ::testing::Test {
  protected:
    xpc::ReactorThread thread;
    LogCapture capture;
    platform::WorkspaceRecorder workspace;
    std::shared_ptr<EVP_PKEY> key = newKey();
    std::shared_ptr<FakeApp> app = std::make_shared<FakeApp>(thread.reactor(), key);

    void TearDown() override {
        app->disconnect();
        thread.runSync([] {});
    }

    std::optional<Bytes> request(const Bytes& digest, Timeouts timeouts = fastTimeouts()) {
        XPCClientLive client(LoggerClient("token"), timeouts);
        return client.requestSignature(digest, "CARD-7");
    }
};

}  // namespace

TEST_F(TokenClient, WithoutARelayItRetriesUntilTheDeadline) {
    Timeouts timeouts = fastTimeouts();
    timeouts.appReady = pellin::Duration(2.0);  // with a retry every 0.1 + 0.03 s
    auto result = request(Bytes(32, 1), timeouts);
    EXPECT_FALSE(result);
    auto lines = tokenMessages(capture);
    EXPECT_TRUE(containsInOrder(
        lines,
        {"info: --------------- New signing request ---------------", "info: Opening UI tool in sign mode",
         "info: Waiting for XPC connection validation", "info: Attempting XPC connection",
         "error: XPC connection invalidated", "info: Re-attempting XPC connection after 1 second",
         "info: Could not validate connection, it was invalidated in the meantime",
         "info: Attempting XPC connection", "error: XPC connection invalidated"}));
    // About one attempt per 1.1 s (scaled) within the 30 s (scaled).
    EXPECT_GE(countOf(lines, "info: Attempting XPC connection"), 5u);
    EXPECT_LE(countOf(lines, "info: Attempting XPC connection"), 40u);
    EXPECT_EQ(lines.back(), "error: Process timed out and will be interrupted");
    EXPECT_EQ(countOf(lines, "error: Signature request timed out"), 0u);
    EXPECT_EQ(workspace.openedURLs(), std::vector<std::string>{"quorvane://sign"});
}

TEST_F(TokenClient, SignsThroughTheRelayWhicheverSideRegistersFirst) {
    BrokelProcess brokel;
    // App first: the ready signal waits in the relay.
    app->connectAndRegister();
    ASSERT_TRUE(brokel.waitForMessage("info: App is ready signal buffered until token client connects"));
    Bytes digest(32, 2);
    auto signature = request(digest);
    ASSERT_TRUE(signature);
    EXPECT_TRUE(verifies(key.get(), digest, *signature));
    ASSERT_EQ(app->requests().size(), 1u);
    EXPECT_EQ(app->requests()[0].instanceID, "CARD-7");
    EXPECT_EQ(app->requests()[0].hash, digest);
    EXPECT_TRUE(
        containsInOrder(tokenMessages(capture),
                        {"info: XPC connection validated", "info: Registering to XPC service as token client",
                         "info: Waiting for UI tool ready signal", "info: Received UI tool ready signal",
                         "info: Sending sign request to XPC service and waiting for signature",
                         "info: Received UI tool signature"}));

    // Token first: the app comes when the deep link has been opened.
    auto pending = std::async(std::launch::async, [&] { return request(Bytes(48, 3)); });
    ASSERT_TRUE(brokel.waitForMessage("info: No app ready signal buffered, doing nothing"));
    EXPECT_EQ(countOf(brokel.messages(), "info: Found buffered app ready signal, sending it to token"), 1u);
    app->connectAndRegister();
    auto second = pending.get();
    ASSERT_TRUE(second);
    EXPECT_TRUE(verifies(key.get(), Bytes(48, 3), *second));
    EXPECT_EQ(app->requests().size(), 2u);
}

TEST_F(TokenClient, AppThatNeverGetsReadyEndsTheRequestWithoutTellingTheRelay) {
    BrokelProcess brokel;
    app->connectAndRegister(false);
    EXPECT_FALSE(request(Bytes(32, 4)));
    auto lines = tokenMessages(capture);
    EXPECT_EQ(lines.back(), "error: Process timed out and will be interrupted");
    EXPECT_EQ(countOf(lines, "error: Signature request timed out"), 0u);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(app->timeouts(), 0);
    EXPECT_TRUE(app->requests().empty());
}

// The relay goes away while the token waits for the ready signal: the request ends at once, also when the
// relay had not yet connected back to the token's listener (a relay that takes the registration and never
// connects back stands for that moment).
TEST_F(TokenClient, RelayLostAfterValidationEndsTheRequestAtOnceWithoutRetrying) {
    class SilentRelay : public relay::XPCService {
      public:
        std::atomic<int> registrations{0};
        void registerFor(const xpc::Endpoint&, std::int64_t) override { ++registrations; }
        void sendAppIsReadySignal() override {}
        void sendSignHashRequest(const Bytes&, const std::string&) override {}
        void sendSignRequestTimeout() override {}
        void sendSignatureReadySignal(const Bytes&) override {}
        void sendSignatureFailureSignal() override {}
    };
    struct Case {
        const char* name;
        bool connectsBack;
    };
    for (auto c : {Case{"the relay process ends", true}, Case{"before it connected back", false}}) {
        SCOPED_TRACE(c.name);
        capture.clear();
        std::unique_ptr<BrokelProcess> brokel;
        auto silent = std::make_shared<SilentRelay>();
        std::shared_ptr<xpc::Listener> listener;
        if (c.connectsBack) {
            brokel = std::make_unique<BrokelProcess>();
        } else {
            listener = xpc::Listener::forService(thread.reactor(), relay::machServiceName);
            listener->setDelegate([silent](const std::shared_ptr<xpc::Connection>& connection) {
                relay::exportObject(*connection, std::weak_ptr<relay::XPCService>(silent));
                connection->resume();
                return true;
            });
            listener->resume();
        }
        Timeouts timeouts = fastTimeouts();
        timeouts.appReady = pellin::Duration(120.0);
        auto pending = std::async(std::launch::async, [&] { return request(Bytes(32, 10), timeouts); });
        if (c.connectsBack) {
            ASSERT_TRUE(brokel->waitForMessage("info: No app ready signal buffered, doing nothing"));
            brokel.reset();
        } else {
            ASSERT_TRUE(eventually([&] { return silent->registrations == 1; }));
            listener->invalidate();  // closes the token's connection to it
        }
        ASSERT_EQ(pending.wait_for(30s), std::future_status::ready);  // far from its deadline
        EXPECT_FALSE(pending.get());
        auto lines = tokenMessages(capture);
        EXPECT_TRUE(containsInOrder(
            lines, {"info: XPC connection validated", "info: Waiting for UI tool ready signal",
                    "error: XPC service closed the token connection, the signing request ends"}));
        EXPECT_EQ(countOf(lines, "error: XPC service closed the token connection, the signing request ends"),
                  1u);
        EXPECT_EQ(countOf(lines, "error: Process timed out and will be interrupted"), 0u);
        EXPECT_EQ(countOf(lines, "info: Attempting XPC connection"), 1u);
        EXPECT_EQ(countOf(lines, "info: Re-attempting XPC connection after 1 second"), 0u);
    }
}

// An answer that reaches the token before it sent its hash belongs to another exchange (one that ended by a
// time-out, say): it is ignored, and the request goes on to get its own signature.
TEST_F(TokenClient, AnswerThatComesBeforeTheHashIsIgnored) {
    BrokelProcess brokel;
    struct Case {
        bool signature;
        std::string logLine;
    };
    for (const auto& c :
         {Case{true, "error: Ignored a signature that came before this request sent its hash"},
          Case{false, "error: Ignored a failure signal that came before this request sent its hash"}}) {
        capture.clear();
        auto peer = std::make_shared<FakeApp>(thread.reactor(), key);
        auto registered = countOf(brokel.messages(), "info: No app ready signal buffered, doing nothing");
        Bytes digest(32, c.signature ? 11 : 12);
        auto pending = std::async(std::launch::async, [&] { return request(digest); });
        ASSERT_TRUE(
            brokel.waitForMessage("info: No app ready signal buffered, doing nothing", registered + 1));

        peer->connectAndRegister(false);
        if (c.signature)
            peer->sendSignature(FakeApp::sign(key.get(), Bytes(32, 13)));
        else
            peer->sendFailure();
        peer->sendReady();
        auto signature = pending.get();
        ASSERT_TRUE(signature) << c.logLine;
        EXPECT_TRUE(verifies(key.get(), digest, *signature));
        ASSERT_EQ(peer->requests().size(), 1u);
        EXPECT_EQ(peer->requests()[0].hash, digest);
        EXPECT_TRUE(containsInOrder(tokenMessages(capture), {"info: Waiting for UI tool ready signal",
                                                             c.logLine, "info: Received UI tool ready signal",
                                                             "info: Received UI tool signature"}));
        peer->disconnect();
    }
}

// The relay keeps one token: a token that registers later takes the place, and the earlier one learns it at
// once from its connection. The app's ready signal then goes to the newer token only.
TEST_F(TokenClient, DisplacedTokenEndsAtOnceAndNeverSendsItsHash) {
    BrokelProcess brokel;
    Timeouts timeouts = fastTimeouts();
    timeouts.appReady = pellin::Duration(120.0);
    auto pending = std::async(std::launch::async, [&] { return request(Bytes(32, 14), timeouts); });
    ASSERT_TRUE(brokel.waitForMessage("info: No app ready signal buffered, doing nothing"));
    auto newer = std::make_shared<FakeToken>(thread.reactor());
    newer->connectAndRegister();
    ASSERT_EQ(pending.wait_for(30s), std::future_status::ready);  // far from its deadline
    EXPECT_FALSE(pending.get());
    EXPECT_EQ(tokenMessages(capture).back(),
              "error: XPC service closed the token connection, the signing request ends");

    app->connectAndRegister();
    EXPECT_TRUE(newer->waitForReady(1));
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(app->requests().empty());
    newer->disconnect();
}

TEST_F(TokenClient, SignatureTimeOutIsReportedToTheApp) {
    BrokelProcess brokel;
    app->setAnswer(FakeApp::Answer::none);
    app->connectAndRegister();
    Timeouts timeouts = fastTimeouts();
    timeouts.signature = pellin::Duration(0.3);
    EXPECT_FALSE(request(Bytes(32, 5), timeouts));
    EXPECT_TRUE(app->waitForTimeouts(1));
    EXPECT_TRUE(containsInOrder(tokenMessages(capture), {"error: Process timed out and will be interrupted",
                                                         "error: Signature request timed out"}));
}

TEST_F(TokenClient, FailureSignalEndsTheRequestAtOnce) {
    BrokelProcess brokel;
    app->setAnswer(FakeApp::Answer::failure);
    app->connectAndRegister();
    Timeouts timeouts = fastTimeouts();
    timeouts.signature = pellin::Duration(120.0);
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(request(Bytes(32, 6), timeouts));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 60s);  // far from the signature deadline
    auto lines = tokenMessages(capture);
    EXPECT_EQ(lines.back(), "error: Received signature failure signal from UI tool");
    EXPECT_EQ(app->timeouts(), 0);
}

TEST_F(TokenClient, RegisteredRelayIsStartedOnDemand) {
    auto folder = testsupport::makeTempDir("agents");
    auto log = folder / "brokel_std.txt";
    std::ofstream(folder / relay::launchAgentPlistName)
        << R"({"Label":"com.tovik.kelv-pc-signing-macos.brokel","Program":")"
        << (testsupport::binaryDir() / "brokel").native()
        << R"(","MachServices":{"com.tovik.kelv-pc-signing-macos.brokel":true},"StandardOutPath":")"
        << log.native() << "\"}";
    platform::LaunchAgent agent(relay::launchAgentPlistName, folder,
                                platform::LaunchAgent::defaultRegistryPath());
    agent.registerAgent();
    ::setenv("QUORVANE_BROKEL_LOG_PATH", log.c_str(), 1);

    auto pending =
        std::async(std::launch::async, [&] { return request(Bytes(32, 7), Timeouts::scaled(0.1)); });
    ASSERT_TRUE(
        eventually([&] { return countOf(logMessages(readFile(log)), "info: Listener resumed") == 1; }));
    app->connectAndRegister();
    auto signature = pending.get();
    agent.unregisterAgent();  // ends the relay it started

    ASSERT_TRUE(signature);
    EXPECT_TRUE(verifies(key.get(), Bytes(32, 7), *signature));
    EXPECT_EQ(countOf(logMessages(readFile(log)),
                      "info: *************** New XPC server process started ***************"),
              1u);
}

TEST(TokenSession, SupportsOnlySigningWithTheThreeECDSADigestAlgorithms) {
    pellin::QuorvaneTokenDriver driver;
    auto session = driver.tokenForConfiguration(std::nullopt)->createSession();
    using pellin::TokenOperation;
    namespace alg = pellin::algorithms;
    struct Case {
        TokenOperation operation;
        const char* algorithm;
        bool supported;
    };
    for (auto c : {Case{TokenOperation::signData, alg::ecdsaSignatureDigestX962SHA256, true},
                   Case{TokenOperation::signData, alg::ecdsaSignatureDigestX962SHA384, true},
                   Case{TokenOperation::signData, alg::ecdsaSignatureDigestX962SHA512, true},
                   Case{TokenOperation::signData, alg::rsaSignatureDigestPKCS1v15SHA256, false},
                   Case{TokenOperation::signData, "algid:sign:ECDSA:message-X962:SHA256", false},
                   Case{TokenOperation::decryptData, alg::ecdsaSignatureDigestX962SHA256, false},
                   Case{TokenOperation::performKeyExchange, alg::ecdsaSignatureDigestX962SHA256, false},
                   Case{TokenOperation::none, alg::ecdsaSignatureDigestX962SHA256, false}})
        EXPECT_EQ(session->supportsOperation(c.operation, "key", c.algorithm), c.supported) << c.algorithm;
}

TEST(TokenSession, TokenTakesTheConfigurationsInstanceID) {
    pellin::QuorvaneTokenDriver driver;
    EXPECT_EQ(driver.tokenForConfiguration(std::nullopt)->instanceID(), "");
    EXPECT_EQ(driver.tokenForConfiguration(platform::tokens::TokenConfiguration{"CARD", {}})->instanceID(),
              "CARD");
}

TEST_F(TokenClient, SessionFailsWithTheTokenErrorForFailureAndEmptySignature) {
    BrokelProcess brokel;
    pellin::QuorvaneTokenDriver driver(fastTimeouts());
    auto token = driver.tokenForConfiguration(platform::tokens::TokenConfiguration{"CARD-9", {}});
    pellin::QuorvaneTokenSession session(token);
    for (auto answer : {FakeApp::Answer::failure, FakeApp::Answer::empty}) {
        auto peer = std::make_shared<FakeApp>(thread.reactor(), key);
        peer->setAnswer(answer);
        peer->connectAndRegister();
        try {
            session.signData(Bytes(32, 8), "CARD-9", pellin::algorithms::ecdsaSignatureDigestX962SHA256);
            FAIL() << "no error";
        } catch (const pellin::TokenError& error) {
            EXPECT_EQ(error.code(), -5);
            EXPECT_STREQ(error.what(), "Could not retrieve signature because");
            EXPECT_STREQ(pellin::TokenError::domain, "TKErrorDomain");
        }
        ASSERT_EQ(peer->requests().size(), 1u);
        EXPECT_EQ(peer->requests()[0].instanceID, "CARD-9");
        EXPECT_EQ(tokenMessages(capture).back(), "error: Error fetching signature");
    }
    app->connectAndRegister();
    auto signature =
        session.signData(Bytes(64, 9), "CARD-9", pellin::algorithms::ecdsaSignatureDigestX962SHA512);
    EXPECT_TRUE(verifies(key.get(), Bytes(64, 9), signature));  // passed on as the app sent it (DER)
    EXPECT_EQ(tokenMessages(capture).back(), "info: Returning signature");
}
