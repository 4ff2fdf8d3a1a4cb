#pragma once
// The page of the account creation. The user sees them in the order disclaimer, terms, identity, subscriber
// agreement; the agreement page carries the PDF the server sent, and two agreement pages are the same page
// only with the same bytes.
#include <string>
#include <variant>

#include "platform/Bytes.h"

struct AccountCreationStep {
    struct SubscriberAgreement {
        platform::Bytes pdfData;
        friend bool operator==(const SubscriberAgreement&, const SubscriberAgreement&) = default;
    };
    struct Disclaimer {
        friend bool operator==(const Disclaimer&, const Disclaimer&) = default;
    };
    struct TermsAndConditionsAgreement {
        friend bool operator==(const TermsAndConditionsAgreement&,
                               const TermsAndConditionsAgreement&) = default;
    };
    struct IdentityVerification {
        friend bool operator==(const IdentityVerification&, const IdentityVerification&) = default;
    };

    std::variant<SubscriberAgreement, Disclaimer, TermsAndConditionsAgreement, IdentityVerification> value;

    static AccountCreationStep subscriberAgreement(platform::Bytes pdfData) {
        return {SubscriberAgreement{std::move(pdfData)}};
    }
    static AccountCreationStep disclaimer() { return {Disclaimer{}}; }
    static AccountCreationStep termsAndConditionsAgreement() { return {TermsAndConditionsAgreement{}}; }
    static AccountCreationStep identityVerification() { return {IdentityVerification{}}; }

    template <class Case>
    bool is() const {
        return std::holds_alternative<Case>(value);
    }

    // The page's title, translated; the disclaimer has none.
    std::string title() const;
    // The page's place among the three numbered pages, counted from 0 (the disclaimer, which shows no header,
    // counts as the first).
    int headerIndex() const;
    static constexpr int headerStepCount = 3;

    friend bool operator==(const AccountCreationStep&, const AccountCreationStep&) = default;
};
