#pragma once
// The screen the main window shows: one case per screen, with what that screen is made from.
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Quorvane/core/SigningRequestType.h"
#include "Quorvane/core/SigningSession.h"
#include "Quorvane/core/SigningSessionContext.h"
#include "Quorvane/signing/CertificateRetrievalMode.h"
#include "cardbridge/Card.h"

struct AppNavigationTarget {
    // Creation of the remote signing account for the authenticated user.
    struct AccountCreation {
        SigningSessionContext context;
    };
    // Account and certificate information for an active account.
    struct AccountInfo {
        SigningSessionContext context;
        SigningSession session;
    };
    // The choice of one eID card among those present.
    struct CardSelection {
        std::optional<std::string> cardIdentifier;  // the card wanted; none for any
        std::vector<std::shared_ptr<pindle::Card>> initialCards;
        std::string sessionIdentifier;  // the authentication session the chosen card continues
    };
    // Retrieval of the signing certificate into the token, shown or not.
    struct CertificateRetrieval {
        SigningSessionContext context;
        CertificateRetrievalMode mode;
    };
    // A message: in progress while waiting, else final; an error text may be copied.
    struct Info {
        std::string message;
        bool isWaiting;
        bool isError;
    };
    struct Signing {
        SigningRequestType request;
    };
    // The page asking the user to enable the relay service.
    struct LaunchAgentInfo {};
    struct MainMenu {};
    struct MethodSelection {};
    struct Settings {};

    std::variant<AccountCreation, AccountInfo, CardSelection, CertificateRetrieval, Info, Signing,
                 LaunchAgentInfo, MainMenu, MethodSelection, Settings>
        value;

    static AppNavigationTarget accountCreation(SigningSessionContext context) {
        return {AccountCreation{std::move(context)}};
    }
    static AppNavigationTarget accountInfo(SigningSessionContext context, SigningSession session) {
        return {AccountInfo{std::move(context), std::move(session)}};
    }
    static AppNavigationTarget cardSelection(std::optional<std::string> cardIdentifier,
                                             std::vector<std::shared_ptr<pindle::Card>> initialCards,
                                             std::string sessionIdentifier) {
        return {
            CardSelection{std::move(cardIdentifier), std::move(initialCards), std::move(sessionIdentifier)}};
    }
    static AppNavigationTarget certificateRetrieval(SigningSessionContext context,
                                                    CertificateRetrievalMode mode) {
        return {CertificateRetrieval{std::move(context), mode}};
    }
    static AppNavigationTarget info(std::string message, bool isWaiting, bool isError) {
        return {Info{std::move(message), isWaiting, isError}};
    }
    static AppNavigationTarget signing(SigningRequestType request) { return {Signing{std::move(request)}}; }
    static AppNavigationTarget launchAgentInfo() { return {LaunchAgentInfo{}}; }
    static AppNavigationTarget mainMenu() { return {MainMenu{}}; }
    static AppNavigationTarget methodSelection() { return {MethodSelection{}}; }
    static AppNavigationTarget settings() { return {Settings{}}; }

    template <class Case>
    bool is() const {
        return std::holds_alternative<Case>(value);
    }
    // The case's payload, or null for another case.
    template <class Case>
    const Case* as() const {
        return std::get_if<Case>(&value);
    }
};
