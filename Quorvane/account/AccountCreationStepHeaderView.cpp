#include "AccountCreationStepHeaderView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QVBoxLayout>

#include "PageParts.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/ViewModifiers.h"
#include "platform/qt/Localizable.h"

using accountviews::wrappingText;

AccountCreationStepHeaderView::AccountCreationStepHeaderView(std::string title, int currentStep,
                                                             int stepCount, std::string stepDescription,
                                                             bool stopAllowed,
                                                             std::function<void()> stopRequested,
                                                             QWidget* parent)
    : QWidget(parent),
      title_(wrappingText(title, FontStyle::largeTitle)),
      step_(wrappingText(L("Step %lld of %lld: %@", currentStep + 1, stepCount, stepDescription),
                         FontStyle::title3)),
      stopButton_(new StyledButton(QString::fromStdString(L("Stop activation")),
                                   StyledButton::Style::borderedProminent, StyledButton::ControlSize::large)),
      progress_(new QProgressBar),
      stopRequested_(std::move(stopRequested)) {
    stopButton_->setTint(ViewColor::asset("SystemRed"));
    stopButton_->setEnabled(stopAllowed);
    // Not the page's default: Return belongs to the page's own action.
    stopButton_->setDefault(false);
    stopButton_->setAutoDefault(false);
    connect(stopButton_, &QPushButton::clicked, this, [this] {
        // The flow may replace the screen (and this header): call a copy.
        if (auto stop = stopRequested_)
            stop();
    });

    progress_->setRange(0, stepCount);
    progress_->setValue(currentStep + 1);
    progress_->setTextVisible(false);

    auto* row = new QHBoxLayout;
    row->addWidget(title_, 1, Qt::AlignVCenter);
    row->addWidget(stopButton_, 0, Qt::AlignVCenter);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
    layout->setSpacing(10);
    layout->addLayout(row);
    layout->addWidget(step_);
    layout->addWidget(progress_);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
}

AccountCreationStepHeaderView::AccountCreationStepHeaderView(const AccountCreationStep& step,
                                                             bool stopAllowed,
                                                             std::function<void()> stopRequested,
                                                             QWidget* parent)
    : AccountCreationStepHeaderView(L("Create signing certificate"), step.headerIndex(),
                                    AccountCreationStep::headerStepCount, step.title(), stopAllowed,
                                    std::move(stopRequested), parent) {}

void AccountCreationStepHeaderView::paintEvent(QPaintEvent*) {
    // The band lies on the text background, from edge to edge.
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Base));
}
