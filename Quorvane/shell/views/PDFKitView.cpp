#include "PDFKitView.h"

#include <QBuffer>
#include <QKeyEvent>
#include <QPdfDocument>
#include <QPdfView>
#include <QScrollBar>
#include <QVBoxLayout>

#include "ViewModifiers.h"

PDFKitView::PDFKitView(std::shared_ptr<QPdfDocument> document, QWidget* parent)
    : QWidget(parent), document_(std::move(document)), pdfView_(new QPdfView) {
    pdfView_->setZoomMode(QPdfView::ZoomMode::FitToWidth);
    pdfView_->setPageMode(QPdfView::PageMode::MultiPage);
    pdfView_->setDocument(document_.get());
    // A clear background: the surrounding screen shows through around and between the pages.
    pdfView_->setFrameShape(QFrame::NoFrame);
    pdfView_->viewport()->setAutoFillBackground(false);
    pdfView_->setAutoFillBackground(false);
    // The view fills its background with the palette's dark colour: only that role is cleared, the scroll
    // bars keep theirs.
    QPalette clear;
    clear.setColor(QPalette::Dark, Qt::transparent);
    pdfView_->setPalette(clear);
    for (auto* bar : {pdfView_->verticalScrollBar(), pdfView_->horizontalScrollBar()}) {
        QPalette own;
        own.setColor(QPalette::Dark, palette().color(QPalette::Dark));
        bar->setPalette(own);
    }
    pdfView_->setFocusPolicy(Qt::StrongFocus);
    pdfView_->installEventFilter(this);
    setFocusProxy(pdfView_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pdfView_);
}

std::shared_ptr<QPdfDocument> PDFKitView::documentFromData(const QByteArray& data) {
    auto document = std::make_shared<QPdfDocument>();
    // The document reads from the buffer while it lives, so the buffer is its child.
    auto* buffer = new QBuffer(document.get());
    buffer->setData(data);
    buffer->open(QIODevice::ReadOnly);
    document->load(buffer);
    if (document->status() != QPdfDocument::Status::Ready || document->pageCount() == 0)
        return nullptr;
    return document;
}

bool PDFKitView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == pdfView_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Home || key == Qt::Key_End) {
            pdfView_->verticalScrollBar()->triggerAction(
                key == Qt::Key_Home ? QAbstractSlider::SliderToMinimum : QAbstractSlider::SliderToMaximum);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void PDFKitView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setFocusAsync(pdfView_);
}
