#include "PindleMock.h"

#include "SampleCards.h"

using pindle::Card;
using pindle::CardFetchingEvent;

std::shared_ptr<PindleMock> PindleMock::make(Mode mode, std::shared_ptr<platform::Scheduler> scheduler) {
    return std::shared_ptr<PindleMock>(new PindleMock(std::move(mode), std::move(scheduler)));
}

PindleMock::PindleMock(Mode mode, std::shared_ptr<platform::Scheduler> scheduler)
    : mode(std::move(mode)), scheduler_(std::move(scheduler)) {
    if (this->mode.kind == Mode::Kind::updating)
        cycledModes = this->mode.beween;
}

QCoro::Task<std::vector<std::shared_ptr<Card>>> PindleMock::onlyCurrentCards() {
    co_return cardsOfCurrentMode();
}

platform::AsyncStream<CardFetchingEvent> PindleMock::currentCards() {
    auto [stream, continuation] = platform::AsyncStream<CardFetchingEvent>::make();
    openStreams_.push_back(continuation);
    // Posted, so the event arrives after the caller has its stream, and the cycle moves when the task runs.
    scheduler_->post([self = shared_from_this(), continuation] {
        continuation.yield({CardFetchingEvent::Kind::finished, self->cardsOfCurrentMode()});
    });
    return stream;
}

QCoro::Task<std::shared_ptr<Card>> PindleMock::getCard(std::string withId) {
    auto stream = currentCards();
    while (auto event = co_await stream.next()) {
        if (event->kind != CardFetchingEvent::Kind::finished)
            continue;
        for (const auto& card : event->cards) {
            if (card->uniqueIdentifier() == withId)
                co_return card;
        }
        co_return std::shared_ptr<Card>{};
    }
    co_return std::shared_ptr<Card>{};
}

std::vector<std::shared_ptr<Card>> PindleMock::cardsOfCurrentMode() {
    if (mode.kind != Mode::Kind::updating)
        return cardsOf(mode);
    // An updating entry in the cycle takes the next entry in its place; a cycle of nothing but updating
    // entries, like an empty one, reports no card instead of going round for ever.
    const auto count = static_cast<std::int64_t>(cycledModes.size());
    for (std::int64_t step = 0; step < count; ++step) {
        const auto position = ((currentCycledModeIndex % count) + count) % count;
        currentCycledModeIndex = (position + 1) % count;
        const auto& taken = cycledModes[static_cast<std::size_t>(position)];
        if (taken.kind != Mode::Kind::updating)
            return cardsOf(taken);
    }
    return {};
}

std::vector<std::shared_ptr<Card>> PindleMock::cardsOf(const Mode& mode) const {
    switch (mode.kind) {
        case Mode::Kind::custom:
            return mode.cards;
        case Mode::Kind::oneCard:
            return {SampleCards::cardB()};
        case Mode::Kind::threeCards:
            return SampleCards::all(scheduler_->now());
        case Mode::Kind::noCards:
        case Mode::Kind::updating:
            break;
    }
    return {};
}
