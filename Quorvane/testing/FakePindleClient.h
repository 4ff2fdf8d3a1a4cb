#pragma once
// The card-reader client of the tests: it reports `cards`, counts the readings, and can hold a reading until
// the test releases it or keep one under way for ever (a slow reader: started, going longer than expected).
#include <QCoroTask>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cardbridge/PindleClient.h"
#include "platform/qt/AsyncStream.h"

namespace testsupport {

class FakePindleClient : public pindle::PindleClient {
  public:
    std::vector<std::shared_ptr<pindle::Card>> cards;
    // onlyCurrentCards() waits until release().
    bool holdReadings = false;
    // currentCards() starts, goes longer than expected and never ends.
    bool slowReadings = false;
    // Of onlyCurrentCards().
    int readings = 0;

    QCoro::Task<std::vector<std::shared_ptr<pindle::Card>>> onlyCurrentCards() override;
    platform::AsyncStream<pindle::CardFetchingEvent> currentCards() override;
    QCoro::Task<std::shared_ptr<pindle::Card>> getCard(std::string withId) override;

    bool isHolding() const { return held_.has_value(); }
    void release();

  private:
    std::optional<platform::AsyncStream<int>::Continuation> held_;
    std::vector<platform::AsyncStream<pindle::CardFetchingEvent>::Continuation> slow_;
};

}  // namespace testsupport
