#pragma once
// The sheet a screen model shows over its screen: none, or one value of the model's own sheet-state type.
// Each new value is a new presentation, with a new sheet model; subscribers (the sheet presenter) hear of new
// values only, never of the model's other fields.
//
// Writing the value it already has changes nothing: absent stays absent, a wallet login stays the same login,
// and states that compare equal stay. Any other write, a new card event above all, is a new value (card
// events carry the card's callbacks and have no equality).
//
// Main thread only.
#include <concepts>
#include <optional>
#include <utility>

#include "Quorvane/core/Observable.h"

template <class State>
class ModalSheetState : public Observable {
  public:
    const std::optional<State>& value() const { return value_; }

    // True when the value changed (subscribers have been told).
    bool set(std::optional<State> newValue) {
        if (isSame(value_, newValue))
            return false;
        value_ = std::move(newValue);
        notify();
        return true;
    }

  private:
    static bool isSame(const std::optional<State>& a, const std::optional<State>& b) {
        if (!a || !b)
            return !a && !b;
        if constexpr (requires { a->walletTrackingSessionId(); }) {
            if (auto login = a->walletTrackingSessionId())
                return login == b->walletTrackingSessionId() &&
                       a->walletTrackingPollingSessionId() == b->walletTrackingPollingSessionId();
        }
        if constexpr (std::equality_comparable<State>)
            return *a == *b;
        else
            return false;
    }

    std::optional<State> value_;
};
