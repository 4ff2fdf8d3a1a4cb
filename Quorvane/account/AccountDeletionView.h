#pragma once
// The confirmation asked before the account is deactivated: what deactivating means, "No, keep account" (also
// Esc) and "Deactivate account".
#include <QWidget>
#include <memory>

#include "AccountDeletionViewModel.h"

class StyledButton;

class AccountDeletionView : public QWidget {
  public:
    explicit AccountDeletionView(std::shared_ptr<AccountDeletionViewModel> model, QWidget* parent = nullptr);

    // "No, keep account", as the sheet's Esc and close button take it.
    void cancel();

    StyledButton* keepButton() const { return keepButton_; }
    StyledButton* deactivateButton() const { return deactivateButton_; }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    std::shared_ptr<AccountDeletionViewModel> model_;
    StyledButton* keepButton_;
    StyledButton* deactivateButton_;
};
