#pragma once
// The wallet-polling client of the tests: it answers `reply`, or passes each poll on to another client (a
// live one, to count the polls that reach the server and those answered); it records every call and can hold
// or fail them.
#include <memory>
#include <string>

#include "CallLog.h"
#include "Calls.h"
#include "api/Clients.h"

namespace testsupport {

class FakeWalletClient : public halcyra::WalletAPIClient {
  public:
    halcyra::WalletPollingResponse reply{halcyra::WalletPollingStatus::scanPending, std::nullopt,
                                         std::nullopt, std::nullopt};
    std::shared_ptr<halcyra::WalletAPIClient> forwardTo;

    // "pollWallet <polling session>".
    std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
    Calls<std::string> pollCalls;

    QCoro::Task<halcyra::WalletPollingResponse> pollWallet(std::string pollingSessionId) override;
};

}  // namespace testsupport
