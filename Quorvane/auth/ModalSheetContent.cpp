#include "Quorvane/auth/ModalSheetContent.h"

#include "Quorvane/auth/PinInputView.h"
#include "Quorvane/auth/WalletTrackingView.h"

namespace {

using pindle::CardSigningEvent;

QCoro::Task<WalletTrackingIdentifiers> refreshThroughOwner(
    std::weak_ptr<WalletTrackingAwareViewModel> weakOwner, std::string sessionId) {
    auto owner = weakOwner.lock();
    if (!owner)
        co_return WalletTrackingIdentifiers{};
    co_return co_await owner->refreshWalletSession(std::move(sessionId));
}

}  // namespace

std::shared_ptr<PinInputViewModel> pinInputSheetContent(const std::shared_ptr<PinInputAwareViewModel>& owner,
                                                        const CardSigningEvent& event,
                                                        std::shared_ptr<platform::Scheduler> scheduler) {
    std::function<void(const std::string&)> pinProvided;
    std::optional<int> remainingPinTries;
    auto pinPadReaderState = PinPadReaderState::waiting;
    switch (event.kind) {
        case CardSigningEvent::Kind::pinRequested:
            pinProvided = event.providePinClosure;
            break;
        case CardSigningEvent::Kind::wrongPin:
            pinProvided = event.providePinClosure;
            remainingPinTries = event.attemptsLeft;
            break;
        case CardSigningEvent::Kind::failedButCouldBeCancelledOrWrongPin:
            pinPadReaderState = PinPadReaderState::errorOccuredThatCouldJustifyRetry;
            break;
        case CardSigningEvent::Kind::failed:
        case CardSigningEvent::Kind::finished:
        case CardSigningEvent::Kind::waitingForHarwarePinInput:
        case CardSigningEvent::Kind::failedBecauseOfCardRemoval:
            break;
    }

    std::weak_ptr<PinInputAwareViewModel> weakOwner = owner;
    auto cancelRequested = [weakOwner](bool timedOut) {
        auto owner = weakOwner.lock();
        if (!owner)
            return;
        if (auto card = owner->currentCard())
            card->cancelOngoingOperation();
        owner->handlePinInputEnded(timedOut);
    };
    auto retryRequested = [weakOwner] {
        auto owner = weakOwner.lock();
        if (!owner)
            return;
        if (auto card = owner->currentCard())
            card->retryOngoingOperation();
    };
    auto model = std::make_shared<PinInputViewModel>(
        owner->currentSigningReason(), remainingPinTries, pinPadReaderState, std::move(pinProvided),
        std::move(cancelRequested), std::move(retryRequested), scheduler);
    model->startTimers();
    scheduler->post([model, remainingPinTries] { model->triggerErrorFeedback(remainingPinTries); });
    return model;
}

std::shared_ptr<WalletTrackingViewModel> walletTrackingSheetContent(
    const std::shared_ptr<WalletTrackingAwareViewModel>& owner, const WalletTrackingIdentifiers& login,
    std::shared_ptr<platform::Scheduler> scheduler) {
    std::weak_ptr<WalletTrackingAwareViewModel> weakOwner = owner;
    const auto reason = owner->currentSigningReason();
    auto model = std::make_shared<WalletTrackingViewModel>(
        login.sessionId, login.pollingSessionId.value_or(""), reason,
        [weakOwner](WalletTrackingResult result) {
            if (auto owner = weakOwner.lock())
                owner->handleWalletTrackingResult(std::move(result));
        },
        [weakOwner](std::string sessionId) { return refreshThroughOwner(weakOwner, std::move(sessionId)); },
        [weakOwner] {
            if (auto owner = weakOwner.lock())
                owner->handleWalletQrCodeScanned();
        },
        [weakOwner] {
            if (auto owner = weakOwner.lock())
                owner->handleWalletTrackingCancellation();
        });
    // An account-creation login shows its warning first; tracking waits for its Continue.
    if (reason.kind != SigningReason::Kind::accountCreationAuthentication)
        scheduler->post([model] { model->startTracking(); });
    return model;
}

SheetPresenter::Content pinInputSheet(std::shared_ptr<PinInputViewModel> model) {
    SheetPresenter::Content content;
    content.widget = new PinInputView(model);
    content.cancel = [model] {
        // As the sheet's Cancel button; a PIN already handed over is the card's to answer.
        if (model->hasSubmitted())
            return;
        model->stopTimers();
        if (model->cancelRequested)
            model->cancelRequested(false);
    };
    // A replaced sheet's time-out must not end the flow that has moved on.
    content.dismissed = [model] { model->stopTimers(); };
    return content;
}

SheetPresenter::Content walletTrackingSheet(std::shared_ptr<WalletTrackingViewModel> model) {
    SheetPresenter::Content content;
    content.widget = new WalletTrackingView(model);
    content.cancel = [model] { model->cancel(); };
    content.width = 600;
    return content;
}
