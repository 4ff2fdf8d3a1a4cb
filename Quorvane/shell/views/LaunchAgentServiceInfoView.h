#pragma once
// The page shown in place of the signing screen while the signature relay's service is off: it asks the
// user to switch the service on and offers the settings screen, as a sheet over the page, where the
// "Quorvane service" toggle does it. Once the model sees the service on it thanks the user and offers
// "Continue" (it usually continues by itself first).
#include <QPointer>
#include <QWidget>
#include <memory>

#include "Quorvane/shell/views/LaunchAgentServiceInfoViewModel.h"

class QLabel;
class Sheet;
class StyledButton;

class LaunchAgentServiceInfoView : public QWidget {
  public:
    explicit LaunchAgentServiceInfoView(std::shared_ptr<LaunchAgentServiceInfoViewModel> model,
                                        QWidget* parent = nullptr);

    QLabel* messageLabel() const { return message_; }
    StyledButton* button() const { return button_; }
    // The settings sheet while it is up.
    Sheet* settingsSheet() const { return settingsSheet_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void render();
    void openSettings();
    void closeSettings();

    std::shared_ptr<LaunchAgentServiceInfoViewModel> model_;
    Observable::Subscription subscription_;
    QLabel* message_;
    StyledButton* button_;
    QPointer<Sheet> settingsSheet_;
};
