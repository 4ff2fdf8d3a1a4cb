#pragma once
// The terms page of the account creation: the user may go on only once the consent box is ticked.
#include <functional>

#include "Quorvane/core/Observable.h"

class AccountCreationConditionsViewModel : public Observable {
  public:
    AccountCreationConditionsViewModel(bool isReadAndAgreedCheckboxChecked, std::function<void()> confirmed)
        : isReadAndAgreedCheckboxChecked_(isReadAndAgreedCheckboxChecked), confirmed_(std::move(confirmed)) {}

    // Observed.
    bool isReadAndAgreedCheckboxChecked() const { return isReadAndAgreedCheckboxChecked_; }
    void setReadAndAgreedCheckboxChecked(bool checked) {
        setObserved(isReadAndAgreedCheckboxChecked_, checked);
    }

    // "Confirm & continue": goes on while the box is ticked, and does nothing otherwise. The flow may replace
    // the page (and this model) in it.
    void confirm() {
        if (!isReadAndAgreedCheckboxChecked_ || !confirmed_)
            return;
        auto confirmed = confirmed_;
        confirmed();
    }

  private:
    bool isReadAndAgreedCheckboxChecked_;
    std::function<void()> confirmed_;
};
