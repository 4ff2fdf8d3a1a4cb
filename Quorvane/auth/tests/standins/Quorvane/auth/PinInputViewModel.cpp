#include "Quorvane/auth/PinInputViewModel.h"

PinInputViewModel::PinInputViewModel(SigningReason reason, std::optional<int> remainingPinTries,
                                     PinPadReaderState pinPadReaderState,
                                     std::function<void(const std::string&)> pinProvided,
                                     std::function<void(bool)> cancelRequested,
                                     std::function<void()> retryRequested,
                                     std::shared_ptr<platform::Scheduler> scheduler)
    : reason(std::move(reason)),
      remainingPinTries(remainingPinTries),
      pinProvided(std::move(pinProvided)),
      cancelRequested(std::move(cancelRequested)),
      retryRequested(std::move(retryRequested)),
      pinPadReaderState_(pinPadReaderState),
      scheduler_(std::move(scheduler)) {}

PinInputViewModel::~PinInputViewModel() {
    stopTimers();
}

bool PinInputViewModel::canSubmit() const {
    return pinValue_.size() >= 4 && pinValue_.size() <= 12 && !hasSubmitted_;
}

void PinInputViewModel::submit() {
    stopTimers();
    setObserved(hasSubmitted_, true);
    if (pinProvided)
        pinProvided(pinValue_);
}

void PinInputViewModel::startTimers() {
    setObserved(secondsRemaining_, 60);
    std::weak_ptr<PinInputViewModel> weak = weak_from_this();
    timeoutTimer_ = scheduler_->scheduleOnce(std::chrono::seconds(60), [weak] {
        auto self = weak.lock();
        if (!self)
            return;
        if (self->pinProvided) {
            if (self->cancelRequested)
                self->cancelRequested(true);
        } else {
            self->setObserved(self->pinPadReaderState_, PinPadReaderState::timeout);
        }
    });
    countdownTimer_ = scheduler_->scheduleRepeating(std::chrono::seconds(1), [weak] {
        if (auto self = weak.lock())
            self->setObserved(self->secondsRemaining_, self->secondsRemaining_ - 1);
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

void PinInputViewModel::triggerErrorFeedback(std::optional<int> remainingPinTries) {
    setObserved(focusTrigger_, focusTrigger_ + 1);
    if (remainingPinTries && pinProvided)
        setObserved(showVisualErrorFeedback_, 1.0);
}
