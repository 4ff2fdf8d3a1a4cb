#pragma once
// The app-versions document that the update check reads, served at "/appversions.json": one Linux release of
// the app, the version of this build, for every kernel. An app of the same build is up to date with it.
#include "Transport.h"

namespace sim {

inline constexpr char appVersionsPath[] = "/appversions.json";

void serveAppVersions(Transport& transport);

}  // namespace sim
