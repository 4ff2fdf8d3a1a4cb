#pragma once
// A card for previews and tests: fixed holder data, and a signature that always fails at once.
#include <optional>
#include <string>
#include <vector>

#include "cardbridge/Card.h"

class CardMock final : public pindle::CardWithHolderData {
  public:
    CardMock(std::string firstName, std::string lastName, std::string nationalRegisterNumber,
             std::string uniqueIdentifier, std::optional<platform::Date> notValidBefore,
             std::optional<platform::Date> notValidAfter, platform::Bytes certificateData);

    // The stream holds one failed event ("000", "Mock error") and is not finished while the card lives; the
    // data is not read.
    platform::AsyncStream<pindle::CardSigningEvent> sign(const platform::Bytes& data) override;
    void cancelOngoingOperation() override {}
    void retryOngoingOperation() override {}

  private:
    std::vector<platform::AsyncStream<pindle::CardSigningEvent>::Continuation> openStreams_;
};
