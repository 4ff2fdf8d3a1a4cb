#pragma once
// Rich text with links that open in the desktop's browser, by mouse or keyboard. Tab and Shift+Tab step from
// link to link; entering the text from the keyboard lands on its first (or, backwards, its last) link rather
// than on the text as a whole.
#include <QLabel>
#include <string>
#include <vector>

class LinkLabel : public QLabel {
  public:
    explicit LinkLabel(const QString& html, QWidget* parent = nullptr);

    // Words of a sentence that link to a page.
    struct Link {
        QString words;
        std::string url;
    };
    // The sentence as rich text, each link on the first occurrence of its words, in the palette's link colour
    // and underlined. Words that do not occur (a translation without them), or that overlap an earlier link,
    // stay plain text.
    static QString linkedText(const QString& sentence, const std::vector<Link>& links,
                              const QPalette& palette);

  protected:
    void focusInEvent(QFocusEvent* event) override;
};
