#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Quorvane/core/HalcyraEnvironment.h"
#include "Quorvane/core/HalcyraEnvironmentSelection.h"
#include "platform/qt/UserDefaults.h"
#include "platform/testing/TestEnvironment.h"

using platform::UserDefaults;

namespace {

// Points the deployment configuration at a file of the test's own for the scope's lifetime.
class DeploymentFile {
  public:
    explicit DeploymentFile(const std::string& json) : variable_("QUORVANE_DEPLOYMENT_CONFIG", write(json)) {}

  private:
    static std::string write(const std::string& json) {
        auto file = testsupport::makeTempDir("deployment") / "quorvane-deployment.json";
        std::ofstream(file) << json;
        return file.string();
    }
    testsupport::ScopedVariable variable_;
};

TEST(HalcyraEnvironmentTest, RawValuesAndOrder) {
    std::vector<std::string> raws;
    for (auto environment : allHalcyraEnvironments) {
        raws.emplace_back(rawValue(environment));
        EXPECT_EQ(halcyraEnvironmentFromRawValue(rawValue(environment)), environment);
    }
    EXPECT_EQ(raws, (std::vector<std::string>{"TA", "QA", "RC", "INT", "PROD"}));
    for (const char* raw : {"qa", "Prod", "int", "", " PROD", "PROD ", "PRODUCTION", "TA\n"})
        EXPECT_EQ(halcyraEnvironmentFromRawValue(raw), std::nullopt) << raw;
}

TEST(HalcyraEnvironmentTest, BaseURLsComeFromTheDeploymentConfiguration) {
    DeploymentFile file(R"({"environments": {"TA": "ta.test", "QA": "127.0.0.1:8443", "RC": "[::1]:9000",
                                              "INT": "int.test", "PROD": "prod.test"}})");
    EXPECT_EQ(baseURL(HalcyraEnvironment::ta), "https://ta.test/srvremotesign");
    EXPECT_EQ(baseURL(HalcyraEnvironment::qa), "https://127.0.0.1:8443/srvremotesign");
    EXPECT_EQ(baseURL(HalcyraEnvironment::rc), "https://[::1]:9000/srvremotesign");
    EXPECT_EQ(baseURL(HalcyraEnvironment::int_), "https://int.test/srvremotesign");
    EXPECT_EQ(baseURL(HalcyraEnvironment::prod), "https://prod.test/srvremotesign");
}

TEST(HalcyraEnvironmentTest, WithoutAConfiguredHostTheBuiltInOneIsUsed) {
    DeploymentFile file(R"({"environments": {"QA": "qa.test"}})");
    EXPECT_EQ(baseURL(HalcyraEnvironment::qa), "https://qa.test/srvremotesign");
    EXPECT_EQ(baseURL(HalcyraEnvironment::prod),
              "https://" + std::string(builtInHost(HalcyraEnvironment::prod)) + "/srvremotesign");

    std::set<std::string> hosts;
    for (auto environment : allHalcyraEnvironments)
        hosts.emplace(builtInHost(environment));
    EXPECT_EQ(hosts.size(), 5u) << "the built-in hosts differ from each other";
}

TEST(HalcyraEnvironmentTest, AHostThatWouldMakeAnotherURLIsRefused) {
    for (const char* host : {"evil.test/path", "https://prod.test", "user@prod.test", "prod.test?x=1", "a b",
                             "prod.test:", "prod.test:port", "[::1", "prod.test#x", ".test"}) {
        DeploymentFile file(std::string(R"({"environments": {"PROD": ")") + host + R"("}})");
        EXPECT_EQ(baseURL(HalcyraEnvironment::prod),
                  "https://" + std::string(builtInHost(HalcyraEnvironment::prod)) + "/srvremotesign")
            << host;
    }
}

class HalcyraEnvironmentSelectionTest : public ::testing::Test {
  protected:
    void SetUp() override { UserDefaults::standard().clear(); }
    void TearDown() override { UserDefaults::standard().clear(); }
};

TEST_F(HalcyraEnvironmentSelectionTest, CurrentEnvironmentFromStoredValues) {
    struct Case {
        std::optional<std::string> stored;
        HalcyraEnvironment expected;
    };
    const Case cases[] = {
        {std::nullopt, HalcyraEnvironment::prod}, {"TA", HalcyraEnvironment::ta},
        {"QA", HalcyraEnvironment::qa},           {"RC", HalcyraEnvironment::rc},
        {"INT", HalcyraEnvironment::int_},        {"PROD", HalcyraEnvironment::prod},
        {"qa", HalcyraEnvironment::prod},         {"Int", HalcyraEnvironment::prod},
        {"", HalcyraEnvironment::prod},           {"staging", HalcyraEnvironment::prod},
    };
    HalcyraEnvironmentSelection selection;
    for (const auto& c : cases) {
        if (c.stored)
            UserDefaults::standard().setString(HalcyraEnvironmentSelection::environmentKey, *c.stored);
        else
            UserDefaults::standard().remove(HalcyraEnvironmentSelection::environmentKey);
        EXPECT_EQ(selection.currentEnvironment(), c.expected) << c.stored.value_or("<none>");
    }
}

TEST_F(HalcyraEnvironmentSelectionTest, SelectStoresTheRawValueThenSwitches) {
    std::vector<HalcyraEnvironment> switched;
    std::vector<HalcyraEnvironment> storedWhenSwitched;
    HalcyraEnvironmentSelection selection([&](HalcyraEnvironment environment) {
        switched.push_back(environment);
        storedWhenSwitched.push_back(HalcyraEnvironmentSelection().currentEnvironment());
    });

    selection.select(HalcyraEnvironment::qa);
    EXPECT_EQ(UserDefaults::standard().string("orchestrator_env"), "QA");
    // A new selection object, as after a restart, reads the same.
    EXPECT_EQ(HalcyraEnvironmentSelection().currentEnvironment(), HalcyraEnvironment::qa);

    // Selecting the environment in use switches again.
    selection.select(HalcyraEnvironment::qa);
    selection.select(HalcyraEnvironment::int_);
    EXPECT_EQ(UserDefaults::standard().string("orchestrator_env"), "INT");
    EXPECT_EQ(switched, (std::vector<HalcyraEnvironment>{HalcyraEnvironment::qa, HalcyraEnvironment::qa,
                                                         HalcyraEnvironment::int_}));
    EXPECT_EQ(storedWhenSwitched, switched);
}

}  // namespace
