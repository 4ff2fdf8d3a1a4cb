#pragma once
// A short notice on a rounded plate in the text-background colour, with the text in the text colour: it
// follows the palette (light or dark). Its host places it and slides it in and out (see InfoView).
#include <QWidget>

class QLabel;

class ToastView : public QWidget {
  public:
    explicit ToastView(const QString& text, QWidget* parent = nullptr);

    QString text() const;
    // The text on one line with its padding: 32 points wider and 16 higher than the text. A host with less
    // room gives it less width, and the text wraps.
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QLabel* label_;
};
