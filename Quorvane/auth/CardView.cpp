#include "CardView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <algorithm>

#include "ColoredLabel.h"
#include "Quorvane/core/QuorvaneAPI.h"
#include "Quorvane/shell/views/ContentDivider.h"
#include "Quorvane/shell/views/FontStyle.h"
#include "Quorvane/shell/views/ImageView.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/ViewModifiers.h"
#include "platform/qt/Localizable.h"

namespace {

constexpr int initialsDiameter = 32;

// The holder's initials centred on a disc of gray at 30 % opacity.
class InitialsView : public QWidget {
  public:
    explicit InitialsView(QString initials) : initials_(std::move(initials)) {
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

    // 32 points, or more where a large font needs it.
    QSize sizeHint() const override {
        const int diameter = std::max(
            {initialsDiameter, fontMetrics().horizontalAdvance(initials_) + 8, fontMetrics().height() + 8});
        return {diameter, diameter};
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor disc(Qt::gray);
        disc.setAlphaF(0.3f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(disc);
        painter.drawEllipse(QRectF(rect()));
        painter.setPen(palette().color(QPalette::WindowText));
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignCenter, initials_);
    }

  private:
    QString initials_;
};

QLabel* text(const QString& content) {
    auto* label = new QLabel(content);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

}  // namespace

CardView::CardView(std::shared_ptr<pindle::Card> card, std::function<void()> select, QWidget* parent)
    : QWidget(parent),
      card_(std::move(card)),
      select_(new StyledButton(QString::fromStdString(L("Select certificate")),
                               StyledButton::Style::borderedProminent, StyledButton::ControlSize::large)) {
    auto* layout = new QHBoxLayout(this);
    // Room for the plate's shadow below and right of it.
    layout->setContentsMargins(defaultPadding, defaultPadding, defaultPadding + 2, defaultPadding + 2);
    layout->setSpacing(0);
    layout->addWidget(new InitialsView(QString::fromStdString(initials(*card_))), 0, Qt::AlignTop);

    auto* details = new QVBoxLayout;
    details->setContentsMargins(12, 0, 0, 0);
    details->setSpacing(6);
    auto* name = text(QString::fromStdString(displayName(*card_)));
    applyFontStyle(name, FontStyle::title2, QFont::DemiBold);
    details->addWidget(name);

    details->addWidget(
        new ColoredLabel(QString::fromStdString(L("National number: %@", card_->nationalRegisterNumber())),
                         ColoredLabel::faded));

    auto* validity = new QHBoxLayout;
    auto* calendar = new ImageView(ViewImage::asset("Calendar"), QSize(16, 16), {});
    calendar->setAccessibleName(QString::fromStdString(L("Validity")));
    validity->addWidget(calendar, 0, Qt::AlignVCenter);
    validity->addWidget(text(QString::fromStdString(validityText(*card_))), 1);
    details->addLayout(validity);

    auto* separator = new QVBoxLayout;
    separator->setContentsMargins(0, 10, 0, 10);
    separator->addWidget(new ContentDivider);
    details->addLayout(separator);

    details->addWidget(select_, 0, Qt::AlignLeft);
    layout->addLayout(details, 1);

    select_->setAccessibleDescription(name->text());
    connect(select_, &QPushButton::clicked, this, [select = std::move(select)] {
        if (select)
            select();
    });
}

void CardView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF plate = QRectF(rect()).adjusted(0, 0, -2, -2);
    QPainterPath path;
    path.addRoundedRect(plate, 5, 5);
    // The shadow one point right and down: black at 80 %, spread by a 1-point blur over two points at about
    // half of that.
    QColor shadow(Qt::black);
    shadow.setAlphaF(0.25f);
    painter.fillPath(path.translated(1.5, 1.5), shadow);
    painter.fillPath(path.translated(0.5, 0.5), shadow);
    painter.fillPath(path, palette().color(QPalette::Base));
}
