#pragma once
// The keys under which the app's services live in the dependency container (outside/Dependencies). A service
// names another by its key (Dependency<AppVersionsKey>) and reads it on use, never while it is being built.
// Each key builds its live value on its first read and keeps it for the app's lifetime, unless an assignment
// through any Dependency of the key replaces it for the whole app (the environment switch does this for the
// server clients). Keys without a preview value of their own serve the container's default preview (a live
// build of their own, separate from the current value).
//
// Values that own Qt objects (the four server clients, the card-reader client and the XPC client) belong to
// the thread that builds them: like every read of the app's services, their first read is on the main thread.
#include <memory>

#include "outside/Dependencies/Dependencies.h"

class AppSettings;
class AppVersions;
class AppVersionsFileLocationSelection;
class HalcyraEnvironmentSelection;
class LaunchAgentService;
class LoggerClient;
class PluginClient;
class QuorvaneAPIClient;
class SigningSessionDatabaseClient;
class XPCClient;
namespace halcyra {
class AuthenticateAPIClient;
class OnboardingAPIClient;
class RemoteSigningAPIClient;
class WalletAPIClient;
}  // namespace halcyra
namespace pindle {
class PindleClient;
}

// The preferences; switching privacy mode starts the session store's privacy timer.
struct AppSettingsKey {
    using Value = std::shared_ptr<AppSettings>;
    static Value liveValue();
};

// The update check, reading the app-versions document from the location stored by the developer menu.
struct AppVersionsKey {
    using Value = std::shared_ptr<AppVersions>;
    static Value liveValue();
};

// The developer menu's choice of app-versions document.
struct AppVersionsFileLocationSelectionKey {
    using Value = std::shared_ptr<AppVersionsFileLocationSelection>;
    static Value liveValue();
};

// The authentication facade.
struct QuorvaneAPIKey {
    using Value = std::shared_ptr<QuorvaneAPIClient>;
    static Value liveValue();
};

// The card-reader client, accepting the certificate policies of the two eID card generations.
struct PindleClientKey {
    using Value = std::shared_ptr<pindle::PindleClient>;
    static constexpr const char* allowedPolicyOIDs[] = {"2.16.56.12.1.1.2.2", "2.16.56.13.6.1.1.1000"};
    static Value liveValue();
};

// The registration of the signature relay's launch agent.
struct LaunchAgentServiceKey {
    using Value = std::shared_ptr<LaunchAgentService>;
    static Value liveValue();
};

// The app's one logger, log id "ui".
struct LoggerClientKey {
    using Value = std::shared_ptr<LoggerClient>;
    static Value liveValue();
};

// The four server clients, each built for the environment stored when it is first read. The environment
// switch replaces all four.
struct AuthenticateAPIClientKey {
    using Value = std::shared_ptr<halcyra::AuthenticateAPIClient>;
    static Value liveValue();
    static Value previewValue();
};

struct OnboardingAPIClientKey {
    using Value = std::shared_ptr<halcyra::OnboardingAPIClient>;
    static Value liveValue();
    static Value previewValue();
};

struct RemoteSigningAPIClientKey {
    using Value = std::shared_ptr<halcyra::RemoteSigningAPIClient>;
    static Value liveValue();
    static Value previewValue();
};

struct WalletAPIClientKey {
    using Value = std::shared_ptr<halcyra::WalletAPIClient>;
    static Value liveValue();
    static Value previewValue();
};

// The stored server environment and the switch to another one.
struct HalcyraEnvironmentSelectionKey {
    using Value = std::shared_ptr<HalcyraEnvironmentSelection>;
    static Value liveValue();
};

// The session store, with a client data of its own for this app run. Previews get a store that holds one
// sample wallet certificate and no sessions.
struct SigningSessionDatabaseKey {
    using Value = std::shared_ptr<SigningSessionDatabaseClient>;
    static Value liveValue();
    static Value previewValue();
};

// The certificate-road notifications for the signing plug-in.
struct PluginClientKey {
    using Value = std::shared_ptr<PluginClient>;
    static Value liveValue();
};

// The app's end of the signature relay.
struct XPCClientKey {
    using Value = std::shared_ptr<XPCClient>;
    static Value liveValue();
};
