#pragma once
// The developer's choice of app-versions document, kept in the user defaults under
// "appversions_file_location" as the location's raw value. Without a usable stored value the production file
// is used. Choosing a location replaces the app's AppVersions service at once.
#include "AppVersionsFileLocation.h"
#include "DependencyKeys.h"

class AppVersionsFileLocationSelection {
  public:
    static constexpr const char* fileLocationKey = "appversions_file_location";

    // Read afresh on every call: `remote` when nothing is stored or the stored text is not exactly a raw
    // value (which is left as it is).
    AppVersionsFileLocation storedFileLocation() const;
    void setStoredFileLocation(AppVersionsFileLocation location);

    // Stores the location and makes a new AppVersions for it the app's current one.
    void select(AppVersionsFileLocation location);

  private:
    Dependency<AppVersionsKey> _appVersions;
};
