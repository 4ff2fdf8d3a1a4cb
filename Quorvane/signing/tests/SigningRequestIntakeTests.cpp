// The signing request's intake on its own: a bulk request's checks (the token it names, a hash that is not
// exact Base64), and a request over XPC: the relay's handshake, then whatever ends the 30 s wait first.
#include <gtest/gtest.h>

#include "Quorvane/core/SigningSessionContext.h"
#include "Quorvane/signing/SigningRequestIntake.h"
#include "Quorvane/testing/FakeLaunchAgentService.h"
#include "Quorvane/testing/RecordingXPCClient.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/VirtualScheduler.h"

namespace {

using namespace std::chrono_literals;
using platform::Bytes;
using Lines = std::vector<std::string>;

const std::string keychainMessage = "Could not communicate with the keychain, operation cancelled.";

std::string describe(const AppError& error) {
    return std::to_string(rawValue(error.category)) + " " + error.code + " " + error.message;
}

Lines errorLines(const LogCapture& log) {
    Lines lines;
    for (const auto& line : log.lines())
        if (line.level == LogLevel::error)
            lines.push_back(line.message);
    return lines;
}

TEST(SigningRequestIntakeTest, ABulkRequestNamesItsTokenUnlessItHoldsNothingToSignOrAHashIsNotExactBase64) {
    struct Case {
        const char* name;
        std::string tokenId;
        std::vector<std::string> hashes;
        std::string outcome;  // "token <id>" or the failure
        Lines lines = {};
    };
    const std::string refused = "2 000 The signing request holds a document hash that is not valid Base64.";
    const Lines refusedLine{"Bulk signing request holds a hash that is not valid Base64"};
    const Case cases[] = {
        {"a card in a slot", "slot:card-1", {"AQID", "BAUG"}, "token card-1"},
        {"the wallet",
         SigningSessionContext::walletTokenIdentifier,
         {"AQID"},
         "token WALLET_TOKEN_IDENTIFIER"},
        {"no documents",
         "card-1",
         {},
         "2 000 The signing request holds no document to sign.",
         {"Bulk signing request holds no document"}},
        {"a hash without its padding", "card-1", {"AQID", "AQ"}, refused, refusedLine},
        {"a hash in the URL alphabet", "card-1", {"-_8="}, refused, refusedLine},
        {"a hash with a blank", "card-1", {"AQ ID"}, refused, refusedLine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogCapture log;
        LoggerClient logger("ui");
        BulkSigningRequest request{"1.0", c.tokenId, {}};
        for (const auto& hash : c.hashes)
            request.signData.push_back({hash, std::nullopt});
        auto check = SigningRequestIntake::checkBulkRequest(request, logger);
        EXPECT_EQ(check.failure ? describe(*check.failure) : "token " + check.tokenIdentifier.value_or("?"),
                  c.outcome);
        EXPECT_EQ(errorLines(log), c.lines);
    }
}

// The intake of a request over XPC, on the doubles of the relay and its agent and a virtual clock.
struct XPCRig {
    XPCRig() { intake->waitForTokenRequest(); }

    std::shared_ptr<platform::VirtualScheduler> scheduler = std::make_shared<platform::VirtualScheduler>();
    std::shared_ptr<testsupport::RecordingXPCClient> xpc =
        std::make_shared<testsupport::RecordingXPCClient>();
    std::shared_ptr<testsupport::FakeLaunchAgentService> launchAgent =
        std::make_shared<testsupport::FakeLaunchAgentService>(true);
    Lines reported;
    std::shared_ptr<SigningRequestIntake> intake = std::make_shared<SigningRequestIntake>(
        xpc, launchAgent, std::make_shared<LoggerClient>("ui"), scheduler,
        [this](Bytes hash, std::string instanceID) {
            reported.push_back("hash " + std::to_string(hash.size()) + " bytes for " + instanceID);
        },
        [this](AppError error) { reported.push_back("failed " + describe(error)); });
};

TEST(SigningRequestIntakeTest, TheTokenHas30sForItsHashAndTheFirstEndingCounts) {
    struct Case {
        const char* name;
        std::function<void(XPCRig&)> at10s;  // what happens 10 s into the wait
        Lines reported;                      // by the end of the wait and long after
        Lines agentCalls;
    };
    const std::string timedOut = "failed 7 001 " + keychainMessage;
    const Case cases[] = {
        {"nothing comes", [](XPCRig&) {}, {timedOut}, {"reregisterService"}},
        {"the token's hash",
         [](XPCRig& rig) { rig.xpc->deliverHash(Bytes(32, 1), "card-1"); },
         {"hash 32 bytes for card-1"},
         {}},
        {"the token gives up",
         [](XPCRig& rig) {
             rig.xpc->deliverTimeout(
                 AppError(ErrorCodeCategory::xpc, std::nullopt, "002", "gave up", std::nullopt));
         },
         {"failed 7 002 gave up"},
         {}},
        {"the relay fails without saying why",
         [](XPCRig& rig) { rig.intake->handleCommunicationError(std::nullopt); },
         {"failed 7 000 " + keychainMessage},
         {}},
        {"the flow has ended meanwhile",
         [](XPCRig& rig) {
             rig.intake->stop();
             rig.xpc->deliverHash(Bytes(32, 1), "card-1");
             rig.intake->handleCommunicationError(std::nullopt);
         },
         {},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        XPCRig rig;
        EXPECT_EQ(rig.xpc->calls, (Lines{"disconnect", "connect", "register", "ready"}));
        ASSERT_TRUE(rig.intake->timeoutTimer());
        rig.scheduler->advance(10s);
        c.at10s(rig);
        rig.scheduler->runPending();
        rig.scheduler->advance(19.9s);
        const bool waiting = c.reported == Lines{timedOut};
        EXPECT_EQ(rig.reported, waiting ? Lines{} : c.reported) << "before the 30 s are up";
        EXPECT_EQ(static_cast<bool>(rig.intake->timeoutTimer()), waiting);
        rig.scheduler->advance(0.2s);
        rig.scheduler->advance(120s);
        EXPECT_EQ(rig.reported, c.reported);
        EXPECT_EQ(rig.launchAgent->log->list, c.agentCalls);
        EXPECT_FALSE(rig.intake->timeoutTimer());
        EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);
    }
}

}  // namespace
