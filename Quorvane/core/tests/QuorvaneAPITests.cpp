// The authentication facade: event orders, what reaches the server and the card, the certificate step, and
// the whole road against the stand-in server and bridge.
#include <QDateTime>
#include <QLocale>

#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/SigningSessionDatabase.h"
#include "Quorvane/core/TokenDriverConfiguration.h"
#include "Quorvane/testing/FakeAuthenticateClient.h"
#include "Quorvane/testing/FakeCard.h"
#include "Quorvane/testing/FakePindleClient.h"
#include "Quorvane/testing/FakeRemoteSigningClient.h"
#include "Quorvane/testing/FakeSessionStore.h"
#include "Quorvane/testing/LiveRig.h"
#include "Quorvane/testing/SessionStoreRig.h"
#include "Quorvane/testing/StandInBridge.h"
#include "QuorvaneAPITestSupport.h"
#include "cardbridge/PindleClientVexoConnect.h"
#include "outside/Common/Common.h"
#include "platform/VirtualScheduler.h"
#include "platform/qt/TlsTrust.h"
#include "platform/testing/Await.h"
#include "platform/testing/TestPKI.h"
#include "sim/testing/SimServerProcess.h"

using namespace authtest;
using halcyra::AuthenticationMethod;
using halcyra::HalcyraError;
using platform::Bytes;
using Json = platform::json::Json;
using testsupport::await;
using Lines = std::vector<std::string>;
using CardKind = CardSigningEvent::Kind;

namespace {

const std::string walletToken = "WALLET_TOKEN_IDENTIFIER";
const std::string retrievalFailed = "Certificate retrieval failed during authentication: ";

Bytes signingCertificate(const std::string& serialNumber = "85073003328") {
    testsupport::CertificateRequest request;
    request.givenName = "Lotte";
    request.surname = "Verbeke";
    request.serialNumber = serialNumber;
    return testsupport::makeSelfSigned(request).der();
}

std::vector<std::string> errorLines(const LogCapture& log) {
    std::vector<std::string> out;
    for (const auto& line : log.lines())
        if (line.level == LogLevel::error)
            out.push_back(line.message);
    return out;
}

// The facade over the API clients' doubles and a real session store on a fresh token folder, whose calls are
// logged.
struct Rig {
    explicit Rig(bool driverInstalled = true) {
        sessions.settings->setPrivacyModeEnabled(false);
        if (!driverInstalled)
            std::filesystem::remove_all(tokenStore.driverFolder());
        log.clear();
    }

    // A card "CARD-1" whose signature plays the script.
    std::shared_ptr<testsupport::FakeCard> card(std::vector<CardSigningEvent> script) {
        auto card = std::make_shared<testsupport::FakeCard>("CARD-1");
        card->script = std::move(script);
        return card;
    }
    Events run(const SigningSessionContext& context, bool retrieveCertificate = false) {
        return collect(api->runAuthentication(context, retrieveCertificate));
    }
    std::optional<Bytes> token(const std::string& id) const { return sessions.tokens->certificateData(id); }

    testsupport::SessionStoreRig sessions{std::make_shared<testsupport::FakePindleClient>()};
    const platform::tokens::TokenStore& tokenStore = sessions.tokens->store();
    std::shared_ptr<LoggerClient> logger = sessions.logger;
    std::shared_ptr<SigningSessionDatabase> database = sessions.store;
    std::shared_ptr<testsupport::FakeSessionStore> store =
        std::make_shared<testsupport::FakeSessionStore>(std::make_shared<testsupport::CallLog>(), database);
    std::shared_ptr<testsupport::FakeAuthenticateClient> auth =
        std::make_shared<testsupport::FakeAuthenticateClient>();
    std::shared_ptr<testsupport::FakeRemoteSigningClient> remote =
        std::make_shared<testsupport::FakeRemoteSigningClient>();
    std::shared_ptr<QuorvaneAPI> api = std::make_shared<QuorvaneAPI>(
        QuorvaneAPI::always<halcyra::AuthenticateAPIClient>(auth), QuorvaneAPI::always(logger),
        QuorvaneAPI::always<halcyra::RemoteSigningAPIClient>(remote),
        QuorvaneAPI::always<SigningSessionDatabaseClient>(store));
    LogCapture log;
};

// A challenge whose Base64url text uses the URL-safe letters.
const Bytes challenge = {0xfb, 0xef, 0xff, 0xfe, 0x10, 0x20};
halcyra::AuthenticationMethodDataResponse challengeReply(std::string hashToSign) {
    halcyra::AuthenticationMethodDataResponse reply;
    reply.eid = halcyra::AuthenticationMethodDataResponse::EID{std::move(hashToSign), "SHA-256"};
    return reply;
}

}  // namespace

// --- The two logins

TEST(QuorvaneAPI, WalletLoginAuthenticatesWithThePollSessionAndRegistersTheSession) {
    Rig rig;
    auto events = rig.run(SigningSessionContext::wallet("S-wallet", "P-wallet"));

    EXPECT_EQ(describe(events), (Lines{"ongoing", "completed kept"}));
    EXPECT_TRUE(rig.auth->methodDataCalls.requests.empty()) << "the wallet login was confirmed before";
    ASSERT_EQ(rig.auth->authenticateCalls.requests.size(), 1u);
    const auto& request = rig.auth->authenticateCalls.requests[0];
    EXPECT_EQ(request.sessionId(), "S-wallet");
    ASSERT_TRUE(request.wallet());
    EXPECT_EQ(request.wallet()->pollSessionId, "P-wallet");
    EXPECT_FALSE(request.eid());
    EXPECT_TRUE(rig.remote->signatureInfoCalls.requests.empty());

    ASSERT_TRUE(events.back().session);
    const SigningSession& session = *events.back().session;
    EXPECT_EQ(session.internalSessionId, walletToken);
    EXPECT_EQ(session.orchestratorSessionId, "S-wallet");
    EXPECT_EQ(std::chrono::round<std::chrono::seconds>(session.expirationDate()), rig.auth->expirationDate);
    EXPECT_EQ(rig.database->authenticatedSessions(), std::vector<SigningSession>{session});
}

TEST(QuorvaneAPI, CardLoginPassesThePinEventsOnAndSendsItsProofInStandardBase64) {
    Rig rig;
    Bytes signature = {0xfb, 0xff, 0x01, 0x02};
    auto card = rig.card({CardSigningEvent::pinRequested([](const std::string&) {}),
                          CardSigningEvent::wrongPin(2, [](const std::string&) {}),
                          CardSigningEvent::finished(signature)});
    rig.auth->methodData = challengeReply(platform::base64URLEncoded(challenge));
    ASSERT_NE(platform::base64URLEncoded(challenge).find_first_of("-_"), std::string::npos);

    auto events = rig.run(SigningSessionContext::card("S-card", card));

    // The card's `finished` stays inside the facade.
    EXPECT_EQ(describe(events), (Lines{"ongoing", "card pinRequested", "card wrongPin 2", "completed kept"}));
    EXPECT_EQ(events[1].cardSigningEvent->kind, CardKind::pinRequested);
    EXPECT_TRUE(events[1].cardSigningEvent->providePinClosure) << "the PIN callback reaches the screen";
    ASSERT_EQ(rig.auth->methodDataCalls.requests.size(), 1u);
    EXPECT_EQ(rig.auth->methodDataCalls.requests[0].first, AuthenticationMethod::eid);
    EXPECT_EQ(rig.auth->methodDataCalls.requests[0].second, "S-card");
    EXPECT_EQ(card->signedData, std::vector<Bytes>{challenge});

    ASSERT_EQ(rig.auth->authenticateCalls.requests.size(), 1u);
    const auto& request = rig.auth->authenticateCalls.requests[0];
    EXPECT_EQ(request.sessionId(), "S-card");
    ASSERT_TRUE(request.eid());
    EXPECT_FALSE(request.wallet());
    EXPECT_EQ(request.eid()->authenticationCertificate, "+/8+AQ==");
    EXPECT_EQ(request.eid()->signature, "+/8BAg==");

    ASSERT_TRUE(events.back().session);
    EXPECT_EQ(events.back().session->internalSessionId, "CARD-1");
    EXPECT_EQ(events.back().session->orchestratorSessionId, "S-card");
    EXPECT_EQ(rig.database->authenticatedSessions().size(), 1u);
}

TEST(QuorvaneAPI, ACardSignatureWithoutASignatureEndsTheStreamAndRegistersNothing) {
    auto noop = [](const std::string&) {};
    struct Case {
        const char* name;
        std::vector<CardSigningEvent> script;
        Lines expected;
    };
    const std::vector<Case> cases = {
        {"failed",
         {CardSigningEvent::pinRequested(noop), CardSigningEvent::failed("001", "general_error")},
         {"ongoing", "card pinRequested", "card failed 001"}},
        {"events after failed are not passed on",
         {CardSigningEvent::failed("002", "bridge"), CardSigningEvent::pinRequested(noop),
          CardSigningEvent::finished({1})},
         {"ongoing", "card failed 002"}},
        {"the card's stream ends without a signature",
         {CardSigningEvent::of(CardKind::waitingForHarwarePinInput),
          CardSigningEvent::of(CardKind::failedButCouldBeCancelledOrWrongPin),
          CardSigningEvent::of(CardKind::failedBecauseOfCardRemoval)},
         {"ongoing", "card waitingForHarwarePinInput", "card failedButCouldBeCancelledOrWrongPin",
          "card failedBecauseOfCardRemoval"}},
        {"nothing from the card", {}, {"ongoing"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.auth->methodData = challengeReply(platform::base64URLEncoded(challenge));
        auto events = rig.run(SigningSessionContext::card("S-card", rig.card(c.script)));
        EXPECT_EQ(describe(events), c.expected);
        EXPECT_TRUE(rig.auth->authenticateCalls.requests.empty());
        EXPECT_TRUE(rig.database->authenticatedSessions().empty());
    }
}

TEST(QuorvaneAPI, AFailedCardSignatureEndsTheStreamWhileTheCardIsStillOpen) {
    // A blocked card keeps its stream open until the screen cancels; the screen must not wait for that.
    Rig rig;
    rig.auth->methodData = challengeReply(platform::base64URLEncoded(challenge));
    auto card = rig.card({CardSigningEvent::failed("003", "Card PIN is blocked")});
    card->keepOpen = true;

    auto events = rig.run(SigningSessionContext::card("S-card", card));
    EXPECT_EQ(describe(events), (Lines{"ongoing", "card failed 003"}));

    card->cancelOngoingOperation();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(rig.auth->authenticateCalls.requests.empty());
    EXPECT_TRUE(rig.database->authenticatedSessions().empty());
}

TEST(QuorvaneAPI, AChallengeThatIsMissingOrUndecodableFailsBeforeTheCardIsAsked) {
    struct Case {
        const char* name;
        halcyra::AuthenticationMethodDataResponse reply;
    };
    halcyra::AuthenticationMethodDataResponse walletOnly;
    walletOnly.wallet = halcyra::AuthenticationMethodDataResponse::Wallet{"P"};
    const std::vector<Case> cases = {
        {"no eid part", walletOnly},
        {"not Base64url", challengeReply("a+b/c=")},
        {"not Base64 at all", challengeReply("***")},
        {"empty", challengeReply("")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.auth->methodData = c.reply;
        auto card = rig.card({CardSigningEvent::finished({1, 2})});
        auto events = rig.run(SigningSessionContext::card("S-card", card));
        EXPECT_EQ(describe(events), (Lines{"ongoing", "error other"}));
        EXPECT_TRUE(card->signedData.empty()) << "no PIN for nothing";
        EXPECT_TRUE(rig.auth->authenticateCalls.requests.empty());
        EXPECT_TRUE(rig.database->authenticatedSessions().empty());
    }
}

TEST(QuorvaneAPI, AServerErrorEndsTheStreamWithThatErrorAndRegistersNothing) {
    auto backend = [](int status) {
        return HalcyraError::backendError(status, {"support-1"}, "Server says no " + std::to_string(status),
                                          std::nullopt);
    };
    struct Case {
        const char* name;
        bool card;
        std::optional<HalcyraError> methodDataError;
        std::optional<HalcyraError> authenticateError;
        Lines expected;
    };
    const std::vector<Case> cases = {
        {"method data (card)", true, backend(503), std::nullopt, {"ongoing", "error backend 503"}},
        {"authenticate (card)", true, std::nullopt, backend(401), {"ongoing", "error backend 401"}},
        {"authenticate (wallet)", false, std::nullopt, backend(400), {"ongoing", "error backend 400"}},
        {"network (wallet)",
         false,
         std::nullopt,
         HalcyraError::networkError(std::make_exception_ptr(std::runtime_error("reset"))),
         {"ongoing", "error network"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.auth->methodData = challengeReply(platform::base64URLEncoded(challenge));
        rig.auth->methodDataCalls.error = c.methodDataError;
        rig.auth->authenticateCalls.error = c.authenticateError;
        auto context = c.card ? SigningSessionContext::card("S", rig.card({CardSigningEvent::finished({7})}))
                              : SigningSessionContext::wallet("S", "P");
        auto events = rig.run(context, true);
        EXPECT_EQ(describe(events), c.expected);
        const HalcyraError& sent = c.methodDataError ? *c.methodDataError : *c.authenticateError;
        ASSERT_TRUE(events.back().halcyraError);
        EXPECT_EQ(events.back().halcyraError->errorDescription(), sent.errorDescription());
        EXPECT_EQ(events.back().halcyraError->supportIds(), sent.supportIds());
        EXPECT_TRUE(rig.database->authenticatedSessions().empty());
        EXPECT_TRUE(rig.remote->signatureInfoCalls.requests.empty());
    }
}

// --- The certificate step

TEST(QuorvaneAPI, CertificateRetrievalInstallsACertificateOnlyWhenItIsNew) {
    const Bytes first = signingCertificate();
    const Bytes renewed = signingCertificate();
    ASSERT_NE(first, renewed);
    for (bool card : {false, true}) {
        SCOPED_TRACE(card ? "card" : "wallet");
        Rig rig;
        rig.auth->methodData = challengeReply(platform::base64URLEncoded(challenge));
        auto context = card ? SigningSessionContext::card("S", rig.card({CardSigningEvent::finished({7})}))
                            : SigningSessionContext::wallet("S", "P");
        const std::string id = card ? "CARD-1" : walletToken;

        // Nothing held yet.
        rig.remote->signatureInfo.signingCertificate = first;
        EXPECT_EQ(describe(rig.run(context, true)), (Lines{"ongoing", "completed new"}));
        EXPECT_EQ(rig.remote->signatureInfoCalls.requests, Lines{"S"});
        EXPECT_EQ(rig.store->log->starting("signingCertificateInfo "), Lines{"signingCertificateInfo " + id});
        EXPECT_EQ(rig.token(id), first);

        // The same bytes again: nothing is written.
        EXPECT_EQ(describe(rig.run(context, true)), (Lines{"ongoing", "completed kept"}));
        EXPECT_EQ(rig.store->log->starting("registerToken "), Lines{"registerToken " + id});

        // A renewed certificate replaces the one held.
        rig.remote->signatureInfo.signingCertificate = renewed;
        EXPECT_EQ(describe(rig.run(context, true)), (Lines{"ongoing", "completed new"}));
        EXPECT_EQ(rig.token(id), renewed);
        auto configuration = rig.tokenStore.configuration(id);
        ASSERT_TRUE(configuration);
        EXPECT_EQ(configuration->keychainItems.size(), 2u);
        EXPECT_TRUE(errorLines(rig.log).empty());
    }
}

TEST(QuorvaneAPI, AFailedCertificateRetrievalStillCompletesInstallsNothingAndIsLogged) {
    const Bytes valid = signingCertificate();
    struct Case {
        const char* name;
        halcyra::SigningStatus status;
        Bytes certificate;
        std::optional<HalcyraError> error;
        bool driverInstalled;
        std::string logged;  // after the fixed beginning; a prefix
    };
    const std::vector<Case> cases = {
        {"server error", halcyra::SigningStatus::ready, valid,
         HalcyraError::backendError(500, {}, "Account service down", std::nullopt), true,
         "Account service down"},
        {"MISSING without bytes",
         halcyra::SigningStatus::missing,
         {},
         std::nullopt,
         true,
         "Unexpected error"},
        {"MISSING with bytes", halcyra::SigningStatus::missing, valid, std::nullopt, true,
         "Unexpected error"},
        {"READY without bytes", halcyra::SigningStatus::ready, {}, std::nullopt, true, "Unexpected error"},
        {"READY with bytes that are no certificate",
         halcyra::SigningStatus::ready,
         {0x30, 0x03, 0x02, 0x01},
         std::nullopt,
         true,
         "Unexpected error"},
        {"the token cannot be written", halcyra::SigningStatus::ready, valid, std::nullopt, false,
         "Unexpected error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(c.driverInstalled);
        rig.remote->signatureInfo.status = c.status;
        rig.remote->signatureInfo.signingCertificate = c.certificate;
        rig.remote->signatureInfoCalls.error = c.error;

        auto events = rig.run(SigningSessionContext::wallet("S", "P"), true);

        EXPECT_EQ(describe(events), (Lines{"ongoing", "completed kept"}));
        EXPECT_EQ(rig.database->authenticatedSessions().size(), 1u) << "the session stands";
        EXPECT_FALSE(rig.token(walletToken));
        EXPECT_TRUE(rig.tokenStore.configurations().empty());
        auto errors = errorLines(rig.log);
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors.back().rfind(retrievalFailed + c.logged, 0), 0u) << errors.back();
    }
}

// --- Lifetime and collaborators

TEST(QuorvaneAPI, AFacadeGoneBeforeItsTaskBeginsGivesAStreamWithoutEvents) {
    Rig rig;
    auto stream = rig.api->runAuthentication(SigningSessionContext::wallet("S", "P"), true);
    rig.api.reset();
    EXPECT_TRUE(collect(stream).empty());
    EXPECT_TRUE(rig.auth->authenticateCalls.requests.empty());
}

TEST(QuorvaneAPI, CollaboratorsAreLookedUpOnEveryUse) {
    // An environment switch replaces the API clients; a facade made before must use the new ones.
    Rig rig;
    std::shared_ptr<halcyra::AuthenticateAPIClient> current = rig.auth;
    auto api = std::make_shared<QuorvaneAPI>([&current] { return current; }, QuorvaneAPI::always(rig.logger),
                                             QuorvaneAPI::always<halcyra::RemoteSigningAPIClient>(rig.remote),
                                             QuorvaneAPI::always<SigningSessionDatabaseClient>(rig.store));
    auto replacement = std::make_shared<testsupport::FakeAuthenticateClient>();
    current = replacement;
    EXPECT_EQ(describe(collect(api->runAuthentication(SigningSessionContext::wallet("S", "P"), false))),
              (Lines{"ongoing", "completed kept"}));
    EXPECT_TRUE(rig.auth->authenticateCalls.requests.empty());
    EXPECT_EQ(replacement->authenticateCalls.requests.size(), 1u);
}

TEST(QuorvaneAPI, ParallelAuthenticationsKeepTheirOwnStreams) {
    Rig rig;
    rig.auth->methodData = challengeReply(platform::base64URLEncoded(challenge));
    auto card = rig.card(
        {CardSigningEvent::pinRequested([](const std::string&) {}), CardSigningEvent::finished({9})});
    auto cardStream = rig.api->runAuthentication(SigningSessionContext::card("S-card", card), false);
    auto walletStream = rig.api->runAuthentication(SigningSessionContext::wallet("S-wallet", "P"), false);
    EXPECT_EQ(describe(collect(walletStream)), (Lines{"ongoing", "completed kept"}));
    EXPECT_EQ(describe(collect(cardStream)), (Lines{"ongoing", "card pinRequested", "completed kept"}));
    EXPECT_EQ(rig.database->authenticatedSessions().size(), 2u);
}

// --- Card display

TEST(CardDisplay, InitialsTakeTheFirstCharacterOfEachName) {
    struct Case {
        std::string first, last, expected;
    };
    const std::vector<Case> cases = {
        {"Ann", "Peeters", "AP"},
        {"", "Peeters", "P"},
        {"Ann", "", "A"},
        {"", "", ""},
        {" ann", "peeters", "p"},
        {"E\xCC\x81lodie", "\xC3\x98rsted", "E\xCC\x81\xC3\x98"},  // a combining accent stays with its letter
    };
    for (const auto& c : cases) {
        testsupport::FakeCard card;
        card.first = c.first;
        card.last = c.last;
        EXPECT_EQ(initials(card), c.expected) << "'" << c.first << "' '" << c.last << "'";
    }
    testsupport::FakeCard card;
    EXPECT_EQ(displayName(card), "Ann Peeters");
}

TEST(CardDisplay, ValidityTextShowsAQuestionMarkForAMissingDate) {
    testsupport::FakeCard card;
    EXPECT_EQ(validityText(card), "? - ?");
    card.validUntil = platform::Date(std::chrono::seconds(1'900'000'000));
    auto end = QLocale().toString(QDateTime::fromSecsSinceEpoch(1'900'000'000).date(), QLocale::ShortFormat);
    EXPECT_EQ(validityText(card), "? - " + end.toStdString());
}

// --- Against the stand-in server and the stand-in bridge

namespace {

// Types the PINs in turn whenever the card asks for one.
std::function<void(const AuthenticateFlowEvent&)> typing(std::vector<std::string> pins) {
    auto next = std::make_shared<std::size_t>(0);
    return [pins = std::move(pins), next](const AuthenticateFlowEvent& event) {
        if (!event.cardSigningEvent || !event.cardSigningEvent->providePinClosure)
            return;
        ASSERT_LT(*next, pins.size()) << "asked for one PIN too many";
        event.cardSigningEvent->providePinClosure(pins[(*next)++]);
    };
}

// The facade with the live API clients on the stand-in server, a session store and a token folder of its
// own, and the live card reader on the stand-in bridge.
struct Live : testsupport::LiveRig {
    Live() : Live(std::vector<std::string>{}) {}
    explicit Live(std::vector<std::string> flags) : LiveRig(std::move(flags)) { log.clear(); }

    LogCapture log;

    std::string newAuthenticationSession() {
        return await(auth->getAuthenticationMethods("quorvane-tests", halcyra::LevelOfAssurance::high))
            .sessionId;
    }
    // A wallet login up to the wallet's confirmation, by polling as the wallet sheet does: the server session
    // and the poll session.
    std::pair<std::string, std::string> confirmedWalletLogin() {
        std::string sessionId = newAuthenticationSession();
        auto data = await(auth->getAuthenticationMethodData(AuthenticationMethod::wallet, sessionId));
        EXPECT_TRUE(data.wallet);
        std::string pollSessionId = data.wallet ? data.wallet->pollSessionId : "";
        for (int poll = 0; poll < 20; ++poll)
            if (await(wallet->pollWallet(pollSessionId)).status ==
                halcyra::WalletPollingStatus::authenticated)
                return {sessionId, pollSessionId};
        ADD_FAILURE() << "the wallet login was never confirmed";
        return {sessionId, pollSessionId};
    }
    std::optional<SigningSession> session(const std::string& tokenIdentifier) const {
        for (const auto& s : database->authenticatedSessions())
            if (s.internalSessionId == tokenIdentifier)
                return s;
        return std::nullopt;
    }
    Bytes serverCertificate(const std::string& sessionId) {
        return await(remote->getSignatureInfo(sessionId)).signingCertificate;
    }
};

Bytes signWithCard(pindle::Card& card, const Bytes& data, const std::string& pin) {
    auto stream = card.sign(data);
    while (auto event = await(stream.next())) {
        if (event->kind == CardKind::pinRequested) {
            event->providePinClosure(pin);
        } else if (event->kind == CardKind::finished) {
            card.cancelOngoingOperation();
            return event->signature;
        } else {
            ADD_FAILURE() << "the card answered " << static_cast<int>(event->kind) << " "
                          << event->errorValue;
            card.cancelOngoingOperation();
        }
    }
    return {};
}

// A card the stand-in server accepts: issued by the test card issuer it trusts.
testsupport::Issued cardCertificate() {
    return testsupport::issueCitizenCard("Ann", "Peeters", "71715100070");
}

}  // namespace

TEST(QuorvaneAPIEndToEnd, CardLoginRegistersASessionAndInstallsTheCertificateOnceTheAccountHasOne) {
    Live live;
    auto issued = cardCertificate();
    testsupport::StandInBridge bridge(issued);
    auto cards = await(live.pindle->onlyCurrentCards());
    ASSERT_EQ(cards.size(), 1u);
    auto card = cards[0];
    const std::string id = card->uniqueIdentifier();

    // Before the holder has an account the server has no certificate: the login stands, the token stays
    // empty.
    std::string first = live.newAuthenticationSession();
    auto events = collect(live.api->runAuthentication(SigningSessionContext::card(first, card), true),
                          typing({"0000", "1234"}));
    EXPECT_EQ(describe(events), (Lines{"ongoing", "card pinRequested", "card wrongPin 2", "completed kept"}));
    auto session = live.session(id);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->orchestratorSessionId, first);
    EXPECT_GT(session->expirationDate(), std::chrono::system_clock::now() + std::chrono::minutes(50));
    EXPECT_TRUE(live.tokenStore.configurations().empty());
    auto errors = errorLines(live.log);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].rfind(retrievalFailed, 0), 0u) << errors[0];

    // The holder signs the agreement with the card; the server issues the signing certificate.
    auto data = await(live.onboarding->confirmUserData({first, "en", "agreement.pdf"}));
    ASSERT_TRUE(data.eid);
    auto signature = signWithCard(*card, *platform::base64URLDecoded(data.eid->hashToSign), "1234");
    await(live.onboarding->signAgreement(halcyra::SignAgreementRequest(
        data.onboardingSessionId,
        {platform::base64Encoded(card->certificateData()), platform::base64Encoded(signature)})));

    // The next login installs it, under the card's identifier.
    std::string second = live.newAuthenticationSession();
    events = collect(live.api->runAuthentication(SigningSessionContext::card(second, card), true),
                     typing({"1234"}));
    EXPECT_EQ(describe(events), (Lines{"ongoing", "card pinRequested", "completed new"}));
    Bytes certificate = live.serverCertificate(second);
    ASSERT_FALSE(certificate.empty());
    auto configuration = live.tokenStore.configuration(id);
    ASSERT_TRUE(configuration);
    EXPECT_EQ(*configuration, platform::tokens::TokenConfiguration::forCertificate(id, certificate));
    EXPECT_EQ(live.session(id)->orchestratorSessionId, second);
    auto parsed = platform::Certificate::fromDER(certificate);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(subjectSerialNumber(*parsed), "71715100070");

    // And a later one finds it already there.
    events = collect(
        live.api->runAuthentication(SigningSessionContext::card(live.newAuthenticationSession(), card), true),
        typing({"1234"}));
    EXPECT_EQ(describe(events), (Lines{"ongoing", "card pinRequested", "completed kept"}));
}

TEST(QuorvaneAPIEndToEnd, WalletLoginRegistersASessionAndInstallsTheCertificateOnceTheAccountHasOne) {
    Live live({"--wallet-polls", "2", "--retry-after-ms", "10"});

    // Confirmed by polling; no certificate asked for.
    auto [first, firstPoll] = live.confirmedWalletLogin();
    auto events =
        collect(live.api->runAuthentication(SigningSessionContext::wallet(first, firstPoll), false));
    EXPECT_EQ(describe(events), (Lines{"ongoing", "completed kept"}));
    auto session = live.session(walletToken);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->orchestratorSessionId, first);
    EXPECT_TRUE(live.tokenStore.configurations().empty());

    // The holder signs the agreement in the wallet (confirmed here by the server's control call).
    auto data = await(live.onboarding->confirmUserData({first, "en", "agreement.pdf"}));
    ASSERT_TRUE(data.wallet);
    ASSERT_EQ(live.server.control(
                  "/wallet", Json{{"pollSessionId", data.wallet->pollSessionId}, {"state", "AUTHENTICATED"}}),
              200);
    await(live.onboarding->signAgreement(halcyra::SignAgreementRequest(
        data.onboardingSessionId, halcyra::SignAgreementRequest::Wallet{data.wallet->pollSessionId})));

    // A new login, this time confirmed by the control call, installs the certificate.
    std::string second = live.newAuthenticationSession();
    auto method = await(live.auth->getAuthenticationMethodData(AuthenticationMethod::wallet, second));
    ASSERT_TRUE(method.wallet);
    ASSERT_EQ(live.server.control("/wallet", Json{{"pollSessionId", method.wallet->pollSessionId},
                                                  {"state", "AUTHENTICATED"}}),
              200);
    events = collect(live.api->runAuthentication(
        SigningSessionContext::wallet(second, method.wallet->pollSessionId), true));
    EXPECT_EQ(describe(events), (Lines{"ongoing", "completed new"}));
    Bytes certificate = live.serverCertificate(second);
    auto configuration = live.tokenStore.configuration(walletToken);
    ASSERT_TRUE(configuration);
    EXPECT_EQ(*configuration, platform::tokens::TokenConfiguration::forCertificate(walletToken, certificate));
    EXPECT_EQ(live.session(walletToken)->orchestratorSessionId, second);
    EXPECT_TRUE(errorLines(live.log).empty());
}

TEST(QuorvaneAPIEndToEnd, ServerFailuresGiveTheirEvents) {
    Live live({"--wallet-polls", "1", "--retry-after-ms", "10"});
    auto issued = cardCertificate();
    testsupport::StandInBridge bridge(issued);
    auto cards = await(live.pindle->onlyCurrentCards());
    ASSERT_EQ(cards.size(), 1u);
    auto card = cards[0];

    {
        SCOPED_TRACE("the authentication request fails");
        live.server.fault("/auth/authenticate", Json{{"status", 500}, {"count", 1}});
        auto [sessionId, pollSessionId] = live.confirmedWalletLogin();
        auto events = collect(
            live.api->runAuthentication(SigningSessionContext::wallet(sessionId, pollSessionId), true));
        EXPECT_EQ(describe(events), (Lines{"ongoing", "error backend 500"}));
        EXPECT_TRUE(live.database->authenticatedSessions().empty());
    }
    {
        SCOPED_TRACE("the method data request fails");
        live.server.fault("/auth/getMeanData", Json{{"drop", true}, {"count", 1}});
        auto events = collect(live.api->runAuthentication(
            SigningSessionContext::card(live.newAuthenticationSession(), card), true));
        EXPECT_EQ(describe(events), (Lines{"ongoing", "error network"}));
    }
    {
        SCOPED_TRACE("the challenge does not decode");
        live.server.fault(
            "/auth/getMeanData",
            Json{{"rawBody", R"({"eid":{"hashToSign":"@@@@","hashAlgorithm":"SHA-256"}})"}, {"count", 1}});
        std::size_t runs = bridge.runs();
        auto events = collect(live.api->runAuthentication(
            SigningSessionContext::card(live.newAuthenticationSession(), card), true));
        EXPECT_EQ(describe(events), (Lines{"ongoing", "error other"}));
        EXPECT_EQ(bridge.runs(), runs) << "the card was asked to sign";
        EXPECT_TRUE(live.database->authenticatedSessions().empty());
    }
    {
        SCOPED_TRACE("the certificate request fails");
        live.server.fault("/rsign/getSignatureInfo", Json{{"status", 503}, {"count", 1}});
        auto events = collect(live.api->runAuthentication(
                                  SigningSessionContext::card(live.newAuthenticationSession(), card), true),
                              typing({"1234"}));
        EXPECT_EQ(describe(events), (Lines{"ongoing", "card pinRequested", "completed kept"}));
        EXPECT_TRUE(live.session(card->uniqueIdentifier()));
        auto errors = errorLines(live.log);
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors.back().rfind(retrievalFailed, 0), 0u) << errors.back();
        EXPECT_TRUE(live.tokenStore.configurations().empty());
    }
}
