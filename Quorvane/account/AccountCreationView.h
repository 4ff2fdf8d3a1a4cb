#pragma once
// The account-creation screen: the step header over every numbered page, the page of the flow's current step
// (new page models from the flow model whenever the step, or on a numbered page whether the user may stop,
// changes), and the flow's sheet: the PIN or wallet sheet, a message, or the retrieval of the certificate. It
// decides nothing itself.
#include <QWidget>
#include <memory>
#include <optional>

#include "AccountCreationViewModel.h"

class AccountCreationStepHeaderView;
class SheetPresenter;

class AccountCreationView : public QWidget {
  public:
    explicit AccountCreationView(std::shared_ptr<AccountCreationViewModel> model, QWidget* parent = nullptr);

    const std::shared_ptr<AccountCreationViewModel>& model() const { return model_; }
    // None on the disclaimer.
    AccountCreationStepHeaderView* header() const { return header_; }
    // The page of the current step.
    QWidget* page() const { return page_; }
    SheetPresenter* sheetPresenter() const { return sheetPresenter_; }

  private:
    void render();
    QWidget* makePage();
    SheetPresenter::Content sheetContent(const AccountCreationModalState& state);

    std::shared_ptr<AccountCreationViewModel> model_;
    Observable::Subscription subscription_;
    std::optional<AccountCreationStep> shownStep_;
    bool shownStopAllowed_ = true;
    AccountCreationStepHeaderView* header_ = nullptr;
    QWidget* page_ = nullptr;
    SheetPresenter* sheetPresenter_ = nullptr;
};
