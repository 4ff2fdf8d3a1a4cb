#pragma once
// The app's update check against the app-versions document at one location. It keeps nothing but the
// location: a change of location makes a new instance (AppVersionsFileLocationSelection::select). Making one
// reads and writes nothing; the logger is read when a check runs.
#include "AppVersionsFileLocation.h"
#include "DependencyKeys.h"

class AppVersions {
  public:
    explicit AppVersions(AppVersionsFileLocation fileLocation);

    AppVersionsFileLocation fileLocation() const { return fileLocation_; }

  private:
    AppVersionsFileLocation fileLocation_;
    Dependency<LoggerClientKey> _logger;
};
