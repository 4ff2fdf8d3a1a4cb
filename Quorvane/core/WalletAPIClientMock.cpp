#include "WalletAPIClientMock.h"

using namespace halcyra;

QCoro::Task<WalletPollingResponse> WalletAPIClientMock::pollWallet(std::string) {
    throw HalcyraError::otherError("");
    co_return {};
}
