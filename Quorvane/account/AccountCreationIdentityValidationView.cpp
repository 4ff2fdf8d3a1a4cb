#include "AccountCreationIdentityValidationView.h"

#include <QLabel>
#include <QVBoxLayout>

#include "PageParts.h"
#include "Quorvane/shell/views/BaseCardInformationView.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/Toggle.h"
#include "Quorvane/shell/views/ViewModifiers.h"
#include "platform/qt/Localizable.h"

using accountviews::wrappingText;

AccountCreationIdentityValidationView::AccountCreationIdentityValidationView(
    std::shared_ptr<AccountCreationIdentityValidationViewModel> model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      confirmToggle_(new Toggle(QString::fromStdString(
          L("I have reviewed the personal information and confirm that this information is correct.")))),
      confirmButton_(new StyledButton(accountviews::buttonTitle(L("Confirm & continue")),
                                      StyledButton::Style::borderedProminent,
                                      StyledButton::ControlSize::large)) {
    auto* confirmation = new QWidget;
    auto* confirmationLayout = new QVBoxLayout(confirmation);
    confirmationLayout->setContentsMargins(0, 6, 0, 0);
    confirmationLayout->setSpacing(6);
    confirmationLayout->addWidget(confirmToggle_);
    confirmationLayout->addWidget(confirmButton_, 0, Qt::AlignLeft);
    cardInformation_ = new BaseCardInformationView(model_->context(), confirmation);

    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(80, defaultPadding, 80, defaultPadding);
    layout->setSpacing(10);
    layout->addWidget(wrappingText(L("Step 2. Confirm your identity information"), FontStyle::title));
    layout->addWidget(
        wrappingText(L("The following personal information will be used to create a signing certificate.")));
    layout->addWidget(cardInformation_);
    layout->addStretch(1);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(accountviews::verticallyScrolling(content));

    confirmButton_->setDefault(false);
    confirmToggle_->onToggled([this](bool checked) { model_->setConfirmCheckboxChecked(checked); });
    connect(confirmButton_, &QPushButton::clicked, this, [this] { model_->confirm(); });
    subscription_ = model_->subscribe([this] { render(); });
    render();
}

void AccountCreationIdentityValidationView::render() {
    confirmToggle_->setChecked(model_->isConfirmCheckboxChecked());
    confirmButton_->setEnabled(model_->isConfirmCheckboxChecked());
}

void AccountCreationIdentityValidationView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setFocusAsync(confirmToggle_);
}
