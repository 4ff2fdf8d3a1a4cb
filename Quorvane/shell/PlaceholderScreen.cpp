#include "PlaceholderScreen.h"

#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

#include "platform/qt/Localizable.h"

namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

std::string title(const AppOpenMode& mode) {
    return std::visit(
        Overloaded{
            [](const AppOpenMode::GetCertificate&) { return L("Retrieve remote sign certificate"); },
            [](const AppOpenMode::Sign&) { return L("Sign document"); },
            [](const AppOpenMode::Menu&) { return L("Quorvane"); },
            [](const AppOpenMode::AccountInfo&) { return L("Account info"); },
            [](const AppOpenMode::Settings&) { return L("Settings"); },
        },
        mode.value);
}

}  // namespace

PlaceholderScreen::PlaceholderScreen(const AppOpenMode& mode, QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->addStretch();
    auto* icon = new QLabel;
    icon->setPixmap(QIcon(":/images/AppIcon.svg").pixmap(96, 96));
    icon->setAlignment(Qt::AlignCenter);
    layout->addWidget(icon);
    auto* text = new QLabel(QString::fromStdString(title(mode)));
    text->setAlignment(Qt::AlignCenter);
    text->setWordWrap(true);
    QFont font = text->font();
    font.setPointSizeF(font.pointSizeF() * 1.6);
    font.setBold(true);
    text->setFont(font);
    layout->addWidget(text);
    layout->addStretch();
}
