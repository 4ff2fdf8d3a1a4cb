#pragma once
// Stand-in for the method-selection model until the authentication screens land: what the navigation builds
// it with and the one completion it reports through.
#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "Quorvane/core/AppError.h"
#include "Quorvane/core/AuthenticationContext.h"
#include "Quorvane/core/Observable.h"

struct AuthenticationMethodSelectionResult {
    std::variant<AuthenticationContext, AppError> value;

    static AuthenticationMethodSelectionResult success(AuthenticationContext context) { return {context}; }
    static AuthenticationMethodSelectionResult failure(AppError error) { return {std::move(error)}; }
};

class AuthenticationMethodSelectionViewModel : public Observable {
  public:
    AuthenticationMethodSelectionViewModel(
        std::string titleText, std::optional<std::string> doneButtonText, bool validateAuthenticatedAccounts,
        std::function<void(AuthenticationMethodSelectionResult)> methodSelectionCompleted)
        : titleText(std::move(titleText)),
          doneButtonText(std::move(doneButtonText)),
          validateAuthenticatedAccounts(validateAuthenticatedAccounts),
          methodSelectionCompleted(std::move(methodSelectionCompleted)) {}

    const std::string titleText;
    const std::optional<std::string> doneButtonText;
    const bool validateAuthenticatedAccounts;
    const std::function<void(AuthenticationMethodSelectionResult)> methodSelectionCompleted;
};
