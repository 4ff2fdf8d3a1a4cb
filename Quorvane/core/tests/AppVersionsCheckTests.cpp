// The update check: the version order, the update rule, the release pick, the download link, and fetching
// the document from files, resources and loopback HTTPS servers.
#include <gtest/gtest.h>

#include <QFile>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Quorvane/core/AppVersions.h"
#include "Quorvane/core/AppVersionsFileLocation.h"
#include "http/tests/TestServer.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/BundleInfo.h"
#include "platform/qt/SystemInfo.h"
#include "platform/qt/TlsTrust.h"
#include "platform/testing/Await.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"
#include "sim/testing/SimServerProcess.h"

using platform::BundleInfo;
using platform::OperatingSystemVersion;
using platform::SystemInfo;
using namespace std::chrono_literals;

namespace {

Release releaseWith(std::string version, std::optional<AutoUpgrade> upgrade = std::nullopt,
                    OSVersionRange range = {"0.0.0", std::nullopt}) {
    Release release;
    release.osVersion = std::move(range);
    release.version = std::move(version);
    release.links.default_ = QUrl("https://www.quorvane.example/download");
    release.autoUpgrade = std::move(upgrade);
    return release;
}

class SystemVersion {
  public:
    explicit SystemVersion(OperatingSystemVersion version) {
        SystemInfo::setOperatingSystemVersionOverride(version);
    }
    ~SystemVersion() { SystemInfo::setOperatingSystemVersionOverride(std::nullopt); }
};

class AppVersion {
  public:
    explicit AppVersion(std::optional<std::string> version) {
        BundleInfo::Dictionary dictionary;
        if (version)
            dictionary[BundleInfo::shortVersionKey] = *version;
        BundleInfo::overrideMainInfoDictionary(dictionary);
    }
    ~AppVersion() { BundleInfo::resetMainInfoDictionary(); }
};

// ---- Version order

TEST(VersionOrder, ComparesDotSeparatedNumbersWithMissingPartsAsZero) {
    struct Case {
        const char* a;
        const char* b;
        bool aBeforeB;
        bool bBeforeA;
    };
    const Case cases[] = {
        {"1.9.0", "1.10.0", true, false},
        {"9.0.0", "10.15.7", true, false},
        {"14.9.0", "14.10.0", true, false},
        {"1.2.3", "1.2.4", true, false},
        {"1.2.3", "1.3.0", true, false},
        {"1.2.3", "2.0.0", true, false},
        {"2", "10", true, false},
        {"1.2.3", "1.2.3", false, false},
        {"14", "14.0.0", false, false},
        {"14.5", "14.5.0", false, false},
        {"1.0.0", "1.0.0.0.0", false, false},
        {"1.0.0", "1.0.0.1", true, false},
        {"01.02.03", "1.2.3", false, false},
        {"0.0.0", "0.0.1", true, false},
        {"99999999999999999999.0", "100000000000000000000", true, false},
        // Not versions: neither orders before anything.
        {"", "1.0.0", false, false},
        {"1.2.x", "1.3.0", false, false},
        {"1..2", "1.3", false, false},
        {"1.2.", "1.3", false, false},
        {".1", "2", false, false},
        {"v1.2", "1.3", false, false},
        {"1.2-beta", "1.3", false, false},
        {" 1.2", "1.3", false, false},
        {"+1", "2", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
        EXPECT_EQ(versionOrdersBefore(c.a, c.b), c.aBeforeB);
        EXPECT_EQ(versionOrdersBefore(c.b, c.a), c.bBeforeA);
    }
}

// ---- Update rule

TEST(UpdateRule, KindsForTheRunningAppVersion) {
    struct Case {
        const char* label;
        const char* app;
        Release release;
        AppUpdateKind kind;
    };
    const Case cases[] = {
        {"equal to the force threshold is not below it", "1.2.3",
         releaseWith("1.2.3", AutoUpgrade{std::nullopt, "1.2.3"}), AppUpdateKind::upToDate},
        {"force is tested first", "1.2.3", releaseWith("2.0.0", AutoUpgrade{"2.0.0", "1.2.4"}),
         AppUpdateKind::forced},
        {"only a suggestion", "1.2.3", releaseWith("1.3.0", AutoUpgrade{"1.3.0", std::nullopt}),
         AppUpdateKind::suggested},
        {"a force threshold passed, a suggestion not", "1.2.3",
         releaseWith("1.3.0", AutoUpgrade{"1.3.0", "1.0.0"}), AppUpdateKind::suggested},
        {"equal to the suggestion threshold", "1.3.0",
         releaseWith("1.4.0", AutoUpgrade{"1.3.0", std::nullopt}), AppUpdateKind::updateAvailable},
        {"no autoUpgrade, newer version", "1.2.3", releaseWith("1.2.4"), AppUpdateKind::updateAvailable},
        {"empty autoUpgrade, newer version", "1.2.3", releaseWith("1.2.4", AutoUpgrade{}),
         AppUpdateKind::updateAvailable},
        {"same version", "1.2.3", releaseWith("1.2.3"), AppUpdateKind::upToDate},
        {"older release", "1.2.3", releaseWith("1.2.0"), AppUpdateKind::upToDate},
        {"1.9.0 against 1.10.0", "1.9.0", releaseWith("1.10.0"), AppUpdateKind::updateAvailable},
        {"1.10.0 is above 1.9.0", "1.10.0", releaseWith("1.9.0"), AppUpdateKind::upToDate},
        {"1.10.0 is not below a 1.9.0 force", "1.10.0", releaseWith("1.9.0", AutoUpgrade{"1.9.0", "1.9.0"}),
         AppUpdateKind::upToDate},
        {"short forms count their missing parts as 0", "1.2",
         releaseWith("1.2.0", AutoUpgrade{"1.2.0", "1.2"}), AppUpdateKind::upToDate},
        {"no app version reads as 0.0.0", "0.0.0", releaseWith("0.0.1"), AppUpdateKind::updateAvailable},
        {"a malformed force threshold never forces", "1.2.3",
         releaseWith("1.2.3", AutoUpgrade{std::nullopt, "latest"}), AppUpdateKind::upToDate},
        {"a malformed version is no update", "1.2.3", releaseWith("2.0.0-beta"), AppUpdateKind::upToDate},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(updateKind(c.release, c.app), c.kind);
    }
}

TEST(UpdateRule, TheRunningAppsVersionComesFromTheBuildOr000) {
    {
        AppVersion app("1.2.3");
        EXPECT_EQ(AppVersions::currentAppVersion(), "1.2.3");
        EXPECT_EQ(updateKind(releaseWith("1.2.4")), AppUpdateKind::updateAvailable);
        EXPECT_EQ(updateKind(releaseWith("1.2.3")), AppUpdateKind::upToDate);
    }
    {
        AppVersion app(std::nullopt);
        EXPECT_EQ(AppVersions::currentAppVersion(), "0.0.0");
        EXPECT_EQ(updateKind(releaseWith("0.0.1", AutoUpgrade{std::nullopt, "0.0.1"})),
                  AppUpdateKind::forced);
    }
    BundleInfo::overrideMainInfoDictionary(std::nullopt);
    EXPECT_EQ(AppVersions::currentAppVersion(), "0.0.0");
    BundleInfo::resetMainInfoDictionary();
}

// ---- Release pick

TEST(ReleasePick, FirstReleaseWhoseExclusiveBoundsHoldTheRunningKernel) {
    SystemVersion running({6, 1, 0});
    EXPECT_EQ(AppVersions::currentSystemVersion(), "6.1.0");

    struct Case {
        const char* label;
        std::vector<OSVersionRange> ranges;
        std::optional<std::size_t> picked;
    };
    const Case cases[] = {
        {"min equal to the system is excluded", {{"6.1.0", std::nullopt}}, std::nullopt},
        {"min below", {{"6.0.0", std::nullopt}}, 0},
        {"min written short", {{"6", std::nullopt}}, 0},
        {"max equal to the system is excluded", {{"5.0.0", "6.1.0"}}, std::nullopt},
        {"max above, written short", {{"5.0.0", "7"}}, 0},
        {"min 6.1 equals 6.1.0", {{"6.1", std::nullopt}}, std::nullopt},
        {"numbers, not text: 10.0.0 is above", {{"10.0.0", std::nullopt}}, std::nullopt},
        {"numbers, not text: 5.10.0 is below", {{"5.10.0", std::nullopt}}, 0},
        {"first of two that match", {{"5.0.0", std::nullopt}, {"6.0.0", std::nullopt}}, 0},
        {"skips one that ends before", {{"4.0.0", "5.0.0"}, {"6.0.0", "6.1.1"}}, 1},
        {"a malformed bound never matches", {{"six", std::nullopt}, {"5.0.0", "7.x"}, {"5.0.0", "7"}}, 2},
        {"none matches", {{"7.0.0", std::nullopt}}, std::nullopt},
        {"no releases", {}, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<Release> releases;
        for (std::size_t i = 0; i < c.ranges.size(); ++i)
            releases.push_back(releaseWith("1.0." + std::to_string(i), std::nullopt, c.ranges[i]));
        auto picked = AppVersions::matchingRelease(releases);
        ASSERT_EQ(picked.has_value(), c.picked.has_value());
        if (picked) {
            EXPECT_EQ(*picked, releases[*c.picked]);
        }
    }
}

// ---- Download link

TEST(DownloadLink, OnlyTheFirstPreferredLanguagesCodeCounts) {
    Release release = releaseWith("2.0.0");
    const QUrl fallback = release.links.default_;
    const QUrl french("https://www.quorvane.example/fr/download");
    const QUrl dutch("https://www.quorvane.example/nl/download");
    using Languages = std::vector<std::string>;
    using Locales = std::optional<std::map<std::string, QUrl>>;
    struct Case {
        const char* label;
        Languages languages;
        Locales locales;
        QUrl expected;
    };
    const Case cases[] = {
        {"no languages", {}, std::map<std::string, QUrl>{{"fr", french}}, fallback},
        {"the region is dropped", {"fr-BE"}, std::map<std::string, QUrl>{{"fr", french}}, french},
        {"POSIX form", {"fr_BE"}, std::map<std::string, QUrl>{{"fr", french}}, french},
        {"later languages are never tried",
         {"nl-BE", "fr"},
         std::map<std::string, QUrl>{{"fr", french}},
         fallback},
        {"the first language listed",
         {"nl-BE", "fr"},
         std::map<std::string, QUrl>{{"fr", french}, {"nl", dutch}},
         dutch},
        {"no locales", {"fr"}, std::nullopt, fallback},
        {"empty locales", {"fr"}, std::map<std::string, QUrl>{}, fallback},
        {"a tag without a language", {"-BE"}, std::map<std::string, QUrl>{{"fr", french}}, fallback},
        {"upper-case tag", {"FR-be"}, std::map<std::string, QUrl>{{"fr", french}}, french},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        release.links.locales = c.locales;
        EXPECT_EQ(preferredLink(release, c.languages), c.expected);
    }

    release.links.locales = std::map<std::string, QUrl>{{"fr", french}};
    SystemInfo::setPreferredLanguagesOverride(Languages{"fr-CH", "en"});
    EXPECT_EQ(preferredLink(release), french);
    SystemInfo::setPreferredLanguagesOverride(std::nullopt);
}

// ---- Fetching

const std::string validDocument = R"({"platforms": {
    "macOS": {"components": {"quorvane": {"releases": [
        {"osVersion": {"min": "0.0.0"}, "version": "50.0.0", "links": {"default": "https://www.quorvane.example/mac"}}]}}},
    "linux": {"components": {"quorvane": {"releases": [
        {"osVersion": {"min": "7.0.0"}, "version": "3.0.0", "links": {"default": "https://www.quorvane.example/new"}},
        {"osVersion": {"min": "5.0.0", "max": "7.0.0"}, "version": "2.0.0",
         "links": {"default": "https://www.quorvane.example/download"}, "autoUpgrade": {"suggestIfBelow": "2.0.0"}}]}}}}})";

class FetchTest : public ::testing::Test {
  protected:
    SystemVersion running_{{6, 1, 0}};
    LogCapture log_;
    std::shared_ptr<LoggerClient> logger_ = std::make_shared<LoggerClient>("ui");

    std::optional<Release> fetch(std::optional<QUrl> url, std::chrono::milliseconds timeout = 5s) {
        return testsupport::await(AppVersions::fetchRelease(std::move(url), "remote", timeout, logger_));
    }
    std::vector<std::string> errors() const {
        std::vector<std::string> lines;
        for (const auto& line : log_.lines())
            if (line.level == LogLevel::error)
                lines.push_back(line.message);
        return lines;
    }
};

TEST_F(FetchTest, APickedReleaseFromAFileAndLogLines) {
    const auto file = testsupport::makeTempDir("doc") / "appversions.json";
    testsupport::writeFile(file, validDocument);
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString(file.string()));

    auto release = fetch(url);
    ASSERT_TRUE(release);
    EXPECT_EQ(release->version, "2.0.0") << "the linux entry's release for kernel 6.1.0";
    EXPECT_EQ(log_.messages(), std::vector<std::string>{"Retrieving versioning info from URL: " +
                                                        url.toString().toStdString()});
}

TEST_F(FetchTest, LocalFailuresAreLoggedAndGiveNoRelease) {
    const auto folder = testsupport::makeTempDir("doc");
    const auto notJSON = folder / "page.html";
    testsupport::writeFile(notJSON, "<html>404</html>");
    const auto notUTF8 = folder / "binary.json";
    testsupport::writeFile(notUTF8, "{\"platforms\": \"\xff\xfe\"}");
    const auto tooLarge = folder / "large.json";
    testsupport::writeFile(tooLarge, std::string(EIDVersions::maxDocumentSize + 1, ' '));
    const auto noMatch = folder / "old.json";
    testsupport::writeFile(noMatch, R"({"platforms": {"linux": {"components": {"quorvane": {"releases": [
        {"osVersion": {"min": "7.0.0"}, "version": "3.0.0", "links": {"default": "https://q.example/"}}]}}}}})");
    auto fileURL = [](const std::filesystem::path& path) {
        return QUrl::fromLocalFile(QString::fromStdString(path.string()));
    };

    struct Case {
        const char* label;
        std::optional<QUrl> url;
        std::vector<std::string> errors;
    };
    const std::vector<Case> cases = {
        {"no URL",
         std::nullopt,
         {"Could not retrieve versioning file data, no valid URL for file location remote"}},
        {"missing file",
         fileURL(folder / "absent.json"),
         {"Could not retrieve versioning file from " +
          fileURL(folder / "absent.json").toString().toStdString()}},
        {"a folder",
         fileURL(folder),
         {"Could not retrieve versioning file from " + fileURL(folder).toString().toStdString()}},
        {"missing resource",
         QUrl("qrc:/absent.json"),
         {"Could not retrieve versioning file from qrc:/absent.json"}},
        {"not JSON", fileURL(notJSON), {"Could not decode app versioning data:\n <html>404</html>"}},
        {"not UTF-8", fileURL(notUTF8), {"Could not decode app versioning data"}},
        {"larger than a document", fileURL(tooLarge), {"Could not decode app versioning data"}},
        {"no matching release is not logged", fileURL(noMatch), {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        log_.clear();
        EXPECT_FALSE(fetch(c.url));
        EXPECT_EQ(errors(), c.errors);
    }
}

// Each test document shows, on any kernel, what its menu title says.
TEST_F(FetchTest, TheTestDocumentsGiveTheirAdvertisedKinds) {
    AppVersion app("1.0.0");
    struct Case {
        AppVersionsFileLocation location;
        std::optional<AppUpdateKind> kind;
    };
    const Case cases[] = {
        {AppVersionsFileLocation::testNoUpdate, AppUpdateKind::upToDate},
        {AppVersionsFileLocation::testSimpleUpdate, AppUpdateKind::updateAvailable},
        {AppVersionsFileLocation::testSuggestedUpdate, AppUpdateKind::suggested},
        {AppVersionsFileLocation::testForcedUpdate, AppUpdateKind::forced},
        {AppVersionsFileLocation::testSuggestedUpdateOtherOS, AppUpdateKind::upToDate},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(rawValue(c.location)));
        auto release = testsupport::await(AppVersions(c.location).fetchRelease());
        ASSERT_TRUE(release);
        EXPECT_EQ(updateKind(*release), c.kind);
    }
    EXPECT_TRUE(errors().empty());
}

TEST_F(FetchTest, TheInstanceMayGoAwayWhileItsFetchRuns) {
    auto appVersions = std::make_shared<AppVersions>(AppVersionsFileLocation::testForcedUpdate);
    auto task = appVersions->fetchRelease();
    appVersions.reset();
    EXPECT_TRUE(testsupport::await(std::move(task)));
}

// ---- Fetching over HTTPS

const testsupport::ServerPKI& pki() {
    return testsupport::ServerPKI::shared();
}

void trustTestRoot() {
    static const bool trusted = [] {
        auto file = testsupport::makeTempDir("ca") / "root.pem";
        testsupport::writeFile(file, pki().root.certificatePEM());
        return platform::addTrustedCACertificates(file);
    }();
    ASSERT_TRUE(trusted);
}

class HTTPSFetchTest : public FetchTest {
  protected:
    void SetUp() override {
        trustTestRoot();
        auto& s = server_.server();
        s.Get("/ok", [](const httplib::Request&, httplib::Response& r) {
            r.set_content(validDocument, "application/json");
        });
        s.Get("/missing", [](const httplib::Request&, httplib::Response& r) {
            r.status = 404;
            r.set_content("<html>Not Found</html>", "text/html");
        });
        s.Get("/error-with-document", [](const httplib::Request&, httplib::Response& r) {
            r.status = 500;
            r.set_content(validDocument, "application/json");
        });
        s.Get("/binary", [](const httplib::Request&, httplib::Response& r) {
            r.set_content(std::string("\xff\xfe\x00\x01", 4), "application/octet-stream");
        });
        s.Get("/malformed", [](const httplib::Request&, httplib::Response& r) {
            r.set_content(
                R"({"platforms": {"linux": {"components": {"quorvane": {"releases": [{"version": "1"}]}}}}})",
                "application/json");
        });
        s.Get("/large", [](const httplib::Request&, httplib::Response& r) {
            r.set_content(std::string(EIDVersions::maxDocumentSize + 1, ' '), "application/json");
        });
        // Sent as it is, and (as JSON) compressed by the server: a few kilobytes that unpack to megabytes.
        const std::pair<const char*, const char*> largeReplies[] = {
            {"/large-chunked-plain", "application/octet-stream"},
            {"/large-chunked-compressed", "application/json"}};
        for (auto [path, type] : largeReplies) {
            s.Get(path, [this, type](const httplib::Request&, httplib::Response& r) {
                r.set_chunked_content_provider(type, [this](size_t, httplib::DataSink& sink) {
                    const std::string chunk(64 * 1024, ' ');
                    for (int i = 0; i < 64 && !released_; ++i)
                        if (!sink.write(chunk.data(), chunk.size()))
                            return false;
                    sink.done();
                    return true;
                });
            });
        }
        // Answers with a document after 5 s, or at the end of the test: a fetch without a time-out gets it.
        s.Get("/stalled", [this](const httplib::Request&, httplib::Response& r) {
            waitForRelease();
            r.set_content(validDocument, "application/json");
        });
        // Not a type the server compresses: a compressed reply would hold every byte back until the end.
        s.Get("/trickle", [this](const httplib::Request&, httplib::Response& r) {
            r.set_chunked_content_provider("application/octet-stream",
                                           [this](size_t, httplib::DataSink& sink) {
                                               // One byte every 10 ms: never idle long enough for the
                                               // transfer time-out, and a whole document (which a fetch
                                               // without a deadline would take) after some seconds.
                                               for (char c : validDocument) {
                                                   if (released_ || !sink.write(&c, 1))
                                                       return false;
                                                   std::this_thread::sleep_for(10ms);
                                               }
                                               sink.done();
                                               return true;
                                           });
        });
        s.Get("/cut", [](const httplib::Request&, httplib::Response& r) {
            r.set_content_provider(validDocument.size(), "application/json",
                                   [](size_t offset, size_t, httplib::DataSink& sink) {
                                       if (offset > 0)
                                           return false;
                                       sink.write(validDocument.data(), validDocument.size() / 2);
                                       return true;
                                   });
        });
        server_.start();
    }
    void TearDown() override { released_ = true; }

    void waitForRelease() {
        for (int i = 0; i < 500 && !released_; ++i)
            std::this_thread::sleep_for(10ms);
    }
    QUrl at(const std::string& path) const { return QUrl(QString::fromStdString(server_.origin() + path)); }

    httptest::TestServer server_{pki().leaf, {pki().intermediate.certificate}};
    std::atomic<bool> released_{false};
};

TEST_F(HTTPSFetchTest, TheDocumentOfAnyStatusIsDecoded) {
    auto release = fetch(at("/ok"));
    ASSERT_TRUE(release);
    EXPECT_EQ(release->version, "2.0.0");
    ASSERT_EQ(server_.requests().size(), 1u);
    EXPECT_EQ(server_.requests()[0].method, "GET");

    // The status is not looked at: a document is a document.
    release = fetch(at("/error-with-document"));
    ASSERT_TRUE(release);
    EXPECT_EQ(release->version, "2.0.0");
    EXPECT_TRUE(errors().empty());
}

TEST_F(HTTPSFetchTest, FailedSlowAndMalformedRepliesAreLoggedAndGiveNoRelease) {
    auto transferFailed = [this](const std::string& path) {
        return std::vector<std::string>{"Could not retrieve versioning file from " +
                                        at(path).toString().toStdString()};
    };
    struct Case {
        std::string path;
        std::vector<std::string> errors;
    };
    const std::vector<Case> cases = {
        {"/missing", {"Could not decode app versioning data:\n <html>Not Found</html>"}},
        {"/binary", {"Could not decode app versioning data"}},
        {"/malformed",
         {"Could not decode app versioning data:\n " +
          std::string(
              R"({"platforms": {"linux": {"components": {"quorvane": {"releases": [{"version": "1"}]}}}}})")}},
        {"/large", {"Could not decode app versioning data"}},
        {"/large-chunked-plain", {"Could not decode app versioning data"}},
        {"/large-chunked-compressed", {"Could not decode app versioning data"}},
        {"/stalled", transferFailed("/stalled")},
        {"/trickle", transferFailed("/trickle")},
        {"/cut", transferFailed("/cut")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        log_.clear();
        EXPECT_FALSE(fetch(at(c.path), 600ms));
        EXPECT_EQ(errors(), c.errors);
    }
}

TEST_F(HTTPSFetchTest, AnUntrustedServerOrNoServerIsAFailedTransfer) {
    httptest::TestServer untrusted(pki().unrelatedLeaf, {});
    untrusted.server().Get("/ok", [](const httplib::Request&, httplib::Response& r) {
        r.set_content(validDocument, "application/json");
    });
    untrusted.start();
    const QUrl untrustedURL(QString::fromStdString(untrusted.origin() + "/ok"));
    EXPECT_FALSE(fetch(untrustedURL));
    EXPECT_TRUE(untrusted.requests().empty());

    const QUrl nobody("https://127.0.0.1:1/appversions.json");
    EXPECT_FALSE(fetch(nobody));
    EXPECT_EQ(errors(),
              (std::vector<std::string>{
                  "Could not retrieve versioning file from " + untrustedURL.toString().toStdString(),
                  "Could not retrieve versioning file from " + nobody.toString().toStdString()}));
}

// The stand-in server's document, which the demo's deployment file names: this build is up to date with it.
TEST_F(FetchTest, TheStandInServersDocumentFindsThisBuildUpToDate) {
    simtest::SimServerProcess server;
    ASSERT_TRUE(platform::addTrustedCACertificates(server.caFile()));
    auto release = fetch(QUrl(QString("https://localhost:%1/appversions.json").arg(server.port())));
    ASSERT_TRUE(release) << ::testing::PrintToString(errors());
    EXPECT_EQ(release->version, AppVersions::currentAppVersion());
    EXPECT_EQ(updateKind(*release), AppUpdateKind::upToDate);
    EXPECT_TRUE(errors().empty());
}

}  // namespace
