#include "AttributedText.h"

QString AttributedText::plainText() const {
    QString text;
    for (const auto& run : runs)
        text += run.text;
    return text;
}

QString AttributedText::html(const QPalette& palette) const {
    QString html;
    for (const auto& run : runs) {
        QString piece = run.text.toHtmlEscaped().replace('\n', "<br>");
        if (run.bold)
            piece = "<b>" + piece + "</b>";
        if (run.color)
            piece =
                QString("<span style=\"color:%1\">%2</span>").arg(run.color->resolve(palette).name(), piece);
        html += piece;
    }
    return html;
}
