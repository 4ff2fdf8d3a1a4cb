#pragma once
// The terms page of the account creation (step 1 of 3): the consent asked for, links to the privacy notice
// and the general terms and conditions, and the consent box that enables "Confirm & continue". The box has
// the keyboard focus once the page is shown.
#include <QWidget>
#include <memory>

#include "AccountCreationConditionsViewModel.h"

class LinkLabel;
class StyledButton;
class Toggle;

class AccountCreationConditionsView : public QWidget {
  public:
    explicit AccountCreationConditionsView(std::shared_ptr<AccountCreationConditionsViewModel> model,
                                           QWidget* parent = nullptr);

    static std::string privacyNoticeURL();
    static std::string termsAndConditionsURL();

    LinkLabel* privacyLink() const { return privacyLink_; }
    LinkLabel* termsLink() const { return termsLink_; }
    Toggle* checkbox() const { return checkbox_; }
    StyledButton* confirmButton() const { return confirmButton_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void render();
    void renderLinks();

    std::shared_ptr<AccountCreationConditionsViewModel> model_;
    Observable::Subscription subscription_;
    LinkLabel* privacyLink_;
    LinkLabel* termsLink_;
    Toggle* checkbox_;
    StyledButton* confirmButton_;
};
