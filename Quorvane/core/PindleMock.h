#pragma once
// A card-reader client for previews and tests: it reports the cards of its mode at once and never runs the
// bridge. The updating mode steps through cycledModes, one mode per request.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cardbridge/PindleClient.h"
#include "platform/Scheduler.h"

class PindleMock final : public pindle::PindleClient, public std::enable_shared_from_this<PindleMock> {
  public:
    struct Mode {
        enum class Kind { updating, custom, noCards, oneCard, threeCards };

        // Steps through the mock's cycledModes; the list is what a new mock starts its cycle with.
        static Mode updating(std::vector<Mode> beween) { return {Kind::updating, std::move(beween), {}}; }
        // Exactly these cards, the same objects on every request.
        static Mode custom(std::vector<std::shared_ptr<pindle::Card>> cards) {
            return {Kind::custom, {}, std::move(cards)};
        }
        static Mode noCards() { return {Kind::noCards, {}, {}}; }
        // Sample card B.
        static Mode oneCard() { return {Kind::oneCard, {}, {}}; }
        // Sample cards A, B and C.
        static Mode threeCards() { return {Kind::threeCards, {}, {}}; }

        Kind kind;
        std::vector<Mode> beween;                          // updating
        std::vector<std::shared_ptr<pindle::Card>> cards;  // custom
    };

    // The mock must be owned by a shared_ptr: the event task of currentCards() holds it.
    static std::shared_ptr<PindleMock> make(
        Mode mode, std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live());

    // The cards of the current mode, at once.
    QCoro::Task<std::vector<std::shared_ptr<pindle::Card>>> onlyCurrentCards() override;
    // A new stream that receives one finished event from a task posted to the main thread; it is not finished
    // while the mock lives.
    platform::AsyncStream<pindle::CardFetchingEvent> currentCards() override;
    // The first card of a currentCards() reading with that identifier, or nothing.
    QCoro::Task<std::shared_ptr<pindle::Card>> getCard(std::string withId) override;

    Mode mode;
    // Filled from the list an updating mode carries; may be set freely afterwards.
    std::vector<Mode> cycledModes;
    // Position of the next mode taken from cycledModes; any value is brought into range when it is read.
    std::int64_t currentCycledModeIndex = 0;

  private:
    PindleMock(Mode mode, std::shared_ptr<platform::Scheduler> scheduler);

    // The card list of the current mode; advances the cycle of the updating mode by one step.
    std::vector<std::shared_ptr<pindle::Card>> cardsOfCurrentMode();
    std::vector<std::shared_ptr<pindle::Card>> cardsOf(const Mode& mode) const;

    std::shared_ptr<platform::Scheduler> scheduler_;
    std::vector<platform::AsyncStream<pindle::CardFetchingEvent>::Continuation> openStreams_;
};
