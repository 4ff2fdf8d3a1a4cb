#pragma once
// The account models' world for their tests and renders: the onboarding and remote-signing clients as doubles
// that answer as set up, record every call and can hold or fail it; a card that asks for its PIN; the app's
// real session store on a virtual clock (its token store in a folder of its own); and what the models report.
// The rig puts them into the dependency keys; models made next read them.
#include <QCoreApplication>
#include <QEvent>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Quorvane/account/AccountCreationViewModel.h"
#include "Quorvane/account/AccountInfoViewModel.h"
#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/PindleMock.h"
#include "Quorvane/core/SigningSessionDatabase.h"
#include "Quorvane/core/TokenDriverConfiguration.h"
#include "api/Clients.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/Codecs.h"
#include "platform/VirtualScheduler.h"
#include "platform/qt/AsyncStream.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"

namespace accounttest {

using halcyra::HalcyraError;
using pindle::CardSigningEvent;
using platform::Bytes;
using namespace std::chrono_literals;

// Holds the calls that pass it while it is closed, until the test opens it.
class Gate {
  public:
    QCoro::Task<> pass() {
        if (!closed)
            co_return;
        auto [stream, continuation] = platform::AsyncStream<int>::make();
        waiting_.push_back(continuation);
        co_await stream.next();
    }
    void open() {
        closed = false;
        for (auto& waiting : std::exchange(waiting_, {}))
            waiting.finish();
    }
    bool isWaiting() const { return !waiting_.empty(); }

    bool closed = false;

  private:
    std::vector<platform::AsyncStream<int>::Continuation> waiting_;
};

// One operation of a double: its requests, the error every call fails with while it is set, and its gate.
template <class Request>
struct Calls {
    std::vector<Request> requests;
    std::optional<HalcyraError> error;
    Gate gate;

    QCoro::Task<> take(Request request) {
        requests.push_back(std::move(request));
        co_await gate.pass();
        if (error)
            throw *error;
    }
};

inline HalcyraError networkError() {
    return HalcyraError::networkError(std::make_exception_ptr(std::runtime_error("connection reset")));
}
inline HalcyraError backendError(int status = 409) {
    return HalcyraError::backendError(status, {"5C1D"}, "The request was refused.", std::nullopt);
}

// The onboarding endpoints: the agreement, a new onboarding session "onboarding-<n>" for each data
// confirmation (a hash for the card and a polling session "poll-<n>" for the wallet), and the signed
// agreement.
class FakeOnboardingClient : public halcyra::OnboardingAPIClient {
  public:
    // The hash the server has the card sign.
    static inline const Bytes serverHash = Bytes(32, 0xA7);

    Bytes agreement{'%', 'P', 'D', 'F', '-', '1', '.', '4'};
    Bytes signedAgreement{'%', 'P', 'D', 'F', '-', 's', 'i', 'g', 'n', 'e', 'd'};
    std::optional<halcyra::OnboardingData::EID> eid =
        halcyra::OnboardingData::EID{platform::base64URLEncoded(serverHash), "SHA-256"};
    bool withWallet = true;

    Calls<halcyra::GetAgreementFileRequest> agreementCalls;
    Calls<halcyra::ConfirmUserDataRequest> confirmCalls;
    Calls<halcyra::SignAgreementRequest> signCalls;
    Calls<std::string> signedAgreementCalls;

    QCoro::Task<Bytes> getAgreementFile(halcyra::GetAgreementFileRequest request) override {
        co_await agreementCalls.take(std::move(request));
        auto reply = agreement;
        co_return reply;
    }
    QCoro::Task<halcyra::OnboardingData> confirmUserData(halcyra::ConfirmUserDataRequest request) override {
        co_await confirmCalls.take(std::move(request));
        const auto n = std::to_string(confirmCalls.requests.size());
        halcyra::OnboardingData data;
        data.onboardingSessionId = "onboarding-" + n;
        data.eid = eid;
        if (withWallet)
            data.wallet = halcyra::OnboardingData::Wallet{"poll-" + n};
        co_return data;
    }
    QCoro::Task<Bytes> signAgreement(halcyra::SignAgreementRequest request) override {
        co_await signCalls.take(std::move(request));
        auto reply = signedAgreement;
        co_return reply;
    }
    QCoro::Task<Bytes> getSignedAgreementFile(std::string authSessionId) override {
        co_await signedAgreementCalls.take(std::move(authSessionId));
        auto reply = signedAgreement;
        co_return reply;
    }
};

// The account endpoints the account models use: the signing certificate and the deletion.
class FakeRemoteSigningClient : public halcyra::RemoteSigningAPIClient {
  public:
    halcyra::SigningInfoDetails signatureInfo{halcyra::SigningStatus::ready, 100, {}, {}};
    Calls<std::string> signatureInfoCalls;
    Calls<std::pair<std::string, std::string>> deleteCalls;

    QCoro::Task<halcyra::SigningInfoDetails> getSignatureInfo(std::string authSessionId) override {
        co_await signatureInfoCalls.take(std::move(authSessionId));
        auto reply = signatureInfo;
        co_return reply;
    }
    QCoro::Task<void> deleteAccount(std::string authSessionId, std::string reason) override {
        std::pair request(std::move(authSessionId), std::move(reason));
        co_await deleteCalls.take(std::move(request));
    }
    QCoro::Task<halcyra::AccountStatusDetails> getAccountStatus(std::string) override { throw unused(); }
    QCoro::Task<halcyra::GetDataToConsentResponse> getDataToConsent(
        halcyra::GetDataToConsentRequest) override {
        throw unused();
    }
    QCoro::Task<halcyra::ConsentAndSignHashesResponse> consentAndSignHashes(
        halcyra::ConsentAndSignHashesRequest) override {
        throw unused();
    }

  private:
    static HalcyraError unused() { return HalcyraError::otherError("not used"); }
};

// The wallet's polls: the code to scan, with most of its time left.
class FakeWalletClient : public halcyra::WalletAPIClient {
  public:
    Bytes qrCode;
    int polls = 0;

    QCoro::Task<halcyra::WalletPollingResponse> pollWallet(std::string) override {
        ++polls;
        co_return halcyra::WalletPollingResponse{halcyra::WalletPollingStatus::scanPending, qrCode, 280,
                                                 1000};
    }
};

// A card that asks for its PIN on the keyboard: "1234" gives the signature 0x5A followed by the signed data,
// and ends the operation; another PIN costs a try and asks again. With `script` set, a signature plays those
// events and stays open until it is cancelled.
class FakeCard : public pindle::CardWithHolderData {
  public:
    explicit FakeCard(std::string id = "card-1")
        : CardWithHolderData({"Ann", "Peeters", "71715100070", std::move(id), std::nullopt, std::nullopt,
                              Bytes{0xfb, 0xff, 0x3e, 0x01}}) {}

    static Bytes signatureOf(Bytes data) {
        data.insert(data.begin(), 0x5A);
        return data;
    }

    platform::AsyncStream<CardSigningEvent> sign(const Bytes& data) override {
        signedData.push_back(data);
        auto [stream, continuation] = platform::AsyncStream<CardSigningEvent>::make();
        open_ = continuation;
        if (script.empty())
            continuation.yield(CardSigningEvent::pinRequested(pinClosure(data)));
        for (const auto& event : script)
            continuation.yield(event);
        return stream;
    }
    void cancelOngoingOperation() override {
        ++cancels;
        if (open_)
            open_->finish();
        open_.reset();
    }
    void retryOngoingOperation() override {}

    bool isOperationOpen() const { return open_.has_value(); }
    // The open operation's next event, as the reader would send it.
    void send(CardSigningEvent event) {
        if (open_)
            open_->yield(std::move(event));
    }

    std::vector<CardSigningEvent> script;
    std::vector<Bytes> signedData;
    std::vector<std::string> pins;
    int cancels = 0;

  private:
    CardSigningEvent::ProvidePinClosure pinClosure(Bytes data) {
        return [this, data](const std::string& pin) {
            pins.push_back(pin);
            if (!open_)
                return;
            if (pin != "1234") {
                open_->yield(CardSigningEvent::wrongPin(--tries_, pinClosure(data)));
                return;
            }
            open_->yield(CardSigningEvent::finished(signatureOf(data)));
            open_->finish();
            open_.reset();
        };
    }

    std::optional<platform::AsyncStream<CardSigningEvent>::Continuation> open_;
    int tries_ = 3;
};

// The doubles in the dependency keys, the real session store on the virtual clock, and what the models
// report.
struct Rig {
    Rig() {
        DependencyValues::shared().reset();
        settings->setHasOnboardedAtLeastOnce(true);
        Dependency<AppSettingsKey>().set(settings);
        Dependency<LoggerClientKey>().set(logger);
        Dependency<OnboardingAPIClientKey>().set(onboarding);
        Dependency<RemoteSigningAPIClientKey>().set(remote);
        Dependency<WalletAPIClientKey>().set(wallet);
        Dependency<SigningSessionDatabaseKey>().set(store);
        remote->signatureInfo.signingCertificate = signingCertificate.der();
    }
    ~Rig() {
        settle();
        DependencyValues::shared().reset();
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    SigningSessionContext cardContext() { return SigningSessionContext::card("auth-1", card); }
    SigningSessionContext walletContext() { return SigningSessionContext::wallet("auth-1", "login-poll"); }

    // A creation for the context, reporting into `completions` and `cancels`.
    std::shared_ptr<AccountCreationViewModel> creation(const SigningSessionContext& context) {
        return std::make_shared<AccountCreationViewModel>(
            context,
            [completions = completions](std::optional<AppError> error) {
                completions->push_back(std::move(error));
            },
            [cancels = cancels] { ++*cancels; }, scheduler, [closes = closes] { ++*closes; });
    }
    std::shared_ptr<AccountInfoViewModel> accountInfo(const SigningSessionContext& context) {
        auto session = store->activeSession(context, false);
        if (!session)
            session = store->registerSession(context, scheduler->now() + 1h);
        return std::make_shared<AccountInfoViewModel>(context, *session, scheduler,
                                                      [closes = closes] { ++*closes; });
    }

    // A session for the context that lasts the hour, as the login made it.
    SigningSession logIn(const SigningSessionContext& context) {
        return store->registerSession(context, scheduler->now() + 1h);
    }
    std::optional<Bytes> installed(const SigningSessionContext& context) const {
        return tokens->certificateData(context.tokenIdentifier());
    }

    // Runs posted work and the event loop (streams, the retrieval's task) until nothing is left.
    void settle() {
        for (int round = 0; round < 30; ++round) {
            scheduler->runPending();
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
    // Moves the virtual clock on, settling before and after.
    void advance(std::chrono::milliseconds by) {
        settle();
        scheduler->advance(by);
        settle();
    }

    std::shared_ptr<platform::VirtualScheduler> scheduler = std::make_shared<platform::VirtualScheduler>(
        platform::Date(std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::system_clock::now().time_since_epoch())));
    std::shared_ptr<LoggerClient> logger = std::make_shared<LoggerClient>("ui");
    std::shared_ptr<AppSettings> settings = std::make_shared<AppSettings>();
    std::shared_ptr<TokenDriverConfiguration> tokens = std::make_shared<TokenDriverConfiguration>(
        platform::tokens::TokenStore(testsupport::makeTempDir("tokens") / platform::tokens::driverClassID),
        logger, TokenDriverConfiguration::DriverFolder::madeOnRegistration);
    std::shared_ptr<SigningSessionDatabase> store = std::make_shared<SigningSessionDatabase>(
        SigningSessionDatabase::always(settings), SigningSessionDatabase::always(logger),
        PindleMock::make(PindleMock::Mode::noCards(), scheduler), tokens, scheduler);
    std::shared_ptr<FakeOnboardingClient> onboarding = std::make_shared<FakeOnboardingClient>();
    std::shared_ptr<FakeRemoteSigningClient> remote = std::make_shared<FakeRemoteSigningClient>();
    std::shared_ptr<FakeWalletClient> wallet = std::make_shared<FakeWalletClient>();
    std::shared_ptr<FakeCard> card = std::make_shared<FakeCard>();
    testsupport::Issued signingCertificate =
        testsupport::issue(testsupport::citizenCard("Ann", "Peeters", "71715100070"), testsupport::cardCA());

    std::shared_ptr<std::vector<std::optional<AppError>>> completions =
        std::make_shared<std::vector<std::optional<AppError>>>();
    std::shared_ptr<int> cancels = std::make_shared<int>(0);
    // The main window's closes asked for.
    std::shared_ptr<int> closes = std::make_shared<int>(0);
};

}  // namespace accounttest
