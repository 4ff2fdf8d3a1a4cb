// The launch-agent service: registration by status, re-registration, failures logged, and runs on the real
// registry, with the relay that re-registering restarts.
#include <gtest/gtest.h>

#include <openssl/ec.h>
#include <fstream>
#include <stdexcept>

#include "Quorvane/core/LaunchAgentServiceLive.h"
#include "Quorvane/testing/LaunchAgentRegistry.h"
#include "platform/UserFolders.h"
#include "platform/Workspace.h"
#include "platform/testing/TestEnvironment.h"
#include "relay/testing/RelayTestSupport.h"

using namespace std::chrono_literals;
using platform::LaunchAgentStatus;
using Lines = std::vector<std::string>;

namespace {

const std::string plist = testsupport::LaunchAgentRegistry::plist;

// An agent whose status the test sets; it records what the service asks of it.
struct FakeAgentState {
    LaunchAgentStatus status = LaunchAgentStatus::notRegistered;
    bool failRegister = false;
    bool failUnregister = false;
    Lines calls;
    Lines lookups;
};

class FakeAgent : public LaunchAgentServiceLive::Agent {
  public:
    explicit FakeAgent(std::shared_ptr<FakeAgentState> state) : state_(std::move(state)) {}
    LaunchAgentStatus status() const override {
        state_->calls.push_back("status");
        return state_->status;
    }
    void registerAgent() override {
        state_->calls.push_back("register");
        if (state_->failRegister)
            throw std::runtime_error("the agent is damaged");
        state_->status = LaunchAgentStatus::enabled;
    }
    void unregisterAgent() override {
        state_->calls.push_back("unregister");
        if (state_->failUnregister)
            throw std::runtime_error("the agent is not registered");
        state_->status = LaunchAgentStatus::notRegistered;
    }

  private:
    std::shared_ptr<FakeAgentState> state_;
};

struct FakeRig {
    std::shared_ptr<FakeAgentState> agent = std::make_shared<FakeAgentState>();
    LogCapture log;
    LaunchAgentServiceLive service{std::make_shared<LoggerClient>("ui"),
                                   [state = agent](const std::string& name) {
                                       state->lookups.push_back(name);
                                       return std::make_unique<FakeAgent>(state);
                                   }};
};

}  // namespace

TEST(LaunchAgentServiceTest, RegistersOnlyWhenNotRegisteredOrNotFound) {
    struct Case {
        LaunchAgentStatus status;
        bool enabled;
        Lines calls;
    };
    const Case cases[] = {
        {LaunchAgentStatus::notRegistered, false, {"status", "register"}},
        {LaunchAgentStatus::enabled, true, {"status"}},
        {LaunchAgentStatus::requiresApproval, false, {"status"}},
        {LaunchAgentStatus::notFound, false, {"status", "register"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.status));
        FakeRig rig;
        rig.agent->status = c.status;
        EXPECT_EQ(rig.service.isServiceEnabled(), c.enabled);
        rig.agent->calls.clear();
        rig.service.registerService();
        EXPECT_EQ(rig.agent->calls, c.calls);
        EXPECT_TRUE(rig.log.lines().empty());
        for (const auto& name : rig.agent->lookups)
            EXPECT_EQ(name, plist);
    }
}

TEST(LaunchAgentServiceTest, RegistrationFailureIsLoggedNotThrown) {
    FakeRig rig;
    rig.agent->failRegister = true;
    EXPECT_NO_THROW(rig.service.registerService());
    auto lines = rig.log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, LogLevel::error);
    EXPECT_EQ(lines[0].logID, "ui");
    EXPECT_EQ(lines[0].message, "Error registering XPC service: the agent is damaged");
}

TEST(LaunchAgentServiceTest, TheKeysServiceLogsThroughTheAppsLoggerOfTheMoment) {
    // Building the service builds no logger; the one assigned afterwards is the one written to.
    DependencyValues::shared().reset();
    auto state = std::make_shared<FakeAgentState>();
    state->failRegister = true;
    LaunchAgentServiceLive service(
        [state](const std::string&) -> std::unique_ptr<LaunchAgentServiceLive::Agent> {
            return std::make_unique<FakeAgent>(state);
        });
    LogCapture log;
    Dependency<LoggerClientKey>().set(std::make_shared<LoggerClient>("replacement"));
    service.registerService();
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].logID, "replacement");
    EXPECT_EQ(lines[0].message, "Error registering XPC service: the agent is damaged");
    DependencyValues::shared().reset();
}

TEST(LaunchAgentServiceTest, ReregisteringUnregistersThenRegisters) {
    struct Case {
        LaunchAgentStatus status;
        bool failUnregister;
        bool failRegister;
        Lines log;
    };
    const Case cases[] = {
        // An enabled agent is registered again once unregistered.
        {LaunchAgentStatus::enabled, false, false, {}},
        // A failed unregistration is ignored, silently, and registration is tried anyway.
        {LaunchAgentStatus::notRegistered, true, false, {}},
        {LaunchAgentStatus::notFound, true, true, {"Error registering XPC service: the agent is damaged"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.status));
        FakeRig rig;
        rig.agent->status = c.status;
        rig.agent->failUnregister = c.failUnregister;
        rig.agent->failRegister = c.failRegister;
        EXPECT_NO_THROW(rig.service.reregisterService());
        EXPECT_EQ(rig.agent->calls, (Lines{"unregister", "status", "register"}));
        EXPECT_EQ(rig.log.messages(), c.log);
    }
}

TEST(LaunchAgentServiceTest, UnregisteringSwitchesTheAgentOffAndLogsAFailure) {
    FakeRig rig;
    rig.agent->status = LaunchAgentStatus::enabled;
    rig.service.unregisterService();
    EXPECT_EQ(rig.agent->calls, (Lines{"unregister"}));
    EXPECT_FALSE(rig.service.isServiceEnabled());
    EXPECT_TRUE(rig.log.lines().empty());

    rig.agent->failUnregister = true;
    EXPECT_NO_THROW(rig.service.unregisterService());
    EXPECT_EQ(rig.log.messages(), (Lines{"Error unregistering XPC service: the agent is not registered"}));
}

TEST(LaunchAgentServiceTest, RegistersInTheRealRegistry) {
    testsupport::LaunchAgentRegistry rig;
    rig.writeDefinition();
    EXPECT_FALSE(rig.service.isServiceEnabled());
    rig.service.registerService();
    EXPECT_TRUE(rig.service.isServiceEnabled());
    EXPECT_EQ(rig.agent().status(), LaunchAgentStatus::enabled);
    EXPECT_TRUE(platform::LaunchAgent::registeredAgentForService("com.tovik.kelv-pc-signing-macos.brokel",
                                                                 rig.registry));

    rig.service.reregisterService();
    EXPECT_TRUE(rig.service.isServiceEnabled());

    // Unregistered behind the app's back: registering at the next launch brings it back.
    rig.agent().unregisterAgent();
    EXPECT_FALSE(rig.service.isServiceEnabled());
    rig.service.registerService();
    EXPECT_TRUE(rig.service.isServiceEnabled());
    EXPECT_TRUE(rig.log.lines().empty());
}

// The recovery of the signing flow, against the relay as the build ships it: the relay that runs stops, and
// the next client starts a fresh one that serves.
TEST(LaunchAgentServiceTest, ReregisteringRestartsTheRunningRelay) {
    relaytest::FakeOpener::shared();  // the relays open the app's URL with it
    testsupport::ScopedVariable noStartedLog("QUORVANE_BROKEL_LOG_PATH", std::nullopt);
    testsupport::ScopedVariable stateHome("XDG_STATE_HOME", testsupport::makeTempDir("state").native());
    auto definitions = testsupport::binaryDir().parent_path() / "LaunchAgents";
    auto registry = platform::LaunchAgent::defaultRegistryPath();
    LaunchAgentServiceLive service(std::make_shared<LoggerClient>("ui"),
                                   LaunchAgentServiceLive::registryLookup(definitions, registry));
    service.registerService();
    ASSERT_TRUE(service.isServiceEnabled());

    xpc::ReactorThread thread;
    std::shared_ptr<EVP_PKEY> key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    auto relayOf = [](const relaytest::FakeApp& app) {
        std::optional<pid_t> pid;
        relaytest::eventually([&] { return (pid = app.relayPID()).has_value(); }, 15s);
        return pid.value_or(0);
    };
    auto stuck = std::make_shared<relaytest::FakeApp>(thread.reactor(), key);
    stuck->connectAndRegister();  // starts the relay on demand
    pid_t first = relayOf(*stuck);
    ASSERT_GT(first, 0);

    service.reregisterService();
    EXPECT_FALSE(testsupport::isRunning(first));
    EXPECT_TRUE(service.isServiceEnabled());
    stuck->disconnect();

    auto token = std::make_shared<relaytest::FakeToken>(thread.reactor());
    auto app = std::make_shared<relaytest::FakeApp>(thread.reactor(), key);
    token->connectAndRegister();  // starts a fresh relay
    app->connectAndRegister();
    ASSERT_TRUE(token->waitForReady(1, 15s));
    pid_t second = relayOf(*app);  // known while the app is connected: it disconnects once it has answered
    platform::Bytes hash(32, 0x4E);
    token->sendHash(hash, "CARD");
    ASSERT_TRUE(token->waitForSignatures(1));
    EXPECT_TRUE(relaytest::verifies(key.get(), hash, token->signatures()[0]));
    EXPECT_NE(second, first);
    EXPECT_TRUE(testsupport::isRunning(second));
    auto log = relaytest::readFile(platform::stateHome() / "quorvane" / "logs" / "brokel_std.txt");
    EXPECT_EQ(relaytest::countOf(relaytest::logMessages(log),
                                 "info: *************** New XPC server process started ***************"),
              2u);

    app->disconnect();
    token->disconnect();
    platform::LaunchAgent(LaunchAgentServiceLive::agentPlistName, definitions, registry).unregisterAgent();
    EXPECT_FALSE(testsupport::isRunning(second));
}

TEST(LaunchAgentServiceTest, RealRegistryFailuresAreLogged) {
    {
        SCOPED_TRACE("no definition");
        testsupport::LaunchAgentRegistry rig;
        rig.service.registerService();
        rig.service.reregisterService();
        EXPECT_EQ(rig.log.messages(),
                  (Lines{"Error registering XPC service: no launch agent named " + plist,
                         "Error registering XPC service: no launch agent named " + plist}));
        EXPECT_FALSE(rig.service.isServiceEnabled());
    }
    {
        SCOPED_TRACE("registry cannot be written");
        testsupport::LaunchAgentRegistry rig;
        rig.writeDefinition();
        std::filesystem::create_directories(rig.registry.parent_path().parent_path());
        std::ofstream(rig.registry.parent_path()) << "a file where the registry's folder belongs";
        rig.service.registerService();
        auto lines = rig.log.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].level, LogLevel::error);
        EXPECT_EQ(lines[0].message.rfind(
                      "Error registering XPC service: cannot write the launch-agent registry", 0),
                  0u)
            << lines[0].message;
        EXPECT_FALSE(rig.service.isServiceEnabled());
    }
}

TEST(LaunchAgentServiceTest, SettingsPageIsTheRegistryFile) {
    platform::WorkspaceRecorder workspace;
    auto root = testsupport::makeTempDir("settings page");
    auto registry = root / "quorvane" / "launch-agents.json";

    // Nothing registered yet: the folder the registry goes to, made so that it can be shown.
    LaunchAgentServiceLive::openSystemSettingsLoginItems(registry);
    std::ofstream(registry) << R"({"agents":{}})";
    LaunchAgentServiceLive::openSystemSettingsLoginItems(registry);

    auto encoded = [](const std::filesystem::path& path) {
        std::string url = "file://";
        for (char c : path.native())
            url += c == ' ' ? std::string("%20") : std::string(1, c);
        return url;
    };
    EXPECT_EQ(workspace.openedURLs(), (Lines{encoded(registry.parent_path()), encoded(registry)}));
}
