#pragma once
// The eID card of the tests. A signature plays `script` when one is set (then ends, unless `keepOpen`);
// without one it asks for the PIN on the keyboard: `pin` gives the signature, 0x5A followed by the signed
// data, and any other PIN costs a try and asks again. An operation left open ends when it is cancelled, as a
// card's does. The card records what is signed, the PINs typed, and the cancels and retries.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CallLog.h"
#include "cardbridge/Card.h"

namespace testsupport {

class FakeCard : public pindle::Card {
  public:
    explicit FakeCard(std::string id = "card-1", std::shared_ptr<CallLog> log = std::make_shared<CallLog>());

    std::string first = "Ann";
    std::string last = "Peeters";
    std::string nationalNumber = "71715100070";
    std::optional<platform::Date> validFrom;
    std::optional<platform::Date> validUntil;
    // Standard Base64 "+/8+AQ==": tells the two Base64 alphabets apart.
    platform::Bytes certificate{0xfb, 0xff, 0x3e, 0x01};

    std::optional<std::vector<pindle::CardSigningEvent>> script;
    bool keepOpen = false;
    std::function<platform::Bytes(const platform::Bytes&)> signer;
    std::string pin = "1234";

    // "cancel <id>", "retry <id>".
    std::shared_ptr<CallLog> log;
    std::vector<platform::Bytes> signedData;
    std::vector<std::string> pins;
    int cancels = 0;

    // The signature the PIN gives for the data.
    static platform::Bytes signatureOf(platform::Bytes data);

    std::string firstName() const override { return first; }
    std::string lastName() const override { return last; }
    std::string nationalRegisterNumber() const override { return nationalNumber; }
    std::string uniqueIdentifier() const override { return id_; }
    std::optional<platform::Date> notValidBefore() const override { return validFrom; }
    std::optional<platform::Date> notValidAfter() const override { return validUntil; }
    platform::Bytes certificateData() const override { return certificate; }
    platform::AsyncStream<pindle::CardSigningEvent> sign(const platform::Bytes& data) override;
    void cancelOngoingOperation() override;
    void retryOngoingOperation() override;

  private:
    pindle::CardSigningEvent::ProvidePinClosure pinClosure(platform::Bytes data);

    std::string id_;
    int tries_ = 3;
    std::optional<platform::AsyncStream<pindle::CardSigningEvent>::Continuation> open_;
};

}  // namespace testsupport
