#include "CardSelectionViewModel.h"

#include "Quorvane/core/SigningSessionDatabaseClient.h"
#include "cardbridge/PindleClient.h"
#include "platform/qt/Localizable.h"

CardSelectionViewModel::CardSelectionViewModel(std::optional<std::string> wantedCardIdentifier,
                                               std::vector<std::shared_ptr<pindle::Card>> cards,
                                               CardSelected cardSelected,
                                               std::shared_ptr<platform::Scheduler> scheduler,
                                               std::function<void()> doneRequested)
    : wantedCardIdentifier(std::move(wantedCardIdentifier)),
      guidanceText_(L("Enter your eID card")),
      cardSelected_(std::move(cardSelected)),
      doneRequested_(std::move(doneRequested)),
      scheduler_(std::move(scheduler)) {
    updateGuidanceText();
    handle(cards);
}

CardSelectionViewModel::~CardSelectionViewModel() {
    // The timer's action reaches the model without holding it.
    if (monitoringTimer_)
        monitoringTimer_->invalidate();
}

void CardSelectionViewModel::updateGuidanceText() {
    if (!wantedCardIdentifier)
        return;
    if (auto info = _signingSessionDatabase->signingCertificateInfo(*wantedCardIdentifier))
        setObserved(guidanceText_, L("Enter the eID card for %@", info->fullName));
}

void CardSelectionViewModel::handle(const std::vector<std::shared_ptr<pindle::Card>>& cards) {
    if (handedOver_)
        return;
    if (!wantedCardIdentifier) {
        if (cards.size() == 1) {
            handOver(cards.front());
            return;
        }
        setObserved(viewState_, cards.empty() ? CardSelectionViewState::noCards()
                                              : CardSelectionViewState::availableCards(cards));
        scheduleMonitoringTimer();
        return;
    }
    // A wanted card is taken without listing anything.
    setObserved(viewState_, CardSelectionViewState::noCards());
    for (const auto& card : cards) {
        if (card->uniqueIdentifier() == *wantedCardIdentifier) {
            handOver(card);
            return;
        }
    }
    scheduleMonitoringTimer();
}

void CardSelectionViewModel::scheduleMonitoringTimer() {
    // Reached only through the timer: a model that is going away invalidates it first.
    auto timer = scheduler_->scheduleOnce(monitoringInterval, [this] {
        auto self = weak_from_this().lock();
        if (!self || handedOver_)
            return;
        readCurrentCards(self);
    });
    setObserved(monitoringTimer_, std::move(timer));
}

void CardSelectionViewModel::stopMonitoring() {
    if (!monitoringTimer_)
        return;
    monitoringTimer_->invalidate();
    setObserved(monitoringTimer_, nullptr);
}

void CardSelectionViewModel::select(std::shared_ptr<pindle::Card> card) {
    stopMonitoring();
    handOver(std::move(card));
}

void CardSelectionViewModel::done() const {
    if (doneRequested_)
        doneRequested_();
}

void CardSelectionViewModel::handOver(std::shared_ptr<pindle::Card> card) {
    if (handedOver_)
        return;
    handedOver_ = true;
    stopMonitoring();
    // The owner may let go of this model from inside.
    auto self = weak_from_this().lock();
    auto selected = cardSelected_;
    if (selected)
        selected(std::move(card));
}

QCoro::Task<> CardSelectionViewModel::readCurrentCards(std::shared_ptr<CardSelectionViewModel> self) {
    auto stream = self->_pindleClient->currentCards();
    while (auto event = co_await stream.next()) {
        if (self->handedOver_)
            co_return;
        switch (event->kind) {
            case pindle::CardFetchingEvent::Kind::started:
                break;
            case pindle::CardFetchingEvent::Kind::goingLongerThanExpected:
                if (self->viewState_.kind != CardSelectionViewState::Kind::availableCards)
                    self->setObserved(self->viewState_, CardSelectionViewState::longReadOngoing());
                break;
            case pindle::CardFetchingEvent::Kind::finished:
                self->handle(event->cards);
                break;
        }
    }
}
