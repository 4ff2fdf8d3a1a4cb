#include "AppVersions.h"

AppVersions::AppVersions(AppVersionsFileLocation fileLocation) : fileLocation_(fileLocation) {}
