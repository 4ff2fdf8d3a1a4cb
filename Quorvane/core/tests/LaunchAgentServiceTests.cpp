// The launch-agent service (registration by status, re-registration, failures logged) and the page model's
// status watch in virtual time, plus runs on the real registry: the live event loop's watch, and the relay
// that re-registering restarts.
#include <gtest/gtest.h>

#include <openssl/ec.h>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <fstream>
#include <stdexcept>

#include "Quorvane/core/LaunchAgentServiceInfoViewModel.h"
#include "Quorvane/core/LaunchAgentServiceLive.h"
#include "platform/UserFolders.h"
#include "platform/VirtualScheduler.h"
#include "platform/Workspace.h"
#include "platform/testing/TestEnvironment.h"
#include "relay/testing/RelayTestSupport.h"

using namespace std::chrono_literals;
using platform::LaunchAgentStatus;
using Lines = std::vector<std::string>;

namespace {

const std::string plist = "com.tovik.kelv-pc-signing-macos.brokel.plist";

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

// The real registry of platform::LaunchAgent in a folder of its own.
struct RegistryRig {
    std::filesystem::path root = testsupport::makeTempDir("agents");
    std::filesystem::path definitions = root / "LaunchAgents";
    std::filesystem::path registry = root / "config" / "quorvane" / "launch-agents.json";
    LogCapture log;
    LaunchAgentServiceLive service{std::make_shared<LoggerClient>("ui"),
                                   LaunchAgentServiceLive::registryLookup(definitions, registry)};

    void writeDefinition() {
        std::filesystem::create_directories(definitions);
        std::ofstream(definitions / plist) << R"({"Label":"com.tovik.kelv-pc-signing-macos.brokel",
            "Program":"brokel","MachServices":{"com.tovik.kelv-pc-signing-macos.brokel":true}})";
    }
    platform::LaunchAgent agent() const { return platform::LaunchAgent(plist, definitions, registry); }
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
    RegistryRig rig;
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
        RegistryRig rig;
        rig.service.registerService();
        rig.service.reregisterService();
        EXPECT_EQ(rig.log.messages(),
                  (Lines{"Error registering XPC service: no launch agent named " + plist,
                         "Error registering XPC service: no launch agent named " + plist}));
        EXPECT_FALSE(rig.service.isServiceEnabled());
    }
    {
        SCOPED_TRACE("registry cannot be written");
        RegistryRig rig;
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

namespace {

class FakeService : public LaunchAgentService {
  public:
    bool isServiceEnabled() const override {
        ++statusReads;
        return enabled;
    }
    void registerService() override {}
    void reregisterService() override {}
    void unregisterService() override {}

    bool enabled = false;
    mutable int statusReads = 0;
};

// What happens to the window and the application, in order, with the continuation among them.
struct Events {
    Lines list;
};

class FakeWindow : public MainWindowController::Window {
  public:
    explicit FakeWindow(std::shared_ptr<Events> events) : events_(std::move(events)) {}
    void makeKeyAndOrderFront() override { events_->list.push_back("window to front"); }
    bool isVisible() const override { return true; }
    void setContent(const AppOpenMode&) override {}
    void close() override {}

  private:
    std::shared_ptr<Events> events_;
};

class FakeApplication : public MainWindowController::Application {
  public:
    explicit FakeApplication(std::shared_ptr<Events> events) : events_(std::move(events)) {}
    void setActivationPolicy(MainWindowController::ActivationPolicy policy) override {
        events_->list.push_back(policy == MainWindowController::ActivationPolicy::regular ? "regular"
                                                                                          : "accessory");
    }
    void activate(bool ignoringOtherApps) override {
        events_->list.push_back(ignoringOtherApps ? "activate ignoring others" : "activate");
    }

  private:
    std::shared_ptr<Events> events_;
};

struct PageRig {
    std::shared_ptr<platform::VirtualScheduler> scheduler = std::make_shared<platform::VirtualScheduler>();
    std::shared_ptr<FakeService> service = std::make_shared<FakeService>();
    std::shared_ptr<Events> events = std::make_shared<Events>();
    MainWindowController controller;
    std::shared_ptr<LaunchAgentServiceInfoViewModel> model;
    int continuations = 0;
    int notifications = 0;
    Observable::Subscription subscription;

    explicit PageRig(bool withWindow = true) {
        if (withWindow) {
            controller.window = std::make_shared<FakeWindow>(events);
            controller.application = std::make_shared<FakeApplication>(events);
        }
    }
    void makeModel() {
        model = std::make_shared<LaunchAgentServiceInfoViewModel>(
            [this] {
                ++continuations;
                events->list.push_back("continue");
            },
            service, scheduler, controller);
        subscription = model->subscribe([this] { ++notifications; });
    }
};

}  // namespace

TEST(LaunchAgentPageTest, ContinuesOnceWithinASecondOfEnablingAndStopsWatching) {
    PageRig rig;
    rig.makeModel();
    EXPECT_FALSE(rig.model->isLaunchAgentEnabled());
    ASSERT_TRUE(rig.model->monitoringTimer());

    rig.scheduler->advance(3s);
    EXPECT_EQ(rig.service->statusReads, 3);
    EXPECT_EQ(rig.continuations, 0);
    EXPECT_EQ(rig.notifications, 0);  // unchanged status tells nobody

    rig.scheduler->advance(500ms);
    rig.service->enabled = true;
    rig.scheduler->advance(500ms);
    EXPECT_TRUE(rig.model->isLaunchAgentEnabled());
    EXPECT_EQ(rig.events->list,
              (Lines{"window to front", "regular", "activate ignoring others", "continue"}));
    EXPECT_EQ(rig.notifications, 2);  // the status, then the stopped watch
    EXPECT_FALSE(rig.model->monitoringTimer());
    EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);

    // Switching the agent off and on again while the page lives continues no second time.
    rig.service->enabled = false;
    rig.scheduler->advance(2s);
    rig.service->enabled = true;
    rig.scheduler->advance(2s);
    EXPECT_EQ(rig.continuations, 1);
    EXPECT_EQ(rig.service->statusReads, 4);
}

TEST(LaunchAgentPageTest, FirstCheckIsOneSecondAfterMaking) {
    PageRig rig;
    rig.service->enabled = true;
    rig.makeModel();
    rig.scheduler->advance(999ms);
    EXPECT_EQ(rig.service->statusReads, 0);
    EXPECT_FALSE(rig.model->isLaunchAgentEnabled());
    rig.scheduler->advance(1ms);
    EXPECT_TRUE(rig.model->isLaunchAgentEnabled());
    EXPECT_EQ(rig.continuations, 1);
}

TEST(LaunchAgentPageTest, ContinuesWithoutAWindow) {
    PageRig rig(false);
    rig.makeModel();
    rig.service->enabled = true;
    rig.scheduler->advance(1s);
    EXPECT_EQ(rig.events->list, Lines{"continue"});
    EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);
}

TEST(LaunchAgentPageTest, ContinueStopsTheWatchAndContinues) {
    PageRig rig;
    rig.makeModel();
    auto timer = rig.model->monitoringTimer();
    rig.model->continueTapped();
    EXPECT_EQ(rig.continuations, 1);
    EXPECT_FALSE(rig.model->monitoringTimer());
    EXPECT_FALSE(timer->isValid());
    EXPECT_EQ(rig.notifications, 1);
    rig.service->enabled = true;
    rig.scheduler->advance(3s);
    EXPECT_EQ(rig.service->statusReads, 0);
    EXPECT_EQ(rig.continuations, 1);

    // "Continue" after the automatic continuation goes on again: the user asked for it.
    PageRig enabled;
    enabled.service->enabled = true;
    enabled.makeModel();
    enabled.scheduler->advance(1s);
    enabled.model->continueTapped();
    EXPECT_EQ(enabled.continuations, 2);
}

TEST(LaunchAgentPageTest, WatchStopsWhenTheModelGoesAway) {
    PageRig rig;
    rig.makeModel();
    rig.scheduler->advance(1s);
    auto timer = rig.model->monitoringTimer();
    rig.subscription.cancel();
    rig.model.reset();
    EXPECT_FALSE(timer->isValid());
    EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);
    rig.service->enabled = true;
    rig.scheduler->advance(5s);
    EXPECT_EQ(rig.service->statusReads, 1);
    EXPECT_EQ(rig.continuations, 0);
}

TEST(LaunchAgentPageTest, ContinuationMayReleaseThePage) {
    // The navigation replaces the page while the continuation runs, from the timer and from the button.
    for (bool fromTimer : {true, false}) {
        SCOPED_TRACE(fromTimer ? "timer" : "button");
        auto scheduler = std::make_shared<platform::VirtualScheduler>();
        auto service = std::make_shared<FakeService>();
        service->enabled = true;
        MainWindowController controller;
        std::shared_ptr<LaunchAgentServiceInfoViewModel> model;
        int continuations = 0;
        model = std::make_shared<LaunchAgentServiceInfoViewModel>(
            [&] {
                model.reset();
                ++continuations;  // the closure still runs after its model is gone
            },
            service, scheduler, controller);
        if (fromTimer)
            scheduler->advance(1s);
        else
            model->continueTapped();
        EXPECT_FALSE(model);
        EXPECT_EQ(continuations, 1);
        EXPECT_EQ(scheduler->activeTimerCount(), 0u);
        scheduler->advance(3s);
        EXPECT_EQ(continuations, 1);
    }
}

TEST(LaunchAgentPageTest, ASubscriberMayReleaseThePageWhenTold) {
    // A subscriber lets the page go on the first change it is told of: the status, or the stopped watch.
    for (bool fromTimer : {true, false}) {
        SCOPED_TRACE(fromTimer ? "timer" : "button");
        PageRig rig;
        rig.service->enabled = true;
        rig.makeModel();
        rig.subscription = rig.model->subscribe([&rig] {
            rig.subscription.cancel();
            rig.model.reset();
        });
        if (fromTimer)
            rig.scheduler->advance(1s);
        else
            rig.model->continueTapped();
        EXPECT_FALSE(rig.model);
        EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u);
        // The user went on with the button; a page let go on its status change leaves the rest to whoever
        // let it go.
        EXPECT_EQ(rig.continuations, fromTimer ? 0 : 1);
        rig.scheduler->advance(3s);
        EXPECT_EQ(rig.continuations, fromTimer ? 0 : 1);
    }
}

TEST(LaunchAgentPageTest, WithoutAServiceOfItsOwnEachCheckAsksTheAppsServiceOfTheMoment) {
    DependencyValues::shared().reset();
    auto first = std::make_shared<FakeService>();
    Dependency<LaunchAgentServiceKey>().set(first);
    auto scheduler = std::make_shared<platform::VirtualScheduler>();
    MainWindowController controller;
    int continuations = 0;
    auto model = std::make_shared<LaunchAgentServiceInfoViewModel>([&] { ++continuations; }, nullptr,
                                                                   scheduler, controller);
    scheduler->advance(1s);
    EXPECT_EQ(first->statusReads, 1);

    auto second = std::make_shared<FakeService>();
    second->enabled = true;
    Dependency<LaunchAgentServiceKey>().set(second);
    scheduler->advance(1s);
    EXPECT_EQ(first->statusReads, 1);
    EXPECT_EQ(second->statusReads, 1);
    EXPECT_TRUE(model->isLaunchAgentEnabled());
    EXPECT_EQ(continuations, 1);
    model.reset();
    DependencyValues::shared().reset();
}

namespace {

// Runs the event loop until the condition holds; false when it still does not after the deadline (a hang
// guard, not a measurement).
template <class Condition>
bool runUntil(Condition condition, std::chrono::milliseconds limit = 10s) {
    QDeadlineTimer deadline(limit);
    QEventLoop loop;
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        loop.processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

}  // namespace

TEST(LaunchAgentPageTest, ContinuesWhenTheUserRegistersTheAgentInTheRegistry) {
    // The live service on a real registry, counted, and the live event loop's timer.
    struct CountingService : LaunchAgentService {
        explicit CountingService(std::shared_ptr<LaunchAgentService> live) : live(std::move(live)) {}
        bool isServiceEnabled() const override {
            ++reads;
            return live->isServiceEnabled();
        }
        void registerService() override { live->registerService(); }
        void reregisterService() override { live->reregisterService(); }
        void unregisterService() override { live->unregisterService(); }
        std::shared_ptr<LaunchAgentService> live;
        mutable int reads = 0;
    };
    RegistryRig registry;
    registry.writeDefinition();
    auto service = std::make_shared<CountingService>(std::make_shared<LaunchAgentServiceLive>(
        std::make_shared<LoggerClient>("ui"),
        LaunchAgentServiceLive::registryLookup(registry.definitions, registry.registry)));
    MainWindowController controller;
    auto events = std::make_shared<Events>();
    controller.window = std::make_shared<FakeWindow>(events);
    int continuations = 0;
    auto model = std::make_shared<LaunchAgentServiceInfoViewModel>([&] { ++continuations; }, service,
                                                                   platform::Scheduler::live(), controller);
    ASSERT_TRUE(runUntil([&] { return service->reads >= 1; }));
    EXPECT_FALSE(model->isLaunchAgentEnabled());

    registry.agent().registerAgent();  // the user's toggle
    ASSERT_TRUE(runUntil([&] { return continuations > 0; }));
    EXPECT_TRUE(model->isLaunchAgentEnabled());
    EXPECT_FALSE(model->monitoringTimer());
    EXPECT_EQ(events->list, Lines{"window to front"});
}
