#pragma once
// What the shell's tests share: a recording double of the application object, the app's test doubles of the
// core services logging into the same list, the main window on a controller of the test's own, the status
// menu's items by title, and the notifications that an observer process sees on the tests' private session
// bus.
#include <QLabel>
#include <QMenu>
#include <QProcessEnvironment>
#include <memory>
#include <string>
#include <vector>

#include "Quorvane/core/MainWindowController.h"
#include "Quorvane/core/PluginClient.h"
#include "Quorvane/shell/KelvPCSigningSceneDelegate.h"
#include "Quorvane/shell/MainWindow.h"
#include "Quorvane/shell/SharedApplication.h"
#include "Quorvane/testing/CallLog.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/NotificationCenter.h"
#include "platform/VirtualScheduler.h"
#include "platform/Workspace.h"
#include "platform/testing/PrivateBus.h"

namespace shelltest {

using Lines = std::vector<std::string>;

inline const std::string requested = PluginClient::certificateRequestedNotification;
inline const std::string retrieved = PluginClient::certificateRetrievedNotification;

// What happened, in order, across the doubles of one test.
using Events = testsupport::CallLog;

// A screen that tells when it is closed.
class RecordingScreen : public QLabel {
  public:
    RecordingScreen(const std::string& mode, std::shared_ptr<Events> events)
        : QLabel(QString::fromStdString(mode)), events_(std::move(events)) {}

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    std::shared_ptr<Events> events_;
};

class RecordingApplication : public SharedApplication {
  public:
    explicit RecordingApplication(std::shared_ptr<Events> events) : events_(std::move(events)) {}
    void setActivationPolicy(MainWindowController::ActivationPolicy policy) override;
    void activate(bool ignoringOtherApps) override;
    void orderFrontStandardAboutPanel() override { events_->add("about panel"); }
    // Runs the termination step, as the application object does.
    void terminate() override;

    std::function<void()> willTerminate;

  private:
    std::shared_ptr<Events> events_;
};

// The shell on doubles: a controller of its own whose window is the real one (offscreen) with a label per
// mode, a virtual-time scheduler, the recording doubles in the dependency keys, a workspace recorder and a
// log capture. Every announcement of the window, every activation and every core call lands in `events`.
struct ShellRig {
    ShellRig();
    ~ShellRig();

    // The window as the Qt widget it is; null before the first show.
    MainWindow* mainWindow() const;
    // Closes the window as the title bar's close button does.
    void closeByUser() const;

    std::shared_ptr<Events> events = std::make_shared<Events>();
    std::shared_ptr<platform::VirtualScheduler> scheduler = std::make_shared<platform::VirtualScheduler>();
    std::shared_ptr<RecordingApplication> application = std::make_shared<RecordingApplication>(events);
    MainWindowController controller;
    LogCapture logs;
    platform::WorkspaceRecorder workspace;
    platform::NotificationCenter::Observation didOpen;
    platform::NotificationCenter::Observation willClose;
};

// The application delegate on the rig, launched.
struct DelegateRig : ShellRig {
    explicit DelegateRig(bool launch = true);
    std::shared_ptr<KelvPCSigningSceneDelegate> delegate;
};

// The status menu's item with the title (in submenus too); fails the test when there is none.
QAction* menuItem(QMenu* menu, const std::string& title);

// The private session bus of the shell's tests, made before any test posts a notification.
QProcessEnvironment busEnvironment();

// Watches every notification on the tests' bus from an observer process, from its construction until
// seen(), which ends the watch and answers what arrived, in order.
class NotificationWatch {
  public:
    NotificationWatch();
    Lines seen();

  private:
    testsupport::NotifyObserverProcess observer_;
};

}  // namespace shelltest
