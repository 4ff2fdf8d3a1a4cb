#pragma once
// Which eID card an authentication or a signature goes on with. Given the cards read just before and,
// optionally, the identifier of the wanted card, it hands a card over at once, lists the cards, or asks for
// a card, and meanwhile reads the cards again 0.5 s after each reading until it can hand one over.
//
// A card is handed over at most once: from then on no reading is started, a reading still under way is
// ignored, and the list stays as it was. (Each hand-over starts a card operation with its own PIN sheet.)
//
// Main thread only; made with std::make_shared. The card may be handed over from inside the constructor.
#include <QCoroTask>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CardSelectionViewState.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/Observable.h"
#include "cardbridge/Card.h"
#include "platform/Scheduler.h"

class CardSelectionViewModel : public Observable,
                               public std::enable_shared_from_this<CardSelectionViewModel> {
  public:
    using CardSelected = std::function<void(std::shared_ptr<pindle::Card> card)>;

    static constexpr std::chrono::milliseconds monitoringInterval{500};

    // `doneRequested` is the done button's: it closes the window, and no card is handed over.
    CardSelectionViewModel(std::optional<std::string> wantedCardIdentifier,
                           std::vector<std::shared_ptr<pindle::Card>> cards, CardSelected cardSelected,
                           std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live(),
                           std::function<void()> doneRequested = nullptr);
    ~CardSelectionViewModel() override;
    CardSelectionViewModel(const CardSelectionViewModel&) = delete;
    CardSelectionViewModel& operator=(const CardSelectionViewModel&) = delete;

    // Observed.
    const CardSelectionViewState& viewState() const { return viewState_; }
    // The insert-card panel's headline: the wanted card's holder when the session store knows its
    // certificate.
    const std::string& guidanceText() const { return guidanceText_; }
    // The pending re-read; none once monitoring has ended.
    const std::shared_ptr<platform::Timer>& monitoringTimer() const { return monitoringTimer_; }

    const std::optional<std::string> wantedCardIdentifier;

    // The holder picked a listed card: monitoring stops, and the card is handed over (unless one was
    // already).
    void select(std::shared_ptr<pindle::Card> card);
    bool hasHandedOverCard() const { return handedOver_; }
    // The done button.
    void done() const;

  private:
    void updateGuidanceText();
    void handle(const std::vector<std::shared_ptr<pindle::Card>>& cards);
    void scheduleMonitoringTimer();
    void stopMonitoring();
    void handOver(std::shared_ptr<pindle::Card> card);
    static QCoro::Task<> readCurrentCards(std::shared_ptr<CardSelectionViewModel> self);

    CardSelectionViewState viewState_ = CardSelectionViewState::noCards();
    std::string guidanceText_;
    std::shared_ptr<platform::Timer> monitoringTimer_;
    CardSelected cardSelected_;
    std::function<void()> doneRequested_;
    bool handedOver_ = false;
    std::shared_ptr<platform::Scheduler> scheduler_;
    Dependency<PindleClientKey> _pindleClient;
    Dependency<SigningSessionDatabaseKey> _signingSessionDatabase;
};
