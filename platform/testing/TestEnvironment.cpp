#include "TestEnvironment.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/qt/TlsTrust.h"
#include "platform/testing/ChildProcess.h"

namespace testsupport {

namespace {

std::filesystem::path makeRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create the test folder");
    return pattern;
}

// The processes whose parent is this one.
std::vector<pid_t> liveChildren() {
    std::vector<pid_t> children;
    const pid_t self = ::getpid();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const std::string stat = testsupport::readProcessFile(static_cast<pid_t>(std::stoi(name)), "stat");
        const auto end = stat.rfind(')');  // the name before it may hold anything
        if (end == std::string::npos)
            continue;
        char state = 0;
        int parent = 0;
        if (std::sscanf(stat.c_str() + end + 1, " %c %d", &state, &parent) == 2 && parent == self &&
            state != 'Z')
            children.push_back(static_cast<pid_t>(std::stoi(name)));
    }
    return children;
}

void reapEndedChildren() {
    int status;
    while (::waitpid(-1, &status, WNOHANG) > 0) {
    }
}

// Ends what the tests started and left running, even when a test failed half-way: each program is asked to
// end, then killed.
void endLeftoverPrograms() {
    for (int round = 0; round < 2; ++round) {
        reapEndedChildren();
        auto children = liveChildren();
        if (children.empty())
            return;
        for (pid_t child : children)
            ::kill(child, round == 0 ? SIGTERM : SIGKILL);
        for (int wait = 0; wait < 40 && !liveChildren().empty(); ++wait) {
            reapEndedChildren();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    reapEndedChildren();
}

// No test reaches the desktop's link opener: a program of the tests' own (the token module in a tool, the
// relay, the app) would otherwise open links with whatever the machine has, which may hand them back to a
// program that opens them again. Tests that look at what is opened put their own opener before this one.
void shadowTheDesktopOpener() {
    const auto folder = testRoot() / "desktop-opener";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "xdg-open") << "#!/bin/sh\nexit 0\n";
    std::filesystem::permissions(folder / "xdg-open", std::filesystem::perms::owner_all);
    const char* path = std::getenv("PATH");
    const std::string shadowed = folder.native() + ":" + (path ? path : "/usr/bin:/bin");
    ::setenv("PATH", shadowed.c_str(), 1);
    ::unsetenv("BROWSER");
}

}  // namespace

void preparePrivateHome() {
    const auto& root = testRoot();
    for (const char* name :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        auto dir = root / name;
        std::filesystem::create_directories(dir);
        chmod(dir.c_str(), 0700);
        setenv(name, dir.c_str(), 1);
    }
}

int runAllTests(int& argc, char** argv) {
    platform::installExtraTrustFromDeploymentConfiguration();
    shadowTheDesktopOpener();
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    endLeftoverPrograms();
    if (result == 0 && !std::getenv("QUORVANE_KEEP_TEST_FILES")) {
        std::error_code ignored;
        std::filesystem::remove_all(testRoot(), ignored);
    }
    return result;
}

const std::filesystem::path& testRoot() {
    static const std::filesystem::path root = makeRoot();
    return root;
}

std::filesystem::path makeTempDir(const std::string& prefix) {
    static std::atomic<int> counter{0};
    auto dir = testRoot() / "tmp" / (prefix + "-" + std::to_string(++counter));
    std::filesystem::create_directories(dir);
    return dir;
}

std::filesystem::path binaryDir() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

bool isRunning(pid_t pid) {
    const std::string stat = readProcessFile(pid, "stat");
    auto end = stat.rfind(')');  // the state follows the program's name, which may hold anything
    return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] != 'Z';
}

}  // namespace testsupport
