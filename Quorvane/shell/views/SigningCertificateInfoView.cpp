#include "SigningCertificateInfoView.h"

#include <QDateTime>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "FontStyle.h"
#include "ImageView.h"
#include "ViewModifiers.h"
#include "platform/qt/Localizable.h"

namespace {

// The large green disc with the card in white, and a small check mark on its lower trailing edge.
class CertificateBadge : public QWidget {
  public:
    static constexpr int discSize = 32;
    static constexpr int checkSize = 10;
    static constexpr QPoint checkOrigin{24, 22};

    CertificateBadge() { setFixedSize(checkOrigin.x() + checkSize, discSize); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor green = colorAsset("ValidGreen", palette());
        const QRectF disc(0, 0, discSize, discSize);
        painter.setPen(Qt::NoPen);
        painter.setBrush(green);
        painter.drawEllipse(disc);
        drawImage(painter, disc.adjusted(3, 3, -3, -3), ViewImage::symbol("eIDBadge"), Qt::white);

        const QRectF check(checkOrigin, QSizeF(checkSize, checkSize));
        QPen outline(Qt::white, 2.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        outline.setMiterLimit(10);
        painter.setPen(outline);
        painter.drawEllipse(check);
        drawImage(painter, check.adjusted(2, 2, -2, -2), ViewImage::symbol("checkmark"), Qt::white);
    }
};

QLabel* textLabel(const std::string& text) {
    auto* label = new QLabel(QString::fromStdString(text));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

// An icon beside a text, 4 points below what is above.
QHBoxLayout* iconRow(ImageView* icon, QLabel* text) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 4, 0, 0);
    row->setSpacing(8);
    row->addWidget(icon, 0, Qt::AlignVCenter);
    row->addWidget(text, 1, Qt::AlignVCenter);
    return row;
}

// A locale's time with seconds and without the time zone: its long time format less the zone.
QString mediumTimeFormat(const QLocale& locale) {
    const QString longFormat = locale.timeFormat(QLocale::LongFormat);
    QString format;
    bool quoted = false;
    for (qsizetype i = 0; i < longFormat.size(); ++i) {
        const QChar c = longFormat[i];
        if (c == '\'')
            quoted = !quoted;
        if (!quoted && c == 't') {
            // The zone and the blank that joined it to the time.
            while (i + 1 < longFormat.size() && longFormat[i + 1] == 't')
                ++i;
            while (!format.isEmpty() && format.back().isSpace())
                format.chop(1);
            continue;
        }
        format += c;
    }
    return format.trimmed();
}

}  // namespace

std::string shortDateMediumTimeText(platform::Date date) {
    const QLocale locale;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    return (locale.toString(local.date(), QLocale::ShortFormat) + ", " +
            locale.toString(local.time(), mediumTimeFormat(locale)))
        .toStdString();
}

SigningCertificateInfoView::SigningCertificateInfoView(SigningCertificateInfo info, QWidget* parent)
    : QWidget(parent),
      info_(std::move(info)),
      fullName_(textLabel(info_.fullName)),
      nationalNumber_(textLabel(L("National number: %@", info_.nationalNumber))),
      expiry_(textLabel(L("Active - Expires on %@", shortDateMediumTimeText(info_.notValidAfter)))),
      createdWith_(textLabel(createdWithText())) {
    applyFontStyle(fullName_, FontStyle::title2, QFont::DemiBold);
    auto* dimmed = new QGraphicsOpacityEffect(nationalNumber_);
    dimmed->setOpacity(0.8);
    nationalNumber_->setGraphicsEffect(dimmed);

    // The images' styles are made in place: a named style copied into the view makes GCC 12 under
    // ThreadSanitizer warn that its empty background may be read uninitialised.
    auto* details = new QVBoxLayout;
    details->setSpacing(0);
    details->addWidget(fullName_);
    details->addWidget(nationalNumber_);
    details->addLayout(
        iconRow(new ImageView(ViewImage::symbol("checkmark"), QSize(10, 10), {.padding = 5}), expiry_));
    details->addLayout(
        iconRow(new ImageView(methodImage(info_.methodCreatedWith), QSize(20, 20), {.imageCornerRadius = 2}),
                createdWith_));

    auto* content = new QWidget;
    auto* row = new QHBoxLayout(content);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(new CertificateBadge, 0, Qt::AlignTop);
    // The details take the rest of the width, so that the card spans its container.
    row->addLayout(details, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(roundedBorderStyle(content, QPalette::Base));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
}

std::string SigningCertificateInfoView::createdWithText() const {
    return info_.methodCreatedWith == halcyra::AuthenticationMethod::wallet ? L("Created with Civaro")
                                                                            : L("Created with eID");
}

ViewImage SigningCertificateInfoView::methodImage(halcyra::AuthenticationMethod method) {
    return ViewImage::asset(method == halcyra::AuthenticationMethod::wallet ? "CivaroLogo" : "Pindle");
}
