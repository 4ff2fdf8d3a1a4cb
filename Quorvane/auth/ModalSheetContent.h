#pragma once
// The PIN and wallet sheets of the three models that authenticate or sign with a card or the wallet (the
// navigation, signing and account-creation models): a new PIN or wallet model for each presentation, its
// callbacks wired back into the owner (held weakly: once the owner is gone they do nothing) and into the
// owner's card.
//
// An owner's sheet-state type tells the builders what a value asks for:
//     const pindle::CardSigningEvent* pinInputEvent() const;    // the PIN-input case's event, else null
//     std::optional<WalletTrackingIdentifiers> walletTrackingIdentifiers() const;  // the wallet-tracking
//     case
#include <memory>
#include <optional>

#include "Quorvane/auth/PinInputViewModel.h"
#include "Quorvane/auth/SheetPresenter.h"
#include "Quorvane/auth/WalletTrackingAwareViewModel.h"
#include "Quorvane/auth/WalletTrackingViewModel.h"
#include "Quorvane/core/SigningReason.h"
#include "cardbridge/Card.h"
#include "platform/Scheduler.h"

// What the PIN sheet needs of its owner.
class PinInputAwareViewModel {
  public:
    virtual ~PinInputAwareViewModel() = default;
    // The card whose operation asks for the PIN; none for a wallet login.
    virtual std::shared_ptr<pindle::Card> currentCard() const = 0;
    virtual SigningReason currentSigningReason() const = 0;
    // The sheet ended without a PIN, the card's operation already cancelled: by the user (false) or by its
    // time-out (true). The owner decides what becomes of its sheet state.
    virtual void handlePinInputEnded(bool timedOut) = 0;
};

template <class State>
concept PinOrWalletModalState = requires(const State& state) {
    { state.pinInputEvent() } -> std::convertible_to<const pindle::CardSigningEvent*>;
    { state.walletTrackingIdentifiers() } -> std::convertible_to<std::optional<WalletTrackingIdentifiers>>;
};

// A new PIN model for the card event, its timers started and its error feedback posted. A PIN asked for with
// the event makes a keyboard sheet; without one the PIN is typed on the reader.
std::shared_ptr<PinInputViewModel> pinInputSheetContent(const std::shared_ptr<PinInputAwareViewModel>& owner,
                                                        const pindle::CardSigningEvent& event,
                                                        std::shared_ptr<platform::Scheduler> scheduler);

// A new wallet model for the login. Tracking starts in a posted task, except for an account-creation login,
// whose sheet shows its warning first.
std::shared_ptr<WalletTrackingViewModel> walletTrackingSheetContent(
    const std::shared_ptr<WalletTrackingAwareViewModel>& owner, const WalletTrackingIdentifiers& login,
    std::shared_ptr<platform::Scheduler> scheduler);

// The sheet content of the two builders above with their views; each PIN sheet's Esc and close go through
// the PIN model's cancel (nothing once the PIN is handed over), the wallet sheet's through its Cancel.
SheetPresenter::Content pinInputSheet(std::shared_ptr<PinInputViewModel> model);
SheetPresenter::Content walletTrackingSheet(std::shared_ptr<WalletTrackingViewModel> model);

// The content for a value of an owner's sheet state: the PIN sheet, the wallet sheet, or what `other` gives
// for any other case.
template <class Owner, PinOrWalletModalState State, class Other>
SheetPresenter::Content pinOrWalletSheetContent(const std::shared_ptr<Owner>& owner, const State& state,
                                                Other other, std::shared_ptr<platform::Scheduler> scheduler) {
    if (const pindle::CardSigningEvent* event = state.pinInputEvent())
        return pinInputSheet(pinInputSheetContent(owner, *event, std::move(scheduler)));
    if (auto login = state.walletTrackingIdentifiers())
        return walletTrackingSheet(walletTrackingSheetContent(owner, *login, std::move(scheduler)));
    return other(state);
}
