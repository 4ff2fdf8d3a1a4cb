#include "BaseCardInformationView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ContentDivider.h"
#include "ImageView.h"
#include "Quorvane/core/QuorvaneAPI.h"
#include "Quorvane/core/SigningCertificateInfo.h"
#include "Quorvane/core/SigningSessionDatabaseClient.h"
#include "ViewModifiers.h"
#include "platform/qt/Localizable.h"

namespace {

QLabel* semibold(const QString& text) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    QFont font = label->font();
    font.setWeight(QFont::DemiBold);
    label->setFont(font);
    return label;
}

// An icon on a rounded tile of gray at half opacity, beside a title and a value.
QWidget* row(ImageView* icon, const char* titleKey, QLabel* value) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(icon, 0, Qt::AlignVCenter);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(0);
    texts->addWidget(semibold(QString::fromStdString(L(titleKey))));
    texts->addWidget(value);
    layout->addLayout(texts, 1);
    return row;
}

ImageView::Style tile(SymbolWeight weight, int padding) {
    ImageView::Style style;
    style.weight = weight;
    style.padding = padding;
    QColor gray(Qt::gray);
    gray.setAlphaF(0.5f);
    style.background = ViewColor::fixed(gray);
    style.backgroundCornerRadius = 5;
    return style;
}

QString trimmed(const std::string& text) {
    return QString::fromStdString(text).trimmed();
}

}  // namespace

BaseCardInformationView::BaseCardInformationView(
    SigningSessionContext context, QWidget* content,
    std::shared_ptr<SigningSessionDatabaseClient> signingSessionDatabase, QWidget* parent)
    : QWidget(parent),
      context_(std::move(context)),
      signingSessionDatabase_(std::move(signingSessionDatabase)),
      fullName_(semibold(QString())),
      nationalNumber_(semibold(QString())) {
    auto* panel = new QWidget;
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(
        row(new ImageView(ViewImage::symbol("person"), QSize(20, 20), tile(SymbolWeight::thin, 5)),
            "Full name", fullName_));
    auto* divider = new QVBoxLayout;
    divider->setContentsMargins(0, 0, 0, 3);
    divider->addWidget(new ContentDivider);
    layout->addLayout(divider);
    layout->addWidget(
        row(new ImageView(ViewImage::asset("eID"), QSize(24, 24), tile(SymbolWeight::regular, 3)),
            "National number", nationalNumber_));
    if (content)
        layout->addWidget(content);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(roundedBorderStyle(panel, QPalette::Base));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void BaseCardInformationView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
}

void BaseCardInformationView::refresh() {
    auto store = signingSessionDatabase_ ? signingSessionDatabase_ : _signingSessionDatabase.get();
    const auto session = store->activeSession(context_, false);
    const auto& card = context_.card();

    QString fullName = "?";
    if (session && session->firstName && session->lastName)
        fullName = QString::fromStdString(personNameText(trimmed(*session->firstName).toStdString(),
                                                         trimmed(*session->lastName).toStdString()));
    else if (card)
        fullName = QString::fromStdString(displayName(*card));

    QString nationalNumber = "?";
    if (session && session->nationalRegisterNumber)
        nationalNumber = QString::fromStdString(*session->nationalRegisterNumber);
    else if (card)
        nationalNumber = QString::fromStdString(card->nationalRegisterNumber());

    fullName_->setText(fullName);
    nationalNumber_->setText(nationalNumber);
}
