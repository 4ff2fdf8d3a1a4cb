#include "AccountCreationStep.h"

#include "platform/qt/Localizable.h"

namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

}  // namespace

std::string AccountCreationStep::title() const {
    return std::visit(
        Overloaded{
            [](const SubscriberAgreement&) { return L("Confirm the creation of the signing certificate"); },
            [](const Disclaimer&) { return std::string(); },
            [](const TermsAndConditionsAgreement&) { return L("General terms and conditions"); },
            [](const IdentityVerification&) { return L("Confirm your identity"); },
        },
        value);
}

int AccountCreationStep::headerIndex() const {
    return std::visit(Overloaded{
                          [](const SubscriberAgreement&) { return 2; },
                          [](const Disclaimer&) { return 0; },
                          [](const TermsAndConditionsAgreement&) { return 0; },
                          [](const IdentityVerification&) { return 1; },
                      },
                      value);
}
