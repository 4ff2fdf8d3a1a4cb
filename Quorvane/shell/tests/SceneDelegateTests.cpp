// The application delegate's launch, activation, status menu and endings, on doubles and in virtual time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QKeySequence>
#include <sstream>

#include "Quorvane/core/AppVersions.h"
#include "Quorvane/core/AppVersionsFileLocationSelection.h"
#include "Quorvane/core/HalcyraEnvironmentSelection.h"
#include "Quorvane/testing/FakeSessionStore.h"
#include "ShellTestSupport.h"
#include "platform/qt/UserDefaults.h"
#include "platform/testing/TestEnvironment.h"

namespace {

using namespace shelltest;
using namespace std::chrono_literals;
using ::testing::ElementsAre;

Lines contents(const Events& events) {
    return events.starting("content ");
}

TEST(SceneDelegateTest, LaunchRegistersTheRelayTidiesSessionsBuildsTheMenuThenSaysSo) {
    DelegateRig rig(false);
    rig.delegate->applicationDidFinishLaunching();
    EXPECT_EQ(rig.events->list, (Lines{"registerService", "cleanUpSessions"}));
    ASSERT_TRUE(rig.delegate->statusMenu());
    // Offscreen there is no status area: the app says so and goes on without a status item.
    EXPECT_FALSE(rig.delegate->statusItem());
    EXPECT_THAT(
        rig.logs.messages(),
        ElementsAre("No system tray available: the status menu cannot be shown, the main window is the way "
                    "into the app",
                    "Application launched"));
}

// Activation and the 0.5 s menu timer: scripts of activations, links, menu actions, closes and waits, and the
// screens they lead to.
struct ActivationCase {
    std::string name;
    std::string script;  // steps separated by spaces
    Lines expectedContents;
};

class ActivationTest : public ::testing::TestWithParam<ActivationCase> {};

TEST_P(ActivationTest, OpensTheMenuWindowOnlyWhenNothingElseCameFirst) {
    DelegateRig rig;
    std::istringstream steps(GetParam().script);
    int activations = 0;
    for (std::string step; steps >> step;) {
        if (step == "activate") {
            ++activations;
            rig.delegate->applicationDidBecomeActive();
        } else if (step.starts_with("wait")) {
            rig.scheduler->advance(std::chrono::milliseconds(std::stoi(step.substr(4))));
        } else if (step == "link") {
            rig.delegate->openURLs({"quorvane://sign"});
        } else if (step == "menuSettings") {
            rig.delegate->settingsMenuItemUsed();
        } else if (step == "showSettings") {
            rig.controller.show(AppOpenMode::settings());
        } else if (step == "close") {
            rig.closeByUser();
        } else if (step == "hide") {
            rig.mainWindow()->hide();  // off screen without closing, as when the app is hidden
        } else {
            FAIL() << "unknown step " << step;
        }
    }
    rig.scheduler->advance(2s);
    EXPECT_EQ(contents(*rig.events), GetParam().expectedContents);
    // Every activation flushes a pending privacy purge, whatever else it does.
    EXPECT_EQ(rig.events->starting("flushImmediatePrivacyPurge").size(), static_cast<size_t>(activations));
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, ActivationTest,
    ::testing::Values(
        ActivationCase{"PlainActivation", "activate", {"content menu"}},
        ActivationCase{"WindowOnScreen", "showSettings activate", {"content settings"}},
        // The menu action's own activation must not open the menu over the screen it asked for.
        ActivationCase{"RightAfterAMenuAction", "menuSettings activate", {"content settings"}},
        ActivationCase{"TwoActivationsOneTimer", "activate wait200 activate", {"content menu"}},
        ActivationCase{"LinkWithinTheDelay", "activate wait499 link", {"content sign(overXPC(hash: none))"}},
        ActivationCase{"LinkAfterTheDelay",
                       "activate wait500 link",
                       {"content menu", "content sign(overXPC(hash: none))"}},
        ActivationCase{"LinkBeforeItsActivation", "link activate", {"content sign(overXPC(hash: none))"}},
        ActivationCase{"HiddenButNotClosed", "activate wait500 hide activate", {"content menu"}},
        ActivationCase{
            "AgainAfterAClose", "activate wait500 close activate", {"content menu", "content menu"}}),
    [](const auto& info) { return info.param.name; });

TEST(SceneDelegateTest, MenuTimerFiresAtHalfASecondAndOnlyALinkCancelsIt) {
    DelegateRig rig;
    rig.delegate->applicationDidBecomeActive();
    EXPECT_TRUE(rig.delegate->appMenuHasBeenHandled());
    auto timer = rig.delegate->appMenuShowTimer();
    ASSERT_TRUE(timer && timer->isValid());
    EXPECT_THAT(rig.logs.messages(),
                ::testing::Contains("App did become active, starting main menu display timer."));
    rig.scheduler->advance(499ms);
    EXPECT_FALSE(rig.mainWindow());
    rig.scheduler->advance(1ms);
    ASSERT_TRUE(rig.mainWindow());
    EXPECT_TRUE(rig.mainWindow()->isVisible());

    // A link invalidates and forgets the timer, and starts a new stretch of activity.
    rig.closeByUser();
    rig.delegate->applicationDidBecomeActive();
    timer = rig.delegate->appMenuShowTimer();
    rig.delegate->openURLs({});
    EXPECT_FALSE(timer->isValid());
    EXPECT_FALSE(rig.delegate->appMenuShowTimer());
    EXPECT_FALSE(rig.delegate->appMenuHasBeenHandled());
    EXPECT_TRUE(rig.delegate->appHasBeenOpenedFromStatusBarMenuOrDeeplink());
}

// --- The status menu

// The menu as text: one line per item with its shortcut, "[x]" for a check mark, "> " before a submenu's
// items, "---" for a separator.
void describeMenu(QMenu* menu, const std::string& indent, Lines& lines) {
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            lines.push_back(indent + "---");
            continue;
        }
        std::string line = indent + action->text().toStdString();
        if (!action->shortcut().isEmpty())
            line += " | " + action->shortcut().toString().toStdString();
        if (action->isChecked())
            line += " [x]";
        lines.push_back(line);
        if (action->menu())
            describeMenu(action->menu(), indent + "> ", lines);
    }
}

Lines describeMenu(QMenu* menu) {
    Lines lines;
    describeMenu(menu, "", lines);
    return lines;
}

TEST(StatusMenuTest, ItemsKeysSubmenusAndDefaultCheckMarks) {
    DelegateRig rig;
    EXPECT_EQ(describeMenu(rig.delegate->statusMenu()),
              (Lines{"Retrieve remote sign certificate | Ctrl+R",
                     "Account info | Ctrl+I",
                     "Settings | Ctrl+S",
                     "---",
                     "Logs | Ctrl+L",
                     "> Show app logs folder | Ctrl+P",
                     "> Show service logs folder | Ctrl+E",
                     "---",
                     "App Versions File Location | Ctrl+V",
                     "> /Downloads/appversions.json",
                     "> Missing or invalid file test",
                     "> Normal remote file (production) [x]",
                     "> Test file with no available update",
                     "> Test file with simple update",
                     "> Test file with suggested update",
                     "> Test file with forced update",
                     "> Test file with suggested update for a different OS version",
                     "---",
                     "Backend Environment | Ctrl+O",
                     "> TA",
                     "> QA",
                     "> RC",
                     "> INT",
                     "> PROD [x]",
                     "---",
                     "About | Ctrl+A",
                     "---",
                     "Quit | Ctrl+Q",
                     "---",
                     "Purge (beware!)"}));
    EXPECT_EQ(rig.delegate->exclusiveProcessesMenuItems(),
              (std::vector<QAction*>{menuItem(rig.delegate->statusMenu(), "Retrieve remote sign certificate"),
                                     menuItem(rig.delegate->statusMenu(), "Account info"),
                                     menuItem(rig.delegate->statusMenu(), "Settings")}));
}

TEST(StatusMenuTest, CheckMarksFollowTheStoredChoicesExactlySpelled) {
    struct Case {
        std::string location, environment, checkedLocation, checkedEnvironment;
    };
    for (const auto& c :
         std::vector<Case>{{"testForcedUpdate", "QA", "Test file with forced update", "QA"},
                           {"TESTFORCEDUPDATE", "qa", "Normal remote file (production)", "PROD"}}) {
        SCOPED_TRACE(c.location + " " + c.environment);
        DelegateRig rig(false);
        platform::UserDefaults::standard().setString(AppVersionsFileLocationSelection::fileLocationKey,
                                                     c.location);
        platform::UserDefaults::standard().setString(HalcyraEnvironmentSelection::environmentKey,
                                                     c.environment);
        rig.delegate->applicationDidFinishLaunching();
        EXPECT_TRUE(menuItem(rig.delegate->statusMenu(), c.checkedLocation)->isChecked());
        EXPECT_TRUE(menuItem(rig.delegate->statusMenu(), c.checkedEnvironment)->isChecked());
        Lines checked;
        for (const auto& line : describeMenu(rig.delegate->statusMenu())) {
            if (line.ends_with("[x]"))
                checked.push_back(line);
        }
        EXPECT_EQ(checked.size(), 2u);
    }
}

TEST(StatusMenuTest, ChoosingALocationStoresItReplacesTheUpdateCheckAndRebuilds) {
    DelegateRig rig;
    QMenu* before = rig.delegate->statusMenu();
    menuItem(before, "Test file with suggested update")->trigger();
    EXPECT_EQ(rig.delegate->statusMenu(), before);  // the work is a task
    rig.scheduler->runPending();
    QMenu* after = rig.delegate->statusMenu();
    EXPECT_NE(after, before);
    EXPECT_TRUE(menuItem(after, "Test file with suggested update")->isChecked());
    EXPECT_FALSE(menuItem(after, "Normal remote file (production)")->isChecked());
    EXPECT_EQ(platform::UserDefaults::standard().string(AppVersionsFileLocationSelection::fileLocationKey),
              "testSuggestedUpdate");
    EXPECT_EQ(Dependency<AppVersionsKey>().get()->fileLocation(),
              AppVersionsFileLocation::testSuggestedUpdate);
    EXPECT_EQ(rig.delegate->exclusiveProcessesMenuItems().front(),
              menuItem(after, "Retrieve remote sign certificate"));
}

TEST(StatusMenuTest, ChoosingAnEnvironmentSwitchesRemovesTheTokensAndRebuilds) {
    DelegateRig rig;
    menuItem(rig.delegate->statusMenu(), "RC")->trigger();
    rig.scheduler->runPending();
    EXPECT_THAT(rig.events->list, ::testing::Contains("removeAllTokens"));
    EXPECT_EQ(HalcyraEnvironmentSelection().currentEnvironment(), HalcyraEnvironment::rc);
    EXPECT_TRUE(menuItem(rig.delegate->statusMenu(), "RC")->isChecked());
    EXPECT_FALSE(menuItem(rig.delegate->statusMenu(), "PROD")->isChecked());
}

TEST(StatusMenuTest, ChoiceWithoutItsValueDoesNothing) {
    DelegateRig rig;
    QAction stray("stray");
    stray.setData(QVariant::fromValue(HalcyraEnvironment::qa));  // an environment is not a location
    rig.delegate->setAppVersionsFileLocationItemused(&stray);
    rig.delegate->setEnvironmentItemUsed(nullptr);
    QAction empty("empty");
    rig.delegate->setEnvironmentItemUsed(&empty);
    QMenu* menu = rig.delegate->statusMenu();
    rig.scheduler->runPending();
    EXPECT_EQ(rig.delegate->statusMenu(), menu);
    EXPECT_FALSE(
        platform::UserDefaults::standard().contains(AppVersionsFileLocationSelection::fileLocationKey));
    EXPECT_FALSE(platform::UserDefaults::standard().contains(HalcyraEnvironmentSelection::environmentKey));
}

TEST(StatusMenuTest, FlowItemsAreDisabledExactlyWhileTheWindowIsBusy) {
    DelegateRig rig;
    auto enabled = [&rig] {
        std::vector<bool> states;
        for (QAction* item : rig.delegate->exclusiveProcessesMenuItems())
            states.push_back(item->isEnabled());
        return states;
    };
    const std::vector<bool> all(3, true), none(3, false);

    rig.controller.show(AppOpenMode::getCertificate(true));
    EXPECT_EQ(enabled(), all);  // decided in a task after the window opened
    rig.scheduler->runPending();
    EXPECT_EQ(enabled(), none);
    EXPECT_TRUE(menuItem(rig.delegate->statusMenu(), "Quit")->isEnabled());

    rig.closeByUser();
    EXPECT_EQ(enabled(), all);  // at once

    rig.controller.show(AppOpenMode::settings());
    rig.scheduler->runPending();
    EXPECT_EQ(enabled(), all);

    // A rebuild while busy starts with enabled items; the next opening or closing sets them again.
    rig.controller.show(AppOpenMode::accountInfo());
    rig.scheduler->runPending();
    menuItem(rig.delegate->statusMenu(), "QA")->trigger();
    rig.scheduler->runPending();
    EXPECT_EQ(enabled(), all);
    rig.controller.show(AppOpenMode::accountInfo());
    rig.scheduler->runPending();
    EXPECT_EQ(enabled(), none);
}

TEST(StatusMenuTest, FlowItemsOpenTheirModeInATask) {
    const std::vector<std::pair<std::string, std::string>> items{
        {"Retrieve remote sign certificate", "getCertificate(showResult: true)"},
        {"Account info", "accountInfo"},
        {"Settings", "settings"}};
    for (const auto& [title, mode] : items) {
        SCOPED_TRACE(title);
        DelegateRig rig;
        menuItem(rig.delegate->statusMenu(), title)->trigger();
        EXPECT_TRUE(rig.delegate->appHasBeenOpenedFromStatusBarMenuOrDeeplink());
        EXPECT_FALSE(rig.mainWindow());
        rig.scheduler->runPending();
        EXPECT_EQ(contents(*rig.events), Lines{"content " + mode});
    }
}

TEST(StatusMenuTest, LogFoldersOpenInTheFileBrowser) {
    DelegateRig rig;  // its launch wrote the app's log
    menuItem(rig.delegate->statusMenu(), "Show app logs folder")->trigger();
    menuItem(rig.delegate->statusMenu(), "Show service logs folder")->trigger();
    const auto url = [](const std::filesystem::path& folder) {
        return QUrl::fromLocalFile(QString::fromStdString(folder.string())).toString().toStdString();
    };
    EXPECT_EQ(rig.workspace.openedURLs(),
              (Lines{url(LoggerClient::logFolder()), url(KelvPCSigningSceneDelegate::serviceLogsFolder())}));

    // Without a folder of app logs there is nothing to show.
    testsupport::ScopedVariable state("XDG_STATE_HOME",
                                      (testsupport::makeTempDir("state") / "none").string());
    menuItem(rig.delegate->statusMenu(), "Show app logs folder")->trigger();
    EXPECT_EQ(rig.workspace.openedURLs().size(), 2u);
}

TEST(StatusMenuTest, AboutShowsTheWindowThenThePanelASecondLater) {
    DelegateRig rig;
    menuItem(rig.delegate->statusMenu(), "About")->trigger();
    rig.scheduler->runPending();
    EXPECT_EQ(rig.events->list,
              (Lines{"registerService", "cleanUpSessions", "activate ignoring others", "content menu",
                     "DidOpen", "policy regular", "activate ignoring others"}));
    rig.scheduler->advance(999ms);
    EXPECT_THAT(rig.events->list, ::testing::Not(::testing::Contains("about panel")));
    rig.scheduler->advance(1ms);
    EXPECT_EQ(rig.events->list.back(), "about panel");

    // With the window on screen it is only brought forward, its content kept.
    rig.events->list.clear();
    menuItem(rig.delegate->statusMenu(), "About")->trigger();
    rig.scheduler->advance(1s);
    EXPECT_EQ(rig.events->list, (Lines{"activate ignoring others", "policy regular",
                                       "activate ignoring others", "about panel"}));
}

// A flow that hears the window close and answers its requester in a task of its own.
platform::NotificationCenter::Observation answeringFlow(DelegateRig& rig) {
    return platform::NotificationCenter::defaultCenter().addObserver(
        MainWindowController::mainWindowWillCloseNotification,
        [&rig] { rig.scheduler->post([&rig] { rig.events->add("flow answered"); }); });
}

TEST(StatusMenuTest, QuitClosesTheWindowToItsEndBeforeTerminating) {
    NotificationWatch watch;
    DelegateRig rig;
    rig.controller.show(AppOpenMode::sign(SigningRequestType::overXPC()));
    rig.scheduler->runPending();
    auto flow = answeringFlow(rig);
    rig.events->list.clear();

    menuItem(rig.delegate->statusMenu(), "Quit")->trigger();
    rig.scheduler->runPending();
    EXPECT_EQ(rig.events->list, (Lines{"WillClose", "policy accessory", "retrieved", "flow answered",
                                       "terminate", "purgeExpiredSessionsAndTokens"}));
    EXPECT_EQ(watch.seen(), Lines{retrieved});
}

TEST(StatusMenuTest, QuitWithoutAWindowTerminates) {
    DelegateRig rig;
    rig.events->list.clear();
    menuItem(rig.delegate->statusMenu(), "Quit")->trigger();
    rig.scheduler->runPending();
    EXPECT_EQ(rig.events->list, (Lines{"terminate", "purgeExpiredSessionsAndTokens"}));
}

TEST(StatusMenuTest, PurgeEndsTheFlowRemovesTokensThenSettingsThenTerminates) {
    // The tokens go while the settings are still there.
    struct Store : testsupport::FakeSessionStore {
        using FakeSessionStore::FakeSessionStore;
        void removeAllTokens() override {
            log->add(std::string("removeAllTokens, settings ") +
                     (platform::UserDefaults::standard().contains("orchestrator_env") ? "kept" : "gone"));
        }
    };
    DelegateRig rig;
    auto store = std::make_shared<Store>(rig.events);
    Dependency<SigningSessionDatabaseKey>().set(store);
    platform::UserDefaults::standard().setString("orchestrator_env", "QA");
    platform::UserDefaults::standard().setBoolean("privacyModeEnabled", true);
    rig.controller.show(AppOpenMode::accountInfo());
    rig.scheduler->runPending();
    auto flow = answeringFlow(rig);
    rig.events->list.clear();

    menuItem(rig.delegate->statusMenu(), "Purge (beware!)")->trigger();
    rig.scheduler->runPending();
    EXPECT_EQ(rig.events->list,
              (Lines{"WillClose", "policy accessory", "retrieved", "removeAllTokens, settings kept",
                     "flow answered", "terminate", "purgeExpiredSessionsAndTokens"}));
    EXPECT_FALSE(platform::UserDefaults::standard().contains("orchestrator_env"));
    EXPECT_FALSE(platform::UserDefaults::standard().contains("privacyModeEnabled"));
}

}  // namespace
