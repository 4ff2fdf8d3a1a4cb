#include "AccountDeletionView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "AccountWebPages.h"
#include "PageParts.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/ViewModifiers.h"
#include "platform/qt/Localizable.h"

namespace {

using accountviews::wrappingText;

QLabel* centred(QLabel* label) {
    label->setAlignment(Qt::AlignHCenter);
    return label;
}

// The choice's callback; the account screen replaces the sheet in it, so a copy is called.
void run(const std::function<void()>& callback) {
    if (auto copy = callback)
        copy();
}

}  // namespace

AccountDeletionView::AccountDeletionView(std::shared_ptr<AccountDeletionViewModel> model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      keepButton_(new StyledButton(QString::fromStdString(L("No, keep account")),
                                   StyledButton::Style::bordered, StyledButton::ControlSize::large)),
      deactivateButton_(new StyledButton(QString::fromStdString(L("Deactivate account")),
                                         StyledButton::Style::borderedProminent,
                                         StyledButton::ControlSize::large)) {
    QFont bold = keepButton_->font();
    bold.setBold(true);
    keepButton_->setFont(bold);
    deactivateButton_->setTint(ViewColor::asset("SystemRed"));
    // Return never deactivates by itself: it takes the focused button only.
    deactivateButton_->setDefault(false);
    deactivateButton_->setAutoDefault(true);

    auto* details = new QWidget;
    auto* detailsLayout = new QVBoxLayout(details);
    detailsLayout->setContentsMargins(0, 0, 0, 0);
    detailsLayout->setSpacing(10);
    detailsLayout->addWidget(wrappingText(L("This means:"), FontStyle::title2, QFont::DemiBold));
    detailsLayout->addWidget(
        wrappingText(L("• You can no longer use this account and signing certificate for signing.")));
    detailsLayout->addWidget(
        wrappingText(L("• Your user account will be deactivated and archived. It is not possible to "
                       "reactivate this account.")));
    detailsLayout->addWidget(wrappingText(L("• Your personal data and logs will be archived.")));
    detailsLayout->addWidget(wrappingText(L("Are you sure?"), FontStyle::title2));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(keepButton_);
    buttons->addWidget(deactivateButton_);
    buttons->addStretch(1);
    detailsLayout->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
    layout->setSpacing(10);
    layout->addWidget(
        centred(wrappingText(L("Are you sure you want to deactivate your account and certificate?"),
                             FontStyle::largeTitle, QFont::DemiBold)));
    layout->addWidget(
        centred(wrappingText(L("When you deactivate your account, the current session will be terminated. "
                               "You will no longer be able to "
                               "sign documents using %@.",
                               accountwebpages::signingPortalDomain))));
    layout->addWidget(roundedBorderStyle(details));

    connect(keepButton_, &QPushButton::clicked, this, [this] { cancel(); });
    connect(deactivateButton_, &QPushButton::clicked, this, [this] { run(model_->confirmed); });
}

void AccountDeletionView::cancel() {
    run(model_->cancelled);
}

void AccountDeletionView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The safe choice has the keyboard focus.
    setFocusAsync(keepButton_);
}
