#include "SigningRequestIntake.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "Quorvane/core/LaunchAgentService.h"
#include "Quorvane/core/XPCClient.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/Codecs.h"
#include "platform/SHA256.h"
#include "platform/qt/Localizable.h"

using platform::Bytes;

namespace {

const char* const keychainMessage = "Could not communicate with the keychain, operation cancelled.";

}  // namespace

SigningRequestIntake::SigningRequestIntake(std::shared_ptr<XPCClient> xpcClient,
                                           std::shared_ptr<LaunchAgentService> launchAgentService,
                                           std::shared_ptr<LoggerClient> logger,
                                           std::shared_ptr<platform::Scheduler> scheduler,
                                           HashReceived hashReceived, Failed failed)
    : xpcClient_(std::move(xpcClient)),
      launchAgentService_(std::move(launchAgentService)),
      logger_(std::move(logger)),
      scheduler_(std::move(scheduler)),
      hashReceived_(std::move(hashReceived)),
      failed_(std::move(failed)) {}

SigningRequestIntake::~SigningRequestIntake() {
    // A wait left running would fail a later request on the shared relay.
    if (timeoutTimer_)
        timeoutTimer_->invalidate();
}

SigningRequestIntake::BulkCheck SigningRequestIntake::checkBulkRequest(const BulkSigningRequest& request,
                                                                       LoggerClient& logger) {
    if (request.signData.empty()) {
        logger.error("Bulk signing request holds no document");
        return {std::nullopt, AppError(ErrorCodeCategory::app, std::nullopt, "000",
                                       L("The signing request holds no document to sign."), std::nullopt)};
    }
    if (!bulkHashToSign(request.signData)) {
        logger.error("Bulk signing request holds a hash that is not valid Base64");
        return {
            std::nullopt,
            AppError(ErrorCodeCategory::app, std::nullopt, "000",
                     L("The signing request holds a document hash that is not valid Base64."), std::nullopt)};
    }
    return {tokenIdentifier(request.tokenId), std::nullopt};
}

std::string SigningRequestIntake::tokenIdentifier(const std::string& tokenId) {
    std::string_view last;
    for (std::string_view rest = tokenId; !rest.empty();) {
        const auto colon = rest.find(':');
        if (const auto piece = rest.substr(0, colon); !piece.empty())
            last = piece;
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
    return last.empty() ? tokenId : std::string(last);
}

std::optional<Bytes> SigningRequestIntake::bulkHashToSign(
    const std::vector<BulkSigningRequest::Document>& documents) {
    std::vector<Bytes> hashes;
    for (const auto& document : documents) {
        auto hash = platform::base64Decoded(document.hash);
        if (!hash)
            return std::nullopt;
        hashes.push_back(std::move(*hash));
    }
    // Bytes compare as unsigned, and a prefix sorts first. (Compared here rather than by the vectors' own
    // operator, whose inlined memcmp GCC 12 at -O3 takes for an overread.)
    std::sort(hashes.begin(), hashes.end(), [](const Bytes& a, const Bytes& b) {
        const std::size_t common = std::min(a.size(), b.size());
        const int order = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
        return order != 0 ? order < 0 : a.size() < b.size();
    });
    Bytes concatenated;
    for (const auto& hash : hashes)
        concatenated.insert(concatenated.end(), hash.begin(), hash.end());
    return platform::sha256(concatenated);
}

void SigningRequestIntake::waitForTokenRequest() {
    if (stopped_)
        return;
    stopTimeoutTimer();
    std::weak_ptr<SigningRequestIntake> weak = weak_from_this();
    timeoutTimer_ = scheduler_->scheduleOnce(tokenRequestTimeout, [weak] {
        if (auto self = weak.lock())
            self->handleTokenRequestTimeout();
    });
    // Whatever an earlier request left on the shared client goes first.
    xpcClient_->disconnect();
    xpcClient_->connect();
    xpcClient_->registerWithService();
    auto scheduler = scheduler_;
    xpcClient_->setSignatureRequestHandler(
        [weak, scheduler](const Bytes& hash, const std::string& instanceID) {
            scheduler->post([weak, hash, instanceID] {
                if (auto self = weak.lock())
                    self->handleTokenSignRequest(hash, instanceID);
            });
        });
    xpcClient_->setCommunicationErrorHandler([weak, scheduler](const AppError& error) {
        scheduler->post([weak, error] {
            if (auto self = weak.lock())
                self->handleCommunicationError(error);
        });
    });
    xpcClient_->sendAppIsReady();
}

void SigningRequestIntake::stopTimeoutTimer() {
    if (timeoutTimer_)
        timeoutTimer_->invalidate();
    timeoutTimer_ = nullptr;
}

void SigningRequestIntake::handleTokenRequestTimeout() {
    if (stopped_)
        return;
    timeoutTimer_ = nullptr;
    logger_->error(
        "Timed out waiting for XPC message from persistent token, attempting to reboot XPC service.");
    launchAgentService_->reregisterService();
    failed_(AppError(ErrorCodeCategory::xpc, std::nullopt, "001", L(keychainMessage), std::nullopt));
}

void SigningRequestIntake::handleTokenSignRequest(Bytes hash, std::string instanceID) {
    if (stopped_)
        return;
    stopTimeoutTimer();
    hashReceived_(std::move(hash), std::move(instanceID));
}

void SigningRequestIntake::handleCommunicationError(std::optional<AppError> error) {
    if (stopped_)
        return;
    stopTimeoutTimer();
    failed_(error ? std::move(*error)
                  : AppError(ErrorCodeCategory::xpc, std::nullopt, "000", L(keychainMessage), std::nullopt));
}

void SigningRequestIntake::stop() {
    stopped_ = true;
    stopTimeoutTimer();
}
