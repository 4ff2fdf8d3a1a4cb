#include "MenuView.h"

#include <QVBoxLayout>

#include "MenuButtonView.h"
#include "ViewModifiers.h"
#include "platform/qt/Localizable.h"

namespace {

MenuButtonView* menuButton(ViewImage icon, SymbolWeight weight, const char* titleKey) {
    return new MenuButtonView(
        std::move(icon), weight, ViewColor::role(QPalette::Text), ViewColor::asset("WalletButtonBackground"),
        AttributedText::plain(QString::fromStdString(L(titleKey))), ViewColor::role(QPalette::Base));
}

}  // namespace

MenuView::MenuView(std::shared_ptr<MenuViewModel> model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      retrieveButton_(
          menuButton(ViewImage::asset("eID"), SymbolWeight::regular, "Retrieve remote sign certificate")),
      accountInfoButton_(menuButton(ViewImage::symbol("person"), SymbolWeight::ultraLight, "Account info")),
      settingsButton_(menuButton(ViewImage::symbol("gearshape"), SymbolWeight::ultraLight, "Settings")) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, defaultPadding, 40, defaultPadding);
    layout->setSpacing(30);
    layout->addStretch(1);
    layout->addWidget(retrieveButton_);
    layout->addWidget(accountInfoButton_);
    layout->addWidget(settingsButton_);
    layout->addStretch(1);

    auto select = [this](AppOpenMode mode) {
        // The choice replaces this screen: call a copy, it may destroy the model's owner.
        auto selected = model_->menuItemSelected;
        if (selected)
            selected(std::move(mode));
    };
    connect(retrieveButton_, &QAbstractButton::clicked, this,
            [select] { select(AppOpenMode::getCertificate(true)); });
    connect(accountInfoButton_, &QAbstractButton::clicked, this,
            [select] { select(AppOpenMode::accountInfo()); });
    connect(settingsButton_, &QAbstractButton::clicked, this, [select] { select(AppOpenMode::settings()); });
}

void MenuView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setFocusAsync(retrieveButton_);
}
