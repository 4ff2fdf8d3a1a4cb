#include "PinDialogTexts.h"

#include "platform/qt/Localizable.h"

using Kind = SigningReason::Kind;

std::string pinDialogTitle(const SigningReason& reason) {
    switch (reason.kind) {
        case Kind::actualSigning:
            return L("Sign document");
        case Kind::accountCreationAuthentication:
            return L("accountCreationAuthentication");
        case Kind::agreementSigning:
            return L("Sign subscriber agreement");
        case Kind::accountInfoAuthentication:
        case Kind::certificateRetrievalAuthentication:
        case Kind::signingAuthentication:
            break;
    }
    return L("Login authentication");
}

std::string pinDialogSubtitle(const SigningReason& reason) {
    switch (reason.kind) {
        case Kind::actualSigning:
            return L("Enter your PIN to continue");
        case Kind::agreementSigning:
            return L("Subscriber agreement PIN dialog subtitle");
        case Kind::accountInfoAuthentication:
        case Kind::certificateRetrievalAuthentication:
        case Kind::accountCreationAuthentication:
        case Kind::signingAuthentication:
            break;
    }
    return L("Enter your PIN to authenticate");
}

std::string pinDialogButtonTitle(const SigningReason& reason) {
    switch (reason.kind) {
        case Kind::actualSigning:
            return L("Sign");
        case Kind::certificateRetrievalAuthentication:
            return L("Retrieve certificate");
        case Kind::agreementSigning:
            return L("Sign agreement");
        case Kind::accountInfoAuthentication:
        case Kind::accountCreationAuthentication:
        case Kind::signingAuthentication:
            break;
    }
    return L("Authenticate");
}
