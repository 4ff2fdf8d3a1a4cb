#pragma once
// An eID card in a card reader: the holder's data from its certificate, and a signature after the holder's
// PIN. A signature reports each step as a CardSigningEvent on the stream that sign() returns.
#include <functional>
#include <optional>
#include <string>

#include "platform/Bytes.h"
#include "platform/Date.h"
#include "platform/qt/AsyncStream.h"

namespace pindle {

struct CardSigningEvent {
    enum class Kind {
        pinRequested,                         // type the PIN in the app and hand it to providePinClosure
        wrongPin,                             // attemptsLeft remain; hand a new PIN to providePinClosure
        failed,                               // errorCode and errorValue
        finished,                             // signature
        waitingForHarwarePinInput,            // the PIN is being typed on the pinpad reader
        failedButCouldBeCancelledOrWrongPin,  // the pinpad's PIN entry did not succeed
        failedBecauseOfCardRemoval,           // the card was removed or is out of reach
    };
    // Takes the PIN; returns at once. Each callback starts at most one attempt.
    using ProvidePinClosure = std::function<void(const std::string& pin)>;

    Kind kind;
    ProvidePinClosure providePinClosure;  // pinRequested, wrongPin
    int attemptsLeft = 0;                 // wrongPin
    std::string errorCode;                // failed
    std::string errorValue;               // failed
    platform::Bytes signature;            // finished

    static CardSigningEvent pinRequested(ProvidePinClosure closure) {
        return {Kind::pinRequested, std::move(closure), 0, {}, {}, {}};
    }
    static CardSigningEvent wrongPin(int attemptsLeft, ProvidePinClosure closure) {
        return {Kind::wrongPin, std::move(closure), attemptsLeft, {}, {}, {}};
    }
    static CardSigningEvent failed(std::string errorCode, std::string errorValue) {
        return {Kind::failed, {}, 0, std::move(errorCode), std::move(errorValue), {}};
    }
    static CardSigningEvent finished(platform::Bytes signature) {
        return {Kind::finished, {}, 0, {}, {}, std::move(signature)};
    }
    static CardSigningEvent of(Kind kind) { return {kind, {}, 0, {}, {}, {}}; }
};

class Card {
  public:
    virtual ~Card() = default;
    virtual std::string firstName() const = 0;
    virtual std::string lastName() const = 0;
    virtual std::string nationalRegisterNumber() const = 0;
    virtual std::string uniqueIdentifier() const = 0;
    virtual std::optional<platform::Date> notValidBefore() const = 0;
    virtual std::optional<platform::Date> notValidAfter() const = 0;
    virtual platform::Bytes certificateData() const = 0;
    // Starts a signature of the data (the digest handed to the card); the first event is already in the
    // stream.
    virtual platform::AsyncStream<CardSigningEvent> sign(const platform::Bytes& data) = 0;
    // Ends the current signing operation: its stream ends after the events already in it.
    virtual void cancelOngoingOperation() = 0;
    // Starts the current operation over: a new PIN request, or a new pinpad attempt.
    virtual void retryOngoingOperation() = 0;
};

// What a card tells about its holder and certificate, read once when the card is made.
struct CardHolderData {
    std::string firstName;
    std::string lastName;
    std::string nationalRegisterNumber;
    std::string uniqueIdentifier;
    std::optional<platform::Date> notValidBefore;
    std::optional<platform::Date> notValidAfter;
    platform::Bytes certificateData;
};

// A card whose holder data is fixed when it is made; subclasses bring the signing.
class CardWithHolderData : public Card {
  public:
    explicit CardWithHolderData(CardHolderData holder) : holder_(std::move(holder)) {}

    std::string firstName() const override { return holder_.firstName; }
    std::string lastName() const override { return holder_.lastName; }
    std::string nationalRegisterNumber() const override { return holder_.nationalRegisterNumber; }
    std::string uniqueIdentifier() const override { return holder_.uniqueIdentifier; }
    std::optional<platform::Date> notValidBefore() const override { return holder_.notValidBefore; }
    std::optional<platform::Date> notValidAfter() const override { return holder_.notValidAfter; }
    platform::Bytes certificateData() const override { return holder_.certificateData; }

  private:
    CardHolderData holder_;
};

}  // namespace pindle
