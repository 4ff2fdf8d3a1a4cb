#include "ShellTestSupport.h"

#include <gtest/gtest.h>

#include <QCoroTask>
#include <cstdlib>

#include "Quorvane/core/PluginClientDarwin.h"
#include "Quorvane/testing/FakeLaunchAgentService.h"
#include "Quorvane/testing/FakePluginClient.h"
#include "Quorvane/testing/FakeSessionStore.h"
#include "outside/Dependencies/Dependencies.h"
#include "platform/DarwinNotify.h"
#include "platform/qt/UserDefaults.h"

namespace shelltest {

namespace {

const std::string endMark = "com.tovik.quorvane.test.shell.end";

// One private session bus for the whole test program: a process posts all its notifications on one
// connection, made with the first post, so the bus has to be there before any test posts.
class PrivateBusEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        bus_ = std::make_unique<testsupport::PrivateBus>();
        ASSERT_TRUE(bus_->isUp());
        environment_ = bus_->environment();
        setenv("DBUS_SESSION_BUS_ADDRESS",
               environment_.value("DBUS_SESSION_BUS_ADDRESS").toLocal8Bit().constData(), 1);
    }
    void TearDown() override { bus_.reset(); }

    static QProcessEnvironment environment_;

  private:
    std::unique_ptr<testsupport::PrivateBus> bus_;
};

QProcessEnvironment PrivateBusEnvironment::environment_;

[[maybe_unused]] auto* const busEnvironmentRegistration =
    ::testing::AddGlobalTestEnvironment(new PrivateBusEnvironment);

std::string policyName(MainWindowController::ActivationPolicy policy) {
    return policy == MainWindowController::ActivationPolicy::regular ? "regular" : "accessory";
}

QAction* findItem(QMenu* menu, const QString& title) {
    for (QAction* action : menu->actions()) {
        if (action->text() == title)
            return action;
        if (action->menu()) {
            if (QAction* found = findItem(action->menu(), title))
                return found;
        }
    }
    return nullptr;
}

}  // namespace

void RecordingScreen::closeEvent(QCloseEvent* event) {
    events_->add("closed " + text().toStdString());
    QLabel::closeEvent(event);
}

void RecordingApplication::setActivationPolicy(MainWindowController::ActivationPolicy policy) {
    events_->add("policy " + policyName(policy));
}

void RecordingApplication::activate(bool ignoringOtherApps) {
    events_->add(ignoringOtherApps ? "activate ignoring others" : "activate");
}

void RecordingApplication::terminate() {
    events_->add("terminate");
    if (willTerminate)
        willTerminate();
}

ShellRig::ShellRig() {
    DependencyValues::shared().reset();
    platform::UserDefaults::standard().clear();
    Dependency<SigningSessionDatabaseKey>().set(std::make_shared<testsupport::FakeSessionStore>(events));
    Dependency<LaunchAgentServiceKey>().set(
        std::make_shared<testsupport::FakeLaunchAgentService>(true, events));
    // The live client posts each signal on the session bus, where an observer process sees it.
    Dependency<PluginClientKey>().set(
        std::make_shared<testsupport::FakePluginClient>(events, std::make_shared<PluginClientDarwin>()));
    controller.application = application;
    controller.makeWindow = [events = events] {
        return std::make_shared<MainWindow>([events](const AppOpenMode& mode) {
            events->add("content " + mode.description());
            return new RecordingScreen(mode.description(), events);
        });
    };
    auto& center = platform::NotificationCenter::defaultCenter();
    didOpen = center.addObserver(MainWindowController::mainWindowDidOpenNotification,
                                 [events = events] { events->add("DidOpen"); });
    willClose = center.addObserver(MainWindowController::mainWindowWillCloseNotification,
                                   [events = events] { events->add("WillClose"); });
}

ShellRig::~ShellRig() {
    controller.window.reset();
    DependencyValues::shared().reset();
}

MainWindow* ShellRig::mainWindow() const {
    return dynamic_cast<MainWindow*>(controller.window.get());
}

void ShellRig::closeByUser() const {
    mainWindow()->QWidget::close();
}

DelegateRig::DelegateRig(bool launch) {
    delegate = std::make_shared<KelvPCSigningSceneDelegate>(application, scheduler, controller);
    application->willTerminate = [this] { delegate->applicationWillTerminate(); };
    if (launch)
        delegate->applicationDidFinishLaunching();
}

QAction* menuItem(QMenu* menu, const std::string& title) {
    QAction* item = menu ? findItem(menu, QString::fromStdString(title)) : nullptr;
    EXPECT_TRUE(item) << "no menu item \"" << title << "\"";
    return item;
}

QProcessEnvironment busEnvironment() {
    return PrivateBusEnvironment::environment_;
}

NotificationWatch::NotificationWatch()
    : observer_(busEnvironment(), {"--until", QString::fromStdString(endMark)}) {
    EXPECT_TRUE(observer_.waitUntilReady());
}

Lines NotificationWatch::seen() {
    // Posted on the connection that carried the test's notifications, so it arrives after all of them.
    EXPECT_TRUE(platform::DarwinNotify::post(endMark));
    auto [status, lines] = observer_.finish();
    EXPECT_EQ(status, 0) << "the observer did not see the end of the test";
    return lines;
}

}  // namespace shelltest
