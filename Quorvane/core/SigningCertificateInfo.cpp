#include "SigningCertificateInfo.h"

#include "SigningSessionContext.h"
#include "outside/Common/Common.h"
#include "platform/Certificate.h"

std::optional<SigningCertificateInfo> SigningCertificateInfo::make(const std::string& tokenIdentifier,
                                                                   const platform::Bytes& certificateData,
                                                                   platform::Date now) {
    auto certificate = platform::Certificate::fromDER(certificateData);
    if (!certificate)
        return std::nullopt;
    SigningCertificateInfo info;
    info.methodCreatedWith = tokenIdentifier == SigningSessionContext::walletTokenIdentifier
                                 ? halcyra::AuthenticationMethod::wallet
                                 : halcyra::AuthenticationMethod::eid;
    info.certificateData = certificateData;
    info.fullName = personNameText(subjectFirstName(*certificate).value_or(""),
                                   subjectSurname(*certificate).value_or(""));
    info.nationalNumber = subjectSerialNumber(*certificate).value_or("");
    info.notValidBefore = ::notValidBefore(*certificate).value_or(now);
    info.notValidAfter = ::notValidAfter(*certificate).value_or(now);
    return info;
}

std::string personNameText(const std::string& givenName, const std::string& familyName) {
    if (givenName.empty())
        return familyName;
    if (familyName.empty())
        return givenName;
    return givenName + " " + familyName;
}
