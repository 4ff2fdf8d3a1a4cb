// The account creation's model: its pages, the rule by which its sheets follow one another (the 0.1 s gap,
// and a late state never replacing a newer one), the agreement's retrieval, its signature with the card and
// in the wallet, the errors that keep the user on the page or end the flow, and the flow's single end.
#include <gtest/gtest.h>

#include "AccountTestRig.h"
#include "Quorvane/core/MainWindowController.h"
#include "outside/Common/Common.h"
#include "platform/NotificationCenter.h"
#include "platform/testing/Await.h"

namespace {

using namespace accounttest;
using State = AccountCreationModalState;
using Step = AccountCreationStep;

// The sheet as a line: "none", "message <text>" (with " (waiting)" while in progress), "pin <event kind>",
// "wallet <session> <polling session>", "retrieving".
std::string describe(const std::optional<State>& state) {
    if (!state)
        return "none";
    switch (state->kind()) {
        case State::Kind::waiting: {
            const auto* waiting = state->waitingMessage();
            return "message " + waiting->message + (waiting->isWaiting ? " (waiting)" : "") +
                   (waiting->isTerminal ? " (terminal)" : "");
        }
        case State::Kind::pinInput:
            return "pin " + std::to_string(int(state->pinInputEvent()->kind));
        case State::Kind::walletTracking:
            return "wallet " + *state->walletTrackingSessionId() + " " +
                   state->walletTrackingPollingSessionId().value_or("-");
        case State::Kind::retrievingCertificate:
            return "retrieving";
    }
    return "?";
}

const std::string pinRequested = "pin " + std::to_string(int(CardSigningEvent::Kind::pinRequested));
const std::string wrongPin = "pin " + std::to_string(int(CardSigningEvent::Kind::wrongPin));

class AccountCreationTest : public ::testing::Test {
  protected:
    std::string sheet() const { return describe(model->currentModalState()); }

    // The model on the agreement page, its document fetched.
    void onAgreementPage(const SigningSessionContext& context) {
        model = rig.creation(context);
        model->showTermsAndConditions();
        model->showIdentityVerification();
        model->retrieveAgreement();
        rig.advance(AccountCreationViewModel::modalStateGap);
        ASSERT_TRUE(model->currentStep().is<Step::SubscriberAgreement>()) << sheet();
        ASSERT_EQ(sheet(), "none");
    }
    // The PIN typed into the sheet the card's event asks it through.
    void typePin(const std::string& pin) {
        const auto state = model->currentModalState();
        const auto* event = state ? state->pinInputEvent() : nullptr;
        ASSERT_TRUE(event && event->providePinClosure) << sheet();
        // As the sheet does: the closure is its own, and the event it came with may be replaced meanwhile.
        auto providePin = event->providePinClosure;
        providePin(pin);
        rig.settle();
    }

    Rig rig;
    std::shared_ptr<AccountCreationViewModel> model;
};

TEST_F(AccountCreationTest, StartsOnTheDisclaimerAndGoesThroughThePagesInOrder) {
    model = rig.creation(rig.cardContext());
    EXPECT_TRUE(model->currentStep().is<Step::Disclaimer>());
    EXPECT_EQ(sheet(), "none");
    EXPECT_TRUE(model->stopAllowed());
    EXPECT_EQ(model->currentSigningReason().kind, SigningReason::Kind::agreementSigning);
    EXPECT_EQ(model->currentCard(), rig.card);
    EXPECT_FALSE(rig.creation(rig.walletContext())->currentCard());

    int notifications = 0;
    auto subscription = model->subscribe([&] { ++notifications; });
    model->makeDisclaimerViewModel()->continueRequested();
    EXPECT_TRUE(model->currentStep().is<Step::TermsAndConditionsAgreement>());
    EXPECT_EQ(notifications, 1);
    model->showTermsAndConditions();
    EXPECT_EQ(notifications, 1) << "the same page again tells nobody";

    // The terms go on only with the box ticked.
    auto terms = model->makeConditionsViewModel();
    EXPECT_FALSE(terms->isReadAndAgreedCheckboxChecked());
    terms->confirm();
    EXPECT_TRUE(model->currentStep().is<Step::TermsAndConditionsAgreement>());
    terms->setReadAndAgreedCheckboxChecked(true);
    terms->confirm();
    EXPECT_TRUE(model->currentStep().is<Step::IdentityVerification>());

    // The identity page keeps its model (and its box) for the whole flow.
    auto identity = model->identityValidationViewModel();
    EXPECT_EQ(model->identityValidationViewModel(), identity);
    EXPECT_EQ(identity->context().sessionId(), "auth-1");
    identity->confirm();
    EXPECT_TRUE(rig.onboarding->agreementCalls.requests.empty()) << "not without the box ticked";
    identity->setConfirmCheckboxChecked(true);
    identity->confirm();
    rig.settle();
    ASSERT_EQ(rig.onboarding->agreementCalls.requests.size(), 1u);
    EXPECT_EQ(rig.onboarding->agreementCalls.requests[0].authSessionId, "auth-1");
    EXPECT_EQ(rig.onboarding->agreementCalls.requests[0].pdfLanguage, "en");
    EXPECT_EQ(model->currentStep(), Step::subscriberAgreement(rig.onboarding->agreement));
    EXPECT_EQ(sheet(), "none");
    EXPECT_EQ(model->makeSubscriberAgreementViewModel()->pdfData, rig.onboarding->agreement);
    EXPECT_NE(model->currentStep(), Step::subscriberAgreement({'x'})) << "another document is another page";
    EXPECT_TRUE(rig.completions->empty());
}

TEST_F(AccountCreationTest, StoppingEndsTheFlowOnceAndNothingActsAfterwards) {
    for (bool fromHeader : {false, true}) {
        SCOPED_TRACE(fromHeader ? "Stop activation" : "Cancel on the disclaimer");
        *rig.cancels = 0;
        model = rig.creation(rig.cardContext());
        if (fromHeader) {
            model->showTermsAndConditions();
            model->showIdentityVerification();
            model->retrieveAgreement();
            model->stop();
        } else {
            model->makeDisclaimerViewModel()->cancelRequested();
        }
        EXPECT_EQ(*rig.cancels, 1);
        EXPECT_TRUE(model->hasEnded());
        // The agreement's reply, a second stop, a page's button: nothing.
        rig.advance(1s);
        model->stop();
        model->showTermsAndConditions();
        model->confirmAgreement();
        rig.settle();
        EXPECT_EQ(*rig.cancels, 1);
        EXPECT_TRUE(rig.completions->empty());
        EXPECT_FALSE(model->currentStep().is<Step::SubscriberAgreement>());
        EXPECT_TRUE(rig.onboarding->confirmCalls.requests.empty());
    }
}

TEST_F(AccountCreationTest, ASheetOfAnotherKindFollowsAfterTheGapAndTheSameKindIsReplacedInPlace) {
    model = rig.creation(rig.cardContext());
    const auto pin = [](CardSigningEvent::Kind kind) {
        return State::pinInput(kind == CardSigningEvent::Kind::pinRequested
                                   ? CardSigningEvent::pinRequested([](const std::string&) {})
                                   : CardSigningEvent::wrongPin(2, [](const std::string&) {}));
    };
    struct Case {
        const char* name;
        std::optional<State> shown;
        State next;
        bool gap;
    };
    const Case cases[] = {
        {"anything over nothing", std::nullopt, State::retrievingCertificate(), false},
        {"a PIN event over a PIN sheet", pin(CardSigningEvent::Kind::pinRequested),
         pin(CardSigningEvent::Kind::wrongPin), false},
        {"a wallet sheet over a wallet sheet", State::walletTracking("a", "p1"),
         State::walletTracking("a", "p2"), false},
        {"a message over a message", State::waiting("one", true, false), State::waiting("two", false, false),
         true},
        {"a PIN sheet over a message", State::waiting("one", true, false),
         pin(CardSigningEvent::Kind::pinRequested), true},
        {"a message over a PIN sheet", pin(CardSigningEvent::Kind::pinRequested),
         State::waiting("x", true, false), true},
        {"the retrieval over a message", State::waiting("one", true, false), State::retrievingCertificate(),
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        model->setCurrentModalState(c.shown);
        model->setModalState(c.next);
        if (c.gap) {
            EXPECT_EQ(sheet(), "none") << "the sheet shown goes first";
            rig.advance(AccountCreationViewModel::modalStateGap - 1ms);
            EXPECT_EQ(sheet(), "none");
            rig.advance(1ms);
        }
        EXPECT_EQ(sheet(), describe(c.next));
        model->setModalState(std::nullopt);
        EXPECT_EQ(sheet(), "none") << "clearing is at once";
    }
}

TEST_F(AccountCreationTest, AStateWaitingForItsGapNeverReplacesANewerOne) {
    model = rig.creation(rig.cardContext());
    // A message follows a message, and the retrieval is set within the gap (a quick server): the retrieval
    // stays.
    model->setCurrentModalState(State::waiting("one", true, false));
    model->setModalState(State::waiting("Sending signed agreement...", true, false));
    rig.advance(50ms);
    model->setModalState(State::retrievingCertificate());
    EXPECT_EQ(sheet(), "retrieving");
    rig.advance(100ms);
    EXPECT_EQ(sheet(), "retrieving");

    // A clear within the gap also drops what was pending.
    model->setModalState(State::waiting("two", true, false));
    model->setCurrentModalState(std::nullopt);
    rig.advance(100ms);
    EXPECT_EQ(sheet(), "none");
}

TEST_F(AccountCreationTest, TheAgreementIsFetchedAgainAfterANetworkErrorAndABackendErrorEndsTheFlow) {
    model = rig.creation(rig.cardContext());
    model->showTermsAndConditions();
    model->showIdentityVerification();
    rig.onboarding->agreementCalls.gate.closed = true;
    model->retrieveAgreement();
    EXPECT_EQ(sheet(), "message Retrieving agreement... (waiting)");

    rig.onboarding->agreementCalls.error = networkError();
    rig.onboarding->agreementCalls.gate.open();
    rig.settle();
    EXPECT_EQ(sheet(), "none") << "the progress message goes first";
    rig.advance(AccountCreationViewModel::modalStateGap);
    EXPECT_EQ(sheet(), "message Network error, please verify your internet connection.");
    EXPECT_TRUE(model->currentStep().is<Step::IdentityVerification>());
    model->infoConfirmed(false);
    EXPECT_EQ(sheet(), "none");
    EXPECT_EQ(*rig.closes, 0);

    rig.onboarding->agreementCalls.error = backendError(503);
    model->identityValidationViewModel()->setConfirmCheckboxChecked(true);
    model->identityValidationViewModel()->confirm();
    rig.advance(AccountCreationViewModel::modalStateGap);
    EXPECT_EQ(rig.onboarding->agreementCalls.requests.size(), 2u);
    EXPECT_EQ(sheet(), "none");
    ASSERT_EQ(rig.completions->size(), 1u);
    const auto& error = rig.completions->front();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->category, ErrorCodeCategory::backend);
    EXPECT_EQ(error->sourceFlow, ErrorCodeSourceFlow::onboarding);
    EXPECT_EQ(error->code, "00");
    EXPECT_EQ(error->message, "The request was refused. - 5C1D");
    ASSERT_TRUE(error->apiError);
    EXPECT_EQ(error->apiError->statusCode(), 503);
    EXPECT_TRUE(model->hasEnded());
}

TEST_F(AccountCreationTest, TheCardSignsTheServersHashAndTheCertificateIsRetrievedIntoTheToken) {
    LogCapture log;
    const auto context = rig.cardContext();
    rig.logIn(context);
    onAgreementPage(context);
    rig.onboarding->confirmCalls.gate.closed = true;

    auto page = model->makeSubscriberAgreementViewModel();
    page->confirm();
    EXPECT_TRUE(page->signButtonDisabled());
    EXPECT_FALSE(model->stopAllowed());
    EXPECT_EQ(sheet(), "message Signing agreement... (waiting)");
    rig.settle();
    ASSERT_EQ(rig.onboarding->confirmCalls.requests.size(), 1u);
    const auto& request = rig.onboarding->confirmCalls.requests[0];
    EXPECT_EQ(request.authSessionId, "auth-1");
    EXPECT_EQ(request.uiLanguage, "en");
    EXPECT_EQ(request.pdfName, "UserAgreement.pdf");
    // The session id alone authorises account calls: the log names it by its tag only.
    const auto messages = log.messages();
    EXPECT_NE(
        std::find(messages.begin(), messages.end(), "Fetching onboarding data for " + sessionTag("auth-1")),
        messages.end());
    for (const auto& message : messages)
        EXPECT_EQ(message.find("auth-1"), std::string::npos) << message;

    rig.onboarding->confirmCalls.gate.open();
    rig.settle();
    EXPECT_EQ(sheet(), "none");
    rig.advance(AccountCreationViewModel::modalStateGap);
    EXPECT_EQ(sheet(), pinRequested);
    EXPECT_EQ(model->onboardingSessionId(), "onboarding-1");
    ASSERT_EQ(rig.card->signedData.size(), 1u);
    EXPECT_EQ(rig.card->signedData[0], FakeOnboardingClient::serverHash);

    // A wrong PIN updates the open sheet; the right one sends the signed agreement.
    typePin("0000");
    EXPECT_EQ(sheet(), wrongPin);
    rig.onboarding->signCalls.gate.closed = true;
    typePin("1234");
    rig.advance(AccountCreationViewModel::modalStateGap);
    EXPECT_EQ(sheet(), "message Sending signed agreement... (waiting)");
    ASSERT_EQ(rig.onboarding->signCalls.requests.size(), 1u);
    const auto& signature = rig.onboarding->signCalls.requests[0];
    EXPECT_EQ(signature.onboardingSessionId(), "onboarding-1");
    ASSERT_TRUE(signature.eid());
    EXPECT_FALSE(signature.wallet());
    EXPECT_EQ(signature.eid()->authenticationCertificate, "+/8+AQ==");
    EXPECT_EQ(signature.eid()->signature,
              platform::base64Encoded(FakeCard::signatureOf(FakeOnboardingClient::serverHash)));

    rig.onboarding->signCalls.gate.open();
    rig.advance(AccountCreationViewModel::modalStateGap);
    EXPECT_EQ(sheet(), "retrieving");
    EXPECT_TRUE(rig.completions->empty());

    // The retrieval as its sheet runs it: the certificate goes into the card's token, and the flow ends.
    auto retrieval = model->makeCertificateRetrievalViewModel();
    retrieval->start();
    rig.settle();
    EXPECT_EQ(sheet(), "none");
    ASSERT_EQ(rig.completions->size(), 1u);
    EXPECT_FALSE(rig.completions->front()) << rig.completions->front()->message;
    EXPECT_EQ(rig.installed(context), rig.signingCertificate.der());
    EXPECT_EQ(rig.remote->signatureInfoCalls.requests, std::vector<std::string>{"auth-1"});
    EXPECT_TRUE(model->hasEnded());
}

TEST_F(AccountCreationTest, TheCardSignsWhatTheServerGivesEvenNothing) {
    struct Case {
        const char* name;
        std::optional<halcyra::OnboardingData::EID> eid;
    };
    const Case cases[] = {
        {"no eid part", std::nullopt},
        {"a hash that is not Base64url", halcyra::OnboardingData::EID{"not*base64url", "SHA-256"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rig.card->signedData.clear();
        rig.onboarding->eid = c.eid;
        onAgreementPage(rig.cardContext());
        model->confirmAgreement();
        rig.advance(AccountCreationViewModel::modalStateGap);
        ASSERT_EQ(rig.card->signedData.size(), 1u);
        EXPECT_TRUE(rig.card->signedData[0].empty());
        model->pinInputCancelled(false);
    }
}

TEST_F(AccountCreationTest, CardFailuresEndTheFlowWithTheCardsErrorAndPinpadEventsKeepTheSheet) {
    struct Case {
        const char* name;
        std::optional<CardSigningEvent> event;
        std::string code;
        std::string message;
    };
    const Case cases[] = {
        {"a pinpad reader waiting, then a failure it lets the user retry", std::nullopt, "", ""},
        {"card failure", CardSigningEvent::failed("003", "Card PIN is blocked"), "003",
         "Card PIN is blocked"},
        {"card removed", CardSigningEvent::of(CardSigningEvent::Kind::failedBecauseOfCardRemoval), "004",
         "eID card removed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rig.completions->clear();
        rig.card->cancels = 0;
        onAgreementPage(rig.cardContext());
        rig.card->script =
            std::vector{CardSigningEvent::of(CardSigningEvent::Kind::waitingForHarwarePinInput),
                        CardSigningEvent::of(CardSigningEvent::Kind::failedButCouldBeCancelledOrWrongPin)};
        if (c.event)
            rig.card->script->push_back(*c.event);
        rig.card->keepOpen = true;
        model->confirmAgreement();
        rig.advance(AccountCreationViewModel::modalStateGap);
        rig.card->script.reset();
        rig.card->keepOpen = false;
        if (!c.event) {
            EXPECT_EQ(sheet(), "pin " + std::to_string(
                                            int(CardSigningEvent::Kind::failedButCouldBeCancelledOrWrongPin)))
                << "the reader's events update the open sheet, and the flow goes on";
            EXPECT_TRUE(rig.completions->empty());
            EXPECT_EQ(rig.card->cancels, 0);
            rig.card->cancelOngoingOperation();
            model->pinInputCancelled(false);
            continue;
        }
        EXPECT_EQ(sheet(), "none");
        ASSERT_EQ(rig.completions->size(), 1u);
        const auto& error = rig.completions->front();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->category, ErrorCodeCategory::vexoConnect);
        EXPECT_FALSE(error->sourceFlow);
        EXPECT_EQ(error->code, c.code);
        EXPECT_EQ(error->message, c.message);
        EXPECT_FALSE(error->apiError);
        EXPECT_EQ(rig.card->cancels, 1) << "a failed operation does not hold the reader";
    }
}

TEST_F(AccountCreationTest, ANetworkErrorWhileSigningLeavesTheUserOnThePageAndAnyOtherEndsTheFlow) {
    struct Case {
        const char* name;
        bool atSignature;
        HalcyraError error;
    };
    const Case cases[] = {
        {"confirming the data, network", false, networkError()},
        {"sending the signature, network", true, networkError()},
        {"confirming the data, server", false, backendError()},
        {"sending the signature, server", true, backendError()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rig.completions->clear();
        rig.onboarding->confirmCalls.error.reset();
        rig.onboarding->signCalls.error.reset();
        if (c.atSignature)
            rig.onboarding->signCalls.error = c.error;
        else
            rig.onboarding->confirmCalls.error = c.error;
        onAgreementPage(rig.cardContext());
        model->confirmAgreement();
        rig.settle();
        if (c.atSignature) {
            rig.advance(AccountCreationViewModel::modalStateGap);
            typePin("1234");
        }
        if (c.error.kind() != HalcyraError::Kind::networkError) {
            EXPECT_EQ(sheet(), "none");
            ASSERT_EQ(rig.completions->size(), 1u);
            const auto& error = rig.completions->front();
            ASSERT_TRUE(error);
            EXPECT_EQ(error->category, ErrorCodeCategory::backend);
            EXPECT_EQ(error->sourceFlow, ErrorCodeSourceFlow::onboarding);
            EXPECT_EQ(error->code, "01");
            EXPECT_TRUE(error->apiError);
            continue;
        }
        // What was shown stays a moment: the progress message, or nothing where the PIN sheet had just gone.
        EXPECT_TRUE(model->stopAllowed());
        const auto shown = sheet();
        EXPECT_EQ(shown, c.atSignature ? "none" : "message Signing agreement... (waiting)");
        rig.advance(AccountCreationViewModel::networkErrorDelay - 1ms);
        EXPECT_EQ(sheet(), shown);
        rig.advance(1ms + AccountCreationViewModel::modalStateGap);
        EXPECT_EQ(sheet(), "message Network error, please verify your internet connection.");
        EXPECT_TRUE(rig.completions->empty());
        EXPECT_TRUE(model->currentStep().is<Step::SubscriberAgreement>());
        model->infoConfirmed(false);

        // The page may be confirmed again: a new data confirmation, a new onboarding session.
        const auto confirmations = rig.onboarding->confirmCalls.requests.size();
        rig.onboarding->confirmCalls.error.reset();
        rig.onboarding->signCalls.error.reset();
        model->makeSubscriberAgreementViewModel()->confirm();
        rig.advance(AccountCreationViewModel::modalStateGap);
        EXPECT_EQ(rig.onboarding->confirmCalls.requests.size(), confirmations + 1);
        EXPECT_EQ(sheet(), pinRequested);
        model->pinInputCancelled(false);
    }
}

TEST_F(AccountCreationTest, AQuickNetworkErrorIsShownEvenWhenTheProgressMessageWasStillWaitingForItsGap) {
    // The PIN sheet gives way to "Sending signed agreement...", and the server fails before the gap is over.
    onAgreementPage(rig.cardContext());
    rig.onboarding->signCalls.error = networkError();
    model->confirmAgreement();
    rig.advance(AccountCreationViewModel::modalStateGap);
    typePin("1234");
    rig.advance(AccountCreationViewModel::networkErrorDelay + AccountCreationViewModel::modalStateGap);
    EXPECT_EQ(sheet(), "message Network error, please verify your internet connection.");
    rig.advance(1s);
    EXPECT_EQ(sheet(), "message Network error, please verify your internet connection.");
}

TEST_F(AccountCreationTest, AfterAPinTimeOutTheUserMayConfirmAgainOrStop) {
    onAgreementPage(rig.cardContext());
    model->makeSubscriberAgreementViewModel()->confirm();
    rig.advance(AccountCreationViewModel::modalStateGap);
    ASSERT_EQ(sheet(), pinRequested);
    EXPECT_FALSE(model->stopAllowed());

    // The sheet's time-out: it cancels the card's operation, then reports.
    rig.card->cancelOngoingOperation();
    model->pinInputCancelled(true);
    rig.advance(AccountCreationViewModel::modalStateGap);
    EXPECT_EQ(sheet(), "message PIN input has timed out.");
    EXPECT_TRUE(model->stopAllowed()) << "no dead end: \"Stop activation\" works";
    model->infoConfirmed(false);
    EXPECT_EQ(sheet(), "none");

    auto page = model->makeSubscriberAgreementViewModel();
    EXPECT_FALSE(page->signButtonDisabled()) << "a new page has \"Confirm\" enabled";
    page->confirm();
    rig.advance(AccountCreationViewModel::modalStateGap);
    EXPECT_EQ(rig.onboarding->confirmCalls.requests.size(), 2u);
    EXPECT_EQ(sheet(), pinRequested);

    // A cancel leaves the page as it was before the confirmation.
    rig.card->cancelOngoingOperation();
    model->pinInputCancelled(false);
    EXPECT_EQ(sheet(), "none");
    EXPECT_TRUE(model->stopAllowed());
    rig.settle();
    EXPECT_TRUE(rig.completions->empty());
}

TEST_F(AccountCreationTest, TheWalletConfirmsTheAgreementWithTheLatestOnboardingSession) {
    const auto context = rig.walletContext();
    onAgreementPage(context);
    model->confirmAgreement();
    rig.advance(AccountCreationViewModel::modalStateGap);
    EXPECT_EQ(sheet(), "wallet auth-1 poll-1");
    EXPECT_EQ(model->onboardingSessionId(), "onboarding-1");

    // An expired QR code: a new onboarding session for the same login.
    auto refreshed = testsupport::await(model->refreshWalletTracking("auth-1"));
    EXPECT_EQ(refreshed, (WalletTrackingIdentifiers{"auth-1", "poll-2"}));
    EXPECT_EQ(model->onboardingSessionId(), "onboarding-2");
    EXPECT_EQ(rig.onboarding->confirmCalls.requests.size(), 2u);
    EXPECT_EQ(sheet(), "wallet auth-1 poll-1") << "the open sheet goes on with the new ids itself";

    rig.onboarding->signCalls.gate.closed = true;
    model->walletTrackingCompleted(WalletTrackingResult::success("auth-1", "poll-2"));
    EXPECT_EQ(sheet(), "message Sending signed agreement... (waiting)");
    rig.settle();
    ASSERT_EQ(rig.onboarding->signCalls.requests.size(), 1u);
    const auto& request = rig.onboarding->signCalls.requests[0];
    EXPECT_EQ(request.onboardingSessionId(), "onboarding-2");
    ASSERT_TRUE(request.wallet());
    EXPECT_EQ(request.wallet()->pollSessionId, "poll-2");
    EXPECT_FALSE(request.eid());
    rig.onboarding->signCalls.gate.open();
    rig.advance(AccountCreationViewModel::modalStateGap);
    EXPECT_EQ(sheet(), "retrieving");
}

TEST_F(AccountCreationTest, TheWalletSheetsOtherOutcomes) {
    // No polling session in the answer: the sheet fetches one itself.
    rig.onboarding->withWallet = false;
    onAgreementPage(rig.walletContext());
    model->confirmAgreement();
    rig.advance(AccountCreationViewModel::modalStateGap);
    EXPECT_EQ(sheet(), "wallet auth-1 -");
    EXPECT_EQ(testsupport::await(model->refreshWalletOnboarding()),
              (WalletTrackingIdentifiers{"auth-1", {}}));

    // A cancel: back on the page.
    model->walletTrackingCancelled();
    EXPECT_EQ(sheet(), "none");
    EXPECT_TRUE(model->stopAllowed());

    // A failure ends the flow with the wallet's error.
    model->confirmAgreement();
    rig.advance(AccountCreationViewModel::modalStateGap);
    model->walletTrackingCompleted(WalletTrackingResult::failure(
        AppError(ErrorCodeCategory::app, std::nullopt, "103", "The session has expired.", std::nullopt)));
    EXPECT_EQ(sheet(), "none");
    ASSERT_EQ(rig.completions->size(), 1u);
    ASSERT_TRUE(rig.completions->front());
    EXPECT_EQ(rig.completions->front()->code, "103");
    EXPECT_TRUE(rig.onboarding->signCalls.requests.empty());
}

TEST_F(AccountCreationTest, TheRetrievalsOutcomeEndsTheFlowUnchanged) {
    const auto context = rig.walletContext();
    onAgreementPage(context);
    // No session for the wallet: the retrieval fails with its own error ("201"), which ends the flow as it
    // is.
    model->setModalState(State::retrievingCertificate());
    auto retrieval = model->makeCertificateRetrievalViewModel();
    retrieval->start();
    rig.settle();
    EXPECT_EQ(sheet(), "none");
    ASSERT_EQ(rig.completions->size(), 1u);
    ASSERT_TRUE(rig.completions->front());
    EXPECT_EQ(rig.completions->front()->code, "201");
    EXPECT_FALSE(rig.installed(context));
}

TEST_F(AccountCreationTest, ClosingTheWindowStopsTheFlowAndFreesTheCard) {
    onAgreementPage(rig.cardContext());
    model->confirmAgreement();
    rig.advance(AccountCreationViewModel::modalStateGap);
    ASSERT_EQ(sheet(), pinRequested);
    ASSERT_EQ(rig.card->cancels, 0);

    platform::NotificationCenter::defaultCenter().post(MainWindowController::mainWindowWillCloseNotification);
    EXPECT_TRUE(model->hasEnded());
    EXPECT_EQ(sheet(), "none");
    EXPECT_EQ(rig.card->cancels, 1) << "the reader is not held for a PIN nobody asks for";
    rig.advance(1s);
    EXPECT_TRUE(rig.completions->empty());
    EXPECT_EQ(*rig.cancels, 0) << "the window's own close needs no report";
}

TEST_F(AccountCreationTest, ConfirmingATerminalMessageClosesTheWindow) {
    model = rig.creation(rig.cardContext());
    for (bool terminal : {false, true}) {
        auto info = model->makeInfoViewModel({"Message", true, terminal});
        EXPECT_EQ(info->isWaiting, !terminal) << "a terminal message always has its OK";
        EXPECT_FALSE(info->allowMessageCopyWhenNotWaiting);
        model->setCurrentModalState(State::waiting("Message", true, terminal));
        info->confirmed();
        EXPECT_EQ(sheet(), "none");
        rig.settle();
        EXPECT_EQ(*rig.closes, terminal ? 1 : 0);
    }
}

}  // namespace
