#pragma once
// The wallet sheet: the QR code to scan with the wallet app, the progress of the login as the model reports
// it, the security check when a document hash is signed, and the buttons to refresh the code or cancel. For
// an account-creation authentication it first shows the warning that a second login is needed. It starts
// nothing itself; rebuilding it on the same model changes nothing.
#include <QWidget>
#include <memory>

#include "WalletTrackingViewModel.h"

class QLabel;
class QGraphicsOpacityEffect;
class RemainingTimeClockView;
class StyledButton;
class WalletSecurityCheckView;

class WalletTrackingView : public QWidget {
  public:
    static constexpr int sheetWidth = 600;

    explicit WalletTrackingView(std::shared_ptr<WalletTrackingViewModel> model, QWidget* parent = nullptr);

    // The Cancel button's path, which the sheet's Esc and close button take as well: like the button, it does
    // nothing once the login succeeded (the sheet then ends by itself).
    void cancel();

    StyledButton* continueButton() const { return continueButton_; }
    StyledButton* refreshButton() const { return refreshButton_; }
    StyledButton* cancelButton() const { return cancelButton_; }
    QLabel* headline() const { return headline_; }
    RemainingTimeClockView* clock() const { return clock_; }
    // What the QR area shows.
    QWidget* qrCodeArea() const { return qrCodeArea_; }
    // Absent unless there is a verification code.
    WalletSecurityCheckView* securityCheck() const { return securityCheck_; }

    // As high as the texts need at the sheet's width, so that a sheet never cuts them off (larger fonts
    // wrap).
    QSize minimumSizeHint() const override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QWidget* makeWarning();
    QWidget* makeTrackingContent();
    void render();

    std::shared_ptr<WalletTrackingViewModel> model_;
    Observable::Subscription subscription_;
    QWidget* warning_ = nullptr;
    QWidget* trackingContent_ = nullptr;
    StyledButton* continueButton_ = nullptr;
    QWidget* qrCodeArea_ = nullptr;
    QLabel* headline_ = nullptr;
    RemainingTimeClockView* clock_ = nullptr;
    class TimeText;
    TimeText* remainingTimeText_ = nullptr;
    WalletSecurityCheckView* securityCheck_ = nullptr;
    StyledButton* refreshButton_ = nullptr;
    QGraphicsOpacityEffect* refreshOpacity_ = nullptr;
    StyledButton* cancelButton_ = nullptr;
};
