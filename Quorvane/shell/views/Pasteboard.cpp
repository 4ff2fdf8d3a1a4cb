#include "Pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

Pasteboard& Pasteboard::general() {
    static Pasteboard pasteboard;
    return pasteboard;
}

void Pasteboard::setString(const std::string& text) {
    auto* data = new QMimeData;
    data->setText(QString::fromStdString(text));
    QGuiApplication::clipboard()->setMimeData(data);
}
