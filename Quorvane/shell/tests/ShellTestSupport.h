#pragma once
// What the shell's tests share: recording doubles of the application object and the core services, the main
// window on a controller of the test's own, the status menu's items by title, and the notifications that an
// observer process sees on the tests' private session bus.
#include <QLabel>
#include <QMenu>
#include <QProcessEnvironment>
#include <memory>
#include <string>
#include <vector>

#include "Quorvane/core/LaunchAgentService.h"
#include "Quorvane/core/MainWindowController.h"
#include "Quorvane/core/PluginClient.h"
#include "Quorvane/core/SigningSessionDatabaseClient.h"
#include "Quorvane/shell/KelvPCSigningSceneDelegate.h"
#include "Quorvane/shell/MainWindow.h"
#include "Quorvane/shell/SharedApplication.h"
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
struct Events {
    Lines list;
    void add(std::string line) { list.push_back(std::move(line)); }
    // The lines that start with the prefix, in order.
    Lines starting(const std::string& prefix) const;
};

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

// The session store's lifecycle calls, recorded; it holds nothing.
class RecordingSessionStore : public SigningSessionDatabaseClient {
  public:
    explicit RecordingSessionStore(std::shared_ptr<Events> events) : events_(std::move(events)) {}
    std::string clientData() const override { return "0123456789ABCDEF"; }
    std::vector<SigningSession> authenticatedSessions() const override { return {}; }
    void cleanUpSessions() override { events_->add("cleanUpSessions"); }
    void removeAllTokens() override { events_->add("removeAllTokens"); }
    void purgeSession(const SigningSessionContext&) override {}
    void purgeSessionAndToken(const std::string&) override {}
    void purgeExpiredSessionsAndTokens() override { events_->add("purgeExpiredSessionsAndTokens"); }
    void startPrivacyPurgeIfEnabled() override {}
    void startImmediatePrivacyPurge() override {}
    void flushImmediatePrivacyPurge() override { events_->add("flushImmediatePrivacyPurge"); }
    bool removeTokenIfCertificateInvalid(const SigningSessionContext&) override { return false; }
    std::optional<SigningSession> activeSession(const SigningSessionContext&, bool) override {
        return std::nullopt;
    }
    QCoro::Task<bool> hasUsableCardSessions() override;
    std::optional<SigningCertificateInfo> signingCertificateInfo(const SigningSessionContext&) override {
        return std::nullopt;
    }
    void removeToken(const SigningSessionContext&) override {}
    SigningSession registerSession(const SigningSessionContext& context, platform::Date expiration) override;
    std::optional<SigningSession> updateSessionHolder(const SigningSessionContext&,
                                                      const halcyra::AccountStatusDetails&) override {
        return std::nullopt;
    }
    bool registerToken(const SigningSessionContext&, const platform::Bytes&) override { return false; }

  private:
    std::shared_ptr<Events> events_;
};

class RecordingLaunchAgentService : public LaunchAgentService {
  public:
    explicit RecordingLaunchAgentService(std::shared_ptr<Events> events) : events_(std::move(events)) {}
    bool isServiceEnabled() const override { return true; }
    void registerService() override { events_->add("registerService"); }
    void reregisterService() override {}
    void unregisterService() override {}

  private:
    std::shared_ptr<Events> events_;
};

// Records each signal and posts it on the session bus as the app's live client does, so that an observer
// process sees it.
class RecordingPluginClient : public PluginClient {
  public:
    explicit RecordingPluginClient(std::shared_ptr<Events> events) : events_(std::move(events)) {}
    void signalCertificateRequested() override;
    void signalCertificateRetrieved() override;

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
