// The wallet sheet's model against the stand-in server: the polling states, the status table, expiry and
// refresh, the errors and their codes, and the replies that arrive after the sheet was cancelled, refreshed
// or let go. The network is real; the sheet's timers run in virtual time, driven between the replies.
#include <gtest/gtest.h>

#include "Quorvane/auth/WalletTrackingAwareViewModel.h"
#include "Quorvane/auth/WalletTrackingViewModel.h"
#include "Quorvane/core/ErrorCodeWrap.h"
#include "WalletTrackingTestSupport.h"

using namespace std::chrono_literals;
using namespace wallettest;
using Kind = WalletPollingState::Kind;
using ReasonKind = SigningReason::Kind;

namespace {

class WalletTracking : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = new WalletServer; }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    static const simtest::SimServerProcess& server() { return server_->server; }

    // A model on a new login whose first poll has shown the QR code.
    std::shared_ptr<WalletTrackingViewModel> scanning(WalletRig& rig,
                                                      std::string* pollingSessionId = nullptr) {
        const std::string session = rig.newSession();
        const std::string polling = rig.newPollingSession(session);
        auto model = rig.makeModel(session, polling);
        model->startTracking();
        EXPECT_TRUE(rig.pumpPolls(1));
        EXPECT_EQ(model->pollingState().kind(), Kind::scanAllowed);
        if (pollingSessionId)
            *pollingSessionId = polling;
        return model;
    }

    static WalletServer* server_;
};

WalletServer* WalletTracking::server_ = nullptr;

TEST_F(WalletTracking, ScanThenConfirmThenTheResultTwoSecondsLater) {
    WalletRig rig(*server_);
    const std::string session = rig.newSession();
    auto model = rig.makeModel(session);
    EXPECT_EQ(model->pollingState(), WalletPollingState::waiting());
    model->startTracking();

    // Without a polling session id the model asks for one, then polls with it.
    ASSERT_TRUE(rig.pumpPolls(1));
    EXPECT_EQ(rig.auth->methodDataCalls.started(), 1);
    const std::string polling = model->pollingSessionId();
    EXPECT_FALSE(polling.empty());
    EXPECT_EQ(rig.wallet->pollCalls.requests, std::vector<std::string>{polling});
    ASSERT_EQ(model->pollingState().kind(), Kind::scanAllowed);
    ASSERT_TRUE(model->lastQrCodeImage());
    EXPECT_FALSE(model->lastQrCodeImage()->isNull());
    EXPECT_EQ(model->pollingState().qrCodeImage(), model->lastQrCodeImage());
    // The server's wallet sessions last 180 s.
    const auto left = model->secondsRemaining();
    EXPECT_GT(left, 170);
    EXPECT_LE(left, 180);
    EXPECT_EQ(model->pollingState().remainingTime(), left);
    ASSERT_TRUE(model->countdownTimer());
    EXPECT_TRUE(model->countdownTimer()->isValid());

    // The countdown ticks every second while the code can be scanned; the shown time moves with the next
    // poll.
    rig.scheduler->advance(1s);
    EXPECT_EQ(model->secondsRemaining(), left - 1);
    EXPECT_EQ(model->pollingState().remainingTime(), left);
    EXPECT_EQ(rig.wallet->pollCalls.started(), 2) << "the next poll went out after the server's 250 ms";
    ASSERT_TRUE(rig.pumpPolls(2));

    // Scanned: the wallet app asks for confirmation; the countdown stops, and every such poll tells the flow.
    rig.setWalletState(polling, "AUTHENTICATION_PENDING");
    rig.scheduler->advance(WalletServer::retryAfter);
    ASSERT_TRUE(rig.pumpPolls(3));
    EXPECT_EQ(model->pollingState().kind(), Kind::walletPending);
    EXPECT_EQ(model->pollingState().remainingTime(), model->secondsRemaining());
    EXPECT_FALSE(model->countdownTimer());
    EXPECT_EQ(rig.recorder.scanned, 1);
    rig.scheduler->advance(WalletServer::retryAfter);
    ASSERT_TRUE(rig.pumpPolls(4));
    EXPECT_EQ(rig.recorder.scanned, 2);

    // Confirmed: success shows for 2 s, then the result carries the ids of the login, once.
    rig.setWalletState(polling, "AUTHENTICATED");
    rig.scheduler->advance(WalletServer::retryAfter);
    ASSERT_TRUE(rig.pumpPolls(5));
    EXPECT_EQ(model->pollingState(), WalletPollingState::success());
    rig.scheduler->advance(1.999s);
    EXPECT_TRUE(rig.recorder.results.empty());
    rig.scheduler->advance(1ms);
    ASSERT_EQ(rig.recorder.results.size(), 1u);
    EXPECT_EQ(rig.recorder.results[0].kind, WalletTrackingResult::Kind::success);
    EXPECT_EQ(rig.recorder.results[0].sessionId, session);
    EXPECT_EQ(rig.recorder.results[0].pollingSessionId, polling);
    EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);
    rig.scheduler->advance(30s);
    EXPECT_EQ(rig.wallet->pollCalls.started(), 5);
    EXPECT_EQ(rig.recorder.results.size(), 1u);

    // The ids are the ones the server confirmed: the session logs in with them.
    auto result = testsupport::await(rig.liveAuth->authenticate(
        halcyra::AuthenticateRequest(session, halcyra::AuthenticateRequest::Wallet{polling})));
    EXPECT_EQ(result.state, halcyra::AuthenticationState::ready);
}

TEST_F(WalletTracking, EachStatusSetsItsStateCountdownAndNextStep) {
    enum class Next { poll, completion, nothing };
    struct Case {
        const char* label;
        std::string walletState;  // set by the control call; empty: the reply below
        std::string rawReply;
        Kind state;
        bool countdownRuns;
        int scanned;
        Next next;
        std::chrono::milliseconds pollDelay;
    };
    const Case cases[] = {
        {"scan pending", "SCAN_PENDING", "", Kind::scanAllowed, true, 0, Next::poll,
         WalletServer::retryAfter},
        {"authentication pending", "AUTHENTICATION_PENDING", "", Kind::walletPending, false, 1, Next::poll,
         WalletServer::retryAfter},
        {"authenticated", "AUTHENTICATED", "", Kind::success, false, 0, Next::completion, {}},
        {"expired", "EXPIRED", "", Kind::scanExpired, false, 0, Next::nothing, {}},
        {"unknown, without a retry time", "", R"({"type":"UNKNOWN","authTimeLeft":90})", Kind::waiting, false,
         0, Next::poll, 1000ms},
        {"a status of a later server version", "", R"({"type":"SCAN_LATER","retryAfter":600})", Kind::waiting,
         false, 0, Next::poll, 600ms},
        // Base64url of bytes that are no image: the code is gone, and the sheet shows a question mark.
        {"a code that is no image", "",
         R"({"type":"SCAN_PENDING","qrCode":"iVBORw0KGgo","authTimeLeft":100})", Kind::scanAllowed, true, 0,
         Next::poll, 1000ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        WalletRig rig(*server_);
        std::string polling;
        auto model = scanning(rig, &polling);
        // A known polling session id is polled at once.
        EXPECT_EQ(rig.auth->methodDataCalls.started(), 0);
        const QImage image = *model->lastQrCodeImage();

        if (!c.walletState.empty())
            rig.setWalletState(polling, c.walletState);
        else
            server().fault("/wallet/poll", Json{{"rawBody", c.rawReply}, {"count", 1}});
        rig.scheduler->advance(WalletServer::retryAfter);
        ASSERT_TRUE(rig.pumpPolls(2));

        EXPECT_EQ(model->pollingState().kind(), c.state);
        if (c.rawReply.find("qrCode") != std::string::npos) {
            EXPECT_EQ(model->lastQrCodeImage(), std::nullopt);
            EXPECT_EQ(model->pollingState(), WalletPollingState::scanAllowed(std::nullopt, 100));
        } else {
            // Only scan-pending replies carry the code; the others keep the last one.
            ASSERT_TRUE(model->lastQrCodeImage());
            EXPECT_EQ(*model->lastQrCodeImage(), image);
        }
        if (c.state == Kind::scanExpired) {
            EXPECT_EQ(model->pollingState(), WalletPollingState::scanExpired(image));
        }
        EXPECT_EQ(model->countdownTimer() && model->countdownTimer()->isValid(), c.countdownRuns);
        EXPECT_EQ(rig.recorder.scanned, c.scanned);
        EXPECT_EQ(model->delayedCompletionTimer() != nullptr, c.next == Next::completion);
        switch (c.next) {
            case Next::poll:
                rig.scheduler->advance(c.pollDelay - 1ms);
                EXPECT_EQ(rig.wallet->pollCalls.started(), 2);
                rig.scheduler->advance(1ms);
                EXPECT_EQ(rig.wallet->pollCalls.started(), 3);
                EXPECT_TRUE(rig.pumpPolls(3));
                break;
            case Next::completion:
            case Next::nothing:
                rig.scheduler->advance(60s);
                EXPECT_EQ(rig.wallet->pollCalls.started(), 2);
                EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);
                EXPECT_EQ(rig.recorder.results.size(), c.next == Next::completion ? 1u : 0u);
                break;
        }
        model->cancel();
    }
}

TEST_F(WalletTracking, AnExpiredCodeStaysUntilARefreshStartsANewLogin) {
    WalletRig rig(*server_);
    std::string polling;
    auto model = scanning(rig, &polling);
    const std::string firstSession = model->sessionId();
    const QImage firstCode = *model->lastQrCodeImage();

    rig.setWalletState(polling, "EXPIRED");
    rig.scheduler->advance(WalletServer::retryAfter);
    ASSERT_TRUE(rig.pumpPolls(2));
    EXPECT_EQ(model->pollingState(), WalletPollingState::scanExpired(firstCode));
    rig.scheduler->advance(120s);
    EXPECT_EQ(rig.wallet->pollCalls.started(), 2) << "nothing polls an expired code";

    bool newSessionArrived = false;
    rig.recorder.refresh = [&](std::string) {
        return newAuthenticationSession(rig.liveAuth, &newSessionArrived);
    };
    model->refreshQrCode();
    EXPECT_EQ(model->pollingState(), WalletPollingState::waiting());
    ASSERT_TRUE(rig.pumpPolls(3));
    EXPECT_EQ(rig.recorder.refreshRequests, std::vector<std::string>{firstSession});
    EXPECT_NE(model->sessionId(), firstSession);
    EXPECT_EQ(rig.auth->methodDataCalls.started(), 1) << "the new session's polling id is asked for";
    EXPECT_NE(model->pollingSessionId(), polling);
    EXPECT_EQ(rig.wallet->pollCalls.requests.back(), model->pollingSessionId());
    EXPECT_EQ(model->pollingState().kind(), Kind::scanAllowed);
    ASSERT_TRUE(model->lastQrCodeImage());
    EXPECT_NE(*model->lastQrCodeImage(), firstCode) << "the new login's code";

    rig.setWalletState(model->pollingSessionId(), "AUTHENTICATED");
    rig.scheduler->advance(WalletServer::retryAfter);
    ASSERT_TRUE(rig.pumpPolls(4));
    rig.scheduler->advance(2s);
    ASSERT_EQ(rig.recorder.results.size(), 1u);
    EXPECT_EQ(rig.recorder.results[0].sessionId, model->sessionId());
    EXPECT_EQ(rig.recorder.results[0].pollingSessionId, model->pollingSessionId());
}

TEST_F(WalletTracking, ErrorsEndTheSheetOnceWithTheirCodes) {
    struct Case {
        const char* label;
        std::string endpoint;
        Json fault;
        bool refresh;  // the error comes from the refresh of an expired code
        std::string code;
        int status;
    };
    const Case cases[] = {
        {"fetching the polling session id", "/auth/getMeanData", Json{{"status", 500}, {"count", 1}}, false,
         "03", 500},
        {"a poll", "/wallet/poll", Json{{"status", 503}, {"count", 1}}, false, "04", 503},
        {"a poll's reply cut off", "/wallet/poll", Json{{"drop", true}, {"count", 1}}, false, "04", 0},
        {"the refresh", "/auth/getMeans", Json{{"status", 500}, {"count", 1}}, true, "05", 500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        WalletRig rig(*server_);
        auto model =
            rig.makeModel(rig.newSession(), "", SigningReason::of(ReasonKind::accountInfoAuthentication));
        if (c.refresh) {
            rig.recorder.refresh = [&](std::string) { return newAuthenticationSession(rig.liveAuth); };
            model->startTracking();
            ASSERT_TRUE(rig.pumpPolls(1));
            rig.setWalletState(model->pollingSessionId(), "EXPIRED");
            rig.scheduler->advance(WalletServer::retryAfter);
            ASSERT_TRUE(rig.pumpPolls(2));
            server().fault(c.endpoint, c.fault);
            model->refreshQrCode();
        } else {
            server().fault(c.endpoint, c.fault);
            model->startTracking();
        }
        ASSERT_TRUE(rig.pump([&] { return !rig.recorder.results.empty(); }));
        const auto& result = rig.recorder.results[0];
        ASSERT_EQ(result.kind, WalletTrackingResult::Kind::failure);
        const AppError& error = *result.error;
        EXPECT_EQ(error.category, ErrorCodeCategory::backend);
        EXPECT_EQ(error.sourceFlow, ErrorCodeSourceFlow::accountInfo);
        EXPECT_EQ(error.code, c.code);
        ASSERT_TRUE(error.apiError);
        EXPECT_EQ(error.message, ErrorCodeWrap::message(*error.apiError));
        if (c.status) {
            EXPECT_EQ(error.apiError->kind(), halcyra::HalcyraError::Kind::backendError);
            EXPECT_EQ(error.apiError->statusCode(), c.status);
        } else {
            EXPECT_EQ(error.apiError->kind(), halcyra::HalcyraError::Kind::networkError);
        }
        EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);
        const int polls = rig.wallet->pollCalls.started();
        rig.scheduler->advance(60s);
        rig.pump([] { return false; }, 300ms);
        EXPECT_EQ(rig.wallet->pollCalls.started(), polls);
        EXPECT_EQ(rig.recorder.results.size(), 1u);
    }
}

TEST_F(WalletTracking, AReplyWithoutAWalletPartFailsUnderTheFlowOfTheReason) {
    struct Case {
        ReasonKind reason;
        const char* code;
    };
    const Case cases[] = {
        {ReasonKind::accountInfoAuthentication, "403"},
        {ReasonKind::certificateRetrievalAuthentication, "203"},
        {ReasonKind::accountCreationAuthentication, "103"},
        {ReasonKind::agreementSigning, "103"},
        {ReasonKind::signingAuthentication, "303"},
        {ReasonKind::actualSigning, "303"},
    };
    WalletRig rig(*server_);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        rig.recorder.results.clear();
        server().fault("/auth/getMeanData", Json{{"rawBody", R"({"eid":null})"}, {"count", 1}});
        auto model = rig.makeModel("any-session", "", SigningReason::of(c.reason));
        model->startTracking();
        ASSERT_TRUE(rig.pump([&] { return !rig.recorder.results.empty(); }));
        const AppError& error = *rig.recorder.results.at(0).error;
        EXPECT_EQ(error.category, ErrorCodeCategory::app);
        EXPECT_EQ(error.sourceFlow, std::nullopt);
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.message, "Civaro polling session ID not found.");
        EXPECT_FALSE(error.apiError);
        EXPECT_EQ(rig.wallet->pollCalls.started(), 0);
    }
}

TEST_F(WalletTracking, ARefreshThatFailsOtherwiseLeavesTheSheetWaitingForCancel) {
    WalletRig rig(*server_);
    std::string polling;
    auto model = scanning(rig, &polling);
    rig.setWalletState(polling, "EXPIRED");
    rig.scheduler->advance(WalletServer::retryAfter);
    ASSERT_TRUE(rig.pumpPolls(2));

    model->refreshQrCode();  // the rig's refresh throws a plain runtime error
    rig.pump([] { return false; }, 300ms);
    EXPECT_EQ(rig.recorder.refreshRequests.size(), 1u);
    EXPECT_EQ(model->pollingState(), WalletPollingState::waiting());
    EXPECT_TRUE(rig.recorder.results.empty());
    model->cancel();
    EXPECT_EQ(rig.recorder.cancelled, 1);
}

// The replies that arrive after the sheet moved on: none of them changes the model or reaches the flow.

TEST_F(WalletTracking, CancelWhileAPollIsOnItsWay) {
    WalletRig rig(*server_);
    std::string polling;
    auto model = scanning(rig, &polling);
    // The reply is held back, and it will say the login was confirmed.
    server().fault("/wallet/poll", Json{{"delayMs", 800}, {"count", 1}});
    rig.setWalletState(polling, "AUTHENTICATED");
    rig.scheduler->advance(WalletServer::retryAfter);
    ASSERT_EQ(rig.wallet->pollCalls.started(), 2);

    model->cancel();
    EXPECT_EQ(rig.recorder.cancelled, 1);
    EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);
    ASSERT_TRUE(rig.pumpPolls(2));
    EXPECT_EQ(model->pollingState().kind(), Kind::scanAllowed);
    rig.scheduler->advance(60s);
    EXPECT_TRUE(rig.recorder.results.empty()) << "no success after the user cancelled";
    EXPECT_EQ(rig.wallet->pollCalls.started(), 2);
    model->cancel();
    EXPECT_EQ(rig.recorder.cancelled, 1) << "the flow hears of the cancel once";
}

TEST_F(WalletTracking, CancelWhileThePollingSessionIdOrANewSessionIsOnItsWay) {
    for (bool duringRefresh : {false, true}) {
        SCOPED_TRACE(duringRefresh ? "a new session for the expired code" : "the first polling session id");
        WalletRig rig(*server_);
        std::shared_ptr<WalletTrackingViewModel> model;
        bool newSessionArrived = false;
        if (duringRefresh) {
            std::string polling;
            model = scanning(rig, &polling);
            rig.setWalletState(polling, "EXPIRED");
            rig.scheduler->advance(WalletServer::retryAfter);
            ASSERT_TRUE(rig.pumpPolls(2));
            rig.recorder.refresh = [&](std::string) {
                return newAuthenticationSession(rig.liveAuth, &newSessionArrived);
            };
            server().fault("/auth/getMeans", Json{{"delayMs", 600}, {"count", 1}});
            model->refreshQrCode();
            rig.scheduler->runPending();
        } else {
            server().fault("/auth/getMeanData", Json{{"delayMs", 600}, {"count", 1}});
            model = rig.makeModel(rig.newSession());
            model->startTracking();
        }
        const int polls = rig.wallet->pollCalls.started();
        const std::string sessionBefore = model->sessionId();
        model->cancel();
        if (duringRefresh)
            ASSERT_TRUE(rig.pump([&] { return newSessionArrived; }));
        else
            ASSERT_TRUE(rig.pump([&] { return rig.auth->methodDataCalls.answered == 1; }));
        rig.scheduler->advance(10s);
        rig.pump([] { return false; }, 300ms);
        EXPECT_EQ(rig.auth->methodDataCalls.started(), duringRefresh ? 0 : 1);
        EXPECT_EQ(rig.wallet->pollCalls.started(), polls);
        EXPECT_EQ(model->sessionId(), sessionBefore) << "the late session is not taken";
        EXPECT_TRUE(rig.recorder.results.empty());
        EXPECT_EQ(rig.recorder.cancelled, 1);
    }
}

TEST_F(WalletTracking, AReplyAfterThePresentationLetGoOfTheModelChangesNothing) {
    WalletRig rig(*server_);
    std::string polling;
    auto model = scanning(rig, &polling);
    std::weak_ptr<WalletTrackingViewModel> kept = model->weak_from_this();
    // The held-back reply would report the code scanned.
    server().fault("/wallet/poll", Json{{"delayMs", 800}, {"count", 1}});
    rig.setWalletState(polling, "AUTHENTICATION_PENDING");
    rig.scheduler->advance(WalletServer::retryAfter);
    ASSERT_EQ(rig.wallet->pollCalls.started(), 2);

    model.reset();
    EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);
    EXPECT_FALSE(kept.expired()) << "the poll on its way keeps the model until its reply";
    ASSERT_TRUE(rig.pumpPolls(2));
    EXPECT_TRUE(rig.pump([&] { return kept.expired(); }));
    EXPECT_EQ(rig.recorder.scanned, 0);
    rig.scheduler->advance(60s);
    EXPECT_EQ(rig.wallet->pollCalls.started(), 2);
    EXPECT_TRUE(rig.recorder.results.empty());
    EXPECT_EQ(rig.recorder.cancelled, 0);
}

TEST_F(WalletTracking, ARefreshSupersedesAPollOnItsWay) {
    WalletRig rig(*server_);
    std::string polling;
    auto model = scanning(rig, &polling);
    server().fault("/wallet/poll", Json{{"delayMs", 800}, {"count", 1}});
    rig.setWalletState(polling, "AUTHENTICATED");
    rig.scheduler->advance(WalletServer::retryAfter);
    ASSERT_EQ(rig.wallet->pollCalls.started(), 2);

    rig.recorder.refresh = [&](std::string) { return newAuthenticationSession(rig.liveAuth); };
    model->refreshQrCode();
    // The held-back reply of the old login and the first of the new one.
    ASSERT_TRUE(rig.pumpPolls(3));
    EXPECT_EQ(rig.wallet->pollCalls.requests.back(), model->pollingSessionId());
    EXPECT_NE(model->pollingSessionId(), polling);
    EXPECT_EQ(model->pollingState().kind(), Kind::scanAllowed) << "the old login's success is not shown";
    EXPECT_FALSE(model->delayedCompletionTimer());
    rig.scheduler->advance(WalletServer::retryAfter);
    EXPECT_EQ(rig.wallet->pollCalls.started(), 4) << "one chain of polls, the new login's";
    ASSERT_TRUE(rig.pumpPolls(4));
    rig.scheduler->advance(2s);
    EXPECT_TRUE(rig.recorder.results.empty());
    model->cancel();
}

TEST_F(WalletTracking, OneChainOfPollsWhateverStartsItAgain) {
    WalletRig rig(*server_);
    auto model =
        rig.makeModel(rig.newSession(), "", SigningReason::of(ReasonKind::accountCreationAuthentication));
    EXPECT_TRUE(model->shouldShowAccountCreationAuthenticationWarning());
    rig.scheduler->advance(5s);
    rig.pump([] { return false; }, 200ms);
    EXPECT_EQ(rig.auth->methodDataCalls.started(), 0) << "nothing starts before Continue";

    int notifications = 0;
    auto subscription = model->subscribe([&] { ++notifications; });
    model->continueAfterAccountCreationWarning();
    model->continueAfterAccountCreationWarning();
    EXPECT_FALSE(model->shouldShowAccountCreationAuthenticationWarning());
    EXPECT_EQ(notifications, 1);
    model->startTracking();
    ASSERT_TRUE(rig.pumpPolls(1));
    model->startTracking();
    for (int poll = 2; poll <= 4; ++poll) {
        rig.scheduler->advance(WalletServer::retryAfter);
        ASSERT_TRUE(rig.pumpPolls(poll));
    }
    rig.pump([] { return false; }, 200ms);
    EXPECT_EQ(rig.auth->methodDataCalls.started(), 1);
    EXPECT_EQ(rig.wallet->pollCalls.started(), 4);
    model->cancel();
}

TEST(WalletTrackingCode, VerificationCodeFromTheFirstFiveBytesOfTheHash) {
    using platform::Bytes;
    struct Case {
        const char* label;
        SigningReason reason;
        std::optional<std::string> code;
    };
    const Case cases[] = {
        {"zero bytes", SigningReason::actualSigning(Bytes(32, 0x00), std::nullopt), "0000-0000"},
        {"all bits set", SigningReason::actualSigning(Bytes(5, 0xFF), std::nullopt), "ZZZZ-ZZZZ"},
        // 00000 00100 10001 10100 01010 11001 11100 01001
        {"mixed bits", SigningReason::actualSigning(Bytes{0x01, 0x23, 0x45, 0x67, 0x89}, std::nullopt),
         "04HM-ASW9"},
        {"later bytes do not count",
         SigningReason::actualSigning(Bytes{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD},
                                      std::vector<BulkSigningRequest::Document>{}),
         "04HM-ASW9"},
        {"a hash shorter than five bytes", SigningReason::actualSigning(Bytes{1, 2, 3, 4}, std::nullopt),
         std::nullopt},
        {"no hash", SigningReason::actualSigning(std::nullopt, std::nullopt), std::nullopt},
        {"a login", SigningReason::of(ReasonKind::signingAuthentication), std::nullopt},
        {"the agreement", SigningReason::of(ReasonKind::agreementSigning), std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto model = WalletTrackingViewModel::make("s", "p", 300, c.reason, {},
                                                   std::make_shared<platform::VirtualScheduler>());
        EXPECT_EQ(model->verificationCode(), c.code);
    }
}

// An owner of the wallet sheet, as the flows are: it counts what its handlers got.
struct SheetState : WalletTrackingAwareModalState {
    std::optional<std::string> walletTrackingSessionId() const override { return "s"; }
    std::optional<std::string> walletTrackingPollingSessionId() const override { return std::nullopt; }
};

class Owner : public WalletTrackingAwareViewModel<SheetState> {
  public:
    std::optional<SheetState> currentModalState() const override { return state; }
    void setCurrentModalState(std::optional<SheetState> newState) override { state = newState; }
    SigningReason currentSigningReason() const override {
        return SigningReason::of(ReasonKind::signingAuthentication);
    }
    void walletTrackingCompleted(WalletTrackingResult) override { ++results; }
    void walletQrCodeScanned() override { ++scanned; }
    void walletTrackingCancelled() override { ++cancelled; }
    QCoro::Task<WalletTrackingIdentifiers> refreshWalletTracking(std::string sessionId) override {
        co_return WalletTrackingIdentifiers{sessionId + "-new", "poll-new"};
    }

    std::optional<SheetState> state;
    int results = 0, scanned = 0, cancelled = 0;
};

TEST(WalletTrackingOwner, TheCallbacksReachTheOwnerOnlyWhileItLives) {
    auto owner = std::make_shared<Owner>();
    auto callbacks = walletTrackingCallbacks(std::weak_ptr<Owner>(owner));
    callbacks.pollingCompleted(WalletTrackingResult::success("s", "p"));
    callbacks.qrCodeScanned();
    callbacks.cancelRequested();
    EXPECT_EQ(testsupport::await(callbacks.qrCodeRefreshRequested("s")),
              (WalletTrackingIdentifiers{"s-new", "poll-new"}));
    EXPECT_EQ(owner->results + owner->scanned + owner->cancelled, 3);

    // The sheet does not keep its owner.
    auto model = WalletTrackingViewModel::make("s", "", 300, owner->currentSigningReason(), callbacks,
                                               std::make_shared<platform::VirtualScheduler>());
    std::weak_ptr<Owner> weakOwner = owner;
    owner.reset();
    EXPECT_TRUE(weakOwner.expired());
    callbacks.pollingCompleted(WalletTrackingResult::success("s", "p"));
    callbacks.qrCodeScanned();
    model->cancel();
    EXPECT_EQ(testsupport::await(callbacks.qrCodeRefreshRequested("s")), WalletTrackingIdentifiers{});
}

}  // namespace
