#pragma once
// What the plug-in's tests share: where the plug-in is, the app's notifications, a session bus of the test's
// own, and the desktop's opener as the plug-in in this process finds it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/DarwinNotify.h"
#include "platform/testing/PrivateBus.h"
#include "platform/testing/TestEnvironment.h"

namespace acrobattest {

inline const std::string requested = "com.tovik.pc-signing.certificate-requested";
inline const std::string retrieved = "com.tovik.pc-signing.certificate-retrieved";
inline const std::string noReplyAlert =
    "QuorvaneApp hasnt't replied. Please check that you have it installed.";

// The plug-in as it ships, or the test build's twin whose waits are a twentieth of the real ones.
inline std::filesystem::path pluginPath() {
    return testsupport::binaryDir().parent_path() / "lib" / "VexoCertificateHelper.so";
}
inline std::filesystem::path scaledPluginPath() {
    return testsupport::binaryDir().parent_path() / "lib" / "VexoCertificateHelper-testing.so";
}

// A bus of the test program's own as its session bus, for all of its tests: the plug-in and the app meet
// there, and nothing that other tests post reaches them. One per process, set up before the first test:
// libdbus reads the session bus's address once, and the plug-in stays loaded.
class TestBus : public ::testing::Environment {
  public:
    void SetUp() override {
        bus_ = std::make_unique<testsupport::PrivateBus>();
        ASSERT_TRUE(bus_->isUp());
        address_ = std::make_unique<testsupport::ScopedVariable>(
            "DBUS_SESSION_BUS_ADDRESS", bus_->environment().value("DBUS_SESSION_BUS_ADDRESS").toStdString());
    }
    void TearDown() override {
        address_.reset();
        bus_.reset();
    }

  private:
    std::unique_ptr<testsupport::PrivateBus> bus_;
    std::unique_ptr<testsupport::ScopedVariable> address_;
};

// The desktop's opener for this process: an xdg-open first on PATH that runs the command with the link.
class Opener {
  public:
    explicit Opener(const std::string& command) { set(command); }
    void set(const std::string& command) {
        std::ofstream(folder_ / "xdg-open") << "#!/bin/sh\nexec " << command << " \"$@\"\n";
        ::chmod((folder_ / "xdg-open").c_str(), 0700);
    }

  private:
    std::filesystem::path folder_ = testsupport::makeTempDir("opener");
    testsupport::ScopedVariable path_{
        "PATH", folder_.native() + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin")};
};

// The app's side as a stand-in: notes the link in `record` and posts the notifications at their times.
inline std::string fakeApp(const std::filesystem::path& record,
                           const std::vector<std::pair<std::string, int>>& postsAtMilliseconds) {
    std::string command = "'" + (testsupport::binaryDir() / "acrobat_test_app").native() + "' --record '" +
                          record.native() + "'";
    for (const auto& [name, at] : postsAtMilliseconds)
        command += " --post " + name + "@" + std::to_string(at);
    return command;
}

// Whether a notification observer of this process is running (its threads carry this name).
inline bool observing() {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        if (name == platform::DarwinNotifyObserver::threadName)
            return true;
    }
    return false;
}

}  // namespace acrobattest
