#pragma once
// One card in the card list: the holder's initials on a disc, the holder's name, national number and the
// certificate's validity, and the button that picks the card. A raised rounded plate.
#include <QWidget>
#include <functional>
#include <memory>

#include "cardbridge/Card.h"

class StyledButton;

class CardView : public QWidget {
  public:
    CardView(std::shared_ptr<pindle::Card> card, std::function<void()> select, QWidget* parent = nullptr);

    StyledButton* selectButton() const { return select_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::shared_ptr<pindle::Card> card_;
    StyledButton* select_;
};
