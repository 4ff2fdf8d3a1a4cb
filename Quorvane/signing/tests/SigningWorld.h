#pragma once
// The signing flow's real world for its tests: the live rig, whose stand-in server has the accounts of a card
// holder and a wallet's holder, the stand-in bridge with two cards in their readers (the second holder has no
// account), and per case the app started afresh on it.
#include <gtest/gtest.h>

#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/QuorvaneAPI.h"
#include "Quorvane/core/SigningSessionDatabase.h"
#include "Quorvane/core/TokenDriverConfiguration.h"
#include "Quorvane/testing/LiveRig.h"
#include "cardbridge/VexoConnectInvoker.h"
#include "platform/Codecs.h"
#include "platform/testing/Await.h"
#include "platform/testing/Eventually.h"
#include "platform/testing/TestPKI.h"
#include "sim/testing/SimBridge.h"

namespace signingworld {

using halcyra::AuthenticationMethod;
using Json = platform::json::Json;
using platform::Bytes;
using testsupport::await;
using testsupport::eventually;
using namespace std::chrono_literals;

inline const std::string pin = "1234";

// The holders: the card holder and the wallet's holder have accounts with a signing certificate; the second
// card's holder has none.
enum class Holder { card, wallet, cardWithoutAccount };

inline QCoro::Task<bool> completedLogin(platform::AsyncStream<AuthenticateFlowEvent> events) {
    bool completed = false;
    while (auto event = co_await events.next()) {
        if (event->cardSigningEvent && event->cardSigningEvent->providePinClosure)
            event->cardSigningEvent->providePinClosure(pin);
        completed = completed || event->kind == AuthenticateFlowEvent::Kind::completed;
    }
    co_return completed;
}

inline QCoro::Task<Bytes> cardSignature(std::shared_ptr<pindle::Card> card, Bytes data) {
    auto events = card->sign(data);
    Bytes signature;
    while (auto event = co_await events.next()) {
        if (event->providePinClosure) {
            event->providePinClosure(pin);
            continue;
        }
        EXPECT_EQ(event->kind, pindle::CardSigningEvent::Kind::finished) << event->errorValue;
        signature = event->signature;
        card->cancelOngoingOperation();
    }
    co_return signature;
}

class World;

// The app for one case: started afresh on the world's server (a session store on a token folder of its own,
// the facade that logs in as the app does), with its services in the dependency container.
struct App {
    explicit App(World& world);
    ~App() { DependencyValues::shared().reset(); }
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // A login as the app makes one: a new server session, confirmed by the card's PIN or the wallet, and
    // registered in the session store.
    SigningSessionContext logIn(Holder holder);
    std::optional<Bytes> installed(const SigningSessionContext& context) const {
        return tokens->certificateData(context.tokenIdentifier());
    }

    World& world;
    platform::tokens::TokenStore tokenStore;
    std::shared_ptr<TokenDriverConfiguration> tokens;
    std::shared_ptr<SigningSessionDatabase> database;
    std::shared_ptr<QuorvaneAPI> facade;
};

// The stand-in server with the accounts of the card holder and the wallet's holder, and the stand-in bridge
// with the two cards in their readers.
class World : public testsupport::LiveRig {
  public:
    World() {
        bridge.addReader(simtest::reader("standard", simtest::softCard(cardHolder, pin), "Reader 1"));
        bridge.addReader(
            simtest::reader("standard", simtest::softCard(holderWithoutAccount, pin), "Reader 2"));
        bridge.install();
        for (const auto& card : await(pindle->onlyCurrentCards()))
            (card->lastName() == "Peeters" ? peeters : claes) = card;
        if (!peeters || !claes)
            throw std::runtime_error("the stand-in bridge does not show both cards");
        createAccounts();
    }
    ~World() {
        eventually([] { return pindle::VexoConnectInvoker::liveProcessCount() == 0; }, 30s);
    }

    std::shared_ptr<pindle::Card> card(Holder holder) const {
        return holder == Holder::cardWithoutAccount ? claes : peeters;
    }
    int signatureInfoRequests() const {
        int count = 0;
        for (const auto& request : server.requests())
            count += request.path.ends_with("/rsign/getSignatureInfo");
        return count;
    }
    Bytes serverCertificate(const SigningSessionContext& context) {
        return await(remote->getSignatureInfo(context.sessionId())).signingCertificate;
    }

    testsupport::Issued cardHolder = testsupport::issueCitizenCard("Ann", "Peeters", "71715100070");
    testsupport::Issued holderWithoutAccount = testsupport::issueCitizenCard("Bram", "Claes", "93051822361");
    simtest::SimBridge bridge;
    std::shared_ptr<pindle::Card> peeters;
    std::shared_ptr<pindle::Card> claes;

  private:
    // The holders sign the subscriber agreement, with the card and in the wallet; the server issues their
    // signing certificates.
    void createAccounts() {
        App app(*this);
        auto card = app.logIn(Holder::card);
        auto data = await(onboarding->confirmUserData({card.sessionId(), "en", "agreement.pdf"}));
        if (!data.eid)
            throw std::runtime_error("no hash to sign for the card");
        auto signature = await(cardSignature(peeters, *platform::base64URLDecoded(data.eid->hashToSign)));
        await(onboarding->signAgreement(halcyra::SignAgreementRequest(
            data.onboardingSessionId,
            {platform::base64Encoded(peeters->certificateData()), platform::base64Encoded(signature)})));

        auto wallet = app.logIn(Holder::wallet);
        data = await(onboarding->confirmUserData({wallet.sessionId(), "en", "agreement.pdf"}));
        if (!data.wallet)
            throw std::runtime_error("no poll session for the wallet");
        server.control("/wallet",
                       Json{{"pollSessionId", data.wallet->pollSessionId}, {"state", "AUTHENTICATED"}});
        await(onboarding->signAgreement(halcyra::SignAgreementRequest(
            data.onboardingSessionId, halcyra::SignAgreementRequest::Wallet{data.wallet->pollSessionId})));
    }
};

inline App::App(World& world) : world(world) {
    world.restartApp();
    world.install();
    tokenStore = world.tokenStore;
    tokens = world.tokens;
    database = world.database;
    facade = world.api;
}

inline SigningSessionContext App::logIn(Holder holder) {
    auto sessionId = await(world.auth->getAuthenticationMethods(database->clientData(),
                                                                halcyra::LevelOfAssurance::substantial))
                         .sessionId;
    std::optional<SigningSessionContext> context;
    if (holder == Holder::wallet) {
        auto data = await(world.auth->getAuthenticationMethodData(AuthenticationMethod::wallet, sessionId));
        if (!data.wallet)
            throw std::runtime_error("no poll session for the wallet");
        world.server.control("/wallet",
                             Json{{"pollSessionId", data.wallet->pollSessionId}, {"state", "AUTHENTICATED"}});
        context = SigningSessionContext::wallet(sessionId, data.wallet->pollSessionId);
    } else {
        context = SigningSessionContext::card(sessionId, world.card(holder));
    }
    if (!await(completedLogin(facade->runAuthentication(*context, false))))
        throw std::runtime_error("the login did not complete");
    return *context;
}

}  // namespace signingworld
