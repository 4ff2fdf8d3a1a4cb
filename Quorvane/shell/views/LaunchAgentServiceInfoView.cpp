#include "LaunchAgentServiceInfoView.h"

#include <QLabel>
#include <QVBoxLayout>

#include "AppSettingsView.h"
#include "FontStyle.h"
#include "Sheet.h"
#include "StyledButton.h"
#include "ViewModifiers.h"
#include "platform/qt/Localizable.h"

LaunchAgentServiceInfoView::LaunchAgentServiceInfoView(std::shared_ptr<LaunchAgentServiceInfoViewModel> model,
                                                       QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      message_(new QLabel),
      button_(new StyledButton(QString(), StyledButton::Style::borderedProminent,
                               StyledButton::ControlSize::large)) {
    message_->setTextFormat(Qt::PlainText);
    message_->setWordWrap(true);
    message_->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
    layout->setSpacing(20);
    layout->addStretch(1);
    layout->addWidget(message_);
    layout->addWidget(button_, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    connect(button_, &QPushButton::clicked, this, [this] {
        if (model_->isLaunchAgentEnabled()) {
            // Continuing replaces this page: keep the model for the call.
            auto model = model_;
            model->continueTapped();
        } else {
            openSettings();
        }
    });
    subscription_ = model_->subscribe([this] { render(); });
    render();
}

void LaunchAgentServiceInfoView::render() {
    const bool enabled = model_->isLaunchAgentEnabled();
    message_->setText(QString::fromStdString(enabled
                                                 ? L("Thank you for enabling the Quorvane service.")
                                                 : L("To continue, please enable the Quorvane service in the "
                                                     "Settings app.")));
    button_->setText(QString::fromStdString(enabled ? L("Continue") : L("Go to Settings")));
}

void LaunchAgentServiceInfoView::openSettings() {
    if (settingsSheet_)
        return;
    QPointer<LaunchAgentServiceInfoView> self(this);
    auto settings = AppSettingsViewModel::make([self] {
        if (self)
            self->closeSettings();
    });
    settingsSheet_ = new Sheet(new AppSettingsView(settings), this, settings->closeRequested);
    settingsSheet_->resize(640, 560);
    settingsSheet_->open();
}

void LaunchAgentServiceInfoView::closeSettings() {
    if (settingsSheet_) {
        settingsSheet_->hide();
        settingsSheet_->deleteLater();
    }
    settingsSheet_ = nullptr;
}

void LaunchAgentServiceInfoView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setFocusAsync(button_);
}
