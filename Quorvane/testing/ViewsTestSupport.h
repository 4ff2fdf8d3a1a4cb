#pragma once
// Fixtures of the views' tests and renders (the shared views' and the flows'): a small generated PDF and
// releases; with the app's test doubles they use.
#include <QBuffer>
#include <QPainter>
#include <QPdfWriter>
#include <string>

#include "Quorvane/core/EIDVersions.h"
#include "Quorvane/testing/FakeLaunchAgentService.h"
#include "Quorvane/testing/SessionStoreRig.h"
#include "api/Account.h"

namespace testsupport {

// A PDF of A5 pages, each with its number in large type.
inline QByteArray makeSamplePDF(int pages) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QPageSize::A5));
    writer.setResolution(72);
    QPainter painter(&writer);
    for (int page = 1; page <= pages; ++page) {
        if (page > 1)
            writer.newPage();
        QFont font("DejaVu Sans", 28);
        painter.setFont(font);
        painter.drawText(QRect(0, 40, 400, 60), Qt::AlignCenter,
                         QString("Page %1 of %2").arg(page).arg(pages));
        painter.setFont(QFont("DejaVu Sans", 11));
        painter.drawText(QRect(40, 120, 340, 300), Qt::TextWordWrap,
                         "Subscriber agreement. The holder agrees to the conditions of use of the remote "
                         "signing certificate.");
    }
    painter.end();
    return bytes;
}

inline Release releaseWith(std::string version, std::optional<AutoUpgrade> upgrade = std::nullopt) {
    Release release;
    release.osVersion = {"0.0.0", std::nullopt};
    release.version = std::move(version);
    release.links.default_ = QUrl("https://www.quorvane.example/download");
    release.links.locales =
        std::map<std::string, QUrl>{{"fr", QUrl("https://www.quorvane.example/fr/download")}};
    release.autoUpgrade = std::move(upgrade);
    return release;
}

}  // namespace testsupport
