#pragma once
// Stand-in until the card selection lands: what the navigation builds it with and the callback that takes the
// chosen card.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Quorvane/core/Observable.h"
#include "cardbridge/Card.h"
#include "platform/Scheduler.h"

class CardSelectionViewModel : public Observable {
  public:
    using CardSelected = std::function<void(std::shared_ptr<pindle::Card> card)>;

    CardSelectionViewModel(std::optional<std::string> wantedCardIdentifier,
                           std::vector<std::shared_ptr<pindle::Card>> cards, CardSelected cardSelected,
                           std::shared_ptr<platform::Scheduler> = platform::Scheduler::live())
        : wantedCardIdentifier(std::move(wantedCardIdentifier)),
          cards(std::move(cards)),
          cardSelected(std::move(cardSelected)) {}

    const std::optional<std::string> wantedCardIdentifier;
    const std::vector<std::shared_ptr<pindle::Card>> cards;
    const CardSelected cardSelected;
};
