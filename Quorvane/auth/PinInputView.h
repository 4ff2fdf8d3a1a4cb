#pragma once
// The PIN sheet: the card-reader picture and the sheet title, then one of four forms. The keyboard form has
// the secure PIN field (Return submits a valid PIN), the countdown, the tries left after a wrong PIN, the
// format hint, and confirm and Cancel; the three pinpad forms follow the reader: waiting (countdown),
// not responding (no buttons: the holder acts on the reader), and failed (Retry and Cancel).
//
// Esc and the sheet window's close button do what the form's Cancel does, and nothing where the form offers
// no Cancel (a pinpad reader is cancelled on the reader; a submitted PIN waits for the card), so the sheet
// never goes away without its owner being told.
#include <QWidget>
#include <memory>

#include "PinInputViewModel.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QVariantAnimation;
class RemainingTimeClockView;
class Sheet;
class StyledButton;

class PinInputView : public QWidget {
  public:
    static constexpr int shakeMilliseconds = 500;

    explicit PinInputView(std::shared_ptr<PinInputViewModel> model, QWidget* parent = nullptr);

    // Puts the view in a sheet over the owner's window; Esc and the close button go to cancel().
    Sheet* makeSheet(QWidget* owner);

    // The holder's Cancel: stops the countdown, then tells the owner (not timed out). Does nothing where the
    // current form shows no usable Cancel.
    void cancel();

    QLabel* titleLabel() const { return title_; }
    QLabel* subtitleLabel() const { return subtitle_; }
    // Absent where the current form has no such part.
    QLineEdit* pinField() const { return field_; }
    StyledButton* confirmButton() const { return confirm_; }
    StyledButton* cancelButton() const { return cancel_; }
    StyledButton* retryButton() const { return retry_; }
    QProgressBar* progressIndicator() const { return progress_; }
    QLabel* wrongPinLabel() const { return wrongPin_; }
    RemainingTimeClockView* clock() const { return clock_; }
    QLabel* timeLabel() const { return time_; }
    // The PIN field's sideways displacement by the shake; 0 at rest.
    int shakeOffset() const { return shakeOffset_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    enum class Form { keyboard, pinpadWaiting, pinpadTimeout, pinpadError };
    Form currentForm() const;
    void buildForm();
    QWidget* makeKeyboardForm();
    QWidget* makePinpadWaitingForm();
    QWidget* makePinpadTimeoutForm();
    QWidget* makePinpadErrorForm();
    QWidget* makeCountdown();
    void render();
    bool canCancel() const;
    void retry();
    void submitIfAllowed();
    void focusField();

    std::shared_ptr<PinInputViewModel> model_;
    Observable::Subscription subscription_;
    QLabel* title_;
    QWidget* formHost_;
    QWidget* form_ = nullptr;
    Form formKind_ = Form::keyboard;
    QLabel* subtitle_ = nullptr;
    QLineEdit* field_ = nullptr;
    StyledButton* confirm_ = nullptr;
    StyledButton* cancel_ = nullptr;
    StyledButton* retry_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* wrongPin_ = nullptr;
    RemainingTimeClockView* clock_ = nullptr;
    QLabel* time_ = nullptr;
    QVariantAnimation* shake_;
    int shakeOffset_ = 0;
    double shownErrorFeedback_;
    int shownFocusTrigger_;
    bool focusPending_ = false;
    // Set by Cancel: the card's operation is over, nothing on the sheet acts any more.
    bool ended_ = false;
};
