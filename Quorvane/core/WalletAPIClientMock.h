#pragma once
// A wallet-polling client for previews and tests: polling fails with otherError and an empty message.
#include "api/Clients.h"

class WalletAPIClientMock final : public halcyra::WalletAPIClient {
  public:
    QCoro::Task<halcyra::WalletPollingResponse> pollWallet(std::string pollingSessionId) override;
};
