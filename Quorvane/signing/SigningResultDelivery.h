#pragma once
// Where a signing request's answer goes. A request over XPC answers the token: its first signature, or (on
// the flow's first ending only, as the shared client may carry a newer request by then) the cancellation. A
// bulk request answers at its callback link: the signatures joined by commas, or, once, the error
// ("Cancelled" for none). The callback is opened only when it is a web address.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Quorvane/core/AppError.h"
#include "platform/Bytes.h"

class LoggerClient;
class XPCClient;

class SigningResultDelivery {
  public:
    using URLOpener = std::function<void(const std::string& url)>;

    // The answer with signatures: the callback URL to open, or the signature for the token.
    using Answer = std::variant<std::string, platform::Bytes>;

    // Answers at the callback link of a bulk request; without one, the token over XPC.
    SigningResultDelivery(std::optional<std::string> callbackLink, std::shared_ptr<XPCClient> xpcClient,
                          std::shared_ptr<LoggerClient> logger, URLOpener openURL);

    // The answer for the server's signatures (Base64url). None where the token would get no usable signature
    // (none at all, or one that does not decode or is empty): it must never hand an application an empty
    // signature as if it had succeeded.
    std::optional<Answer> answer(const std::vector<std::string>& signatures) const;
    // Gives the answer.
    void deliver(const Answer& answer);
    // Answers a flow that ended without signatures.
    void deliverFailure(const std::optional<AppError>& error, bool firstEnding);

    bool hasAlreadyOpenedCallback() const { return hasAlreadyOpenedCallback_; }

  private:
    void openCallback(const std::string& url);

    std::optional<std::string> callbackLink_;
    std::shared_ptr<XPCClient> xpcClient_;
    std::shared_ptr<LoggerClient> logger_;
    URLOpener openURL_;
    bool hasAlreadyOpenedCallback_ = false;
};
