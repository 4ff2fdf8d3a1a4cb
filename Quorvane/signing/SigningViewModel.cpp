#include "SigningViewModel.h"

#include <algorithm>

#include "Quorvane/core/CardDataToSign.h"
#include "Quorvane/core/ErrorCodeWrap.h"
#include "Quorvane/core/LaunchAgentService.h"
#include "Quorvane/core/MainWindowController.h"
#include "Quorvane/core/QuorvaneAPIClient.h"
#include "Quorvane/core/SigningSessionDatabaseClient.h"
#include "Quorvane/core/XPCClient.h"
#include "api/Clients.h"
#include "cardbridge/PindleClient.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/Codecs.h"
#include "platform/Workspace.h"
#include "platform/qt/Localizable.h"

namespace {

using halcyra::HalcyraError;
using pindle::CardSigningEvent;
using platform::Bytes;

// Where a log line names the card's failure, a no-break space follows the colon.
const std::string cardSignatureFailure = "Could not sign hash with card:\u00A0";

Bytes firstBytes(Bytes bytes, std::size_t count) {
    if (bytes.size() > count)
        bytes.resize(count);
    return bytes;
}

std::optional<std::string> callbackLinkOf(const SigningRequestType& request) {
    const auto* bulk = std::get_if<SigningRequestType::Bulk>(&request.value);
    return bulk ? std::optional(bulk->callbackLink) : std::nullopt;
}

}  // namespace

SigningViewModel::SigningViewModel(SigningRequestType requestType, Completed completed,
                                   std::shared_ptr<platform::Scheduler> scheduler, URLOpener openURL,
                                   std::function<void()> closeWindow)
    : requestType_(std::move(requestType)),
      completed_(std::move(completed)),
      scheduler_(std::move(scheduler)),
      closeWindow_(std::move(closeWindow)),
      authenticateAPIClient_(Dependency<AuthenticateAPIClientKey>().get()),
      quorvaneAPI_(Dependency<QuorvaneAPIKey>().get()),
      pindleClient_(Dependency<PindleClientKey>().get()),
      launchAgentService_(Dependency<LaunchAgentServiceKey>().get()),
      logger_(Dependency<LoggerClientKey>().get()),
      remoteSigningAPIClient_(Dependency<RemoteSigningAPIClientKey>().get()),
      signingSessionDatabase_(Dependency<SigningSessionDatabaseKey>().get()),
      xpcClient_(Dependency<XPCClientKey>().get()),
      delivery_(callbackLinkOf(requestType_), xpcClient_, logger_,
                openURL ? std::move(openURL) : URLOpener(&platform::Workspace::open)) {
    page_ = makePage();
    willCloseObservation_ = platform::NotificationCenter::defaultCenter().addObserver(
        MainWindowController::mainWindowWillCloseNotification, [this] {
            // The observation goes with the model; the handler keeps it for the rest of the call.
            if (auto self = weak_from_this().lock())
                self->mainWindowWillClose();
        });
}

// --- Observed state

void SigningViewModel::setCurrentModalState(std::optional<ModalState> state) {
    if (currentModalState_->set(std::move(state)))
        notify();
}

void SigningViewModel::setCurrentCard(std::shared_ptr<pindle::Card> card) {
    currentCard_ = std::move(card);
    notify();
}

void SigningViewModel::setCurrentSigningReason(SigningReason reason) {
    currentSigningReason_ = std::move(reason);
    notify();
}

void SigningViewModel::setViewTarget(SigningViewTarget target) {
    // The same target keeps its page: a card selection keeps its reading of the cards.
    if (!(target == viewTarget_)) {
        viewTarget_ = std::move(target);
        page_ = makePage();
    }
    notify();
}

SigningViewModel::Page SigningViewModel::makePage() {
    if (const auto* info = std::get_if<SigningViewTarget::Info>(&viewTarget_.value))
        return std::make_shared<InfoViewModel>(info->message, info->isWaiting, nullptr, true, scheduler_);
    const auto& wanted = std::get<SigningViewTarget::CardSelection>(viewTarget_.value).wantedCardIdentifier;
    std::weak_ptr<SigningViewModel> weak = weak_from_this();
    return std::make_shared<CardSelectionViewModel>(
        wanted, std::vector<std::shared_ptr<pindle::Card>>{},
        [weak](std::shared_ptr<pindle::Card> card) {
            if (auto self = weak.lock())
                self->cardSelected(std::move(card));
        },
        scheduler_, closeWindow_);
}

std::shared_ptr<platform::Timer> SigningViewModel::timeoutTimer() const {
    return intake_ ? intake_->timeoutTimer() : nullptr;
}

// --- Intake

SigningRequestIntake& SigningViewModel::intake() {
    if (!intake_) {
        std::weak_ptr<SigningViewModel> weak = weak_from_this();
        intake_ = std::make_shared<SigningRequestIntake>(
            xpcClient_, launchAgentService_, logger_, scheduler_,
            [weak](Bytes hash, std::string instanceID) {
                auto self = weak.lock();
                if (!self)
                    return;
                self->setObserved(self->requestType_, SigningRequestType::overXPC(std::move(hash)));
                signWithCard(self, std::move(instanceID));
            },
            [weak](AppError error) {
                if (auto self = weak.lock())
                    self->finishWithFailure(std::move(error));
            });
        if (flow_.hasEnded())
            intake_->stop();
    }
    return *intake_;
}

void SigningViewModel::start() {
    if (started_)
        return;
    started_ = true;
    if (const auto* bulk = std::get_if<SigningRequestType::Bulk>(&requestType_.value)) {
        flow_.post(*scheduler_,
                   [self = shared_from_this(), request = bulk->request] { startBulkRequest(self, request); });
        return;
    }
    waitForTokenRequest();
}

QCoro::Task<> SigningViewModel::startBulkRequest(BulkSigningRequest request) {
    return startBulkRequest(shared_from_this(), std::move(request));
}

QCoro::Task<> SigningViewModel::startBulkRequest(Self self, BulkSigningRequest request) {
    auto check = SigningRequestIntake::checkBulkRequest(request, *self->logger_);
    if (check.failure) {
        self->finishWithFailure(std::move(check.failure));
        co_return;
    }
    co_await self->flow_.step(signWithCard(self, std::move(*check.tokenIdentifier)));
}

void SigningViewModel::waitForTokenRequest() {
    intake().waitForTokenRequest();
}

void SigningViewModel::handleTokenSignRequest(Bytes hash, std::string instanceID) {
    intake().handleTokenSignRequest(std::move(hash), std::move(instanceID));
}

void SigningViewModel::handleCommunicationError(std::optional<AppError> error) {
    intake().handleCommunicationError(std::move(error));
}

void SigningViewModel::mainWindowWillClose() {
    finishWithFailure(std::nullopt);
}

// --- Certificate check and authentication

QCoro::Task<> SigningViewModel::signWithCard(std::string identifier) {
    return signWithCard(shared_from_this(), std::move(identifier));
}

QCoro::Task<> SigningViewModel::signWithCard(Self self, std::string identifier) {
    if (identifier == walletTokenIdentifier) {
        co_await self->flow_.step(checkSessionAndSign(self, SigningSessionContext::wallet("", "")));
        co_return;
    }
    auto card = co_await self->flow_.step(self->pindleClient_->getCard(identifier));
    if (card) {
        co_await self->flow_.step(
            checkSessionAndSign(self, SigningSessionContext::card("", std::move(card))));
        co_return;
    }
    self->setViewTarget(SigningViewTarget::cardSelection(std::move(identifier)));
}

QCoro::Task<> SigningViewModel::checkSessionAndSign(SigningSessionContext context) {
    return checkSessionAndSign(shared_from_this(), std::move(context));
}

void SigningViewModel::cardSelected(std::shared_ptr<pindle::Card> card) {
    if (flow_.hasEnded() || !card)
        return;
    flow_.post(*scheduler_, [self = shared_from_this(), card = std::move(card)] {
        checkSessionAndSign(self, SigningSessionContext::card("", card));
    });
}

QCoro::Task<> SigningViewModel::checkSessionAndSign(Self self, SigningSessionContext context) {
    auto store = self->signingSessionDatabase_;
    if (store->removeTokenIfCertificateInvalid(context)) {
        self->logger_->error("Selected certificate for signing has expired, cancelling signing process");
        self->finishWithFailure(AppError(
            ErrorCodeCategory::app, std::nullopt, "305",
            L("The selected certificate has expired, please retry after selecting or fetching another one."),
            std::nullopt));
        co_return;
    }
    std::optional<HalcyraError> failure;
    try {
        if (auto session = store->activeSession(context, true))
            co_await self->flow_.step(
                startSigning(self, context.withSessionId(session->orchestratorSessionId)));
        else
            co_await self->flow_.step(authenticate(self, context));
    } catch (const HalcyraError& error) {
        failure = error;
    } catch (const std::exception& error) {
        // Not expected of the services; the requester must still get its answer.
        failure = HalcyraError::otherError(error.what());
    }
    if (failure)
        self->finishWithServerError(*failure);
}

void SigningViewModel::finishWithServerError(const HalcyraError& error) {
    logger_->error("Could not handle signature request: " + error.errorDescription());
    finishWithFailure(AppError(ErrorCodeCategory::backend, ErrorCodeSourceFlow::signing, "000",
                               ErrorCodeWrap::message(error), error));
}

QCoro::Task<> SigningViewModel::authenticate(Self self, SigningSessionContext context) {
    self->setCurrentSigningReason(SigningReason::of(SigningReason::Kind::signingAuthentication));
    self->setViewTarget(SigningViewTarget::info(L("Authenticating..."), true));
    auto response = co_await self->flow_.step(self->authenticateAPIClient_->getAuthenticationMethods(
        self->signingSessionDatabase_->clientData(), halcyra::LevelOfAssurance::substantial));
    const auto wanted = context.kind() == SigningSessionContext::Kind::card
                            ? halcyra::AuthenticationMethod::eid
                            : halcyra::AuthenticationMethod::wallet;
    // Only the first entry of the kind counts.
    const auto means = std::find_if(response.methods.begin(), response.methods.end(),
                                    [wanted](const auto& entry) { return entry.method == wanted; });
    if (means == response.methods.end() || means->disabled) {
        self->finishWithFailure(
            AppError(ErrorCodeCategory::app, std::nullopt, "304",
                     L("Authentication for this signing certificate is currently disabled."), std::nullopt));
        co_return;
    }
    if (context.kind() == SigningSessionContext::Kind::card) {
        co_await self->flow_.step(runAuthentication(self, context.withSessionId(response.sessionId)));
        co_return;
    }
    self->setCurrentModalState(ModalState::walletTracking(response.sessionId, std::nullopt));
}

QCoro::Task<> SigningViewModel::runAuthentication(Self self, SigningSessionContext context) {
    self->setCurrentCard(context.card());
    auto events = self->quorvaneAPI_->runAuthentication(context, true);
    while (auto event = co_await self->flow_.step(events.next())) {
        switch (event->kind) {
            case AuthenticateFlowEvent::Kind::signingEvent: {
                const auto& cardEvent = *event->cardSigningEvent;
                if (cardEvent.kind == CardSigningEvent::Kind::failedBecauseOfCardRemoval) {
                    // No sheet can wait for a card that has gone: the login ends as a signature does.
                    self->finishWithCardRemoval();
                    break;
                }
                if (cardEvent.kind != CardSigningEvent::Kind::failed) {
                    self->setCurrentModalState(ModalState::pinInput(cardEvent));
                    break;
                }
                self->setCurrentModalState(std::nullopt);
                self->logger_->error("Signing with card failed, message: " + cardEvent.errorValue);
                self->finishWithFailure(AppError(ErrorCodeCategory::vexoConnect, std::nullopt,
                                                 cardEvent.errorCode, cardEvent.errorValue, std::nullopt));
                break;
            }
            case AuthenticateFlowEvent::Kind::error:
                self->logger_->error(std::string("Could not authenticate: ") + event->halcyraError->what());
                throw *event->halcyraError;
            case AuthenticateFlowEvent::Kind::completed:
                if (event->newCertificateRetrieved) {
                    self->finishWithFailure(
                        AppError(ErrorCodeCategory::app, std::nullopt, "301",
                                 L("Your previous certificate could not be used by online "
                                   "services. A new one has been downloaded, please retry "
                                   "signing."),
                                 std::nullopt));
                    break;
                }
                co_await self->flow_.step(
                    startSigning(self, context.withSessionId(event->session->orchestratorSessionId)));
                break;
            case AuthenticateFlowEvent::Kind::ongoing:
                break;
        }
    }
    self->setCurrentCard(nullptr);
}

void SigningViewModel::finishWithCardRemoval() {
    logger_->error(cardSignatureFailure + "card removed");
    finishWithFailure(
        AppError(ErrorCodeCategory::vexoConnect, std::nullopt, "004", L("eID card removed"), std::nullopt));
}

void SigningViewModel::pinInputCancelled(bool timedOut) {
    if (!timedOut) {
        finishWithFailure(std::nullopt);
        return;
    }
    finishWithFailure(
        AppError(ErrorCodeCategory::app, std::nullopt, "000", L("PIN input has timed out."), std::nullopt));
}

void SigningViewModel::walletTrackingCompleted(WalletTrackingResult result) {
    if (flow_.hasEnded())
        return;
    setCurrentModalState(std::nullopt);
    if (result.kind == WalletTrackingResult::Kind::failure) {
        finishWithFailure(std::move(result.error));
        return;
    }
    flow_.post(*scheduler_, [self = shared_from_this(), result] {
        walletTrackingSucceeded(self, result.sessionId, result.pollingSessionId);
    });
}

QCoro::Task<WalletTrackingIdentifiers> SigningViewModel::refreshWalletSession(std::string sessionId) {
    return refreshWalletSession(shared_from_this(), std::move(sessionId));
}

QCoro::Task<WalletTrackingIdentifiers> SigningViewModel::refreshWalletSession(Self self,
                                                                              std::string sessionId) {
    // The sheet's own request, answered even once the flow has ended; an ended flow keeps its consent
    // session.
    if (self->currentSigningReason_.kind == SigningReason::Kind::signingAuthentication) {
        auto response = co_await self->authenticateAPIClient_->getAuthenticationMethods(
            self->signingSessionDatabase_->clientData(), halcyra::LevelOfAssurance::substantial);
        co_return WalletTrackingIdentifiers{response.sessionId, std::nullopt};
    }
    auto response = co_await self->remoteSigningAPIClient_->getDataToConsent(self->consentRequest(sessionId));
    if (!self->flow_.hasEnded())
        self->setObserved(self->consentSessionId_, response.consentSessionId);
    std::optional<std::string> pollingSessionId;
    if (response.wallet)
        pollingSessionId = response.wallet->pollSessionId;
    co_return WalletTrackingIdentifiers{std::move(sessionId), std::move(pollingSessionId)};
}

// --- Consent data

halcyra::GetDataToConsentRequest SigningViewModel::consentRequest(std::string authSessionId) const {
    Bytes firstHash;
    if (const auto* bulk = std::get_if<SigningRequestType::Bulk>(&requestType_.value)) {
        if (!bulk->request.signData.empty())
            firstHash = platform::base64Decoded(bulk->request.signData.front().hash).value_or(Bytes{});
    } else {
        firstHash = std::get<SigningRequestType::OverXPC>(requestType_.value).hash.value_or(Bytes{});
    }
    return {signingSessionDatabase_->clientData(), std::move(authSessionId),
            SigningRequestType::hashAlgorithmOID(firstBytes(std::move(firstHash), 32)),
            requestType_.hashesToSign()};
}

QCoro::Task<> SigningViewModel::startSigning(Self self, SigningSessionContext context) {
    self->setCurrentModalState(std::nullopt);
    std::optional<Bytes> hashToSign;
    std::optional<std::vector<BulkSigningRequest::Document>> documents;
    if (const auto* bulk = std::get_if<SigningRequestType::Bulk>(&self->requestType_.value)) {
        hashToSign = SigningRequestIntake::bulkHashToSign(bulk->request.signData);
        documents = bulk->request.signData;
    } else if (const auto& hash = std::get<SigningRequestType::OverXPC>(self->requestType_.value).hash) {
        hashToSign = *hash;
        documents = std::vector{BulkSigningRequest::Document{platform::base64Encoded(*hash), std::nullopt}};
    }
    self->setCurrentSigningReason(SigningReason::actualSigning(std::move(hashToSign), std::move(documents)));
    self->setViewTarget(SigningViewTarget::info(L("Creating signature..."), true));

    auto response = co_await self->flow_.step(
        self->remoteSigningAPIClient_->getDataToConsent(self->consentRequest(context.sessionId())));
    co_await self->flow_.step(handleConsentData(self, std::move(response), std::move(context)));
}

QCoro::Task<> SigningViewModel::handleConsentData(Self self, halcyra::GetDataToConsentResponse response,
                                                  SigningSessionContext context) {
    self->setObserved(self->consentSessionId_, response.consentSessionId);
    if (context.kind() == SigningSessionContext::Kind::wallet) {
        std::optional<std::string> pollingSessionId;
        if (response.wallet)
            pollingSessionId = response.wallet->pollSessionId;
        self->setCurrentModalState(
            ModalState::walletTracking(context.sessionId(), std::move(pollingSessionId)));
        co_return;
    }
    auto hash = cardDataToSign(response.eid ? std::optional(response.eid->hashToSign) : std::nullopt);
    co_await self->flow_.step(signHashWithCard(self, std::move(hash), context.card()));
}

// --- Card or wallet signature

QCoro::Task<> SigningViewModel::signHashWithCard(Self self, Bytes hash, std::shared_ptr<pindle::Card> card) {
    self->setCurrentCard(card);
    self->setCurrentModalState(std::nullopt);
    // From here on the PIN sheet presents the server's hash as what is signed.
    self->setCurrentSigningReason(SigningReason::actualSigning(
        hash, std::vector{BulkSigningRequest::Document{platform::base64Encoded(hash), std::nullopt}}));
    self->setViewTarget(SigningViewTarget::info(L("Creating signature..."), true));

    auto events = card->sign(hash);
    while (auto event = co_await self->flow_.step(events.next())) {
        switch (event->kind) {
            case CardSigningEvent::Kind::pinRequested:
            case CardSigningEvent::Kind::wrongPin:
            case CardSigningEvent::Kind::waitingForHarwarePinInput:
            case CardSigningEvent::Kind::failedButCouldBeCancelledOrWrongPin:
                self->setCurrentModalState(ModalState::pinInput(*event));
                break;
            case CardSigningEvent::Kind::failed:
                self->logger_->error(cardSignatureFailure + event->errorValue);
                self->finishWithFailure(AppError(ErrorCodeCategory::vexoConnect, std::nullopt,
                                                 event->errorCode, event->errorValue, std::nullopt));
                break;
            case CardSigningEvent::Kind::failedBecauseOfCardRemoval:
                self->finishWithCardRemoval();
                break;
            case CardSigningEvent::Kind::finished:
                co_await self->flow_.step(consentAndSign(self, event->signature, card));
                break;
        }
    }
    self->setCurrentCard(nullptr);
}

QCoro::Task<> SigningViewModel::consentAndSign(Self self, Bytes signature,
                                               std::shared_ptr<pindle::Card> card) {
    self->setCurrentModalState(std::nullopt);
    halcyra::ConsentAndSignHashesRequest request(
        self->consentSessionId_,
        halcyra::ConsentAndSignHashesRequest::EID{platform::base64Encoded(card->certificateData()),
                                                  platform::base64Encoded(signature)});
    auto response =
        co_await self->flow_.step(self->remoteSigningAPIClient_->consentAndSignHashes(std::move(request)));
    self->finishWithSignatures(response.signatures);
}

QCoro::Task<> SigningViewModel::consentAndSign(Self self, std::string pollSessionId) {
    halcyra::ConsentAndSignHashesRequest request(
        self->consentSessionId_, halcyra::ConsentAndSignHashesRequest::Wallet{std::move(pollSessionId)});
    auto response =
        co_await self->flow_.step(self->remoteSigningAPIClient_->consentAndSignHashes(std::move(request)));
    self->finishWithSignatures(response.signatures);
}

QCoro::Task<> SigningViewModel::walletTrackingSucceeded(Self self, std::string sessionId,
                                                        std::string pollingSessionId) {
    std::optional<HalcyraError> failure;
    try {
        // The wallet confirmed either the login or, once the consent data is out, the signature.
        if (self->currentSigningReason_.kind == SigningReason::Kind::signingAuthentication)
            co_await self->flow_.step(
                runAuthentication(self, SigningSessionContext::wallet(sessionId, pollingSessionId)));
        else
            co_await self->flow_.step(consentAndSign(self, pollingSessionId));
    } catch (const HalcyraError& error) {
        failure = error;
    } catch (const std::exception& error) {
        failure = HalcyraError::otherError(error.what());
    }
    if (failure)
        self->finishWithServerError(*failure);
}

// --- Result delivery

bool SigningViewModel::end() {
    if (!flow_.end())
        return false;
    if (intake_)
        intake_->stop();
    // A card still waiting for its PIN (or keeping a failed operation open) would hold the reader.
    if (currentCard_)
        currentCard_->cancelOngoingOperation();
    return true;
}

void SigningViewModel::finishWithSignatures(const std::vector<std::string>& signatures) {
    if (flow_.hasEnded())
        return;
    auto answer = delivery_.answer(signatures);
    if (!answer) {
        finishWithServerError(HalcyraError::otherError(L("The server returned no usable signature")));
        return;
    }
    end();
    const bool opened = delivery_.hasAlreadyOpenedCallback();
    delivery_.deliver(*answer);
    if (delivery_.hasAlreadyOpenedCallback() != opened)
        notify();
    deliverCompletion(std::nullopt);
}

void SigningViewModel::finishWithFailure(std::optional<AppError> error) {
    const bool first = end();
    setCurrentModalState(std::nullopt);
    const bool opened = delivery_.hasAlreadyOpenedCallback();
    delivery_.deliverFailure(error, first);
    if (delivery_.hasAlreadyOpenedCallback() != opened)
        notify();
    deliverCompletion(std::move(error));
}

void SigningViewModel::deliverCompletion(std::optional<AppError> error) {
    scheduler_->post([completed = completed_, error = std::move(error)] {
        if (completed)
            completed(error);
    });
}
