// The navigation model on doubles: the first screen per mode, the method's result, the card reading, the
// account validation with its messages, the completions of the flows, the PIN and wallet sheets' ends, and a
// model that the window has let go.
#include <gtest/gtest.h>

#include "NavigationTestSupport.h"
#include "Quorvane/core/AppSettings.h"
#include "platform/Scheduler.h"
#include "platform/qt/Localizable.h"
#include "platform/qt/SystemInfo.h"
#include "platform/testing/Await.h"

using namespace navtest;
using Kind = SigningReason::Kind;

namespace {

const std::string wallet = SigningSessionContext::walletTokenIdentifier;

AppError appError(std::string code, std::string message) {
    return AppError(ErrorCodeCategory::app, std::nullopt, std::move(code), std::move(message), std::nullopt);
}

AuthenticationMethodSelectionResult chose(halcyra::AuthenticationMethod method,
                                          std::string sessionId = "auth-1") {
    return AuthenticationMethodSelectionResult::success(AuthenticationContext{std::move(sessionId), method});
}

// --- Start

struct StartCase {
    AppOpenMode mode;
    bool launchAgentEnabled;
    std::string target;
    Kind reason;
};

TEST(AppNavigationViewModelTest, EachModeStartsOnItsScreenWithItsSigningReason) {
    const auto sign = AppOpenMode::sign(SigningRequestType::overXPC());
    const std::vector<StartCase> cases = {
        {AppOpenMode::getCertificate(true), true, "methodSelection",
         Kind::certificateRetrievalAuthentication},
        {AppOpenMode::getCertificate(false), true, "methodSelection",
         Kind::certificateRetrievalAuthentication},
        {AppOpenMode::accountInfo(), true, "methodSelection", Kind::accountInfoAuthentication},
        {sign, true, "signing sign(overXPC(hash: none))", Kind::certificateRetrievalAuthentication},
        {sign, false, "launchAgentInfo", Kind::certificateRetrievalAuthentication},
        {AppOpenMode::menu(), true, "mainMenu", Kind::certificateRetrievalAuthentication},
        {AppOpenMode::settings(), true, "settings", Kind::certificateRetrievalAuthentication},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode.description() + (c.launchAgentEnabled ? "" : ", agent off"));
        NavigationRig rig;
        rig.launchAgent->enabled = c.launchAgentEnabled;
        auto model = AppNavigationViewModel::make(c.mode, rig.scheduler, rig.controller);
        // Until the start has run: an empty waiting screen.
        EXPECT_EQ(describe(model->navigationTarget()), "info '' waiting");
        rig.settle();
        EXPECT_EQ(describe(model->navigationTarget()), c.target);
        EXPECT_EQ(model->currentSigningReason(), SigningReason::of(c.reason));
        EXPECT_EQ(describe(model->currentModalState()), "none");
    }
}

TEST(AppNavigationViewModelTest, ASignRequestWaitsOnTheLaunchAgentPageUntilTheAgentIsEnabled) {
    NavigationRig rig;
    rig.launchAgent->enabled = false;
    auto model = rig.make(AppOpenMode::sign(SigningRequestType::overXPC(platform::Bytes{1, 2, 3})));
    EXPECT_EQ(describe(model->navigationTarget()), "launchAgentInfo");

    rig.launchAgent->enabled = true;
    model->restart();
    rig.settle();
    EXPECT_EQ(describe(model->navigationTarget()), "signing sign(overXPC(hash: present))");
}

// --- Method and cards

TEST(AppNavigationViewModelTest, AFailedMethodChoiceShowsItsErrorAndAWalletChoiceOpensTheWalletSheet) {
    NavigationRig rig;
    auto model = rig.make(AppOpenMode::getCertificate(true));
    model->handleMethodSelectionResult(AuthenticationMethodSelectionResult::failure(
        appError("2500", "Could not retrieve valid authentication methods.")));
    EXPECT_EQ(describe(model->navigationTarget()),
              "info '22500: Could not retrieve valid authentication methods.' error");

    model->handleMethodSelectionResult(chose(halcyra::AuthenticationMethod::wallet));
    EXPECT_EQ(describe(model->navigationTarget()), "info '' waiting");
    rig.settle();
    // The waiting screen stays behind the sheet.
    EXPECT_EQ(describe(model->navigationTarget()), "info '' waiting");
    EXPECT_EQ(describe(model->currentModalState()), "walletTracking auth-1");
    EXPECT_EQ(rig.reader->readings, 0);
}

struct CardReadingCase {
    AppOpenMode mode;
    int cards;
    bool usableSessions;
    std::string target;
    Lines calls;  // of the session store, the facade and the window
};

TEST(AppNavigationViewModelTest, TheCardsReadDecideBetweenValidationCardSelectionAndClosing) {
    const auto plugin = AppOpenMode::getCertificate(false);
    const std::vector<CardReadingCase> cases = {
        // One card is taken at once.
        {AppOpenMode::getCertificate(true),
         1,
         false,
         "info 'Validating account status...' waiting",
         {"runAuthentication card-0 auth-1"}},
        {plugin, 1, true, "info 'Validating account status...' waiting", {"runAuthentication card-0 auth-1"}},
        // For the plug-in, cards that all have usable sessions need nothing more.
        {plugin, 2, true, "info 'Reading eID cards...' waiting", {"hasUsableCardSessions", "window closed"}},
        {plugin, 2, false, "cardSelection 2 cards auth-1", {"hasUsableCardSessions"}},
        {plugin, 0, false, "cardSelection 0 cards auth-1", {"hasUsableCardSessions"}},
        // Other modes never ask the store.
        {AppOpenMode::getCertificate(true), 2, true, "cardSelection 2 cards auth-1", {}},
        {AppOpenMode::accountInfo(), 0, true, "cardSelection 0 cards auth-1", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode.description() + ", " + std::to_string(c.cards) + " cards" +
                     (c.usableSessions ? ", usable sessions" : ""));
        NavigationRig rig;
        rig.facade->keepOpen = true;
        rig.store->usableCardSessions = c.usableSessions;
        for (int i = 0; i < c.cards; ++i)
            rig.reader->cards.push_back(card("card-" + std::to_string(i), rig.log));
        auto model = rig.make(c.mode);
        rig.log->take();
        model->handleMethodSelectionResult(chose(halcyra::AuthenticationMethod::eid));
        rig.settle();
        EXPECT_EQ(rig.reader->readings, 1);
        EXPECT_EQ(describe(model->navigationTarget()), c.target);
        EXPECT_EQ(rig.log->take(), c.calls);
    }
}

TEST(AppNavigationViewModelTest, TheChosenCardIsValidatedWithTheSessionOfItsSelection) {
    NavigationRig rig;
    rig.facade->keepOpen = true;
    auto model = rig.make(AppOpenMode::accountInfo());
    rig.log->take();
    model->handleCardSelected(card("card-7", rig.log), "auth-9");
    rig.settle();
    EXPECT_EQ(rig.log->take(), Lines{"runAuthentication card-7 auth-9 retrieving"});
    EXPECT_EQ(model->currentCard()->uniqueIdentifier(), "card-7");
}

// --- Validation

TEST(AppNavigationViewModelTest, AStoredSessionSkipsTheAuthentication) {
    NavigationRig rig;
    rig.store->storedSession = session("card-1", "stored-server-session");
    auto model = rig.make(AppOpenMode::accountInfo());
    rig.log->take();
    model->handleCardSelected(card("card-1", rig.log), "auth-1");
    rig.settle();
    // The account screen's model takes a certificate no longer valid out of the token.
    EXPECT_EQ(rig.log->take(), (Lines{"getAccountStatus stored-server-session", "updateSessionHolder card-1",
                                      "removeTokenIfCertificateInvalid card-1"}));
    EXPECT_EQ(describe(model->navigationTarget()), "accountInfo card-1 Ann");
    EXPECT_EQ(describe(model->currentModalState()), "none");
}

TEST(AppNavigationViewModelTest, TheSheetFollowsTheCardThroughTheAuthentication) {
    NavigationRig rig;
    rig.facade->keepOpen = true;
    rig.facade->script = std::vector{AuthenticateFlowEvent::ongoing()};
    auto model = rig.make(AppOpenMode::getCertificate(true));
    auto used = card("card-1", rig.log);
    model->handleCardSelected(used, "auth-1");
    rig.settle();
    EXPECT_EQ(describe(model->navigationTarget()), "info 'Validating account status...' waiting");
    EXPECT_EQ(model->currentCard(), used);

    const std::vector<std::pair<AuthenticateFlowEvent, std::string>> steps = {
        {AuthenticateFlowEvent::signingEvent(CardSigningEvent::pinRequested([](const std::string&) {})),
         "pinInput pinRequested"},
        {AuthenticateFlowEvent::signingEvent(CardSigningEvent::wrongPin(2, [](const std::string&) {})),
         "pinInput wrongPin"},
        {AuthenticateFlowEvent::signingEvent(
             CardSigningEvent::of(CardSigningEvent::Kind::waitingForHarwarePinInput)),
         "pinInput waitingForHarwarePinInput"},
        {AuthenticateFlowEvent::ongoing(), "none"},
        {AuthenticateFlowEvent::signingEvent(
             CardSigningEvent::of(CardSigningEvent::Kind::failedButCouldBeCancelledOrWrongPin)),
         "pinInput failedButCouldBeCancelledOrWrongPin"},
        {AuthenticateFlowEvent::completed(session("card-1", "server-1"), true), "none"},
    };
    for (const auto& [event, sheet] : steps) {
        rig.facade->open->yield(event);
        rig.settle();
        EXPECT_EQ(describe(model->currentModalState()), sheet);
    }
    EXPECT_EQ(describe(model->navigationTarget()), "certificateRetrieval card-1 retrieveAndShow");
    EXPECT_EQ(model->currentCard(), used);
    rig.facade->open->finish();
    rig.settle();
    EXPECT_EQ(model->currentCard(), nullptr);
}

TEST(AppNavigationViewModelTest, CardFailuresAreShownAtOnceAndALaterEventStillLeadsOn) {
    NavigationRig rig;
    rig.facade->keepOpen = true;
    auto model = rig.make(AppOpenMode::getCertificate(false));
    model->handleCardSelected(card("card-1", rig.log), "auth-1");
    rig.settle();
    rig.log->take();
    LogCapture logs;

    rig.facade->open->yield(AuthenticateFlowEvent::signingEvent(CardSigningEvent::pinRequested({})));
    rig.facade->open->yield(
        AuthenticateFlowEvent::signingEvent(CardSigningEvent::failed("123", "card blocked")));
    rig.settle();
    EXPECT_EQ(rig.log->take(), Lines{"cancel card-1"}) << "a failed operation is left open by the card";
    EXPECT_EQ(describe(model->currentModalState()), "none");
    EXPECT_EQ(describe(model->navigationTarget()), "info '5123: Signing failed: card blocked' error");

    rig.facade->open->yield(AuthenticateFlowEvent::signingEvent(
        CardSigningEvent::of(CardSigningEvent::Kind::failedBecauseOfCardRemoval)));
    rig.settle();
    EXPECT_EQ(describe(model->navigationTarget()), "info '5004: eID card removed' error");

    Lines errors;
    for (const auto& line : logs.lines())
        if (line.level == LogLevel::error)
            errors.push_back(line.message);
    EXPECT_EQ(errors,
              (Lines{"Signing with card failed, message: card blocked", "5123: Signing failed: card blocked",
                     "Signing with card failed, message: card removed", "5004: eID card removed"}));

    // The facade decides whether more follows.
    rig.facade->open->yield(AuthenticateFlowEvent::completed(session("card-1", "server-1"), false));
    rig.settle();
    EXPECT_EQ(describe(model->navigationTarget()), "certificateRetrieval card-1 retrieve");
}

TEST(AppNavigationViewModelTest, AnAuthenticationThatEndsWithoutASessionLeavesTheLastScreen) {
    NavigationRig rig;
    rig.facade->script = std::vector{AuthenticateFlowEvent::ongoing(),
                                     AuthenticateFlowEvent::signingEvent(CardSigningEvent::pinRequested({}))};
    auto model = rig.make(AppOpenMode::accountInfo());
    model->handleCardSelected(card("card-1", rig.log), "auth-1");
    rig.settle();
    EXPECT_EQ(describe(model->navigationTarget()), "info 'Validating account status...' waiting");
    EXPECT_EQ(describe(model->currentModalState()), "pinInput pinRequested");
    EXPECT_EQ(model->currentCard(), nullptr);
}

struct ValidationErrorCase {
    AppOpenMode mode;
    bool fromStream;  // the facade reports the error; otherwise the account status fails
    HalcyraError error;
    std::string shown;
};

TEST(AppNavigationViewModelTest, ServerErrorsEndTheValidationWithTheFlowsCodeAndPurgeTheSession) {
    const std::vector<ValidationErrorCase> cases = {
        {AppOpenMode::accountInfo(), true,
         HalcyraError::backendError(404, {"S-1", "S-2"}, "Session unknown", {}),
         "info '1401-404: Session unknown - S-1, S-2' error"},
        {AppOpenMode::getCertificate(true), false, HalcyraError::backendError(500, {}, "Internal", {}),
         "info '1201-500: Internal' error"},
        {AppOpenMode::getCertificate(false), true, HalcyraError::networkError(nullptr),
         "info '1201: Network error, please verify your internet connection.' error"},
        {AppOpenMode::accountInfo(), false, HalcyraError::otherError("Bad reply"),
         "info '1401: Bad reply' error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        NavigationRig rig;
        if (c.fromStream) {
            rig.facade->script =
                std::vector{AuthenticateFlowEvent::signingEvent(CardSigningEvent::pinRequested({})),
                            AuthenticateFlowEvent::error(c.error)};
        } else {
            rig.facade->script =
                std::vector{AuthenticateFlowEvent::completed(session("card-1", "server-1"), false)};
            rig.remote->accountStatusCalls.error = c.error;
        }
        auto model = rig.make(c.mode);
        model->handleCardSelected(card("card-1", rig.log), "auth-1");
        rig.settle();
        EXPECT_EQ(describe(model->navigationTarget()), c.shown);
        EXPECT_EQ(describe(model->currentModalState()), "none");
        EXPECT_EQ(rig.log->list.back(), "purgeSession card-1");
    }
}

// The context that a flow's target carries, with the session the flow talks to the server with.
std::optional<SigningSessionContext> targetContext(const AppNavigationTarget& target) {
    if (const auto* retrieval = target.as<AppNavigationTarget::CertificateRetrieval>())
        return retrieval->context;
    if (const auto* creation = target.as<AppNavigationTarget::AccountCreation>())
        return creation->context;
    if (const auto* info = target.as<AppNavigationTarget::AccountInfo>())
        return info->context;
    return std::nullopt;
}

struct AccountStatusCase {
    std::string name;
    AppOpenMode mode;
    bool walletContext;
    bool onboarded;
    std::function<void(halcyra::AccountStatusDetails&)> status;
    std::string target;
    Lines calls;  // after the account status
    bool onboardedAfter;
};

TEST(AppNavigationViewModelTest, TheAccountStatusDecidesWhereTheFlowGoes) {
    auto deleted = [](halcyra::AccountStatusDetails& d) { d.status = halcyra::AccountStatus::deleted; };
    const std::vector<AccountStatusCase> cases = {
        {"cannot sign, no reason text",
         AppOpenMode::getCertificate(true),
         false,
         true,
         [](auto& d) {
             d.canSign = false;
             d.cannotSignReasonCode = 3;
         },
         "info '3: You are not eligible to have an online signing account'",
         {},
         true},
        {"cannot sign with a reason",
         AppOpenMode::accountInfo(),
         true,
         false,
         [](auto& d) {
             d.canSign = false;
             d.cannotSignReasonCode = 12;
             d.cannotSignReasonText = {{"en", "Your account is suspended."}};
         },
         "info '12: Your account is suspended.'",
         {},
         false},
        {"active, for the plug-in",
         AppOpenMode::getCertificate(false),
         false,
         false,
         [](auto&) {},
         "certificateRetrieval card-1 retrieve",
         {},
         true},
        {"active, shown",
         AppOpenMode::getCertificate(true),
         true,
         false,
         [](auto&) {},
         "certificateRetrieval " + wallet + " retrieveAndShow",
         {},
         true},
        {"active, account info",
         AppOpenMode::accountInfo(),
         false,
         false,
         [](auto&) {},
         "accountInfo card-1 Ann",
         {"updateSessionHolder card-1", "removeTokenIfCertificateInvalid card-1"},
         true},
        {"deleted, card",
         AppOpenMode::accountInfo(),
         false,
         true,
         deleted,
         "accountCreation card-1",
         {"removeToken card-1", "updateSessionHolder card-1"},
         true},
        {"deleted, wallet, never onboarded",
         AppOpenMode::getCertificate(true),
         true,
         false,
         deleted,
         "accountCreation " + wallet,
         {"removeToken " + wallet, "updateSessionHolder " + wallet},
         false},
        {"deleted, wallet after onboarding",
         AppOpenMode::getCertificate(true),
         true,
         true,
         deleted,
         "info 'Validating account status...' waiting",
         {"getMeans CLIENTDATA000001 high", "purgeSession " + wallet},
         false},
    };
    platform::SystemInfo::setPreferredLanguagesOverride(std::vector<std::string>{"en-BE"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NavigationRig rig;
        rig.settings->setHasOnboardedAtLeastOnce(c.onboarded);
        rig.store->storedSession = session("stored", "server-1");
        c.status(rig.remote->accountStatus);
        auto model = rig.make(c.mode);
        rig.log->take();
        if (c.walletContext)
            model->handleWalletTrackingResult(WalletTrackingResult::success("auth-1", "poll-1"));
        else
            model->handleCardSelected(card("card-1", rig.log), "auth-1");
        rig.settle();
        Lines calls = rig.log->take();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.front(), "getAccountStatus server-1");
        EXPECT_EQ(Lines(calls.begin() + 1, calls.end()), c.calls);
        EXPECT_EQ(describe(model->navigationTarget()), c.target);
        if (const auto context = targetContext(model->navigationTarget())) {
            EXPECT_EQ(context->sessionId(), "server-1") << "the stored session, not the selection's";
        }
        EXPECT_EQ(rig.settings->hasOnboardedAtLeastOnce(), c.onboardedAfter);
    }
    platform::SystemInfo::setPreferredLanguagesOverride(std::nullopt);
}

TEST(AppNavigationViewModelTest, ADeactivatedWalletAccountLogsInAgainAtHighAssuranceForTheAccountCreation) {
    NavigationRig rig;
    rig.settings->setHasOnboardedAtLeastOnce(true);
    rig.store->storedSession = session(wallet, "server-1");
    rig.remote->accountStatus.status = halcyra::AccountStatus::deleted;
    auto model = rig.make(AppOpenMode::accountInfo());
    rig.log->take();
    model->handleWalletTrackingResult(WalletTrackingResult::success("auth-1", "poll-1"));
    rig.settle();
    EXPECT_EQ(describe(model->currentModalState()), "walletTracking session-1");
    EXPECT_EQ(model->currentSigningReason(), SigningReason::of(Kind::accountCreationAuthentication));
    // The weaker session goes, so that the new login is authenticated rather than the old one reused.
    EXPECT_EQ(rig.log->take(), (Lines{"getAccountStatus server-1", "getMeans CLIENTDATA000001 high",
                                      "purgeSession " + wallet}));

    // The new login, still inactive, now leads to the account creation.
    rig.store->storedSession = session(wallet, "server-2");
    rig.log->take();
    model->handleWalletTrackingResult(WalletTrackingResult::success("session-1", "poll-2"));
    rig.settle();
    EXPECT_EQ(rig.log->take(),
              (Lines{"getAccountStatus server-2", "removeToken " + wallet, "updateSessionHolder " + wallet}));
    EXPECT_EQ(describe(model->navigationTarget()), "accountCreation " + wallet);
    EXPECT_EQ(describe(model->currentModalState()), "none");
}

TEST(AppNavigationViewModelTest,
     TheCertificateIsRetrievedDuringTheAuthenticationOnlyForTheAccountInformation) {
    for (const auto& mode : {AppOpenMode::accountInfo(), AppOpenMode::getCertificate(true)}) {
        NavigationRig rig;
        auto model = rig.make(mode);
        rig.log->take();
        model->handleWalletTrackingResult(WalletTrackingResult::success("auth-1", "poll-1"));
        rig.settle();
        EXPECT_EQ(rig.log->take(), Lines{"runAuthentication " + wallet + " auth-1" +
                                         (mode.is<AppOpenMode::AccountInfo>() ? " retrieving" : "")});
        EXPECT_EQ(model->currentCard(), nullptr);
    }
}

// --- Completions

struct CompletionCase {
    std::string name;
    AppOpenMode mode;
    std::function<void(AppNavigationViewModel&)> complete;
    std::string target;  // after the completion; "" when only the window closes
    Lines calls;
};

TEST(AppNavigationViewModelTest, TheFlowsCompletionsCloseTheWindowOrShowWhatFollows) {
    const auto context = SigningSessionContext::wallet("auth-1", "poll-1");
    const auto failed = appError("102", "The agreement could not be signed.");
    const std::vector<CompletionCase> cases = {
        {"creation failed",
         AppOpenMode::accountInfo(),
         [&](auto& m) { m.handleAccountCreationCompleted(context, failed); },
         "info '2102: The agreement could not be signed.' error",
         {"purgeSession " + wallet}},
        {"creation done, shown",
         AppOpenMode::getCertificate(true),
         [&](auto& m) { m.handleAccountCreationCompleted(context, std::nullopt); },
         "certificateRetrieval " + wallet + " showOnly",
         {}},
        {"creation done, for the plug-in",
         AppOpenMode::getCertificate(false),
         [&](auto& m) { m.handleAccountCreationCompleted(context, std::nullopt); },
         "",
         {"window closed"}},
        {"creation done, account info",
         AppOpenMode::accountInfo(),
         [&](auto& m) { m.handleAccountCreationCompleted(context, std::nullopt); },
         "accountInfo " + wallet + " Ann",
         {"getAccountStatus server-1", "updateSessionHolder " + wallet,
          "removeTokenIfCertificateInvalid " + wallet}},
        {"creation cancelled",
         AppOpenMode::accountInfo(),
         [&](auto& m) { m.handleAccountCreationCancelled(context); },
         "",
         {"purgeSession " + wallet, "window closed"}},
        {"signing failed",
         AppOpenMode::sign(SigningRequestType::overXPC()),
         [&](auto& m) { m.handleSigningCompleted(appError("001", "No hash.")); },
         "info '2001: No hash.' error",
         {}},
        {"signing done",
         AppOpenMode::sign(SigningRequestType::overXPC()),
         [&](auto& m) { m.handleSigningCompleted(std::nullopt); },
         "",
         {"window closed"}},
        {"retrieval failed",
         AppOpenMode::getCertificate(true),
         [&](auto& m) { m.handleCertificateRetrievalCompleted(appError("202", "No certificate.")); },
         "info '2202: No certificate.' error",
         {"purgeExpiredSessionsAndTokens"}},
        {"retrieval done",
         AppOpenMode::getCertificate(false),
         [&](auto& m) { m.handleCertificateRetrievalCompleted(std::nullopt); },
         "",
         {"window closed"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NavigationRig rig;
        rig.store->storedSession = session(wallet, "server-1");
        auto model = rig.make(c.mode);
        const auto before = describe(model->navigationTarget());
        rig.log->take();
        c.complete(*model);
        rig.settle();
        EXPECT_EQ(rig.log->take(), c.calls);
        EXPECT_EQ(describe(model->navigationTarget()), c.target.empty() ? before : c.target);
    }
}

TEST(AppNavigationViewModelTest,
     ACompletedAccountCreationMarksTheUserOnboardedAndLeadsToTheAccountInformation) {
    NavigationRig rig;
    rig.store->storedSession = session(wallet, "server-1");
    auto model = rig.make(AppOpenMode::settings());
    model->handleAccountCreationCompleted(SigningSessionContext::wallet("auth-1", "poll-1"), std::nullopt);
    rig.settle();
    EXPECT_TRUE(rig.settings->hasOnboardedAtLeastOnce());
    EXPECT_EQ(model->mode(), AppOpenMode::accountInfo());
    EXPECT_EQ(describe(model->navigationTarget()), "accountInfo " + wallet + " Ann");
}

// --- PIN and wallet sheets

TEST(AppNavigationViewModelTest, ACancelledPinSheetClosesTheWindowAndATimedOutOneSaysSoForItsFlow) {
    NavigationRig rig;
    auto model = rig.make(AppOpenMode::getCertificate(true));
    model->setCurrentModalState(AppNavigationViewModalState::pinInput(CardSigningEvent::pinRequested({})));
    model->handlePinInputEnded(false);
    rig.settle();
    EXPECT_EQ(describe(model->currentModalState()), "none");
    EXPECT_EQ(rig.closes(), 1);

    const std::vector<std::pair<AppOpenMode, std::string>> cases = {
        {AppOpenMode::getCertificate(false), "info '2200: PIN input has timed out.'"},
        {AppOpenMode::sign(SigningRequestType::overXPC()), "info '2300: PIN input has timed out.'"},
        {AppOpenMode::accountInfo(), "info '2400: PIN input has timed out.'"},
        {AppOpenMode::menu(), "info '2400: PIN input has timed out.'"},
    };
    for (const auto& [mode, shown] : cases) {
        SCOPED_TRACE(mode.description());
        NavigationRig rig;
        auto model = rig.make(mode);
        model->setCurrentModalState(
            AppNavigationViewModalState::pinInput(CardSigningEvent::pinRequested({})));
        model->handlePinInputEnded(true);
        rig.settle();
        EXPECT_EQ(describe(model->currentModalState()), "none");
        EXPECT_EQ(describe(model->navigationTarget()), shown);
        EXPECT_EQ(rig.closes(), 0);
    }
}

TEST(AppNavigationViewModelTest, TheWalletSheetsResultsCancelAndScan) {
    NavigationRig rig;
    rig.facade->keepOpen = true;
    auto model = rig.make(AppOpenMode::getCertificate(true));
    model->handleMethodSelectionResult(chose(halcyra::AuthenticationMethod::wallet));
    rig.settle();
    rig.log->take();

    // Scanning the code ends the wallet session the store had.
    model->walletQrCodeScanned();
    EXPECT_EQ(rig.log->take(), Lines{"purgeSession " + wallet});

    model->handleWalletTrackingResult(WalletTrackingResult::failure(
        AppError(ErrorCodeCategory::backend, ErrorCodeSourceFlow::certificateRetrieval, "04", "Poll failed",
                 HalcyraError::backendError(503, {}, "Unavailable", {}))));
    EXPECT_EQ(describe(model->currentModalState()), "none");
    EXPECT_EQ(describe(model->navigationTarget()), "info '1204-503: Unavailable' error");

    model->setCurrentModalState(AppNavigationViewModalState::walletTracking("auth-2"));
    model->handleWalletTrackingResult(WalletTrackingResult::success("auth-2", "poll-2"));
    rig.settle();
    EXPECT_EQ(describe(model->currentModalState()), "none");
    EXPECT_EQ(rig.log->take(), Lines{"runAuthentication " + wallet + " auth-2"});

    model->setCurrentModalState(AppNavigationViewModalState::walletTracking("auth-3"));
    model->handleWalletTrackingCancellation();
    rig.settle();
    EXPECT_EQ(describe(model->currentModalState()), "none");
    EXPECT_EQ(rig.closes(), 1);
}

TEST(AppNavigationViewModelTest, ANewQrCodeAsksForTheSameAssuranceAsTheSessionItReplaces) {
    struct Case {
        std::string name;
        bool onboarded;
        bool reauthentication;
        std::string level;
    };
    const std::vector<Case> cases = {
        {"first login", false, false, "high"},
        {"after onboarding", true, false, "substantial"},
        {"login again for the account creation", true, true, "high"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NavigationRig rig;
        rig.settings->setHasOnboardedAtLeastOnce(c.onboarded);
        auto model = rig.make(AppOpenMode::getCertificate(true));
        model->handleMethodSelectionResult(chose(halcyra::AuthenticationMethod::wallet));
        rig.settle();
        if (c.reauthentication) {
            rig.store->storedSession = session(wallet, "server-1");
            rig.remote->accountStatus.status = halcyra::AccountStatus::deleted;
            model->handleWalletTrackingResult(WalletTrackingResult::success("auth-1", "poll-1"));
            rig.settle();
            ASSERT_EQ(describe(model->currentModalState()), "walletTracking session-1");
        }
        rig.log->take();
        auto identifiers = testsupport::await(model->refreshWalletSession("old"));
        EXPECT_EQ(rig.log->take(), Lines{"getMeans CLIENTDATA000001 " + c.level});
        EXPECT_EQ(identifiers.pollingSessionId, std::nullopt);
        EXPECT_EQ(identifiers.sessionId, c.reauthentication ? "session-2" : "session-1");
    }

    // A failure reaches the sheet unchanged.
    NavigationRig rig;
    auto model = rig.make(AppOpenMode::getCertificate(true));
    rig.authenticate->meansCalls.error = HalcyraError::backendError(429, {"S-9"}, "Slow down", {});
    auto outcome = testsupport::run(model->refreshWalletSession("old"));
    auto error = outcome.errorAs<HalcyraError>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->statusCode(), 429);
}

// --- Method-selection model

TEST(AppNavigationViewModelTest, TheMethodSelectionModelIsMadeForTheMode) {
    struct Case {
        AppOpenMode mode;
        std::string title;
        std::optional<std::string> doneButton;
        bool validate;
    };
    const std::vector<Case> cases = {
        {AppOpenMode::getCertificate(false), L("Means selection certificate creation"),
         "Use existing certificate", true},
        {AppOpenMode::getCertificate(true), L("Means selection certificate creation"), std::nullopt, false},
        {AppOpenMode::accountInfo(), "Account information", std::nullopt, false},
        {AppOpenMode::sign(SigningRequestType::overXPC()), "", std::nullopt, false},
        {AppOpenMode::menu(), "", std::nullopt, false},
        {AppOpenMode::settings(), "", std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode.description());
        NavigationRig rig;
        auto model = rig.make(c.mode);
        auto selection = model->makeMethodSelectionViewModel();
        EXPECT_EQ(selection->titleText, c.title);
        EXPECT_EQ(selection->doneButtonText, c.doneButton);
        EXPECT_EQ(selection->validateAuthenticatedAccounts, c.validate);
    }

    // Its completion reaches the model while the model exists, and nothing once it is gone.
    NavigationRig rig;
    auto model = rig.make(AppOpenMode::getCertificate(true));
    auto selection = model->makeMethodSelectionViewModel();
    selection->methodSelectionCompleted(chose(halcyra::AuthenticationMethod::wallet));
    rig.settle();
    EXPECT_EQ(describe(model->currentModalState()), "walletTracking auth-1");
    model.reset();
    selection->methodSelectionCompleted(chose(halcyra::AuthenticationMethod::eid));
    rig.settle();
    EXPECT_EQ(rig.reader->readings, 0);
}

// --- The screens' models

template <class Model>
std::shared_ptr<Model> screenOf(const AppNavigationViewModel& model) {
    const auto* screen = std::get_if<std::shared_ptr<Model>>(&model.screen());
    return screen ? *screen : nullptr;
}

struct ScreenCase {
    std::string name;
    AppOpenMode mode;
    std::function<void(NavigationRig&, AppNavigationViewModel&)> reach;  // brings the target
    std::function<void(NavigationRig&, AppNavigationViewModel&)> act;    // on the target's screen model
    std::string target;                                                  // after the action
    Lines calls;
};

TEST(AppNavigationViewModelTest, EachScreensModelLeadsBackToTheNavigationOrClosesTheWindow) {
    const auto nothing = [](NavigationRig&, AppNavigationViewModel&) {};
    const auto twoCards = [](NavigationRig& rig, AppNavigationViewModel& model) {
        rig.reader->cards = {card("card-1", rig.log), card("card-2", rig.log)};
        model.handleMethodSelectionResult(chose(halcyra::AuthenticationMethod::eid));
    };
    const auto deletedWalletAccount = [](NavigationRig& rig, AppNavigationViewModel& model) {
        rig.store->storedSession = session(wallet, "server-1");
        rig.remote->accountStatus.status = halcyra::AccountStatus::deleted;
        model.handleWalletTrackingResult(WalletTrackingResult::success("auth-1", "poll-1"));
    };
    const std::vector<ScreenCase> cases = {
        {"the method selection's choice",
         AppOpenMode::getCertificate(true),
         nothing,
         [](NavigationRig&, AppNavigationViewModel& model) {
             ASSERT_EQ(describe(model.navigationTarget()), "methodSelection");
             screenOf<AuthenticationMethodSelectionViewModel>(model)->methodSelectionCompleted(
                 chose(halcyra::AuthenticationMethod::wallet));
         },
         "info '' waiting",
         {}},
        {"the method selection's done",
         AppOpenMode::getCertificate(false),
         nothing,
         [](NavigationRig&, AppNavigationViewModel& model) {
             screenOf<AuthenticationMethodSelectionViewModel>(model)->done();
         },
         "methodSelection",
         {"window closed"}},
        {"a card picked in the card selection",
         AppOpenMode::accountInfo(),
         twoCards,
         [](NavigationRig&, AppNavigationViewModel& model) {
             ASSERT_EQ(describe(model.navigationTarget()), "cardSelection 2 cards auth-1");
             auto selection = screenOf<CardSelectionViewModel>(model);
             selection->select(selection->viewState().cards[1]);
         },
         "info 'Validating account status...' waiting",
         {"runAuthentication card-2 auth-1 retrieving"}},
        {"the card selection's done",
         AppOpenMode::accountInfo(),
         twoCards,
         [](NavigationRig&, AppNavigationViewModel& model) {
             screenOf<CardSelectionViewModel>(model)->done();
         },
         "cardSelection 2 cards auth-1",
         {"window closed"}},
        // The retrieval runs on the doubles, whose server gives no certificate: its failure comes back here.
        {"the certificate retrieval",
         AppOpenMode::getCertificate(false),
         [](NavigationRig& rig, AppNavigationViewModel& model) {
             rig.store->storedSession = session(wallet, "server-1");
             model.handleWalletTrackingResult(WalletTrackingResult::success("auth-1", "poll-1"));
         },
         [](NavigationRig&, AppNavigationViewModel& model) {
             ASSERT_EQ(describe(model.navigationTarget()), "certificateRetrieval " + wallet + " retrieve");
             screenOf<CertificateRetrievalViewModel>(model)->start();
         },
         "info '2202: Could not retrieve certificate: session database failure.' error",
         {"getSignatureInfo server-1", "registerToken " + wallet, "purgeExpiredSessionsAndTokens"}},
        {"the signatures sent",
         AppOpenMode::sign(SigningRequestType::overXPC()),
         nothing,
         [](NavigationRig&, AppNavigationViewModel& model) {
             screenOf<SigningViewModel>(model)->finishWithSignatures({"AQID"});
         },
         "signing sign(overXPC(hash: none))",
         {"window closed"}},
        {"the signing's card selection's done",
         AppOpenMode::sign(SigningRequestType::overXPC()),
         nothing,
         [](NavigationRig& rig, AppNavigationViewModel& model) {
             auto signing = screenOf<SigningViewModel>(model);
             signing->start();
             rig.xpc->deliverHash({1, 2, 3}, "card-9");
             rig.settle();
             auto* selection = std::get_if<std::shared_ptr<CardSelectionViewModel>>(&signing->page());
             ASSERT_TRUE(selection) << "no card card-9 in its reader";
             (*selection)->done();
         },
         "signing sign(overXPC(hash: none))",
         {"window closed"}},
        {"the launch-agent page once the agent is enabled",
         AppOpenMode::sign(SigningRequestType::overXPC()),
         nothing,
         [](NavigationRig& rig, AppNavigationViewModel& model) {
             ASSERT_EQ(describe(model.navigationTarget()), "launchAgentInfo");
             ASSERT_TRUE(screenOf<LaunchAgentServiceInfoViewModel>(model));
             rig.launchAgent->enabled = true;
             rig.scheduler->advance(LaunchAgentServiceInfoViewModel::statusCheckInterval);
         },
         "signing sign(overXPC(hash: none))",
         {}},
        {"the main menu's choice",
         AppOpenMode::menu(),
         nothing,
         [](NavigationRig&, AppNavigationViewModel& model) {
             screenOf<MenuViewModel>(model)->menuItemSelected(AppOpenMode::accountInfo());
         },
         "mainMenu",
         {"content accountInfo"}},
        {"the settings' done",
         AppOpenMode::settings(),
         nothing,
         [](NavigationRig&, AppNavigationViewModel& model) {
             screenOf<AppSettingsViewModel>(model)->closeRequested();
         },
         "settings",
         {"window closed"}},
        {"the account screen's done",
         AppOpenMode::accountInfo(),
         [](NavigationRig& rig, AppNavigationViewModel& model) {
             rig.store->storedSession = session(wallet, "server-1");
             model.handleWalletTrackingResult(WalletTrackingResult::success("auth-1", "poll-1"));
         },
         [](NavigationRig&, AppNavigationViewModel& model) {
             ASSERT_EQ(describe(model.navigationTarget()), "accountInfo " + wallet + " Ann");
             screenOf<AccountInfoViewModel>(model)->done();
         },
         "accountInfo " + wallet + " Ann",
         {"window closed"}},
        {"the account creation cancelled",
         AppOpenMode::getCertificate(true),
         deletedWalletAccount,
         [](NavigationRig&, AppNavigationViewModel& model) {
             ASSERT_EQ(describe(model.navigationTarget()), "accountCreation " + wallet);
             screenOf<AccountCreationViewModel>(model)->stop();
         },
         "accountCreation " + wallet,
         {"purgeSession " + wallet, "window closed"}},
        {"the account created",
         AppOpenMode::getCertificate(true),
         deletedWalletAccount,
         [](NavigationRig&, AppNavigationViewModel& model) {
             screenOf<AccountCreationViewModel>(model)->certificateRetrievalCompleted(std::nullopt);
         },
         "certificateRetrieval " + wallet + " showOnly",
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NavigationRig rig;
        rig.launchAgent->enabled = !c.name.starts_with("the launch-agent page");
        auto model = rig.make(c.mode);
        c.reach(rig, *model);
        rig.settle();
        rig.log->take();
        c.act(rig, *model);
        rig.settle();
        EXPECT_EQ(rig.log->take(), c.calls);
        EXPECT_EQ(describe(model->navigationTarget()), c.target);
    }
}

TEST(AppNavigationViewModelTest, TheInfoPagesOkClosesTheWindowWhateverBecameOfTheModel) {
    NavigationRig rig;
    auto model = rig.make(AppOpenMode::accountInfo());
    model->handleSigningCompleted(appError("001", "No hash."));
    auto info = screenOf<InfoViewModel>(*model);
    ASSERT_TRUE(info);
    EXPECT_EQ(headline(info->message), "2001: No hash.");
    EXPECT_TRUE(info->allowMessageCopyWhenNotWaiting);

    model->end();
    EXPECT_FALSE(screenOf<InfoViewModel>(*model)) << "an ended model lets its screen's model go";
    model.reset();
    rig.log->take();
    info->confirmed();
    rig.settle();
    EXPECT_EQ(rig.log->take(), Lines{"window closed"});
}

// --- A model the window has let go

TEST(AppNavigationViewModelTest, AnEndedModelCancelsItsCardAndActsOnNothingMore) {
    NavigationRig rig;
    rig.facade->keepOpen = true;
    auto model = rig.make(AppOpenMode::getCertificate(false));
    model->handleCardSelected(card("card-1", rig.log), "auth-1");
    rig.settle();
    rig.facade->open->yield(AuthenticateFlowEvent::signingEvent(CardSigningEvent::pinRequested({})));
    rig.settle();
    rig.log->take();
    const auto shown = describe(model->navigationTarget());

    model->end();
    EXPECT_EQ(rig.log->take(), Lines{"cancel card-1"});
    rig.facade->open->yield(AuthenticateFlowEvent::completed(session("card-1", "server-1"), false));
    model->handleSigningCompleted(std::nullopt);
    model->handleCertificateRetrievalCompleted(appError("202", "late"));
    model->handleWalletTrackingCancellation();
    model->handlePinInputEnded(true);
    model->restart();
    rig.settle();
    EXPECT_EQ(rig.log->take(), Lines{});
    EXPECT_EQ(describe(model->navigationTarget()), shown);
    EXPECT_EQ(describe(model->currentModalState()), "pinInput pinRequested");
}

}  // namespace
