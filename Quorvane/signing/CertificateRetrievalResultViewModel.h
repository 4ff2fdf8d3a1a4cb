#pragma once
// What the result page of a certificate retrieval shows, and what its "Done" does.
#include <functional>

#include "Quorvane/core/SigningCertificateInfo.h"

class CertificateRetrievalResultViewModel {
  public:
    CertificateRetrievalResultViewModel(SigningCertificateInfo signingCertificateInfo,
                                        std::function<void()> completed)
        : signingCertificateInfo(std::move(signingCertificateInfo)), completed(std::move(completed)) {}

    const SigningCertificateInfo signingCertificateInfo;
    const std::function<void()> completed;
};
