#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/DeploymentConfiguration.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"

using platform::DeploymentConfiguration;
using testsupport::ScopedVariable;

TEST(DeploymentConfigurationTest, ReadsTheNamedFileAndResolvesPathsAgainstIt) {
    auto dir = testsupport::makeTempDir("deployment");
    testsupport::writeFile(dir / "config.json", R"({
        "environments": {"TA": "ta.test", "PROD": "prod.test"},
        "appVersionsURL": "https://updates.test/appversions.json",
        "bridgeProgram": "bin/bridge",
        "extraCACertificates": "/etc/absolute/ca.pem",
        "unknown": true
    })");
    ScopedVariable file("QUORVANE_DEPLOYMENT_CONFIG", (dir / "config.json").string());
    ScopedVariable ca("QUORVANE_EXTRA_CA_FILE", std::nullopt);

    auto configuration = DeploymentConfiguration::load();
    EXPECT_EQ(configuration.environmentHosts,
              (std::map<std::string, std::string>{{"PROD", "prod.test"}, {"TA", "ta.test"}}));
    EXPECT_EQ(configuration.appVersionsURL, "https://updates.test/appversions.json");
    EXPECT_EQ(configuration.bridgeProgram, dir / "bin/bridge");
    EXPECT_EQ(configuration.extraCACertificates, std::filesystem::path("/etc/absolute/ca.pem"));

    ScopedVariable override("QUORVANE_EXTRA_CA_FILE", "/tmp/other.pem");
    EXPECT_EQ(DeploymentConfiguration::load().extraCACertificates, std::filesystem::path("/tmp/other.pem"));
}

TEST(DeploymentConfigurationTest, MissingOrMalformedFilesGiveTheDefaults) {
    auto dir = testsupport::makeTempDir("deployment");
    ScopedVariable ca("QUORVANE_EXTRA_CA_FILE", std::nullopt);
    const std::pair<const char*, std::optional<std::string>> files[] = {
        {"missing", std::nullopt},
        {"not JSON", "{"},
        {"not an object", "[]"},
        {"host not a string", R"({"environments": {"TA": 1}})"},
        {"empty host", R"({"environments": {"TA": ""}})"},
        {"environments not an object", R"({"environments": ["TA"]})"},
        {"bridge not a string", R"({"environments": {"TA": "ta.test"}, "bridgeProgram": 3})"},
        {"app-versions URL not a string", R"({"environments": {"TA": "ta.test"}, "appVersionsURL": ["x"]})"},
    };
    int index = 0;
    for (const auto& [name, contents] : files) {
        auto path = dir / ("config-" + std::to_string(++index) + ".json");
        if (contents)
            testsupport::writeFile(path, *contents);
        ScopedVariable file("QUORVANE_DEPLOYMENT_CONFIG", path.string());
        auto configuration = DeploymentConfiguration::load();
        EXPECT_TRUE(configuration.environmentHosts.empty()) << name;
        EXPECT_FALSE(configuration.appVersionsURL) << name;
        EXPECT_FALSE(configuration.bridgeProgram) << name;
        EXPECT_FALSE(configuration.extraCACertificates) << name;
    }
}
