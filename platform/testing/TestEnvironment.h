#pragma once
// The test main gives every test executable a private temporary home: XDG_CONFIG_HOME, XDG_DATA_HOME,
// XDG_STATE_HOME, XDG_CACHE_HOME and XDG_RUNTIME_DIR point into it, so tests never touch the real user's files.
// It also creates the QCoreApplication that coroutines and timers need.
#include <filesystem>

namespace testsupport {

// The private temporary folder of this test process.
const std::filesystem::path& testRoot();

// A new empty folder under testRoot().
std::filesystem::path makeTempDir(const std::string& prefix = "t");

// The folder of the test executable (the build's bin folder): helper programs of the tests are found there.
std::filesystem::path binaryDir();

}  // namespace testsupport
