#pragma once
// Doubles of the navigation's tests: scripted server clients, authentication facade and session store, a card
// that records what is asked of it, and a window that records its closes; the rig puts them into the
// dependency keys and drives the navigation model on a virtual clock.
#include <QCoroTask>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Quorvane/core/QuorvaneAPIClient.h"
#include "Quorvane/core/SigningSessionDatabaseClient.h"
#include "Quorvane/core/tests/RecordingXPCClient.h"
#include "Quorvane/core/tests/SessionTestDoubles.h"
#include "Quorvane/shell/AppNavigationViewModel.h"
#include "Quorvane/shell/MainWindow.h"
#include "Quorvane/shell/views/tests/ViewsTestSupport.h"
#include "api/Clients.h"
#include "platform/VirtualScheduler.h"

namespace navtest {

using Lines = std::vector<std::string>;
using halcyra::HalcyraError;
using halcyra::LevelOfAssurance;
using pindle::CardSigningEvent;

// What happened across the doubles of one test, in order.
struct Log {
    Lines lines;
    void add(std::string line) { lines.push_back(std::move(line)); }
    // The lines since the last take.
    Lines take() { return std::exchange(lines, {}); }
};

// A card that logs the sheets' calls on it.
class RecordingCard : public sessiontest::FakeCard {
  public:
    RecordingCard(std::string id, std::shared_ptr<Log> log)
        : FakeCard(id), id_(std::move(id)), log_(std::move(log)) {}
    void cancelOngoingOperation() override { log_->add("cancel " + id_); }
    void retryOngoingOperation() override { log_->add("retry " + id_); }

  private:
    std::string id_;
    std::shared_ptr<Log> log_;
};

class FakeAuthenticateClient : public halcyra::AuthenticateAPIClient {
  public:
    explicit FakeAuthenticateClient(std::shared_ptr<Log> log) : log_(std::move(log)) {}
    // The next getMeans fails with it (once).
    std::optional<HalcyraError> meansError;

    QCoro::Task<halcyra::AuthenticationMethodsResponse> getAuthenticationMethods(
        std::string loggingIdentifier, LevelOfAssurance levelOfAssurance) override;
    QCoro::Task<halcyra::AuthenticationMethodDataResponse> getAuthenticationMethodData(
        halcyra::AuthenticationMethod method, std::string sessionId) override;
    QCoro::Task<halcyra::AuthenticateResult> authenticate(halcyra::AuthenticateRequest request) override;

  private:
    std::shared_ptr<Log> log_;
    int sessions_ = 0;
};

class FakeRemoteSigningClient : public halcyra::RemoteSigningAPIClient {
  public:
    explicit FakeRemoteSigningClient(std::shared_ptr<Log> log) : log_(std::move(log)) {}
    halcyra::AccountStatusDetails status = activeAccount();
    std::optional<HalcyraError> statusError;

    static halcyra::AccountStatusDetails activeAccount();

    QCoro::Task<halcyra::AccountStatusDetails> getAccountStatus(std::string authSessionId) override;
    QCoro::Task<halcyra::SigningInfoDetails> getSignatureInfo(std::string) override;
    QCoro::Task<void> deleteAccount(std::string, std::string) override;
    QCoro::Task<halcyra::GetDataToConsentResponse> getDataToConsent(
        halcyra::GetDataToConsentRequest) override;
    QCoro::Task<halcyra::ConsentAndSignHashesResponse> consentAndSignHashes(
        halcyra::ConsentAndSignHashesRequest) override;

  private:
    std::shared_ptr<Log> log_;
};

// Plays `script` on each authentication; the stream stays open while `keepOpen`, for the test to feed it.
class ScriptedFacade : public QuorvaneAPIClient {
  public:
    explicit ScriptedFacade(std::shared_ptr<Log> log) : log_(std::move(log)) {}
    std::vector<AuthenticateFlowEvent> script;
    bool keepOpen = false;
    std::optional<platform::AsyncStream<AuthenticateFlowEvent>::Continuation> open;

    platform::AsyncStream<AuthenticateFlowEvent> runAuthentication(SigningSessionContext context,
                                                                   bool retrieveCertificate) override;

  private:
    std::shared_ptr<Log> log_;
};

// Answers from what the test sets and logs every change asked of it.
class FakeSessionStore : public SigningSessionDatabaseClient {
  public:
    explicit FakeSessionStore(std::shared_ptr<Log> log) : log_(std::move(log)) {}
    std::optional<SigningSession> storedSession;
    bool usableCardSessions = false;

    std::string clientData() const override { return "CLIENTDATA000001"; }
    std::vector<SigningSession> authenticatedSessions() const override { return {}; }
    void cleanUpSessions() override {}
    void removeAllTokens() override {}
    void purgeSession(const SigningSessionContext& context) override;
    void purgeSessionAndToken(const std::string&) override {}
    void purgeExpiredSessionsAndTokens() override;
    void startPrivacyPurgeIfEnabled() override {}
    void startImmediatePrivacyPurge() override {}
    void flushImmediatePrivacyPurge() override {}
    bool removeTokenIfCertificateInvalid(const SigningSessionContext&) override { return false; }
    std::optional<SigningSession> activeSession(const SigningSessionContext& context,
                                                bool forSigning) override;
    QCoro::Task<bool> hasUsableCardSessions() override;
    std::optional<SigningCertificateInfo> signingCertificateInfo(const SigningSessionContext&) override {
        return std::nullopt;
    }
    void removeToken(const SigningSessionContext& context) override;
    SigningSession registerSession(const SigningSessionContext& context,
                                   platform::Date expirationDate) override;
    // The stored session with the holder's names, when there is one.
    std::optional<SigningSession> updateSessionHolder(const SigningSessionContext& context,
                                                      const halcyra::AccountStatusDetails& details) override;
    bool registerToken(const SigningSessionContext&, const platform::Bytes&) override { return true; }

  private:
    std::shared_ptr<Log> log_;
};

// The main window as the controller sees it: on screen until closed; each close is logged.
class RecordingWindow : public MainWindowController::Window {
  public:
    explicit RecordingWindow(std::shared_ptr<Log> log) : log_(std::move(log)) {}
    void makeKeyAndOrderFront() override { visible = true; }
    bool isVisible() const override { return visible; }
    void setContent(const AppOpenMode& mode) override { log_->add("content " + mode.description()); }
    void close() override;

    bool visible = true;

  private:
    std::shared_ptr<Log> log_;
};

// The navigation model's world: the doubles above in the dependency keys, the user defaults cleared, a
// window on screen, a virtual clock.
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
    std::shared_ptr<RecordingWindow> window = std::make_shared<RecordingWindow>(log);
    MainWindowController controller;
    std::shared_ptr<FakeAuthenticateClient> authenticate = std::make_shared<FakeAuthenticateClient>(log);
    std::shared_ptr<FakeRemoteSigningClient> remote = std::make_shared<FakeRemoteSigningClient>(log);
    std::shared_ptr<ScriptedFacade> facade = std::make_shared<ScriptedFacade>(log);
    std::shared_ptr<FakeSessionStore> store = std::make_shared<FakeSessionStore>(log);
    std::shared_ptr<sessiontest::FakePindleClient> reader = std::make_shared<sessiontest::FakePindleClient>();
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
