#pragma once
// The keys under which the app's services live in the dependency container (outside/Dependencies). A service
// names another by its key (Dependency<AppVersionsKey>) and reads it on use, never while it is being built.
// Each key builds its live value on its first read and keeps it for the app's lifetime, unless an assignment
// through any Dependency of the key replaces it for the whole app. Keys without a preview value of their own
// serve the container's default preview (a live build of their own).
//
// The remaining keys of the app join these here as their services are wired in.
#include <memory>

#include "outside/Dependencies/Dependencies.h"

class AppVersions;
class AppVersionsFileLocationSelection;
class LoggerClient;
class PluginClient;

// The app's one logger, log id "ui".
struct LoggerClientKey {
    using Value = std::shared_ptr<LoggerClient>;
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

// The certificate-road notifications for the signing plug-in.
struct PluginClientKey {
    using Value = std::shared_ptr<PluginClient>;
    static Value liveValue();
};
