#include "DependencyKeys.h"

#include "AppVersions.h"
#include "AppVersionsFileLocationSelection.h"
#include "PluginClientDarwin.h"
#include "outside/Logger/LoggerClient.h"

LoggerClientKey::Value LoggerClientKey::liveValue() {
    return std::make_shared<LoggerClient>("ui");
}

AppVersionsKey::Value AppVersionsKey::liveValue() {
    // A selection of its own, only to learn the stored location: the key's value may not exist yet, and
    // reading it here would build it as a side effect.
    const auto location = AppVersionsFileLocationSelection().storedFileLocation();
    return std::make_shared<AppVersions>(location);
}

AppVersionsFileLocationSelectionKey::Value AppVersionsFileLocationSelectionKey::liveValue() {
    return std::make_shared<AppVersionsFileLocationSelection>();
}

PluginClientKey::Value PluginClientKey::liveValue() {
    return std::make_shared<PluginClientDarwin>();
}
