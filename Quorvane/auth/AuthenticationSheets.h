#pragma once
// What the authentication flow offers the other flows (signing, account), and all they may use of it: the PIN
// and wallet sheets of a model that authenticates or signs with a card or the wallet, the interfaces such a
// model and its sheet state implement to show them ("aware" of the PIN and of the wallet), and the card
// selection. Everything else in this folder is the authentication flow's own.
//
// Each presentation gets a new PIN or wallet model, its callbacks wired back into the owner (held weakly:
// once the owner is gone they do nothing) and into the owner's card.
#include <memory>
#include <optional>

#include "Quorvane/auth/CardSelectionView.h"
#include "Quorvane/auth/CardSelectionViewModel.h"
#include "Quorvane/auth/PinInputView.h"
#include "Quorvane/auth/PinInputViewModel.h"
#include "Quorvane/auth/WalletTrackingAwareModalState.h"
#include "Quorvane/auth/WalletTrackingAwareViewModel.h"
#include "Quorvane/auth/WalletTrackingView.h"
#include "Quorvane/auth/WalletTrackingViewModel.h"
#include "Quorvane/core/SigningReason.h"
#include "Quorvane/shell/views/ModalSheetState.h"
#include "Quorvane/shell/views/SheetPresenter.h"
#include "cardbridge/Card.h"
#include "platform/Scheduler.h"

// The sheet state of a model that shows the PIN sheet: its PIN-input case carries the card's event.
class PinInputAwareModalState {
  public:
    virtual ~PinInputAwareModalState() = default;
    // The event of the PIN-input case; null for every other case.
    virtual const pindle::CardSigningEvent* pinInputEvent() const = 0;
};

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

// A new PIN model for the card event, its timers started and its error feedback posted. A PIN asked for with
// the event makes a keyboard sheet; without one the PIN is typed on the reader.
std::shared_ptr<PinInputViewModel> pinInputSheetContent(const std::shared_ptr<PinInputAwareViewModel>& owner,
                                                        const pindle::CardSigningEvent& event,
                                                        std::shared_ptr<platform::Scheduler> scheduler);

// A new wallet model for the login (its polling session still to be fetched when the login has none).
// Tracking starts in a posted task, except for an account-creation login, whose sheet warns of the second
// login first and starts on its Continue.
template <class Owner>
std::shared_ptr<WalletTrackingViewModel> walletTrackingSheetContent(
    const std::shared_ptr<Owner>& owner, const WalletTrackingIdentifiers& login,
    std::shared_ptr<platform::Scheduler> scheduler) {
    static constexpr std::int64_t secondsRemaining = 300;
    const auto reason = owner->currentSigningReason();
    auto model = WalletTrackingViewModel::make(
        login.sessionId, login.pollingSessionId.value_or(""), secondsRemaining, reason,
        walletTrackingCallbacks(std::weak_ptr<Owner>(owner)), scheduler);
    if (reason.kind != SigningReason::Kind::accountCreationAuthentication)
        scheduler->post([model] { model->startTracking(); });
    return model;
}

// The sheet contents of the two models with their views. Esc and the sheet's close button take each view's
// Cancel: nothing where the view offers none (a pinpad reader waiting, a PIN handed over, a login that has
// succeeded).
SheetPresenter::Content pinInputSheet(std::shared_ptr<PinInputViewModel> model);
SheetPresenter::Content walletTrackingSheet(std::shared_ptr<WalletTrackingViewModel> model);

template <class State>
concept PinOrWalletModalState = std::derived_from<State, PinInputAwareModalState> &&
    std::derived_from<State, WalletTrackingAwareModalState>;

// The content for a value of an owner's sheet state: the PIN sheet, the wallet sheet, or what `other` gives
// for any other case.
template <class Owner, PinOrWalletModalState State, class Other>
SheetPresenter::Content pinOrWalletSheetContent(const std::shared_ptr<Owner>& owner, const State& state,
                                                Other other, std::shared_ptr<platform::Scheduler> scheduler) {
    if (const pindle::CardSigningEvent* event = state.pinInputEvent())
        return pinInputSheet(pinInputSheetContent(owner, *event, std::move(scheduler)));
    if (auto sessionId = state.walletTrackingSessionId())
        return walletTrackingSheet(walletTrackingSheetContent(
            owner, WalletTrackingIdentifiers{*sessionId, state.walletTrackingPollingSessionId()},
            std::move(scheduler)));
    return other(state);
}
