#include "TokenDriverConfiguration.h"

#include "outside/Common/Common.h"
#include "platform/Certificate.h"

using platform::tokens::TokenConfiguration;
using platform::tokens::TokenStoreError;

TokenDriverConfiguration::TokenDriverConfiguration(platform::tokens::TokenStore store,
                                                   std::shared_ptr<LoggerClient> logger,
                                                   DriverFolder driverFolder)
    : TokenDriverConfiguration(std::move(store),
                               LoggerSource([logger = std::move(logger)] { return logger; }), driverFolder) {}

TokenDriverConfiguration::TokenDriverConfiguration(platform::tokens::TokenStore store, LoggerSource logger,
                                                   DriverFolder driverFolder)
    : store_(std::move(store)), logger_(std::move(logger)), driverFolder_(driverFolder) {}

void TokenDriverConfiguration::logError(const std::string& message) const {
    if (auto logger = logger_ ? logger_() : nullptr)
        logger->error(message);
}

bool TokenDriverConfiguration::registerToken(const std::string& instanceID,
                                             const platform::Bytes& certificateData) {
    if (driverFolder_ == DriverFolder::madeOnRegistration) {
        try {
            store_.installDriver();
        } catch (const TokenStoreError& error) {
            logError("Token not registered for " + instanceID + ": " + error.what());
            return false;
        }
    }
    if (!store_.isDriverInstalled())
        return false;
    if (!platform::Certificate::fromDER(certificateData)) {
        logError("Token not registered for " + instanceID + ": the certificate does not parse");
        return false;
    }
    // The configuration is written whole: a renewed certificate replaces the earlier items rather than
    // joining them, or the token would go on serving the old certificate first.
    try {
        store_.writeConfiguration(TokenConfiguration::forCertificate(instanceID, certificateData));
        return true;
    } catch (const TokenStoreError& error) {
        logError("Token not registered for " + instanceID + ": " + error.what());
        return false;
    }
}

std::optional<platform::Bytes> TokenDriverConfiguration::certificateData(
    const std::string& instanceID) const {
    if (!store_.isDriverInstalled())
        return std::nullopt;
    auto configuration = store_.configuration(instanceID);
    if (!configuration)
        return std::nullopt;
    return configuration->certificateData();
}

void TokenDriverConfiguration::removeToken(const std::string& instanceID) {
    if (!store_.isDriverInstalled())
        return;
    try {
        store_.removeConfiguration(instanceID);
    } catch (const TokenStoreError& error) {
        logError("Token not removed for " + instanceID + ": " + error.what());
    }
}

void TokenDriverConfiguration::removeAllTokens() {
    if (!store_.isDriverInstalled())
        return;
    for (const auto& configuration : store_.configurations())
        removeToken(configuration.instanceID);
}

void TokenDriverConfiguration::removeStaleTokens(platform::Date now) {
    if (!store_.isDriverInstalled())
        return;
    for (const auto& configuration : store_.configurations()) {
        auto data = configuration.certificateData();
        if (!data)
            continue;
        auto certificate = platform::Certificate::fromDER(*data);
        if (!certificate)
            continue;
        auto start = notValidBefore(*certificate);
        auto end = notValidAfter(*certificate);
        if (!start || !end)
            continue;
        // The grace is taken off now rather than added to the end: an end near the last date the clock can
        // hold would overflow.
        if (*start > now || *end < now - staleGrace)
            removeToken(configuration.instanceID);
    }
}
