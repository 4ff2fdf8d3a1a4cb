#include "cardbridge/PindleClientVexoConnect.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <chrono>

#include "cardbridge/VexoConnectCard.h"
#include "cardbridge/VexoConnectInvoker.h"
#include "outside/Common/Common.h"
#include "platform/Certificate.h"
#include "platform/Codecs.h"

namespace pindle {

namespace {
constexpr std::chrono::milliseconds longerThanExpected{2000};
}

// One reading: the events so far, replayed to every consumer that joins, and the consumers' continuations.
struct PindleClientVexoConnect::Reading {
    std::vector<CardFetchingEvent> events;
    std::vector<platform::AsyncStream<CardFetchingEvent>::Continuation> consumers;
    bool ended = false;
};

std::shared_ptr<PindleClient> PindleClientProvider::keychainClient(
    std::set<std::string> allowedPolicyOIDs, std::shared_ptr<platform::Scheduler> scheduler) {
    return std::make_shared<PindleClientVexoConnect>(std::move(allowedPolicyOIDs), std::move(scheduler));
}

PindleClientVexoConnect::PindleClientVexoConnect(std::set<std::string> allowedPolicyOIDs,
                                                 std::shared_ptr<platform::Scheduler> scheduler)
    : allowedPolicyOIDs_(std::move(allowedPolicyOIDs)), scheduler_(std::move(scheduler)) {}

platform::AsyncStream<CardFetchingEvent> PindleClientVexoConnect::currentCards() {
    auto [stream, continuation] = platform::AsyncStream<CardFetchingEvent>::make();
    if (currentCardReadingStream_) {
        for (const auto& event : currentCardReadingStream_->events)
            continuation.yield(event);
        currentCardReadingStream_->consumers.push_back(continuation);
        return stream;
    }
    auto reading = std::make_shared<Reading>();
    reading->consumers.push_back(continuation);
    // Recorded before the reading can end, so a reading that fails at once does not stay recorded.
    currentCardReadingStream_ = reading;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [client = shared_from_this(), reading] { runReading(client, reading); },
        Qt::QueuedConnection);
    return stream;
}

void PindleClientVexoConnect::publish(const std::shared_ptr<Reading>& reading,
                                      const CardFetchingEvent& event) {
    if (reading->ended)
        return;
    reading->events.push_back(event);
    for (const auto& consumer : reading->consumers)
        consumer.yield(event);
}

QCoro::Task<> PindleClientVexoConnect::runReading(std::shared_ptr<PindleClientVexoConnect> client,
                                                  std::shared_ptr<Reading> reading) {
    UserCertsRequest request;
    request.correlationId = UUIDProvider().newUUIDString();
    client->publish(reading, {CardFetchingEvent::Kind::started, {}});

    if (client->cardReadingDelayTask_)
        client->cardReadingDelayTask_->invalidate();
    std::weak_ptr<Reading> weakReading = reading;
    std::weak_ptr<PindleClientVexoConnect> weakClient = client;
    client->cardReadingDelayTask_ =
        client->scheduler_->scheduleOnce(longerThanExpected, [weakClient, weakReading] {
            auto client = weakClient.lock();
            auto reading = weakReading.lock();
            if (client && reading)
                client->publish(reading, {CardFetchingEvent::Kind::goingLongerThanExpected, {}});
        });
    auto delayTask = client->cardReadingDelayTask_;

    std::vector<std::shared_ptr<Card>> cards;
    try {
        // A bridge that does not answer in time is terminated; the reading then ends like any failed one.
        VexoConnectInvoker invoker(bridgeTimeLimit, client->scheduler_);
        auto reply = co_await invoker.invoke<UserCertsReply>(std::move(request));
        cards = makeCards(reply, client->scheduler_);
    } catch (const std::exception&) {
        // A failed exchange reads as no cards.
        cards.clear();
    }

    delayTask->invalidate();
    if (client->cardReadingDelayTask_ == delayTask)
        client->cardReadingDelayTask_.reset();
    client->publish(reading, {CardFetchingEvent::Kind::finished, std::move(cards)});
    reading->ended = true;
    for (const auto& consumer : reading->consumers)
        consumer.finish();
    if (client->currentCardReadingStream_ == reading)
        client->currentCardReadingStream_.reset();
}

std::vector<std::shared_ptr<Card>> PindleClientVexoConnect::makeCards(
    const UserCertsReply& reply, const std::shared_ptr<platform::Scheduler>& scheduler) {
    std::vector<std::shared_ptr<Card>> cards;
    for (const auto& reader : reply.readers) {
        auto type = pindleTypeFromRaw(reader.readerType);
        if (!type)
            continue;
        for (const auto& text : reader.certificates) {
            auto der = platform::base64Decoded(text);
            if (!der)
                continue;
            auto certificate = platform::Certificate::fromDER(*der);
            if (!certificate)
                continue;
            auto identifier = uniqueId(*certificate);
            if (!identifier)
                continue;
            cards.push_back(std::make_shared<VexoConnectCard>(
                *type, subjectFirstName(*certificate).value_or(""), subjectSurname(*certificate).value_or(""),
                subjectSerialNumber(*certificate).value_or(""), *identifier, notValidBefore(*certificate),
                notValidAfter(*certificate), data(*certificate), scheduler));
        }
    }
    return cards;
}

QCoro::Task<std::vector<std::shared_ptr<Card>>> PindleClientVexoConnect::onlyCurrentCards() {
    auto self = shared_from_this();  // the client lives until the reading has ended
    auto stream = currentCards();
    while (auto event = co_await stream.next()) {
        if (event->kind == CardFetchingEvent::Kind::finished)
            co_return event->cards;
    }
    co_return std::vector<std::shared_ptr<Card>>{};
}

QCoro::Task<std::shared_ptr<Card>> PindleClientVexoConnect::getCard(std::string withId) {
    auto self = shared_from_this();
    auto stream = currentCards();
    while (auto event = co_await stream.next()) {
        if (event->kind != CardFetchingEvent::Kind::finished)
            continue;
        for (const auto& card : event->cards)
            if (card->uniqueIdentifier() == withId)
                co_return card;
        co_return std::shared_ptr<Card>();
    }
    co_return std::shared_ptr<Card>();
}

}  // namespace pindle
