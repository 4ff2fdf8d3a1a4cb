// The PIN sheet: which PINs can be submitted, the countdown and time-out in virtual time, the error feedback,
// the texts per reason, and the sheet driven by key and mouse events (typing, Return, Esc, pinpad forms).
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>
#include <QVariantAnimation>
#include <cmath>
#include <numbers>

#include "AuthTestSupport.h"
#include "Quorvane/auth/PinDialogTexts.h"
#include "Quorvane/auth/PinInputView.h"
#include "Quorvane/auth/PinInputViewModel.h"
#include "Quorvane/auth/ShakeEffect.h"
#include "Quorvane/shell/views/RemainingTimeClockView.h"
#include "Quorvane/shell/views/Sheet.h"
#include "Quorvane/shell/views/StyledButton.h"

using namespace std::chrono_literals;
using Kind = SigningReason::Kind;

namespace {

// The owner's side of a sheet: what the callbacks received.
struct Owner {
    std::vector<std::string> pins;
    std::vector<bool> cancels;
    int retries = 0;

    std::shared_ptr<PinInputViewModel> keyboardModel(
        std::shared_ptr<platform::Scheduler> scheduler, std::optional<int> tries = std::nullopt,
        SigningReason reason = SigningReason::of(Kind::certificateRetrievalAuthentication)) {
        return std::make_shared<PinInputViewModel>(
            reason, tries, PinPadReaderState::waiting,
            [this](const std::string& pin) { pins.push_back(pin); },
            [this](bool timedOut) { cancels.push_back(timedOut); }, [this] { ++retries; }, scheduler);
    }
    std::shared_ptr<PinInputViewModel> pinpadModel(std::shared_ptr<platform::Scheduler> scheduler,
                                                   PinPadReaderState state,
                                                   std::optional<int> tries = std::nullopt) {
        return std::make_shared<PinInputViewModel>(
            SigningReason::of(Kind::signingAuthentication), tries, state, nullptr,
            [this](bool timedOut) { cancels.push_back(timedOut); }, [this] { ++retries; }, scheduler);
    }
};

class PinInput : public authtest::CleanState {
  protected:
    Owner owner;
};

// ---- Model

TEST_F(PinInput, OnlyFourToTwelveAsciiDigitsCanBeSubmitted) {
    struct Case {
        const char* pin;
        bool canSubmit;
    };
    const Case cases[] = {
        {"", false},
        {"123", false},
        {"1234", true},
        {"123456789012", true},
        {"1234567890123", false},
        // Anything but ASCII digits is no card's PIN, and sending it would cost a try.
        {"abcd", false},
        {"12a4", false},
        {"12 4", false},
        {" 1234", false},
        {"1234\n", false},
        {"-123", false},
        {"\xD9\xA1\xD9\xA2\xD9\xA3\xD9\xA4", false},                  // Arabic-Indic digits one to four
        {"\xEF\xBC\x91\xEF\xBC\x92\xEF\xBC\x93\xEF\xBC\x94", false},  // full-width digits one to four
        {"1\xCC\x81"
         "234",
         false},  // a combining accent on a digit
    };
    auto model = owner.keyboardModel(scheduler);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pin);
        model->setPinValue(c.pin);
        EXPECT_EQ(model->canSubmit(), c.canSubmit);
    }
    model->setPinValue("1234");
    model->submit();
    EXPECT_FALSE(model->canSubmit()) << "not after the PIN was submitted";
    model->setPinValue("5678");
    EXPECT_FALSE(model->canSubmit());
}

TEST_F(PinInput, SubmitStopsTheTimersAndHandsThePinOverOnce) {
    auto model = owner.keyboardModel(scheduler);
    model->startTimers();
    EXPECT_EQ(scheduler->activeTimerCount(), 2u);
    model->setPinValue("1234");
    model->submit();
    EXPECT_TRUE(model->hasSubmitted());
    EXPECT_EQ(owner.pins, std::vector<std::string>{"1234"});
    EXPECT_EQ(scheduler->activeTimerCount(), 0u);
    EXPECT_FALSE(model->timeoutTimer());
    EXPECT_FALSE(model->countdownTimer());
    scheduler->advance(120s);
    EXPECT_TRUE(owner.cancels.empty()) << "no time-out after the PIN went to the card";
    EXPECT_EQ(model->secondsRemaining(), 60);

    // A pinpad sheet has no PIN to hand over.
    auto pinpad = owner.pinpadModel(scheduler, PinPadReaderState::waiting);
    pinpad->startTimers();
    pinpad->submit();
    EXPECT_TRUE(pinpad->hasSubmitted());
    EXPECT_EQ(owner.pins.size(), 1u);
    EXPECT_EQ(scheduler->activeTimerCount(), 0u);
}

TEST_F(PinInput, AKeyboardSheetTimesOutThroughItsOwnerAfterSixtySeconds) {
    auto model = owner.keyboardModel(scheduler);
    EXPECT_EQ(model->remainingTimeText(), "01:00");
    model->startTimers();
    scheduler->advance(1s);
    EXPECT_EQ(model->secondsRemaining(), 59);
    EXPECT_EQ(model->remainingTimeText(), "00:59");
    scheduler->advance(58s);
    EXPECT_TRUE(owner.cancels.empty());
    scheduler->advance(1s);
    EXPECT_EQ(owner.cancels, std::vector<bool>{true});
    EXPECT_EQ(model->pinPadReaderState(), PinPadReaderState::waiting);
    // The owner ends the sheet; until then the count goes on, and the time-out comes once.
    scheduler->advance(5s);
    EXPECT_EQ(model->secondsRemaining(), -5);
    EXPECT_EQ(owner.cancels.size(), 1u);
}

TEST_F(PinInput, APinpadSheetShowsTheTimeOutAndCallsNobody) {
    for (auto initial : {PinPadReaderState::waiting, PinPadReaderState::errorOccuredThatCouldJustifyRetry}) {
        auto model = owner.pinpadModel(scheduler, initial);
        int notifications = 0;
        auto subscription = model->subscribe([&] { ++notifications; });
        model->startTimers();
        scheduler->advance(60s);
        EXPECT_EQ(model->pinPadReaderState(), PinPadReaderState::timeout);
        EXPECT_TRUE(owner.cancels.empty());
        scheduler->advance(3s);
        EXPECT_EQ(model->secondsRemaining(), -3);
        model->stopTimers();
        // 60 ticks, the state once, 3 ticks (starting at 60 changed nothing).
        EXPECT_EQ(notifications, 64);
    }
}

TEST_F(PinInput, TimersEndWithTheirModelAndARestartReplacesThem) {
    auto model = owner.keyboardModel(scheduler);
    model->startTimers();
    scheduler->advance(10s);
    model->startTimers();
    EXPECT_EQ(model->secondsRemaining(), 60);
    EXPECT_EQ(scheduler->activeTimerCount(), 2u) << "the first pair is stopped";
    scheduler->advance(59s);
    EXPECT_TRUE(owner.cancels.empty()) << "the time-out counts from the restart";
    model.reset();
    EXPECT_EQ(scheduler->activeTimerCount(), 0u);
    scheduler->advance(10s);
    EXPECT_TRUE(owner.cancels.empty()) << "a replaced sheet never times out into its owner";
}

TEST_F(PinInput, RemainingTimeIsShownAsMinutesAndSeconds) {
    const std::pair<int, const char*> cases[] = {{60, "01:00"}, {59, "00:59"},  {61, "01:01"},
                                                 {0, "00:00"},  {-5, "-00:05"}, {600, "10:00"}};
    for (const auto& [seconds, text] : cases)
        EXPECT_EQ(remainingTimeText(seconds), text) << seconds;
}

TEST_F(PinInput, ErrorFeedbackFocusesAlwaysAndShakesOnceOnlyAfterAWrongPinTypedInTheApp) {
    struct Case {
        const char* name;
        bool keyboard;
        std::optional<int> tries;
        double shakeAfterTwo;
    };
    const Case cases[] = {
        {"keyboard without tries", true, std::nullopt, 0},
        {"keyboard after a wrong PIN", true, 2, 1},
        {"pinpad after a wrong PIN", false, 2, 0},
        {"pinpad", false, std::nullopt, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto model = c.keyboard ? owner.keyboardModel(scheduler, c.tries)
                                : owner.pinpadModel(scheduler, PinPadReaderState::waiting, c.tries);
        model->triggerErrorFeedback(c.tries);
        EXPECT_EQ(model->focusTrigger(), 1);
        model->triggerErrorFeedback(c.tries);
        EXPECT_EQ(model->focusTrigger(), 2);
        EXPECT_EQ(model->showVisualErrorFeedback(), c.shakeAfterTwo);
    }
}

TEST_F(PinInput, TextsFollowTheReason) {
    struct Case {
        SigningReason reason;
        const char* title;
        const char* subtitle;
        const char* button;
    };
    const Case cases[] = {
        {SigningReason::actualSigning(std::nullopt, std::nullopt), "Sign document",
         "Enter your PIN to continue", "Sign"},
        {SigningReason::actualSigning(platform::Bytes{1, 2}, std::vector<BulkSigningRequest::Document>{}),
         "Sign document", "Enter your PIN to continue", "Sign"},
        {SigningReason::of(Kind::accountInfoAuthentication), "Login authentication",
         "Enter your PIN to authenticate", "Authenticate"},
        {SigningReason::of(Kind::certificateRetrievalAuthentication), "Login authentication",
         "Enter your PIN to authenticate", "Retrieve certificate"},
        {SigningReason::of(Kind::accountCreationAuthentication), "Log in to create your account",
         "Enter your PIN to authenticate", "Authenticate"},
        {SigningReason::of(Kind::agreementSigning), "Sign subscriber agreement",
         "Enter your PIN to sign the subscriber agreement", "Sign agreement"},
        {SigningReason::of(Kind::signingAuthentication), "Login authentication",
         "Enter your PIN to authenticate", "Authenticate"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_EQ(pinDialogTitle(c.reason), c.title);
        EXPECT_EQ(pinDialogSubtitle(c.reason), c.subtitle);
        EXPECT_EQ(pinDialogButtonTitle(c.reason), c.button);
    }
}

TEST(ShakeEffectTest, MovesSidewaysTwoAndAHalfTimesAndEndsAtRest) {
    const std::pair<double, double> cases[] = {
        {0, 0}, {0.1, 6}, {0.2, 0}, {0.3, -6}, {0.5, 6}, {0.05, 6 * std::sin(std::numbers::pi / 4)},
        {1, 0}, {2, 0}};
    for (const auto& [t, x] : cases) {
        const ShakeEffect effect{6, 5, t};
        EXPECT_NEAR(effect.offset(), x, 1e-9) << t;
        const QTransform transform = effect.effectValue(QSizeF(300, 20));
        EXPECT_NEAR(transform.dx(), x, 1e-9);
        EXPECT_EQ(transform.dy(), 0);
        EXPECT_TRUE(transform.isTranslating() || transform.isIdentity());
    }
}

// ---- Sheet

// A sheet on screen, as the presenter shows it.
struct ShownSheet {
    explicit ShownSheet(std::shared_ptr<PinInputViewModel> model) : view(new PinInputView(model)) {
        sheet = view->makeSheet(&owner);
        owner.resize(800, 550);
        owner.show();
        sheet->show();
        QApplication::setActiveWindow(sheet);
        QApplication::processEvents();
    }
    QWidget owner;
    PinInputView* view;
    Sheet* sheet;
};

TEST_F(PinInput, TheKeyboardSheetTakesOnlyAValidPinAndOnlyOnce) {
    auto model = owner.keyboardModel(scheduler);
    model->startTimers();
    ShownSheet shown(model);
    auto* field = shown.view->pinField();
    ASSERT_TRUE(field);
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    EXPECT_FALSE(shown.view->progressIndicator()->isVisible());

    QTest::keyClicks(field, "123");
    EXPECT_EQ(model->pinValue(), "123");
    EXPECT_FALSE(shown.view->confirmButton()->isEnabled());
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Enter);
    QTest::keyClick(field, Qt::Key_A);
    EXPECT_EQ(model->pinValue(), "123a");
    EXPECT_FALSE(shown.view->confirmButton()->isEnabled()) << "a letter is no PIN";
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_TRUE(owner.pins.empty());
    EXPECT_TRUE(shown.sheet->isVisible()) << "Return is not passed on to the sheet";

    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, "4");
    EXPECT_TRUE(shown.view->confirmButton()->isEnabled());
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(owner.pins, std::vector<std::string>{"1234"});
    EXPECT_EQ(scheduler->activeTimerCount(), 0u);

    // Submitted: everything is off until the owner replaces the sheet; the progress indicator shows.
    EXPECT_FALSE(field->isEnabled());
    EXPECT_FALSE(shown.view->confirmButton()->isEnabled());
    EXPECT_FALSE(shown.view->cancelButton()->isEnabled());
    EXPECT_TRUE(shown.view->progressIndicator()->isVisible());
    QTest::keyClick(field, Qt::Key_Return);
    QTest::mouseClick(shown.view->confirmButton(), Qt::LeftButton);
    QTest::keyClick(shown.sheet, Qt::Key_Escape);
    shown.sheet->close();
    EXPECT_EQ(owner.pins.size(), 1u);
    EXPECT_TRUE(owner.cancels.empty()) << "a submitted PIN waits for the card";
}

TEST_F(PinInput, TheConfirmButtonSubmitsAndShowsTheReasonsTexts) {
    auto model = owner.keyboardModel(scheduler, std::nullopt, SigningReason::of(Kind::agreementSigning));
    ShownSheet shown(model);
    EXPECT_EQ(shown.view->titleLabel()->text(), "Sign subscriber agreement");
    EXPECT_EQ(shown.view->subtitleLabel()->text(), "Enter your PIN to sign the subscriber agreement");
    EXPECT_EQ(shown.view->confirmButton()->text(), "Sign agreement");
    QTest::keyClicks(shown.view->pinField(), "987654321098");
    QTest::mouseClick(shown.view->confirmButton(), Qt::LeftButton);
    EXPECT_EQ(owner.pins, std::vector<std::string>{"987654321098"});
}

TEST_F(PinInput, EscTheCloseButtonAndCancelEndTheSheetThroughItsOwner) {
    enum class Way { escape, closeButton, cancelButton };
    for (auto way : {Way::escape, Way::closeButton, Way::cancelButton}) {
        std::vector<bool> cancels;
        bool timersStoppedFirst = false;
        auto model = std::make_shared<PinInputViewModel>(
            SigningReason::of(Kind::accountInfoAuthentication), std::nullopt, PinPadReaderState::waiting,
            [](const std::string&) { FAIL() << "no PIN"; },
            [&](bool timedOut) {
                timersStoppedFirst = scheduler->activeTimerCount() == 0;
                cancels.push_back(timedOut);
            },
            nullptr, scheduler);
        model->startTimers();
        ShownSheet shown(model);
        QTest::keyClicks(shown.view->pinField(), "12");
        switch (way) {
            case Way::escape:
                QTest::keyClick(shown.view->pinField(), Qt::Key_Escape);
                break;
            case Way::closeButton:
                shown.sheet->close();
                break;
            case Way::cancelButton:
                QTest::mouseClick(shown.view->cancelButton(), Qt::LeftButton);
                break;
        }
        EXPECT_EQ(cancels, std::vector<bool>{false});
        EXPECT_TRUE(timersStoppedFirst);
        // Once cancelled, nothing acts any more.
        QTest::keyClick(shown.sheet, Qt::Key_Escape);
        QTest::mouseClick(shown.view->cancelButton(), Qt::LeftButton);
        EXPECT_EQ(cancels.size(), 1u);
        EXPECT_FALSE(shown.view->cancelButton()->isEnabled());
    }
}

TEST_F(PinInput, AWrongPinShowsTheTriesLeftFocusesTheFieldAndShakesIt) {
    struct Case {
        int tries;
        const char* line;
    };
    const Case cases[] = {{3, "PIN is incorrect : 3 attempts remaining."},
                          {2, "PIN is incorrect : 2 attempts remaining."},
                          {1, "PIN is incorrect : 1 attempt remaining."},
                          {0, "PIN is incorrect : 0 attempt remaining."}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tries);
        auto model = owner.keyboardModel(scheduler, c.tries);
        ShownSheet shown(model);
        ASSERT_TRUE(shown.view->wrongPinLabel());
        EXPECT_EQ(shown.view->wrongPinLabel()->text(), c.line);
    }

    auto model = owner.keyboardModel(scheduler, 2);
    ShownSheet shown(model);
    const int rest = shown.view->pinField()->x();
    auto* animation = shown.view->findChild<QVariantAnimation*>();
    ASSERT_TRUE(animation);
    model->triggerErrorFeedback(2);
    ASSERT_EQ(animation->state(), QAbstractAnimation::Running);
    // Stepped through by hand: the field swings both ways by up to 6 points and ends where it was.
    animation->pause();
    int left = 0, right = 0;
    for (int time = 0; time < PinInputView::shakeMilliseconds; time += 5) {
        animation->setCurrentTime(time);
        EXPECT_EQ(shown.view->pinField()->x() - rest, shown.view->shakeOffset());
        left = std::min(left, shown.view->shakeOffset());
        right = std::max(right, shown.view->shakeOffset());
    }
    EXPECT_EQ(left, -6);
    EXPECT_EQ(right, 6);
    animation->setCurrentTime(PinInputView::shakeMilliseconds);
    EXPECT_EQ(animation->state(), QAbstractAnimation::Stopped);
    EXPECT_EQ(shown.view->shakeOffset(), 0);
    EXPECT_EQ(shown.view->pinField()->x(), rest);
    // A second error on the same sheet moves nothing, but takes the focus back into the field.
    shown.view->cancelButton()->setFocus();
    model->triggerErrorFeedback(2);
    EXPECT_EQ(animation->state(), QAbstractAnimation::Stopped);
    QApplication::processEvents();
    EXPECT_TRUE(shown.view->pinField()->hasFocus());
    // Typing goes into the focused field.
    QTest::keyClicks(QApplication::focusWidget(), "5555");
    EXPECT_EQ(model->pinValue(), "5555");
}

TEST_F(PinInput, PinpadFormsFollowTheReader) {
    // Waiting: the countdown, no button, and no way to close the sheet from the app.
    auto waiting = owner.pinpadModel(scheduler, PinPadReaderState::waiting, 2);
    waiting->startTimers();
    ShownSheet shown(waiting);
    EXPECT_FALSE(shown.view->pinField());
    EXPECT_FALSE(shown.view->wrongPinLabel()) << "the tries left belong to the keyboard form";
    EXPECT_FALSE(shown.view->cancelButton());
    ASSERT_TRUE(shown.view->clock());
    scheduler->advance(15s);
    EXPECT_EQ(shown.view->timeLabel()->text(), "00:45");
    EXPECT_EQ(shown.view->clock()->remainingTimeInSecodns(), 45);
    QTest::keyClick(shown.sheet, Qt::Key_Escape);
    shown.sheet->close();
    EXPECT_TRUE(owner.cancels.empty());

    // Not responding after the time-out: the texts send the holder to the reader, no buttons.
    scheduler->advance(45s);
    QApplication::processEvents();
    EXPECT_FALSE(shown.view->clock());
    EXPECT_FALSE(shown.view->cancelButton());
    QStringList texts;
    for (auto* label : shown.view->findChildren<QLabel*>())
        if (label->isVisibleTo(shown.view))
            texts << label->text();
    EXPECT_TRUE(texts.contains("The Pinpad reader is not responding.")) << texts.join("|").toStdString();
    EXPECT_TRUE(texts.contains(
        "You must cancel the operation directly on your Pinpad reader (or remove your card)."));
    EXPECT_TRUE(owner.cancels.empty());
}

TEST_F(PinInput, AFailedPinpadOperationOffersRetryAndCancel) {
    for (bool retry : {true, false}) {
        Owner fresh;
        auto model = fresh.pinpadModel(scheduler, PinPadReaderState::errorOccuredThatCouldJustifyRetry);
        model->startTimers();
        ShownSheet shown(model);
        ASSERT_TRUE(shown.view->retryButton());
        ASSERT_TRUE(shown.view->cancelButton());
        EXPECT_FALSE(shown.view->clock()) << "no countdown on the failed form";
        if (retry) {
            QTest::mouseClick(shown.view->retryButton(), Qt::LeftButton);
            EXPECT_EQ(fresh.retries, 1);
            EXPECT_TRUE(fresh.cancels.empty());
        } else {
            QTest::keyClick(shown.sheet, Qt::Key_Escape);
            EXPECT_EQ(fresh.cancels, std::vector<bool>{false});
            EXPECT_EQ(fresh.retries, 0);
        }
        EXPECT_EQ(scheduler->activeTimerCount(), 0u) << "the countdown stops first";
    }

    // Neither used for 60 s: the not-responding form, without buttons.
    auto model = owner.pinpadModel(scheduler, PinPadReaderState::errorOccuredThatCouldJustifyRetry);
    model->startTimers();
    ShownSheet shown(model);
    scheduler->advance(60s);
    QApplication::processEvents();
    EXPECT_FALSE(shown.view->retryButton());
    EXPECT_FALSE(shown.view->cancelButton());
}

}  // namespace
