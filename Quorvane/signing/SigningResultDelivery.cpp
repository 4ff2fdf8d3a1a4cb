#include "SigningResultDelivery.h"

#include "Quorvane/core/BulkSigningCallback.h"
#include "Quorvane/core/XPCClient.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/Codecs.h"

SigningResultDelivery::SigningResultDelivery(std::optional<std::string> callbackLink,
                                             std::shared_ptr<XPCClient> xpcClient,
                                             std::shared_ptr<LoggerClient> logger, URLOpener openURL)
    : callbackLink_(std::move(callbackLink)),
      xpcClient_(std::move(xpcClient)),
      logger_(std::move(logger)),
      openURL_(std::move(openURL)) {}

std::optional<SigningResultDelivery::Answer> SigningResultDelivery::answer(
    const std::vector<std::string>& signatures) const {
    if (callbackLink_)
        return bulksigning::callbackWithQueryItem(*callbackLink_, "signatures", signatures);
    std::optional<platform::Bytes> signature;
    if (!signatures.empty())
        signature = platform::base64URLDecoded(signatures.front());
    if (!signature || signature->empty())
        return std::nullopt;
    return *signature;
}

void SigningResultDelivery::deliver(const Answer& answer) {
    if (const auto* url = std::get_if<std::string>(&answer)) {
        hasAlreadyOpenedCallback_ = true;
        openCallback(*url);
    } else {
        xpcClient_->sendSignature(std::get<platform::Bytes>(answer));
    }
}

void SigningResultDelivery::deliverFailure(const std::optional<AppError>& error, bool firstEnding) {
    if (callbackLink_) {
        if (hasAlreadyOpenedCallback_)
            return;
        hasAlreadyOpenedCallback_ = true;
        openCallback(bulksigning::callbackWithQueryItem(*callbackLink_, "error",
                                                        error ? error->message : "Cancelled"));
    } else if (firstEnding) {
        xpcClient_->cancelTokenCommunication();
    }
}

void SigningResultDelivery::openCallback(const std::string& url) {
    // The shell takes only web addresses in; this is the last check before the desktop opens it.
    if (!bulksigning::isAcceptedCallback(url)) {
        logger_->error("Bulk signing callback not opened: not an http or https URL");
        return;
    }
    openURL_(url);
}
