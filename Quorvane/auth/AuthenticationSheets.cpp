#include "Quorvane/auth/AuthenticationSheets.h"

#include <QPointer>

#include "Quorvane/shell/views/StyledButton.h"

using pindle::CardSigningEvent;

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

SheetPresenter::Content pinInputSheet(std::shared_ptr<PinInputViewModel> model) {
    SheetPresenter::Content content;
    auto* view = new PinInputView(model);
    content.widget = view;
    content.cancel = [view = QPointer<PinInputView>(view)] {
        if (view)
            view->cancel();
    };
    // A replaced sheet's time-out must not end the flow that has moved on.
    content.dismissed = [model] { model->stopTimers(); };
    return content;
}

SheetPresenter::Content walletTrackingSheet(std::shared_ptr<WalletTrackingViewModel> model) {
    SheetPresenter::Content content;
    auto* view = new WalletTrackingView(std::move(model));
    content.widget = view;
    content.cancel = [view = QPointer<WalletTrackingView>(view)] {
        if (view && view->cancelButton() && view->cancelButton()->isEnabled())
            view->cancelButton()->click();
    };
    content.width = WalletTrackingView::sheetWidth;
    return content;
}
