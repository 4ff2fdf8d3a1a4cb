#pragma once
// The four server clients for one server, made together: the environment switch puts a new set in place of
// the app's, and the tests' live rig makes the same set for the stand-in server.
#include <memory>
#include <string>

#include "api/Clients.h"

class LoggerClient;

struct HalcyraClients {
    std::shared_ptr<halcyra::AuthenticateAPIClient> authenticate;
    std::shared_ptr<halcyra::OnboardingAPIClient> onboarding;
    std::shared_ptr<halcyra::RemoteSigningAPIClient> remoteSigning;
    std::shared_ptr<halcyra::WalletAPIClient> wallet;

    // The live clients for the server at the base path, logging through the logger.
    static HalcyraClients live(const std::string& basePath, const std::shared_ptr<LoggerClient>& logger);

    // Makes them the app's server clients (their four dependency keys).
    void install() const;
};
