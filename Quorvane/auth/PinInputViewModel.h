#pragma once
// The PIN sheet of a card operation: the PIN typed so far, a 60 s countdown with its own time-out, the tries
// left after a wrong PIN, what a pinpad reader is doing, and the callbacks through which the sheet's owner
// learns how it ended. A sheet with `pinProvided` is typed on the keyboard; one without it follows a pinpad
// reader. One model serves one presented sheet.
//
// Only 4 to 12 ASCII digits can be submitted: anything else can never be a card's PIN, and sending it would
// burn one of the card's few tries.
//
// Main thread only; made with std::make_shared (the timers reach the model weakly, and a model that goes away
// stops its timers).
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "PinPadReaderState.h"
#include "Quorvane/core/Observable.h"
#include "Quorvane/core/SigningReason.h"
#include "platform/Scheduler.h"

class PinInputViewModel : public Observable, public std::enable_shared_from_this<PinInputViewModel> {
  public:
    using PinProvided = std::function<void(const std::string& pin)>;
    // true when the time-out ended the sheet, false when the holder cancelled.
    using CancelRequested = std::function<void(bool timedOut)>;
    using RetryRequested = std::function<void()>;

    static constexpr int totalTimeInSeconds = 60;
    static constexpr std::chrono::milliseconds timeout{60'000};
    static constexpr std::chrono::milliseconds countdownInterval{1'000};
    static constexpr std::size_t minimumPinLength = 4;
    static constexpr std::size_t maximumPinLength = 12;

    PinInputViewModel(SigningReason reason, std::optional<int> remainingPinTries,
                      PinPadReaderState pinPadReaderState, PinProvided pinProvided,
                      CancelRequested cancelRequested, RetryRequested retryRequested,
                      std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live());
    ~PinInputViewModel() override;
    PinInputViewModel(const PinInputViewModel&) = delete;
    PinInputViewModel& operator=(const PinInputViewModel&) = delete;

    // Observed.
    const std::string& pinValue() const { return pinValue_; }
    void setPinValue(std::string pin);
    bool hasSubmitted() const { return hasSubmitted_; }
    // Drives the shake of the PIN field; the error feedback raises it from 0 to 1.
    double showVisualErrorFeedback() const { return showVisualErrorFeedback_; }
    // Every change moves the keyboard focus into the PIN field.
    int focusTrigger() const { return focusTrigger_; }
    // Counts on below 0 when nothing stops it.
    int secondsRemaining() const { return secondsRemaining_; }
    PinPadReaderState pinPadReaderState() const { return pinPadReaderState_; }

    const SigningReason reason;
    const std::optional<int> remainingPinTries;
    // Empty: the PIN is typed on a pinpad reader.
    const PinProvided pinProvided;
    const CancelRequested cancelRequested;
    const RetryRequested retryRequested;

    bool isKeyboardEntry() const { return static_cast<bool>(pinProvided); }
    const std::shared_ptr<platform::Timer>& timeoutTimer() const { return timeoutTimer_; }
    const std::shared_ptr<platform::Timer>& countdownTimer() const { return countdownTimer_; }

    // True for 4 to 12 ASCII digits before the PIN was submitted.
    bool canSubmit() const;
    // Stops the timers, marks the PIN submitted and hands it to pinProvided. Callers check canSubmit first.
    void submit();
    // Sets the countdown to 60 and starts the 60 s time-out, then the 1 s countdown. Timers still running
    // from an earlier call are stopped first.
    void startTimers();
    void stopTimers();
    // The countdown as minutes and seconds, "01:00".
    std::string remainingTimeText() const;
    // Moves the focus into the PIN field; with a tries count on a keyboard sheet, also shakes the field (once
    // per model: the value only ever goes from 0 to 1).
    void triggerErrorFeedback(std::optional<int> remainingPinTries);

  private:
    void timedOut();
    void countdownTick();

    std::string pinValue_;
    bool hasSubmitted_ = false;
    double showVisualErrorFeedback_ = 0;
    int focusTrigger_ = 0;
    int secondsRemaining_ = totalTimeInSeconds;
    PinPadReaderState pinPadReaderState_;
    std::shared_ptr<platform::Timer> timeoutTimer_;
    std::shared_ptr<platform::Timer> countdownTimer_;
    std::shared_ptr<platform::Scheduler> scheduler_;
};

// Minutes and seconds of a count of seconds, each padded to two digits ("01:00", "00:59", "-00:05").
std::string remainingTimeText(int seconds);
