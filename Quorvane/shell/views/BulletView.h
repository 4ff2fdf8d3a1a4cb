#pragma once
// A 25-point disc in the text colour with a short text on it in the "DynamicWhite" colour (the numbers of
// listed steps). The size never depends on the text.
#include <QWidget>

class BulletView : public QWidget {
  public:
    static constexpr int diameter = 25;

    explicit BulletView(QString content, QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString content_;
};
