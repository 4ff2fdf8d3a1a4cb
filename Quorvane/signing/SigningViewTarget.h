#pragma once
// What the signing screen shows: the card selection, looking for one card, or a message (with the waiting
// indicator while the flow works).
#include <string>
#include <variant>

struct SigningViewTarget {
    struct CardSelection {
        std::string wantedCardIdentifier;
        friend bool operator==(const CardSelection&, const CardSelection&) = default;
    };
    struct Info {
        std::string message;
        bool isWaiting = false;
        friend bool operator==(const Info&, const Info&) = default;
    };

    std::variant<CardSelection, Info> value;

    static SigningViewTarget cardSelection(std::string wantedCardIdentifier) {
        return {CardSelection{std::move(wantedCardIdentifier)}};
    }
    static SigningViewTarget info(std::string message, bool isWaiting) {
        return {Info{std::move(message), isWaiting}};
    }

    friend bool operator==(const SigningViewTarget&, const SigningViewTarget&) = default;
};
