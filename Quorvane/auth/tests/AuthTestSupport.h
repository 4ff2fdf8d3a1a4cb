#pragma once
// What the authentication screens' tests share: a clean dependency container and user defaults per test, the
// real session store on a virtual clock with a token driver of its own, and a main window that records being
// closed.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/MainWindowController.h"
#include "Quorvane/core/PindleMock.h"
#include "Quorvane/core/SigningSessionDatabase.h"
#include "Quorvane/core/TokenDriverConfiguration.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/VirtualScheduler.h"
#include "platform/qt/UserDefaults.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/tokens/TokenStore.h"

namespace authtest {

// Every test starts and ends with an empty dependency container and empty user defaults.
class CleanState : public ::testing::Test {
  protected:
    CleanState() { reset(); }
    ~CleanState() override { reset(); }

    static void reset() {
        DependencyValues::shared().reset();
        platform::UserDefaults::standard().clear();
    }

    std::shared_ptr<platform::VirtualScheduler> scheduler = std::make_shared<platform::VirtualScheduler>();
};

// The app's session store with an installed token driver of its own, on the given clock, reading the cards
// through the given client. Installed as the session store of the app.
struct SessionStore {
    explicit SessionStore(std::shared_ptr<platform::Scheduler> scheduler,
                          std::shared_ptr<pindle::PindleClient> pindle = nullptr) {
        if (!pindle)
            pindle = PindleMock::make(PindleMock::Mode::noCards(), scheduler);
        platform::tokens::TokenStore tokenStore(testsupport::makeTempDir("tokens") /
                                                platform::tokens::driverClassID);
        tokenStore.installDriver();
        tokens = std::make_shared<TokenDriverConfiguration>(tokenStore, logger);
        store = std::make_shared<SigningSessionDatabase>(SigningSessionDatabase::always(settings),
                                                         SigningSessionDatabase::always(logger), pindle,
                                                         tokens, scheduler);
        DependencyValues::shared().set<SigningSessionDatabaseKey>(store);
    }

    std::shared_ptr<AppSettings> settings = std::make_shared<AppSettings>();
    std::shared_ptr<LoggerClient> logger = std::make_shared<LoggerClient>("ui");
    std::shared_ptr<TokenDriverConfiguration> tokens;
    std::shared_ptr<SigningSessionDatabase> store;
};

// Stands in for the main window while it lives: visible, and counting the closes asked of it.
class RecordingMainWindow : public MainWindowController::Window {
  public:
    static std::shared_ptr<RecordingMainWindow> install() {
        auto window = std::make_shared<RecordingMainWindow>();
        MainWindowController::shared().window = window;
        return window;
    }
    ~RecordingMainWindow() override = default;

    void makeKeyAndOrderFront() override {}
    bool isVisible() const override { return true; }
    void setContent(const AppOpenMode&) override {}
    void close() override { ++closes; }

    int closes = 0;
};

// Takes the recording window away again.
struct MainWindowScope {
    std::shared_ptr<RecordingMainWindow> window = RecordingMainWindow::install();
    ~MainWindowScope() { MainWindowController::shared().window.reset(); }
};

}  // namespace authtest
