#include "WalletSecurityCheckDocumentsView.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <cstdio>

#include "Quorvane/shell/views/Assets.h"
#include "Quorvane/shell/views/ContentDivider.h"
#include "platform/qt/Localizable.h"

namespace {

constexpr int headerBarHeight = 26;
constexpr QSize maximumGridSize{760, 360};

// A header cell: bold text on "DynamicWhite", resolved against the palette at every paint.
class HeaderLabel : public QLabel {
  public:
    explicit HeaderLabel(const std::string& text) : QLabel(QString::fromStdString(text)) {
        setTextFormat(Qt::PlainText);
        QFont bold = font();
        bold.setBold(true);
        setFont(bold);
    }

  protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter painter(this);
        painter.fillRect(contentsRect(), colorAsset("DynamicWhite", palette()));
        painter.end();
        QLabel::paintEvent(event);
    }
};

// The grid, with a bar in the foreground colour behind its top.
class Grid : public QWidget {
  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(QRect(0, 0, width(), headerBarHeight), palette().color(QPalette::WindowText));
    }
};

QLabel* cell(const std::string& text, bool bold) {
    auto* label = new QLabel(QString::fromStdString(text));
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    return label;
}

}  // namespace

WalletSecurityCheckDocumentsView::WalletSecurityCheckDocumentsView(
    std::vector<BulkSigningRequest::Document> documents, QWidget* parent)
    : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    auto* grid = new Grid;
    auto* layout = new QGridLayout(grid);
    layout->setContentsMargins(4, 4, 4, 0);
    layout->setVerticalSpacing(8);
    layout->setHorizontalSpacing(16);
    // The header row is as high as the bar behind it.
    const int headerHeight = headerBarHeight - 2 * 4;
    auto* title = new HeaderLabel(L("Document title"));
    auto* fingerprint = new HeaderLabel(L("Document fingerprint"));
    for (auto* header : {title, fingerprint}) {
        header->setFixedHeight(std::max(headerHeight, header->sizeHint().height()));
        header->setContentsMargins(2, 0, 2, 0);
    }
    layout->addWidget(title, 0, 0, Qt::AlignLeft);
    layout->addWidget(fingerprint, 0, 1, Qt::AlignLeft);
    layout->addWidget(new ContentDivider, 1, 0, 1, 2);
    for (std::size_t i = 0; i < documents.size(); ++i) {
        const int row = static_cast<int>(i) + 2;
        layout->addWidget(cell(documentTitle(i + 1, documents[i]), true), row, 0, Qt::AlignLeft);
        layout->addWidget(cell(documents[i].hash, false), row, 1, Qt::AlignLeft);
    }
    layout->setRowStretch(static_cast<int>(documents.size()) + 2, 1);
    layout->setColumnStretch(1, 1);
    setWidget(grid);
}

QSize WalletSecurityCheckDocumentsView::sizeHint() const {
    const QSize content = widget()->sizeHint();
    const int scrollBar = verticalScrollBar()->sizeHint().width();
    // Room for a vertical scroll bar once the grid is cut off, so that it does not cover the text.
    const int width = content.width() + (content.height() > maximumGridSize.height() ? scrollBar : 0);
    return QSize(std::min(width, maximumGridSize.width()),
                 std::min(content.height(), maximumGridSize.height()));
}

std::string WalletSecurityCheckDocumentsView::documentTitle(std::size_t position,
                                                            const BulkSigningRequest::Document& document) {
    char number[32];
    std::snprintf(number, sizeof number, "%02zu. ", position);
    return number + (document.docName ? *document.docName : L("docNameNotAvailable"));
}
