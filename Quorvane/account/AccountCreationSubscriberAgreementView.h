#pragma once
// The agreement page of the account creation (step 3 of 3): the subscriber agreement as the server sent it,
// page after page, and "Confirm", which disables itself and starts the agreement's signature. Bytes that are
// not a readable PDF leave the document area empty; "Confirm" still works.
#include <QWidget>
#include <memory>

#include "AccountCreationSubscriberAgreementViewModel.h"

class PDFKitView;
class StyledButton;

class AccountCreationSubscriberAgreementView : public QWidget {
  public:
    explicit AccountCreationSubscriberAgreementView(
        std::shared_ptr<AccountCreationSubscriberAgreementViewModel> model, QWidget* parent = nullptr);

    PDFKitView* pdfView() const { return pdfView_; }
    StyledButton* confirmButton() const { return confirmButton_; }

  private:
    void render();

    std::shared_ptr<AccountCreationSubscriberAgreementViewModel> model_;
    Observable::Subscription subscription_;
    PDFKitView* pdfView_;
    StyledButton* confirmButton_;
};
