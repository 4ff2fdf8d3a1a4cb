#include "NavigationTestSupport.h"

#include <QCoreApplication>

#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/AppVersions.h"
#include "Quorvane/shell/AppNavigationView.h"
#include "platform/qt/UserDefaults.h"

namespace navtest {

namespace {

std::string levelText(LevelOfAssurance level) {
    return std::string(halcyra::rawValue(level));
}

HalcyraError unused() {
    return HalcyraError::otherError("not used by the navigation");
}

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

QCoro::Task<halcyra::AuthenticationMethodsResponse> FakeAuthenticateClient::getAuthenticationMethods(
    std::string loggingIdentifier, LevelOfAssurance levelOfAssurance) {
    log_->add("getMeans " + loggingIdentifier + " " + levelText(levelOfAssurance));
    if (auto error = std::exchange(meansError, std::nullopt))
        throw *error;
    halcyra::AuthenticationMethodsResponse response;
    response.sessionId = "session-" + std::to_string(++sessions_);
    response.methods = {{halcyra::AuthenticationMethod::eid, false},
                        {halcyra::AuthenticationMethod::wallet, false}};
    co_return response;
}

QCoro::Task<halcyra::AuthenticationMethodDataResponse> FakeAuthenticateClient::getAuthenticationMethodData(
    halcyra::AuthenticationMethod, std::string) {
    throw unused();
    co_return halcyra::AuthenticationMethodDataResponse{};
}

QCoro::Task<halcyra::AuthenticateResult> FakeAuthenticateClient::authenticate(halcyra::AuthenticateRequest) {
    throw unused();
    co_return halcyra::AuthenticateResult{};
}

halcyra::AccountStatusDetails FakeRemoteSigningClient::activeAccount() {
    halcyra::AccountStatusDetails details{};
    details.status = halcyra::AccountStatus::active;
    details.firstName = "Ann";
    details.lastName = "Peeters";
    details.rrnr = "71715100070";
    details.canSign = true;
    return details;
}

QCoro::Task<halcyra::AccountStatusDetails> FakeRemoteSigningClient::getAccountStatus(
    std::string authSessionId) {
    log_->add("getAccountStatus " + authSessionId);
    if (statusError)
        throw *statusError;
    auto reply = status;
    co_return reply;
}

QCoro::Task<halcyra::SigningInfoDetails> FakeRemoteSigningClient::getSignatureInfo(std::string) {
    throw unused();
    co_return halcyra::SigningInfoDetails{};
}

QCoro::Task<void> FakeRemoteSigningClient::deleteAccount(std::string, std::string) {
    throw unused();
    co_return;
}

QCoro::Task<halcyra::GetDataToConsentResponse> FakeRemoteSigningClient::getDataToConsent(
    halcyra::GetDataToConsentRequest) {
    throw unused();
    co_return halcyra::GetDataToConsentResponse{};
}

QCoro::Task<halcyra::ConsentAndSignHashesResponse> FakeRemoteSigningClient::consentAndSignHashes(
    halcyra::ConsentAndSignHashesRequest) {
    throw unused();
    co_return halcyra::ConsentAndSignHashesResponse{};
}

platform::AsyncStream<AuthenticateFlowEvent> ScriptedFacade::runAuthentication(SigningSessionContext context,
                                                                               bool retrieveCertificate) {
    log_->add("runAuthentication " + context.tokenIdentifier() + " " + context.sessionId() +
              (retrieveCertificate ? " retrieving" : ""));
    auto [stream, continuation] = platform::AsyncStream<AuthenticateFlowEvent>::make();
    for (const auto& event : script)
        continuation.yield(event);
    if (keepOpen)
        open = continuation;
    else
        continuation.finish();
    return stream;
}

void FakeSessionStore::purgeSession(const SigningSessionContext& context) {
    log_->add("purgeSession " + context.tokenIdentifier());
}

void FakeSessionStore::purgeExpiredSessionsAndTokens() {
    log_->add("purgeExpiredSessionsAndTokens");
}

std::optional<SigningSession> FakeSessionStore::activeSession(const SigningSessionContext&, bool forSigning) {
    if (forSigning)
        log_->add("activeSession for signing");
    return storedSession;
}

QCoro::Task<bool> FakeSessionStore::hasUsableCardSessions() {
    log_->add("hasUsableCardSessions");
    co_return usableCardSessions;
}

void FakeSessionStore::removeToken(const SigningSessionContext& context) {
    log_->add("removeToken " + context.tokenIdentifier());
}

SigningSession FakeSessionStore::registerSession(const SigningSessionContext&, platform::Date) {
    throw std::logic_error("the navigation registers no session");
}

std::optional<SigningSession> FakeSessionStore::updateSessionHolder(
    const SigningSessionContext& context, const halcyra::AccountStatusDetails& details) {
    log_->add("updateSessionHolder " + context.tokenIdentifier());
    if (!storedSession)
        return std::nullopt;
    auto updated = *storedSession;
    updated.firstName = details.firstName;
    updated.lastName = details.lastName;
    updated.nationalRegisterNumber = details.rrnr;
    return updated;
}

void RecordingWindow::close() {
    if (!visible)
        return;
    if (willClose)
        willClose();
    visible = false;
    log_->add("window closed");
}

NavigationRig::NavigationRig() {
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
    int count = 0;
    for (const auto& line : log->lines)
        count += line == "window closed";
    return count;
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
    return std::make_shared<RecordingCard>(id, log);
}

SigningSession session(const std::string& tokenIdentifier, const std::string& serverSession) {
    SigningSession session;
    session.internalSessionId = tokenIdentifier;
    session.orchestratorSessionId = serverSession;
    session.expirationTimeInterval = 1e9;
    return session;
}

}  // namespace navtest
