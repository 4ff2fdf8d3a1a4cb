#include "CertificateRetrievalResultView.h"

#include <QLabel>
#include <QVBoxLayout>

#include "Quorvane/shell/views/FontStyle.h"
#include "Quorvane/shell/views/SigningCertificateInfoView.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/ViewModifiers.h"
#include "platform/qt/Localizable.h"

namespace {

QLabel* wrapping(const std::string& text) {
    auto* label = new QLabel(QString::fromStdString(text));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

}  // namespace

CertificateRetrievalResultView::CertificateRetrievalResultView(
    std::shared_ptr<CertificateRetrievalResultViewModel> model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      title_(wrapping(L("Your signing certificate"))),
      text_(wrapping(
          L("Here you'll find your active signing certificate that enables you to sign with your eID "
            "information."))),
      card_(new SigningCertificateInfoView(model_->signingCertificateInfo)),
      doneButton_(new StyledButton(QString::fromStdString(L("Done")), StyledButton::Style::borderedProminent,
                                   StyledButton::ControlSize::large)) {
    applyFontStyle(title_, FontStyle::title, QFont::DemiBold);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
    layout->setSpacing(8);
    layout->addWidget(title_);
    layout->addSpacing(10);
    layout->addWidget(text_);
    layout->addSpacing(6);
    layout->addWidget(card_);
    layout->addSpacing(8);
    layout->addWidget(doneButton_, 0, Qt::AlignLeft);
    layout->addStretch(1);

    connect(doneButton_, &QPushButton::clicked, this, [this] {
        // "Done" ends the retrieval, and the owner may remove this page: call a copy.
        auto completed = model_->completed;
        if (completed)
            completed();
    });
}

void CertificateRetrievalResultView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setFocusAsync(doneButton_);
}
