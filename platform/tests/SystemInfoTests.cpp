#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "platform/BundleInfo.h"
#include "platform/qt/SystemInfo.h"

using platform::BundleInfo;
using platform::OperatingSystemVersion;
using platform::SystemInfo;

namespace {

TEST(SystemInfoTest, KernelReleaseTexts) {
    struct Case {
        const char* release;
        OperatingSystemVersion expected;
    };
    const Case cases[] = {
        {"6.1.0-18-amd64", {6, 1, 0}},
        {"5.15.133.1-microsoft-standard-WSL2", {5, 15, 133}},
        {"6.5.0+", {6, 5, 0}},
        {"5.15", {5, 15, 0}},
        {"4", {4, 0, 0}},
        {"6.10.14-rc3", {6, 10, 14}},
        {"", {0, 0, 0}},
        {"linux", {0, 0, 0}},
        {"99999999999.1.2", {0, 1, 2}},
    };
    for (const auto& c : cases) {
        auto version = SystemInfo::parseKernelRelease(c.release);
        EXPECT_EQ(version, c.expected) << c.release << " gave " << version.majorVersion << "."
                                       << version.minorVersion << "." << version.patchVersion;
    }
}

TEST(SystemInfoTest, SystemTextNamesLinuxAndAlwaysWritesThePatchNumber) {
    EXPECT_TRUE(std::regex_match(SystemInfo::operatingSystemVersionText(),
                                 std::regex("Linux [0-9]+\\.[0-9]+\\.[0-9]+")))
        << SystemInfo::operatingSystemVersionText();
    EXPECT_GT(SystemInfo::operatingSystemVersion().majorVersion, 0);

    SystemInfo::setOperatingSystemVersionOverride(OperatingSystemVersion{14, 5, 0});
    EXPECT_EQ(SystemInfo::operatingSystemVersionText(), "Linux 14.5.0");
    SystemInfo::setOperatingSystemVersionOverride(std::nullopt);
}

TEST(SystemInfoTest, PreferredLanguagesCanBeReplaced) {
    SystemInfo::setPreferredLanguagesOverride(std::vector<std::string>{"fr-CH", "en-US"});
    EXPECT_EQ(SystemInfo::firstPreferredLanguage(), "fr-CH");
    SystemInfo::setPreferredLanguagesOverride(std::vector<std::string>{});
    EXPECT_EQ(SystemInfo::firstPreferredLanguage(), std::nullopt);
    SystemInfo::setPreferredLanguagesOverride(std::nullopt);
    EXPECT_EQ(SystemInfo::firstPreferredLanguage().has_value(), !SystemInfo::preferredLanguages().empty());
}

TEST(BundleInfoTest, VersionComesFromTheBuildAndCanBeReplaced) {
    auto dictionary = BundleInfo::mainInfoDictionary();
    ASSERT_TRUE(dictionary);
    EXPECT_TRUE(
        std::regex_match(dictionary->at("CFBundleShortVersionString"), std::regex("[0-9]+(\\.[0-9]+)*")));
    EXPECT_FALSE(dictionary->at("CFBundleVersion").empty());

    BundleInfo::overrideMainInfoDictionary(BundleInfo::Dictionary{{"CFBundleShortVersionString", "1.4"}});
    EXPECT_EQ(BundleInfo::mainInfoValue("CFBundleShortVersionString"), "1.4");
    EXPECT_EQ(BundleInfo::mainInfoValue("CFBundleVersion"), std::nullopt);
    BundleInfo::overrideMainInfoDictionary(std::nullopt);
    EXPECT_EQ(BundleInfo::mainInfoDictionary(), std::nullopt);
    BundleInfo::resetMainInfoDictionary();
    EXPECT_EQ(BundleInfo::mainInfoDictionary(), dictionary);
}

}  // namespace
