#include "TestEnvironment.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace testsupport {

namespace {

std::filesystem::path makeRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quorvane-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create the test folder");
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

}  // namespace testsupport
