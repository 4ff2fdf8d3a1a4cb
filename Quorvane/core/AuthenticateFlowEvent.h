#pragma once
// One step of an authentication as the screens follow it: `ongoing` first, then (card only) the card's
// signing events, then `completed` or `error` as the last event. A card signature that ends without a
// signature ends the stream with neither.
#include <optional>
#include <utility>

#include "SigningSession.h"
#include "api/HalcyraError.h"
#include "cardbridge/Card.h"

struct AuthenticateFlowEvent {
    enum class Kind { signingEvent, error, completed, ongoing };

    Kind kind;
    std::optional<pindle::CardSigningEvent> cardSigningEvent;  // signingEvent: passed on unchanged
    std::optional<halcyra::HalcyraError> halcyraError;         // error
    std::optional<SigningSession> session;                     // completed: already registered
    bool newCertificateRetrieved = false;                      // completed: the token holds a new certificate

    static AuthenticateFlowEvent signingEvent(pindle::CardSigningEvent event) {
        return {Kind::signingEvent, std::move(event), {}, {}, false};
    }
    static AuthenticateFlowEvent error(halcyra::HalcyraError error) {
        return {Kind::error, {}, std::move(error), {}, false};
    }
    static AuthenticateFlowEvent completed(SigningSession session, bool newCertificateRetrieved) {
        return {Kind::completed, {}, {}, std::move(session), newCertificateRetrieved};
    }
    static AuthenticateFlowEvent ongoing() { return {Kind::ongoing, {}, {}, {}, false}; }
};
