#pragma once
// How the user wants to authenticate: asked every time, or always with the eID card, or always with the
// wallet.
#include <array>
#include <optional>
#include <string>
#include <string_view>

enum class AuthenticationMethodSelectionMode { manual, alwaysEID, alwaysWallet };

inline constexpr std::array<AuthenticationMethodSelectionMode, 3> allAuthenticationMethodSelectionModes{
    AuthenticationMethodSelectionMode::manual, AuthenticationMethodSelectionMode::alwaysEID,
    AuthenticationMethodSelectionMode::alwaysWallet};

// "manual", "alwaysEID", "alwaysWallet".
std::string_view rawValue(AuthenticationMethodSelectionMode mode);
// Exactly one of the raw values (letter case counts); anything else gives none.
std::optional<AuthenticationMethodSelectionMode> authenticationMethodSelectionModeFromRawValue(
    std::string_view raw);
// The localized display title.
std::string title(AuthenticationMethodSelectionMode mode);
