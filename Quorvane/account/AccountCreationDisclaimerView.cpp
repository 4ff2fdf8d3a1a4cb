#include "AccountCreationDisclaimerView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "PageParts.h"
#include "Quorvane/shell/views/BulletView.h"
#include "Quorvane/shell/views/ContentDivider.h"
#include "Quorvane/shell/views/ImageView.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/ViewModifiers.h"
#include "platform/qt/Localizable.h"

namespace {

using accountviews::wrappingText;

// A numbered step: its bullet, then its title (semibold) over its description.
QWidget* stepRow(const char* number, const std::string& title, const std::string& description) {
    auto* texts = new QVBoxLayout;
    texts->setSpacing(5);
    texts->setContentsMargins(5, 4, 0, 0);
    texts->addWidget(wrappingText(title, FontStyle::body, QFont::DemiBold));
    texts->addWidget(wrappingText(description));

    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new BulletView(number), 0, Qt::AlignTop);
    layout->addLayout(texts, 1);
    return row;
}

// Calls the model's callback, if any; the flow may replace the page in it, so a copy is called.
void run(const std::function<void()>& callback) {
    if (auto copy = callback)
        copy();
}

}  // namespace

AccountCreationDisclaimerView::AccountCreationDisclaimerView(
    std::shared_ptr<AccountCreationDisclaimerViewModel> model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      activateButton_(new StyledButton(QString::fromStdString(L("Create signing certificate")),
                                       StyledButton::Style::borderedProminent,
                                       StyledButton::ControlSize::large)),
      cancelButton_(new StyledButton(QString::fromStdString(L("Cancel")), StyledButton::Style::bordered,
                                     StyledButton::ControlSize::large)) {
    auto* steps = new QWidget;
    auto* stepsLayout = new QVBoxLayout(steps);
    stepsLayout->setContentsMargins(0, 0, 0, 0);
    stepsLayout->setSpacing(12);
    stepsLayout->addWidget(stepRow("1", L("Agree with the general terms and conditions"),
                                   L("accountCreationDisclaimerTermsStep")));
    stepsLayout->addWidget(new ContentDivider);
    stepsLayout->addWidget(
        stepRow("2", L("Confirm your personal info"),
                L("Review and confirm your personal information used for your remote signing certificate.")));
    stepsLayout->addWidget(new ContentDivider);
    stepsLayout->addWidget(stepRow(
        "3", L("Sign the user agreement"),
        L("Sign the user agreement and confirm that a remote signing certificate may be created for you.")));
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 8, 0, 0);
    buttons->addWidget(activateButton_);
    buttons->addWidget(cancelButton_);
    buttons->addStretch(1);
    stepsLayout->addLayout(buttons);
    auto* box = new RoundedBorderBox(steps);
    QColor outline(Qt::gray);
    outline.setAlphaF(0.5f);
    box->setOutlineColor(outline);

    auto* paragraph = wrappingText(L("Before you can start signing documents, we first need to create your "
                                     "signing certificate, to enable "
                                     "you to use our service."),
                                   FontStyle::title3);

    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
    layout->addStretch(1);
    layout->addWidget(new ImageView(ViewImage::asset("AccountCreation"), QSize(124, 124), {}), 0,
                      Qt::AlignHCenter);
    auto* title = wrappingText(L("Create your signing certificate"), FontStyle::largeTitle);
    title->setAlignment(Qt::AlignHCenter);
    layout->addWidget(title);
    layout->addSpacing(5);
    layout->addWidget(paragraph);
    layout->addWidget(box);
    layout->addStretch(1);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(accountviews::verticallyScrolling(content));

    // Return belongs to the focused button, not to a default one.
    activateButton_->setDefault(false);
    connect(activateButton_, &QPushButton::clicked, this, [this] { run(model_->continueRequested); });
    connect(cancelButton_, &QPushButton::clicked, this, [this] { run(model_->cancelRequested); });
}

void AccountCreationDisclaimerView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setFocusAsync(activateButton_);
}
