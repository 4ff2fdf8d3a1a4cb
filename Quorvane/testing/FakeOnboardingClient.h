#pragma once
// The onboarding client of the tests: it answers as it is set up, records every call (in its log, one line
// each, and the requests per operation) and can hold or fail its calls.
//
//   getAgreementFile        `agreement`
//   confirmUserData         a new onboarding session "onboarding-<n>" (n counts the calls) with `eid` and,
//   when
//                           `withWallet`, the polling session "poll-<n>"
//   signAgreement           `signedAgreement`
//   getSignedAgreementFile  `signedAgreement`
#include <memory>
#include <optional>
#include <string>

#include "CallLog.h"
#include "Calls.h"
#include "api/Clients.h"
#include "platform/Codecs.h"

namespace testsupport {

class FakeOnboardingClient : public halcyra::OnboardingAPIClient {
  public:
    // The hash the server has a card sign for the agreement.
    static inline const platform::Bytes serverHash = platform::Bytes(32, 0xA7);

    platform::Bytes agreement{'%', 'P', 'D', 'F', '-', '1', '.', '4'};
    platform::Bytes signedAgreement{'%', 'P', 'D', 'F', '-', 's', 'i', 'g', 'n', 'e', 'd'};
    std::optional<halcyra::OnboardingData::EID> eid =
        halcyra::OnboardingData::EID{platform::base64URLEncoded(serverHash), "SHA-256"};
    bool withWallet = true;

    // "getAgreementFile <session>", "confirmUserData <session>", "signAgreement <onboarding session>",
    // "getSignedAgreementFile <session>".
    std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
    Calls<halcyra::GetAgreementFileRequest> agreementCalls;
    Calls<halcyra::ConfirmUserDataRequest> confirmCalls;
    Calls<halcyra::SignAgreementRequest> signCalls;
    Calls<std::string> signedAgreementCalls;

    QCoro::Task<platform::Bytes> getAgreementFile(halcyra::GetAgreementFileRequest request) override;
    QCoro::Task<halcyra::OnboardingData> confirmUserData(halcyra::ConfirmUserDataRequest request) override;
    QCoro::Task<platform::Bytes> signAgreement(halcyra::SignAgreementRequest request) override;
    QCoro::Task<platform::Bytes> getSignedAgreementFile(std::string authSessionId) override;
};

}  // namespace testsupport
