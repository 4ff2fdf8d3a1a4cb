#include "AppNavigationViewModel.h"

#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/ErrorCodeWrap.h"
#include "Quorvane/core/LaunchAgentService.h"
#include "Quorvane/core/QuorvaneAPIClient.h"
#include "Quorvane/core/SigningSessionDatabaseClient.h"
#include "api/Clients.h"
#include "cardbridge/PindleClient.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/qt/Localizable.h"

namespace {

using halcyra::HalcyraError;
using pindle::CardSigningEvent;
using Mode = CertificateRetrievalMode;

template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

}  // namespace

std::shared_ptr<AppNavigationViewModel> AppNavigationViewModel::make(
    AppOpenMode mode, std::shared_ptr<platform::Scheduler> scheduler,
    MainWindowController& mainWindowController) {
    std::shared_ptr<AppNavigationViewModel> model(
        new AppNavigationViewModel(std::move(mode), scheduler, mainWindowController));
    model->screen_ = model->makeScreen(model->navigationTarget_);
    model->flow_.post(*scheduler, [model] { model->start(); });
    return model;
}

AppNavigationViewModel::AppNavigationViewModel(AppOpenMode mode,
                                               std::shared_ptr<platform::Scheduler> scheduler,
                                               MainWindowController& mainWindowController)
    : mode_(std::move(mode)), scheduler_(std::move(scheduler)), mainWindowController_(mainWindowController) {}

void AppNavigationViewModel::setCurrentModalState(std::optional<ModalState> state) {
    if (currentModalState_->set(std::move(state)))
        notify();
}

void AppNavigationViewModel::setNavigationTarget(AppNavigationTarget target) {
    // Targets have no equality: every target is a new screen.
    navigationTarget_ = std::move(target);
    ++navigationTargetRevision_;
    screen_ = makeScreen(navigationTarget_);
    notify();
}

template <class Handler>
auto AppNavigationViewModel::weakly(Handler handler) {
    return [weak = weak_from_this(), handler](auto&&... arguments) {
        if (auto self = weak.lock())
            handler(*self, std::forward<decltype(arguments)>(arguments)...);
    };
}

std::function<void()> AppNavigationViewModel::windowCloser() const {
    return [scheduler = scheduler_, &controller = mainWindowController_] {
        scheduler->post([&controller] { controller.close(false); });
    };
}

AppNavigationViewModel::Screen AppNavigationViewModel::makeScreen(const AppNavigationTarget& target) {
    using Self = AppNavigationViewModel;
    return std::visit(
        Overloaded{
            [&](const AppNavigationTarget::AccountCreation& creation) -> Screen {
                auto context = creation.context;
                return std::make_shared<AccountCreationViewModel>(
                    context, weakly([context](Self& self, std::optional<AppError> error) {
                        self.handleAccountCreationCompleted(context, std::move(error));
                    }),
                    weakly([context](Self& self) { self.handleAccountCreationCancelled(context); }),
                    scheduler_, windowCloser());
            },
            [&](const AppNavigationTarget::AccountInfo& info) -> Screen {
                return std::make_shared<AccountInfoViewModel>(info.context, info.session, scheduler_,
                                                              windowCloser());
            },
            [&](const AppNavigationTarget::CardSelection& selection) -> Screen {
                auto sessionIdentifier = selection.sessionIdentifier;
                return std::make_shared<CardSelectionViewModel>(
                    selection.cardIdentifier, selection.initialCards,
                    weakly([sessionIdentifier](Self& self, std::shared_ptr<pindle::Card> card) {
                        self.handleCardSelected(std::move(card), sessionIdentifier);
                    }),
                    scheduler_, windowCloser());
            },
            [&](const AppNavigationTarget::CertificateRetrieval& retrieval) -> Screen {
                return std::make_shared<CertificateRetrievalViewModel>(
                    retrieval.context, retrieval.mode, weakly([](Self& self, std::optional<AppError> error) {
                        self.handleCertificateRetrievalCompleted(std::move(error));
                    }),
                    scheduler_);
            },
            [&](const AppNavigationTarget::Info& info) -> Screen {
                return std::make_shared<InfoViewModel>(info.message, info.isWaiting, windowCloser(),
                                                       info.isError, scheduler_);
            },
            [&](const AppNavigationTarget::Signing& signing) -> Screen {
                return std::make_shared<SigningViewModel>(
                    signing.request, weakly([](Self& self, std::optional<AppError> error) {
                        self.handleSigningCompleted(std::move(error));
                    }),
                    scheduler_, nullptr, windowCloser());
            },
            [&](const AppNavigationTarget::LaunchAgentInfo&) -> Screen {
                return std::make_shared<LaunchAgentServiceInfoViewModel>(
                    weakly([](Self& self) { self.restart(); }), nullptr, scheduler_, mainWindowController_);
            },
            [&](const AppNavigationTarget::MainMenu&) -> Screen {
                // Showing another mode replaces this model: the choice holds none.
                return std::make_shared<MenuViewModel>(
                    [&controller = mainWindowController_](AppOpenMode mode) { controller.show(mode); });
            },
            [&](const AppNavigationTarget::MethodSelection&) -> Screen {
                return makeMethodSelectionViewModel();
            },
            [&](const AppNavigationTarget::Settings&) -> Screen {
                return AppSettingsViewModel::make(weakly([](Self& self) { self.closeWindow(); }), scheduler_);
            },
        },
        target.value);
}

void AppNavigationViewModel::setCurrentCard(std::shared_ptr<pindle::Card> card) {
    setObserved(currentCard_, std::move(card));
}

void AppNavigationViewModel::setCurrentSigningReason(SigningReason::Kind reason) {
    setObserved(currentSigningReason_, SigningReason::of(reason));
}

void AppNavigationViewModel::showInfo(std::string message, bool isWaiting, bool isError) {
    setNavigationTarget(AppNavigationTarget::info(std::move(message), isWaiting, isError));
}

void AppNavigationViewModel::showError(const AppError& error) {
    showInfo(ErrorCodeWrap::errorText(error, _logger.get().get()), false, true);
}

halcyra::LevelOfAssurance AppNavigationViewModel::levelOfAssuranceForNewLogin() const {
    return _appSettings->hasOnboardedAtLeastOnce() ? halcyra::LevelOfAssurance::substantial
                                                   : halcyra::LevelOfAssurance::high;
}

// --- Start

void AppNavigationViewModel::start() {
    setCurrentSigningReason(mode_.is<AppOpenMode::AccountInfo>()
                                ? SigningReason::Kind::accountInfoAuthentication
                                : SigningReason::Kind::certificateRetrievalAuthentication);
    std::visit(
        Overloaded{
            [&](const AppOpenMode::GetCertificate&) {
                setNavigationTarget(AppNavigationTarget::methodSelection());
            },
            [&](const AppOpenMode::AccountInfo&) {
                setNavigationTarget(AppNavigationTarget::methodSelection());
            },
            [&](const AppOpenMode::Sign& sign) {
                // Signing needs the relay; anything short of enabled (waiting for the user's approval
                // too) asks the user first.
                setNavigationTarget(_launchAgentService->isServiceEnabled()
                                        ? AppNavigationTarget::signing(sign.request)
                                        : AppNavigationTarget::launchAgentInfo());
            },
            [&](const AppOpenMode::Menu&) { setNavigationTarget(AppNavigationTarget::mainMenu()); },
            [&](const AppOpenMode::Settings&) { setNavigationTarget(AppNavigationTarget::settings()); },
        },
        mode_.value);
}

void AppNavigationViewModel::restart() {
    flow_.post(*scheduler_, [self = shared_from_this()] { self->start(); });
}

// --- Method and card

void AppNavigationViewModel::handleMethodSelectionResult(AuthenticationMethodSelectionResult result) {
    if (flow_.hasEnded())
        return;
    if (result.kind == AuthenticationMethodSelectionResult::Kind::failure) {
        showError(*result.error);
        return;
    }
    showInfo("", true, false);
    flow_.post(*scheduler_, [self = shared_from_this(), context = *result.context] {
        self->startAuthentication(context);
    });
}

QCoro::Task<> AppNavigationViewModel::startAuthentication(AuthenticationContext context) {
    return startAuthentication(shared_from_this(), std::move(context));
}

QCoro::Task<> AppNavigationViewModel::startAuthentication(std::shared_ptr<AppNavigationViewModel> self,
                                                          AuthenticationContext context) {
    if (context.method == halcyra::AuthenticationMethod::wallet) {
        self->walletLevelOfAssurance_ = self->levelOfAssuranceForNewLogin();
        self->setCurrentModalState(ModalState::walletTracking(context.sessionId));
        co_return;
    }

    self->showInfo(L("Reading eID cards..."), true, false);
    auto cards = co_await self->flow_.step(self->_pindleClient->onlyCurrentCards());
    if (cards.size() == 1) {
        self->startValidation(SigningSessionContext::card(context.sessionId, cards.front()));
        co_return;
    }
    if (self->mode_ == AppOpenMode::getCertificate(false)) {
        // Every card present already has what the plug-in asked for: nothing to do.
        const bool usable = co_await self->flow_.step(self->_signingSessionDatabase->hasUsableCardSessions());
        if (usable) {
            self->closeWindow();
            co_return;
        }
    }
    self->setNavigationTarget(
        AppNavigationTarget::cardSelection(std::nullopt, std::move(cards), context.sessionId));
}

void AppNavigationViewModel::handleCardSelected(std::shared_ptr<pindle::Card> card,
                                                std::string sessionIdentifier) {
    if (flow_.hasEnded() || !card)
        return;
    startValidation(SigningSessionContext::card(std::move(sessionIdentifier), std::move(card)));
}

// --- Validation

void AppNavigationViewModel::startValidation(SigningSessionContext context) {
    flow_.post(*scheduler_, [self = shared_from_this(), context] { runValidation(self, context); });
}

QCoro::Task<> AppNavigationViewModel::runValidation(std::shared_ptr<AppNavigationViewModel> self,
                                                    SigningSessionContext context) {
    std::optional<HalcyraError> failure;
    try {
        co_await self->flow_.step(validateAccount(self, context));
    } catch (const HalcyraError& error) {
        failure = error;
    } catch (const std::exception& error) {
        // The server clients fail only with HalcyraError; anything else still ends on a message.
        failure = HalcyraError::otherError(error.what());
    }
    if (!failure)
        co_return;
    self->setCurrentModalState(std::nullopt);
    self->_signingSessionDatabase->purgeSession(context);
    std::string code = self->mode_.is<AppOpenMode::AccountInfo>() ? "401" : "201";
    if (failure->kind() == HalcyraError::Kind::backendError)
        code += '-' + std::to_string(failure->statusCode());
    auto logger = self->_logger.get();
    self->showInfo(ErrorCodeWrap::errorText(ErrorCodeCategory::backend, code,
                                            ErrorCodeWrap::message(*failure), logger.get()),
                   false, true);
}

QCoro::Task<> AppNavigationViewModel::validateAccount(std::shared_ptr<AppNavigationViewModel> self,
                                                      SigningSessionContext context) {
    self->showInfo(L("Validating account status..."), true, false);
    auto store = self->_signingSessionDatabase.get();
    if (auto session = store->activeSession(context, false)) {
        co_await self->flow_.step(checkAccountStatus(self, context, *session));
        co_return;
    }

    self->setCurrentCard(context.card());
    auto events = self->_quorvaneAPI->runAuthentication(context, self->mode_.is<AppOpenMode::AccountInfo>());
    auto logger = self->_logger.get();
    while (auto event = co_await self->flow_.step(events.next())) {
        switch (event->kind) {
            case AuthenticateFlowEvent::Kind::signingEvent: {
                const auto& cardEvent = *event->cardSigningEvent;
                if (cardEvent.kind == CardSigningEvent::Kind::failed) {
                    self->setCurrentModalState(std::nullopt);
                    logger->error("Signing with card failed, message: " + cardEvent.errorValue);
                    self->showInfo(
                        ErrorCodeWrap::errorText(ErrorCodeCategory::vexoConnect, cardEvent.errorCode,
                                                 L("Signing failed: %@", cardEvent.errorValue), logger.get()),
                        false, true);
                    // The card keeps a failed operation (a blocked card) open until its owner ends it.
                    if (const auto& card = context.card())
                        card->cancelOngoingOperation();
                } else if (cardEvent.kind == CardSigningEvent::Kind::failedBecauseOfCardRemoval) {
                    self->setCurrentModalState(std::nullopt);
                    logger->error("Signing with card failed, message: card removed");
                    self->showInfo(ErrorCodeWrap::errorText(ErrorCodeCategory::vexoConnect, "004",
                                                            L("eID card removed"), logger.get()),
                                   false, true);
                } else {
                    self->setCurrentModalState(ModalState::pinInput(cardEvent));
                }
                break;
            }
            case AuthenticateFlowEvent::Kind::error:
                throw *event->halcyraError;
            case AuthenticateFlowEvent::Kind::completed:
                self->setCurrentModalState(std::nullopt);
                co_await self->flow_.step(checkAccountStatus(self, context, *event->session));
                break;
            case AuthenticateFlowEvent::Kind::ongoing:
                self->setCurrentModalState(std::nullopt);
                break;
        }
    }
    self->setCurrentCard(nullptr);
}

QCoro::Task<> AppNavigationViewModel::checkAccountStatus(std::shared_ptr<AppNavigationViewModel> self,
                                                         SigningSessionContext context,
                                                         SigningSession session) {
    const auto details = co_await self->flow_.step(
        self->_remoteSigningAPIClient->getAccountStatus(session.orchestratorSessionId));
    auto settings = self->_appSettings.get();
    auto store = self->_signingSessionDatabase.get();

    if (!details.canSign) {
        // Not an error: the server's decision, shown with its reason. Sessions and tokens stay.
        const auto text = details.cannotSignReasonTextInCurrentLanguage().value_or(
            L("You are not eligible to have an online signing account"));
        self->showInfo(std::to_string(details.cannotSignReasonCode) + ": " + text, false, false);
        co_return;
    }

    if (details.status == halcyra::AccountStatus::active) {
        settings->setHasOnboardedAtLeastOnce(true);
        if (const auto* getCertificate = std::get_if<AppOpenMode::GetCertificate>(&self->mode_.value)) {
            self->setNavigationTarget(AppNavigationTarget::certificateRetrieval(
                context, getCertificate->showResult ? Mode::retrieveAndShow : Mode::retrieve));
        } else {
            auto updated = store->updateSessionHolder(context, details);
            self->setNavigationTarget(AppNavigationTarget::accountInfo(context, updated.value_or(session)));
        }
        co_return;
    }

    if (settings->hasOnboardedAtLeastOnce() && context.kind() == SigningSessionContext::Kind::wallet) {
        // The earlier login was of substantial assurance, too weak to create an account: log in again at
        // high.
        auto response = co_await self->flow_.step(self->_authenticateAPIClient->getAuthenticationMethods(
            store->clientData(), halcyra::LevelOfAssurance::high));
        settings->setHasOnboardedAtLeastOnce(false);
        self->setCurrentSigningReason(SigningReason::Kind::accountCreationAuthentication);
        self->walletLevelOfAssurance_ = halcyra::LevelOfAssurance::high;
        self->setCurrentModalState(ModalState::walletTracking(response.sessionId));
        co_return;
    }

    store->removeToken(context);
    store->updateSessionHolder(context, details);
    self->setNavigationTarget(AppNavigationTarget::accountCreation(context));
}

// --- Sheets

void AppNavigationViewModel::handlePinInputEnded(bool timedOut) {
    if (flow_.hasEnded())
        return;
    setCurrentModalState(std::nullopt);
    if (!timedOut) {
        closeWindow();
        return;
    }
    const char* digit = mode_.is<AppOpenMode::GetCertificate>() ? "2"
                        : mode_.is<AppOpenMode::Sign>()         ? "3"
                                                                : "4";
    auto logger = _logger.get();
    showInfo(ErrorCodeWrap::errorText(ErrorCodeCategory::app, std::string(digit) + "00",
                                      L("PIN input has timed out."), logger.get()),
             false, false);
}

void AppNavigationViewModel::handleWalletTrackingResult(WalletTrackingResult result) {
    if (flow_.hasEnded())
        return;
    setCurrentModalState(std::nullopt);
    if (result.kind == WalletTrackingResult::Kind::success)
        startValidation(SigningSessionContext::wallet(result.sessionId, result.pollingSessionId));
    else
        showError(*result.error);
}

void AppNavigationViewModel::walletQrCodeScanned() {
    if (flow_.hasEnded())
        return;
    // The wallet is in use for a new login: the session it had is gone with it.
    _signingSessionDatabase->purgeSession(SigningSessionContext::wallet("", ""));
}

void AppNavigationViewModel::handleWalletTrackingCancellation() {
    if (flow_.hasEnded())
        return;
    setCurrentModalState(std::nullopt);
    closeWindow();
}

QCoro::Task<WalletTrackingIdentifiers> AppNavigationViewModel::refreshWalletSession(std::string) {
    // A new session replaces the old one; its id is not needed for that.
    return refreshWalletSession(shared_from_this());
}

QCoro::Task<WalletTrackingIdentifiers> AppNavigationViewModel::refreshWalletSession(
    std::shared_ptr<AppNavigationViewModel> self) {
    // The same level as the session replaced: a login for account creation must stay at high.
    auto response = co_await self->_authenticateAPIClient->getAuthenticationMethods(
        self->_signingSessionDatabase->clientData(), self->walletLevelOfAssurance_);
    co_return WalletTrackingIdentifiers{response.sessionId, std::nullopt};
}

// --- Completions

void AppNavigationViewModel::handleAccountCreationCompleted(SigningSessionContext context,
                                                            std::optional<AppError> error) {
    if (flow_.hasEnded())
        return;
    if (error) {
        _signingSessionDatabase->purgeSession(context);
        showError(*error);
        return;
    }
    _appSettings->setHasOnboardedAtLeastOnce(true);
    if (mode_ == AppOpenMode::getCertificate(true)) {
        setNavigationTarget(AppNavigationTarget::certificateRetrieval(context, Mode::showOnly));
    } else if (mode_ == AppOpenMode::getCertificate(false)) {
        closeWindow();
    } else {
        // The account is active now: validating again leads to the account information.
        mode_ = AppOpenMode::accountInfo();
        startValidation(context);
    }
}

void AppNavigationViewModel::handleAccountCreationCancelled(SigningSessionContext context) {
    if (flow_.hasEnded())
        return;
    _signingSessionDatabase->purgeSession(context);
    closeWindow();
}

void AppNavigationViewModel::handleSigningCompleted(std::optional<AppError> error) {
    if (flow_.hasEnded())
        return;
    if (error)
        showError(*error);
    else
        closeWindow();
}

void AppNavigationViewModel::handleCertificateRetrievalCompleted(std::optional<AppError> error) {
    if (flow_.hasEnded())
        return;
    if (!error) {
        closeWindow();
        return;
    }
    _signingSessionDatabase->purgeExpiredSessionsAndTokens();
    showError(*error);
}

std::shared_ptr<AuthenticationMethodSelectionViewModel>
AppNavigationViewModel::makeMethodSelectionViewModel() {
    std::string title;
    std::optional<std::string> doneButtonText;
    bool validateAuthenticatedAccounts = false;
    if (mode_ == AppOpenMode::getCertificate(false)) {
        title = L("Means selection certificate creation");
        doneButtonText = L("Use existing certificate");
        validateAuthenticatedAccounts = true;
    } else if (mode_ == AppOpenMode::getCertificate(true)) {
        title = L("Means selection certificate creation");
    } else if (mode_.is<AppOpenMode::AccountInfo>()) {
        title = L("Account information");
    }
    return std::make_shared<AuthenticationMethodSelectionViewModel>(
        std::move(title), std::move(doneButtonText), validateAuthenticatedAccounts,
        weakly([](AppNavigationViewModel& self, AuthenticationMethodSelectionResult result) {
            self.handleMethodSelectionResult(std::move(result));
        }),
        scheduler_, windowCloser());
}

// --- Window

void AppNavigationViewModel::closeWindow() {
    // By the time the close runs the window may show another navigation: this one's close is then stale.
    scheduler_->post([weak = weak_from_this(), &controller = mainWindowController_] {
        if (auto self = weak.lock(); self && !self->flow_.hasEnded())
            controller.close(false);
    });
}

void AppNavigationViewModel::end() {
    if (!flow_.end())
        return;
    // The screen's model goes with its widget: a page watching on (the launch-agent page) would act for a
    // window that has moved on.
    screen_ = Screen{};
    // A card left waiting for a PIN that no sheet asks for any more would hold the reader until its own
    // time limit.
    if (currentCard_ && currentModalState() && currentModalState()->pinInputEvent())
        currentCard_->cancelOngoingOperation();
}
