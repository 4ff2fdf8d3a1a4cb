#pragma once
// The card reading client over the bridge. Its state lives on the main thread. Callers that arrive while a
// reading is under way join it instead of starting another bridge process; each of them gets a stream of its
// own that carries every event of that reading from the start. A bridge that does not answer the card list
// within bridgeTimeLimit is terminated: the reading ends with no cards for every consumer, and the next call
// starts a new one.
#include <memory>
#include <set>

#include "cardbridge/BridgeMessages.h"
#include "cardbridge/PindleClient.h"

namespace pindle {

class PindleClientVexoConnect : public PindleClient,
                                public std::enable_shared_from_this<PindleClientVexoConnect> {
  public:
    PindleClientVexoConnect(std::set<std::string> allowedPolicyOIDs,
                            std::shared_ptr<platform::Scheduler> scheduler);

    QCoro::Task<std::vector<std::shared_ptr<Card>>> onlyCurrentCards() override;
    platform::AsyncStream<CardFetchingEvent> currentCards() override;
    QCoro::Task<std::shared_ptr<Card>> getCard(std::string withId) override;

    const std::set<std::string>& allowedPolicyOIDs() const { return allowedPolicyOIDs_; }

    // The cards of a reply, reader by reader in reply order; their signatures are timed on the scheduler.
    static std::vector<std::shared_ptr<Card>> makeCards(
        const UserCertsReply& reply, const std::shared_ptr<platform::Scheduler>& scheduler);

  private:
    struct Reading;
    static QCoro::Task<> runReading(std::shared_ptr<PindleClientVexoConnect> client,
                                    std::shared_ptr<Reading> reading);
    void publish(const std::shared_ptr<Reading>& reading, const CardFetchingEvent& event);

    // Kept for the client's life; cards are not filtered by certificate policy.
    std::set<std::string> allowedPolicyOIDs_;
    std::shared_ptr<platform::Scheduler> scheduler_;
    std::shared_ptr<platform::Timer> cardReadingDelayTask_;
    std::shared_ptr<Reading> currentCardReadingStream_;
};

}  // namespace pindle
