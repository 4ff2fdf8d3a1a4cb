#include "Sheet.h"

#include <QCloseEvent>
#include <QVBoxLayout>

Sheet::Sheet(QWidget* content, QWidget* owner, std::function<void()> cancelRequested)
    : QDialog(owner), content_(content), cancelRequested_(std::move(cancelRequested)) {
    setWindowModality(Qt::WindowModal);
    if (owner)
        setWindowTitle(owner->window()->windowTitle());
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content);
    if (!cancelRequested_)
        setWindowFlags(windowFlags() & ~Qt::WindowCloseButtonHint);
}

void Sheet::reject() {
    // The owner decides: its cancel path clears its state, which ends the sheet.
    if (cancelRequested_)
        cancelRequested_();
}

void Sheet::closeEvent(QCloseEvent* event) {
    event->ignore();
    reject();
}
