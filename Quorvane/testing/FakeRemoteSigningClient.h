#pragma once
// The remote-signing client of the tests: it answers as it is set up, records every call (in its log, one
// line each, and the requests per operation) and can hold or fail its calls.
//
//   getAccountStatus      `accountStatus`; with `statusBySession` set, that status for a session it lists and
//                         a server failure (500) for any other
//   getSignatureInfo      `signatureInfo`
//   deleteAccount         done
//   getDataToConsent      `consent`, its consent session "consent-<n>" (n counts the calls)
//   consentAndSignHashes  `signatures`
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CallLog.h"
#include "Calls.h"
#include "api/Clients.h"
#include "platform/Codecs.h"

namespace testsupport {

class FakeRemoteSigningClient : public halcyra::RemoteSigningAPIClient {
  public:
    // The hash the server has a card sign for a consent.
    static inline const platform::Bytes serverHash = platform::Bytes(32, 0xC4);
    // Active and allowed to sign, for Ann Peeters.
    static halcyra::AccountStatusDetails activeAccount();

    halcyra::AccountStatusDetails accountStatus = activeAccount();
    std::map<std::string, halcyra::AccountStatus> statusBySession;
    halcyra::SigningInfoDetails signatureInfo{halcyra::SigningStatus::ready, 100, {}, {}};
    halcyra::GetDataToConsentResponse consent{
        "consent", halcyra::GetDataToConsentResponse::EID{platform::base64URLEncoded(serverHash), "SHA256"},
        halcyra::GetDataToConsentResponse::Wallet{"poll-consent-1"}};
    std::vector<std::string> signatures{"AQID", "BAUG"};

    // "getAccountStatus <session>", "getSignatureInfo <session>", "deleteAccount <session>",
    // "getDataToConsent <session>", "consentAndSignHashes <consent session>".
    std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
    Calls<std::string> accountStatusCalls;
    Calls<std::string> signatureInfoCalls;
    Calls<std::pair<std::string, std::string>> deleteAccountCalls;
    Calls<halcyra::GetDataToConsentRequest> consentCalls;
    Calls<halcyra::ConsentAndSignHashesRequest> signCalls;

    QCoro::Task<halcyra::AccountStatusDetails> getAccountStatus(std::string authSessionId) override;
    QCoro::Task<halcyra::SigningInfoDetails> getSignatureInfo(std::string authSessionId) override;
    QCoro::Task<void> deleteAccount(std::string authSessionId, std::string reason) override;
    QCoro::Task<halcyra::GetDataToConsentResponse> getDataToConsent(
        halcyra::GetDataToConsentRequest request) override;
    QCoro::Task<halcyra::ConsentAndSignHashesResponse> consentAndSignHashes(
        halcyra::ConsentAndSignHashesRequest request) override;
};

}  // namespace testsupport
