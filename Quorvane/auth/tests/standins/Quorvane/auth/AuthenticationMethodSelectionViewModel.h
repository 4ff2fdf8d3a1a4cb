#pragma once
// Stand-in until the method selection lands: what the navigation builds it with and the completion it reports
// through.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Quorvane/auth/AuthenticationMethodSelectionResult.h"
#include "Quorvane/core/Observable.h"
#include "platform/Scheduler.h"

class AuthenticationMethodSelectionViewModel : public Observable {
  public:
    using MethodSelectionCompleted = std::function<void(AuthenticationMethodSelectionResult result)>;

    AuthenticationMethodSelectionViewModel(std::string titleText, std::optional<std::string> doneButtonText,
                                           bool validateAuthenticatedAccounts,
                                           MethodSelectionCompleted methodSelectionCompleted,
                                           std::shared_ptr<platform::Scheduler> = platform::Scheduler::live())
        : titleText(std::move(titleText)),
          doneButtonText(std::move(doneButtonText)),
          methodSelectionCompleted(std::move(methodSelectionCompleted)),
          validateAuthenticatedAccounts(validateAuthenticatedAccounts) {}

    const std::string titleText;
    const std::optional<std::string> doneButtonText;
    const MethodSelectionCompleted methodSelectionCompleted;
    const bool validateAuthenticatedAccounts;
};
