#pragma once
// The navigation model's tests: the app's test doubles, logging into one log, in the dependency keys, and the
// navigation model driven on a virtual clock.
#include <QCoroTask>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Quorvane/shell/AppNavigationViewModel.h"
#include "Quorvane/shell/MainWindow.h"
#include "Quorvane/testing/CallLog.h"
#include "Quorvane/testing/FakeAuthenticateClient.h"
#include "Quorvane/testing/FakeCard.h"
#include "Quorvane/testing/FakeLaunchAgentService.h"
#include "Quorvane/testing/FakePindleClient.h"
#include "Quorvane/testing/FakeQuorvaneAPI.h"
#include "Quorvane/testing/FakeRemoteSigningClient.h"
#include "Quorvane/testing/FakeSessionStore.h"
#include "Quorvane/testing/FakeWindow.h"
#include "Quorvane/testing/RecordingXPCClient.h"
#include "platform/VirtualScheduler.h"

namespace navtest {

using Lines = std::vector<std::string>;
using halcyra::HalcyraError;
using halcyra::LevelOfAssurance;
using pindle::CardSigningEvent;

// What happened across the doubles of one test, in order.
using Log = testsupport::CallLog;

// The navigation model's world: the doubles in the dependency keys, the user defaults cleared, a window on
// screen, a virtual clock. The log leaves out what only reads the session store (the navigation never reads a
// session for signing) and the window coming to the front.
struct NavigationRig {
    NavigationRig();
    ~NavigationRig();

    // A model for the mode, started.
    std::shared_ptr<AppNavigationViewModel> make(AppOpenMode mode);
    // Runs what was posted and what the event loop has (stream events), until nothing is left.
    void settle();
    // How often the window was closed (once the close has run).
    int closes() const;
    // From now on the controller shows the real main window, whose content is a navigation view with a new
    // model on this rig's clock and controller.
    MainWindow& useMainWindow();
    MainWindow* mainWindow() const;

    std::shared_ptr<Log> log = std::make_shared<Log>();
    std::shared_ptr<platform::VirtualScheduler> scheduler = std::make_shared<platform::VirtualScheduler>();
    std::shared_ptr<testsupport::FakeWindow> window = std::make_shared<testsupport::FakeWindow>(log);
    MainWindowController controller;
    std::shared_ptr<testsupport::FakeAuthenticateClient> authenticate =
        std::make_shared<testsupport::FakeAuthenticateClient>();
    std::shared_ptr<testsupport::FakeRemoteSigningClient> remote =
        std::make_shared<testsupport::FakeRemoteSigningClient>();
    // Plays its script (nothing by default) on each authentication.
    std::shared_ptr<testsupport::FakeQuorvaneAPI> facade =
        std::make_shared<testsupport::FakeQuorvaneAPI>(nullptr, log);
    std::shared_ptr<testsupport::FakeSessionStore> store =
        std::make_shared<testsupport::FakeSessionStore>(log);
    std::shared_ptr<testsupport::FakePindleClient> reader = std::make_shared<testsupport::FakePindleClient>();
    std::shared_ptr<testsupport::FakeLaunchAgentService> launchAgent =
        std::make_shared<testsupport::FakeLaunchAgentService>(true);
    std::shared_ptr<testsupport::RecordingXPCClient> xpc =
        std::make_shared<testsupport::RecordingXPCClient>();
    std::shared_ptr<AppSettings> settings;
};

// One line per target: the case, and what tells targets of a case apart ("info 'text' waiting").
std::string describe(const AppNavigationTarget& target);
// "none", "pinInput <event kind>", "walletTracking <session>".
std::string describe(const std::optional<AppNavigationViewModalState>& state);
// The first line of a text.
std::string headline(const std::string& text);

std::shared_ptr<pindle::Card> card(const std::string& id, const std::shared_ptr<Log>& log);
SigningSession session(const std::string& tokenIdentifier, const std::string& serverSession);

}  // namespace navtest
