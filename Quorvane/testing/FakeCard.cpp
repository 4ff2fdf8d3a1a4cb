#include "FakeCard.h"

namespace testsupport {

using pindle::CardSigningEvent;

FakeCard::FakeCard(std::string id, std::shared_ptr<CallLog> log) : log(std::move(log)), id_(std::move(id)) {}

platform::Bytes FakeCard::signatureOf(platform::Bytes data) {
    data.insert(data.begin(), 0x5A);
    return data;
}

platform::AsyncStream<CardSigningEvent> FakeCard::sign(const platform::Bytes& data) {
    signedData.push_back(data);
    auto [stream, continuation] = platform::AsyncStream<CardSigningEvent>::make();
    if (!script && signer) {
        continuation.yield(CardSigningEvent::finished(signer(data)));
        continuation.finish();
        return stream;
    }
    if (!script) {
        open_ = continuation;
        continuation.yield(CardSigningEvent::pinRequested(pinClosure(data)));
        return stream;
    }
    for (const auto& event : *script)
        continuation.yield(event);
    if (keepOpen)
        open_ = continuation;
    else
        continuation.finish();
    return stream;
}

CardSigningEvent::ProvidePinClosure FakeCard::pinClosure(platform::Bytes data) {
    return [this, data](const std::string& typed) {
        pins.push_back(typed);
        if (!open_)
            return;
        if (typed == pin)
            open_->yield(CardSigningEvent::finished(signatureOf(data)));
        else
            open_->yield(CardSigningEvent::wrongPin(--tries_, pinClosure(data)));
    };
}

void FakeCard::cancelOngoingOperation() {
    ++cancels;
    log->add("cancel " + id_);
    if (open_)
        open_->finish();
    open_.reset();
}

void FakeCard::retryOngoingOperation() {
    log->add("retry " + id_);
}

}  // namespace testsupport
