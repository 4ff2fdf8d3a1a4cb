#pragma once
// Stand-in until the method selection lands: what it delivers.
#include <optional>

#include "Quorvane/core/AppError.h"
#include "Quorvane/core/AuthenticationContext.h"

struct AuthenticationMethodSelectionResult {
    enum class Kind { success, failure };

    Kind kind = Kind::success;
    std::optional<AuthenticationContext> context;  // success
    std::optional<AppError> error;                 // failure

    static AuthenticationMethodSelectionResult success(AuthenticationContext context) {
        return {Kind::success, std::move(context), std::nullopt};
    }
    static AuthenticationMethodSelectionResult failure(AppError error) {
        return {Kind::failure, std::nullopt, std::move(error)};
    }
};
