#include "InfoView.h"

#include <QAction>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <algorithm>

#include "FontStyle.h"
#include "StyledButton.h"
#include "ToastView.h"
#include "ViewModifiers.h"
#include "platform/qt/Localizable.h"

InfoView::InfoView(std::shared_ptr<InfoViewModel> model, QWidget* parent)
    : QWidget(parent),
      model_(std::move(model)),
      message_(new QLabel(QString::fromStdString(model_->message))),
      toast_(new ToastView(QString::fromStdString(L("Error details copied to clipboard")), this)),
      toastOpacity_(new QGraphicsOpacityEffect(toast_)),
      toastAnimation_(new QVariantAnimation(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(defaultPadding, defaultPadding, defaultPadding, defaultPadding);
    layout->setSpacing(10);
    layout->addStretch(1);
    if (model_->isWaiting) {
        progress_ = new QProgressBar;
        progress_->setRange(0, 0);
        progress_->setTextVisible(false);
        progress_->setFixedWidth(progress_->fontMetrics().averageCharWidth() * 16);
        progress_->setAccessibleName(QString::fromStdString(model_->message));
        layout->addWidget(progress_, 0, Qt::AlignHCenter);
        layout->addSpacing(5);
    }
    message_->setTextFormat(Qt::PlainText);
    message_->setWordWrap(true);
    message_->setAlignment(Qt::AlignCenter);
    applyFontStyle(message_, FontStyle::title2);
    layout->addWidget(message_);
    if (!model_->isWaiting) {
        okButton_ = new StyledButton(QString::fromStdString(L("OK")), StyledButton::Style::borderedProminent,
                                     StyledButton::ControlSize::large);
        layout->addWidget(okButton_, 0, Qt::AlignHCenter);
        connect(okButton_, &QPushButton::clicked, this, [this] {
            // OK may end this page: call a copy of the action.
            auto confirmed = model_->confirmed;
            if (confirmed)
                confirmed();
        });
    }
    layout->addStretch(1);

    // Copying from the keyboard, as a press on the page does.
    auto* copy = new QAction(this);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copy, &QAction::triggered, this, [this] { model_->copyMessageToPasteboard(); });
    addAction(copy);

    toast_->setGraphicsEffect(toastOpacity_);
    toast_->hide();
    toastAnimation_->setDuration(toastAnimationMilliseconds);
    toastAnimation_->setEasingCurve(QEasingCurve::InOutQuad);
    connect(toastAnimation_, &QVariantAnimation::valueChanged, this, [this] { placeToast(); });
    connect(toastAnimation_, &QVariantAnimation::finished, this, [this] {
        if (!toastShown_)
            toast_->hide();
    });

    subscription_ = model_->subscribe([this] { render(); });
    render();
}

void InfoView::render() {
    if (model_->isShowingPasteboardToast() == toastShown_)
        return;
    toastShown_ = model_->isShowingPasteboardToast();
    // Slides in from above while fading in, and leaves the same way.
    const double from = toastAnimation_->state() == QAbstractAnimation::Running
                            ? toastAnimation_->currentValue().toDouble()
                            : (toastShown_ ? 0.0 : 1.0);
    toastAnimation_->stop();
    toastAnimation_->setStartValue(from);
    toastAnimation_->setEndValue(toastShown_ ? 1.0 : 0.0);
    if (toastShown_) {
        toast_->show();
        toast_->raise();
    }
    toastAnimation_->start();
    placeToast();
}

void InfoView::placeToast() {
    const double shown = toastAnimation_->currentValue().isValid()
                             ? toastAnimation_->currentValue().toDouble()
                             : (toastShown_ ? 1.0 : 0.0);
    QSize size = toast_->sizeHint();
    if (size.width() > width() - 2 * defaultPadding) {
        size.setWidth(std::max(width() - 2 * defaultPadding, 0));
        size.setHeight(toast_->heightForWidth(size.width()));
    }
    toast_->resize(size);
    const int top = defaultPadding;
    toast_->move((width() - size.width()) / 2, qRound(top - (1.0 - shown) * (top + size.height())));
    toastOpacity_->setOpacity(shown);
}

void InfoView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (okButton_)
        setFocusAsync(okButton_);
}

void InfoView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeToast();
}

void InfoView::mousePressEvent(QMouseEvent* event) {
    // A plain press and a Control-click alike.
    if (event->button() == Qt::LeftButton)
        model_->copyMessageToPasteboard();
    QWidget::mousePressEvent(event);
}

void InfoView::mouseMoveEvent(QMouseEvent* event) {
    // Every change of a drag copies again; the model refuses repeats within 3 s.
    if (event->buttons() & Qt::LeftButton)
        model_->copyMessageToPasteboard();
    QWidget::mouseMoveEvent(event);
}
