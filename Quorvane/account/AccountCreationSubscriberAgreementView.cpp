#include "AccountCreationSubscriberAgreementView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "PageParts.h"
#include "Quorvane/shell/views/PDFKitView.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/ViewModifiers.h"
#include "platform/qt/Localizable.h"

AccountCreationSubscriberAgreementView::AccountCreationSubscriberAgreementView(
    std::shared_ptr<AccountCreationSubscriberAgreementViewModel> model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      pdfView_(new PDFKitView(PDFKitView::documentFromData(QByteArray(
          reinterpret_cast<const char*>(model_->pdfData.data()), qsizetype(model_->pdfData.size()))))),
      confirmButton_(new StyledButton(QString::fromStdString(L("Confirm")),
                                      StyledButton::Style::borderedProminent,
                                      StyledButton::ControlSize::large)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
    layout->setSpacing(10);
    layout->addWidget(
        accountviews::wrappingText(L("Step 3. Finalize the creation of this certificate"), FontStyle::title));
    layout->addWidget(pdfView_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(confirmButton_);
    layout->addLayout(buttons);

    // The document keeps the keyboard focus (its pages scroll with the keys): Return does not confirm.
    confirmButton_->setDefault(false);
    connect(confirmButton_, &QPushButton::clicked, this, [this] { model_->confirm(); });
    subscription_ = model_->subscribe([this] { render(); });
    render();
}

void AccountCreationSubscriberAgreementView::render() {
    confirmButton_->setEnabled(!model_->signButtonDisabled());
}
