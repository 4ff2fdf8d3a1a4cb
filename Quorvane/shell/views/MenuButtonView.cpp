#include "MenuButtonView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

#include "ImageView.h"

MenuButtonView::MenuButtonView(ViewImage iconImage, SymbolWeight iconImageFontWeight,
                               ViewColor iconImageForegroundColor, ViewColor iconImageBackgroundColor,
                               AttributedText buttonText, ViewColor buttonBackgroundColor, QWidget* parent)
    : QAbstractButton(parent),
      buttonText_(std::move(buttonText)),
      buttonBackgroundColor_(std::move(buttonBackgroundColor)),
      title_(new QLabel) {
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(buttonText_.plainText());
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    setMinimumHeight(rowHeight);

    // A 20-point icon clipped to 2-point corners, on an 8-point padded tile of its background colour.
    ImageView::Style iconStyle;
    iconStyle.tint = std::move(iconImageForegroundColor);
    iconStyle.weight = iconImageFontWeight;
    iconStyle.imageCornerRadius = 2;
    iconStyle.padding = 8;
    iconStyle.background = std::move(iconImageBackgroundColor);
    auto* icon = new ImageView(std::move(iconImage), QSize(20, 20), iconStyle);

    QFont bold = font();
    bold.setBold(true);
    title_->setFont(bold);
    title_->setTextFormat(Qt::RichText);
    title_->setWordWrap(true);
    title_->setAlignment(Qt::AlignCenter);
    title_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    title_->setAttribute(Qt::WA_TransparentForMouseEvents);
    updateTitle();

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 4, 8, 4);
    // The title takes the whole space right of the icon and is centred in it.
    layout->addWidget(icon, 0, Qt::AlignVCenter);
    layout->addWidget(title_, 1);
}

void MenuButtonView::updateTitle() {
    title_->setText(buttonText_.html(palette()));
}

void MenuButtonView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        updateTitle();
    if (event->type() == QEvent::FontChange) {
        QFont bold = font();
        bold.setBold(true);
        title_->setFont(bold);
    }
    QAbstractButton::changeEvent(event);
}

bool MenuButtonView::hitButton(const QPoint& position) const {
    return rect().contains(position);
}

void MenuButtonView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled() || isDown())
        painter.setOpacity(isDown() ? 0.7 : 0.5);
    QPainterPath row;
    row.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
    painter.fillPath(row, buttonBackgroundColor_.resolve(palette()));
    painter.strokePath(row, QPen(QColor(Qt::gray), 1));
    if (hasFocus()) {
        QPainterPath ring;
        ring.addRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 4, 4);
        painter.setOpacity(1);
        painter.strokePath(ring, QPen(palette().color(QPalette::Highlight), 2));
    }
}

void MenuButtonView::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        event->modifiers() == Qt::NoModifier) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}
