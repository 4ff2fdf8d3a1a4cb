#pragma once
// Helpers of the authentication facade's tests: a reader of event streams and a short text per event.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "Quorvane/core/QuorvaneAPI.h"
#include "platform/testing/Eventually.h"

namespace authtest {

using pindle::CardSigningEvent;
using testsupport::eventually;
using Events = std::vector<AuthenticateFlowEvent>;

struct Collected {
    Events events;
    bool ended = false;
};

inline QCoro::Task<> consume(platform::AsyncStream<AuthenticateFlowEvent> stream,
                             std::shared_ptr<Collected> into,
                             std::function<void(const AuthenticateFlowEvent&)> onEvent) {
    while (auto event = co_await stream.next()) {
        if (onEvent)
            onEvent(*event);
        into->events.push_back(std::move(*event));
    }
    into->ended = true;
}

// Every event of the stream until it ends (a failure when it does not end within 30 s). `onEvent` sees each
// event as it arrives, e.g. to type a PIN.
inline Events collect(platform::AsyncStream<AuthenticateFlowEvent> stream,
                      std::function<void(const AuthenticateFlowEvent&)> onEvent = {}) {
    auto collected = std::make_shared<Collected>();
    consume(std::move(stream), collected, std::move(onEvent));
    EXPECT_TRUE(eventually([&] { return collected->ended; }, std::chrono::seconds(30)))
        << "the event stream did not end";
    return collected->events;
}

// A short text per event, so that a whole stream compares as one list.
inline std::string describe(const AuthenticateFlowEvent& event) {
    using Kind = AuthenticateFlowEvent::Kind;
    switch (event.kind) {
        case Kind::ongoing:
            return "ongoing";
        case Kind::completed:
            return std::string("completed ") + (event.newCertificateRetrieved ? "new" : "kept");
        case Kind::error:
            switch (event.halcyraError->kind()) {
                case halcyra::HalcyraError::Kind::backendError:
                    return "error backend " + std::to_string(event.halcyraError->statusCode());
                case halcyra::HalcyraError::Kind::networkError:
                    return "error network";
                case halcyra::HalcyraError::Kind::otherError:
                    return "error other";
            }
            return "error";
        case Kind::signingEvent:
            switch (event.cardSigningEvent->kind) {
                case CardSigningEvent::Kind::pinRequested:
                    return "card pinRequested";
                case CardSigningEvent::Kind::wrongPin:
                    return "card wrongPin " + std::to_string(event.cardSigningEvent->attemptsLeft);
                case CardSigningEvent::Kind::failed:
                    return "card failed " + event.cardSigningEvent->errorCode;
                case CardSigningEvent::Kind::finished:
                    return "card finished";
                case CardSigningEvent::Kind::waitingForHarwarePinInput:
                    return "card waitingForHarwarePinInput";
                case CardSigningEvent::Kind::failedButCouldBeCancelledOrWrongPin:
                    return "card failedButCouldBeCancelledOrWrongPin";
                case CardSigningEvent::Kind::failedBecauseOfCardRemoval:
                    return "card failedBecauseOfCardRemoval";
            }
    }
    return "?";
}

inline std::vector<std::string> describe(const Events& events) {
    std::vector<std::string> out;
    for (const auto& event : events)
        out.push_back(describe(event));
    return out;
}

}  // namespace authtest
