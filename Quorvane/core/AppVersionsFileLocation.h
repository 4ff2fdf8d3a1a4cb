#pragma once
// The places the app-versions document can be read from: the production file, a copy in the user's Downloads
// folder, an address that never loads, and five test documents among the app's resources. The developer
// menu lists them in the order of allAppVersionsFileLocations.
#include <QUrl>
#include <array>
#include <optional>
#include <string_view>

enum class AppVersionsFileLocation {
    downloads,
    invalidOrMissingFile,
    remote,
    testNoUpdate,
    testSimpleUpdate,
    testSuggestedUpdate,
    testForcedUpdate,
    testSuggestedUpdateOtherOS
};

inline constexpr std::array<AppVersionsFileLocation, 8> allAppVersionsFileLocations{
    AppVersionsFileLocation::downloads,        AppVersionsFileLocation::invalidOrMissingFile,
    AppVersionsFileLocation::remote,           AppVersionsFileLocation::testNoUpdate,
    AppVersionsFileLocation::testSimpleUpdate, AppVersionsFileLocation::testSuggestedUpdate,
    AppVersionsFileLocation::testForcedUpdate, AppVersionsFileLocation::testSuggestedUpdateOtherOS};

// The case's name ("downloads", "remote", ...).
std::string_view rawValue(AppVersionsFileLocation location);
// Exactly one of the raw values (letter case counts); anything else gives none.
std::optional<AppVersionsFileLocation> appVersionsFileLocationFromRawValue(std::string_view raw);

// Where the document is read from: a file URL in the Downloads folder, an https URL, or a qrc URL of a
// resource. None when there is no Downloads folder or the resource is not built in. The production URL is
// deployment configuration ("appVersionsURL", platform/DeploymentConfiguration.h), read on every call.
std::optional<QUrl> url(AppVersionsFileLocation location);
// The developer menu's fixed English title.
std::string_view menuTitle(AppVersionsFileLocation location);
