// The installed system on a user's machine: `cmake --install` into a temporary prefix, the app's first token
// registration in a fresh home, and another application finding the token through p11-kit by the installed
// registration.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>

#include "Quorvane/core/AppVersionsFileLocation.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/HalcyraEnvironment.h"
#include "Quorvane/core/SigningSessionContext.h"
#include "Quorvane/core/SigningSessionDatabaseClient.h"
#include "platform/DeploymentConfiguration.h"
#include "platform/LaunchAgent.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"
#include "platform/tokens/TokenStore.h"
#include "relay/testing/RelayTestSupport.h"

using relaytest::readFile;
using relaytest::runProgram;
using testsupport::ScopedVariable;

namespace {

class InstallTest : public ::testing::Test {
  protected:
    // One installation for the tests of this file.
    static void SetUpTestSuite() {
        prefix = testsupport::makeTempDir("install") / "prefix";
        installation =
            runProgram({QUORVANE_CMAKE_COMMAND, "--install", QUORVANE_BUILD_DIR, "--prefix", prefix.native()},
                       {{"DESTDIR", ""}}, std::nullopt, std::chrono::seconds(120));
    }
    void SetUp() override { ASSERT_EQ(installation.status, 0) << installation.output; }

    static std::filesystem::path programs() { return prefix / QUORVANE_INSTALL_PROGRAMDIR; }
    static std::filesystem::path module() {
        return prefix / QUORVANE_INSTALL_MODULEDIR / "libpellin-pkcs11.so";
    }
    static std::filesystem::path registration() {
        return prefix / QUORVANE_INSTALL_P11KITDIR / "pellin.module";
    }

    static inline std::filesystem::path prefix;
    static inline relaytest::ProgramResult installation;
};

bool isExecutable(const std::filesystem::path& path) {
    return std::filesystem::is_regular_file(path) && ::access(path.c_str(), X_OK) == 0;
}

TEST_F(InstallTest, TheInstalledFilesPointAtTheInstalledPrograms) {
    // The relay and the bridge lie next to the app's programs, where the app looks for them.
    EXPECT_TRUE(isExecutable(programs() / "brokel"));
    EXPECT_TRUE(isExecutable(programs() / "VexoConnect_2_12"));
    EXPECT_FALSE(std::filesystem::exists(programs() / "quorvane-sim-server"));

    std::smatch match;
    const std::string text = readFile(registration());
    ASSERT_TRUE(std::regex_search(text, match, std::regex("(^|\n)module: *([^\n]*)"))) << text;
    EXPECT_EQ(match[2].str(), module().native());
    EXPECT_TRUE(std::filesystem::is_regular_file(module()));

    // The desktop entry starts the installed app whatever the PATH holds.
    const std::string entry = readFile(prefix / "share" / "applications" / "quorvane.desktop");
    ASSERT_TRUE(std::regex_search(entry, match, std::regex("(^|\n)Exec=([^\n]*)"))) << entry;
    EXPECT_EQ(match[2].str(), (programs() / "quorvane").native() + " %u");
    EXPECT_TRUE(isExecutable(programs() / "quorvane"));

    platform::LaunchAgent agent("com.tovik.kelv-pc-signing-macos.brokel.plist",
                                prefix / QUORVANE_INSTALL_AGENTDIR,
                                testsupport::makeTempDir("registry") / "launch-agents.json");
    auto definition = agent.definition();
    ASSERT_TRUE(definition);
    EXPECT_EQ(definition->program, (programs() / "brokel").native());

    // The shipped deployment configuration is one the app takes whole: every host and the app-versions URL
    // are the file's, none falls back to the built-in one.
    ScopedVariable file("QUORVANE_DEPLOYMENT_CONFIG", (programs() / "quorvane-deployment.json").native());
    auto configuration = platform::DeploymentConfiguration::load();
    for (auto environment : allHalcyraEnvironments) {
        auto host = configuration.environmentHosts.find(std::string(rawValue(environment)));
        ASSERT_NE(host, configuration.environmentHosts.end()) << rawValue(environment);
        EXPECT_EQ(baseURL(environment), "https://" + host->second + "/srvremotesign");
    }
    ASSERT_TRUE(configuration.appVersionsURL);
    EXPECT_EQ(url(AppVersionsFileLocation::remote)->toString().toStdString(), *configuration.appVersionsURL);
    EXPECT_EQ(configuration.bridgeProgram, programs() / "VexoConnect_2_12");
}

// The user's first registration makes the token driver's folder; p11-kit then finds the module by the
// installed registration and the module serves the token. p11-kit ignores root's own registrations: as root,
// the fresh home is given to another user, who lists the tokens.
TEST_F(InstallTest, ATokenTheAppRegistersInAFreshHomeIsListedThroughP11Kit) {
    const auto home = testsupport::makeTempDir("home");
    const auto config = home / ".config", data = home / ".local" / "share";
    std::filesystem::create_directories(config / "pkcs11" / "modules");
    std::filesystem::copy_file(registration(), config / "pkcs11" / "modules" / "pellin.module");

    testsupport::CertificateRequest request;
    request.commonName = "Installed";
    const auto certificate = testsupport::makeSelfSigned(request).der();
    {
        ScopedVariable dataHome("XDG_DATA_HOME", data.native());
        const auto driverFolder = platform::tokens::TokenStore::defaultDriverFolder();
        ASSERT_FALSE(std::filesystem::exists(driverFolder));
        auto& values = DependencyValues::shared();
        values.reset();
        auto store = values.get<SigningSessionDatabaseKey>();
        EXPECT_TRUE(store->registerToken(SigningSessionContext::wallet("SESSION", "POLLING"), certificate));
        values.reset();
        struct stat info {};
        ASSERT_EQ(::stat(driverFolder.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0700u);
    }

    std::optional<uid_t> user;
    if (::geteuid() == 0) {
        user = 65534;
        relaytest::giveToUser(home, *user);
        relaytest::letOtherUsersPass(home);
        relaytest::letOtherUsersPass(prefix);
    }
    auto listed = runProgram(
        {"pkcs11-tool", "--module", P11KIT_PROXY_MODULE, "--list-token-slots"},
        {{"HOME", home.native()}, {"XDG_CONFIG_HOME", config.native()}, {"XDG_DATA_HOME", data.native()}},
        user);
    ASSERT_EQ(listed.status, 0) << listed.output;
    EXPECT_NE(listed.output.find("token label        : WALLET_TOKEN_IDENTIFIER"), std::string::npos)
        << listed.output;
}

}  // namespace
