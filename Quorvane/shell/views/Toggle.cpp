#include "Toggle.h"

#include <QCheckBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <algorithm>

#include "Assets.h"

Toggle::Toggle(const QString& label, QWidget* parent)
    // The label is the box's buddy, which would read "&" as a shortcut marker: it shows the text as it
    // stands.
    : QWidget(parent), checkBox_(new QCheckBox), label_(new QLabel(QString(label).replace("&", "&&"))) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(checkBox_, 0, Qt::AlignTop);
    layout->addWidget(label_, 1);
    label_->setWordWrap(true);
    label_->setTextFormat(Qt::PlainText);
    label_->setBuddy(checkBox_);
    label_->installEventFilter(this);
    checkBox_->setAccessibleName(label);
    setFocusProxy(checkBox_);
    alignCheckBox();
    outlineCheckBox();
    QObject::connect(checkBox_, &QCheckBox::clicked, this, [this](bool checked) {
        if (handler_)
            handler_(checked);
    });
}

void Toggle::alignCheckBox() {
    // The box sits level with the label's first line, whatever the font size.
    const int offset = std::max(0, (label_->fontMetrics().height() - checkBox_->sizeHint().height()) / 2);
    checkBox_->setContentsMargins(0, offset, 0, 0);
}

void Toggle::outlineCheckBox() {
    // The style outlines the box in a shade of the window colour, which vanishes on the text background of
    // a dark palette: there, the box gets a window colour whose shade stands out.
    const QPalette colors = palette();
    const QColor base = colors.color(QPalette::Base);
    QPalette own;
    if (contrastRatio(colors.color(QPalette::Window).darker(140), base) < 3) {
        const QColor text = colors.color(QPalette::Text);
        own.setColor(QPalette::Window, QColor::fromRgbF((base.redF() + 3 * text.redF()) / 4,
                                                        (base.greenF() + 3 * text.greenF()) / 4,
                                                        (base.blueF() + 3 * text.blueF()) / 4));
    }
    checkBox_->setPalette(own);
}

void Toggle::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange)
        alignCheckBox();
    if (event->type() == QEvent::PaletteChange)
        outlineCheckBox();
    QWidget::changeEvent(event);
}

bool Toggle::isChecked() const {
    return checkBox_->isChecked();
}

void Toggle::setChecked(bool checked) {
    checkBox_->setChecked(checked);
}

bool Toggle::eventFilter(QObject* watched, QEvent* event) {
    if (watched == label_ && event->type() == QEvent::MouseButtonRelease && isEnabled()) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && label_->rect().contains(mouse->position().toPoint())) {
            checkBox_->setFocus(Qt::MouseFocusReason);
            checkBox_->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
