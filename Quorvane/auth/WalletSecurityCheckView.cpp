#include "WalletSecurityCheckView.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <functional>

#include "Quorvane/shell/views/FontStyle.h"
#include "Quorvane/shell/views/ImageView.h"
#include "Quorvane/shell/views/ViewModifiers.h"
#include "WalletSecurityCheckDocumentsView.h"
#include "platform/qt/Localizable.h"

namespace {

constexpr int arrowHeight = 9;
constexpr int arrowHalfWidth = 10;

QLabel* centredText(const std::string& text) {
    auto* label = new QLabel(QString::fromStdString(text));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignHCenter);
    return label;
}

// A popover: a rounded panel in the window colour with an arrow that points at the control it belongs to.
// Clicking outside it or pressing Esc closes it.
class Popover : public QWidget {
  public:
    Popover(QWidget* content, QWidget* anchor, std::function<void()> dismissed)
        : QWidget(anchor, Qt::Popup | Qt::FramelessWindowHint), dismissed_(std::move(dismissed)) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_DeleteOnClose);
        layout_ = new QVBoxLayout(this);
        layout_->addWidget(content);
        place(anchor);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF all = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const QRectF body =
            arrowBelow_ ? all.adjusted(0, 0, 0, -arrowHeight) : all.adjusted(0, arrowHeight, 0, 0);
        QPainterPath path;
        path.addRoundedRect(body, 8, 8);
        const qreal tipY = arrowBelow_ ? all.bottom() : all.top();
        const qreal baseY = arrowBelow_ ? body.bottom() - 1 : body.top() + 1;
        QPainterPath arrow;
        arrow.moveTo(arrowX_ - arrowHalfWidth, baseY);
        arrow.lineTo(arrowX_, tipY);
        arrow.lineTo(arrowX_ + arrowHalfWidth, baseY);
        arrow.closeSubpath();
        path = path.united(arrow);
        painter.fillPath(path, palette().color(QPalette::Window));
        painter.strokePath(path, QPen(QColor(Qt::gray), 1.0));
    }

    void hideEvent(QHideEvent* event) override {
        QWidget::hideEvent(event);
        if (auto dismissed = std::exchange(dismissed_, nullptr))
            dismissed();
    }

  private:
    // Above the anchor with the arrow on its bottom edge, or below it (arrow on top) where the screen has no
    // room above.
    void place(QWidget* anchor) {
        const QRect available = anchor->screen() ? anchor->screen()->availableGeometry() : QRect();
        const QRect target(anchor->mapToGlobal(QPoint(0, 0)), anchor->size());
        const QSize body = layout_->sizeHint() + QSize(2 * defaultPadding, 2 * defaultPadding);
        const QSize size(body.width(), body.height() + arrowHeight);
        arrowBelow_ = available.isNull() || target.top() - size.height() >= available.top();
        const int margin = arrowBelow_ ? arrowHeight : 0;
        layout_->setContentsMargins(defaultPadding, defaultPadding + (arrowBelow_ ? 0 : arrowHeight),
                                    defaultPadding, defaultPadding + margin);
        int x = target.center().x() - size.width() / 2;
        if (!available.isNull())
            x = std::clamp(x, available.left(), std::max(available.left(), available.right() - size.width()));
        const int y = arrowBelow_ ? target.top() - size.height() : target.bottom() + 1;
        setGeometry(QRect(QPoint(x, y), size));
        arrowX_ = std::clamp(target.center().x() - x, arrowHalfWidth + 8, size.width() - arrowHalfWidth - 8);
    }

    std::function<void()> dismissed_;
    QVBoxLayout* layout_;
    bool arrowBelow_ = true;
    int arrowX_ = 0;
};

// A button drawn as a link: text only, in the palette's link colour, with a focus ring when it has the focus.
class LinkButton : public QPushButton {
  public:
    explicit LinkButton(const QString& text) : QPushButton(text) {
        setAutoDefault(false);
        setCursor(Qt::PointingHandCursor);
    }

    QSize sizeHint() const override {
        return fontMetrics().size(Qt::TextShowMnemonic, text()) + QSize(12, 8);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QColor color = palette().color(QPalette::Link);
        if (isDown())
            color = color.darker(130);
        painter.setPen(color);
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextShowMnemonic, text());
        if (hasFocus()) {
            painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
            painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
        }
    }
};

}  // namespace

WalletSecurityCheckView::WalletSecurityCheckView(std::string verificationCode,
                                                 std::vector<BulkSigningRequest::Document> documents,
                                                 QWidget* parent)
    : QWidget(parent), documents_(std::move(documents)) {
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    const QFont titleFont = styledFont(FontStyle::title3, QFont::DemiBold);
    const int symbolSize = QFontMetrics(titleFont).height();
    titleRow->addWidget(
        new ImageView(ViewImage::symbol("exclamationmark.shield"), QSize(symbolSize, symbolSize), {}));
    auto* title = new QLabel(QString::fromStdString(L("Security Check")));
    title->setTextFormat(Qt::PlainText);
    title->setFont(titleFont);
    titleRow->addWidget(title);
    titleRow->addStretch(1);
    column->addLayout(titleRow);

    column->addWidget(centredText(L("On your mobile device, confirm that the verification code matches.")));
    auto* code = centredText(verificationCode);
    code->setFont(styledFont(FontStyle::title));
    code->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(code);
    column->addWidget(centredText(L("Only approve if the codes are identical.")));

    if (!documents_.empty()) {
        fingerprintsButton_ =
            new LinkButton(QString::fromStdString(L("Click here to see document fingerprints")));
        column->addWidget(fingerprintsButton_, 0, Qt::AlignHCenter);
        connect(fingerprintsButton_, &QPushButton::clicked, this, [this] { openDocumentFingerprints(); });
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new RoundedBorderBox(content, ViewColor::asset("SecurityCheckBackground")));
}

void WalletSecurityCheckView::openDocumentFingerprints() {
    if (showDocumentFingerprints_)
        return;
    showDocumentFingerprints_ = true;
    // Dismissed by a click outside it or Esc; it deletes itself once closed.
    auto* popover = new Popover(new WalletSecurityCheckDocumentsView(documents_), fingerprintsButton_,
                                [self = QPointer<WalletSecurityCheckView>(this)] {
                                    if (self)
                                        self->showDocumentFingerprints_ = false;
                                });
    popover_ = popover;
    popover->show();
}
