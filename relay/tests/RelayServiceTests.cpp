// Brokel as a real process between fake app and token peers: start sequence, both registration orders, the
// buffered ready signal, forwarding, the "not found" rules and the replaced connection.
#include <gtest/gtest.h>
#include <openssl/ec.h>

#include <fstream>
#include <regex>
#include <thread>

#include "platform/testing/TestEnvironment.h"
#include "relay/testing/RelayTestSupport.h"

using namespace relaytest;

namespace {

class RelayProcess : public ::testing::Test {
  protected:
    xpc::ReactorThread thread;
    std::unique_ptr<BrokelProcess> brokel;
    std::shared_ptr<FakeApp> app;
    std::shared_ptr<FakeToken> token = std::make_shared<FakeToken>(thread.reactor());

    void SetUp() override {
        FakeOpener::shared().clear();
        brokel = std::make_unique<BrokelProcess>();
        ASSERT_FALSE(brokel->messages().empty());
        key = testKey();
        app = std::make_shared<FakeApp>(thread.reactor(), key);
    }
    void TearDown() override {
        app->disconnect();
        token->disconnect();
        thread.runSync([] {});
        brokel.reset();
    }

    static std::shared_ptr<EVP_PKEY> testKey() {
        EVP_PKEY* key = EVP_EC_gen("P-256");
        return std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
    }

    std::vector<std::string> messages() const { return brokel->messages(); }
    std::shared_ptr<EVP_PKEY> key;
};

}  // namespace

TEST_F(RelayProcess, StartSequenceOpensTheAppAndLogsEachStep) {
    auto lines = messages();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 4),
              (std::vector<std::string>{
                  "info: *************** New XPC server process started ***************",
                  "info: Delegate created", "info: Listener created", "info: Listener resumed"}));
    std::string firstLine = readFile(brokel->logPath()).substr(0, readFile(brokel->logPath()).find('\n'));
    EXPECT_TRUE(std::regex_match(
        firstLine,
        std::regex(
            R"(\d{1,2}/\d{1,2}/\d\d, \d{1,2}:\d\d:\d\d [AP]M - info: \*+ New XPC server process started \*+)")))
        << firstLine;
    EXPECT_TRUE(
        eventually([] { return FakeOpener::shared().urls() == std::vector<std::string>{"quorvane://"}; }));

    // A second relay finds the name taken and leaves.
    BrokelProcess second(BrokelProcess::Options{0.05, {}, false});
    EXPECT_EQ(second.waitForExit(), 1);
}

TEST_F(RelayProcess, TokenFirstThenAppExchangesHashAndSignature) {
    token->connectAndRegister();
    ASSERT_TRUE(brokel->waitForMessage("info: No app ready signal buffered, doing nothing"));
    app->connectAndRegister();
    ASSERT_TRUE(token->waitForReady(1));

    Bytes hash(32, 0xAB);
    token->sendHash(hash, "CARD-1");
    ASSERT_TRUE(app->waitForRequests(1));
    EXPECT_EQ(app->requests()[0].hash, hash);
    EXPECT_EQ(app->requests()[0].instanceID, "CARD-1");
    ASSERT_TRUE(token->waitForSignatures(1));
    EXPECT_TRUE(verifies(key.get(), hash, token->signatures()[0]));
    ASSERT_TRUE(brokel->waitForMessage("info: Cleaning up connection for app"));

    EXPECT_TRUE(containsInOrder(
        messages(), {
                        "info: --------------- XPC signature exhange start detected ---------------",
                        "info: Endpoint received for token",
                        "info: No app ready signal buffered, doing nothing",
                        "info: Endpoint received for app",
                        "info: XPC signature exchange completed with success",
                        "info: Cleaning up connection for app",
                    }));
    EXPECT_EQ(countOf(messages(), "info: App is ready signal buffered until token client connects"), 0u);

    // The exchange is over: the next registration starts a new one.
    app->connectAndRegister(false);
    EXPECT_TRUE(brokel->waitForMessage(
        "info: --------------- XPC signature exhange start detected ---------------", 2));
}

TEST_F(RelayProcess, AppFirstReadySignalIsBufferedUntilTheTokenRegisters) {
    app->connectAndRegister();
    ASSERT_TRUE(brokel->waitForMessage("info: App is ready signal buffered until token client connects"));
    token->connectAndRegister();
    ASSERT_TRUE(token->waitForReady(1));
    EXPECT_TRUE(containsInOrder(
        messages(),
        {"info: Endpoint received for app", "info: App is ready signal buffered until token client connects",
         "info: Endpoint received for token", "info: Found buffered app ready signal, sending it to token"}));
    // The buffered signal is used up.
    token->disconnect();
    auto second = std::make_shared<FakeToken>(thread.reactor());
    second->connectAndRegister();
    EXPECT_TRUE(brokel->waitForMessage("info: No app ready signal buffered, doing nothing"));
    second->disconnect();
}

TEST_F(RelayProcess, ReadySignalOlderThanTheWindowIsDropped) {
    app->connectAndRegister();
    ASSERT_TRUE(brokel->waitForMessage("info: App is ready signal buffered until token client connects"));
    std::this_thread::sleep_for(2300ms);  // the 10 s window, scaled to 2 s
    token->connectAndRegister();
    ASSERT_TRUE(brokel->waitForMessage(
        "error: Cannot send buffered app ready signal, buffer allowed time is expired"));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(token->readySignals(), 0);
}

TEST_F(RelayProcess, ForwardsFailureAndTimeOut) {
    token->connectAndRegister();
    app->setAnswer(FakeApp::Answer::failure);
    app->connectAndRegister();
    ASSERT_TRUE(token->waitForReady(1));
    token->sendHash(Bytes(48, 1), "WALLET_TOKEN_IDENTIFIER");
    ASSERT_TRUE(token->waitForFailures(1));
    EXPECT_TRUE(brokel->waitForMessage("info: XPC signature exchange failed"));

    auto patient = std::make_shared<FakeApp>(thread.reactor(), key);
    patient->setAnswer(FakeApp::Answer::none);
    patient->connectAndRegister();
    // Messages on different connections are not ordered: wait until the relay holds the new app.
    ASSERT_TRUE(brokel->waitForMessage("info: Endpoint received for app", 2));
    token->sendHash(Bytes(32, 2), "X");
    ASSERT_TRUE(patient->waitForRequests(1));
    token->sendTimeout();
    EXPECT_TRUE(patient->waitForTimeouts(1));
    patient->disconnect();

    // A time-out does not end the exchange for the relay: the next registration logs no start line.
    const std::string start = "info: --------------- XPC signature exhange start detected ---------------";
    ASSERT_EQ(countOf(messages(), start), 2u);
    app->connectAndRegister(false);
    ASSERT_TRUE(brokel->waitForMessage("info: Endpoint received for app", 3));
    EXPECT_EQ(countOf(messages(), start), 2u);
}

TEST_F(RelayProcess, MessagesForMissingPeersAreLoggedAndDropped) {
    // A registration starts the exchange; with a role outside the protocol it leaves no connection behind.
    app->connectAndRegister(false, 7);
    ASSERT_TRUE(brokel->waitForMessage("info: Endpoint received for 7"));
    token->connect();  // sends without registering
    token->sendHash(Bytes(32, 3), "X");
    token->sendTimeout();
    app->sendSignature({1, 2});
    app->sendFailure();
    ASSERT_TRUE(
        brokel->waitForMessage("error: Cannot send signature failure signal, token connection not found"));
    ASSERT_TRUE(
        brokel->waitForMessage("error: Cannot send sign request timeout message, app connection not found"));
    auto lines = messages();
    EXPECT_EQ(countOf(lines, "error: Cannot sign hash, app connection not found"), 1u);
    EXPECT_EQ(countOf(lines, "error: Cannot send signature ready signal, token connection not found"), 1u);
    EXPECT_EQ(countOf(lines, "info: XPC signature exchange completed with success"), 0u);

    // Nothing was forwarded, so the exchange is still the same one: no new start line.
    app->connectAndRegister(false);
    ASSERT_TRUE(brokel->waitForMessage("info: Endpoint received for app"));
    EXPECT_EQ(
        countOf(messages(), "info: --------------- XPC signature exhange start detected ---------------"),
        1u);
}

TEST_F(RelayProcess, ReplacedConnectionNeverDropsTheNewestPeer) {
    auto first = std::make_shared<FakeApp>(thread.reactor(), key);
    first->connectAndRegister(false);
    ASSERT_TRUE(brokel->waitForMessage("info: Endpoint received for app"));
    app->connectAndRegister(false);
    ASSERT_TRUE(brokel->waitForMessage("info: Endpoint received for app", 2));
    // The replaced peer goes away late: its end must not clear the new app's connection.
    first->disconnect();
    std::this_thread::sleep_for(100ms);

    token->connectAndRegister();
    app->sendReady();
    ASSERT_TRUE(token->waitForReady(1));
    token->sendHash(Bytes(32, 4), "CARD");
    ASSERT_TRUE(app->waitForRequests(1));
    EXPECT_TRUE(first->requests().empty());
    EXPECT_TRUE(token->waitForSignatures(1));
    EXPECT_EQ(countOf(messages(), "error: Cannot sign hash, app connection not found"), 0u);
}

// Once a token's answer is forwarded the relay lets the token go: an app that registers again at once (before
// that token has closed) has its ready signal kept for the next token.
TEST_F(RelayProcess, TokenIsLetGoOnceItsAnswerIsForwarded) {
    token->connectAndRegister();
    app->connectAndRegister();
    ASSERT_TRUE(token->waitForReady(1));
    token->sendHash(Bytes(32, 5), "CARD");
    ASSERT_TRUE(token->waitForSignatures(1));
    ASSERT_TRUE(brokel->waitForMessage("info: Cleaning up connection for token"));
    EXPECT_TRUE(containsInOrder(messages(), {"info: XPC signature exchange completed with success",
                                             "info: Cleaning up connection for token"}));

    auto again = std::make_shared<FakeApp>(thread.reactor(), key);
    again->connectAndRegister();
    ASSERT_TRUE(brokel->waitForMessage("info: App is ready signal buffered until token client connects"));
    auto next = std::make_shared<FakeToken>(thread.reactor());
    next->connectAndRegister();
    EXPECT_TRUE(next->waitForReady(1));
    EXPECT_EQ(token->readySignals(), 1);
    next->disconnect();
    again->disconnect();
}

// An answer that comes before the token sent a hash is not that token's: the token keeps its place and still
// gets the ready signal.
TEST_F(RelayProcess, TokenWithoutAHashKeepsItsPlaceAfterAnAnswer) {
    token->connectAndRegister();
    ASSERT_TRUE(brokel->waitForMessage("info: No app ready signal buffered, doing nothing"));
    app->connectAndRegister(false);
    app->sendFailure();
    ASSERT_TRUE(token->waitForFailures(1));
    app->sendReady();
    EXPECT_TRUE(token->waitForReady(1));
    EXPECT_EQ(countOf(messages(), "info: Cleaning up connection for token"), 0u);
}

// An app that sent its ready signal and went before any token came: its signal goes with it. The next token
// gets the ready signal of the app that then comes, and its hash reaches that app.
TEST_F(RelayProcess, ReadySignalOfAnAppThatHasGoneIsForgotten) {
    auto gone = std::make_shared<FakeApp>(thread.reactor(), key);
    gone->connectAndRegister();
    ASSERT_TRUE(brokel->waitForMessage("info: App is ready signal buffered until token client connects"));
    gone->disconnect();
    ASSERT_TRUE(brokel->waitForMessage("info: Cleaning up connection for app"));

    token->connectAndRegister();
    ASSERT_TRUE(brokel->waitForMessage("info: No app ready signal buffered, doing nothing"));
    EXPECT_EQ(token->readySignals(), 0);
    app->connectAndRegister();
    ASSERT_TRUE(token->waitForReady(1));
    token->sendHash(Bytes(32, 6), "CARD");
    ASSERT_TRUE(app->waitForRequests(1));
    EXPECT_TRUE(token->waitForSignatures(1));
    EXPECT_EQ(countOf(messages(), "error: Cannot sign hash, app connection not found"), 0u);

    // A ready signal from an app the relay holds no connection to (its role was not the app's) is dropped.
    ASSERT_TRUE(brokel->waitForMessage("info: Cleaning up connection for app", 2));
    auto stray = std::make_shared<FakeApp>(thread.reactor(), key);
    stray->connectAndRegister(true, 7);
    ASSERT_TRUE(brokel->waitForMessage("error: App is ready signal dropped, app connection not found"));
    auto next = std::make_shared<FakeToken>(thread.reactor());
    next->connectAndRegister();
    EXPECT_TRUE(brokel->waitForMessage("info: No app ready signal buffered, doing nothing", 2));
    EXPECT_EQ(next->readySignals(), 0);
    stray->disconnect();
    next->disconnect();
}

// A hash that finds no app is answered at once with the failure signal, rather than left for the token to
// wait out; the token is let go.
TEST_F(RelayProcess, HashThatFindsNoAppIsAnsweredWithAFailureAtOnce) {
    token->connectAndRegister();
    ASSERT_TRUE(brokel->waitForMessage("info: No app ready signal buffered, doing nothing"));
    token->sendHash(Bytes(32, 7), "CARD");
    ASSERT_TRUE(token->waitForFailures(1));
    EXPECT_TRUE(containsInOrder(messages(), {"error: Cannot sign hash, app connection not found",
                                             "info: Cleaning up connection for token"}));

    // The relay serves the next exchange as ever.
    auto next = std::make_shared<FakeToken>(thread.reactor());
    next->connectAndRegister();
    app->connectAndRegister();
    ASSERT_TRUE(next->waitForReady(1));
    next->sendHash(Bytes(32, 8), "CARD");
    EXPECT_TRUE(next->waitForSignatures(1));
    EXPECT_EQ(token->signatures().size(), 0u);
    next->disconnect();
}

TEST_F(RelayProcess, RegistrationWithAnUnknownRoleIsLoggedAndIgnored) {
    app->connectAndRegister(false, 7);
    ASSERT_TRUE(brokel->waitForMessage("info: Endpoint received for 7"));
    token->connectAndRegister();
    app->connectAndRegister();
    EXPECT_TRUE(token->waitForReady(1));
}

TEST(RelayLogFile, OversizedLogIsEmptiedWhenTheRelayStarts) {
    auto log = testsupport::makeTempDir("brokel-big") / "brokel_std.txt";
    std::filesystem::resize_file((std::ofstream(log), log), 10485761);
    BrokelProcess brokel(BrokelProcess::Options{0.05, log, true});
    auto size = std::filesystem::file_size(log);
    EXPECT_LT(size, 1000u);
    EXPECT_EQ(brokel.messages().front(),
              "info: *************** New XPC server process started ***************");
}

// Messages carry no request id: an answer belongs to the app's registration that received the hash. A late
// answer of an app whose request was displaced reaches its own token, or nobody, never the newest token; a
// token displaced while it waits hears of its failure at once.
TEST_F(RelayProcess, EachAnswerReachesTheTokenWhoseHashTheAppHeld) {
    struct Case {
        const char* name;
        bool newTokenFirst;  // the new token registers before the displaced app answers
    };
    for (const auto& c :
         {Case{"the new token registers first", true}, Case{"the old app answers first", false}}) {
        SCOPED_TRACE(c.name);
        auto oldToken = std::make_shared<FakeToken>(thread.reactor());
        auto newToken = std::make_shared<FakeToken>(thread.reactor());
        auto oldApp = std::make_shared<FakeApp>(thread.reactor(), key);
        auto newApp = std::make_shared<FakeApp>(thread.reactor(), key);
        oldApp->setAnswer(FakeApp::Answer::none);
        oldToken->connectAndRegister();
        oldApp->connectAndRegister();
        ASSERT_TRUE(oldToken->waitForReady(1));
        oldToken->sendHash(Bytes(32, 9), "CARD");
        ASSERT_TRUE(oldApp->waitForRequests(1));

        // The next request: its app registers (its ready signal waits, the old token is busy).
        newApp->connectAndRegister();
        if (c.newTokenFirst) {
            newToken->connectAndRegister();
            ASSERT_TRUE(oldToken->waitForFailures(1)) << "displaced while it waited";
            ASSERT_TRUE(newToken->waitForReady(1));
            oldApp->sendFailure();
            ASSERT_TRUE(brokel->waitForMessage(
                "error: Cannot send signature failure signal, token connection not found"));
        } else {
            oldApp->sendFailure();
            ASSERT_TRUE(oldToken->waitForFailures(1));
            newToken->connectAndRegister();
            ASSERT_TRUE(newToken->waitForReady(1));
        }
        newToken->sendHash(Bytes(32, 10), "CARD");
        ASSERT_TRUE(newApp->waitForRequests(1));
        ASSERT_TRUE(newToken->waitForSignatures(1));
        EXPECT_TRUE(verifies(key.get(), Bytes(32, 10), newToken->signatures()[0]));
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(oldToken->failures(), 1);
        EXPECT_TRUE(oldToken->signatures().empty());
        EXPECT_EQ(oldToken->readySignals(), 1) << "the new app's ready signal is not the busy token's";
        EXPECT_EQ(newToken->failures(), 0);
        EXPECT_TRUE(oldApp->requests().size() == 1 && newApp->requests().size() == 1);
        for (auto* peer : {oldToken.get(), newToken.get()})
            peer->disconnect();
        oldApp->disconnect();
        newApp->disconnect();
        thread.runSync([] {});
    }
}
