#pragma once
// Why the main window opens: it decides the first screen of the window's navigation.
#include <string>
#include <variant>

#include "SigningRequestType.h"

struct AppOpenMode {
    // Put the user's signing certificate into the token; with showResult the certificate is shown, without it
    // the window closes as soon as the certificate is in place.
    struct GetCertificate {
        bool showResult;
        friend bool operator==(const GetCertificate&, const GetCertificate&) = default;
    };
    struct Sign {
        SigningRequestType request;
        friend bool operator==(const Sign&, const Sign&) = default;
    };
    struct Menu {
        friend bool operator==(const Menu&, const Menu&) = default;
    };
    struct AccountInfo {
        friend bool operator==(const AccountInfo&, const AccountInfo&) = default;
    };
    struct Settings {
        friend bool operator==(const Settings&, const Settings&) = default;
    };

    std::variant<GetCertificate, Sign, Menu, AccountInfo, Settings> value;

    static AppOpenMode getCertificate(bool showResult) { return {GetCertificate{showResult}}; }
    static AppOpenMode sign(SigningRequestType request) { return {Sign{std::move(request)}}; }
    static AppOpenMode menu() { return {Menu{}}; }
    static AppOpenMode accountInfo() { return {AccountInfo{}}; }
    static AppOpenMode settings() { return {Settings{}}; }

    template <class Case>
    bool is() const {
        return std::holds_alternative<Case>(value);
    }

    // A readable rendering for log lines; a bulk request shows its size and callback, never its hashes.
    std::string description() const;

    friend bool operator==(const AppOpenMode&, const AppOpenMode&) = default;
};
