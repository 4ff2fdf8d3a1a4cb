#pragma once
// The signing model's world for its tests and renders: the server clients, the authentication facade, a card
// and the relay link as doubles that record what is asked of them, the app's real session store, and a
// virtual clock. The rig puts them into the dependency keys; models made next read them.
#include <QCoreApplication>
#include <QEvent>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/QuorvaneAPIClient.h"
#include "Quorvane/core/tests/RecordingXPCClient.h"
#include "Quorvane/core/tests/SessionTestDoubles.h"
#include "Quorvane/shell/views/tests/ViewsTestSupport.h"
#include "Quorvane/signing/SigningViewModel.h"
#include "api/Clients.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/Codecs.h"

namespace signingtest {

using halcyra::HalcyraError;
using pindle::CardSigningEvent;
using platform::Bytes;

// Holds a reply until the test lets it go.
class Gate {
  public:
    QCoro::Task<> pass() {
        if (!closed)
            co_return;
        auto [stream, continuation] = platform::AsyncStream<int>::make();
        waiting_ = continuation;
        co_await stream.next();
    }
    void open() {
        closed = false;
        if (waiting_)
            waiting_->finish();
        waiting_.reset();
    }
    bool isWaiting() const { return waiting_.has_value(); }

    bool closed = false;

  private:
    std::optional<platform::AsyncStream<int>::Continuation> waiting_;
};

// A card whose signature asks for the PIN "1234" on the keyboard; a wrong PIN costs a try. The signature is
// 0x5A followed by the signed data. With `script` set, a signature sends those events instead.
class ScriptedCard : public pindle::CardWithHolderData {
  public:
    static inline const Bytes certificate{0x30, 0x82, 0xFB, 0xFF, 0x3E};

    explicit ScriptedCard(std::string id)
        : CardWithHolderData(
              {"Ann", "Peeters", "71715100070", std::move(id), std::nullopt, std::nullopt, certificate}) {}

    platform::AsyncStream<CardSigningEvent> sign(const Bytes& data) override {
        signed_.push_back(data);
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

    // The data of each signature asked for.
    const std::vector<Bytes>& signedData() const { return signed_; }
    static Bytes signatureOf(Bytes data) {
        data.insert(data.begin(), 0x5A);
        return data;
    }

    std::vector<CardSigningEvent> script;
    std::vector<std::string> pins;
    int cancels = 0;

  private:
    CardSigningEvent::ProvidePinClosure pinClosure(Bytes data) {
        return [this, data](const std::string& pin) {
            pins.push_back(pin);
            if (!open_)
                return;
            if (pin == "1234")
                open_->yield(CardSigningEvent::finished(signatureOf(data)));
            else
                open_->yield(CardSigningEvent::wrongPin(--tries_, pinClosure(data)));
        };
    }

    std::vector<Bytes> signed_;
    std::optional<platform::AsyncStream<CardSigningEvent>::Continuation> open_;
    int tries_ = 3;
};

// Opens a new login session "auth-<n>" for each request, offering `methods`.
class FakeAuthenticateClient : public halcyra::AuthenticateAPIClient {
  public:
    std::vector<halcyra::AuthenticationMethodsResponse::Method> methods{
        {halcyra::AuthenticationMethod::eid, false}, {halcyra::AuthenticationMethod::wallet, false}};
    std::optional<HalcyraError> error;
    std::vector<halcyra::LevelOfAssurance> requests;

    QCoro::Task<halcyra::AuthenticationMethodsResponse> getAuthenticationMethods(
        std::string, halcyra::LevelOfAssurance levelOfAssurance) override {
        requests.push_back(levelOfAssurance);
        if (error)
            throw *error;
        co_return halcyra::AuthenticationMethodsResponse{"auth-" + std::to_string(requests.size()), methods};
    }
    QCoro::Task<halcyra::AuthenticationMethodDataResponse> getAuthenticationMethodData(
        halcyra::AuthenticationMethod, std::string) override {
        throw HalcyraError::otherError("not used");
    }
    QCoro::Task<halcyra::AuthenticateResult> authenticate(halcyra::AuthenticateRequest) override {
        throw HalcyraError::otherError("not used");
    }
};

// Gives the consent data and the signatures it is set up with, recording each request; a gate can hold the
// signatures back.
class FakeRemoteSigningClient : public halcyra::RemoteSigningAPIClient {
  public:
    // The hash the server has the card sign.
    static inline const Bytes serverHash = Bytes(32, 0xC4);

    halcyra::GetDataToConsentResponse consent{
        "consent-1", halcyra::GetDataToConsentResponse::EID{platform::base64URLEncoded(serverHash), "SHA256"},
        halcyra::GetDataToConsentResponse::Wallet{"poll-consent-1"}};
    std::vector<std::string> signatures{"AQID", "BAUG"};
    std::optional<HalcyraError> consentError;
    std::optional<HalcyraError> signError;
    Gate signatureGate;

    std::vector<halcyra::GetDataToConsentRequest> consentRequests;
    std::vector<halcyra::ConsentAndSignHashesRequest> signRequests;

    QCoro::Task<halcyra::GetDataToConsentResponse> getDataToConsent(
        halcyra::GetDataToConsentRequest request) override {
        consentRequests.push_back(request);
        if (consentError)
            throw *consentError;
        auto reply = consent;
        reply.consentSessionId = "consent-" + std::to_string(consentRequests.size());
        co_return reply;
    }
    QCoro::Task<halcyra::ConsentAndSignHashesResponse> consentAndSignHashes(
        halcyra::ConsentAndSignHashesRequest request) override {
        signRequests.push_back(request);
        co_await signatureGate.pass();
        if (signError)
            throw *signError;
        co_return halcyra::ConsentAndSignHashesResponse{signatures};
    }
    QCoro::Task<halcyra::AccountStatusDetails> getAccountStatus(std::string) override { throw unused(); }
    QCoro::Task<halcyra::SigningInfoDetails> getSignatureInfo(std::string) override { throw unused(); }
    QCoro::Task<void> deleteAccount(std::string, std::string) override { throw unused(); }

  private:
    static HalcyraError unused() { return HalcyraError::otherError("not used"); }
};

// The authentication facade: for a card it asks the card's PIN through the card's own events, then
// completes with a new session "server-<n>" registered in the store; for the wallet it completes at once.
// `script` replaces all of that.
class FakeFacade : public QuorvaneAPIClient {
  public:
    explicit FakeFacade(std::shared_ptr<SigningSessionDatabaseClient> store) : store_(std::move(store)) {}

    std::optional<std::vector<AuthenticateFlowEvent>> script;
    bool newCertificateRetrieved = false;
    std::vector<std::string> logins;  // "<kind> <sessionId>"

    platform::AsyncStream<AuthenticateFlowEvent> runAuthentication(SigningSessionContext context,
                                                                   bool retrieveCertificate) override {
        logins.push_back(
            std::string(context.kind() == SigningSessionContext::Kind::card ? "card " : "wallet ") +
            context.sessionId() + (retrieveCertificate ? " with certificate" : ""));
        auto [stream, continuation] = platform::AsyncStream<AuthenticateFlowEvent>::make();
        continuation.yield(AuthenticateFlowEvent::ongoing());
        if (script) {
            for (const auto& event : *script)
                continuation.yield(event);
            continuation.finish();
            return stream;
        }
        auto session = store_->registerSession(context, platform::Date(std::chrono::seconds(1'800'003'600)));
        if (context.kind() == SigningSessionContext::Kind::card)
            continuation.yield(AuthenticateFlowEvent::signingEvent(
                CardSigningEvent::pinRequested([continuation, session, this](const std::string&) mutable {
                    continuation.yield(AuthenticateFlowEvent::completed(session, newCertificateRetrieved));
                    continuation.finish();
                })));
        else {
            continuation.yield(AuthenticateFlowEvent::completed(session, newCertificateRetrieved));
            continuation.finish();
        }
        return stream;
    }

  private:
    std::shared_ptr<SigningSessionDatabaseClient> store_;
};

// The doubles in the dependency keys, the real session store on the virtual clock, a card "card-1" in its
// reader, and what the model opens and reports.
struct Rig {
    Rig() {
        DependencyValues::shared().reset();
        reader->cards = {card};
        Dependency<LoggerClientKey>().set(std::make_shared<LoggerClient>("ui"));
        Dependency<AuthenticateAPIClientKey>().set(authenticate);
        Dependency<RemoteSigningAPIClientKey>().set(remote);
        Dependency<QuorvaneAPIKey>().set(facade);
        Dependency<SigningSessionDatabaseKey>().set(sessions.store);
        Dependency<PindleClientKey>().set(reader);
        Dependency<LaunchAgentServiceKey>().set(launchAgent);
        Dependency<XPCClientKey>().set(xpc);
    }
    ~Rig() {
        settle();
        DependencyValues::shared().reset();
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    std::shared_ptr<SigningViewModel> make(SigningRequestType request) {
        auto model = std::make_shared<SigningViewModel>(
            std::move(request),
            [completions = completions](std::optional<AppError> error) {
                completions->push_back(std::move(error));
            },
            scheduler, [opened = opened](const std::string& url) { opened->push_back(url); });
        return model;
    }
    // Runs posted work and the event loop (stream events) until nothing is left.
    void settle() {
        for (int round = 0; round < 30; ++round) {
            scheduler->runPending();
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
    // A session for the context that lasts the given time.
    SigningSession addSession(const SigningSessionContext& context, std::chrono::seconds lifetime) {
        return sessions.store->registerSession(context, scheduler->now() + lifetime);
    }

    testsupport::SessionStoreRig sessions;
    std::shared_ptr<platform::VirtualScheduler> scheduler = sessions.scheduler;
    std::shared_ptr<ScriptedCard> card = std::make_shared<ScriptedCard>("card-1");
    std::shared_ptr<sessiontest::FakePindleClient> reader = std::make_shared<sessiontest::FakePindleClient>();
    std::shared_ptr<FakeAuthenticateClient> authenticate = std::make_shared<FakeAuthenticateClient>();
    std::shared_ptr<FakeRemoteSigningClient> remote = std::make_shared<FakeRemoteSigningClient>();
    std::shared_ptr<FakeFacade> facade = std::make_shared<FakeFacade>(sessions.store);
    std::shared_ptr<testsupport::FakeLaunchAgentService> launchAgent =
        std::make_shared<testsupport::FakeLaunchAgentService>(true);
    std::shared_ptr<testsupport::RecordingXPCClient> xpc =
        std::make_shared<testsupport::RecordingXPCClient>();
    std::shared_ptr<std::vector<std::optional<AppError>>> completions =
        std::make_shared<std::vector<std::optional<AppError>>>();
    std::shared_ptr<std::vector<std::string>> opened = std::make_shared<std::vector<std::string>>();
};

// A bulk request for the token with documents of the given Base64 hashes, answered at the callback.
inline SigningRequestType bulk(std::string tokenId, std::vector<std::string> hashes,
                               std::string callback = "https://example.org/cb") {
    BulkSigningRequest request{"1.0", std::move(tokenId), {}};
    int number = 0;
    for (auto& hash : hashes)
        request.signData.push_back({std::move(hash), "document-" + std::to_string(++number) + ".pdf"});
    return SigningRequestType::bulk(std::move(request), std::move(callback));
}

}  // namespace signingtest
