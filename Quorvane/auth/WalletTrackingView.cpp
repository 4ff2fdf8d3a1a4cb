#include "WalletTrackingView.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QTextLayout>
#include <QVBoxLayout>
#include <QtMath>
#include <algorithm>
#include <limits>

#include "PinDialogTexts.h"
#include "Quorvane/shell/views/Assets.h"
#include "Quorvane/shell/views/ContentDivider.h"
#include "Quorvane/shell/views/FontStyle.h"
#include "Quorvane/shell/views/ImageView.h"
#include "Quorvane/shell/views/RemainingTimeClockView.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/ViewModifiers.h"
#include "WalletSecurityCheckView.h"
#include "platform/qt/Localizable.h"

using Kind = WalletPollingState::Kind;

namespace {

constexpr int qrCodeWidth = 150;
constexpr int stateImageSize = 114;

QLabel* text(const std::string& content, FontStyle style, QFont::Weight weight = QFont::Normal) {
    auto* label = new QLabel(QString::fromStdString(content));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    applyFontStyle(label, style, weight);
    return label;
}

// The QR area: the code (faded once expired), the pending-confirmation picture, a progress indicator while
// waiting, or the check mark of a confirmed login.
class QrCodeArea : public QWidget {
  public:
    QrCodeArea() : state_(WalletPollingState::waiting()), progress_(new QProgressBar(this)) {
        setFixedSize(qrCodeWidth, qrCodeWidth);
        progress_->setRange(0, 0);
        progress_->setTextVisible(false);
        progress_->setFixedWidth(qrCodeWidth - 20);
        progress_->move((qrCodeWidth - progress_->width()) / 2,
                        (qrCodeWidth - progress_->sizeHint().height()) / 2);
        progress_->setAccessibleName(QString::fromStdString(state_.title()));
    }

    void setState(const WalletPollingState& state) {
        if (state.kind() == state_.kind() && state.qrCodeImage() == state_.qrCodeImage())
            return;
        state_ = state;
        progress_->setVisible(state_.kind() == Kind::waiting);
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QColor foreground = palette().color(QPalette::WindowText);
        switch (state_.kind()) {
            case Kind::scanAllowed:
                drawQrCode(painter, 1.0, foreground);
                break;
            case Kind::scanExpired:
                drawQrCode(painter, 0.05, foreground);
                break;
            case Kind::walletPending:
                drawImage(painter, centred(stateImageSize), ViewImage::asset("WalletPending"), foreground);
                break;
            case Kind::success:
                drawImage(painter, centred(stateImageSize), ViewImage::symbol("checkmark.circle.fill"),
                          foreground);
                break;
            case Kind::waiting:
                break;
        }
    }

  private:
    QRectF centred(int side) const {
        return QRectF((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    }

    // The image 150 wide (fitted into the square area should it be taller than wide), rounded; without one, a
    // question mark 150 high.
    void drawQrCode(QPainter& painter, qreal opacity, const QColor& foreground) {
        painter.setOpacity(opacity);
        const auto& image = state_.qrCodeImage();
        if (!image) {
            drawImage(painter, QRectF(rect()), ViewImage::symbol("questionmark"), foreground);
            return;
        }
        QSizeF size = image->size();
        size.scale(QSizeF(qrCodeWidth, qrCodeWidth), Qt::KeepAspectRatio);
        const QRectF target(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size);
        QPainterPath clip;
        clip.addRoundedRect(target, 5, 5);
        painter.setClipPath(clip);
        painter.drawImage(target, *image);
    }

    WalletPollingState state_;
    QProgressBar* progress_;
};

}  // namespace

// The remaining-time line, which changes every second: unlike a label it asks for a new layout of the sheet
// only when it needs another height, and otherwise just repaints itself. Each text is shaped once, when it is
// laid out at the line's width; its height and its painting reuse that layout.
class WalletTrackingView::TimeText : public QWidget {
  public:
    TimeText() {
        setFont(styledFont(FontStyle::body, QFont::DemiBold));
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        QSizePolicy policy = sizePolicy();
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
        QTextOption option(Qt::AlignLeft);
        option.setWrapMode(QTextOption::WordWrap);
        layout_.setTextOption(option);
        layout_.setFont(font());
    }

    void setText(const QString& text) {
        if (text == layout_.text())
            return;
        const int height = heightForWidth(width());
        layout_.setText(text);
        laidOutWidth_ = -1;
        setAccessibleName(text);
        if (heightForWidth(width()) != height)
            updateGeometry();
        update();
    }

    QSize sizeHint() const override {
        return QSize(fontMetrics().horizontalAdvance(layout_.text()), fontMetrics().height());
    }
    QSize minimumSizeHint() const override {
        return QSize(fontMetrics().averageCharWidth() * 8, fontMetrics().height());
    }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override {
        const qreal textHeight = layOut(width);
        // One line, the usual case, is as high as the font's lines.
        return layout_.lineCount() == 1 ? fontMetrics().height() : qCeil(textHeight);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        const qreal textHeight = layOut(width());
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        layout_.draw(&painter, QPointF(0, (height() - textHeight) / 2));
    }

    void changeEvent(QEvent* event) override {
        QWidget::changeEvent(event);
        if (event->type() == QEvent::FontChange) {
            layout_.setFont(font());
            laidOutWidth_ = -1;
            updateGeometry();
        }
    }

  private:
    // Lays the text out in lines of `width` unless it already is; the height of its lines, spaced as painted
    // text's are.
    qreal layOut(int width) const {
        if (width == laidOutWidth_)
            return laidOutHeight_;
        const qreal leading = fontMetrics().leading();
        qreal y = -leading;
        layout_.beginLayout();
        for (QTextLine line = layout_.createLine(); line.isValid(); line = layout_.createLine()) {
            line.setLineWidth(std::max(width, 1));
            y = qCeil(y + leading);  // lines start on whole pixels
            line.setPosition(QPointF(0, y));
            y += line.ascent() + line.descent();
        }
        layout_.endLayout();
        laidOutWidth_ = width;
        laidOutHeight_ = y;
        return laidOutHeight_;
    }

    mutable QTextLayout layout_;
    mutable int laidOutWidth_ = -1;
    mutable qreal laidOutHeight_ = 0;
};

namespace {

int clockSeconds(std::int64_t seconds) {
    return static_cast<int>(
        std::clamp<std::int64_t>(seconds, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

}  // namespace

WalletTrackingView::WalletTrackingView(std::shared_ptr<WalletTrackingViewModel> model, QWidget* parent)
    : QWidget(parent), model_(std::move(model)) {
    setFixedWidth(sheetWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
    layout->setSpacing(0);
    warning_ = makeWarning();
    trackingContent_ = makeTrackingContent();
    layout->addWidget(warning_);
    layout->addWidget(trackingContent_);
    subscription_ = model_->subscribe([this] { render(); });
    render();
}

QWidget* WalletTrackingView::makeWarning() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(20);
    layout->addWidget(
        text(L("You will now be asked to authenticate again, as the assurance level used the first "
               "time wasn't high enough to create an account."),
             FontStyle::title2));
    continueButton_ =
        new StyledButton(QString::fromStdString(L("Continue")), StyledButton::Style::borderedProminent,
                         StyledButton::ControlSize::large);
    layout->addWidget(continueButton_, 0, Qt::AlignHCenter);
    connect(continueButton_, &QPushButton::clicked, this,
            [model = model_] { model->continueAfterAccountCreationWarning(); });
    return page;
}

QWidget* WalletTrackingView::makeTrackingContent() {
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(10, 0, 10, 0);
    header->setSpacing(8);
    // The style is made in place: a named one copied into the view makes GCC 12 under ThreadSanitizer warn
    // that its empty background may be read uninitialised.
    header->addWidget(new ImageView(ViewImage::asset("CivaroLogo"), QSize(32, 32), {.imageCornerRadius = 4}));
    header->addWidget(text(pinDialogTitle(model_->reason()), FontStyle::title), 1);
    layout->addLayout(header);

    auto* instruction = text(L("Open your Civaro app and scan the QR code to continue"), FontStyle::title2);
    instruction->setContentsMargins(10, 0, 10, 0);
    layout->addWidget(instruction);
    layout->addWidget(new ContentDivider);

    auto* row = new QHBoxLayout;
    row->setSpacing(defaultPadding);
    qrCodeArea_ = new QrCodeArea;
    row->addWidget(qrCodeArea_, 0, Qt::AlignTop);

    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    headline_ = text("", FontStyle::title3, QFont::DemiBold);
    headline_->setContentsMargins(0, 6, 0, 6);
    column->addWidget(headline_);

    auto* timeRow = new QHBoxLayout;
    timeRow->setSpacing(6);
    clock_ = new RemainingTimeClockView(300, 300);
    clock_->setFixedSize(20, 20);
    timeRow->addWidget(clock_);
    remainingTimeText_ = new TimeText;
    timeRow->addWidget(remainingTimeText_, 1);
    column->addLayout(timeRow);

    if (auto code = model_->verificationCode()) {
        std::vector<BulkSigningRequest::Document> documents;
        if (model_->reason().documents)
            documents = *model_->reason().documents;
        securityCheck_ = new WalletSecurityCheckView(*code, std::move(documents));
        column->addSpacing(6);
        column->addWidget(securityCheck_);
        column->addSpacing(6);
    }

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 6);
    refreshButton_ =
        new StyledButton(QString::fromStdString(L("Refresh the code")),
                         StyledButton::Style::borderedProminent, StyledButton::ControlSize::large);
    refreshOpacity_ = new QGraphicsOpacityEffect(refreshButton_);
    refreshButton_->setGraphicsEffect(refreshOpacity_);
    cancelButton_ = new StyledButton(QString::fromStdString(L("Cancel")), StyledButton::Style::bordered,
                                     StyledButton::ControlSize::large);
    buttons->addWidget(refreshButton_);
    buttons->addWidget(cancelButton_);
    buttons->addStretch(1);
    column->addStretch(1);
    column->addLayout(buttons);
    row->addLayout(column, 1);
    layout->addLayout(row);

    // Both may end the sheet and with it this view: the handlers hold the model.
    connect(refreshButton_, &QPushButton::clicked, this, [model = model_] { model->refreshQrCode(); });
    connect(cancelButton_, &QPushButton::clicked, this, [this] { cancel(); });
    return page;
}

void WalletTrackingView::render() {
    const bool warning = model_->shouldShowAccountCreationAuthenticationWarning();
    warning_->setVisible(warning);
    trackingContent_->setVisible(!warning);

    const WalletPollingState& state = model_->pollingState();
    static_cast<QrCodeArea*>(qrCodeArea_)->setState(state);
    headline_->setText(QString::fromStdString(state.title()));
    remainingTimeText_->setText(QString::fromStdString(state.remainingTimeText()));
    const bool timed = state.kind() == Kind::scanAllowed || state.kind() == Kind::walletPending;
    clock_->setVisible(timed);
    if (timed)
        clock_->setTime(state.kind() == Kind::scanAllowed ? 300 : 120, clockSeconds(state.remainingTime()));

    const bool refreshable = state.kind() == Kind::scanExpired;
    refreshButton_->setEnabled(refreshable);
    refreshOpacity_->setOpacity(refreshable ? 1.0 : 0.3);
    cancelButton_->setEnabled(state.kind() != Kind::success);
}

void WalletTrackingView::cancel() {
    // Once the login succeeded the sheet ends by itself; nothing cancels it then.
    if (model_->pollingState().kind() == Kind::success)
        return;
    // The flow may end the sheet, and this view, from inside the model's cancel.
    const auto model = model_;
    model->cancel();
}

QSize WalletTrackingView::minimumSizeHint() const {
    return QSize(sheetWidth, heightForWidth(sheetWidth));
}

void WalletTrackingView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (model_->shouldShowAccountCreationAuthenticationWarning())
        setFocusAsync(continueButton_);
}
