#pragma once
// The app's live services against the stand-in server, as the app builds them: the server (a child process,
// its CA trusted), the four server clients, the settings, the live card-reader client (on the stand-in bridge
// a test installs), a token store, the session store and the authentication facade. Main thread only.
#include <memory>
#include <string>
#include <vector>

#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/HalcyraClients.h"
#include "Quorvane/core/QuorvaneAPI.h"
#include "Quorvane/core/SigningSessionDatabase.h"
#include "Quorvane/core/TokenDriverConfiguration.h"
#include "cardbridge/PindleClientVexoConnect.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/tokens/TokenStore.h"
#include "sim/testing/SimServerProcess.h"

namespace testsupport {

class LiveRig {
  public:
    // Where the token configurations go: a driver folder of the rig's own, or the user's, where this user's
    // token module reads them (emptied first).
    enum class Tokens { ownFolder, usersFolder };

    explicit LiveRig(std::vector<std::string> serverFlags = {}, Tokens tokens = Tokens::ownFolder);
    LiveRig(const LiveRig&) = delete;
    LiveRig& operator=(const LiveRig&) = delete;

    // The app as after a new start on the same server: a new session store and facade, on a new driver folder
    // of its own (or the user's, emptied).
    void restartApp();
    // Makes these the app's services (the dependency keys of the settings, the logger, the server clients,
    // the card-reader client, the session store and the facade).
    void install() const;

    simtest::SimServerProcess server;
    std::shared_ptr<LoggerClient> logger = std::make_shared<LoggerClient>("ui");
    HalcyraClients clients;
    std::shared_ptr<halcyra::AuthenticateAPIClient> auth;
    std::shared_ptr<halcyra::RemoteSigningAPIClient> remote;
    std::shared_ptr<halcyra::OnboardingAPIClient> onboarding;
    std::shared_ptr<halcyra::WalletAPIClient> wallet;
    std::shared_ptr<AppSettings> settings = std::make_shared<AppSettings>();
    std::shared_ptr<pindle::PindleClientVexoConnect> pindle;
    platform::tokens::TokenStore tokenStore;
    std::shared_ptr<TokenDriverConfiguration> tokens;
    std::shared_ptr<SigningSessionDatabase> database;
    std::shared_ptr<QuorvaneAPI> api;

  private:
    Tokens tokensFolder_;
};

}  // namespace testsupport
