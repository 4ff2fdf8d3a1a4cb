#include "PinInputViewModel.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

PinInputViewModel::PinInputViewModel(SigningReason reason, std::optional<int> remainingPinTries,
                                     PinPadReaderState pinPadReaderState, PinProvided pinProvided,
                                     CancelRequested cancelRequested, RetryRequested retryRequested,
                                     std::shared_ptr<platform::Scheduler> scheduler)
    : reason(std::move(reason)),
      remainingPinTries(remainingPinTries),
      pinProvided(std::move(pinProvided)),
      cancelRequested(std::move(cancelRequested)),
      retryRequested(std::move(retryRequested)),
      pinPadReaderState_(pinPadReaderState),
      scheduler_(std::move(scheduler)) {}

PinInputViewModel::~PinInputViewModel() {
    // A replaced sheet's model must not time out into its owner later.
    stopTimers();
}

void PinInputViewModel::setPinValue(std::string pin) {
    setObserved(pinValue_, std::move(pin));
}

bool PinInputViewModel::canSubmit() const {
    if (pinValue_.size() < minimumPinLength || pinValue_.size() > maximumPinLength)
        return false;
    if (!std::all_of(pinValue_.begin(), pinValue_.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return !hasSubmitted_;
}

void PinInputViewModel::submit() {
    stopTimers();
    setObserved(hasSubmitted_, true);
    if (pinProvided) {
        // The owner may end the sheet, and with it this model, from inside the callback.
        auto provide = pinProvided;
        provide(pinValue_);
    }
}

void PinInputViewModel::startTimers() {
    stopTimers();
    setObserved(secondsRemaining_, totalTimeInSeconds);
    std::weak_ptr<PinInputViewModel> weak = weak_from_this();
    timeoutTimer_ = scheduler_->scheduleOnce(timeout, [weak] {
        if (auto self = weak.lock())
            self->timedOut();
    });
    countdownTimer_ = scheduler_->scheduleRepeating(countdownInterval, [weak] {
        if (auto self = weak.lock())
            self->countdownTick();
    });
}

void PinInputViewModel::stopTimers() {
    if (countdownTimer_)
        countdownTimer_->invalidate();
    countdownTimer_.reset();
    if (timeoutTimer_)
        timeoutTimer_->invalidate();
    timeoutTimer_.reset();
}

std::string PinInputViewModel::remainingTimeText() const {
    return ::remainingTimeText(secondsRemaining_);
}

void PinInputViewModel::triggerErrorFeedback(std::optional<int> remainingPinTries) {
    setObserved(focusTrigger_, focusTrigger_ + 1);
    if (remainingPinTries && pinProvided)
        setObserved(showVisualErrorFeedback_, 1.0);
}

void PinInputViewModel::timedOut() {
    if (pinProvided) {
        if (cancelRequested) {
            auto cancel = cancelRequested;
            cancel(true);
        }
        return;
    }
    setObserved(pinPadReaderState_, PinPadReaderState::timeout);
}

void PinInputViewModel::countdownTick() {
    setObserved(secondsRemaining_, secondsRemaining_ - 1);
}

std::string remainingTimeText(int seconds) {
    const long long magnitude = std::llabs(static_cast<long long>(seconds));
    char text[32];
    std::snprintf(text, sizeof text, "%s%02lld:%02lld", seconds < 0 ? "-" : "", magnitude / 60,
                  magnitude % 60);
    return text;
}
