#include <gtest/gtest.h>

#include <QFile>
#include <QStandardPaths>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "Quorvane/core/AppVersions.h"
#include "Quorvane/core/AppVersionsFileLocation.h"
#include "Quorvane/core/AppVersionsFileLocationSelection.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/EIDVersions.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/BundleInfo.h"
#include "platform/qt/UserDefaults.h"
#include "platform/testing/TestEnvironment.h"

using platform::UserDefaults;
using platform::json::DecodingError;
using platform::json::Json;

namespace {

constexpr const char* storedKey = "appversions_file_location";

class AppVersionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UserDefaults::standard().clear();
        DependencyValues::shared().reset();
    }
    void TearDown() override {
        DependencyValues::shared().reset();
        UserDefaults::standard().clear();
    }
};

// ---- Locations

TEST(AppVersionsFileLocationTest, CasesInMenuOrderWithTheirRawValuesAndTitles) {
    struct Case {
        AppVersionsFileLocation location;
        const char* raw;
        const char* title;
    };
    const std::vector<Case> cases = {
        {AppVersionsFileLocation::downloads, "downloads", "/Downloads/appversions.json"},
        {AppVersionsFileLocation::invalidOrMissingFile, "invalidOrMissingFile",
         "Missing or invalid file test"},
        {AppVersionsFileLocation::remote, "remote", "Normal remote file (production)"},
        {AppVersionsFileLocation::testNoUpdate, "testNoUpdate", "Test file with no available update"},
        {AppVersionsFileLocation::testSimpleUpdate, "testSimpleUpdate", "Test file with simple update"},
        {AppVersionsFileLocation::testSuggestedUpdate, "testSuggestedUpdate",
         "Test file with suggested update"},
        {AppVersionsFileLocation::testForcedUpdate, "testForcedUpdate", "Test file with forced update"},
        {AppVersionsFileLocation::testSuggestedUpdateOtherOS, "testSuggestedUpdateOtherOS",
         "Test file with suggested update for a different OS version"},
    };
    ASSERT_EQ(allAppVersionsFileLocations.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].raw);
        EXPECT_EQ(allAppVersionsFileLocations[i], cases[i].location);
        EXPECT_EQ(rawValue(cases[i].location), cases[i].raw);
        EXPECT_EQ(appVersionsFileLocationFromRawValue(cases[i].raw), cases[i].location);
        EXPECT_EQ(menuTitle(cases[i].location), cases[i].title);
    }
}

TEST(AppVersionsFileLocationTest, FixedURLs) {
    auto remote = url(AppVersionsFileLocation::remote);
    ASSERT_TRUE(remote);
    EXPECT_EQ(remote->scheme(), "https");
    EXPECT_EQ(remote->path(), "/sites/default/files/software/Quorvaneappversions.json");

    // A host under ".invalid" never resolves, so loading it always fails.
    auto unreachable = url(AppVersionsFileLocation::invalidOrMissingFile);
    ASSERT_TRUE(unreachable);
    EXPECT_EQ(unreachable->scheme(), "https");
    EXPECT_TRUE(unreachable->host().endsWith(".invalid")) << unreachable->host().toStdString();
}

TEST(AppVersionsFileLocationTest, TheProductionURLComesFromTheDeploymentConfiguration) {
    const std::string builtIn = url(AppVersionsFileLocation::remote)->toString().toStdString();
    struct Case {
        const char* configured;
        bool taken;
    };
    const Case cases[] = {
        {"https://updates.test/quorvane/appversions.json", true},
        {"https://127.0.0.1:8443/appversions.json", true},
        {"http://updates.test/appversions.json", false},  // the document says what to download
        {"file:///tmp/appversions.json", false},
        {"https:///appversions.json", false},
        {"https://bad host/appversions.json", false},
        {"appversions.json", false},
    };
    const auto dir = testsupport::makeTempDir("deployment");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.configured);
        const auto file = dir / "quorvane-deployment.json";
        std::ofstream(file) << R"({"appVersionsURL": ")" << c.configured << R"("})";
        testsupport::ScopedVariable variable("QUORVANE_DEPLOYMENT_CONFIG", file.string());
        auto location = url(AppVersionsFileLocation::remote);
        ASSERT_TRUE(location);
        EXPECT_EQ(location->toString().toStdString(), c.taken ? c.configured : builtIn);
    }
}

TEST(AppVersionsFileLocationTest, DownloadsIsTheFileInTheUsersDownloadsFolder) {
    // The user's folders come from user-dirs.dirs under the (private) XDG config folder.
    const auto downloads = testsupport::makeTempDir("Downloads");
    const auto userDirs = std::filesystem::path(std::getenv("XDG_CONFIG_HOME")) / "user-dirs.dirs";
    {
        std::ofstream out(userDirs);
        out << "XDG_DOWNLOAD_DIR=\"" << downloads.string() << "\"\n";
    }
    auto location = url(AppVersionsFileLocation::downloads);
    std::filesystem::remove(userDirs);

    ASSERT_TRUE(location);
    EXPECT_TRUE(location->isLocalFile());
    EXPECT_EQ(location->toLocalFile().toStdString(), (downloads / "appversions.json").string());
}

// Each test document is a resource of the app, and a valid document that shows what its menu title says for
// this app (an app version below 99.0.0) on any system version above 1.0.0.
TEST(AppVersionsFileLocationTest, TestDocumentsAreBuiltInAndDecode) {
    struct Case {
        AppVersionsFileLocation location;
        const char* resource;
        std::size_t releases;
        bool firstHasSuggestion;
        bool firstHasForce;
    };
    const std::vector<Case> cases = {
        {AppVersionsFileLocation::testNoUpdate, "/appversions_no_updates.json", 1, false, false},
        {AppVersionsFileLocation::testSimpleUpdate, "/appversions_simple_update.json", 1, false, false},
        {AppVersionsFileLocation::testSuggestedUpdate, "/appversions_suggested_update.json", 1, true, false},
        {AppVersionsFileLocation::testForcedUpdate, "/appversions_forced_update.json", 1, true, true},
        {AppVersionsFileLocation::testSuggestedUpdateOtherOS, "/appversions_suggested_other_os_version.json",
         2, true, false},
    };
    const auto appVersion = platform::BundleInfo::mainInfoValue(platform::BundleInfo::shortVersionKey);
    ASSERT_TRUE(appVersion);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.resource);
        auto location = url(c.location);
        ASSERT_TRUE(location);
        EXPECT_EQ(location->scheme(), "qrc");
        EXPECT_EQ(location->path(), c.resource);

        QFile file(":" + location->path());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const auto bytes = file.readAll().toStdString();
        EIDVersions document;
        ASSERT_NO_THROW(document = EIDVersions::decode(bytes));
        const auto& releases = document.platforms.linux_.components.quorvane.releases;
        ASSERT_EQ(releases.size(), c.releases);
        const auto& first = releases.front();
        EXPECT_EQ(first.autoUpgrade && first.autoUpgrade->suggestIfBelow.has_value(), c.firstHasSuggestion);
        EXPECT_EQ(first.autoUpgrade && first.autoUpgrade->forceIfBelow.has_value(), c.firstHasForce);
        // Every release is for every system above 0.0.0; the other-OS document's first one ends at 1.0.0.
        for (const auto& release : releases)
            EXPECT_EQ(release.osVersion.min, "0.0.0");
        const auto& running = releases.back();
        EXPECT_FALSE(running.osVersion.max);
        if (c.location == AppVersionsFileLocation::testSuggestedUpdateOtherOS) {
            EXPECT_EQ(first.osVersion.max, "1.0.0");
        }
        // The running system's release offers an update exactly when the title says so.
        const bool offersUpdate = c.location != AppVersionsFileLocation::testNoUpdate &&
                                  c.location != AppVersionsFileLocation::testSuggestedUpdateOtherOS;
        EXPECT_EQ(running.version, offersUpdate ? "99.0.0" : *appVersion);
    }
}

// ---- Stored location and its selection

TEST_F(AppVersionsTest, StoredLocationReadsEachRawValueAndRemoteForAnythingElse) {
    AppVersionsFileLocationSelection selection;
    EXPECT_EQ(selection.storedFileLocation(), AppVersionsFileLocation::remote) << "nothing stored";

    for (auto location : allAppVersionsFileLocations) {
        SCOPED_TRACE(std::string(rawValue(location)));
        UserDefaults::standard().setString(storedKey, rawValue(location));
        EXPECT_EQ(selection.storedFileLocation(), location);
    }

    for (const char* unknown : {"Remote", "DOWNLOADS", "testnoupdate", " remote", "remote ", "", "production",
                                "testForcedUpdate\n"}) {
        SCOPED_TRACE(std::string("\"") + unknown + "\"");
        UserDefaults::standard().setString(storedKey, unknown);
        EXPECT_EQ(selection.storedFileLocation(), AppVersionsFileLocation::remote);
        EXPECT_EQ(UserDefaults::standard().string(storedKey), unknown) << "reading changed the stored value";
    }

    // A value of another type under the key.
    UserDefaults::standard().setDate(storedKey, platform::Date{});
    EXPECT_EQ(selection.storedFileLocation(), AppVersionsFileLocation::remote);
}

TEST_F(AppVersionsTest, WritingStoresTheRawValueForEveryLaterReader) {
    AppVersionsFileLocationSelection().setStoredFileLocation(
        AppVersionsFileLocation::testSuggestedUpdateOtherOS);
    EXPECT_EQ(UserDefaults::standard().string(storedKey), "testSuggestedUpdateOtherOS");
    EXPECT_EQ(AppVersionsFileLocationSelection().storedFileLocation(),
              AppVersionsFileLocation::testSuggestedUpdateOtherOS);
}

TEST_F(AppVersionsTest, TheLiveAppVersionsUsesTheStoredLocationAndIsBuiltOnce) {
    UserDefaults::standard().setString(storedKey, "testForcedUpdate");
    auto first = DependencyValues::shared().get<AppVersionsKey>();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->fileLocation(), AppVersionsFileLocation::testForcedUpdate);

    // Storing another value is not a selection: the running service stays.
    UserDefaults::standard().setString(storedKey, "downloads");
    EXPECT_EQ(DependencyValues::shared().get<AppVersionsKey>(), first);

    // A new app run reads the stored value again.
    DependencyValues::shared().reset();
    EXPECT_EQ(DependencyValues::shared().get<AppVersionsKey>()->fileLocation(),
              AppVersionsFileLocation::downloads);

    DependencyValues::shared().reset();
    UserDefaults::standard().clear();
    EXPECT_EQ(DependencyValues::shared().get<AppVersionsKey>()->fileLocation(),
              AppVersionsFileLocation::remote);
}

TEST_F(AppVersionsTest, SelectingStoresTheLocationAndReplacesTheAppsService) {
    auto selection = DependencyValues::shared().get<AppVersionsFileLocationSelectionKey>();
    EXPECT_EQ(DependencyValues::shared().get<AppVersionsFileLocationSelectionKey>(), selection);

    std::weak_ptr<AppVersions> before = Dependency<AppVersionsKey>().get();
    ASSERT_EQ(before.lock()->fileLocation(), AppVersionsFileLocation::remote);

    selection->select(AppVersionsFileLocation::testSimpleUpdate);

    EXPECT_TRUE(before.expired()) << "the replaced service is still held";
    auto after = Dependency<AppVersionsKey>().get();
    EXPECT_EQ(after->fileLocation(), AppVersionsFileLocation::testSimpleUpdate);
    EXPECT_EQ(UserDefaults::standard().string(storedKey), "testSimpleUpdate");

    // Selecting the same location again still makes a fresh service.
    selection->select(AppVersionsFileLocation::testSimpleUpdate);
    EXPECT_NE(Dependency<AppVersionsKey>().get(), after);

    // The choice survives a restart.
    DependencyValues::shared().reset();
    EXPECT_EQ(Dependency<AppVersionsKey>()->fileLocation(), AppVersionsFileLocation::testSimpleUpdate);
}

TEST_F(AppVersionsTest, TheLiveLoggerHasTheAppsLogID) {
    auto logger = DependencyValues::shared().get<LoggerClientKey>();
    ASSERT_TRUE(logger);
    EXPECT_EQ(logger->logID(), "ui");
    EXPECT_EQ(DependencyValues::shared().get<LoggerClientKey>(), logger);
}

// ---- The document

std::string documentWithReleases(const std::string& releases) {
    return R"({"platforms": {"linux": {"components": {"quorvane": {"releases": )" + releases + "}}}}}";
}

const std::string validLinks = R"({"default": "https://www.quorvane.example/download"})";

std::string releaseWith(const std::string& members) {
    return R"({"osVersion": {"min": "6.0.0"}, "version": "1.2.3", "links": )" + validLinks +
           (members.empty() ? "" : ", " + members) + "}";
}

QUrl link(const char* text) {
    return QUrl(QString::fromUtf8(text));
}

TEST(EIDVersionsTest, AValidDocumentDecodesItsReleasesInOrderAndIgnoresEverythingElse) {
    const std::string text = R"({
      "schema": 3,
      "platforms": {
        "windows": {"components": {"quorvane": {"releases": [{"version": 7}]}}},
        "macOS": {"components": {"quorvane": {"releases": "another platform's entry"}}},
        "linux": {
          "note": "ignored",
          "components": {
            "other": {"releases": "not even an array"},
            "quorvane": {
              "releases": [
                {"osVersion": {"min": "6.0.0", "max": "7.0.0"}, "version": "1.2.3",
                 "links": {"default": "https://www.quorvane.example/download",
                           "locales": {"fr": "https://www.quorvane.example/fr/download",
                                       "nl": "https://www.quorvane.example/nl/t%C3%A9l%C3%A9charger"}},
                 "autoUpgrade": {"suggestIfBelow": "1.2.0", "forceIfBelow": "1.0.0", "reason": "security"},
                 "releaseNotes": {"en": "Fixes"}},
                {"osVersion": {"min": "5.0.0"}, "version": "1.1.0",
                 "links": {"default": "https://www.quorvane.example/old"}}
              ]
            }
          }
        }
      }
    })";

    Release first;
    first.osVersion = {"6.0.0", "7.0.0"};
    first.version = "1.2.3";
    first.links.default_ = link("https://www.quorvane.example/download");
    first.links.locales =
        std::map<std::string, QUrl>{{"fr", link("https://www.quorvane.example/fr/download")},
                                    {"nl", link("https://www.quorvane.example/nl/t%C3%A9l%C3%A9charger")}};
    first.autoUpgrade = AutoUpgrade{"1.2.0", "1.0.0"};
    Release second;
    second.osVersion = {"5.0.0", std::nullopt};
    second.version = "1.1.0";
    second.links.default_ = link("https://www.quorvane.example/old");
    EIDVersions expected;
    expected.platforms.linux_.components.quorvane.releases = {first, second};

    EXPECT_EQ(EIDVersions::decode(text), expected);
}

TEST(EIDVersionsTest, AbsentAndNullOptionalMembersDecodeAsAbsent) {
    struct Case {
        const char* label;
        std::string release;
        std::optional<std::string> max;
        std::optional<AutoUpgrade> autoUpgrade;
        std::optional<std::map<std::string, QUrl>> locales;
    };
    const std::vector<Case> cases = {
        {"nothing optional", releaseWith(""), std::nullopt, std::nullopt, std::nullopt},
        {"null autoUpgrade", releaseWith(R"("autoUpgrade": null)"), std::nullopt, std::nullopt, std::nullopt},
        {"empty autoUpgrade", releaseWith(R"("autoUpgrade": {})"), std::nullopt, AutoUpgrade{}, std::nullopt},
        {"null thresholds", releaseWith(R"("autoUpgrade": {"suggestIfBelow": null, "forceIfBelow": null})"),
         std::nullopt, AutoUpgrade{}, std::nullopt},
        {"only a force threshold", releaseWith(R"("autoUpgrade": {"forceIfBelow": "2.0.0"})"), std::nullopt,
         AutoUpgrade{std::nullopt, "2.0.0"}, std::nullopt},
        {"null max",
         R"({"osVersion": {"min": "6.0.0", "max": null}, "version": "1.2.3", "links": )" + validLinks + "}",
         std::nullopt, std::nullopt, std::nullopt},
        {"null locales",
         R"({"osVersion": {"min": "6.0.0"}, "version": "1.2.3",
             "links": {"default": "https://www.quorvane.example/download", "locales": null}})",
         std::nullopt, std::nullopt, std::nullopt},
        {"empty locales",
         R"({"osVersion": {"min": "6.0.0"}, "version": "1.2.3",
             "links": {"default": "https://www.quorvane.example/download", "locales": {}}})",
         std::nullopt, std::nullopt, std::map<std::string, QUrl>{}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EIDVersions document;
        ASSERT_NO_THROW(document = EIDVersions::decode(documentWithReleases("[" + c.release + "]")));
        const auto& releases = document.platforms.linux_.components.quorvane.releases;
        ASSERT_EQ(releases.size(), 1u);
        EXPECT_EQ(releases[0].osVersion.min, "6.0.0");
        EXPECT_EQ(releases[0].osVersion.max, c.max);
        EXPECT_EQ(releases[0].version, "1.2.3");
        EXPECT_EQ(releases[0].links.default_, link("https://www.quorvane.example/download"));
        EXPECT_EQ(releases[0].links.locales, c.locales);
        EXPECT_EQ(releases[0].autoUpgrade, c.autoUpgrade);
    }

    EXPECT_TRUE(EIDVersions::decode(documentWithReleases("[]"))
                    .platforms.linux_.components.quorvane.releases.empty());
}

TEST(EIDVersionsTest, AnyMalformedPartFailsTheWholeDocument) {
    const std::string good = releaseWith("");
    struct Case {
        const char* label;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"empty input", ""},
        {"not JSON", "<html><body>404 Not Found</body></html>"},
        {"cut short", documentWithReleases("[" + good).substr(0, 60)},
        {"trailing text", documentWithReleases("[" + good + "]") + " and more"},
        {"a top-level array", "[" + documentWithReleases("[]") + "]"},
        {"no platforms", "{}"},
        {"null platforms", R"({"platforms": null})"},
        {"no linux", R"({"platforms": {"macOS": {"components": {"quorvane": {"releases": []}}}}})"},
        {"no quorvane component", R"({"platforms": {"linux": {"components": {"other": {"releases": []}}}}})"},
        {"no releases", R"({"platforms": {"linux": {"components": {"quorvane": {}}}}})"},
        {"null releases", documentWithReleases("null")},
        {"releases an object", documentWithReleases("{}")},
        {"a release that is not an object", documentWithReleases("[" + good + ", 5]")},
        {"a later release without links",
         documentWithReleases("[" + good + R"(, {"osVersion": {"min": "6.0.0"}, "version": "1.2.3"}])")},
        {"no version",
         documentWithReleases(R"([{"osVersion": {"min": "6.0.0"}, "links": )" + validLinks + "}]")},
        {"no osVersion", documentWithReleases(R"([{"version": "1.2.3", "links": )" + validLinks + "}]")},
        {"null min", documentWithReleases(R"([{"osVersion": {"min": null}, "version": "1.2.3", "links": )" +
                                          validLinks + "}]")},
        {"a number for the version",
         documentWithReleases(R"([{"osVersion": {"min": "6.0.0"}, "version": 1.2, "links": )" + validLinks +
                              "}]")},
        {"a number for max",
         documentWithReleases(R"([{"osVersion": {"min": "6.0.0", "max": 7}, "version": "1.2.3",
                                                       "links": )" +
                              validLinks + "}]")},
        {"an empty default link",
         documentWithReleases(
             R"([{"osVersion": {"min": "6.0.0"}, "version": "1.2.3", "links": {"default": ""}}])")},
        {"a default link with a blank",
         documentWithReleases(R"([{"osVersion": {"min": "6.0.0"}, "version": "1.2.3",
                                   "links": {"default": "https://www.quorvane example/download"}}])")},
        {"a number for the default link",
         documentWithReleases(
             R"([{"osVersion": {"min": "6.0.0"}, "version": "1.2.3", "links": {"default": 1}}])")},
        {"locales an array", documentWithReleases(R"([{"osVersion": {"min": "6.0.0"}, "version": "1.2.3",
                                   "links": {"default": "https://www.quorvane.example/", "locales": []}}])")},
        {"an invalid locale link",
         documentWithReleases(R"([{"osVersion": {"min": "6.0.0"}, "version": "1.2.3",
                                   "links": {"default": "https://www.quorvane.example/",
                                             "locales": {"fr": "https://www.quorvane.example/fr", "nl": "http://[nl"}}}])")},
        // Links that QUrl's strict mode takes but would write out as other links.
        {"a '#' within a link's fragment",
         documentWithReleases(R"([{"osVersion": {"min": "6.0.0"}, "version": "1.2.3",
                                   "links": {"default": "https://www.quorvane.example/download##"}}])")},
        {"a noncharacter in a locale link",
         documentWithReleases(R"([{"osVersion": {"min": "6.0.0"}, "version": "1.2.3",
                                   "links": {"default": "https://www.quorvane.example/",
                                             "locales": {"fr": "https://www.quorvane.example/\uFFFF"}}}])")},
        {"a null locale link", documentWithReleases(R"([{"osVersion": {"min": "6.0.0"}, "version": "1.2.3",
                                   "links": {"default": "https://www.quorvane.example/", "locales": {"fr": null}}}])")},
        {"autoUpgrade a string", documentWithReleases("[" + releaseWith(R"("autoUpgrade": "yes")") + "]")},
        {"a number for a threshold",
         documentWithReleases("[" + releaseWith(R"("autoUpgrade": {"forceIfBelow": 2})") + "]")},
        {"a string that is not UTF-8",
         documentWithReleases("[" + releaseWith("\"note\": \"\xff\xfe\"") + "]")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_THROW(EIDVersions::decode(c.text), DecodingError);
    }
}

TEST(EIDVersionsTest, SizeAndNestingAreBoundedWithoutACrash) {
    const std::string document = documentWithReleases("[" + releaseWith("") + "]");
    std::string atLimit = document + std::string(EIDVersions::maxDocumentSize - document.size(), ' ');
    EXPECT_NO_THROW(EIDVersions::decode(atLimit));
    EXPECT_THROW(EIDVersions::decode(atLimit + " "), DecodingError);

    // An ignored member nested within the bound is ignored; brackets inside strings do not count.
    auto withIgnored = [&](const std::string& value) {
        return "{\"ignored\": " + value + ", " + document.substr(1);
    };
    const std::size_t inside = EIDVersions::maxNestingDepth - 1;
    EXPECT_NO_THROW(EIDVersions::decode(withIgnored(std::string(inside, '[') + std::string(inside, ']'))));
    EXPECT_NO_THROW(EIDVersions::decode(withIgnored("\"" + std::string(100000, '[') + "\"")));
    EXPECT_NO_THROW(EIDVersions::decode(withIgnored("\"\\\"" + std::string(100000, '{') + "\"")));

    // Deeper nesting, closed or not, is refused before it can exhaust the stack.
    for (std::size_t depth : {EIDVersions::maxNestingDepth, std::size_t{200000}}) {
        SCOPED_TRACE(depth);
        EXPECT_THROW(EIDVersions::decode(withIgnored(std::string(depth, '[') + std::string(depth, ']'))),
                     DecodingError);
        EXPECT_THROW(EIDVersions::decode(withIgnored(std::string(depth, '{'))), DecodingError);
    }
}

TEST(EIDVersionsTest, EncodingWritesTheSameKeysAndLeavesAbsentMembersOut) {
    const std::string text =
        documentWithReleases("[" + releaseWith(R"("autoUpgrade": {"suggestIfBelow": "1.3.0"})") + ", " +
                             R"({"osVersion": {"min": "5.0.0", "max": "6.0.0"}, "version": "1.0.0",
            "links": {"default": "https://www.quorvane.example/old", "locales": {"fr": "https://www.quorvane.example/fr"}}})" +
                             "]");
    const auto decoded = EIDVersions::decode(text);
    const Json encoded = decoded;

    const auto& releases = encoded["platforms"]["linux"]["components"]["quorvane"]["releases"];
    ASSERT_EQ(releases.size(), 2u);
    EXPECT_EQ(
        releases[0].dump(),
        R"({"osVersion":{"min":"6.0.0"},"version":"1.2.3","links":{"default":"https://www.quorvane.example/download"},)"
        R"("autoUpgrade":{"suggestIfBelow":"1.3.0"}})");
    EXPECT_EQ(releases[1]["osVersion"].dump(), R"({"min":"5.0.0","max":"6.0.0"})");
    EXPECT_EQ(releases[1]["links"]["locales"].dump(), R"({"fr":"https://www.quorvane.example/fr"})");
    EXPECT_EQ(EIDVersions::decode(encoded.dump()), decoded);
}

}  // namespace
