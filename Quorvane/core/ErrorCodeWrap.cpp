#include "ErrorCodeWrap.h"

#include "platform/qt/Localizable.h"

#include "platform/BundleInfo.h"
#include "platform/qt/SystemInfo.h"

using halcyra::HalcyraError;

std::string ErrorCodeWrap::errorText(ErrorCodeCategory category, const std::string& code,
                                     const std::string& message, const LoggerClient* logger) {
    std::string headline = std::to_string(rawValue(category)) + code + ": " + message;
    std::string text =
        headline + "\n\n" + "Intel " + operatingSystemVersionText() + " - " + appVersionText() + "\n";
    if (logger)
        logger->error(headline);
    return text;
}

std::string ErrorCodeWrap::errorText(const AppError& error, const LoggerClient* logger) {
    if (error.apiError && error.sourceFlow) {
        std::string code = std::to_string(rawValue(*error.sourceFlow)) + error.code;
        if (error.apiError->kind() == HalcyraError::Kind::backendError)
            code += '-' + std::to_string(error.apiError->statusCode());
        return errorText(ErrorCodeCategory::backend, code, message(*error.apiError), logger);
    }
    return errorText(error.category, error.code, error.message, logger);
}

std::string ErrorCodeWrap::message(const HalcyraError& error) {
    switch (error.kind()) {
        case HalcyraError::Kind::backendError: {
            std::string supportIds;
            for (std::size_t i = 0; i < error.supportIds().size(); ++i) {
                if (i > 0)
                    supportIds += ", ";
                supportIds += error.supportIds()[i];
            }
            return supportIds.empty() ? error.message() : error.message() + " - " + supportIds;
        }
        case HalcyraError::Kind::networkError:
            return L("Network error, please verify your internet connection.");
        case HalcyraError::Kind::otherError:
            return error.message();
    }
    return error.message();
}

std::string ErrorCodeWrap::operatingSystemVersionText() {
    return platform::SystemInfo::operatingSystemVersionText();
}

std::string ErrorCodeWrap::appVersionText() {
    auto shortVersion = platform::BundleInfo::mainInfoValue(platform::BundleInfo::shortVersionKey);
    auto build = platform::BundleInfo::mainInfoValue(platform::BundleInfo::versionKey);
    if (!shortVersion || !build)
        return "Unknown app version";
    return "App version " + *shortVersion + " (" + *build + ")";
}
