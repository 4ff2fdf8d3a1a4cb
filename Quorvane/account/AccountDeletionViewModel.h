#pragma once
// The confirmation asked before the account is deactivated: it only reports the user's choice.
#include <functional>

struct AccountDeletionViewModel {
    // "Deactivate account".
    std::function<void()> confirmed;
    // "No, keep account".
    std::function<void()> cancelled;
};
