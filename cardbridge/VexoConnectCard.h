#pragma once
// A card reached through the bridge. It holds at most one signing operation; all of its state lives on the
// main thread. One PIN attempt runs at a time: every PIN callback works once and only while it is the latest
// one handed out, a PIN or a retry that arrives while an attempt is under way is ignored, and an attempt
// whose operation was cancelled or replaced changes nothing on the card.
// The bridge exchanges of one card (the card is in one reader) take turns, across card objects: an operation
// that ends terminates its exchange, and a new exchange starts once the bridge before it has exited. Only a
// PIN typed on a pinpad reader is waited for without a time limit. Made with std::make_shared: callbacks hold
// the card weakly, attempts strongly.
#include <cstdint>
#include <memory>

#include "cardbridge/Card.h"
#include "cardbridge/PindleType.h"
#include "platform/Scheduler.h"

namespace pindle {

class VexoConnectInvoker;

class VexoConnectCard : public CardWithHolderData, public std::enable_shared_from_this<VexoConnectCard> {
  public:
    VexoConnectCard(PindleType pindleType, std::string firstName, std::string lastName,
                    std::string nationalRegisterNumber, std::string uniqueIdentifier,
                    std::optional<platform::Date> notValidBefore, std::optional<platform::Date> notValidAfter,
                    platform::Bytes certificateData,
                    std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live());

    PindleType pindleType() const { return pindleType_; }

    platform::AsyncStream<CardSigningEvent> sign(const platform::Bytes& data) override;
    void cancelOngoingOperation() override;
    void retryOngoingOperation() override;

  private:
    using Continuation = platform::AsyncStream<CardSigningEvent>::Continuation;
    struct SendTask {
        bool cancelled = false;
        std::shared_ptr<VexoConnectInvoker> invoker;
    };
    struct Outcome;

    void startSigning(const platform::Bytes& data, const Continuation& continuation);
    CardSigningEvent::ProvidePinClosure makePinClosure();
    void sendSigningRequest(std::uint64_t operation, std::uint64_t closure, const std::string& pin);
    void startAttempt(const platform::Bytes& data, const std::string& pin);
    static QCoro::Task<> runSigning(std::shared_ptr<VexoConnectCard> card, std::uint64_t operation,
                                    platform::Bytes data, std::string pin, Continuation continuation,
                                    std::shared_ptr<SendTask> send);
    void finishAttempt(std::uint64_t operation, const std::shared_ptr<SendTask>& send,
                       const Continuation& continuation, const Outcome& outcome);
    // Cancels the recorded send task and ends its bridge exchange.
    void endSendTask();

    PindleType pindleType_;
    // Times the bridge's answer when the PIN is not typed on the reader.
    std::shared_ptr<platform::Scheduler> scheduler_;
    std::optional<Continuation> signingContinuation_;
    std::optional<platform::Bytes> datatToSign_;
    std::shared_ptr<SendTask> currentSigningSendTask_;
    // The current operation's number (a new one per sign() and after each cancel), whether its attempt is
    // under way, and the number of the one PIN callback that may still start an attempt (0: none).
    std::uint64_t operation_ = 0;
    bool attemptInFlight_ = false;
    std::uint64_t pinClosure_ = 0;
    std::uint64_t lastPinClosure_ = 0;
};

}  // namespace pindle
