#include "LinkLabel.h"

#include <QFocusEvent>

#include "platform/Workspace.h"

LinkLabel::LinkLabel(const QString& html, QWidget* parent) : QLabel(html, parent) {
    setTextFormat(Qt::RichText);
    setWordWrap(true);
    setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    setOpenExternalLinks(false);
    connect(this, &QLabel::linkActivated, this,
            [](const QString& url) { platform::Workspace::open(url.toStdString()); });
}

void LinkLabel::focusInEvent(QFocusEvent* event) {
    QLabel::focusInEvent(event);
    if (!selectedText().isEmpty())
        return;
    if (event->reason() == Qt::TabFocusReason)
        QLabel::focusNextPrevChild(true);
    else if (event->reason() == Qt::BacktabFocusReason)
        QLabel::focusNextPrevChild(false);
}
