// The PIN and wallet sheets of a screen model: what each card event makes of the PIN model, where the sheets'
// callbacks lead, one sheet model per presentation, and the sheet's ends by the model and by the user (Esc,
// the close button, the window going away), which always go through the cancel path.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "Quorvane/auth/AuthenticationSheets.h"
#include "Quorvane/auth/PinInputView.h"
#include "Quorvane/auth/WalletTrackingView.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/testing/CallLog.h"
#include "Quorvane/testing/FakeAuthenticateClient.h"
#include "Quorvane/testing/FakeCard.h"
#include "api/Clients.h"
#include "platform/VirtualScheduler.h"
#include "platform/testing/Await.h"

using namespace std::chrono_literals;
using pindle::CardSigningEvent;
using Lines = std::vector<std::string>;

namespace {

using testsupport::CallLog;
using Log = CallLog;

// The card of the sheets' owner, logging to the owner's log.
std::shared_ptr<testsupport::FakeCard> loggingCard(std::shared_ptr<Log> log) {
    return std::make_shared<testsupport::FakeCard>("card-1", std::move(log));
}

// A sheet state with a PIN case, a wallet case and a case of the screen's own.
struct TestState : PinInputAwareModalState, WalletTrackingAwareModalState {
    explicit TestState(std::variant<CardSigningEvent, WalletTrackingIdentifiers, int> value)
        : value(std::move(value)) {}
    std::variant<CardSigningEvent, WalletTrackingIdentifiers, int> value;

    const CardSigningEvent* pinInputEvent() const override { return std::get_if<CardSigningEvent>(&value); }
    std::optional<std::string> walletTrackingSessionId() const override {
        const auto* login = std::get_if<WalletTrackingIdentifiers>(&value);
        return login ? std::optional(login->sessionId) : std::nullopt;
    }
    std::optional<std::string> walletTrackingPollingSessionId() const override {
        const auto* login = std::get_if<WalletTrackingIdentifiers>(&value);
        return login ? login->pollingSessionId : std::nullopt;
    }
};

// An owner that logs what the sheets tell it and, as the app's owners do, clears its sheet when one ends.
class TestOwner : public PinInputAwareViewModel, public WalletTrackingAwareViewModel<TestState> {
  public:
    explicit TestOwner(std::shared_ptr<Log> log) : log(std::move(log)) {}

    std::optional<TestState> currentModalState() const override { return state->value(); }
    void setCurrentModalState(std::optional<TestState> value) override { state->set(std::move(value)); }
    std::shared_ptr<pindle::Card> currentCard() const override { return card; }
    SigningReason currentSigningReason() const override { return reason; }
    void handlePinInputEnded(bool timedOut) override {
        log->add(timedOut ? "ended timed out" : "ended");
        state->set(std::nullopt);
    }
    void walletTrackingCompleted(WalletTrackingResult result) override {
        log->add(result.kind == WalletTrackingResult::Kind::success ? "wallet success" : "wallet failure");
    }
    void walletQrCodeScanned() override { log->add("scanned"); }
    void walletTrackingCancelled() override {
        log->add("wallet cancelled");
        state->set(std::nullopt);
    }
    QCoro::Task<WalletTrackingIdentifiers> refreshWalletTracking(std::string sessionId) override {
        log->add("refresh " + sessionId);
        co_return WalletTrackingIdentifiers{"session-2", std::nullopt};
    }

    std::shared_ptr<Log> log;
    std::shared_ptr<pindle::Card> card;
    SigningReason reason = SigningReason::of(SigningReason::Kind::accountInfoAuthentication);
    std::shared_ptr<ModalSheetState<TestState>> state = std::make_shared<ModalSheetState<TestState>>();
};

// An authentication client that holds every request for a wallet's polling session: the login goes no
// further.
std::shared_ptr<testsupport::FakeAuthenticateClient> holdingClient() {
    auto client = std::make_shared<testsupport::FakeAuthenticateClient>();
    client->methodDataCalls.gate.closed = true;
    return client;
}

// The held requests fail now: nothing is left waiting on the client.
void answerAll(testsupport::FakeAuthenticateClient& client) {
    client.methodDataCalls.error = halcyra::HalcyraError::otherError("the test has ended");
    client.methodDataCalls.gate.open();
}

TestState pin(CardSigningEvent event) {
    return TestState(std::move(event));
}
TestState login(std::string sessionId) {
    return TestState(WalletTrackingIdentifiers{std::move(sessionId), std::nullopt});
}

// A screen with its owner's sheets, on screen offscreen.
struct Rig {
    Rig() {
        // A wallet sheet's login asks the server nothing that ever answers.
        Dependency<AuthenticateAPIClientKey>().set(authenticate);
        owner->card = loggingCard(log);
        host.resize(800, 550);
        host.show();
        QApplication::setActiveWindow(&host);
        std::weak_ptr<TestOwner> weak = owner;
        presenter = SheetPresenter::modalSheet<TestState>(
            &host, owner->state, [weak, scheduler = scheduler](const TestState& state) {
                auto owner = weak.lock();
                return pinOrWalletSheetContent(
                    owner, state,
                    [](const TestState& other) {
                        SheetPresenter::Content content;
                        content.widget = new QLabel(QString::number(std::get<int>(other.value)));
                        return content;
                    },
                    scheduler);
            });
    }
    ~Rig() {
        settle();
        answerAll(*authenticate);
        settle();
        DependencyValues::shared().reset();
    }

    void settle() {
        for (int round = 0; round < 5; ++round) {
            scheduler->runPending();
            QApplication::processEvents();
            QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
    Sheet* sheet() const { return presenter->sheet(); }

    std::shared_ptr<Log> log = std::make_shared<Log>();
    std::shared_ptr<platform::VirtualScheduler> scheduler = std::make_shared<platform::VirtualScheduler>();
    std::shared_ptr<testsupport::FakeAuthenticateClient> authenticate = holdingClient();
    std::shared_ptr<TestOwner> owner = std::make_shared<TestOwner>(log);
    QWidget host;
    SheetPresenter* presenter = nullptr;
};

// --- The PIN model per card event

struct PinCase {
    std::string name;
    CardSigningEvent event;
    bool keyboard;
    std::optional<int> tries;
    PinPadReaderState state;
    bool shakes;
};

TEST(PinInputSheetContentTest, EachCardEventMakesItsPinSheet) {
    auto closure = [](const std::string&) {};
    const std::vector<PinCase> cases = {
        {"PIN asked", CardSigningEvent::pinRequested(closure), true, std::nullopt, PinPadReaderState::waiting,
         false},
        {"wrong PIN", CardSigningEvent::wrongPin(2, closure), true, 2, PinPadReaderState::waiting, true},
        {"wrong PIN on a pinpad", CardSigningEvent::wrongPin(1, nullptr), false, 1,
         PinPadReaderState::waiting, false},
        {"pinpad failed", CardSigningEvent::of(CardSigningEvent::Kind::failedButCouldBeCancelledOrWrongPin),
         false, std::nullopt, PinPadReaderState::errorOccuredThatCouldJustifyRetry, false},
        {"pinpad waiting", CardSigningEvent::of(CardSigningEvent::Kind::waitingForHarwarePinInput), false,
         std::nullopt, PinPadReaderState::waiting, false},
        {"finished", CardSigningEvent::finished({}), false, std::nullopt, PinPadReaderState::waiting, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto log = std::make_shared<Log>();
        auto owner = std::make_shared<TestOwner>(log);
        owner->reason = SigningReason::of(SigningReason::Kind::certificateRetrievalAuthentication);
        auto scheduler = std::make_shared<platform::VirtualScheduler>();
        auto model = pinInputSheetContent(owner, c.event, scheduler);
        EXPECT_EQ(static_cast<bool>(model->pinProvided), c.keyboard);
        EXPECT_EQ(model->remainingPinTries, c.tries);
        EXPECT_EQ(model->pinPadReaderState(), c.state);
        EXPECT_EQ(model->reason, owner->reason);
        EXPECT_EQ(model->pinValue(), "");
        EXPECT_FALSE(model->hasSubmitted());

        // The error feedback runs once the builder has returned: the field is focused on every sheet and
        // shakes after a wrong PIN typed on the keyboard.
        EXPECT_EQ(model->focusTrigger(), 0);
        scheduler->runPending();
        EXPECT_EQ(model->focusTrigger(), 1);
        EXPECT_EQ(model->showVisualErrorFeedback(), c.shakes ? 1.0 : 0.0);
        // The countdown runs from the start.
        scheduler->advance(1s);
        EXPECT_EQ(model->secondsRemaining(), 59);
    }
}

TEST(PinInputSheetContentTest, TheSheetsCallbacksReachTheCardFirstThenTheOwner) {
    auto log = std::make_shared<Log>();
    auto owner = std::make_shared<TestOwner>(log);
    owner->card = loggingCard(log);
    auto scheduler = std::make_shared<platform::VirtualScheduler>();
    std::vector<std::string> pins;
    auto keyboard = pinInputSheetContent(
        owner, CardSigningEvent::pinRequested([&](const std::string& value) { pins.push_back(value); }),
        scheduler);
    scheduler->runPending();

    keyboard->cancelRequested(false);
    EXPECT_EQ(log->take(), (Lines{"cancel card-1", "ended"}));
    // The time-out of a keyboard sheet ends it the same way, marked as timed out.
    scheduler->advance(60s);
    EXPECT_EQ(log->take(), (Lines{"cancel card-1", "ended timed out"}));
    keyboard->pinProvided("1234");
    EXPECT_EQ(pins, Lines{"1234"});

    auto pinPad = pinInputSheetContent(
        owner, CardSigningEvent::of(CardSigningEvent::Kind::failedButCouldBeCancelledOrWrongPin), scheduler);
    scheduler->runPending();
    owner->state->set(pin(CardSigningEvent::pinRequested({})));
    pinPad->retryRequested();
    EXPECT_EQ(log->take(), Lines{"retry card-1"});
    EXPECT_TRUE(owner->state->value()) << "a retry leaves the sheet to the card's next event";

    // Without a card (a wallet context) the owner still hears of the end.
    owner->card.reset();
    pinPad->cancelRequested(false);
    pinPad->retryRequested();
    EXPECT_EQ(log->take(), Lines{"ended"});

    // Once the owner is gone, nothing happens.
    owner.reset();
    keyboard->cancelRequested(true);
    pinPad->retryRequested();
    EXPECT_EQ(log->take(), Lines{});
}

// --- The wallet model

TEST(WalletTrackingSheetContentTest, TheWalletSheetTracksAtOnceUnlessItFirstWarnsOfASecondLogin) {
    for (auto reason : {SigningReason::Kind::certificateRetrievalAuthentication,
                        SigningReason::Kind::accountCreationAuthentication}) {
        const bool warns = reason == SigningReason::Kind::accountCreationAuthentication;
        SCOPED_TRACE(warns ? "account creation" : "certificate retrieval");
        auto owner = std::make_shared<TestOwner>(std::make_shared<Log>());
        owner->reason = SigningReason::of(reason);
        auto scheduler = std::make_shared<platform::VirtualScheduler>();
        auto authenticate = holdingClient();
        Dependency<AuthenticateAPIClientKey>().set(authenticate);
        auto model = walletTrackingSheetContent(owner, {"session-1", std::nullopt}, scheduler);
        EXPECT_EQ(model->sessionId(), "session-1");
        // No polling session yet: the model fetches it first.
        EXPECT_EQ(model->pollingSessionId(), "");
        EXPECT_EQ(model->reason(), owner->reason);
        EXPECT_EQ(model->shouldShowAccountCreationAuthenticationWarning(), warns);
        // One chain of polling per presentation: the polling session is asked for once.
        EXPECT_EQ(static_cast<int>(authenticate->methodDataCalls.requests.size()), 0)
            << "tracking starts once the builder has returned";
        for (int round = 0; round < 5; ++round) {
            scheduler->runPending();
            QApplication::processEvents();
        }
        EXPECT_EQ(static_cast<int>(authenticate->methodDataCalls.requests.size()), warns ? 0 : 1);
        answerAll(*authenticate);
        QApplication::processEvents();
    }
    DependencyValues::shared().reset();
}

TEST(WalletTrackingSheetContentTest, TheWalletSheetsCallbacksLeadToTheOwnerWhileItExists) {
    auto log = std::make_shared<Log>();
    auto owner = std::make_shared<TestOwner>(log);
    // A login whose sheet warns first: nothing is tracked, the callbacks alone are at work.
    owner->reason = SigningReason::of(SigningReason::Kind::accountCreationAuthentication);
    auto model = walletTrackingSheetContent(owner, {"session-1", "poll-1"},
                                            std::make_shared<platform::VirtualScheduler>());
    EXPECT_EQ(model->pollingSessionId(), "poll-1");
    model->qrCodeScanned();
    model->pollingCompleted(WalletTrackingResult::success("session-1", "poll-1"));
    model->cancelRequested();
    auto refreshed = testsupport::await(model->qrCodeRefreshRequested("session-1"));
    EXPECT_EQ(log->take(), (Lines{"scanned", "wallet success", "wallet cancelled", "refresh session-1"}));
    EXPECT_EQ(refreshed, (WalletTrackingIdentifiers{"session-2", std::nullopt}));

    owner.reset();
    model->qrCodeScanned();
    model->cancelRequested();
    EXPECT_EQ(testsupport::await(model->qrCodeRefreshRequested("session-1")), WalletTrackingIdentifiers{});
    EXPECT_EQ(log->take(), Lines{});
}

// --- Presentation

TEST(SheetPresenterTest, TheSheetIsUpExactlyWhileTheStateIsSetWithANewModelForEachNewValue) {
    Rig rig;
    EXPECT_FALSE(rig.sheet());

    rig.owner->state->set(pin(CardSigningEvent::pinRequested([](const std::string&) {})));
    QPointer<Sheet> first = rig.sheet();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->windowModality(), Qt::WindowModal);
    EXPECT_EQ(first->parentWidget(), &rig.host);
    EXPECT_TRUE(dynamic_cast<PinInputView*>(first->content()));

    // Thirty seconds into the first sheet the card asks again: a new sheet with a new model and a new
    // minute. The first sheet's time-out never fires into the owner.
    rig.scheduler->advance(30s);
    rig.owner->state->set(pin(CardSigningEvent::wrongPin(2, [](const std::string&) {})));
    QPointer<Sheet> second = rig.sheet();
    ASSERT_TRUE(second);
    EXPECT_NE(second, first);
    rig.scheduler->advance(30s);
    EXPECT_EQ(rig.log->take(), Lines{});
    rig.settle();
    EXPECT_FALSE(first) << "the replaced sheet is gone with its model";
    rig.scheduler->advance(30s);
    EXPECT_EQ(rig.log->take(), (Lines{"cancel card-1", "ended timed out"}));
    EXPECT_FALSE(rig.sheet());
    rig.settle();
    EXPECT_FALSE(second);
}

TEST(SheetPresenterTest, TheSameWalletLoginKeepsItsSheet) {
    Rig rig;
    EXPECT_TRUE(rig.owner->state->set(login("session-1")));
    Sheet* sheet = rig.sheet();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(sheet->width(), 600);
    EXPECT_TRUE(dynamic_cast<WalletTrackingView*>(sheet->content()));
    EXPECT_FALSE(rig.owner->state->set(login("session-1")));
    EXPECT_EQ(rig.sheet(), sheet);
    EXPECT_TRUE(rig.owner->state->set(login("session-2")));
    EXPECT_NE(rig.sheet(), sheet);
}

TEST(SheetPresenterTest, EscTheCloseButtonAndTheWindowGoingAwayEndThePinSheetThroughItsCancel) {
    const std::vector<std::pair<std::string, std::function<void(Rig&)>>> ways = {
        {"Esc", [](Rig& rig) { QTest::keyClick(rig.sheet(), Qt::Key_Escape); }},
        {"close button", [](Rig& rig) { rig.sheet()->close(); }},
        {"window closed", [](Rig& rig) { rig.host.hide(); }},
    };
    for (const auto& [name, end] : ways) {
        SCOPED_TRACE(name);
        Rig rig;
        rig.owner->state->set(pin(CardSigningEvent::pinRequested([](const std::string&) {})));
        ASSERT_TRUE(rig.sheet());
        QPointer<Sheet> sheet = rig.sheet();
        end(rig);
        EXPECT_EQ(rig.log->take(), (Lines{"cancel card-1", "ended"}));
        EXPECT_FALSE(rig.owner->state->value());
        EXPECT_FALSE(rig.sheet());
        rig.settle();
        EXPECT_FALSE(sheet);
        // The countdown of the sheet that went stops with it.
        rig.scheduler->advance(120s);
        EXPECT_EQ(rig.log->take(), Lines{});
    }
}

TEST(SheetPresenterTest, AfterThePinIsHandedOverEscWaitsForTheCard) {
    Rig rig;
    std::vector<std::string> pins;
    rig.owner->state->set(
        pin(CardSigningEvent::pinRequested([&](const std::string& value) { pins.push_back(value); })));
    rig.settle();
    QWidget* field = QApplication::focusWidget();
    ASSERT_TRUE(field) << "the PIN field has the focus";
    EXPECT_EQ(field->window(), rig.sheet());
    QTest::keyClicks(field, "4321");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(pins, Lines{"4321"});

    QTest::keyClick(rig.sheet(), Qt::Key_Escape);
    rig.sheet()->close();
    EXPECT_EQ(rig.log->take(), Lines{});
    ASSERT_TRUE(rig.sheet());
    EXPECT_TRUE(rig.sheet()->isVisible());
}

TEST(SheetPresenterTest, APinpadReaderIsCancelledOnTheReaderNotByEsc) {
    Rig rig;
    rig.owner->state->set(pin(CardSigningEvent::of(CardSigningEvent::Kind::waitingForHarwarePinInput)));
    QTest::keyClick(rig.sheet(), Qt::Key_Escape);
    rig.sheet()->close();
    EXPECT_EQ(rig.log->take(), Lines{});
    ASSERT_TRUE(rig.sheet());
    EXPECT_TRUE(rig.sheet()->isVisible());
}

TEST(SheetPresenterTest, EscOnTheWalletSheetCancelsTheLogin) {
    Rig rig;
    rig.owner->state->set(login("session-1"));
    rig.settle();
    QTest::keyClick(rig.sheet(), Qt::Key_Escape);
    EXPECT_EQ(rig.log->take(), Lines{"wallet cancelled"});
    EXPECT_FALSE(rig.sheet());
}

TEST(SheetPresenterTest, AScreensOwnSheetWithoutACancelPathStaysUntilItsModelEndsIt) {
    Rig rig;
    rig.owner->state->set(TestState(7));
    ASSERT_TRUE(rig.sheet());
    auto* label = dynamic_cast<QLabel*>(rig.sheet()->content());
    ASSERT_TRUE(label);
    EXPECT_EQ(label->text(), "7");
    EXPECT_FALSE(rig.sheet()->windowFlags() & Qt::WindowCloseButtonHint);
    QTest::keyClick(rig.sheet(), Qt::Key_Escape);
    rig.sheet()->close();
    EXPECT_TRUE(rig.sheet()->isVisible());
    rig.owner->state->set(std::nullopt);
    EXPECT_FALSE(rig.sheet());
}

TEST(SheetPresenterTest, AHostNotYetOnScreenGetsItsSheetWhenShown) {
    auto log = std::make_shared<Log>();
    auto owner = std::make_shared<TestOwner>(log);
    owner->state->set(pin(CardSigningEvent::pinRequested([](const std::string&) {})));
    QWidget host;
    auto scheduler = std::make_shared<platform::VirtualScheduler>();
    auto* presenter = SheetPresenter::modalSheet<TestState>(&host, owner->state, [&](const TestState& state) {
        return pinOrWalletSheetContent(
            owner, state, [](const TestState&) { return SheetPresenter::Content{}; }, scheduler);
    });
    ASSERT_TRUE(presenter->sheet());
    EXPECT_FALSE(presenter->sheet()->isVisible());
    host.show();
    EXPECT_TRUE(presenter->sheet()->isVisible());
    scheduler->runPending();
}

}  // namespace
