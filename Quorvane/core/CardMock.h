#pragma once
// A card for previews and tests: fixed holder data, and a signature that always fails at once.
#include <optional>
#include <string>

#include "cardbridge/Card.h"

class CardMock final : public pindle::Card {
  public:
    CardMock(std::string firstName, std::string lastName, std::string nationalRegisterNumber,
             std::string uniqueIdentifier, std::optional<platform::Date> notValidBefore,
             std::optional<platform::Date> notValidAfter, platform::Bytes certificateData);

    std::string firstName() const override { return firstName_; }
    std::string lastName() const override { return lastName_; }
    std::string nationalRegisterNumber() const override { return nationalRegisterNumber_; }
    std::string uniqueIdentifier() const override { return uniqueIdentifier_; }
    std::optional<platform::Date> notValidBefore() const override { return notValidBefore_; }
    std::optional<platform::Date> notValidAfter() const override { return notValidAfter_; }
    platform::Bytes certificateData() const override { return certificateData_; }

    // The stream holds one failed event ("000", "Mock error") and is never finished; the data is not read.
    platform::AsyncStream<pindle::CardSigningEvent> sign(const platform::Bytes& data) override;
    void cancelOngoingOperation() override {}
    void retryOngoingOperation() override {}

  private:
    std::string firstName_;
    std::string lastName_;
    std::string nationalRegisterNumber_;
    std::string uniqueIdentifier_;
    std::optional<platform::Date> notValidBefore_;
    std::optional<platform::Date> notValidAfter_;
    platform::Bytes certificateData_;
};
