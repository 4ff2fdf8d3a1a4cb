#include "NavigationTestSupport.h"

#include <QCoreApplication>

#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/AppVersions.h"
#include "Quorvane/shell/AppNavigationView.h"
#include "platform/qt/UserDefaults.h"

namespace navtest {

namespace {

std::string eventKind(CardSigningEvent::Kind kind) {
    switch (kind) {
        case CardSigningEvent::Kind::pinRequested:
            return "pinRequested";
        case CardSigningEvent::Kind::wrongPin:
            return "wrongPin";
        case CardSigningEvent::Kind::failed:
            return "failed";
        case CardSigningEvent::Kind::finished:
            return "finished";
        case CardSigningEvent::Kind::waitingForHarwarePinInput:
            return "waitingForHarwarePinInput";
        case CardSigningEvent::Kind::failedButCouldBeCancelledOrWrongPin:
            return "failedButCouldBeCancelledOrWrongPin";
        case CardSigningEvent::Kind::failedBecauseOfCardRemoval:
            return "failedBecauseOfCardRemoval";
    }
    return "?";
}

std::string retrievalMode(CertificateRetrievalMode mode) {
    switch (mode) {
        case CertificateRetrievalMode::retrieve:
            return "retrieve";
        case CertificateRetrievalMode::retrieveAndShow:
            return "retrieveAndShow";
        case CertificateRetrievalMode::showOnly:
            return "showOnly";
    }
    return "?";
}

}  // namespace

NavigationRig::NavigationRig() {
    log->ignores = [](const std::string& line) {
        return line == "clientData" || line == "authenticatedSessions" ||
               line.starts_with("signingCertificateInfo ") ||
               (line.starts_with("activeSession ") && !line.ends_with(" for signing")) ||
               line == "window to front";
    };
    authenticate->log = log;
    remote->log = log;
    facade->script.emplace();
    DependencyValues::shared().reset();
    platform::UserDefaults::standard().clear();
    settings = std::make_shared<AppSettings>();
    Dependency<AppSettingsKey>().set(settings);
    Dependency<AuthenticateAPIClientKey>().set(authenticate);
    Dependency<RemoteSigningAPIClientKey>().set(remote);
    Dependency<QuorvaneAPIKey>().set(facade);
    Dependency<SigningSessionDatabaseKey>().set(store);
    Dependency<PindleClientKey>().set(reader);
    Dependency<LaunchAgentServiceKey>().set(launchAgent);
    Dependency<XPCClientKey>().set(xpc);
    // The method-selection screen checks for updates: against a document of the app's, never the network.
    Dependency<AppVersionsKey>().set(std::make_shared<AppVersions>(AppVersionsFileLocation::testNoUpdate));
    controller.window = window;
    window->willClose = [this] { controller.windowWillClose(); };
}

NavigationRig::~NavigationRig() {
    facade->open.reset();
    settle();
    controller.window.reset();
    DependencyValues::shared().reset();
}

std::shared_ptr<AppNavigationViewModel> NavigationRig::make(AppOpenMode mode) {
    auto model = AppNavigationViewModel::make(std::move(mode), scheduler, controller);
    settle();
    return model;
}

void NavigationRig::settle() {
    // Stream events reach their reader through the event loop, posted work through the virtual clock; each
    // may lead to more of the other.
    for (int round = 0; round < 50; ++round) {
        scheduler->runPending();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

int NavigationRig::closes() const {
    return static_cast<int>(log->starting("window closed").size());
}

MainWindow& NavigationRig::useMainWindow() {
    controller.window.reset();
    controller.makeWindow = [this] {
        return std::make_shared<MainWindow>([this](const AppOpenMode& mode) {
            return new AppNavigationView(AppNavigationViewModel::make(mode, scheduler, controller));
        });
    };
    controller.show(AppOpenMode::menu());
    settle();
    return *mainWindow();
}

MainWindow* NavigationRig::mainWindow() const {
    return dynamic_cast<MainWindow*>(controller.window.get());
}

std::string headline(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

std::string describe(const AppNavigationTarget& target) {
    if (const auto* info = target.as<AppNavigationTarget::Info>())
        return "info '" + headline(info->message) + "'" + (info->isWaiting ? " waiting" : "") +
               (info->isError ? " error" : "");
    if (const auto* selection = target.as<AppNavigationTarget::CardSelection>())
        return "cardSelection " + std::to_string(selection->initialCards.size()) + " cards " +
               selection->sessionIdentifier + (selection->cardIdentifier ? " wanted" : "");
    if (const auto* retrieval = target.as<AppNavigationTarget::CertificateRetrieval>())
        return "certificateRetrieval " + retrieval->context.tokenIdentifier() + " " +
               retrievalMode(retrieval->mode);
    if (const auto* creation = target.as<AppNavigationTarget::AccountCreation>())
        return "accountCreation " + creation->context.tokenIdentifier();
    if (const auto* info = target.as<AppNavigationTarget::AccountInfo>())
        return "accountInfo " + info->context.tokenIdentifier() + " " + info->session.firstName.value_or("-");
    if (const auto* signing = target.as<AppNavigationTarget::Signing>())
        return "signing " + AppOpenMode::sign(signing->request).description();
    if (target.is<AppNavigationTarget::LaunchAgentInfo>())
        return "launchAgentInfo";
    if (target.is<AppNavigationTarget::MainMenu>())
        return "mainMenu";
    if (target.is<AppNavigationTarget::MethodSelection>())
        return "methodSelection";
    return "settings";
}

std::string describe(const std::optional<AppNavigationViewModalState>& state) {
    if (!state)
        return "none";
    if (const auto* event = state->pinInputEvent())
        return "pinInput " + eventKind(event->kind);
    return "walletTracking " + *state->walletTrackingSessionId();
}

std::shared_ptr<pindle::Card> card(const std::string& id, const std::shared_ptr<Log>& log) {
    return std::make_shared<testsupport::FakeCard>(id, log);
}

SigningSession session(const std::string& tokenIdentifier, const std::string& serverSession) {
    SigningSession session;
    session.internalSessionId = tokenIdentifier;
    session.orchestratorSessionId = serverSession;
    session.expirationTimeInterval = 1e9;
    return session;
}

}  // namespace navtest
