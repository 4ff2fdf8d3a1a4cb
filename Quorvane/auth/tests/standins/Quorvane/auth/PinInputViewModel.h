#pragma once
// Stand-in for the PIN entry model until it lands: the fields and operations that the
// sheet presenter and the navigation use, with the 60 s time-out and the countdown on the scheduler.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Quorvane/auth/PinPadReaderState.h"
#include "Quorvane/core/Observable.h"
#include "Quorvane/core/SigningReason.h"
#include "platform/Scheduler.h"

class PinInputViewModel : public Observable, public std::enable_shared_from_this<PinInputViewModel> {
  public:
    PinInputViewModel(SigningReason reason, std::optional<int> remainingPinTries,
                      PinPadReaderState pinPadReaderState,
                      std::function<void(const std::string&)> pinProvided,
                      std::function<void(bool)> cancelRequested, std::function<void()> retryRequested,
                      std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live());
    ~PinInputViewModel() override;

    const std::string& pinValue() const { return pinValue_; }
    void setPinValue(std::string value) { setObserved(pinValue_, std::move(value)); }
    bool hasSubmitted() const { return hasSubmitted_; }
    double showVisualErrorFeedback() const { return showVisualErrorFeedback_; }
    int focusTrigger() const { return focusTrigger_; }
    int secondsRemaining() const { return secondsRemaining_; }
    PinPadReaderState pinPadReaderState() const { return pinPadReaderState_; }

    bool canSubmit() const;
    void submit();
    void startTimers();
    void stopTimers();
    void triggerErrorFeedback(std::optional<int> remainingPinTries);

    const SigningReason reason;
    const std::optional<int> remainingPinTries;
    const std::function<void(const std::string&)> pinProvided;
    const std::function<void(bool)> cancelRequested;
    const std::function<void()> retryRequested;

  private:
    std::string pinValue_;
    bool hasSubmitted_ = false;
    double showVisualErrorFeedback_ = 0;
    int focusTrigger_ = 0;
    int secondsRemaining_ = 60;
    PinPadReaderState pinPadReaderState_;
    std::shared_ptr<platform::Scheduler> scheduler_;
    std::shared_ptr<platform::Timer> timeoutTimer_;
    std::shared_ptr<platform::Timer> countdownTimer_;
};
