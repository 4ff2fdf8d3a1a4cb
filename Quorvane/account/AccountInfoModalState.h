#pragma once
// The sheet over the account screen: the end of a deactivation, a server call in progress, an error message,
// the deactivation's confirmation, or the retrieval of the signing certificate.
#include <string>
#include <variant>

struct AccountInfoModalState {
    struct DeletionCompleted {
        std::string message;
        friend bool operator==(const DeletionCompleted&, const DeletionCompleted&) = default;
    };
    struct Loading {
        std::string message;
        friend bool operator==(const Loading&, const Loading&) = default;
    };
    struct Info {
        std::string message;
        friend bool operator==(const Info&, const Info&) = default;
    };
    struct AskingDeletionConfirmation {
        friend bool operator==(const AskingDeletionConfirmation&,
                               const AskingDeletionConfirmation&) = default;
    };
    struct CertificateRetrieval {
        friend bool operator==(const CertificateRetrieval&, const CertificateRetrieval&) = default;
    };

    std::variant<DeletionCompleted, Loading, Info, AskingDeletionConfirmation, CertificateRetrieval> value;

    static AccountInfoModalState deletionCompleted(std::string message) {
        return {DeletionCompleted{std::move(message)}};
    }
    static AccountInfoModalState loading(std::string message) { return {Loading{std::move(message)}}; }
    static AccountInfoModalState info(std::string message) { return {Info{std::move(message)}}; }
    static AccountInfoModalState askingDeletionConfirmation() { return {AskingDeletionConfirmation{}}; }
    static AccountInfoModalState certificateRetrieval() { return {CertificateRetrieval{}}; }

    template <class Case>
    const Case* as() const {
        return std::get_if<Case>(&value);
    }

    friend bool operator==(const AccountInfoModalState&, const AccountInfoModalState&) = default;
};
