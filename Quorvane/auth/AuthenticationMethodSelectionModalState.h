#pragma once
// The sheet over the method selection: the update dialog for a release, or the settings.
#include <optional>

#include "Quorvane/core/EIDVersions.h"

struct AuthenticationMethodSelectionModalState {
    enum class Kind { updateInformation, settings };

    Kind kind = Kind::settings;
    std::optional<Release> release;  // updateInformation

    static AuthenticationMethodSelectionModalState updateInformation(Release release) {
        return {Kind::updateInformation, std::move(release)};
    }
    static AuthenticationMethodSelectionModalState settings() { return {Kind::settings, std::nullopt}; }

    friend bool operator==(const AuthenticationMethodSelectionModalState&,
                           const AuthenticationMethodSelectionModalState&) = default;
};
