#include "AppVersionsFileLocation.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QString>
#include <iostream>

#include "platform/DeploymentConfiguration.h"

namespace {

// The production document when the deployment configuration names none.
constexpr const char* builtInRemoteURL =
    "https://www.quorvane.example/sites/default/files/software/Quorvaneappversions.json";
// ".invalid" never resolves, so loading it always fails.
constexpr const char* unreachableURL = "https://appversions.quorvane.invalid/appversions.json";

std::optional<QUrl> fixedURL(const char* text) {
    QUrl url(QString::fromUtf8(text), QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

// The deployment configuration's "appVersionsURL" when it is an https URL with a host (the document decides
// which update the user is sent to download, so it never comes over a plain connection); else the built-in
// one.
std::optional<QUrl> remoteURL() {
    auto configured = platform::DeploymentConfiguration::load().appVersionsURL;
    if (configured) {
        QUrl url(QString::fromStdString(*configured), QUrl::StrictMode);
        if (url.isValid() && url.scheme() == "https" && !url.host().isEmpty())
            return url;
        std::cerr << "quorvane: deployment configuration: \"appVersionsURL\" (\"" << *configured
                  << "\") is not an https URL; using " << builtInRemoteURL << "\n";
    }
    return fixedURL(builtInRemoteURL);
}

std::optional<QUrl> downloadsURL() {
    const auto folders = QStandardPaths::standardLocations(QStandardPaths::DownloadLocation);
    if (folders.isEmpty() || folders.first().isEmpty())
        return std::nullopt;
    return QUrl::fromLocalFile(QDir(folders.first()).filePath("appversions.json"));
}

std::optional<QUrl> resourceURL(std::string_view name) {
    const QString path = "/" + QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())) + ".json";
    if (!QFile::exists(":" + path))
        return std::nullopt;
    QUrl url;
    url.setScheme("qrc");
    url.setPath(path);
    return url;
}

// The test documents are the resources ":/<name>.json".
std::optional<std::string_view> resourceName(AppVersionsFileLocation location) {
    switch (location) {
        case AppVersionsFileLocation::testNoUpdate:
            return "appversions_no_updates";
        case AppVersionsFileLocation::testSimpleUpdate:
            return "appversions_simple_update";
        case AppVersionsFileLocation::testSuggestedUpdate:
            return "appversions_suggested_update";
        case AppVersionsFileLocation::testForcedUpdate:
            return "appversions_forced_update";
        case AppVersionsFileLocation::testSuggestedUpdateOtherOS:
            return "appversions_suggested_other_os_version";
        case AppVersionsFileLocation::downloads:
        case AppVersionsFileLocation::invalidOrMissingFile:
        case AppVersionsFileLocation::remote:
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

std::string_view rawValue(AppVersionsFileLocation location) {
    switch (location) {
        case AppVersionsFileLocation::downloads:
            return "downloads";
        case AppVersionsFileLocation::invalidOrMissingFile:
            return "invalidOrMissingFile";
        case AppVersionsFileLocation::remote:
            return "remote";
        case AppVersionsFileLocation::testNoUpdate:
            return "testNoUpdate";
        case AppVersionsFileLocation::testSimpleUpdate:
            return "testSimpleUpdate";
        case AppVersionsFileLocation::testSuggestedUpdate:
            return "testSuggestedUpdate";
        case AppVersionsFileLocation::testForcedUpdate:
            return "testForcedUpdate";
        case AppVersionsFileLocation::testSuggestedUpdateOtherOS:
            return "testSuggestedUpdateOtherOS";
    }
    return "remote";
}

std::optional<AppVersionsFileLocation> appVersionsFileLocationFromRawValue(std::string_view raw) {
    for (auto location : allAppVersionsFileLocations)
        if (rawValue(location) == raw)
            return location;
    return std::nullopt;
}

std::optional<QUrl> url(AppVersionsFileLocation location) {
    switch (location) {
        case AppVersionsFileLocation::downloads:
            return downloadsURL();
        case AppVersionsFileLocation::invalidOrMissingFile:
            return fixedURL(unreachableURL);
        case AppVersionsFileLocation::remote:
            return remoteURL();
        case AppVersionsFileLocation::testNoUpdate:
        case AppVersionsFileLocation::testSimpleUpdate:
        case AppVersionsFileLocation::testSuggestedUpdate:
        case AppVersionsFileLocation::testForcedUpdate:
        case AppVersionsFileLocation::testSuggestedUpdateOtherOS:
            return resourceURL(*resourceName(location));
    }
    return std::nullopt;
}

std::string_view menuTitle(AppVersionsFileLocation location) {
    switch (location) {
        case AppVersionsFileLocation::downloads:
            return "/Downloads/appversions.json";
        case AppVersionsFileLocation::invalidOrMissingFile:
            return "Missing or invalid file test";
        case AppVersionsFileLocation::remote:
            return "Normal remote file (production)";
        case AppVersionsFileLocation::testNoUpdate:
            return "Test file with no available update";
        case AppVersionsFileLocation::testSimpleUpdate:
            return "Test file with simple update";
        case AppVersionsFileLocation::testSuggestedUpdate:
            return "Test file with suggested update";
        case AppVersionsFileLocation::testForcedUpdate:
            return "Test file with forced update";
        case AppVersionsFileLocation::testSuggestedUpdateOtherOS:
            return "Test file with suggested update for a different OS version";
    }
    return "";
}
