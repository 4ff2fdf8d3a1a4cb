#pragma once
// The one error type of the app: every failure shown to a user is an AppError, and its text is always made by
// ErrorCodeWrap (a category digit and a code, the message, and the platform line).
#include <exception>
#include <optional>
#include <string>

#include "api/HalcyraError.h"

// The layer in which a failure arose; the raw value is the first digit of the shown code.
enum class ErrorCodeCategory { backend = 1, app = 2, vexoConnect = 5, xpc = 7 };

// The user flow in which a failure arose; shown only for errors that carry a server error.
enum class ErrorCodeSourceFlow {
    onboarding = 1,
    certificateRetrieval = 2,
    signing = 3,
    accountInfo = 4,
    meansHandling = 5
};

int rawValue(ErrorCodeCategory category);
// 1, 2, 5 and 7 only.
std::optional<ErrorCodeCategory> errorCodeCategoryFromRawValue(int raw);
int rawValue(ErrorCodeSourceFlow flow);
// 1 to 5 only.
std::optional<ErrorCodeSourceFlow> errorCodeSourceFlowFromRawValue(int raw);

struct AppError : std::exception {
    // Taken as given; nothing is checked or normalised.
    AppError(ErrorCodeCategory category, std::optional<ErrorCodeSourceFlow> sourceFlow, std::string code,
             std::string message, std::optional<halcyra::HalcyraError> apiError)
        : category(category),
          sourceFlow(sourceFlow),
          code(std::move(code)),
          message(std::move(message)),
          apiError(std::move(apiError)) {}

    ErrorCodeCategory category;
    std::optional<ErrorCodeSourceFlow> sourceFlow;
    std::string code;  // decimal digits chosen where the error is made ("000", "02", "305")
    std::string message;
    std::optional<halcyra::HalcyraError> apiError;

    // The message, for diagnostics only; users see ErrorCodeWrap::errorText.
    const char* what() const noexcept override { return message.c_str(); }
};
