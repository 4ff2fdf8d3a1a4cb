#pragma once
// The authentication facade of the tests, logging each login ("runAuthentication <token> <session>", with
// " retrieving" when the certificate is to be retrieved). With `script` set a login plays it (the stream then
// ends, unless `keepOpen`: the test feeds it through `open`). Without one a login runs as the app's would on
// a card or wallet that is always accepted: `ongoing`, for a card a PIN request whose PIN completes it, and
// `completed` with a new session in `store` (ending at 1'800'003'600 s after 1970).
#include <memory>
#include <optional>
#include <vector>

#include "CallLog.h"
#include "Quorvane/core/QuorvaneAPIClient.h"
#include "Quorvane/core/SigningSessionDatabaseClient.h"

namespace testsupport {

class FakeQuorvaneAPI : public QuorvaneAPIClient {
  public:
    explicit FakeQuorvaneAPI(std::shared_ptr<SigningSessionDatabaseClient> store = nullptr,
                             std::shared_ptr<CallLog> log = std::make_shared<CallLog>())
        : store(std::move(store)), log(std::move(log)) {}

    std::optional<std::vector<AuthenticateFlowEvent>> script;
    bool keepOpen = false;
    std::optional<platform::AsyncStream<AuthenticateFlowEvent>::Continuation> open;
    // What a login without a script reports of the certificate.
    bool newCertificateRetrieved = false;

    std::shared_ptr<SigningSessionDatabaseClient> store;
    std::shared_ptr<CallLog> log;

    platform::AsyncStream<AuthenticateFlowEvent> runAuthentication(SigningSessionContext context,
                                                                   bool retrieveCertificate) override;
};

}  // namespace testsupport
