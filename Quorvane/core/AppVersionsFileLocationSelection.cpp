#include "AppVersionsFileLocationSelection.h"

#include <memory>

#include "AppVersions.h"
#include "platform/qt/UserDefaults.h"

AppVersionsFileLocation AppVersionsFileLocationSelection::storedFileLocation() const {
    auto stored = platform::UserDefaults::standard().string(fileLocationKey);
    if (!stored)
        return AppVersionsFileLocation::remote;
    return appVersionsFileLocationFromRawValue(*stored).value_or(AppVersionsFileLocation::remote);
}

void AppVersionsFileLocationSelection::setStoredFileLocation(AppVersionsFileLocation location) {
    platform::UserDefaults::standard().setString(fileLocationKey, rawValue(location));
}

void AppVersionsFileLocationSelection::select(AppVersionsFileLocation location) {
    setStoredFileLocation(location);
    _appVersions.set(std::make_shared<AppVersions>(location));
}
