#pragma once
// The wallet sheet's tests and renders on the stand-in server: live API clients (counted, so that a test can
// wait for the replies on their way), a virtual-time scheduler for the sheet's timers, a recorder of the
// sheet's callbacks, and the steps that move a wallet login on the server.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Quorvane/auth/WalletTrackingViewModel.h"
#include "Quorvane/core/DependencyKeys.h"
#include "api/Clients.h"
#include "outside/Dependencies/Dependencies.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/VirtualScheduler.h"
#include "platform/qt/TlsTrust.h"
#include "platform/testing/Await.h"
#include "platform/testing/Eventually.h"
#include "sim/testing/SimServerProcess.h"

namespace wallettest {

using platform::json::Json;

// A live client that counts the calls it started and the ones that have come back (with a reply or an error).
class CountingWalletClient : public halcyra::WalletAPIClient {
  public:
    explicit CountingWalletClient(std::shared_ptr<halcyra::WalletAPIClient> inner)
        : inner_(std::move(inner)) {}
    int started = 0;
    int finished = 0;
    std::vector<std::string> pollingSessionIds;

    QCoro::Task<halcyra::WalletPollingResponse> pollWallet(std::string pollingSessionId) override {
        ++started;
        pollingSessionIds.push_back(pollingSessionId);
        struct Count {
            int& finished;
            ~Count() { ++finished; }
        } count{finished};
        co_return co_await inner_->pollWallet(std::move(pollingSessionId));
    }

  private:
    std::shared_ptr<halcyra::WalletAPIClient> inner_;
};

class CountingAuthenticateClient : public halcyra::AuthenticateAPIClient {
  public:
    explicit CountingAuthenticateClient(std::shared_ptr<halcyra::AuthenticateAPIClient> inner)
        : inner_(std::move(inner)) {}
    int methodDataStarted = 0;
    int methodDataFinished = 0;

    QCoro::Task<halcyra::AuthenticationMethodsResponse> getAuthenticationMethods(
        std::string loggingIdentifier, halcyra::LevelOfAssurance levelOfAssurance) override {
        return inner_->getAuthenticationMethods(std::move(loggingIdentifier), levelOfAssurance);
    }
    QCoro::Task<halcyra::AuthenticationMethodDataResponse> getAuthenticationMethodData(
        halcyra::AuthenticationMethod method, std::string sessionId) override {
        ++methodDataStarted;
        struct Count {
            int& finished;
            ~Count() { ++finished; }
        } count{methodDataFinished};
        co_return co_await inner_->getAuthenticationMethodData(method, std::move(sessionId));
    }
    QCoro::Task<halcyra::AuthenticateResult> authenticate(halcyra::AuthenticateRequest request) override {
        return inner_->authenticate(std::move(request));
    }

  private:
    std::shared_ptr<halcyra::AuthenticateAPIClient> inner_;
};

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

// The stand-in server for a whole test suite; wallet logins move only by control calls, and every reply asks
// for the next poll after 250 ms.
class WalletServer {
  public:
    static constexpr std::chrono::milliseconds retryAfter{250};

    WalletServer() : server({"--wallet-polls", "0", "--retry-after-ms", std::to_string(retryAfter.count())}) {
        if (!platform::addTrustedCACertificates(server.caFile()))
            throw std::runtime_error("cannot trust the stand-in server's CA");
    }

    simtest::SimServerProcess server;
};

// One test's clients, scheduler and recorder; the live clients are the app's for the test's duration.
struct WalletRig {
    explicit WalletRig(const simtest::SimServerProcess& server) : server(server) {
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
        return pump([&] { return wallet->finished >= finished; });
    }

    const simtest::SimServerProcess& server;
    std::shared_ptr<LoggerClient> logger = std::make_shared<LoggerClient>("wallet-tests");
    std::shared_ptr<halcyra::AuthenticateAPIClient> liveAuth =
        halcyra::HalcyraClientProvider::authenticateClient(server.basePath(), logger);
    std::shared_ptr<CountingAuthenticateClient> auth = std::make_shared<CountingAuthenticateClient>(liveAuth);
    std::shared_ptr<CountingWalletClient> wallet = std::make_shared<CountingWalletClient>(
        halcyra::HalcyraClientProvider::walletClient(server.basePath(), logger));
    std::shared_ptr<platform::VirtualScheduler> scheduler = std::make_shared<platform::VirtualScheduler>();
    Recorder recorder;
};

}  // namespace wallettest
