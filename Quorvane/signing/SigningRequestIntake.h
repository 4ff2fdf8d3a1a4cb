#pragma once
// How a signing request comes in, up to the token it is to be signed with. A bulk request from a deep link is
// checked at once (every hash exact Base64) and names its token in "tokenId". A request over XPC waits for
// the token: the app connects to the relay, registers, says it is ready, and gives the token 30 s to send its
// hash; when the token does not ask in time the relay's agent is registered anew and the request fails.
//
// Main thread only. Make it with std::make_shared: the relay's handlers and the timer hold it weakly. Once
// stopped it reports nothing more.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Quorvane/core/AppError.h"
#include "Quorvane/core/BulkSigningRequest.h"
#include "platform/Bytes.h"
#include "platform/Scheduler.h"

class LaunchAgentService;
class LoggerClient;
class XPCClient;

class SigningRequestIntake : public std::enable_shared_from_this<SigningRequestIntake> {
  public:
    // How long the token has to send its hash once the app is ready.
    static constexpr std::chrono::milliseconds tokenRequestTimeout{30'000};

    // The token's hash has come, with the instance id of the token to sign with.
    using HashReceived = std::function<void(platform::Bytes hash, std::string instanceID)>;
    // The request cannot go on.
    using Failed = std::function<void(AppError error)>;

    // The outcome of a bulk request's checks: the token to sign with, or the failure (already logged).
    struct BulkCheck {
        std::optional<std::string> tokenIdentifier;
        std::optional<AppError> failure;
    };

    SigningRequestIntake(std::shared_ptr<XPCClient> xpcClient,
                         std::shared_ptr<LaunchAgentService> launchAgentService,
                         std::shared_ptr<LoggerClient> logger, std::shared_ptr<platform::Scheduler> scheduler,
                         HashReceived hashReceived, Failed failed);
    ~SigningRequestIntake();
    SigningRequestIntake(const SigningRequestIntake&) = delete;
    SigningRequestIntake& operator=(const SigningRequestIntake&) = delete;

    // A request without documents has nothing to sign, and a hash that is not exactly Base64 cannot be signed
    // for what its sender meant: either is refused before the user logs in or consents to anything.
    static BulkCheck checkBulkRequest(const BulkSigningRequest& request, LoggerClient& logger);
    // The token identifier of a bulk request's "tokenId": its last piece between colons, or the whole text
    // when it has none.
    static std::string tokenIdentifier(const std::string& tokenId);
    // The hash a bulk request's documents are signed under: the SHA-256 of their hashes, each decoded from
    // strict standard Base64, sorted as unsigned bytes and concatenated. None when a hash does not decode.
    static std::optional<platform::Bytes> bulkHashToSign(
        const std::vector<BulkSigningRequest::Document>& documents);

    // Connects to the relay, registers, says the app is ready and starts the 30 s wait for the token's hash.
    void waitForTokenRequest();
    // The pending 30 s wait.
    const std::shared_ptr<platform::Timer>& timeoutTimer() const { return timeoutTimer_; }

    // What the relay and the timer bring; nothing once stopped.
    void handleTokenRequestTimeout();
    void handleTokenSignRequest(platform::Bytes hash, std::string instanceID);
    // The relay failed: its error, or the keychain failure "000" when it gave none.
    void handleCommunicationError(std::optional<AppError> error);

    // The flow has ended: the wait stops and nothing is reported any more.
    void stop();

  private:
    void stopTimeoutTimer();

    std::shared_ptr<XPCClient> xpcClient_;
    std::shared_ptr<LaunchAgentService> launchAgentService_;
    std::shared_ptr<LoggerClient> logger_;
    std::shared_ptr<platform::Scheduler> scheduler_;
    HashReceived hashReceived_;
    Failed failed_;
    std::shared_ptr<platform::Timer> timeoutTimer_;
    bool stopped_ = false;
};
