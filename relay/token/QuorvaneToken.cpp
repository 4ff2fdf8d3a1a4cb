#include "relay/token/QuorvaneToken.h"

#include "outside/Logger/LoggerClient.h"

namespace pellin {

QuorvaneToken::QuorvaneToken(const QuorvaneTokenDriver& driver, std::string instanceID,
                             std::optional<platform::tokens::TokenConfiguration> configuration)
    : instanceID_(std::move(instanceID)),
      configuration_(std::move(configuration)),
      timeouts_(driver.timeouts()) {}

std::shared_ptr<QuorvaneTokenSession> QuorvaneToken::createSession() {
    return std::make_shared<QuorvaneTokenSession>(shared_from_this());
}

std::shared_ptr<QuorvaneToken> QuorvaneTokenDriver::tokenForConfiguration(
    const std::optional<platform::tokens::TokenConfiguration>& configuration) const {
    return std::make_shared<QuorvaneToken>(*this, configuration ? configuration->instanceID : std::string(),
                                           configuration);
}

QuorvaneTokenSession::QuorvaneTokenSession(std::shared_ptr<QuorvaneToken> token) : token_(std::move(token)) {}

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

void QuorvaneTokenSession::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    if (signing_)
        signing_->cancel();
}

platform::Bytes QuorvaneTokenSession::signData(const platform::Bytes& data, const std::string&,
                                               const std::string&) {
    LoggerClient logger("token");
    auto cancellation = std::make_shared<Cancellation>();
    {
        std::lock_guard lock(mutex_);
        if (closed_)
            cancellation->cancel();
        signing_ = cancellation;
    }
    XPCClientLive client(logger, token_->timeouts(), cancellation);
    const std::string& instanceID = token_->instanceID();
    auto signature = client.requestSignature(data, instanceID);
    {
        std::lock_guard lock(mutex_);
        if (signing_ == cancellation)
            signing_.reset();
    }
    // An empty answer is no signature: the asking application must get the error, not a zero-length result.
    if (!signature || signature->empty()) {
        logger.error("Error fetching signature");
        throw TokenError();
    }
    logger.info("Returning signature");
    return *signature;
}

}  // namespace pellin
