#include "PinInputView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <cmath>

#include "ColoredLabel.h"
#include "PinDialogTexts.h"
#include "Quorvane/shell/views/FontStyle.h"
#include "Quorvane/shell/views/ImageView.h"
#include "Quorvane/shell/views/RemainingTimeClockView.h"
#include "Quorvane/shell/views/Sheet.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/ViewModifiers.h"
#include "ShakeEffect.h"
#include "platform/qt/Localizable.h"

namespace {

constexpr double travelDistance = 6;
constexpr double shakesPerUnit = 5;
constexpr int fieldWidth = 300;

QString qtext(const std::string& text) {
    return QString::fromStdString(text);
}

QLabel* label(const QString& text, FontStyle style = FontStyle::body, QFont::Weight weight = QFont::Normal) {
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    applyFontStyle(label, style, weight);
    return label;
}

QVBoxLayout* column(QWidget* host, int spacing) {
    auto* layout = new QVBoxLayout(host);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

}  // namespace

PinInputView::PinInputView(std::shared_ptr<PinInputViewModel> model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      title_(label(qtext(pinDialogTitle(model_->reason)), FontStyle::title)),
      formHost_(new QWidget),
      shake_(new QVariantAnimation(this)),
      shownErrorFeedback_(model_->showVisualErrorFeedback()),
      shownFocusTrigger_(model_->focusTrigger()) {
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
    outer->setSpacing(20);
    auto* picture = new ImageView(ViewImage::asset("Pindle"), QSize(64, 64), {});
    picture->setAccessibleName(QString::fromStdString(L("eID card reader")));
    outer->addWidget(picture, 0, Qt::AlignTop);

    auto* content = new QWidget;
    auto* contentLayout = column(content, 10);
    contentLayout->addWidget(title_);
    column(formHost_, 0);
    contentLayout->addWidget(formHost_);
    contentLayout->addStretch(1);
    outer->addWidget(content, 1);

    shake_->setDuration(shakeMilliseconds);
    shake_->setEasingCurve(QEasingCurve::InOutQuad);
    // The field moves from where the layout put it and goes back there; the layout is not involved.
    connect(shake_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        if (!field_)
            return;
        const ShakeEffect effect{travelDistance, shakesPerUnit, value.toDouble()};
        const int offset = static_cast<int>(std::lround(effect.offset()));
        field_->move(field_->x() - shakeOffset_ + offset, field_->y());
        shakeOffset_ = offset;
    });
    connect(shake_, &QVariantAnimation::finished, this, [this] {
        if (field_ && shakeOffset_ != 0)
            field_->move(field_->x() - shakeOffset_, field_->y());
        shakeOffset_ = 0;
    });

    formKind_ = currentForm();
    buildForm();
    render();
    subscription_ = model_->subscribe([this] { render(); });
}

Sheet* PinInputView::makeSheet(QWidget* owner) {
    return new Sheet(this, owner, [this] { cancel(); });
}

PinInputView::Form PinInputView::currentForm() const {
    if (model_->isKeyboardEntry())
        return Form::keyboard;
    switch (model_->pinPadReaderState()) {
        case PinPadReaderState::waiting:
            return Form::pinpadWaiting;
        case PinPadReaderState::timeout:
            return Form::pinpadTimeout;
        case PinPadReaderState::errorOccuredThatCouldJustifyRetry:
            return Form::pinpadError;
    }
    return Form::pinpadWaiting;
}

void PinInputView::buildForm() {
    if (form_) {
        // Out of sight at once; deleted once the event that replaced it is over.
        form_->hide();
        formHost_->layout()->removeWidget(form_);
        form_->deleteLater();
    }
    subtitle_ = nullptr;
    field_ = nullptr;
    shake_->stop();
    shakeOffset_ = 0;
    confirm_ = cancel_ = retry_ = nullptr;
    progress_ = nullptr;
    wrongPin_ = nullptr;
    clock_ = nullptr;
    time_ = nullptr;
    switch (formKind_) {
        case Form::keyboard:
            form_ = makeKeyboardForm();
            break;
        case Form::pinpadWaiting:
            form_ = makePinpadWaitingForm();
            break;
        case Form::pinpadTimeout:
            form_ = makePinpadTimeoutForm();
            break;
        case Form::pinpadError:
            form_ = makePinpadErrorForm();
            break;
    }
    formHost_->layout()->addWidget(form_);
}

QWidget* PinInputView::makeCountdown() {
    clock_ = new RemainingTimeClockView(PinInputViewModel::totalTimeInSeconds, model_->secondsRemaining());
    clock_->setFixedSize(20, 20);
    time_ = label({}, FontStyle::body, QFont::DemiBold);
    time_->setWordWrap(false);
    time_->setMinimumWidth(40);
    return clock_;
}

QWidget* PinInputView::makeKeyboardForm() {
    auto* form = new QWidget;
    auto* layout = column(form, 10);
    subtitle_ = label(qtext(pinDialogSubtitle(model_->reason)), FontStyle::title3);
    layout->addWidget(subtitle_);

    auto* box = new QWidget;
    auto* boxLayout = column(box, 6);
    boxLayout->addWidget(label(qtext(L("eID PIN")), FontStyle::title2));

    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    field_ = new QLineEdit;
    field_->setEchoMode(QLineEdit::Password);
    field_->setFixedWidth(fieldWidth);
    field_->setAccessibleName(qtext(L("eID PIN")));
    field_->installEventFilter(this);
    connect(field_, &QLineEdit::textEdited, this,
            [this](const QString& text) { model_->setPinValue(text.toStdString()); });
    row->addWidget(field_);
    row->addSpacing(5);
    row->addWidget(makeCountdown());
    row->addWidget(time_);
    row->addStretch(1);
    boxLayout->addLayout(row);

    if (auto tries = model_->remainingPinTries) {
        const char* key = *tries >= 2 ? "PIN is incorrect : %lld attempts remaining."
                                      : "PIN is incorrect : %lld attempt remaining.";
        wrongPin_ = new ColoredLabel(
            qtext(L(key, *tries)), [](const QPalette& palette) { return colorAsset("SystemRed", palette); });
        boxLayout->addWidget(wrongPin_);
    }
    boxLayout->addWidget(
        new ColoredLabel(qtext(L("Format: Between 4 and 12 digits")), ColoredLabel::secondary));

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 10, 0, 0);
    confirm_ = new StyledButton(qtext(pinDialogButtonTitle(model_->reason)),
                                StyledButton::Style::borderedProminent, StyledButton::ControlSize::large);
    cancel_ =
        new StyledButton(qtext(L("Cancel")), StyledButton::Style::bordered, StyledButton::ControlSize::large);
    progress_ = new QProgressBar;
    progress_->setRange(0, 0);
    progress_->setTextVisible(false);
    progress_->setFixedWidth(progress_->fontMetrics().averageCharWidth() * 8);
    progress_->setAccessibleName(qtext(L("Checking the PIN")));
    buttons->addWidget(confirm_);
    buttons->addWidget(cancel_);
    buttons->addWidget(progress_);
    buttons->addStretch(1);
    boxLayout->addLayout(buttons);
    connect(confirm_, &QPushButton::clicked, this, [this] { submitIfAllowed(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { cancel(); });

    layout->addWidget(roundedBorderStyle(box, QPalette::Base));
    setTabOrder(field_, confirm_);
    setTabOrder(confirm_, cancel_);
    return form;
}

QWidget* PinInputView::makePinpadWaitingForm() {
    auto* form = new QWidget;
    auto* layout = column(form, 10);
    subtitle_ = label(qtext(pinDialogSubtitle(model_->reason)), FontStyle::title3);
    layout->addWidget(subtitle_);
    layout->addWidget(label(qtext(L("To stop this operation, you must cancel it on your Pinpad reader."))));
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 5, 0, 0);
    row->setSpacing(10);
    row->addWidget(makeCountdown());
    row->addWidget(time_);
    row->addStretch(1);
    layout->addLayout(row);
    return form;
}

QWidget* PinInputView::makePinpadTimeoutForm() {
    auto* form = new QWidget;
    auto* layout = column(form, 10);
    layout->addWidget(label(qtext(L("The Pinpad reader is not responding.")), FontStyle::title2));
    layout->addWidget(label(
        qtext(L("You must cancel the operation directly on your Pinpad reader (or remove your card)."))));
    return form;
}

QWidget* PinInputView::makePinpadErrorForm() {
    auto* form = new QWidget;
    auto* layout = column(form, 10);
    layout->addWidget(
        label(qtext(L("Pinpad reader operation failed or was cancelled. Please cancel or retry.")),
              FontStyle::title2));
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 10, 0, 0);
    retry_ = new StyledButton(qtext(L("Retry")), StyledButton::Style::borderedProminent,
                              StyledButton::ControlSize::large);
    cancel_ =
        new StyledButton(qtext(L("Cancel")), StyledButton::Style::bordered, StyledButton::ControlSize::large);
    buttons->addWidget(retry_);
    buttons->addWidget(cancel_);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    connect(retry_, &QPushButton::clicked, this, [this] { retry(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { cancel(); });
    return form;
}

void PinInputView::render() {
    if (currentForm() != formKind_) {
        formKind_ = currentForm();
        buildForm();
    }
    const auto& model = *model_;
    if (clock_) {
        clock_->setTime(PinInputViewModel::totalTimeInSeconds, model.secondsRemaining());
        time_->setText(qtext(model.remainingTimeText()));
    }
    if (field_) {
        if (field_->text().toStdString() != model.pinValue())
            field_->setText(qtext(model.pinValue()));
        field_->setEnabled(!model.hasSubmitted());
        confirm_->setEnabled(model.canSubmit() && !ended_);
        cancel_->setEnabled(!model.hasSubmitted() && !ended_);
        progress_->setVisible(model.hasSubmitted());
    } else if (retry_) {
        retry_->setEnabled(!ended_);
        cancel_->setEnabled(!ended_);
    }

    if (model.focusTrigger() != shownFocusTrigger_) {
        shownFocusTrigger_ = model.focusTrigger();
        focusField();
    }
    if (model.showVisualErrorFeedback() != shownErrorFeedback_) {
        shake_->stop();
        shake_->setStartValue(shownErrorFeedback_);
        shake_->setEndValue(model.showVisualErrorFeedback());
        shownErrorFeedback_ = model.showVisualErrorFeedback();
        shake_->start();
    }
}

void PinInputView::focusField() {
    if (!field_)
        return;
    if (isVisible())
        setFocusAsync(field_);
    else
        focusPending_ = true;
}

void PinInputView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (focusPending_) {
        focusPending_ = false;
        focusField();
    }
}

bool PinInputView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            // Handled here whatever the PIN: a dialog must not pass Return on to another button.
            submitIfAllowed();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void PinInputView::submitIfAllowed() {
    if (ended_ || !model_->canSubmit())
        return;
    // The owner may replace the sheet from inside: keep the model for the call.
    auto model = model_;
    model->submit();
}

bool PinInputView::canCancel() const {
    if (ended_)
        return false;
    switch (formKind_) {
        case Form::keyboard:
            return !model_->hasSubmitted();
        case Form::pinpadError:
            return true;
        case Form::pinpadWaiting:
        case Form::pinpadTimeout:
            return false;
    }
    return false;
}

void PinInputView::cancel() {
    if (!canCancel())
        return;
    ended_ = true;
    auto model = model_;
    model->stopTimers();
    render();
    if (model->cancelRequested)
        model->cancelRequested(false);
}

void PinInputView::retry() {
    if (ended_ || formKind_ != Form::pinpadError)
        return;
    auto model = model_;
    model->stopTimers();
    if (model->retryRequested)
        model->retryRequested();
}
