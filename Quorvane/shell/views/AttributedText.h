#pragma once
// Text made of runs, each optionally in a colour of its own (a button title with a red note, a sentence with
// a bold word). Rendered as escaped rich text, so no run is ever read as markup.
#include <QString>
#include <optional>
#include <vector>

#include "Assets.h"

struct AttributedText {
    struct Run {
        QString text;
        std::optional<ViewColor> color;
        bool bold = false;
    };
    std::vector<Run> runs;

    static AttributedText plain(QString text) { return {{Run{std::move(text), std::nullopt, false}}}; }

    QString plainText() const;
    // Rich text for a QLabel, with colours resolved against the palette.
    QString html(const QPalette& palette) const;
};
