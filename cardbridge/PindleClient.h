#pragma once
// Finding the eID cards in the card readers: one reading is one "USERCERTS" exchange with the bridge, and
// every usable certificate of the reply becomes a Card.
#include <QCoroTask>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cardbridge/Card.h"
#include "platform/Scheduler.h"
#include "platform/qt/AsyncStream.h"

namespace pindle {

struct CardFetchingEvent {
    enum class Kind {
        finished,                 // the reading is over; cards holds what it found (possibly nothing)
        started,                  // always the first event
        goingLongerThanExpected,  // the reading has not finished 2 s after it began
    };
    Kind kind;
    std::vector<std::shared_ptr<Card>> cards;
};

class PindleClient {
  public:
    virtual ~PindleClient() = default;
    // Waits for the end of a reading (the one under way, or a new one) and gives its cards.
    virtual QCoro::Task<std::vector<std::shared_ptr<Card>>> onlyCurrentCards() = 0;
    // The events of the reading under way, or of a new reading started at once.
    virtual platform::AsyncStream<CardFetchingEvent> currentCards() = 0;
    // Waits for the end of a reading and gives its first card with that identifier, or nothing.
    virtual QCoro::Task<std::shared_ptr<Card>> getCard(std::string withId) = 0;
};

class PindleClientProvider {
  public:
    // A new, independent client over the bridge. The scheduler times the 2 s "longer than expected" event and
    // the bridge's time limits.
    static std::shared_ptr<PindleClient> keychainClient(
        std::set<std::string> allowedPolicyOIDs,
        std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live());
};

}  // namespace pindle
