#pragma once
// The remote signing certificate as the app shows it, read from the certificate a token configuration holds.
#include <optional>
#include <string>

#include "api/Authentication.h"
#include "platform/Bytes.h"
#include "platform/Date.h"

struct SigningCertificateInfo {
    // wallet for the wallet's token identifier, eid otherwise.
    halcyra::AuthenticationMethod methodCreatedWith = halcyra::AuthenticationMethod::eid;
    platform::Bytes certificateData;  // DER
    std::string fullName;
    std::string nationalNumber;  // the subject's serial number; empty when it has none
    platform::Date notValidBefore;
    platform::Date notValidAfter;

    // Nothing when the bytes are not a DER certificate. A validity date the certificate does not yield
    // becomes `now`, so a certificate without an end counts as ending at once.
    static std::optional<SigningCertificateInfo> make(const std::string& tokenIdentifier,
                                                      const platform::Bytes& certificateData,
                                                      platform::Date now);

    friend bool operator==(const SigningCertificateInfo&, const SigningCertificateInfo&) = default;
};

// A person's name as the app writes it: the given name, then the family name, an absent part left out.
std::string personNameText(const std::string& givenName, const std::string& familyName);
