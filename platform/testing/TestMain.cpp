// The main of every test executable: a private home for the XDG folders, a QCoreApplication for coroutines and
// timers (a QApplication when the tests need widgets: link your own main), and the extra trusted CAs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <cstdlib>
#include <filesystem>

#include "TestEnvironment.h"
#include "platform/qt/TlsTrust.h"

int main(int argc, char** argv) {
    const auto& root = testsupport::testRoot();
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        auto dir = root / name;
        std::filesystem::create_directories(dir);
        chmod(dir.c_str(), 0700);
        setenv(name, dir.c_str(), 1);
    }
    QCoreApplication app(argc, argv);
    platform::installExtraTrustFromDeploymentConfiguration();
    ::testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    if (result == 0 && !std::getenv("QUORVANE_KEEP_TEST_FILES")) {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    return result;
}
