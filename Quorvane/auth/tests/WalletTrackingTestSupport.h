#pragma once
// The wallet sheet's tests and renders on the stand-in server: the live API clients (counted, so that a test
// can wait for the replies on their way), a virtual-time scheduler for the sheet's timers, a recorder of the
// sheet's callbacks, and the steps that move a wallet login on the server.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "Quorvane/auth/WalletTrackingViewModel.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/testing/FakeAuthenticateClient.h"
#include "Quorvane/testing/FakeWalletClient.h"
#include "Quorvane/testing/LiveRig.h"
#include "api/Clients.h"
#include "outside/Dependencies/Dependencies.h"
#include "platform/VirtualScheduler.h"
#include "platform/testing/Await.h"
#include "platform/testing/Eventually.h"
#include "sim/testing/SimServerProcess.h"

namespace wallettest {

using platform::json::Json;

// What the sheet told its flow.
struct Recorder {
    std::vector<WalletTrackingResult> results;
    int scanned = 0;
    int cancelled = 0;
    std::vector<std::string> refreshRequests;  // the session ids the refresh was asked for
    // What the flow does on a cancel besides counting it.
    std::function<void()> onCancel;
    // What a refresh does; by default it fails with a non-server error.
    std::function<QCoro::Task<WalletTrackingIdentifiers>(std::string)> refresh;

    WalletTrackingViewModel::Callbacks callbacks() {
        WalletTrackingViewModel::Callbacks callbacks;
        callbacks.pollingCompleted = [this](WalletTrackingResult result) {
            results.push_back(std::move(result));
        };
        callbacks.qrCodeRefreshRequested = [this](std::string sessionId) {
            refreshRequests.push_back(sessionId);
            return refresh(std::move(sessionId));
        };
        callbacks.qrCodeScanned = [this] { ++scanned; };
        callbacks.cancelRequested = [this] {
            ++cancelled;
            if (onCancel)
                onCancel();
        };
        return callbacks;
    }
};

// A new authentication session for a refresh: its id, the polling session id still unknown.
inline QCoro::Task<WalletTrackingIdentifiers> newAuthenticationSession(
    std::shared_ptr<halcyra::AuthenticateAPIClient> client, bool* finished = nullptr) {
    auto methods = co_await client->getAuthenticationMethods("wallet-tests", halcyra::LevelOfAssurance::high);
    if (finished)
        *finished = true;
    co_return WalletTrackingIdentifiers{methods.sessionId, std::nullopt};
}

// The live services on the stand-in server for a whole test suite; wallet logins move only by control calls,
// and every reply asks for the next poll after 250 ms.
class WalletServer {
  public:
    static constexpr std::chrono::milliseconds retryAfter{250};

    testsupport::LiveRig live{
        {"--wallet-polls", "0", "--retry-after-ms", std::to_string(retryAfter.count())}};
    simtest::SimServerProcess& server = live.server;
};

// One test's clients, scheduler and recorder; the live clients are the app's for the test's duration.
struct WalletRig {
    explicit WalletRig(WalletServer& services) : server(services.server), liveAuth(services.live.auth) {
        auth->forwardTo = liveAuth;
        wallet->forwardTo = services.live.wallet;
        server.clearFaults();
        DependencyValues::shared().reset();
        DependencyValues::shared().setCurrentValue<AuthenticateAPIClientKey>(auth);
        DependencyValues::shared().setCurrentValue<WalletAPIClientKey>(wallet);
        recorder.refresh = [](std::string) -> QCoro::Task<WalletTrackingIdentifiers> {
            throw std::runtime_error("no refresh in this test");
        };
    }
    ~WalletRig() {
        server.clearFaults();
        DependencyValues::shared().reset();
    }
    WalletRig(const WalletRig&) = delete;
    WalletRig& operator=(const WalletRig&) = delete;

    std::shared_ptr<WalletTrackingViewModel> makeModel(
        std::string sessionId, std::string pollingSessionId = "",
        SigningReason reason = SigningReason::of(SigningReason::Kind::signingAuthentication)) {
        return WalletTrackingViewModel::make(std::move(sessionId), std::move(pollingSessionId), 300,
                                             std::move(reason), recorder.callbacks(), scheduler);
    }

    std::string newSession() const {
        return testsupport::await(newAuthenticationSession(liveAuth)).sessionId;
    }
    std::string newPollingSession(const std::string& sessionId) const {
        auto data = testsupport::await(
            liveAuth->getAuthenticationMethodData(halcyra::AuthenticationMethod::wallet, sessionId));
        if (!data.wallet)
            throw std::runtime_error("no wallet part");
        return data.wallet->pollSessionId;
    }
    // Moves the wallet login on the server: "SCAN_PENDING", "AUTHENTICATION_PENDING", "AUTHENTICATED",
    // "EXPIRED".
    void setWalletState(const std::string& pollingSessionId, const std::string& state) const {
        EXPECT_EQ(server.control("/wallet", Json{{"pollSessionId", pollingSessionId}, {"state", state}}),
                  200);
    }

    // Runs the scheduler's posted work and the event loop until the condition holds (network replies arrive
    // through the event loop; the model's tasks start through the scheduler).
    template <class Condition>
    bool pump(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(15)) {
        return testsupport::eventually(
            [&] {
                scheduler->runPending();
                return condition();
            },
            limit);
    }
    // Until the poll replies on their way have come back.
    bool pumpPolls(int finished) {
        return pump([&] { return wallet->pollCalls.answered >= finished; });
    }

    const simtest::SimServerProcess& server;
    std::shared_ptr<halcyra::AuthenticateAPIClient> liveAuth;
    // The live clients, counted: a test can wait for the replies on their way.
    std::shared_ptr<testsupport::FakeAuthenticateClient> auth =
        std::make_shared<testsupport::FakeAuthenticateClient>();
    std::shared_ptr<testsupport::FakeWalletClient> wallet = std::make_shared<testsupport::FakeWalletClient>();
    std::shared_ptr<platform::VirtualScheduler> scheduler = std::make_shared<platform::VirtualScheduler>();
    Recorder recorder;
};

}  // namespace wallettest
