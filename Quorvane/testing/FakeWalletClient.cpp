#include "FakeWalletClient.h"

namespace testsupport {

QCoro::Task<halcyra::WalletPollingResponse> FakeWalletClient::pollWallet(std::string pollingSessionId) {
    log->add("pollWallet " + pollingSessionId);
    pollCalls.requests.push_back(pollingSessionId);
    decltype(pollCalls)::Answering answering(pollCalls);
    co_await pollCalls.gate.pass();
    pollCalls.failIfSet();
    if (forwardTo)
        co_return co_await forwardTo->pollWallet(std::move(pollingSessionId));
    auto answer = reply;
    co_return answer;
}

}  // namespace testsupport
