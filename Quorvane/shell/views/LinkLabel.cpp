#include "LinkLabel.h"

#include <QFocusEvent>
#include <algorithm>

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

QString LinkLabel::linkedText(const QString& sentence, const std::vector<Link>& links,
                              const QPalette& palette) {
    struct Found {
        qsizetype from;
        qsizetype length;
        const std::string* url;
    };
    std::vector<Found> found;
    for (const auto& link : links) {
        const qsizetype at = link.words.isEmpty() ? -1 : sentence.indexOf(link.words);
        if (at < 0)
            continue;
        const bool overlaps = std::any_of(found.begin(), found.end(), [&](const Found& other) {
            return at < other.from + other.length && other.from < at + link.words.size();
        });
        if (!overlaps)
            found.push_back({at, link.words.size(), &link.url});
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.from < b.from; });
    const QString color = palette.color(QPalette::Link).name();
    QString html;
    qsizetype position = 0;
    for (const auto& link : found) {
        html += sentence.mid(position, link.from - position).toHtmlEscaped();
        html += QString("<a href=\"%1\" style=\"color:%2; text-decoration:underline\">%3</a>")
                    .arg(QString::fromStdString(*link.url).toHtmlEscaped(), color,
                         sentence.mid(link.from, link.length).toHtmlEscaped());
        position = link.from + link.length;
    }
    html += sentence.mid(position).toHtmlEscaped();
    return html;
}
