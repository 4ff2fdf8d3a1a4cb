#include "CardMock.h"

CardMock::CardMock(std::string firstName, std::string lastName, std::string nationalRegisterNumber,
                   std::string uniqueIdentifier, std::optional<platform::Date> notValidBefore,
                   std::optional<platform::Date> notValidAfter, platform::Bytes certificateData)
    : pindle::CardWithHolderData({std::move(firstName), std::move(lastName),
                                  std::move(nationalRegisterNumber), std::move(uniqueIdentifier),
                                  notValidBefore, notValidAfter, std::move(certificateData)}) {}

platform::AsyncStream<pindle::CardSigningEvent> CardMock::sign(const platform::Bytes&) {
    auto [stream, continuation] = platform::AsyncStream<pindle::CardSigningEvent>::make();
    continuation.yield(pindle::CardSigningEvent::failed("000", "Mock error"));
    openStreams_.push_back(continuation);
    return stream;
}
