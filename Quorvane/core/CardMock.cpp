#include "CardMock.h"

CardMock::CardMock(std::string firstName, std::string lastName, std::string nationalRegisterNumber,
                   std::string uniqueIdentifier, std::optional<platform::Date> notValidBefore,
                   std::optional<platform::Date> notValidAfter, platform::Bytes certificateData)
    : firstName_(std::move(firstName)),
      lastName_(std::move(lastName)),
      nationalRegisterNumber_(std::move(nationalRegisterNumber)),
      uniqueIdentifier_(std::move(uniqueIdentifier)),
      notValidBefore_(notValidBefore),
      notValidAfter_(notValidAfter),
      certificateData_(std::move(certificateData)) {}

platform::AsyncStream<pindle::CardSigningEvent> CardMock::sign(const platform::Bytes&) {
    auto [stream, continuation] = platform::AsyncStream<pindle::CardSigningEvent>::make();
    continuation.yield(pindle::CardSigningEvent::failed("000", "Mock error"));
    return stream;
}
