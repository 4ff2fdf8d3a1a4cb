#pragma once
// The app's update check against the app-versions document at one location: fetch the document, pick the
// release meant for the running system, and compare it with the running app. It keeps nothing but the
// location: a change of location makes a new instance (AppVersionsFileLocationSelection::select). Making one
// reads and writes nothing; the logger is read when a check runs.
//
// Versions are compared as dot-separated decimal numbers, a missing part counting as 0 (1.10.0 is above
// 1.9.0, 14 equals 14.0.0). A text that is not such a version (empty, a letter, an empty part) orders neither
// before nor after anything, so a malformed bound never matches and a malformed threshold never asks for an
// update.
#include <QCoroTask>
#include <QUrl>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "AppVersionsFileLocation.h"
#include "DependencyKeys.h"
#include "EIDVersions.h"

// What the running app should do about a release.
enum class AppUpdateKind { upToDate, updateAvailable, suggested, forced };

class AppVersions {
  public:
    // A fetch that has not finished by then is given up (a stalled or a trickling server alike).
    static constexpr std::chrono::milliseconds defaultFetchTimeout{30'000};

    explicit AppVersions(AppVersionsFileLocation fileLocation,
                         std::chrono::milliseconds fetchTimeout = defaultFetchTimeout);

    AppVersionsFileLocation fileLocation() const { return fileLocation_; }

    // Reads the document at the location and picks the release for the running system. Never throws: every
    // failure is logged and gives none. The task owns everything it uses, so the instance may go away (a
    // change of location) while it runs.
    QCoro::Task<std::optional<Release>> fetchRelease() const;
    // The same from a given address: https (and http) through the network with the time-out, file and qrc
    // URLs read directly. `locationName` names the location in the log when there is no URL.
    static QCoro::Task<std::optional<Release>> fetchRelease(std::optional<QUrl> url, std::string locationName,
                                                            std::chrono::milliseconds timeout,
                                                            std::shared_ptr<LoggerClient> logger);

    // The first release, in file order, whose bounds hold the running system's version (both exclusive; no
    // upper bound when max is absent).
    static std::optional<Release> matchingRelease(const std::vector<Release>& releases);
    // The running system's version as the document's bounds are written: the kernel's major.minor.patch.
    static std::string currentSystemVersion();
    // The running app's short version, "0.0.0" when the build has none.
    static std::string currentAppVersion();

  private:
    AppVersionsFileLocation fileLocation_;
    std::chrono::milliseconds fetchTimeout_;
    Dependency<LoggerClientKey> _logger;
};

// True when `version` is a version below `other` (see above); false when either is malformed.
bool versionOrdersBefore(std::string_view version, std::string_view other);

// The release against the running app (currentAppVersion), or against the given app version: forced while
// the app is below forceIfBelow, else suggested while below suggestIfBelow, else an update is available while
// below the release's version, else up to date. A threshold that is absent or equal to the app's version
// never triggers.
AppUpdateKind updateKind(const Release& release);
AppUpdateKind updateKind(const Release& release, std::string_view appVersion);

// The download page for the user's first preferred language when the release lists one for its language
// code, else the default page. Only the first preferred language counts.
QUrl preferredLink(const Release& release);
QUrl preferredLink(const Release& release, const std::vector<std::string>& preferredLanguages);
