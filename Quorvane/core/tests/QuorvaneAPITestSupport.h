#pragma once
// Doubles and helpers for the authentication facade's tests: a card that plays a script of signing events,
// scripted API clients, a session store that records the facade's calls, a reader of event streams, and the
// stand-in bridge with one card.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include "Quorvane/core/QuorvaneAPI.h"
#include "cardbridge/VexoConnectInvoker.h"
#include "platform/Codecs.h"
#include "platform/Json.h"
#include "platform/testing/Eventually.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"
#include "sim/testing/SimBridge.h"

namespace authtest {

using Json = nlohmann::ordered_json;
using pindle::CardSigningEvent;
using testsupport::eventually;
using Events = std::vector<AuthenticateFlowEvent>;

// A card whose signature plays `script`, then ends its stream unless `keepOpen`; an open stream ends with
// cancelOngoingOperation(), as a card's does.
class ScriptedCard : public pindle::Card {
  public:
    explicit ScriptedCard(std::vector<CardSigningEvent> script = {}, std::string id = "CARD-1")
        : script(std::move(script)), id_(std::move(id)) {}

    std::vector<CardSigningEvent> script;
    bool keepOpen = false;
    platform::Bytes certificate = {0xfb, 0xff, 0x3e,
                                   0x01};  // standard Base64 "+/8+AQ==": tells the alphabets apart
    std::vector<platform::Bytes> signedData;

    std::string firstName() const override { return first; }
    std::string lastName() const override { return last; }
    std::string nationalRegisterNumber() const override { return "71715100070"; }
    std::string uniqueIdentifier() const override { return id_; }
    std::optional<platform::Date> notValidBefore() const override { return validFrom; }
    std::optional<platform::Date> notValidAfter() const override { return validUntil; }
    platform::Bytes certificateData() const override { return certificate; }
    platform::AsyncStream<CardSigningEvent> sign(const platform::Bytes& data) override {
        signedData.push_back(data);
        auto [stream, continuation] = platform::AsyncStream<CardSigningEvent>::make();
        for (const auto& event : script)
            continuation.yield(event);
        if (keepOpen)
            open_ = continuation;
        else
            continuation.finish();
        return stream;
    }
    void cancelOngoingOperation() override {
        if (open_)
            open_->finish();
        open_.reset();
    }
    void retryOngoingOperation() override {}

    std::string first = "Ann";
    std::string last = "Peeters";
    std::optional<platform::Date> validFrom;
    std::optional<platform::Date> validUntil;

  private:
    std::string id_;
    std::optional<platform::AsyncStream<CardSigningEvent>::Continuation> open_;
};

class ScriptedAuthenticateClient : public halcyra::AuthenticateAPIClient {
  public:
    halcyra::AuthenticationMethodDataResponse methodData;
    std::optional<halcyra::HalcyraError> methodDataError;
    std::optional<halcyra::HalcyraError> authenticateError;
    platform::Date expirationDate = platform::Date(std::chrono::seconds(1'900'000'000));

    std::vector<std::pair<halcyra::AuthenticationMethod, std::string>> methodDataCalls;
    std::vector<halcyra::AuthenticateRequest> authenticateCalls;

    QCoro::Task<halcyra::AuthenticationMethodsResponse> getAuthenticationMethods(
        std::string, halcyra::LevelOfAssurance) override {
        throw halcyra::HalcyraError::otherError("not used");
        co_return halcyra::AuthenticationMethodsResponse{};
    }
    QCoro::Task<halcyra::AuthenticationMethodDataResponse> getAuthenticationMethodData(
        halcyra::AuthenticationMethod method, std::string sessionId) override {
        methodDataCalls.emplace_back(method, sessionId);
        if (methodDataError)
            throw *methodDataError;
        auto reply = methodData;
        co_return reply;
    }
    QCoro::Task<halcyra::AuthenticateResult> authenticate(halcyra::AuthenticateRequest request) override {
        authenticateCalls.push_back(request);
        if (authenticateError)
            throw *authenticateError;
        co_return halcyra::AuthenticateResult{halcyra::AuthenticationState::ready,
                                              halcyra::AuthenticationMethod::eid, expirationDate};
    }
};

class ScriptedRemoteSigningClient : public halcyra::RemoteSigningAPIClient {
  public:
    halcyra::SigningInfoDetails info{halcyra::SigningStatus::ready, 100, {}, {}};
    std::optional<halcyra::HalcyraError> infoError;
    std::vector<std::string> infoCalls;

    QCoro::Task<halcyra::SigningInfoDetails> getSignatureInfo(std::string authSessionId) override {
        infoCalls.push_back(authSessionId);
        if (infoError)
            throw *infoError;
        auto reply = info;
        co_return reply;
    }
    QCoro::Task<halcyra::AccountStatusDetails> getAccountStatus(std::string) override { throw unused(); }
    QCoro::Task<void> deleteAccount(std::string, std::string) override { throw unused(); }
    QCoro::Task<halcyra::GetDataToConsentResponse> getDataToConsent(
        halcyra::GetDataToConsentRequest) override {
        throw unused();
    }
    QCoro::Task<halcyra::ConsentAndSignHashesResponse> consentAndSignHashes(
        halcyra::ConsentAndSignHashesRequest) override {
        throw unused();
    }

  private:
    static halcyra::HalcyraError unused() { return halcyra::HalcyraError::otherError("not used"); }
};

// A session store that passes every call to a real one and records what the facade asked of it.
class RecordingStore : public SigningSessionDatabaseClient {
  public:
    explicit RecordingStore(std::shared_ptr<SigningSessionDatabaseClient> inner) : inner(std::move(inner)) {}
    std::shared_ptr<SigningSessionDatabaseClient> inner;
    std::vector<std::string> certificateInfoLookups;  // token identifiers
    std::vector<std::string> tokenRegistrations;      // token identifiers

    std::string clientData() const override { return inner->clientData(); }
    std::vector<SigningSession> authenticatedSessions() const override {
        return inner->authenticatedSessions();
    }
    void cleanUpSessions() override { inner->cleanUpSessions(); }
    void removeAllTokens() override { inner->removeAllTokens(); }
    void purgeSession(const SigningSessionContext& c) override { inner->purgeSession(c); }
    void purgeSessionAndToken(const std::string& id) override { inner->purgeSessionAndToken(id); }
    void purgeExpiredSessionsAndTokens() override { inner->purgeExpiredSessionsAndTokens(); }
    void startPrivacyPurgeIfEnabled() override { inner->startPrivacyPurgeIfEnabled(); }
    void startImmediatePrivacyPurge() override { inner->startImmediatePrivacyPurge(); }
    void flushImmediatePrivacyPurge() override { inner->flushImmediatePrivacyPurge(); }
    bool removeTokenIfCertificateInvalid(const SigningSessionContext& c) override {
        return inner->removeTokenIfCertificateInvalid(c);
    }
    std::optional<SigningSession> activeSession(const SigningSessionContext& c, bool forSigning) override {
        return inner->activeSession(c, forSigning);
    }
    QCoro::Task<bool> hasUsableCardSessions() override { return inner->hasUsableCardSessions(); }
    std::optional<SigningCertificateInfo> signingCertificateInfo(const SigningSessionContext& c) override {
        certificateInfoLookups.push_back(c.tokenIdentifier());
        return inner->signingCertificateInfo(c);
    }
    void removeToken(const SigningSessionContext& c) override { inner->removeToken(c); }
    SigningSession registerSession(const SigningSessionContext& c, platform::Date expirationDate) override {
        return inner->registerSession(c, expirationDate);
    }
    std::optional<SigningSession> updateSessionHolder(const SigningSessionContext& c,
                                                      const halcyra::AccountStatusDetails& status) override {
        return inner->updateSessionHolder(c, status);
    }
    bool registerToken(const SigningSessionContext& c, const platform::Bytes& certificateData) override {
        tokenRegistrations.push_back(c.tokenIdentifier());
        return inner->registerToken(c, certificateData);
    }
};

// A card reader without cards, for stores whose card sessions are not looked at.
class NoCardsPindleClient : public pindle::PindleClient {
  public:
    QCoro::Task<std::vector<std::shared_ptr<pindle::Card>>> onlyCurrentCards() override {
        co_return std::vector<std::shared_ptr<pindle::Card>>{};
    }
    platform::AsyncStream<pindle::CardFetchingEvent> currentCards() override {
        auto [stream, continuation] = platform::AsyncStream<pindle::CardFetchingEvent>::make();
        continuation.finish();
        return stream;
    }
    QCoro::Task<std::shared_ptr<pindle::Card>> getCard(std::string) override {
        co_return std::shared_ptr<pindle::Card>();
    }
};

struct Collected {
    Events events;
    bool ended = false;
};

inline QCoro::Task<> consume(platform::AsyncStream<AuthenticateFlowEvent> stream,
                             std::shared_ptr<Collected> into,
                             std::function<void(const AuthenticateFlowEvent&)> onEvent) {
    while (auto event = co_await stream.next()) {
        if (onEvent)
            onEvent(*event);
        into->events.push_back(std::move(*event));
    }
    into->ended = true;
}

// Every event of the stream until it ends (a failure when it does not end within 30 s). `onEvent` sees each
// event as it arrives, e.g. to type a PIN.
inline Events collect(platform::AsyncStream<AuthenticateFlowEvent> stream,
                      std::function<void(const AuthenticateFlowEvent&)> onEvent = {}) {
    auto collected = std::make_shared<Collected>();
    consume(std::move(stream), collected, std::move(onEvent));
    EXPECT_TRUE(eventually([&] { return collected->ended; }, std::chrono::seconds(30)))
        << "the event stream did not end";
    return collected->events;
}

// A short text per event, so that a whole stream compares as one list.
inline std::string describe(const AuthenticateFlowEvent& event) {
    using Kind = AuthenticateFlowEvent::Kind;
    switch (event.kind) {
        case Kind::ongoing:
            return "ongoing";
        case Kind::completed:
            return std::string("completed ") + (event.newCertificateRetrieved ? "new" : "kept");
        case Kind::error:
            switch (event.halcyraError->kind()) {
                case halcyra::HalcyraError::Kind::backendError:
                    return "error backend " + std::to_string(event.halcyraError->statusCode());
                case halcyra::HalcyraError::Kind::networkError:
                    return "error network";
                case halcyra::HalcyraError::Kind::otherError:
                    return "error other";
            }
            return "error";
        case Kind::signingEvent:
            switch (event.cardSigningEvent->kind) {
                case CardSigningEvent::Kind::pinRequested:
                    return "card pinRequested";
                case CardSigningEvent::Kind::wrongPin:
                    return "card wrongPin " + std::to_string(event.cardSigningEvent->attemptsLeft);
                case CardSigningEvent::Kind::failed:
                    return "card failed " + event.cardSigningEvent->errorCode;
                case CardSigningEvent::Kind::finished:
                    return "card finished";
                case CardSigningEvent::Kind::waitingForHarwarePinInput:
                    return "card waitingForHarwarePinInput";
                case CardSigningEvent::Kind::failedButCouldBeCancelledOrWrongPin:
                    return "card failedButCouldBeCancelledOrWrongPin";
                case CardSigningEvent::Kind::failedBecauseOfCardRemoval:
                    return "card failedBecauseOfCardRemoval";
            }
    }
    return "?";
}

inline std::vector<std::string> describe(const Events& events) {
    std::vector<std::string> out;
    for (const auto& event : events)
        out.push_back(describe(event));
    return out;
}

// --- The stand-in bridge

// The stand-in bridge with one standard reader holding a software card. On its way out it waits until the
// card layer has reaped the runs still waiting for their end.
class Bridge : public simtest::SimBridge {
  public:
    explicit Bridge(const testsupport::Issued& card, const std::string& pin = "1234") {
        addReader(simtest::reader("standard", simtest::softCard(card, pin), "Reader 1"));
        install();
    }
    ~Bridge() {
        eventually([] { return pindle::VexoConnectInvoker::liveProcessCount() == 0; },
                   std::chrono::seconds(30));
    }
};

}  // namespace authtest
