// The app's XPC client against the real relay program and a token peer on the relay protocol: registration,
// ready signal, the hash delivered to the handler, the answer delivered to the token (whole, also when the
// app disconnects at once and the relay is slow to read), the token's time-out as (xpc, "002"), and the relay
// absent or going away.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "Quorvane/core/ErrorCodeWrap.h"
#include "Quorvane/core/XPCClientLive.h"
#include "outside/Logger/LoggerClient.h"
#include "relay/testing/RelayTestSupport.h"

using namespace std::chrono_literals;
using platform::Bytes;
using relaytest::BrokelProcess;
using relaytest::countOf;
using relaytest::FakeToken;
using testsupport::eventually;
using Lines = std::vector<std::string>;

namespace {

const std::string instanceID = "WALLET_TOKEN_IDENTIFIER";

// The app's event loop is the client's XPC queue: waiting runs it.
void pumpFor(std::chrono::milliseconds duration) {
    eventually([] { return false; }, duration);
}

Bytes pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 31 + (i >> 8));
    return bytes;
}

struct Request {
    Bytes digest;
    std::string instanceID;
};

// What the signing flow does with the client: one exchange up to the sign request, then its answer.
class AppSide {
  public:
    XPCClientLive client;
    std::vector<Request> requests;
    std::vector<AppError> errors;

    void startExchange(bool withErrorHandler = true) {
        client.disconnect();
        client.connect();
        client.registerWithService();
        client.setSignatureRequestHandler([this](const Bytes& digest, const std::string& id) {
            requests.push_back({digest, id});
        });
        if (withErrorHandler)
            client.setCommunicationErrorHandler([this](const AppError& error) { errors.push_back(error); });
        client.sendAppIsReady();
    }
};

// The client's own log lines (the relay writes to its own log file).
Lines clientLines(const LogCapture& log) {
    Lines lines;
    for (const auto& line : log.lines())
        lines.push_back(std::string(line.level == LogLevel::error ? "error: " : "info: ") + line.message);
    return lines;
}

class XPCClientWithRelay : public ::testing::Test {
  protected:
    void SetUp() override {
        relay = std::make_unique<BrokelProcess>();
        token = std::make_shared<FakeToken>(tokenThread.reactor());
        token->connectAndRegister();
        ASSERT_TRUE(relay->waitForMessage("info: Endpoint received for token"));
    }

    bool relayLogged(const std::string& message, std::size_t count = 1) {
        return eventually([&] { return countOf(relay->messages(), message) >= count; });
    }

    // Runs an exchange until the token's hash has reached the app's handler.
    void exchangeUntilRequest(const Bytes& digest, bool withErrorHandler = true) {
        std::size_t before = app.requests.size();
        int ready = token->readySignals();
        app.startExchange(withErrorHandler);
        ASSERT_TRUE(eventually([&] { return token->readySignals() > ready; }));
        token->sendHash(digest, instanceID);
        ASSERT_TRUE(eventually([&] { return app.requests.size() > before; }));
        EXPECT_EQ(app.requests.back().digest, digest);
        EXPECT_EQ(app.requests.back().instanceID, instanceID);
    }

    LogCapture log;
    xpc::ReactorThread tokenThread;
    std::unique_ptr<BrokelProcess> relay;
    std::shared_ptr<FakeToken> token;
    AppSide app;
};

TEST_F(XPCClientWithRelay, RegistersAsAppAndAnswersEachExchangeWithTheSignature) {
    // The client is reused for every exchange.
    for (std::uint8_t round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        if (round > 1)
            token->connectAndRegister();  // a token registers for each request; the relay let the last one go
        Bytes digest = pattern(32, round);
        exchangeUntilRequest(digest);
        EXPECT_TRUE(relayLogged("info: Endpoint received for app", round));

        Bytes signature = pattern(64, static_cast<std::uint8_t>(round + 100));
        app.client.sendSignature(signature);
        EXPECT_FALSE(app.client.isConnected());
        EXPECT_FALSE(app.client.isListening());
        EXPECT_FALSE(app.client.hasSignatureRequestHandler());
        EXPECT_TRUE(app.client.hasCommunicationErrorHandler());

        ASSERT_TRUE(eventually([&] { return token->signatures().size() >= round; }));
        EXPECT_EQ(token->signatures().back(), signature);
        EXPECT_TRUE(relayLogged("info: XPC signature exchange completed with success", round));
    }
    EXPECT_EQ(app.requests.size(), 2u);
    EXPECT_TRUE(app.errors.empty());
    EXPECT_EQ(token->failures(), 0);
    EXPECT_EQ(clientLines(log), Lines{});
}

TEST_F(XPCClientWithRelay, SignatureReachesTheTokenWholeWhenTheRelayReadsItOnlyAfterTheAppDisconnected) {
    exchangeUntilRequest(pattern(48, 7));
    // While the relay is stopped the signature cannot all be written; the client has disconnected by then.
    Bytes signature = pattern(250'000, 9);
    ASSERT_EQ(::kill(relay->pid(), SIGSTOP), 0);
    struct Continue {
        pid_t pid;
        ~Continue() { ::kill(pid, SIGCONT); }
    } resumeRelay{relay->pid()};
    app.client.sendSignature(signature);
    EXPECT_FALSE(app.client.isConnected());
    pumpFor(300ms);
    ASSERT_EQ(::kill(relay->pid(), SIGCONT), 0);

    ASSERT_TRUE(eventually([&] { return !token->signatures().empty(); }, 10s));
    EXPECT_EQ(token->signatures().front(), signature);
    EXPECT_EQ(clientLines(log), Lines{});
}

TEST_F(XPCClientWithRelay, CancellingSendsTheFailureToTheToken) {
    exchangeUntilRequest(pattern(32, 3));
    app.client.cancelTokenCommunication();
    EXPECT_FALSE(app.client.isConnected());
    EXPECT_FALSE(app.client.hasSignatureRequestHandler());

    ASSERT_TRUE(eventually([&] { return token->failures() == 1; }));
    EXPECT_TRUE(relayLogged("info: XPC signature exchange failed"));
    EXPECT_TRUE(token->signatures().empty());
    EXPECT_EQ(clientLines(log), Lines{"error: XPC client: cancelling token communication"});
}

TEST_F(XPCClientWithRelay, TokenTimeoutReachesTheAppAsXpc002AndDisconnects) {
    exchangeUntilRequest(pattern(32, 5));
    token->sendTimeout();
    ASSERT_TRUE(eventually([&] { return !app.errors.empty(); }));
    ASSERT_EQ(app.errors.size(), 1u);
    const AppError& error = app.errors.front();
    EXPECT_EQ(error.category, ErrorCodeCategory::xpc);
    EXPECT_FALSE(error.sourceFlow.has_value());
    EXPECT_EQ(error.code, "002");
    EXPECT_EQ(error.message, "Signature creation has timed out.");
    EXPECT_FALSE(error.apiError.has_value());
    EXPECT_EQ(
        ErrorCodeWrap::errorText(error, nullptr).rfind("7002: Signature creation has timed out.\n\n", 0), 0u);

    EXPECT_FALSE(app.client.isConnected());
    EXPECT_FALSE(app.client.isListening());
    EXPECT_TRUE(app.client.hasCommunicationErrorHandler());
    // The app is gone from the relay: a late hash finds no app and reaches no handler.
    ASSERT_TRUE(relayLogged("info: Cleaning up connection for app"));
    token->sendHash(pattern(32, 6), instanceID);
    EXPECT_TRUE(relayLogged("error: Cannot sign hash, app connection not found"));
    EXPECT_EQ(app.requests.size(), 1u);
    EXPECT_EQ(clientLines(log), Lines{});
}

TEST_F(XPCClientWithRelay, TokenTimeoutWithoutAnErrorHandlerStillDisconnects) {
    exchangeUntilRequest(pattern(32, 8), /*withErrorHandler=*/false);
    token->sendTimeout();
    ASSERT_TRUE(eventually([&] { return !app.client.isConnected(); }));
    EXPECT_FALSE(app.client.isListening());
    EXPECT_FALSE(app.client.hasSignatureRequestHandler());
    EXPECT_TRUE(app.errors.empty());
}

TEST_F(XPCClientWithRelay, HandlersMayEndTheExchangeFromInsideTheRelaysMessage) {
    // The signing flow may answer, or cancel on the time-out, before the message that asked returns.
    Bytes signature = pattern(64, 42);
    int ready = token->readySignals();
    app.client.disconnect();
    app.client.connect();
    app.client.registerWithService();
    app.client.setSignatureRequestHandler(
        [this, signature](const Bytes&, const std::string&) { app.client.sendSignature(signature); });
    app.client.sendAppIsReady();
    ASSERT_TRUE(eventually([&] { return token->readySignals() > ready; }));
    token->sendHash(pattern(32, 1), instanceID);
    ASSERT_TRUE(eventually([&] { return !token->signatures().empty(); }));
    EXPECT_EQ(token->signatures().front(), signature);
    EXPECT_FALSE(app.client.isConnected());

    ready = token->readySignals();
    token->connectAndRegister();  // a token registers for each request; the relay let the last one go
    app.client.connect();
    app.client.registerWithService();
    app.client.setCommunicationErrorHandler(
        [this](const AppError&) { app.client.cancelTokenCommunication(); });
    app.client.sendAppIsReady();
    ASSERT_TRUE(eventually([&] { return token->readySignals() > ready; }));
    token->sendTimeout();
    ASSERT_TRUE(eventually([&] { return token->failures() == 1; }));
    EXPECT_FALSE(app.client.isConnected());
    EXPECT_FALSE(app.client.isListening());
    pumpFor(100ms);
    EXPECT_EQ(clientLines(log), Lines{"error: XPC client: cancelling token communication"});
}

// The signing flow may drop its client in the middle of an exchange: the relay's connection back to the app
// is then still open and work for it is still queued on the event loop. Dropping closes it all and leaves
// nothing on the loop that refers to the client.
TEST_F(XPCClientWithRelay, ClientDroppedInTheMiddleOfAnExchangeClosesEverything) {
    auto client = std::make_unique<XPCClientLive>();
    int requests = 0;
    int ready = token->readySignals();
    client->connect();
    client->registerWithService();
    client->setSignatureRequestHandler([&](const Bytes&, const std::string&) { ++requests; });
    client->sendAppIsReady();
    ASSERT_TRUE(eventually([&] { return token->readySignals() > ready; }));
    token->sendHash(pattern(32, 2), instanceID);
    ASSERT_TRUE(eventually([&] { return requests == 1; }));
    client->sendAppIsReady();  // queued, not yet written

    client.reset();
    pumpFor(100ms);
    EXPECT_TRUE(relayLogged("info: Cleaning up connection for app"));
    EXPECT_EQ(clientLines(log), Lines{});
}

TEST_F(XPCClientWithRelay, RelayGoingAwayIsLoggedAsAnInterruption) {
    app.startExchange();
    ASSERT_TRUE(relayLogged("info: Endpoint received for app"));
    relay.reset();  // kills and reaps it
    ASSERT_TRUE(eventually([&] { return !clientLines(log).empty(); }));
    pumpFor(100ms);
    EXPECT_EQ(clientLines(log), Lines{"error: XPC client: XPC connection interrupted"});
    EXPECT_TRUE(app.requests.empty());
    app.client.disconnect();
}

TEST(XPCClientWithoutRelay, MessagesAreLostAndTheConnectionIsInvalidatedAtOnce) {
    // No listener and no launch agent registered for the service (the test's own XDG folders).
    LogCapture log;
    AppSide app;
    app.startExchange();
    EXPECT_TRUE(app.client.isConnected());
    ASSERT_TRUE(eventually([&] { return !clientLines(log).empty(); }));
    pumpFor(100ms);
    EXPECT_EQ(clientLines(log), Lines{"error: XPC client: XPC connection invalidated"});
    EXPECT_TRUE(app.requests.empty());
    EXPECT_TRUE(app.errors.empty());
    // The signing flow's own time-out ends the exchange.
    app.client.cancelTokenCommunication();
    EXPECT_FALSE(app.client.isConnected());
    EXPECT_FALSE(app.client.isListening());
}

TEST(XPCClientDisconnected, OperationsWithoutAConnectionLogAndChangeNothingElse) {
    struct Case {
        const char* name;
        std::function<void(XPCClientLive&)> operation;
        Lines lines;
        bool keepsSignatureRequestHandler;
    };
    const std::vector<Case> cases = {
        {"sendSignature",
         [](XPCClientLive& c) {
             c.sendSignature(Bytes{1, 2, 3});
         },
         {"error: XPC client: can't send ready signal, no valid proxy object"},
         true},
        {"registerWithService",
         [](XPCClientLive& c) { c.registerWithService(); },
         {"error: XPC client: can't register to service, no valid object proxy"},
         true},
        {"sendAppIsReady",
         [](XPCClientLive& c) { c.sendAppIsReady(); },
         {"error: XPC client: can't send ready signal, no valid proxy object"},
         true},
        {"cancelTokenCommunication",
         [](XPCClientLive& c) { c.cancelTokenCommunication(); },
         {"error: XPC client: cancelling token communication"},
         false},
        {"disconnect", [](XPCClientLive& c) { c.disconnect(); }, {}, false},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.name);
        LogCapture log;
        XPCClientLive client;
        client.setSignatureRequestHandler([](const Bytes&, const std::string&) {});
        client.setCommunicationErrorHandler([](const AppError&) {});
        item.operation(client);
        pumpFor(20ms);
        EXPECT_EQ(clientLines(log), item.lines);
        EXPECT_FALSE(client.isConnected());
        EXPECT_FALSE(client.isListening());
        EXPECT_EQ(client.hasSignatureRequestHandler(), item.keepsSignatureRequestHandler);
        EXPECT_TRUE(client.hasCommunicationErrorHandler());
    }
}

}  // namespace
