#include "AccountCreationViewModel.h"

#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/ErrorCodeWrap.h"
#include "Quorvane/core/MainWindowController.h"
#include "outside/Common/Common.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/Codecs.h"
#include "platform/qt/Localizable.h"

namespace {

using halcyra::HalcyraError;
using pindle::CardSigningEvent;
using platform::Bytes;

const char* const networkErrorMessage = "Network error, please verify your internet connection.";

// Sheets of these kinds are updated in place by a new state of the same kind.
bool updatesInPlace(const AccountCreationModalState& shown, const AccountCreationModalState& next) {
    using Kind = AccountCreationModalState::Kind;
    return shown.kind() == next.kind() &&
           (next.kind() == Kind::pinInput || next.kind() == Kind::walletTracking);
}

// What a step that failed threw: a server error, or the error that ends the flow.
struct Failure {
    std::optional<HalcyraError> server;
    std::optional<AppError> app;
};

}  // namespace

AccountCreationViewModel::AccountCreationViewModel(SigningSessionContext context,
                                                   Completed accountCreationCompleted,
                                                   std::function<void()> accountCreationCancelled,
                                                   std::shared_ptr<platform::Scheduler> scheduler,
                                                   std::function<void()> closeWindow)
    : context_(std::move(context)),
      accountCreationCompleted_(std::move(accountCreationCompleted)),
      accountCreationCancelled_(std::move(accountCreationCancelled)),
      scheduler_(std::move(scheduler)),
      closeWindow_(closeWindow ? std::move(closeWindow)
                               : [] { MainWindowController::shared().close(false); }),
      onboardingAPIClient_(Dependency<OnboardingAPIClientKey>().get()),
      logger_(Dependency<LoggerClientKey>().get()) {
    willCloseObservation_ = platform::NotificationCenter::defaultCenter().addObserver(
        MainWindowController::mainWindowWillCloseNotification, [this] {
            // The observation goes with the model; the handler keeps it for the rest of the call.
            if (auto self = weak_from_this().lock())
                self->end();
        });
}

AccountCreationViewModel::~AccountCreationViewModel() = default;

// --- Observed state

void AccountCreationViewModel::setCurrentModalState(std::optional<ModalState> state) {
    ++modalStateGeneration_;
    if (currentModalState_->set(std::move(state)))
        notify();
}

void AccountCreationViewModel::setCurrentStep(AccountCreationStep step) {
    setObserved(currentStep_, std::move(step));
}

void AccountCreationViewModel::setStopAllowed(bool allowed) {
    setObserved(stopAllowed_, allowed);
}

void AccountCreationViewModel::setModalState(std::optional<ModalState> state) {
    if (flow_.hasEnded())
        return;
    const auto& shown = currentModalState_->value();
    if (!state || !shown || updatesInPlace(*shown, *state)) {
        setCurrentModalState(std::move(state));
        return;
    }
    // The sheet shown goes first; the next one follows once the gap has passed, unless another state has been
    // set meanwhile (it is newer, and stays).
    setCurrentModalState(std::nullopt);
    const auto generation = modalStateGeneration_;
    scheduler_->scheduleOnce(modalStateGap,
                             [self = shared_from_this(), generation, state = std::move(*state)] {
                                 if (!self->flow_.hasEnded() && self->modalStateGeneration_ == generation)
                                     self->setCurrentModalState(state);
                             });
}

// --- The pages and sheets

std::shared_ptr<AccountCreationDisclaimerViewModel> AccountCreationViewModel::makeDisclaimerViewModel() {
    std::weak_ptr<AccountCreationViewModel> weak = weak_from_this();
    return std::make_shared<AccountCreationDisclaimerViewModel>(
        AccountCreationDisclaimerViewModel{[weak] {
                                               if (auto self = weak.lock())
                                                   self->showTermsAndConditions();
                                           },
                                           [weak] {
                                               if (auto self = weak.lock())
                                                   self->stop();
                                           }});
}

std::shared_ptr<AccountCreationConditionsViewModel> AccountCreationViewModel::makeConditionsViewModel() {
    std::weak_ptr<AccountCreationViewModel> weak = weak_from_this();
    return std::make_shared<AccountCreationConditionsViewModel>(false, [weak] {
        if (auto self = weak.lock())
            self->showIdentityVerification();
    });
}

const std::shared_ptr<AccountCreationIdentityValidationViewModel>&
AccountCreationViewModel::identityValidationViewModel() {
    if (!identityValidationViewModel_) {
        std::weak_ptr<AccountCreationViewModel> weak = weak_from_this();
        identityValidationViewModel_ =
            std::make_shared<AccountCreationIdentityValidationViewModel>(false, context_, [weak] {
                if (auto self = weak.lock())
                    self->retrieveAgreement();
            });
    }
    return identityValidationViewModel_;
}

std::shared_ptr<AccountCreationSubscriberAgreementViewModel>
AccountCreationViewModel::makeSubscriberAgreementViewModel() {
    const auto* agreement = std::get_if<AccountCreationStep::SubscriberAgreement>(&currentStep_.value);
    if (!agreement)
        return nullptr;
    std::weak_ptr<AccountCreationViewModel> weak = weak_from_this();
    // "Confirm" is enabled while the user may confirm: not while the agreement is being signed.
    return std::make_shared<AccountCreationSubscriberAgreementViewModel>(!stopAllowed_, agreement->pdfData,
                                                                         [weak] {
                                                                             if (auto self = weak.lock())
                                                                                 self->confirmAgreement();
                                                                         });
}

std::shared_ptr<InfoViewModel> AccountCreationViewModel::makeInfoViewModel(
    const ModalState::Waiting& waiting) {
    return std::make_shared<InfoViewModel>(
        waiting.message, waiting.isWaiting && !waiting.isTerminal,
        [self = shared_from_this(), closeWindow = waiting.isTerminal] { self->infoConfirmed(closeWindow); },
        false, scheduler_);
}

std::shared_ptr<CertificateRetrievalViewModel> AccountCreationViewModel::makeCertificateRetrievalViewModel() {
    std::weak_ptr<AccountCreationViewModel> weak = weak_from_this();
    return std::make_shared<CertificateRetrievalViewModel>(
        context_, CertificateRetrievalMode::retrieve,
        [weak](std::optional<AppError> error) {
            if (auto self = weak.lock())
                self->certificateRetrievalCompleted(error);
        },
        scheduler_);
}

// --- Pages

void AccountCreationViewModel::showTermsAndConditions() {
    if (!flow_.hasEnded())
        setCurrentStep(AccountCreationStep::termsAndConditionsAgreement());
}

void AccountCreationViewModel::showIdentityVerification() {
    if (!flow_.hasEnded())
        setCurrentStep(AccountCreationStep::identityVerification());
}

void AccountCreationViewModel::stop() {
    if (flow_.hasEnded())
        return;
    finish();
    // The owner may release the model: call a copy.
    if (auto cancelled = accountCreationCancelled_)
        cancelled();
}

void AccountCreationViewModel::retrieveAgreement() {
    if (flow_.hasEnded())
        return;
    setModalState(ModalState::waiting(L("Retrieving agreement..."), true, false));
    flow_.post(*scheduler_, [self = shared_from_this()] { retrieveAgreement(self); });
}

QCoro::Task<> AccountCreationViewModel::retrieveAgreement(Self self) {
    std::optional<Bytes> document;
    std::optional<HalcyraError> failure;
    try {
        // Named first: GCC 12 destroys a braced temporary of a co_await expression twice.
        halcyra::GetAgreementFileRequest request{self->context_.sessionId(), "en"};
        document =
            co_await self->flow_.step(self->onboardingAPIClient_->getAgreementFile(std::move(request)));
    } catch (const HalcyraError& error) {
        failure = error;
    } catch (const std::exception& error) {
        // Not expected of the client; the flow must still end.
        failure = HalcyraError::otherError(error.what());
    }
    if (document) {
        self->setCurrentModalState(std::nullopt);
        self->setCurrentStep(AccountCreationStep::subscriberAgreement(std::move(*document)));
        co_return;
    }
    if (failure->kind() == HalcyraError::Kind::networkError) {
        // The identity page stays: confirming it again fetches the agreement again.
        self->setModalState(ModalState::waiting(L(networkErrorMessage), false, false));
        co_return;
    }
    self->setCurrentModalState(std::nullopt);
    self->complete(AppError(ErrorCodeCategory::backend, ErrorCodeSourceFlow::onboarding, "00",
                            ErrorCodeWrap::message(*failure), *failure));
}

void AccountCreationViewModel::infoConfirmed(bool closeWindow) {
    if (flow_.hasEnded())
        return;
    setCurrentModalState(std::nullopt);
    if (closeWindow)
        scheduler_->post([closeWindow = closeWindow_] { closeWindow(); });
}

// --- Agreement signing

halcyra::ConfirmUserDataRequest AccountCreationViewModel::confirmUserDataRequest() const {
    return {context_.sessionId(), "en", "UserAgreement.pdf"};
}

void AccountCreationViewModel::confirmAgreement() {
    if (flow_.hasEnded())
        return;
    setStopAllowed(false);
    setModalState(ModalState::waiting(L("Signing agreement..."), true, false));
    flow_.post(*scheduler_, [self = shared_from_this()] { signAgreement(self); });
}

QCoro::Task<> AccountCreationViewModel::signAgreement(Self self) {
    Failure failure;
    try {
        // The session id alone authorises account calls: the log names it by its tag.
        self->logger_->info("Fetching onboarding data for " + sessionTag(self->context_.sessionId()));
        auto data = co_await self->flow_.step(
            self->onboardingAPIClient_->confirmUserData(self->confirmUserDataRequest()));
        co_await self->flow_.step(processOnboardingData(self, std::move(data)));
    } catch (const HalcyraError& error) {
        failure.server = error;
    } catch (const AppError& error) {
        failure.app = error;
    } catch (const std::exception& error) {
        failure.server = HalcyraError::otherError(error.what());
    }
    if (failure.server) {
        self->handleAPIError(*failure.server);
    } else if (failure.app) {
        self->setCurrentModalState(std::nullopt);
        self->complete(std::move(failure.app));
    }
}

QCoro::Task<> AccountCreationViewModel::processOnboardingData(Self self, halcyra::OnboardingData data) {
    self->onboardingSessionId_ = data.onboardingSessionId;
    if (self->context_.kind() == SigningSessionContext::Kind::wallet) {
        std::optional<std::string> pollingSessionId;
        if (data.wallet)
            pollingSessionId = data.wallet->pollSessionId;
        self->setModalState(
            ModalState::walletTracking(self->context_.sessionId(), std::move(pollingSessionId)));
        co_return;
    }
    Bytes hash;
    if (data.eid)
        hash = platform::base64URLDecoded(data.eid->hashToSign).value_or(Bytes{});
    co_await self->flow_.step(signAgreementWithCard(self, std::move(hash), self->context_.card()));
}

QCoro::Task<> AccountCreationViewModel::signAgreementWithCard(Self self, Bytes hash,
                                                              std::shared_ptr<pindle::Card> card) {
    auto events = card->sign(hash);
    self->cardOperationRunning_ = true;
    // A failure ends the flow: the card may keep a failed operation (a blocked card) open until it is ended.
    auto fail = [&](AppError error) {
        self->cardOperationRunning_ = false;
        card->cancelOngoingOperation();
        throw error;
    };
    while (auto event = co_await self->flow_.step(events.next())) {
        switch (event->kind) {
            case CardSigningEvent::Kind::pinRequested:
            case CardSigningEvent::Kind::wrongPin:
            case CardSigningEvent::Kind::waitingForHarwarePinInput:
            case CardSigningEvent::Kind::failedButCouldBeCancelledOrWrongPin:
                self->setModalState(ModalState::pinInput(*event));
                break;
            case CardSigningEvent::Kind::failed:
                fail(AppError(ErrorCodeCategory::vexoConnect, std::nullopt, event->errorCode,
                              event->errorValue, std::nullopt));
                break;
            case CardSigningEvent::Kind::failedBecauseOfCardRemoval:
                fail(AppError(ErrorCodeCategory::vexoConnect, std::nullopt, "004", L("eID card removed"),
                              std::nullopt));
                break;
            case CardSigningEvent::Kind::finished:
                self->cardOperationRunning_ = false;
                co_await self->flow_.step(sendSignedAgreement(self, event->signature, card));
                break;
        }
    }
    // A stream that ends without a signature (the PIN sheet cancelled it) leaves the flow to the sheet's
    // outcome.
    self->cardOperationRunning_ = false;
}

QCoro::Task<> AccountCreationViewModel::sendSignedAgreement(Self self, Bytes signature,
                                                            std::shared_ptr<pindle::Card> card) {
    self->setModalState(ModalState::waiting(L("Sending signed agreement..."), true, false));
    halcyra::SignAgreementRequest request(
        self->onboardingSessionId_,
        halcyra::SignAgreementRequest::EID{platform::base64Encoded(card->certificateData()),
                                           platform::base64Encoded(signature)});
    co_await self->flow_.step(self->onboardingAPIClient_->signAgreement(std::move(request)));
    self->setModalState(ModalState::retrievingCertificate());
}

void AccountCreationViewModel::walletTrackingCompleted(WalletTrackingResult result) {
    if (flow_.hasEnded())
        return;
    setCurrentModalState(std::nullopt);
    if (result.kind == WalletTrackingResult::Kind::failure) {
        complete(std::move(result.error));
        return;
    }
    setModalState(ModalState::waiting(L("Sending signed agreement..."), true, false));
    flow_.post(*scheduler_,
               [self = shared_from_this(), pollingSessionId = std::move(result.pollingSessionId)] {
                   sendWalletAgreement(self, pollingSessionId);
               });
}

QCoro::Task<> AccountCreationViewModel::sendWalletAgreement(Self self, std::string pollingSessionId) {
    std::optional<HalcyraError> failure;
    try {
        halcyra::SignAgreementRequest request(
            self->onboardingSessionId_, halcyra::SignAgreementRequest::Wallet{std::move(pollingSessionId)});
        co_await self->flow_.step(self->onboardingAPIClient_->signAgreement(std::move(request)));
    } catch (const HalcyraError& error) {
        failure = error;
    } catch (const std::exception& error) {
        failure = HalcyraError::otherError(error.what());
    }
    if (failure)
        self->handleAPIError(*failure);
    else
        self->setModalState(ModalState::retrievingCertificate());
}

void AccountCreationViewModel::handleAPIError(const HalcyraError& error) {
    if (error.kind() == HalcyraError::Kind::networkError) {
        // The progress message stays a moment; the agreement page may then be confirmed again. A message
        // still waiting for its gap belongs to the step that failed: it is dropped.
        setStopAllowed(true);
        const auto generation = ++modalStateGeneration_;
        scheduler_->scheduleOnce(networkErrorDelay, [self = shared_from_this(), generation] {
            if (self->modalStateGeneration_ == generation)
                self->setModalState(ModalState::waiting(L(networkErrorMessage), false, false));
        });
        return;
    }
    setCurrentModalState(std::nullopt);
    complete(AppError(ErrorCodeCategory::backend, ErrorCodeSourceFlow::onboarding, "01",
                      ErrorCodeWrap::message(error), error));
}

void AccountCreationViewModel::pinInputCancelled(bool timedOut) {
    if (flow_.hasEnded())
        return;
    if (timedOut)
        setModalState(ModalState::waiting(L("PIN input has timed out."), false, false));
    else
        setCurrentModalState(std::nullopt);
    // Either way the user is back on the agreement page, free to confirm it again or to stop.
    setStopAllowed(true);
}

void AccountCreationViewModel::sheetCancelled() {
    if (flow_.hasEnded())
        return;
    setCurrentModalState(std::nullopt);
    setStopAllowed(true);
}

QCoro::Task<WalletTrackingIdentifiers> AccountCreationViewModel::refreshWalletOnboarding() {
    return refreshWalletOnboarding(shared_from_this());
}

QCoro::Task<WalletTrackingIdentifiers> AccountCreationViewModel::refreshWalletOnboarding(Self self) {
    auto data = co_await self->onboardingAPIClient_->confirmUserData(self->confirmUserDataRequest());
    // The sheet gets its new code even when the flow has ended meanwhile; the flow keeps nothing then.
    if (!self->flow_.hasEnded())
        self->onboardingSessionId_ = data.onboardingSessionId;
    std::optional<std::string> pollingSessionId;
    if (data.wallet)
        pollingSessionId = data.wallet->pollSessionId;
    co_return WalletTrackingIdentifiers{self->context_.sessionId(), std::move(pollingSessionId)};
}

void AccountCreationViewModel::certificateRetrievalCompleted(std::optional<AppError> error) {
    if (flow_.hasEnded())
        return;
    setCurrentModalState(std::nullopt);
    complete(std::move(error));
}

// --- Ending

void AccountCreationViewModel::finish() {
    if (!flow_.end())
        return;
    ++modalStateGeneration_;
    // A card left waiting for a PIN that nobody asks for any more would hold the reader.
    if (std::exchange(cardOperationRunning_, false))
        context_.card()->cancelOngoingOperation();
}

void AccountCreationViewModel::complete(std::optional<AppError> error) {
    if (flow_.hasEnded())
        return;
    finish();
    // The owner may release the model: call a copy.
    if (auto completed = accountCreationCompleted_)
        completed(std::move(error));
}

void AccountCreationViewModel::end() {
    if (flow_.hasEnded())
        return;
    finish();
    setCurrentModalState(std::nullopt);
}
