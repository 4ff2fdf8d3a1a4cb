#pragma once
// The large icon-and-text button of the main menu and of the choice of authentication method: the icon on
// a tile at the leading side, the bold title centred in the space right of it, in a 48-point high bordered
// row as wide as its container. A title too long for one line wraps and the row grows.
#include <QAbstractButton>

#include "Assets.h"
#include "AttributedText.h"

class QLabel;

class MenuButtonView : public QAbstractButton {
  public:
    static constexpr int rowHeight = 48;

    MenuButtonView(ViewImage iconImage, SymbolWeight iconImageFontWeight, ViewColor iconImageForegroundColor,
                   ViewColor iconImageBackgroundColor, AttributedText buttonText,
                   ViewColor buttonBackgroundColor, QWidget* parent = nullptr);

    const AttributedText& buttonText() const { return buttonText_; }
    QLabel* titleLabel() const { return title_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool hitButton(const QPoint& position) const override;

  private:
    void updateTitle();

    AttributedText buttonText_;
    ViewColor buttonBackgroundColor_;
    QLabel* title_;
};
