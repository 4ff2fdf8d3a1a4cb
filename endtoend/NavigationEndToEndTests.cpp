// The navigation against the stand-in server and the stand-in bridge, with the live API clients, facade,
// session store and card layer, in the real main window: card logins with the PIN typed into the PIN sheet,
// their failures as the user sees them, wallet logins, and the account decisions the server's answers lead
// to.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTest>

#include "endtoend/LiveRig.h"

using namespace std::chrono_literals;
using namespace endtoend;
using platform::json::Json;
using testsupport::eventually;

namespace {

const std::string wallet = SigningSessionContext::walletTokenIdentifier;

testsupport::Issued citizenCard() {
    return testsupport::issueCitizenCard("Ann", "Peeters", "71715100070");
}

// --- Card logins

TEST(NavigationEndToEnd, ACardLoginWithAWrongPinFirstRegistersTheSessionAndLeadsANewHolderToAccountCreation) {
    LiveRig rig;
    auto issued = citizenCard();
    testsupport::StandInBridge bridge(issued, "1234");
    rig.show(AppOpenMode::getCertificate(true));
    rig.choose(halcyra::AuthenticationMethod::eid);

    // The one card is taken at once; its PIN sheet opens with the focus in the field.
    rig.typePin("0000");
    ASSERT_TRUE(eventually([&] { return rig.sheetShows("PIN is incorrect : 2 attempts remaining."); }, 30s));
    EXPECT_EQ(rig.model()->currentModalState()->pinInputEvent()->kind,
              pindle::CardSigningEvent::Kind::wrongPin);
    rig.typePin("1234");

    ASSERT_TRUE(eventually(
        [&] { return rig.model()->navigationTarget().is<AppNavigationTarget::AccountCreation>(); }, 30s))
        << rig.finalMessage();
    EXPECT_FALSE(rig.sheet());
    auto cards = testsupport::await(rig.pindle->onlyCurrentCards());
    ASSERT_EQ(cards.size(), 1u);
    auto session = rig.sessionOf(cards[0]->uniqueIdentifier());
    ASSERT_TRUE(session) << "the login registered a session for the card";
    EXPECT_EQ(session->firstName, "Ann") << "the holder the server confirmed";
    EXPECT_EQ(rig.model()->currentCard(), nullptr);
}

TEST(NavigationEndToEnd, ABlockedCardAndARemovedCardSayWhatHappened) {
    struct Case {
        std::string name;
        std::function<Json(const testsupport::Issued&)> card;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {"blocked",
         [](const auto& issued) {
             auto card = simtest::softCard(issued);
             card["blocked"] = true;
             return card;
         },
         "5003: Signing failed: Card PIN is blocked"},
        {"removed",
         [](const auto& issued) {
             auto card = simtest::softCard(issued);
             card["removeDuringAuth"] = true;
             return card;
         },
         "5004: eID card removed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LiveRig rig;
        simtest::SimBridge bridge;
        bridge.addReader(simtest::reader("standard", c.card(citizenCard()), "Reader 1"));
        bridge.install();
        rig.show(AppOpenMode::accountInfo());
        rig.choose(halcyra::AuthenticationMethod::eid);
        rig.typePin("1234");
        EXPECT_EQ(rig.finalMessage(), c.shown);
        EXPECT_FALSE(rig.sheet());
    }
}

TEST(NavigationEndToEnd, EscOnThePinSheetEndsTheCardOperationAndClosesTheWindow) {
    LiveRig rig;
    testsupport::StandInBridge bridge(citizenCard());
    auto& window = rig.show(AppOpenMode::getCertificate(false));
    rig.choose(halcyra::AuthenticationMethod::eid);
    ASSERT_TRUE(eventually([&] { return rig.sheet() && rig.sheet()->isVisible(); }, 30s));
    QTest::keyClick(rig.sheet(), Qt::Key_Escape);
    EXPECT_TRUE(eventually([&] { return !window.isVisible(); }));
    // The bridge's run ends with the cancelled operation.
    EXPECT_TRUE(eventually([] { return pindle::VexoConnectInvoker::liveProcessCount() == 0; }, 30s));
}

// --- Wallet logins through the wallet sheet

TEST(NavigationEndToEnd, AWalletLoginGoesThroughThePollingStatesToTheAccountDecision) {
    LiveRig rig({"--wallet-polls", "6", "--retry-after-ms", "200"});
    rig.show(AppOpenMode::getCertificate(true));
    rig.choose(halcyra::AuthenticationMethod::wallet);
    EXPECT_TRUE(eventually([&] { return rig.sheetShows("Scan the QR code to continue"); }, 30s));
    EXPECT_TRUE(
        eventually([&] { return rig.sheetShows("Please complete authentication on the Civaro app."); }, 30s));
    ASSERT_TRUE(rig.shows("accountCreation")) << rig.describeTarget();
    EXPECT_FALSE(rig.sheet());
    auto session = rig.sessionOf(wallet);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->firstName, "Lotte");
}

TEST(NavigationEndToEnd, AnExpiredWalletCodeIsRefreshedAtTheLevelOfTheLoginAndThenConfirmed) {
    LiveRig rig({"--wallet-polls", "0", "--wallet-seconds", "1", "--retry-after-ms", "200"});
    rig.show(AppOpenMode::getCertificate(true));
    rig.choose(halcyra::AuthenticationMethod::wallet);
    ASSERT_TRUE(eventually([&] { return rig.sheetShows("This code is expired."); }, 30s));
    rig.server.clearRequests();
    ASSERT_TRUE(clickSheetButton(rig, "Refresh the code"));
    // The new code's login is confirmed in the wallet app.
    ASSERT_TRUE(eventually(
        [&] {
            return rig.server.control("/wallet", Json{{"state", "AUTHENTICATED"}}) == 200 &&
                   rig.model()->navigationTarget().is<AppNavigationTarget::AccountCreation>();
        },
        30s))
        << rig.describeTarget();
    EXPECT_EQ(rig.requestedLevels(), std::vector<std::string>{"high"});
}

TEST(NavigationEndToEnd, CancellingTheWalletSheetDuringAPollChangesNothingAfterwards) {
    LiveRig rig({"--wallet-polls", "2", "--retry-after-ms", "100"});
    auto& window = rig.show(AppOpenMode::getCertificate(true));
    rig.server.fault("/wallet/poll", Json{{"delayMs", 1500}});
    rig.choose(halcyra::AuthenticationMethod::wallet);
    auto polls = [&] {
        int count = 0;
        for (const auto& request : rig.server.requests())
            count += request.path.ends_with("/wallet/poll");
        return count;
    };
    ASSERT_TRUE(eventually([&] { return polls() == 1; }, 30s));
    QTest::keyClick(rig.sheet(), Qt::Key_Escape);
    EXPECT_TRUE(eventually([&] { return !window.isVisible(); }));
    // The poll's late reply starts no other poll and no login.
    QTest::qWait(3000);
    EXPECT_EQ(polls(), 1);
    for (const auto& request : rig.server.requests())
        EXPECT_FALSE(request.path.ends_with("/auth/authenticate"));
    EXPECT_FALSE(rig.sessionOf(wallet));
}

// --- Account decisions on the server's answers

TEST(NavigationEndToEnd, AServerErrorWhileValidatingShowsTheServersTextAndForgetsTheSession) {
    LiveRig rig;
    rig.show(AppOpenMode::accountInfo());
    rig.server.fault("/rsign/getAccountStatus", Json{{"status", 500}, {"body", "error"}});
    auto [sessionId, pollSessionId] = rig.confirmedWalletLogin();
    rig.model()->handleWalletTrackingResult(WalletTrackingResult::success(sessionId, pollSessionId));

    const auto shown = rig.finalMessage();
    EXPECT_TRUE(shown.starts_with("1401-500: ")) << shown;
    EXPECT_FALSE(rig.sessionOf(wallet))
        << "the failed validation purged the session the login had registered";
}

TEST(NavigationEndToEnd, AWalletHolderCreatesAnAccountSeesItAndLaterTheServersRefusalToSign) {
    LiveRig rig;
    rig.show(AppOpenMode::accountInfo());
    auto [sessionId, pollSessionId] = rig.confirmedWalletLogin();
    const auto context = SigningSessionContext::wallet(sessionId, pollSessionId);
    rig.model()->handleWalletTrackingResult(WalletTrackingResult::success(sessionId, pollSessionId));
    // No account yet.
    ASSERT_TRUE(rig.shows("accountCreation")) << rig.describeTarget();
    ASSERT_TRUE(rig.sessionOf(wallet));

    // The creation completes: the same login is validated again and the account is shown, with its holder.
    rig.onboardWallet(sessionId);
    rig.model()->handleAccountCreationCompleted(context, std::nullopt);
    ASSERT_TRUE(rig.shows("accountInfo Lotte")) << rig.describeTarget();
    EXPECT_TRUE(rig.settings->hasOnboardedAtLeastOnce());

    // Later the server blocks signing for the account, with a reason.
    ASSERT_EQ(rig.server.control("/accounts", Json{{"rrnr", "85073003328"},
                                                   {"canSign", false},
                                                   {"reason",
                                                    {{"code", "12"},
                                                     {"descriptions",
                                                      {{"en", "Your account is suspended."},
                                                       {"fr", "Compte suspendu."},
                                                       {"nl", "Rekening geschorst."},
                                                       {"de", "Konto gesperrt."}}}}}}),
              200);
    platform::SystemInfo::setPreferredLanguagesOverride(std::vector<std::string>{"en-BE"});
    rig.show(AppOpenMode::accountInfo());
    rig.model()->handleWalletTrackingResult(WalletTrackingResult::success(sessionId, pollSessionId));
    EXPECT_EQ(rig.finalMessage(), "12: Your account is suspended.");
    platform::SystemInfo::setPreferredLanguagesOverride(std::nullopt);
    EXPECT_TRUE(rig.sessionOf(wallet)) << "a refusal is not an error: the session stays";
}

TEST(NavigationEndToEnd,
     AWalletLoginForAnInactiveAccountAfterOnboardingLogsInAgainAtHighAndKeepsItOnRefresh) {
    LiveRig rig;
    rig.settings->setHasOnboardedAtLeastOnce(true);
    rig.show(AppOpenMode::accountInfo());
    auto [sessionId, pollSessionId] = rig.confirmedWalletLogin(halcyra::LevelOfAssurance::substantial);
    rig.server.clearRequests();
    rig.model()->handleWalletTrackingResult(WalletTrackingResult::success(sessionId, pollSessionId));

    ASSERT_TRUE(eventually(
        [&] {
            const auto& state = rig.model()->currentModalState();
            return state && state->walletTrackingSessionId();
        },
        30s))
        << rig.describeTarget();
    EXPECT_EQ(rig.model()->currentSigningReason(),
              SigningReason::of(SigningReason::Kind::accountCreationAuthentication));
    EXPECT_FALSE(rig.settings->hasOnboardedAtLeastOnce());
    EXPECT_TRUE(rig.sheet());
    // A new QR code for that login stays at high.
    testsupport::await(
        rig.model()->refreshWalletSession(*rig.model()->currentModalState()->walletTrackingSessionId()));
    EXPECT_EQ(rig.requestedLevels(), (std::vector<std::string>{"high", "high"}));
}

}  // namespace
