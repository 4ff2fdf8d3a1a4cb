#pragma once
// The live client: builds the request from the environment's base path and the request, hands it to the
// request sender, and checks the status.
#include <memory>
#include <optional>
#include <string>

#include "http/APIEnvironment.h"
#include "http/RequestSender.h"
#include "http/URLRequest.h"
#include "http/VastelClient.h"

namespace vastel {

class VastelClientLive : public VastelClient {
  public:
    // Without a sender, a URLSessionRequestSender for the environment.
    explicit VastelClientLive(APIEnvironment environment,
                              std::shared_ptr<RequestSender> requestSender = nullptr);

    const APIEnvironment& environment() const { return environment_; }
    const std::shared_ptr<RequestSender>& requestSender() const { return requestSender_; }

    std::optional<std::string> absolutePathUntyped(const AnyNetworkRequest& request) const override;
    QCoro::Task<NetworkResponse<platform::Bytes>> sendUntyped(AnyNetworkRequest request) override;

  private:
    APIEnvironment environment_;
    std::shared_ptr<RequestSender> requestSender_;
};

// Builds the request: base path text + path text (nothing inserted), 60 s time-out, method, body, the
// Content-Type default for a body, then the caller's header fields. Throws APIError for a URL that does not
// parse, and what the body's encoding throws.
URLRequest makeURLRequest(const std::string& basePath, const AnyNetworkRequest& request);

}  // namespace vastel
