#include "AccountInfoView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "AccountDeletionView.h"
#include "PageParts.h"
#include "Quorvane/shell/views/BaseCardInformationView.h"
#include "Quorvane/shell/views/ContentDivider.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/shell/views/SigningCertificateInfoView.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/ViewModifiers.h"
#include "platform/qt/Localizable.h"

namespace {

using accountviews::wrappingText;

QString qtext(const std::string& text) {
    return QString::fromStdString(text);
}

// A band painted in the text background, from edge to edge.
class Band : public QWidget {
  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::Base));
    }
};

QByteArray byteArray(const platform::Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

// Messages and the confirmation wrap at these widths rather than stretch the sheet.
constexpr int messageSheetWidth = 460;
constexpr int confirmationSheetWidth = 560;

}  // namespace

AccountInfoView::AccountInfoView(std::shared_ptr<AccountInfoViewModel> model, SaveDialog saveDialog,
                                 QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      saveDialog_(saveDialog ? std::move(saveDialog)
                             : SaveDialog([](QWidget* parent, const PDFFile& file, const QString& name,
                                             std::function<void(PDFFile::ExportResult)> completion) {
                                   file.exportWithSaveDialog(parent, name, std::move(completion));
                               })),
      deactivateButton_(new StyledButton(qtext(L("Deactivate certificate")),
                                         StyledButton::Style::borderedProminent,
                                         StyledButton::ControlSize::large)),
      certificateArea_(new QVBoxLayout),
      subscriberAgreementButton_(new QPushButton(qtext(L("Subscriber agreement")))),
      doneButton_(new StyledButton(qtext(L("Done")), StyledButton::Style::borderedProminent,
                                   StyledButton::ControlSize::large)) {
    deactivateButton_->setTint(ViewColor::asset("SystemRed"));
    deactivateButton_->setDefault(false);

    // The header band.
    auto* header = new Band;
    auto* headerLayout = new QHBoxLayout(header);
    headerLayout->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
    auto* headerTexts = new QVBoxLayout;
    headerTexts->addWidget(wrappingText(L("User account"), FontStyle::title2, QFont::DemiBold));
    headerTexts->addWidget(
        wrappingText(L("You can find a summary of all the information linked to your user account.")));
    headerLayout->addLayout(headerTexts, 1);
    headerLayout->addWidget(deactivateButton_, 0, Qt::AlignTop);

    // The body.
    subscriberAgreementButton_->setFlat(true);
    subscriberAgreementButton_->setCursor(Qt::PointingHandCursor);
    subscriberAgreementButton_->setAutoDefault(false);
    styleLink();
    auto* legal = new QWidget;
    auto* legalLayout = new QHBoxLayout(legal);
    legalLayout->setContentsMargins(0, 0, 0, 0);
    legalLayout->addWidget(subscriberAgreementButton_);
    legalLayout->addStretch(1);

    certificateArea_->setContentsMargins(0, 0, 0, 0);
    auto* content = new QWidget;
    auto* body = new QVBoxLayout(content);
    body->setContentsMargins(40, defaultPadding, 40, 0);
    body->addStretch(1);
    body->addWidget(wrappingText(L("Personal information"), FontStyle::title2, QFont::DemiBold));
    body->addWidget(wrappingText(L("Here you can find information about your identity")));
    body->addWidget(new BaseCardInformationView(model_->context()));
    body->addWidget(wrappingText(L("My signing certificate"), FontStyle::title2, QFont::DemiBold));
    body->addLayout(certificateArea_);
    body->addWidget(wrappingText(L("Legal notices"), FontStyle::title2, QFont::DemiBold));
    body->addWidget(roundedBorderStyle(legal));
    body->addStretch(1);

    auto* doneRow = new QHBoxLayout;
    doneRow->setContentsMargins(40, 6, 40, defaultPadding);
    doneRow->addStretch(1);
    doneRow->addWidget(doneButton_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header);
    layout->addWidget(new ContentDivider);
    layout->addWidget(accountviews::verticallyScrolling(content), 1);
    layout->addLayout(doneRow);

    connect(deactivateButton_, &QPushButton::clicked, this, [this] { model_->askDeletionConfirmation(); });
    connect(subscriberAgreementButton_, &QPushButton::clicked, this,
            [this] { model_->downloadSignedAgreement(); });
    connect(doneButton_, &QPushButton::clicked, this, [this] { model_->done(); });

    subscription_ = model_->subscribe([this] { render(); });
    render();

    sheetPresenter_ = SheetPresenter::modalSheet<AccountInfoModalState>(
        this, model_->modalSheetState(),
        [this](const AccountInfoModalState& state) { return sheetContent(state); });
}

void AccountInfoView::render() {
    renderCertificate();
    offerSignedAgreement();
}

void AccountInfoView::renderCertificate() {
    // The token may have changed with any change of the model (a retrieval that ended): read it afresh.
    auto info = model_->signingCertificateInfo();
    if (certificateSection_ && shownCertificate_ == info)
        return;
    shownCertificate_ = info;
    if (certificateSection_) {
        certificateArea_->removeWidget(certificateSection_);
        certificateSection_->hide();
        certificateSection_->deleteLater();
    }
    retrieveButton_ = nullptr;
    certificateView_ = nullptr;
    certificateSection_ = new QWidget;
    auto* section = new QVBoxLayout(certificateSection_);
    section->setContentsMargins(0, 0, 0, 0);
    if (info) {
        section->addWidget(wrappingText(L("This certificate is available for digital signature")));
        certificateView_ = new SigningCertificateInfoView(*info);
        section->addWidget(certificateView_);
    } else {
        section->addWidget(wrappingText(L("You don't have a valid certificate")));
        retrieveButton_ =
            new StyledButton(qtext(L("Retrieve remote sign certificate")),
                             StyledButton::Style::borderedProminent, StyledButton::ControlSize::large);
        retrieveButton_->setDefault(false);
        connect(retrieveButton_, &QPushButton::clicked, this, [this] { model_->retrieveCertificate(); });
        section->addWidget(retrieveButton_, 0, Qt::AlignLeft);
    }
    certificateArea_->addWidget(certificateSection_);
}

void AccountInfoView::offerSignedAgreement() {
    const auto& data = model_->signedAgreementFileData();
    if (!data || saveDialogShown_)
        return;
    saveDialogShown_ = true;
    // The dialog outlives neither the screen nor its model's interest: the completion checks both.
    QPointer<AccountInfoView> view(this);
    std::weak_ptr<AccountInfoViewModel> weak = model_;
    saveDialog_(this, PDFFile{byteArray(*data)}, qtext(AccountInfoViewModel::signedAgreementFileName),
                [view, weak](PDFFile::ExportResult result) {
                    if (view)
                        view->saveDialogShown_ = false;
                    auto model = weak.lock();
                    if (!model)
                        return;
                    std::optional<std::string> failure;
                    if (result.outcome == PDFFile::ExportResult::Outcome::failed)
                        failure = (result.path + ": " + result.error).toStdString();
                    model->signedAgreementExportEnded(std::move(failure));
                });
}

SheetPresenter::Content AccountInfoView::sheetContent(const AccountInfoModalState& state) {
    SheetPresenter::Content content;
    if (state.as<AccountInfoModalState::AskingDeletionConfirmation>()) {
        auto* confirmation = new AccountDeletionView(model_->makeDeletionViewModel());
        content.widget = confirmation;
        // Wide enough for its two buttons side by side, however large the font.
        content.width = std::max(confirmationSheetWidth, confirmation->minimumSizeHint().width());
        content.cancel = [confirmation = QPointer<AccountDeletionView>(confirmation)] {
            if (confirmation)
                confirmation->cancel();
        };
        return content;
    }
    if (state.as<AccountInfoModalState::CertificateRetrieval>()) {
        content.widget = new CertificateRetrievalView(model_->makeCertificateRetrievalViewModel());
        content.width = messageSheetWidth;
        return content;
    }
    auto info = model_->makeInfoViewModel(state);
    content.widget = new InfoView(info);
    content.width = messageSheetWidth;
    // Esc takes a message's OK; a server call in progress cannot be closed.
    if (info->confirmed)
        content.cancel = [confirmed = info->confirmed] { confirmed(); };
    return content;
}

void AccountInfoView::styleLink() {
    QFont font = subscriberAgreementButton_->font();
    font.setUnderline(true);
    subscriberAgreementButton_->setFont(font);
    QPalette colors = subscriberAgreementButton_->palette();
    colors.setColor(QPalette::ButtonText, palette().color(QPalette::Link));
    subscriberAgreementButton_->setPalette(colors);
}

void AccountInfoView::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        styleLink();
}

void AccountInfoView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setFocusAsync(doneButton_);
}
