#pragma once
// Where the settings screen's update check stands: still fetching, or fetched with the release picked for
// this system (none when the document could not be read or holds no release for it).
#include <optional>

#include "Quorvane/core/EIDVersions.h"

struct AppSettingsReleaseInfoFetchState {
    bool isFetched = false;
    std::optional<Release> release;

    static AppSettingsReleaseInfoFetchState fetching() { return {}; }
    static AppSettingsReleaseInfoFetchState fetched(std::optional<Release> release) {
        return {true, std::move(release)};
    }
    friend bool operator==(const AppSettingsReleaseInfoFetchState&,
                           const AppSettingsReleaseInfoFetchState&) = default;
};
