#pragma once
// The identity page of the account creation (step 2 of 3): the holder's full name and national number, which
// the user confirms with the checkbox (it has the keyboard focus) before "Confirm & continue".
#include <QWidget>
#include <memory>

#include "AccountCreationIdentityValidationViewModel.h"

class BaseCardInformationView;
class StyledButton;
class Toggle;

class AccountCreationIdentityValidationView : public QWidget {
  public:
    enum class Field { confirmToggle };

    explicit AccountCreationIdentityValidationView(
        std::shared_ptr<AccountCreationIdentityValidationViewModel> model, QWidget* parent = nullptr);

    BaseCardInformationView* cardInformation() const { return cardInformation_; }
    Toggle* confirmToggle() const { return confirmToggle_; }
    StyledButton* confirmButton() const { return confirmButton_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void render();

    std::shared_ptr<AccountCreationIdentityValidationViewModel> model_;
    Observable::Subscription subscription_;
    Toggle* confirmToggle_;
    StyledButton* confirmButton_;
    BaseCardInformationView* cardInformation_;
};
