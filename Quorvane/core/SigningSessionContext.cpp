#include "SigningSessionContext.h"

#include <stdexcept>

SigningSessionContext SigningSessionContext::wallet(std::string sessionId, std::string pollingSessionId) {
    return SigningSessionContext(Wallet{std::move(sessionId), std::move(pollingSessionId)});
}

SigningSessionContext SigningSessionContext::card(std::string sessionId, std::shared_ptr<pindle::Card> card) {
    if (!card)
        throw std::invalid_argument("a card context needs a card");
    return SigningSessionContext(Card{std::move(sessionId), std::move(card)});
}

const std::string& SigningSessionContext::sessionId() const {
    return std::visit([](const auto& value) -> const std::string& { return value.sessionId; }, value_);
}

const std::string& SigningSessionContext::pollingSessionId() const {
    static const std::string none;
    const auto* wallet = std::get_if<Wallet>(&value_);
    return wallet ? wallet->pollingSessionId : none;
}

const std::shared_ptr<pindle::Card>& SigningSessionContext::card() const {
    static const std::shared_ptr<pindle::Card> none;
    const auto* card = std::get_if<Card>(&value_);
    return card ? card->card : none;
}

std::string SigningSessionContext::tokenIdentifier() const {
    const auto* card = std::get_if<Card>(&value_);
    return card ? card->card->uniqueIdentifier() : std::string(walletTokenIdentifier);
}

SigningSessionContext SigningSessionContext::withSessionId(std::string sessionId) const {
    auto copy = *this;
    std::visit([&](auto& value) { value.sessionId = std::move(sessionId); }, copy.value_);
    return copy;
}
