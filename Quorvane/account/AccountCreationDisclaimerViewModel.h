#pragma once
// The first page of the account creation: what is about to happen, and the choice to start or to give up.
#include <functional>

struct AccountCreationDisclaimerViewModel {
    // "Create signing certificate".
    std::function<void()> continueRequested;
    // "Cancel".
    std::function<void()> cancelRequested;
};
