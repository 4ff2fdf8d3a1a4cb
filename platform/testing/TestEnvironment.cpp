#include "TestEnvironment.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

namespace testsupport {

namespace {

std::filesystem::path makeRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create the test folder");
    return pattern;
}

}  // namespace

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
