#pragma once
// The test main gives every test executable a private temporary home: XDG_CONFIG_HOME, XDG_DATA_HOME,
// XDG_STATE_HOME, XDG_CACHE_HOME and XDG_RUNTIME_DIR point into it, so tests never touch the real user's
// files. It also creates the QCoreApplication that coroutines and timers need.
#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace testsupport {

// What every test main does around its application object. Before making it: point the XDG folders into the
// private home. After: trust the extra CAs of the deployment configuration, put an xdg-open that opens
// nothing first on PATH, run the tests, end the programs they started that still run, and remove the home
// when they passed (kept when QUORVANE_KEEP_TEST_FILES is set).
void preparePrivateHome();
int runAllTests(int& argc, char** argv);

// The private temporary folder of this test process.
const std::filesystem::path& testRoot();

// A new empty folder under testRoot().
std::filesystem::path makeTempDir(const std::string& prefix = "t");

// The folder of the test executable (the build's bin folder): helper programs of the tests are found there.
std::filesystem::path binaryDir();

// True while the process runs: false once it has ended, also while it waits to be reaped.
bool isRunning(pid_t pid);

// Sets an environment variable (or unsets it, for nothing) for its scope and puts the old value back.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            setenv(name, value->c_str(), 1);
        else
            unsetenv(name);
    }
    ~ScopedVariable() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace testsupport
