#include "TestEnvironment.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "platform/qt/TlsTrust.h"

namespace testsupport {

namespace {

std::filesystem::path makeRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create the test folder");
    return pattern;
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
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
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
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto end = stat.rfind(')');  // the state follows the program's name, which may hold anything
    return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] != 'Z';
}

}  // namespace testsupport
