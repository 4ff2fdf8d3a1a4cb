#pragma once
// The first page of the account creation: why a signing certificate is needed, the three steps that follow,
// "Create signing certificate" (with the keyboard focus) and "Cancel".
#include <QWidget>
#include <memory>

#include "AccountCreationDisclaimerViewModel.h"

class StyledButton;

class AccountCreationDisclaimerView : public QWidget {
  public:
    enum class Field { activateButton };

    explicit AccountCreationDisclaimerView(std::shared_ptr<AccountCreationDisclaimerViewModel> model,
                                           QWidget* parent = nullptr);

    StyledButton* activateButton() const { return activateButton_; }
    StyledButton* cancelButton() const { return cancelButton_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    std::shared_ptr<AccountCreationDisclaimerViewModel> model_;
    StyledButton* activateButton_;
    StyledButton* cancelButton_;
};
