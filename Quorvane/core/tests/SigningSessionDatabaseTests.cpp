#include <gtest/gtest.h>

#include <QCoroTask>
#include <set>

#include "Quorvane/core/SigningSessionDatabase.h"
#include "Quorvane/testing/FakeCard.h"
#include "Quorvane/testing/FakePindleClient.h"
#include "outside/Common/Common.h"
#include "platform/VirtualScheduler.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"

using namespace std::chrono_literals;
using platform::Bytes;
using platform::Date;
using testsupport::FakePindleClient;
using Lines = std::vector<std::string>;

namespace {

const std::string wallet = "WALLET_TOKEN_IDENTIFIER";

Bytes certificate(std::chrono::seconds notBefore = -1h, std::chrono::seconds notAfter = 24h * 800) {
    testsupport::CertificateRequest request;
    request.givenName = "Ada";
    request.surname = "Example";
    request.serialNumber = "85073003328";
    request.notBeforeOffset = notBefore;
    request.notAfterOffset = notAfter;
    return testsupport::makeSelfSigned(request).der();
}
Date startOf(const Bytes& der) {
    return *notValidBefore(*platform::Certificate::fromDER(der));
}
Date endOf(const Bytes& der) {
    return *notValidAfter(*platform::Certificate::fromDER(der));
}

// A store over a fresh token folder, a card reader stand-in and a virtual clock starting at `start`.
struct Rig {
    explicit Rig(Date start = Date(1'800'000'000s))
        : scheduler(std::make_shared<platform::VirtualScheduler>(start)) {
        settings->setPrivacyModeEnabled(false);
        store.installDriver();
        log.clear();
    }
    ~Rig() { settings->setPrivacyModeEnabled(false); }

    Date now() const { return scheduler->now(); }
    SigningSessionContext cardContext(const std::string& id, const std::string& session = "S-card") {
        return SigningSessionContext::card(session, std::make_shared<testsupport::FakeCard>(id));
    }
    SigningSessionContext walletContext(const std::string& session = "S-wallet") {
        return SigningSessionContext::wallet(session, "P-wallet");
    }
    std::set<std::string> sessionIds() const {
        std::set<std::string> ids;
        for (const auto& session : db->authenticatedSessions())
            ids.insert(session.internalSessionId);
        return ids;
    }
    bool hasToken(const std::string& id) const { return tokens->certificateData(id).has_value(); }
    bool usable() { return QCoro::waitFor(db->hasUsableCardSessions()); }

    std::shared_ptr<platform::VirtualScheduler> scheduler;
    platform::tokens::TokenStore store{testsupport::makeTempDir("tokens") / platform::tokens::driverClassID};
    std::shared_ptr<LoggerClient> logger = std::make_shared<LoggerClient>("ui");
    std::shared_ptr<TokenDriverConfiguration> tokens =
        std::make_shared<TokenDriverConfiguration>(store, logger);
    std::shared_ptr<AppSettings> settings = std::make_shared<AppSettings>();
    std::shared_ptr<FakePindleClient> pindle = std::make_shared<FakePindleClient>();
    std::shared_ptr<SigningSessionDatabase> db = std::make_shared<SigningSessionDatabase>(
        SigningSessionDatabase::always(settings), SigningSessionDatabase::always(logger), pindle, tokens,
        scheduler);
    LogCapture log;
};

// --- Sessions

TEST(SigningSessionDatabase, ClientDataIs16UpperCaseHexCharactersNewForEachStore) {
    Rig rig;
    const auto clientData = rig.db->clientData();
    EXPECT_EQ(clientData.size(), 16u);
    EXPECT_EQ(clientData.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(rig.db->clientData(), clientData);
    EXPECT_NE(Rig().db->clientData(), clientData);
}

TEST(SigningSessionDatabase, AMissingCollaboratorIsRefusedAtConstruction) {
    Rig rig;
    const auto settings = SigningSessionDatabase::always(rig.settings);
    const auto logger = SigningSessionDatabase::always(rig.logger);
    EXPECT_THROW(SigningSessionDatabase(settings, logger, nullptr, rig.tokens, rig.scheduler),
                 std::invalid_argument);
    EXPECT_THROW(SigningSessionDatabase(settings, logger, rig.pindle, nullptr, rig.scheduler),
                 std::invalid_argument);
    EXPECT_THROW(SigningSessionDatabase(nullptr, logger, rig.pindle, rig.tokens, rig.scheduler),
                 std::invalid_argument);
    EXPECT_THROW(SigningSessionDatabase(settings, nullptr, rig.pindle, rig.tokens, rig.scheduler),
                 std::invalid_argument);
}

TEST(SigningSessionDatabase, RegisteringStoresAFreshSessionUnderTheTokenIdentifier) {
    Rig rig;
    auto expiry = rig.now() + 3600s + 250ms;
    auto session = rig.db->registerSession(rig.cardContext("CARD-1", "S1"), expiry);
    EXPECT_EQ(session.internalSessionId, "CARD-1");
    EXPECT_EQ(session.orchestratorSessionId, "S1");
    // Seconds as a double since 2001 keep the date to well under a microsecond.
    EXPECT_LT(std::chrono::abs(session.expirationDate() - expiry), 1us);
    EXPECT_FALSE(session.firstName || session.lastName || session.nationalRegisterNumber);

    auto replaced = rig.db->registerSession(rig.cardContext("CARD-1", "S2"), expiry + 60s);
    rig.db->registerSession(rig.walletContext("W1"), expiry);
    rig.db->registerSession(rig.walletContext("W2"), expiry);
    EXPECT_EQ(rig.sessionIds(), (std::set<std::string>{"CARD-1", wallet}));
    for (const auto& stored : rig.db->authenticatedSessions())
        EXPECT_EQ(stored.orchestratorSessionId, stored.internalSessionId == wallet ? "W2" : "S2");
    EXPECT_EQ(rig.log.messages(), (Lines{"Registering session " + sessionTag("S1") + " for card: CARD-1",
                                         "Registering session " + sessionTag("S2") + " for card: CARD-1",
                                         "Registering wallet session " + sessionTag("W1"),
                                         "Registering wallet session " + sessionTag("W2")}));
    EXPECT_FALSE(rig.hasToken("CARD-1"));  // registering a session installs no token
}

// A session id alone authorises account calls: the log follows a session by its tag, never shows the id.
TEST(SigningSessionDatabase, LogLinesNameSessionsByTheirTagsNeverByTheirIds) {
    Rig rig;
    const std::string cardSession = "4dd3e9a7-5d0e-4b8f-9a43-0c9e1f7b2a61";
    const std::string walletSession = "W-9f86d081884c7d659a2feaa0c55ad015";
    const auto card = rig.cardContext("CARD-1", cardSession);
    const auto walletLogin = rig.walletContext(walletSession);
    rig.db->registerSession(card, rig.now() + 3600s);
    rig.db->registerSession(walletLogin, rig.now() + 3600s);
    ASSERT_TRUE(rig.db->activeSession(card, true));
    ASSERT_TRUE(rig.db->activeSession(walletLogin, true));
    rig.db->purgeSession(card);
    rig.db->purgeSession(walletLogin);

    const auto lines = rig.log.messages();
    ASSERT_GE(lines.size(), 4u);
    for (const auto& line : lines)
        for (const auto& id : {cardSession, walletSession})
            EXPECT_EQ(line.find(id), std::string::npos) << line;
    EXPECT_EQ(lines[0], "Registering session " + sessionTag(cardSession) + " for card: CARD-1");
    EXPECT_EQ(lines[3], "Active signing session found for identifier " + wallet + ": " +
                            sessionTag(walletSession) + " - " + wallet);
}

TEST(SigningSessionDatabase, UpdatingTheHolderFillsInTheNamesOfAStoredSessionOnly) {
    Rig rig;
    halcyra::AccountStatusDetails status{};
    status.firstName = "Ada";
    status.lastName = "Example";
    status.rrnr = "85073003328";
    EXPECT_FALSE(rig.db->updateSessionHolder(rig.cardContext("CARD-1"), status));
    EXPECT_TRUE(rig.db->authenticatedSessions().empty());

    rig.db->registerSession(rig.cardContext("CARD-1"), rig.now() + 3600s);
    auto updated = rig.db->updateSessionHolder(rig.cardContext("CARD-1"), status);
    ASSERT_TRUE(updated);
    EXPECT_EQ(updated->firstName, "Ada");
    EXPECT_EQ(updated->lastName, "Example");
    EXPECT_EQ(updated->nationalRegisterNumber, "85073003328");
    EXPECT_EQ(rig.db->authenticatedSessions(), std::vector<SigningSession>{*updated});
    EXPECT_TRUE(rig.log.messages().size() == 1u);  // only the registration
}

struct ActiveSessionCase {
    bool forSigning;
    std::chrono::milliseconds expiresIn;
    bool found;
};

TEST(SigningSessionDatabase, ActiveSessionNeedsMoreThanItsMarginLeft) {
    const ActiveSessionCase cases[] = {
        {true, 301s, true},  {true, 300001ms, true}, {true, 300s, false},  {true, 299s, false},
        {true, 600s, true},  {false, 600s, false},   {false, 900s, false}, {false, 900001ms, true},
        {false, 901s, true}, {true, -10s, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "forSigning " << c.forSigning << ", expires in " << c.expiresIn.count());
        Rig rig;
        auto context = rig.cardContext("CARD-1", "S1");
        rig.db->registerSession(context, rig.now() + c.expiresIn);
        rig.log.clear();
        auto session = rig.db->activeSession(context, c.forSigning);
        EXPECT_EQ(session.has_value(), c.found);
        EXPECT_EQ(rig.sessionIds().size(), c.found ? 1u : 0u);
        if (c.found && c.forSigning)
            EXPECT_EQ(rig.log.messages(), Lines{"Active signing session found for identifier CARD-1: " +
                                                sessionTag("S1") + " - CARD-1"});
        else if (c.found)
            EXPECT_TRUE(rig.log.messages().empty());
        else
            EXPECT_EQ(rig.log.messages().size(), 1u);
    }
}

TEST(SigningSessionDatabase, ASessionAboutToExpireIsDroppedWithItsDateLoggedButItsTokenStays) {
    Rig rig;  // 2027-01-15 08:00:00 UTC
    auto context = rig.cardContext("CARD-1");
    rig.db->registerSession(context, rig.now() + 600s);
    ASSERT_TRUE(rig.db->registerToken(context, certificate()));
    rig.log.clear();

    EXPECT_TRUE(rig.db->activeSession(context, true));
    EXPECT_FALSE(rig.db->activeSession(context, false));
    EXPECT_FALSE(rig.db->activeSession(context, true));
    EXPECT_EQ(
        rig.log.messages(),
        (Lines{"Active signing session found for identifier CARD-1: " + sessionTag("S-card") + " - CARD-1",
               "Active session about to expire for identifier CARD-1, expiration date: 2027-01-15 "
               "08:10:00 +0000",
               "Active session not found for identifier CARD-1"}));
    EXPECT_TRUE(rig.hasToken("CARD-1"));
}

TEST(SigningSessionDatabase, ExpiredSessionsArePurgedOnlyWhenLessThan900sAreLeft) {
    const std::pair<std::chrono::milliseconds, bool> cases[] = {
        {899s, false}, {899999ms, false}, {900s, true}, {901s, true}, {600s, false}, {-1s, false}};
    for (const auto& [expiresIn, kept] : cases) {
        SCOPED_TRACE(expiresIn.count());
        Rig rig;
        rig.db->registerSession(rig.cardContext("CARD-1"), rig.now() + expiresIn);
        ASSERT_TRUE(rig.db->registerToken(rig.cardContext("CARD-1"), certificate()));
        rig.log.clear();
        rig.db->purgeExpiredSessionsAndTokens();
        EXPECT_EQ(rig.sessionIds().size(), kept ? 1u : 0u);
        EXPECT_TRUE(rig.hasToken("CARD-1"));  // the token's own certificate is still valid
        EXPECT_TRUE(rig.log.messages().empty());
    }
}

TEST(SigningSessionDatabase, PurgesSweepStaleTokensWhateverTheSessions) {
    auto ended = certificate(-2h, 10s);
    Rig rig(endOf(ended) + 901s);
    auto fresh = certificate();
    for (auto purge : {&SigningSessionDatabaseClient::purgeExpiredSessionsAndTokens,
                       &SigningSessionDatabaseClient::cleanUpSessions}) {
        ASSERT_TRUE(rig.db->registerToken(rig.cardContext("ENDED"), ended));
        ASSERT_TRUE(rig.db->registerToken(rig.cardContext("FRESH"), fresh));
        rig.db->registerSession(rig.cardContext("ENDED"), rig.now() + 3600s);
        ((*rig.db).*purge)();
        EXPECT_FALSE(rig.hasToken("ENDED"));
        EXPECT_TRUE(rig.hasToken("FRESH"));
        EXPECT_EQ(rig.sessionIds(), std::set<std::string>{"ENDED"});
    }
}

TEST(SigningSessionDatabase, PurgingASessionRemovesItsTokenAndLeavesTheOthers) {
    Rig rig;
    auto card = rig.cardContext("CARD-1");
    for (const auto& context : {card, rig.cardContext("CARD-2"), rig.walletContext()}) {
        rig.db->registerSession(context, rig.now() + 3600s);
        ASSERT_TRUE(rig.db->registerToken(context, certificate()));
    }
    rig.log.clear();
    rig.db->purgeSession(card);
    rig.db->purgeSession(rig.walletContext());
    rig.db->purgeSessionAndToken("UNKNOWN");
    EXPECT_EQ(rig.log.messages(),
              (Lines{"Purging session data for: CARD-1", "Purging session and token for CARD-1",
                     "Purging wallet session data", "Purging session and token for WALLET_TOKEN_IDENTIFIER",
                     "Purging session and token for UNKNOWN"}));
    EXPECT_EQ(rig.sessionIds(), std::set<std::string>{"CARD-2"});
    EXPECT_FALSE(rig.hasToken("CARD-1"));
    EXPECT_FALSE(rig.hasToken(wallet));
    EXPECT_TRUE(rig.hasToken("CARD-2"));
}

TEST(SigningSessionDatabase, RemovingAllTokensForgetsEverySessionToo) {
    for (bool driverInstalled : {true, false}) {
        SCOPED_TRACE(driverInstalled);
        Rig rig;
        rig.db->registerSession(rig.cardContext("CARD-1"), rig.now() + 3600s);
        rig.db->registerSession(rig.walletContext(), rig.now() + 3600s);
        ASSERT_TRUE(rig.db->registerToken(rig.cardContext("CARD-1"), certificate()));
        if (!driverInstalled)
            std::filesystem::remove_all(rig.store.driverFolder());
        rig.log.clear();
        rig.db->removeAllTokens();
        EXPECT_TRUE(rig.db->authenticatedSessions().empty());
        EXPECT_TRUE(rig.store.configurations().empty());
        EXPECT_TRUE(rig.log.messages().empty());
    }
}

TEST(SigningSessionDatabase, RemovingATokenKeepsTheSession) {
    Rig rig;
    auto context = rig.cardContext("CARD-1");
    rig.db->registerSession(context, rig.now() + 3600s);
    ASSERT_TRUE(rig.db->registerToken(context, certificate()));
    rig.db->removeToken(context);
    EXPECT_FALSE(rig.hasToken("CARD-1"));
    EXPECT_TRUE(rig.db->activeSession(context, false));
}

// --- Certificates

TEST(SigningSessionDatabase, CertificateInfoComesFromTheContextsToken) {
    Rig rig;
    auto der = certificate();
    EXPECT_FALSE(rig.db->signingCertificateInfo(rig.walletContext()));
    ASSERT_TRUE(rig.db->registerToken(rig.walletContext(), der));
    auto info = rig.db->signingCertificateInfo(rig.walletContext());
    ASSERT_TRUE(info);
    EXPECT_EQ(info->methodCreatedWith, halcyra::AuthenticationMethod::wallet);
    EXPECT_EQ(info->certificateData, der);
    EXPECT_EQ(info->fullName, "Ada Example");
    EXPECT_EQ(info->nationalNumber, "85073003328");
    EXPECT_FALSE(rig.db->signingCertificateInfo(rig.cardContext("CARD-1")));
    // The token identifier alone finds the same, for a card not at hand too.
    EXPECT_EQ(rig.db->signingCertificateInfo(std::string(SigningSessionContext::walletTokenIdentifier)),
              info);
    ASSERT_TRUE(rig.db->registerToken(rig.cardContext("CARD-1"), der));
    EXPECT_EQ(rig.db->signingCertificateInfo(std::string("CARD-1")),
              rig.db->signingCertificateInfo(rig.cardContext("CARD-1")));
    EXPECT_FALSE(rig.db->signingCertificateInfo(std::string("CARD-2")));
}

TEST(SigningSessionDatabase, RegisteringATokenReportsWhetherItWasWritten) {
    Rig rig;
    auto context = rig.cardContext("CARD-1");
    EXPECT_FALSE(rig.db->registerToken(context, platform::toBytes("not a certificate")));
    auto old = certificate();
    auto renewed = certificate();
    EXPECT_TRUE(rig.db->registerToken(context, old));
    EXPECT_TRUE(rig.db->registerToken(context, renewed));
    EXPECT_EQ(rig.db->signingCertificateInfo(context)->certificateData, renewed);
    std::filesystem::remove_all(rig.store.driverFolder());
    EXPECT_FALSE(rig.db->registerToken(context, renewed));
}

TEST(SigningSessionDatabase, AnInvalidCertificateLosesItsTokenButNotItsSession) {
    auto der = certificate();
    const struct {
        const char* name;
        Date now;
        bool removed;
    } cases[] = {
        {"ended 1 s ago", endOf(der) + 1s, true},
        {"ends now", endOf(der), false},
        {"ended 899 s ago (no grace here)", endOf(der) + 899s, true},
        {"starts in 1 s", startOf(der) - 1s, true},
        {"starts now", startOf(der), false},
        {"valid", startOf(der) + 1h, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig(c.now);
        auto context = rig.cardContext("CARD-1");
        EXPECT_FALSE(rig.db->removeTokenIfCertificateInvalid(context));  // no token yet
        rig.db->registerSession(context, rig.now() + 3600s);
        ASSERT_TRUE(rig.db->registerToken(context, der));
        EXPECT_EQ(rig.db->removeTokenIfCertificateInvalid(context), c.removed);
        EXPECT_EQ(rig.hasToken("CARD-1"), !c.removed);
        EXPECT_TRUE(rig.db->activeSession(context, true));
    }
}

// --- Usable card sessions

TEST(SigningSessionDatabase, UsableCardSessionsNeedACardAndASessionForEveryCard) {
    Rig rig;
    EXPECT_FALSE(rig.usable());  // no card

    rig.pindle->cards = {std::make_shared<testsupport::FakeCard>("CARD-1"),
                         std::make_shared<testsupport::FakeCard>("CARD-2")};
    for (const auto& id : {"CARD-1"}) {
        rig.db->registerSession(rig.cardContext(id), rig.now() + 3600s);
        ASSERT_TRUE(rig.db->registerToken(rig.cardContext(id), certificate()));
    }
    rig.db->registerSession(rig.walletContext(), rig.now() + 3600s);
    ASSERT_TRUE(rig.db->registerToken(rig.walletContext(), certificate()));
    EXPECT_FALSE(rig.usable());  // the wallet does not stand in for CARD-2

    rig.db->registerSession(rig.cardContext("CARD-2"), rig.now() + 3600s);
    EXPECT_FALSE(rig.usable());  // CARD-2 has no token
    ASSERT_TRUE(rig.db->registerToken(rig.cardContext("CARD-2"), certificate()));
    EXPECT_TRUE(rig.usable());
    EXPECT_EQ(rig.pindle->readings, 4);
}

struct UsableCase {
    const char* name;
    bool fromEnd;                 // now is set from the certificate's end (else its start)
    std::chrono::seconds offset;  // now = that date - offset
    std::chrono::seconds sessionLeft;
    bool usable;
};

TEST(SigningSessionDatabase, UsableCardSessionsTakeTheirMarginsAtTheEdges) {
    const UsableCase cases[] = {
        {"certificate ends in 901 s", true, 901s, 3600s, true},
        {"certificate ends in 900 s", true, 900s, 3600s, false},
        {"certificate starts now", false, 0s, 3600s, false},
        {"certificate started 1 s ago", false, -1s, 3600s, true},
        {"session ends in exactly 900 s", false, -10s, 900s, true},
        {"session ends in 899 s", false, -10s, 899s, false},
    };
    auto der = certificate();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig((c.fromEnd ? endOf(der) : startOf(der)) - c.offset);
        rig.pindle->cards = {std::make_shared<testsupport::FakeCard>("CARD-1")};
        rig.db->registerSession(rig.cardContext("CARD-1"), rig.now() + c.sessionLeft);
        ASSERT_TRUE(rig.db->registerToken(rig.cardContext("CARD-1"), der));
        EXPECT_EQ(rig.usable(), c.usable);
    }
}

TEST(SigningSessionDatabase, UsableCardSessionsSeeWhatChangedWhileTheCardsWereRead) {
    Rig rig;
    rig.pindle->cards = {std::make_shared<testsupport::FakeCard>("CARD-1")};
    ASSERT_TRUE(rig.db->registerToken(rig.cardContext("CARD-1"), certificate()));
    rig.pindle->holdReadings = true;
    auto pending = rig.db->hasUsableCardSessions();
    ASSERT_TRUE(rig.pindle->isHolding());
    rig.db->registerSession(rig.cardContext("CARD-1"), rig.now() + 3600s);
    rig.pindle->release();
    EXPECT_TRUE(QCoro::waitFor(std::move(pending)));
}

TEST(SigningSessionDatabase, UsableCardSessionsFirstPurgeExpiredSessionsAndStaleTokens) {
    auto ended = certificate(-2h, 10s);
    Rig rig(endOf(ended) + 901s);
    rig.pindle->cards = {std::make_shared<testsupport::FakeCard>("CARD-1")};
    rig.db->registerSession(rig.cardContext("CARD-1"), rig.now() + 899s);
    rig.db->registerSession(rig.cardContext("CARD-2"), rig.now() + 3600s);
    ASSERT_TRUE(rig.db->registerToken(rig.cardContext("CARD-2"), ended));
    EXPECT_FALSE(rig.usable());
    EXPECT_EQ(rig.sessionIds(), std::set<std::string>{"CARD-2"});
    EXPECT_FALSE(rig.hasToken("CARD-2"));
}

// --- Privacy mode

TEST(SigningSessionDatabase, WithPrivacyModeOffNothingIsTimedOrPurged) {
    Rig rig;
    rig.db->registerSession(rig.walletContext(), rig.now() + 3600s);
    rig.db->startPrivacyPurgeIfEnabled();
    rig.db->startImmediatePrivacyPurge();
    rig.db->flushImmediatePrivacyPurge();
    rig.db->cleanUpSessions();
    EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);
    rig.scheduler->advance(1000s);
    EXPECT_EQ(rig.log.messages(), Lines{"Registering wallet session " + sessionTag("S-wallet")});
    EXPECT_EQ(rig.sessionIds(), std::set<std::string>{wallet});
}

TEST(SigningSessionDatabase, ThePrivacyTimerPurgesWalletDataAfter900sKeepingItsFirstDeadline) {
    Rig rig;
    rig.settings->setPrivacyModeEnabled(true);
    for (const auto& context : {rig.walletContext(), rig.cardContext("CARD-1")}) {
        rig.db->registerSession(context, rig.now() + 7200s);
        ASSERT_TRUE(rig.db->registerToken(context, certificate()));
    }
    rig.log.clear();
    rig.db->startPrivacyPurgeIfEnabled();  // already running since the wallet's registration
    rig.scheduler->advance(899s + 999ms);
    EXPECT_EQ(rig.sessionIds().size(), 2u);
    rig.scheduler->advance(1ms);
    EXPECT_EQ(rig.log.messages(),
              (Lines{"Privacy mode enabled - starting privacy data purge timer",
                     "Privacy cleanup timer already running, aborting timer start request",
                     "Privacy cleanup triggered, deleting wallet related data",
                     "Purging session and token for WALLET_TOKEN_IDENTIFIER"}));
    EXPECT_EQ(rig.sessionIds(), std::set<std::string>{"CARD-1"});
    EXPECT_FALSE(rig.hasToken(wallet));
    EXPECT_TRUE(rig.hasToken("CARD-1"));
    EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);
}

TEST(SigningSessionDatabase, AWalletRegistrationInPrivacyModeStartsTheTimerOnce) {
    Rig rig;
    rig.settings->setPrivacyModeEnabled(true);
    rig.db->registerSession(rig.walletContext("W1"), rig.now() + 7200s);
    rig.scheduler->advance(600s);
    rig.db->registerSession(rig.walletContext("W2"), rig.now() + 7200s);
    rig.db->registerSession(rig.cardContext("CARD-1"), rig.now() + 7200s);
    EXPECT_EQ(
        rig.log.messages(),
        (Lines{"Registering wallet session " + sessionTag("W1"),
               "Privacy mode enabled, starting privacy mode purge timer for new registered wallet session",
               "Privacy cleanup timer started", "Registering wallet session " + sessionTag("W2"),
               "Privacy mode enabled, starting privacy mode purge timer for new registered wallet session",
               "Privacy cleanup timer already running, aborting timer start request",
               "Registering session " + sessionTag("S-card") + " for card: CARD-1"}));
    rig.scheduler->advance(300s);  // 900 s after the first registration: W2 goes too
    EXPECT_EQ(rig.sessionIds(), std::set<std::string>{"CARD-1"});
}

TEST(SigningSessionDatabase, SwitchingPrivacyModeOnThroughTheSettingsStartsTheTimer) {
    Rig rig;
    auto slot = std::make_shared<std::weak_ptr<SigningSessionDatabaseClient>>(rig.db);
    AppSettings settings(privacyPurgeHook([slot] { return slot->lock(); }));
    settings.setPrivacyModeEnabled(true);
    EXPECT_EQ(rig.log.messages(), (Lines{"Privacy mode enabled - starting privacy data purge timer",
                                         "Privacy cleanup timer started"}));
    EXPECT_EQ(rig.scheduler->activeTimerCount(), 1u);

    // Switching it off stores the value; the running timer still purges when it fires.
    rig.db->registerSession(rig.walletContext(), rig.now() + 7200s);
    settings.setPrivacyModeEnabled(false);
    rig.scheduler->advance(900s);
    EXPECT_TRUE(rig.db->authenticatedSessions().empty());
    slot->reset();
    EXPECT_NO_THROW(settings.setPrivacyModeEnabled(true));
}

TEST(SigningSessionDatabase, TheImmediatePurgeRestartsItsCountOnEveryCall) {
    Rig rig;
    rig.settings->setPrivacyModeEnabled(true);
    rig.db->registerSession(rig.cardContext("CARD-1"), rig.now() + 7200s);
    rig.db->startImmediatePrivacyPurge();
    rig.scheduler->advance(3s);
    rig.db->startImmediatePrivacyPurge();
    rig.db->registerSession(rig.walletContext(), rig.now() + 7200s);  // also starts the 900 s timer
    rig.scheduler->advance(4999ms);
    EXPECT_EQ(rig.sessionIds().size(), 2u);
    rig.scheduler->advance(1ms);
    EXPECT_EQ(rig.sessionIds(), std::set<std::string>{"CARD-1"});
    // The purge ended both timers.
    EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);
    auto messages = rig.log.messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "Starting immediate privacy data purge timer"), 2);
    EXPECT_EQ(messages.back(), "Purging session and token for WALLET_TOKEN_IDENTIFIER");

    rig.log.clear();
    rig.db->startPrivacyPurgeIfEnabled();  // a fresh timer, not "already running"
    EXPECT_EQ(rig.log.messages().back(), "Privacy cleanup timer started");
}

TEST(SigningSessionDatabase, FlushingRunsAPendingImmediatePurgeAtOnce) {
    Rig rig;
    rig.settings->setPrivacyModeEnabled(true);
    rig.db->flushImmediatePrivacyPurge();  // nothing pending
    EXPECT_TRUE(rig.log.messages().empty());

    rig.db->startImmediatePrivacyPurge();
    rig.scheduler->advance(2s);
    rig.db->registerSession(rig.walletContext(), rig.now() + 7200s);
    rig.log.clear();
    rig.db->flushImmediatePrivacyPurge();
    EXPECT_EQ(rig.log.messages(),
              (Lines{"Pending immediate privacy data purge detected, cancelling the timer and purging now",
                     "Privacy cleanup triggered, deleting wallet related data",
                     "Purging session and token for WALLET_TOKEN_IDENTIFIER"}));
    EXPECT_TRUE(rig.db->authenticatedSessions().empty());
    rig.log.clear();
    rig.scheduler->advance(1000s);
    rig.db->flushImmediatePrivacyPurge();
    EXPECT_TRUE(rig.log.messages().empty());

    // With the mode switched off, a pending purge is not flushed (its timer still runs).
    rig.db->startImmediatePrivacyPurge();
    rig.settings->setPrivacyModeEnabled(false);
    rig.log.clear();
    rig.db->flushImmediatePrivacyPurge();
    EXPECT_TRUE(rig.log.messages().empty());
    rig.scheduler->advance(5s);
    EXPECT_EQ(rig.log.messages().front(), "Privacy cleanup triggered, deleting wallet related data");
}

TEST(SigningSessionDatabase, StartUpCleanupInPrivacyModeForgetsTheWallet) {
    Rig rig;
    rig.settings->setPrivacyModeEnabled(true);
    ASSERT_TRUE(rig.db->registerToken(rig.walletContext(), certificate()));  // left by an earlier run
    ASSERT_TRUE(rig.db->registerToken(rig.cardContext("CARD-1"), certificate()));
    rig.db->cleanUpSessions();
    EXPECT_EQ(rig.log.messages(), (Lines{"Privacy cleanup triggered, deleting wallet related data",
                                         "Purging session and token for WALLET_TOKEN_IDENTIFIER"}));
    EXPECT_FALSE(rig.hasToken(wallet));
    EXPECT_TRUE(rig.hasToken("CARD-1"));
}

TEST(SigningSessionDatabase, ATimerFiringAfterTheStoreIsGoneDoesNothing) {
    Rig rig;
    rig.settings->setPrivacyModeEnabled(true);
    rig.db->startPrivacyPurgeIfEnabled();
    rig.db->startImmediatePrivacyPurge();
    ASSERT_TRUE(rig.db->registerToken(rig.walletContext(), certificate()));
    rig.db.reset();
    rig.log.clear();
    rig.scheduler->advance(1000s);
    EXPECT_TRUE(rig.log.messages().empty());
    EXPECT_TRUE(rig.hasToken(wallet));
}

}  // namespace
