#pragma once
// The last page of the account creation: the subscriber agreement as the server sent it, and "Confirm", which
// starts the agreement's signature. "Confirm" works once per page model: the flow makes a new page, with the
// button enabled again, whenever the user may confirm again.
#include <functional>

#include "Quorvane/core/Observable.h"
#include "platform/Bytes.h"

class AccountCreationSubscriberAgreementViewModel : public Observable {
  public:
    AccountCreationSubscriberAgreementViewModel(bool signButtonDisabled, platform::Bytes pdfData,
                                                std::function<void()> confirmed)
        : pdfData(std::move(pdfData)),
          signButtonDisabled_(signButtonDisabled),
          confirmed_(std::move(confirmed)) {}

    // The document shown; not necessarily a readable PDF.
    const platform::Bytes pdfData;

    // Observed.
    bool signButtonDisabled() const { return signButtonDisabled_; }

    // "Confirm": disables itself first, then goes on; nothing once disabled.
    void confirm() {
        if (signButtonDisabled_)
            return;
        setObserved(signButtonDisabled_, true);
        if (auto confirmed = confirmed_)
            confirmed();
    }

  private:
    bool signButtonDisabled_;
    std::function<void()> confirmed_;
};
