#include "Quorvane/auth/PinInputView.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/qt/Localizable.h"

PinInputView::PinInputView(std::shared_ptr<PinInputViewModel> model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      field_(new QLineEdit),
      tries_(new QLabel),
      pinPad_(new QLabel),
      confirm_(new QPushButton(QString::fromStdString(L("Authenticate")))),
      cancel_(new QPushButton(QString::fromStdString(L("Cancel")))),
      retry_(new QPushButton(QString::fromStdString(L("Retry")))) {
    field_->setEchoMode(QLineEdit::Password);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(pinPad_);
    layout->addWidget(field_);
    layout->addWidget(tries_);
    layout->addWidget(confirm_);
    layout->addWidget(cancel_);
    layout->addWidget(retry_);
    if (model_->remainingPinTries) {
        const auto tries = *model_->remainingPinTries;
        tries_->setText(QString::fromStdString(tries >= 2
                                                   ? L("PIN is incorrect : %lld attempts remaining.", tries)
                                                   : L("PIN is incorrect : %lld attempt remaining.", tries)));
    }
    connect(field_, &QLineEdit::textEdited, this,
            [this](const QString& text) { model_->setPinValue(text.toStdString()); });
    auto submit = [this] {
        if (model_->canSubmit())
            model_->submit();
    };
    connect(field_, &QLineEdit::returnPressed, this, submit);
    connect(confirm_, &QPushButton::clicked, this, submit);
    connect(cancel_, &QPushButton::clicked, this, [this] { cancel(); });
    connect(retry_, &QPushButton::clicked, this, [this] {
        auto model = model_;
        model->stopTimers();
        if (model->retryRequested)
            model->retryRequested();
    });
    subscription_ = model_->subscribe([this] { render(); });
    focusTrigger_ = model_->focusTrigger();
    render();
}

void PinInputView::cancel() {
    if (!cancel_->isVisibleTo(this) || !cancel_->isEnabled())
        return;
    auto model = model_;
    model->stopTimers();
    if (model->cancelRequested)
        model->cancelRequested(false);
}

void PinInputView::render() {
    const bool keyboard = static_cast<bool>(model_->pinProvided);
    const auto state = model_->pinPadReaderState();
    field_->setVisible(keyboard);
    field_->setEnabled(!model_->hasSubmitted());
    tries_->setVisible(keyboard && model_->remainingPinTries);
    confirm_->setVisible(keyboard);
    confirm_->setEnabled(model_->canSubmit());
    cancel_->setVisible(keyboard || state == PinPadReaderState::errorOccuredThatCouldJustifyRetry);
    cancel_->setEnabled(!model_->hasSubmitted());
    retry_->setVisible(!keyboard && state == PinPadReaderState::errorOccuredThatCouldJustifyRetry);
    pinPad_->setVisible(!keyboard);
    pinPad_->setText(QString::fromStdString(
        state == PinPadReaderState::timeout ? L("The Pinpad reader is not responding.")
        : state == PinPadReaderState::waiting
            ? L("To stop this operation, you must cancel it on your Pinpad reader.")
            : L("Pinpad reader operation failed or was cancelled. Please cancel or retry.")));
    if (model_->focusTrigger() != focusTrigger_) {
        focusTrigger_ = model_->focusTrigger();
        if (keyboard)
            field_->setFocus();
    }
}
