#pragma once
// What the card selection shows: the cards to choose from (in the order the reader reported them), the
// insert-card panel, or a waiting message while a card reading takes longer than expected.
#include <memory>
#include <vector>

#include "cardbridge/Card.h"

struct CardSelectionViewState {
    enum class Kind { availableCards, noCards, longReadOngoing };

    Kind kind = Kind::noCards;
    std::vector<std::shared_ptr<pindle::Card>> cards;  // availableCards

    static CardSelectionViewState availableCards(std::vector<std::shared_ptr<pindle::Card>> cards) {
        return {Kind::availableCards, std::move(cards)};
    }
    static CardSelectionViewState noCards() { return {Kind::noCards, {}}; }
    static CardSelectionViewState longReadOngoing() { return {Kind::longReadOngoing, {}}; }

    friend bool operator==(const CardSelectionViewState&, const CardSelectionViewState&) = default;
};
