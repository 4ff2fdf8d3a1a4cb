#pragma once
// Rich text with links that open in the desktop's browser, by mouse or keyboard. Tab and Shift+Tab step from
// link to link; entering the text from the keyboard lands on its first (or, backwards, its last) link rather
// than on the text as a whole.
#include <QLabel>

class LinkLabel : public QLabel {
  public:
    explicit LinkLabel(const QString& html, QWidget* parent = nullptr);

  protected:
    void focusInEvent(QFocusEvent* event) override;
};
