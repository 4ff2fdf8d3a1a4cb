#pragma once
// The signing service's public web pages that the account screens name. They are the service's own, the same
// whatever server environment the app talks to.
#include <string>

#include "Quorvane/core/HalcyraEnvironment.h"

namespace accountwebpages {

// A page of the service's documents ("/docs/...").
inline std::string documentURL(const char* path) {
    return "https://" + std::string(builtInHost(HalcyraEnvironment::prod)) + path;
}

// Where users sign documents on the web with the same account.
inline constexpr const char* signingPortalDomain = "sign.quorvane.example";

}  // namespace accountwebpages
