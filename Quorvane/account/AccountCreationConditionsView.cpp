#include "AccountCreationConditionsView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "AccountWebPages.h"
#include "PageParts.h"
#include "Quorvane/shell/views/BulletView.h"
#include "Quorvane/shell/views/ContentDivider.h"
#include "Quorvane/shell/views/LinkLabel.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/Toggle.h"
#include "Quorvane/shell/views/ViewModifiers.h"
#include "platform/qt/Localizable.h"

namespace {

using accountviews::wrappingText;

QString qtext(const std::string& text) {
    return QString::fromStdString(text);
}

// A numbered sentence whose link words lead to a page.
QWidget* linkRow(const char* number, LinkLabel* link) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new BulletView(number), 0, Qt::AlignVCenter);
    layout->addSpacing(8);
    layout->addWidget(link, 1, Qt::AlignVCenter);
    return row;
}

QString linkText(const char* sentenceKey, const char* wordsKey, const std::string& url,
                 const QPalette& palette) {
    return LinkLabel::linkedText(qtext(L(sentenceKey)), {{qtext(L(wordsKey)), url}}, palette);
}

}  // namespace

std::string AccountCreationConditionsView::privacyNoticeURL() {
    return accountwebpages::documentURL("/docs/PrivacyStatement");
}

std::string AccountCreationConditionsView::termsAndConditionsURL() {
    return accountwebpages::documentURL("/docs/UserConditions");
}

AccountCreationConditionsView::AccountCreationConditionsView(
    std::shared_ptr<AccountCreationConditionsViewModel> model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      privacyLink_(new LinkLabel(QString())),
      termsLink_(new LinkLabel(QString())),
      checkbox_(
          new Toggle(qtext(L("I have read and agree with the privacy notice and terms & conditions.")))),
      confirmButton_(new StyledButton(accountviews::buttonTitle(L("Confirm & continue")),
                                      StyledButton::Style::borderedProminent,
                                      StyledButton::ControlSize::large)) {
    auto* consent = new QWidget;
    auto* consentLayout = new QVBoxLayout(consent);
    consentLayout->setContentsMargins(0, 0, 0, 0);
    consentLayout->setSpacing(12);
    consentLayout->addWidget(wrappingText(L("Read and agree"), FontStyle::title2, QFont::DemiBold));
    consentLayout->addWidget(linkRow("1", privacyLink_));
    consentLayout->addWidget(linkRow("2", termsLink_));
    consentLayout->addWidget(new ContentDivider);
    consentLayout->addWidget(wrappingText(
        L("Do you give the Signing service permission to retrieve your identity information from your "
          "eID for creating your signing certificate?"),
        FontStyle::body, QFont::DemiBold));
    consentLayout->addWidget(checkbox_);
    consentLayout->addWidget(confirmButton_, 0, Qt::AlignLeft);

    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(80, defaultPadding, 80, defaultPadding);
    layout->setSpacing(10);
    layout->addWidget(
        wrappingText(L("Step 1. Agree with the general terms and conditions"), FontStyle::title));
    layout->addWidget(wrappingText(
        L("In order to consult and use your personal information for creating a signing certificate, "
          "the Signing service needs your consent to retrieve this information from your eID card.")));
    layout->addWidget(roundedBorderStyle(consent));
    layout->addStretch(1);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(accountviews::verticallyScrolling(content));

    confirmButton_->setDefault(false);
    checkbox_->onToggled([this](bool checked) { model_->setReadAndAgreedCheckboxChecked(checked); });
    connect(confirmButton_, &QPushButton::clicked, this, [this] { model_->confirm(); });
    subscription_ = model_->subscribe([this] { render(); });
    render();
    renderLinks();
}

void AccountCreationConditionsView::renderLinks() {
    privacyLink_->setText(
        linkText("Read the privacy notice.", "privacy notice", privacyNoticeURL(), palette()));
    termsLink_->setText(linkText("Read the terms and conditions.", "terms and conditions",
                                 termsAndConditionsURL(), palette()));
}

void AccountCreationConditionsView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // The links take the palette's link colour.
    if (event->type() == QEvent::PaletteChange)
        renderLinks();
}

void AccountCreationConditionsView::render() {
    checkbox_->setChecked(model_->isReadAndAgreedCheckboxChecked());
    confirmButton_->setEnabled(model_->isReadAndAgreedCheckboxChecked());
}

void AccountCreationConditionsView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setFocusAsync(checkbox_);
}
