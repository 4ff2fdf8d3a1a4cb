#pragma once
// The identity page of the account creation: the personal data that go into the signing certificate, which
// the user confirms with a checkbox before going on. The flow keeps one for its whole run, so the box stays
// as the user left it.
#include <functional>

#include "Quorvane/core/Observable.h"
#include "Quorvane/core/SigningSessionContext.h"

class AccountCreationIdentityValidationViewModel : public Observable {
  public:
    AccountCreationIdentityValidationViewModel(bool isConfirmCheckboxChecked, SigningSessionContext context,
                                               std::function<void()> confirmed)
        : isConfirmCheckboxChecked_(isConfirmCheckboxChecked),
          context_(std::move(context)),
          confirmed_(std::move(confirmed)) {}

    // Observed.
    bool isConfirmCheckboxChecked() const { return isConfirmCheckboxChecked_; }
    void setConfirmCheckboxChecked(bool checked) { setObserved(isConfirmCheckboxChecked_, checked); }
    // Whose data the page shows.
    const SigningSessionContext& context() const { return context_; }

    // "Confirm & continue": goes on while the box is ticked, and does nothing otherwise.
    void confirm() {
        if (!isConfirmCheckboxChecked_ || !confirmed_)
            return;
        auto confirmed = confirmed_;
        confirmed();
    }

  private:
    bool isConfirmCheckboxChecked_;
    const SigningSessionContext context_;
    std::function<void()> confirmed_;
};
