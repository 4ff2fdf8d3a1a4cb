#include "CardDataToSign.h"

#include "api/HalcyraError.h"
#include "platform/Codecs.h"

platform::Bytes cardDataToSign(const std::optional<std::string>& hashToSign) {
    if (!hashToSign)
        throw halcyra::HalcyraError::otherError("The server sent no data to sign");
    auto data = platform::base64URLDecoded(*hashToSign);
    if (!data || data->empty())
        throw halcyra::HalcyraError::otherError("The data to sign could not be decoded");
    return std::move(*data);
}
