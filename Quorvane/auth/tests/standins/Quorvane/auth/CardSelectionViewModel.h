#pragma once
// Stand-in for the card-selection model until the authentication screens land: what the navigation builds it
// with and the callback that takes the chosen card.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Quorvane/core/Observable.h"
#include "cardbridge/Card.h"

class CardSelectionViewModel : public Observable {
  public:
    CardSelectionViewModel(std::optional<std::string> wantedCardIdentifier,
                           std::vector<std::shared_ptr<pindle::Card>> cards,
                           std::function<void(std::shared_ptr<pindle::Card>)> cardSelected)
        : wantedCardIdentifier(std::move(wantedCardIdentifier)),
          cards(std::move(cards)),
          cardSelected(std::move(cardSelected)) {}

    const std::optional<std::string> wantedCardIdentifier;
    const std::vector<std::shared_ptr<pindle::Card>> cards;
    const std::function<void(std::shared_ptr<pindle::Card>)> cardSelected;
};
