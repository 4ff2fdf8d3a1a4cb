#include "FakePindleClient.h"

namespace testsupport {

using pindle::Card;
using pindle::CardFetchingEvent;

QCoro::Task<std::vector<std::shared_ptr<Card>>> FakePindleClient::onlyCurrentCards() {
    ++readings;
    if (holdReadings) {
        auto [stream, continuation] = platform::AsyncStream<int>::make();
        held_ = continuation;
        co_await stream.next();
    }
    // QCoro moves from what co_return names, even a member: hand it a copy.
    auto current = cards;
    co_return current;
}

platform::AsyncStream<CardFetchingEvent> FakePindleClient::currentCards() {
    auto [stream, continuation] = platform::AsyncStream<CardFetchingEvent>::make();
    if (slowReadings) {
        continuation.yield({CardFetchingEvent::Kind::started, {}});
        continuation.yield({CardFetchingEvent::Kind::goingLongerThanExpected, {}});
        slow_.push_back(continuation);
    } else {
        continuation.yield({CardFetchingEvent::Kind::finished, cards});
    }
    return stream;
}

QCoro::Task<std::shared_ptr<Card>> FakePindleClient::getCard(std::string withId) {
    for (const auto& card : cards)
        if (card->uniqueIdentifier() == withId)
            co_return card;
    co_return std::shared_ptr<Card>();
}

void FakePindleClient::release() {
    if (held_)
        held_->finish();
    held_.reset();
}

}  // namespace testsupport
