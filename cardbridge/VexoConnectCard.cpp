#include "cardbridge/VexoConnectCard.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "cardbridge/BridgeMessages.h"
#include "cardbridge/VexoConnectInvoker.h"
#include "outside/Common/Common.h"
#include "platform/Codecs.h"

namespace pindle {

namespace {
constexpr std::size_t maxSignatureLength = 511;
}

struct VexoConnectCard::Outcome {
    enum class Kind { reply, errorResponse, otherError } kind = Kind::otherError;
    SignReply reply;
    std::string result;
    std::optional<std::string> resultRaw;
    std::string description;
};

VexoConnectCard::VexoConnectCard(PindleType pindleType, std::string firstName, std::string lastName,
                                 std::string nationalRegisterNumber, std::string uniqueIdentifier,
                                 std::optional<platform::Date> notValidBefore,
                                 std::optional<platform::Date> notValidAfter, platform::Bytes certificateData,
                                 std::shared_ptr<platform::Scheduler> scheduler)
    : CardWithHolderData({std::move(firstName), std::move(lastName), std::move(nationalRegisterNumber),
                          std::move(uniqueIdentifier), notValidBefore, notValidAfter,
                          std::move(certificateData)}),
      pindleType_(pindleType),
      scheduler_(std::move(scheduler)) {}

platform::AsyncStream<CardSigningEvent> VexoConnectCard::sign(const platform::Bytes& data) {
    auto [stream, continuation] = platform::AsyncStream<CardSigningEvent>::make();
    // The operation this one replaces can get no further event (its callbacks and attempt belong to it): its
    // stream ends instead of leaving its consumer waiting for ever, and its exchange ends rather than hold
    // the reader (a pinpad would take the PIN for a signature that nobody waits for).
    endSendTask();
    if (signingContinuation_)
        signingContinuation_->finish();
    ++operation_;
    attemptInFlight_ = false;
    pinClosure_ = 0;
    signingContinuation_ = continuation;
    datatToSign_ = data;
    startSigning(data, continuation);
    return stream;
}

void VexoConnectCard::startSigning(const platform::Bytes& data, const Continuation& continuation) {
    if (pindleType_ == PindleType::pinPad) {
        continuation.yield(CardSigningEvent::of(CardSigningEvent::Kind::waitingForHarwarePinInput));
        startAttempt(data, "null");
    } else {
        continuation.yield(CardSigningEvent::pinRequested(makePinClosure()));
    }
}

CardSigningEvent::ProvidePinClosure VexoConnectCard::makePinClosure() {
    pinClosure_ = ++lastPinClosure_;
    std::weak_ptr<VexoConnectCard> weak = weak_from_this();
    return [weak, operation = operation_, closure = pinClosure_](const std::string& pin) {
        if (auto card = weak.lock())
            card->sendSigningRequest(operation, closure, pin);
    };
}

void VexoConnectCard::sendSigningRequest(std::uint64_t operation, std::uint64_t closure,
                                         const std::string& pin) {
    // A used, superseded or stale callback, or a PIN while an attempt is under way, would spend a try of the
    // card.
    if (operation != operation_ || !signingContinuation_ || closure != pinClosure_ || attemptInFlight_)
        return;
    pinClosure_ = 0;
    if (datatToSign_)
        startAttempt(*datatToSign_, pin);
}

void VexoConnectCard::startAttempt(const platform::Bytes& data, const std::string& pin) {
    if (!signingContinuation_)
        return;
    attemptInFlight_ = true;
    auto send = std::make_shared<SendTask>();
    const bool pinOnReader = pindleType_ == PindleType::pinPad;
    send->invoker = std::make_shared<VexoConnectInvoker>(
        pinOnReader ? std::nullopt : std::optional<platform::Scheduler::Duration>(bridgeTimeLimit),
        scheduler_, uniqueIdentifier());
    currentSigningSendTask_ = send;
    // Started from the event loop, so the caller (a PIN callback) returns at once.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [card = shared_from_this(), operation = operation_, data, pin, continuation = *signingContinuation_,
         send] { runSigning(card, operation, data, pin, continuation, send); },
        Qt::QueuedConnection);
}

QCoro::Task<> VexoConnectCard::runSigning(std::shared_ptr<VexoConnectCard> card, std::uint64_t operation,
                                          platform::Bytes data, std::string pin, Continuation continuation,
                                          std::shared_ptr<SendTask> send) {
    // Cancelled or replaced before it began: no bridge run (a pinpad would ask for the PIN again).
    if (send->cancelled || operation != card->operation_)
        co_return;

    SignRequest request;
    request.cert = platform::base64Encoded(card->certificateData());
    request.digest = platform::base64Encoded(data);
    request.pin = std::move(pin);
    request.correlationId = UUIDProvider().newUUIDString();

    Outcome outcome;
    try {
        outcome.reply = co_await send->invoker->invoke<SignReply>(std::move(request));
        outcome.kind = Outcome::Kind::reply;
    } catch (const VexoConnectError& error) {
        if (error.kind() == VexoConnectError::Case::errorResponse) {
            outcome.kind = Outcome::Kind::errorResponse;
            outcome.result = error.result();
            outcome.resultRaw = error.resultRaw();
        } else {
            outcome.description = error.what();
        }
    } catch (const std::exception& error) {
        outcome.description = error.what();
    }
    card->finishAttempt(operation, send, continuation, outcome);
}

void VexoConnectCard::finishAttempt(std::uint64_t operation, const std::shared_ptr<SendTask>& send,
                                    const Continuation& continuation, const Outcome& outcome) {
    // An attempt whose operation was cancelled or replaced in the meantime changes nothing.
    if (send->cancelled || operation != operation_ || currentSigningSendTask_ != send ||
        !signingContinuation_)
        return;
    attemptInFlight_ = false;

    using Kind = CardSigningEvent::Kind;
    switch (outcome.kind) {
        case Outcome::Kind::reply: {
            std::optional<platform::Bytes> signature;
            if (outcome.reply.signature)
                signature = platform::base64Decoded(*outcome.reply.signature);
            if (signature && signature->size() <= maxSignatureLength)
                continuation.yield(CardSigningEvent::finished(std::move(*signature)));
            else
                continuation.yield(CardSigningEvent::failed("000", "Can't decode received signature"));
            cancelOngoingOperation();
            return;
        }
        case Outcome::Kind::otherError:
            continuation.yield(CardSigningEvent::failed("002", outcome.description));
            cancelOngoingOperation();
            return;
        case Outcome::Kind::errorResponse:
            break;
    }

    const std::string& result = outcome.result;
    const bool pinPad = pindleType_ == PindleType::pinPad;
    if (result == "pin_3_attempts_left" || result == "pin_2_attempts_left" ||
        result == "pin_1_attempt_left") {
        int attemptsLeft = result == "pin_3_attempts_left" ? 3 : result == "pin_2_attempts_left" ? 2 : 1;
        continuation.yield(CardSigningEvent::wrongPin(attemptsLeft, makePinClosure()));
    } else if (result == "no_card") {
        continuation.yield(CardSigningEvent::of(Kind::failedBecauseOfCardRemoval));
        cancelOngoingOperation();
    } else if (result == "card_blocked") {
        continuation.yield(CardSigningEvent::failed("003", "Card PIN is blocked"));
    } else if (result == "general_error" && pinPad && outcome.resultRaw == "27010") {
        continuation.yield(CardSigningEvent::of(Kind::failedButCouldBeCancelledOrWrongPin));
    } else if (result == "general_error" && pinPad && outcome.resultRaw == "2148532246") {
        continuation.yield(CardSigningEvent::of(Kind::failedBecauseOfCardRemoval));
        cancelOngoingOperation();
    } else {
        continuation.yield(CardSigningEvent::failed("001", result));
        cancelOngoingOperation();
    }
}

void VexoConnectCard::endSendTask() {
    if (auto send = std::exchange(currentSigningSendTask_, nullptr)) {
        send->cancelled = true;
        send->invoker->cancel();
    }
}

void VexoConnectCard::cancelOngoingOperation() {
    endSendTask();
    if (signingContinuation_)
        signingContinuation_->finish();
    signingContinuation_.reset();
    datatToSign_.reset();
    ++operation_;
    attemptInFlight_ = false;
    pinClosure_ = 0;
}

void VexoConnectCard::retryOngoingOperation() {
    if (!signingContinuation_)
        return;
    // A retry while an attempt is under way would run a second attempt next to it.
    if (attemptInFlight_)
        return;
    if (datatToSign_)
        startSigning(*datatToSign_, *signingContinuation_);
    else
        cancelOngoingOperation();
}

}  // namespace pindle
