#pragma once
// A thin separator: a 1-point high line of gray at 30 % opacity, as wide as its container.
#include <QWidget>

class ContentDivider : public QWidget {
  public:
    explicit ContentDivider(QWidget* parent = nullptr);

  protected:
    void paintEvent(QPaintEvent* event) override;
};
