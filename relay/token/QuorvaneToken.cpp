#include "relay/token/QuorvaneToken.h"

#include "outside/Logger/LoggerClient.h"
#include "relay/common/XPCProtocols.h"

namespace pellin {

QuorvaneToken::QuorvaneToken(const QuorvaneTokenDriver&, std::string instanceID,
                             std::optional<platform::tokens::TokenConfiguration> configuration)
    : instanceID_(std::move(instanceID)), configuration_(std::move(configuration)) {}

std::shared_ptr<QuorvaneTokenSession> QuorvaneToken::createSession() {
    return std::make_shared<QuorvaneTokenSession>(shared_from_this());
}

std::shared_ptr<QuorvaneToken> QuorvaneTokenDriver::tokenForConfiguration(
    const std::optional<platform::tokens::TokenConfiguration>& configuration) const {
    return std::make_shared<QuorvaneToken>(*this, configuration ? configuration->instanceID : std::string(),
                                           configuration);
}

QuorvaneTokenSession::QuorvaneTokenSession(std::shared_ptr<QuorvaneToken> token,
                                           std::optional<Timeouts> timeouts)
    : token_(std::move(token)), timeouts_(timeouts) {}

bool QuorvaneTokenSession::supportsOperation(TokenOperation operation, const std::string&,
                                             const std::string& algorithm) const {
    if (operation != TokenOperation::signData)
        return false;
    for (const char* supported :
         {algorithms::ecdsaSignatureDigestX962SHA256, algorithms::ecdsaSignatureDigestX962SHA384,
          algorithms::ecdsaSignatureDigestX962SHA512})
        if (algorithm == supported)
            return true;
    return false;
}

platform::Bytes QuorvaneTokenSession::signData(const platform::Bytes& data, const std::string&,
                                               const std::string&) const {
    LoggerClient logger("token");
    XPCClientLive client(logger, timeouts_ ? *timeouts_ : Timeouts::scaled(relay::timeScale()));
    const std::string& instanceID = token_->instanceID();
    auto signature = client.requestSignature(data, instanceID);
    // An empty answer is no signature: the asking application must get the error, not a zero-length result.
    if (!signature || signature->empty()) {
        logger.error("Error fetching signature");
        throw TokenError();
    }
    logger.info("Returning signature");
    return *signature;
}

}  // namespace pellin
