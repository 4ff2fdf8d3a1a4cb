#pragma once
// How the user authenticated for the current flow: with the identity wallet (the server session and the
// wallet's polling session) or with an eID card (the server session and the card itself, shared).
#include <memory>
#include <string>
#include <variant>

#include "cardbridge/Card.h"

class SigningSessionContext {
  public:
    // The token identifier of every wallet context: there is at most one wallet session at a time.
    static constexpr const char* walletTokenIdentifier = "WALLET_TOKEN_IDENTIFIER";

    enum class Kind { wallet, card };

    static SigningSessionContext wallet(std::string sessionId, std::string pollingSessionId);
    // Throws std::invalid_argument for a null card.
    static SigningSessionContext card(std::string sessionId, std::shared_ptr<pindle::Card> card);

    Kind kind() const { return std::holds_alternative<Wallet>(value_) ? Kind::wallet : Kind::card; }
    const std::string& sessionId() const;
    // The wallet's polling session; empty for a card.
    const std::string& pollingSessionId() const;
    // The card; null for the wallet.
    const std::shared_ptr<pindle::Card>& card() const;

    // The key of the context's session in the session store, and the instance id of its token configuration:
    // the card's unique identifier, or walletTokenIdentifier.
    std::string tokenIdentifier() const;

    // The same wallet or card with another server session.
    SigningSessionContext withSessionId(std::string sessionId) const;

  private:
    struct Wallet {
        std::string sessionId;
        std::string pollingSessionId;
    };
    struct Card {
        std::string sessionId;
        std::shared_ptr<pindle::Card> card;
    };
    explicit SigningSessionContext(std::variant<Wallet, Card> value) : value_(std::move(value)) {}

    std::variant<Wallet, Card> value_;
};
