#include "AuthenticationMethodSelectionMode.h"

#include "platform/qt/Localizable.h"

std::string_view rawValue(AuthenticationMethodSelectionMode mode) {
    switch (mode) {
        case AuthenticationMethodSelectionMode::manual:
            return "manual";
        case AuthenticationMethodSelectionMode::alwaysEID:
            return "alwaysEID";
        case AuthenticationMethodSelectionMode::alwaysWallet:
            return "alwaysWallet";
    }
    return "manual";
}

std::optional<AuthenticationMethodSelectionMode> authenticationMethodSelectionModeFromRawValue(
    std::string_view raw) {
    for (auto mode : allAuthenticationMethodSelectionModes)
        if (rawValue(mode) == raw)
            return mode;
    return std::nullopt;
}

std::string title(AuthenticationMethodSelectionMode mode) {
    const char* key = "Ask every time";
    switch (mode) {
        case AuthenticationMethodSelectionMode::manual:
            key = "Ask every time";
            break;
        case AuthenticationMethodSelectionMode::alwaysEID:
            key = "Always use eID";
            break;
        case AuthenticationMethodSelectionMode::alwaysWallet:
            key = "Always use Civaro";
            break;
    }
    return L(key);
}
