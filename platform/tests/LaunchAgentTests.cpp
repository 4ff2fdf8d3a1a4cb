// Launch agents: registration in the registry file, status, starting the program detached, one instance at a
// time, and unregistering that ends it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/LaunchAgent.h"
#include "platform/UserFolders.h"
#include "platform/Workspace.h"
#include "platform/qt/WorkspaceQt.h"
#include "platform/testing/TestEnvironment.h"

using platform::LaunchAgent;
using platform::LaunchAgentError;
using platform::LaunchAgentStatus;

namespace {

std::string readAll(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool waitForFile(const std::filesystem::path& path, const std::string& contents) {
    for (int i = 0; i < 300; ++i) {
        if (readAll(path) == contents)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The process that the instance file of the agent names (0 when none).
pid_t instanceProcess(const std::string& label) {
    std::string text = readAll(platform::runtimeFolder() / "quorvane-agents" / (label + ".instance"));
    return text.empty() ? 0 : static_cast<pid_t>(std::stol(text));
}

class LaunchAgentTest : public ::testing::Test {
  protected:
    std::filesystem::path root = testsupport::makeTempDir("agents");
    std::filesystem::path definitions = root / "LaunchAgents";
    std::filesystem::path registry = root / "config" / "launch-agents.json";

    void SetUp() override { std::filesystem::create_directories(definitions); }

    void writeDefinition(const std::string& plist, const std::string& json) {
        std::ofstream(definitions / plist) << json;
    }
};

}  // namespace

TEST_F(LaunchAgentTest, RegistersUnregistersAndReportsStatus) {
    writeDefinition("agent.plist",
                    R"({"Label":"agent","Program":"bin/agent","ProgramArguments":["agent","-x"],
                                       "MachServices":{"svc.one":true,"svc.off":false},"StandardOutPath":"/tmp/o"})");
    LaunchAgent agent("agent.plist", definitions, registry);
    EXPECT_EQ(agent.status(), LaunchAgentStatus::notRegistered);
    EXPECT_FALSE(LaunchAgent::registeredAgentForService("svc.one", registry));

    agent.registerAgent();
    EXPECT_EQ(agent.status(), LaunchAgentStatus::enabled);
    auto registered = LaunchAgent::registeredAgentForService("svc.one", registry);
    ASSERT_TRUE(registered);
    EXPECT_EQ(registered->program, (definitions / "bin" / "agent").native());
    EXPECT_EQ(registered->arguments, (std::vector<std::string>{"agent", "-x"}));
    EXPECT_EQ(registered->standardOutPath, "/tmp/o");
    EXPECT_FALSE(LaunchAgent::registeredAgentForService("svc.off", registry));

    agent.registerAgent();  // again: still one entry
    agent.unregisterAgent();
    EXPECT_EQ(agent.status(), LaunchAgentStatus::notRegistered);
    EXPECT_FALSE(LaunchAgent::registeredAgentForService("svc.one", registry));
    try {
        agent.unregisterAgent();
        FAIL() << "unregistered twice";
    } catch (const LaunchAgentError& error) {
        EXPECT_EQ(error.code(), LaunchAgentError::Code::notRegistered);
    }
}

TEST_F(LaunchAgentTest, MissingOrInvalidDefinitionsCannotBeRegistered) {
    LaunchAgent missing("missing.plist", definitions, registry);
    EXPECT_EQ(missing.status(), LaunchAgentStatus::notFound);
    try {
        missing.registerAgent();
        FAIL();
    } catch (const LaunchAgentError& error) {
        EXPECT_EQ(error.code(), LaunchAgentError::Code::notFound);
    }
    for (const char* text :
         {"{", R"({"Program":"/bin/true"})", R"({"Label":"x"})",
          R"({"Label":"x","ProgramArguments":"not a list"})", R"({"Label":"../x","Program":"/bin/true"})"}) {
        writeDefinition("bad.plist", text);
        LaunchAgent bad("bad.plist", definitions, registry);
        EXPECT_EQ(bad.status(), LaunchAgentStatus::notFound) << text;
        EXPECT_THROW(bad.registerAgent(), LaunchAgentError) << text;
    }
    EXPECT_EQ(LaunchAgent("../escape", definitions, registry).status(), LaunchAgentStatus::notFound);
}

TEST_F(LaunchAgentTest, StartsTheProgramDetachedWithItsOutputAppended) {
    auto script = root / "agent.sh";
    std::ofstream(script) << "#!/bin/sh\necho \"started $1\"\necho oops >&2\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    auto log = root / "new folder" / "out.txt";
    std::ofstream(root / "placeholder");
    platform::LaunchAgentDefinition definition{"agent", script.native(), {"agent.sh", "now"},
                                               {},      log.native(),    {}};
    std::filesystem::create_directories(log.parent_path());
    std::ofstream(log) << "earlier\n";
    ASSERT_TRUE(LaunchAgent::startDetached(definition));
    EXPECT_TRUE(waitForFile(log, "earlier\nstarted now\noops\n")) << readAll(log);

    // An output that cannot be opened (its folder is a file) keeps nothing from starting.
    auto marker = root / "ran";
    auto marking = root / "mark.sh";
    std::ofstream(marking) << "#!/bin/sh\necho ran > '" << marker.native() << "'\n";
    std::filesystem::permissions(marking, std::filesystem::perms::owner_all);
    platform::LaunchAgentDefinition unopenable{
        "unopenable", marking.native(), {}, {}, (root / "placeholder" / "out.txt").native(), {}};
    ASSERT_TRUE(LaunchAgent::startDetached(unopenable));
    EXPECT_TRUE(waitForFile(marker, "ran\n"));

    definition.label = "missing";
    definition.program = (root / "does-not-exist").native();
    EXPECT_FALSE(LaunchAgent::startDetached(definition));
}

// The caller may hold sockets and files without close-on-exec (the token module runs inside another
// application): the program gets its standard streams and its instance lock, nothing else.
TEST_F(LaunchAgentTest, StartedProgramInheritsOnlyItsStandardStreams) {
    auto marker = root / "inherited-marker";
    int inherited = ::open(marker.c_str(), O_WRONLY | O_CREAT, 0600);  // deliberately not close-on-exec
    ASSERT_GE(inherited, 0);
    int high = ::fcntl(inherited, F_DUPFD, 200);
    ASSERT_GE(high, 200);
    auto out = root / "fds.txt";
    auto err = root / "fds-err.txt";
    platform::LaunchAgentDefinition definition{
        "lister", "/bin/sh",    {"sh", "-c", "ls -l /proc/self/fd; echo listed >&2; echo done"},
        {},       out.native(), err.native()};
    bool started = LaunchAgent::startDetached(definition);
    ::close(inherited);
    ::close(high);
    ASSERT_TRUE(started);
    std::string listing;
    for (int i = 0; i < 300 && !listing.ends_with("done\n"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        listing = readAll(out);
    }
    ASSERT_TRUE(listing.ends_with("done\n")) << listing;
    EXPECT_EQ(listing.find(marker.filename().native()), std::string::npos) << listing;
    EXPECT_NE(listing.find(" 0 -> /dev/null"), std::string::npos) << listing;
    EXPECT_NE(listing.find(" 1 -> " + out.native()), std::string::npos) << listing;
    EXPECT_NE(listing.find(" 2 -> " + err.native()), std::string::npos) << listing;
    auto lock = platform::runtimeFolder() / "quorvane-agents" / "lister.instance";
    EXPECT_NE(listing.find(" -> " + lock.native()), std::string::npos) << listing;
    EXPECT_TRUE(waitForFile(err, "listed\n")) << readAll(err);
}

TEST_F(LaunchAgentTest, AgentRunsOnceAndUnregisteringEndsIt) {
    auto runs = root / "runs";
    auto script = root / "agent.sh";
    std::ofstream(script) << "#!/bin/sh\necho started >> '" << runs.native() << "'\nexec sleep 600\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    writeDefinition("once.plist", R"({"Label":"once","Program":")" + script.native() +
                                      R"(","MachServices":{"svc.once":true}})");
    LaunchAgent agent("once.plist", definitions, registry);
    agent.registerAgent();
    auto definition = LaunchAgent::registeredAgentForService("svc.once", registry);
    ASSERT_TRUE(definition);

    ASSERT_TRUE(LaunchAgent::startDetached(*definition));
    ASSERT_TRUE(waitForFile(runs, "started\n"));
    pid_t first = instanceProcess("once");
    ASSERT_TRUE(first > 0 && testsupport::isRunning(first));
    EXPECT_TRUE(LaunchAgent::startDetached(*definition));  // it runs already

    agent.unregisterAgent();
    EXPECT_FALSE(testsupport::isRunning(first));
    EXPECT_EQ(readAll(runs), "started\n");

    // Registered again, the next start is a fresh instance; unregistering behind the registry's back (the
    // agent is no longer in it) still ends it.
    agent.registerAgent();
    ASSERT_TRUE(LaunchAgent::startDetached(*definition));
    ASSERT_TRUE(waitForFile(runs, "started\nstarted\n"));
    pid_t second = instanceProcess("once");
    ASSERT_TRUE(second > 0 && second != first && testsupport::isRunning(second));
    std::filesystem::remove(registry);
    EXPECT_THROW(agent.unregisterAgent(), LaunchAgentError);
    EXPECT_FALSE(testsupport::isRunning(second));
}

TEST_F(LaunchAgentTest, InstanceThatIgnoresTheRequestToEndIsKilled) {
    auto script = root / "stubborn.sh";
    auto ready = root / "ready";
    std::ofstream(script) << "#!/bin/sh\ntrap '' TERM\necho ready > '" << ready.native()
                          << "'\nexec sleep 600\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    writeDefinition("stubborn.plist", R"({"Label":"stubborn","Program":")" + script.native() + R"("})");
    LaunchAgent agent("stubborn.plist", definitions, registry);
    agent.registerAgent();
    ASSERT_TRUE(LaunchAgent::startDetached(*agent.definition()));
    ASSERT_TRUE(waitForFile(ready, "ready\n"));
    pid_t pid = instanceProcess("stubborn");
    ASSERT_GT(pid, 0);

    auto started = std::chrono::steady_clock::now();
    agent.unregisterAgent();
    EXPECT_FALSE(testsupport::isRunning(pid));
    EXPECT_GE(std::chrono::steady_clock::now() - started, LaunchAgent::stopGracePeriod);
}

// xdg-open as the default opener and through the Qt adapter: a fake one first on PATH records what it is
// given.
TEST(Workspace, OpensWithXdgOpenByDefaultAndThroughQt) {
    auto folder = testsupport::makeTempDir("xdg-open");
    auto record = folder / "opened.txt";
    std::ofstream(folder / "xdg-open")
        << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << record.native() << "'\necho noise\n";
    std::filesystem::permissions(folder / "xdg-open", std::filesystem::perms::owner_all);
    std::string path = std::getenv("PATH");
    ::setenv("PATH", (folder.native() + ":" + path).c_str(), 1);

    platform::Workspace::open("quorvane://");
    EXPECT_TRUE(waitForFile(record, "quorvane://\n")) << readAll(record);
    platform::installQtWorkspaceOpener();
    platform::Workspace::open("quorvane://sign?x=1 2");
    EXPECT_TRUE(waitForFile(record, "quorvane://\nquorvane://sign?x=1 2\n")) << readAll(record);
    platform::Workspace::setOpener(nullptr);
    ::setenv("PATH", path.c_str(), 1);
}

TEST(Workspace, RecorderCapturesOpenedURLsWhileItLives) {
    {
        platform::WorkspaceRecorder recorder;
        platform::Workspace::open("quorvane://");
        platform::Workspace::open("quorvane://sign");
        EXPECT_EQ(recorder.openedURLs(), (std::vector<std::string>{"quorvane://", "quorvane://sign"}));
    }
}
