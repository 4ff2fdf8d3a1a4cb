#pragma once
// Small stand-ins for the card reader in the session-store tests: a card that only has an identifier, and a
// card-reader client whose reading ends when the test says so.
#include <QCoroTask>
#include <memory>
#include <string>
#include <vector>

#include "cardbridge/Card.h"
#include "cardbridge/PindleClient.h"
#include "platform/qt/AsyncStream.h"

namespace sessiontest {

class FakeCard : public pindle::Card {
  public:
    explicit FakeCard(std::string uniqueIdentifier) : uniqueIdentifier_(std::move(uniqueIdentifier)) {}
    std::string firstName() const override { return "Ada"; }
    std::string lastName() const override { return "Example"; }
    std::string nationalRegisterNumber() const override { return "00000000000"; }
    std::string uniqueIdentifier() const override { return uniqueIdentifier_; }
    std::optional<platform::Date> notValidBefore() const override { return std::nullopt; }
    std::optional<platform::Date> notValidAfter() const override { return std::nullopt; }
    platform::Bytes certificateData() const override { return {}; }
    platform::AsyncStream<pindle::CardSigningEvent> sign(const platform::Bytes&) override {
        auto [stream, continuation] = platform::AsyncStream<pindle::CardSigningEvent>::make();
        continuation.finish();
        return stream;
    }
    void cancelOngoingOperation() override {}
    void retryOngoingOperation() override {}

  private:
    std::string uniqueIdentifier_;
};

inline std::shared_ptr<pindle::Card> card(std::string id) {
    return std::make_shared<FakeCard>(std::move(id));
}

// Reports `cards`. While `holdReadings` is set, a reading waits until release() is called.
class FakePindleClient : public pindle::PindleClient {
  public:
    std::vector<std::shared_ptr<pindle::Card>> cards;
    bool holdReadings = false;
    int readings = 0;

    QCoro::Task<std::vector<std::shared_ptr<pindle::Card>>> onlyCurrentCards() override {
        ++readings;
        if (holdReadings) {
            auto [stream, continuation] = platform::AsyncStream<int>::make();
            gate_ = continuation;
            co_await stream.next();
        }
        // QCoro moves from what co_return names, even a member: hand it a copy.
        auto current = cards;
        co_return current;
    }
    platform::AsyncStream<pindle::CardFetchingEvent> currentCards() override {
        auto [stream, continuation] = platform::AsyncStream<pindle::CardFetchingEvent>::make();
        continuation.yield({pindle::CardFetchingEvent::Kind::finished, cards});
        return stream;
    }
    QCoro::Task<std::shared_ptr<pindle::Card>> getCard(std::string withId) override {
        for (const auto& card : cards)
            if (card->uniqueIdentifier() == withId)
                co_return card;
        co_return std::shared_ptr<pindle::Card>();
    }

    bool isHolding() const { return gate_.has_value(); }
    void release() {
        if (gate_)
            gate_->finish();
        gate_.reset();
    }

  private:
    std::optional<platform::AsyncStream<int>::Continuation> gate_;
};

}  // namespace sessiontest
