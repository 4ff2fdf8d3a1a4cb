#include "SigningViewModel.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "Quorvane/core/BulkSigningCallback.h"
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
#include "platform/SHA256.h"
#include "platform/Workspace.h"
#include "platform/qt/Localizable.h"

namespace {

using halcyra::HalcyraError;
using pindle::CardSigningEvent;
using platform::Bytes;

const char* const keychainMessage = "Could not communicate with the keychain, operation cancelled.";

// Where a log line names the card's failure, a no-break space follows the colon.
const std::string cardSignatureFailure = "Could not sign hash with card:\u00A0";

Bytes firstBytes(Bytes bytes, std::size_t count) {
    if (bytes.size() > count)
        bytes.resize(count);
    return bytes;
}

}  // namespace

SigningViewModel::SigningViewModel(SigningRequestType requestType, Completed completed,
                                   std::shared_ptr<platform::Scheduler> scheduler, URLOpener openURL)
    : requestType_(std::move(requestType)),
      completed_(std::move(completed)),
      scheduler_(std::move(scheduler)),
      openURL_(openURL ? std::move(openURL) : URLOpener(&platform::Workspace::open)),
      authenticateAPIClient_(Dependency<AuthenticateAPIClientKey>().get()),
      quorvaneAPI_(Dependency<QuorvaneAPIKey>().get()),
      pindleClient_(Dependency<PindleClientKey>().get()),
      launchAgentService_(Dependency<LaunchAgentServiceKey>().get()),
      logger_(Dependency<LoggerClientKey>().get()),
      remoteSigningAPIClient_(Dependency<RemoteSigningAPIClientKey>().get()),
      signingSessionDatabase_(Dependency<SigningSessionDatabaseKey>().get()),
      xpcClient_(Dependency<XPCClientKey>().get()) {
    willCloseObservation_ = platform::NotificationCenter::defaultCenter().addObserver(
        MainWindowController::mainWindowWillCloseNotification, [this] {
            // The observation goes with the model; the handler keeps it for the rest of the call.
            if (auto self = weak_from_this().lock())
                self->mainWindowWillClose();
        });
}

SigningViewModel::~SigningViewModel() {
    // A wait left running would fail a later request on the shared relay.
    if (timeoutTimer_)
        timeoutTimer_->invalidate();
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
    viewTarget_ = std::move(target);
    notify();
}

// --- Intake

void SigningViewModel::start() {
    if (started_)
        return;
    started_ = true;
    if (const auto* bulk = std::get_if<SigningRequestType::Bulk>(&requestType_.value)) {
        scheduler_->post(
            [self = shared_from_this(), request = bulk->request] { self->startBulkRequest(request); });
        return;
    }
    waitForTokenRequest();
}

std::string SigningViewModel::tokenIdentifier(const std::string& tokenId) {
    std::string_view last;
    for (std::string_view rest = tokenId; !rest.empty();) {
        const auto colon = rest.find(':');
        if (const auto piece = rest.substr(0, colon); !piece.empty())
            last = piece;
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    }
    return last.empty() ? tokenId : std::string(last);
}

QCoro::Task<> SigningViewModel::startBulkRequest(BulkSigningRequest request) {
    return startBulkRequest(shared_from_this(), std::move(request));
}

QCoro::Task<> SigningViewModel::startBulkRequest(Self self, BulkSigningRequest request) {
    if (self->ended_)
        co_return;
    // A hash that is not exactly Base64 cannot be signed for what its sender meant: refused before the user
    // logs in or consents to anything.
    if (!bulkHashToSign(request.signData)) {
        self->logger_->error("Bulk signing request holds a hash that is not valid Base64");
        self->finishWithFailure(
            AppError(ErrorCodeCategory::app, std::nullopt, "000",
                     L("The signing request holds a document hash that is not valid Base64."), std::nullopt));
        co_return;
    }
    co_await signWithCard(self, tokenIdentifier(request.tokenId));
}

void SigningViewModel::waitForTokenRequest() {
    if (ended_)
        return;
    startTimeoutTimer();
    // Whatever an earlier request left on the shared client goes first.
    xpcClient_->disconnect();
    xpcClient_->connect();
    xpcClient_->registerWithService();
    std::weak_ptr<SigningViewModel> weak = weak_from_this();
    auto scheduler = scheduler_;
    xpcClient_->setSignatureRequestHandler(
        [weak, scheduler](const Bytes& hash, const std::string& instanceID) {
            scheduler->post([weak, hash, instanceID] {
                if (auto self = weak.lock())
                    self->handleTokenSignRequest(hash, instanceID);
            });
        });
    xpcClient_->setCommunicationErrorHandler([weak, scheduler](const AppError& error) {
        scheduler->post([weak, error] {
            if (auto self = weak.lock())
                self->handleCommunicationError(error);
        });
    });
    xpcClient_->sendAppIsReady();
}

void SigningViewModel::startTimeoutTimer() {
    stopTimeoutTimer();
    std::weak_ptr<SigningViewModel> weak = weak_from_this();
    setObserved(timeoutTimer_, scheduler_->scheduleOnce(tokenRequestTimeout, [weak] {
        if (auto self = weak.lock())
            self->handleTokenRequestTimeout();
    }));
}

void SigningViewModel::stopTimeoutTimer() {
    if (!timeoutTimer_)
        return;
    timeoutTimer_->invalidate();
    setObserved(timeoutTimer_, nullptr);
}

void SigningViewModel::handleTokenRequestTimeout() {
    if (ended_)
        return;
    setObserved(timeoutTimer_, nullptr);
    logger_->error(
        "Timed out waiting for XPC message from persistent token, attempting to reboot XPC service.");
    launchAgentService_->reregisterService();
    finishWithFailure(
        AppError(ErrorCodeCategory::xpc, std::nullopt, "001", L(keychainMessage), std::nullopt));
}

void SigningViewModel::handleTokenSignRequest(Bytes hash, std::string instanceID) {
    if (ended_)
        return;
    stopTimeoutTimer();
    setObserved(requestType_, SigningRequestType::overXPC(std::move(hash)));
    signWithCard(shared_from_this(), std::move(instanceID));
}

void SigningViewModel::handleCommunicationError(std::optional<AppError> error) {
    if (ended_)
        return;
    stopTimeoutTimer();
    finishWithFailure(
        error ? std::move(error)
              : AppError(ErrorCodeCategory::xpc, std::nullopt, "000", L(keychainMessage), std::nullopt));
}

void SigningViewModel::mainWindowWillClose() {
    finishWithFailure(std::nullopt);
}

// --- Certificate check and authentication

QCoro::Task<> SigningViewModel::signWithCard(std::string identifier) {
    return signWithCard(shared_from_this(), std::move(identifier));
}

QCoro::Task<> SigningViewModel::signWithCard(Self self, std::string identifier) {
    if (self->ended_)
        co_return;
    if (identifier == walletTokenIdentifier) {
        co_await checkSessionAndSign(self, SigningSessionContext::wallet("", ""));
        co_return;
    }
    auto card = co_await self->pindleClient_->getCard(identifier);
    if (self->ended_)
        co_return;
    if (card) {
        co_await checkSessionAndSign(self, SigningSessionContext::card("", std::move(card)));
        co_return;
    }
    self->setViewTarget(SigningViewTarget::cardSelection(std::move(identifier)));
}

QCoro::Task<> SigningViewModel::checkSessionAndSign(SigningSessionContext context) {
    return checkSessionAndSign(shared_from_this(), std::move(context));
}

void SigningViewModel::cardSelected(std::shared_ptr<pindle::Card> card) {
    if (ended_ || !card)
        return;
    scheduler_->post([self = shared_from_this(), card = std::move(card)] {
        checkSessionAndSign(self, SigningSessionContext::card("", card));
    });
}

QCoro::Task<> SigningViewModel::checkSessionAndSign(Self self, SigningSessionContext context) {
    if (self->ended_)
        co_return;
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
            co_await startSigning(self, context.withSessionId(session->orchestratorSessionId));
        else
            co_await authenticate(self, context);
    } catch (const HalcyraError& error) {
        failure = error;
    } catch (const std::exception& error) {
        // Not expected of the services; the requester must still get its answer.
        failure = HalcyraError::otherError(error.what());
    }
    if (failure && !self->ended_)
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
    auto response = co_await self->authenticateAPIClient_->getAuthenticationMethods(
        self->signingSessionDatabase_->clientData(), halcyra::LevelOfAssurance::substantial);
    if (self->ended_)
        co_return;
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
        co_await runAuthentication(self, context.withSessionId(response.sessionId));
        co_return;
    }
    self->setCurrentModalState(ModalState::walletTracking(response.sessionId, std::nullopt));
}

QCoro::Task<> SigningViewModel::runAuthentication(Self self, SigningSessionContext context) {
    self->setCurrentCard(context.card());
    auto events = self->quorvaneAPI_->runAuthentication(context, true);
    while (auto event = co_await events.next()) {
        if (self->ended_)
            co_return;
        switch (event->kind) {
            case AuthenticateFlowEvent::Kind::signingEvent: {
                const auto& cardEvent = *event->cardSigningEvent;
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
                co_await startSigning(self, context.withSessionId(event->session->orchestratorSessionId));
                break;
            case AuthenticateFlowEvent::Kind::ongoing:
                break;
        }
    }
    if (!self->ended_)
        self->setCurrentCard(nullptr);
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
    if (ended_)
        return;
    setCurrentModalState(std::nullopt);
    if (result.kind == WalletTrackingResult::Kind::failure) {
        finishWithFailure(std::move(result.error));
        return;
    }
    scheduler_->post([self = shared_from_this(), result] {
        walletTrackingSucceeded(self, result.sessionId, result.pollingSessionId);
    });
}

QCoro::Task<WalletTrackingIdentifiers> SigningViewModel::refreshWalletSession(std::string sessionId) {
    return refreshWalletSession(shared_from_this(), std::move(sessionId));
}

QCoro::Task<WalletTrackingIdentifiers> SigningViewModel::refreshWalletSession(Self self,
                                                                              std::string sessionId) {
    if (self->currentSigningReason_.kind == SigningReason::Kind::signingAuthentication) {
        auto response = co_await self->authenticateAPIClient_->getAuthenticationMethods(
            self->signingSessionDatabase_->clientData(), halcyra::LevelOfAssurance::substantial);
        co_return WalletTrackingIdentifiers{response.sessionId, std::nullopt};
    }
    auto response = co_await self->remoteSigningAPIClient_->getDataToConsent(self->consentRequest(sessionId));
    if (!self->ended_)
        self->setObserved(self->consentSessionId_, response.consentSessionId);
    std::optional<std::string> pollingSessionId;
    if (response.wallet)
        pollingSessionId = response.wallet->pollSessionId;
    co_return WalletTrackingIdentifiers{std::move(sessionId), std::move(pollingSessionId)};
}

// --- Consent data

std::optional<Bytes> SigningViewModel::bulkHashToSign(
    const std::vector<BulkSigningRequest::Document>& documents) {
    std::vector<Bytes> hashes;
    for (const auto& document : documents) {
        auto hash = platform::base64Decoded(document.hash);
        if (!hash)
            return std::nullopt;
        hashes.push_back(std::move(*hash));
    }
    // Bytes compare as unsigned, and a prefix sorts first. (Compared here rather than by the vectors' own
    // operator, whose inlined memcmp GCC 12 at -O3 takes for an overread.)
    std::sort(hashes.begin(), hashes.end(), [](const Bytes& a, const Bytes& b) {
        const std::size_t common = std::min(a.size(), b.size());
        const int order = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
        return order != 0 ? order < 0 : a.size() < b.size();
    });
    Bytes concatenated;
    for (const auto& hash : hashes)
        concatenated.insert(concatenated.end(), hash.begin(), hash.end());
    return platform::sha256(concatenated);
}

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
    if (self->ended_)
        co_return;
    self->setCurrentModalState(std::nullopt);
    std::optional<Bytes> hashToSign;
    std::optional<std::vector<BulkSigningRequest::Document>> documents;
    if (const auto* bulk = std::get_if<SigningRequestType::Bulk>(&self->requestType_.value)) {
        hashToSign = bulkHashToSign(bulk->request.signData);
        documents = bulk->request.signData;
    } else if (const auto& hash = std::get<SigningRequestType::OverXPC>(self->requestType_.value).hash) {
        hashToSign = *hash;
        documents = std::vector{BulkSigningRequest::Document{platform::base64Encoded(*hash), std::nullopt}};
    }
    self->setCurrentSigningReason(SigningReason::actualSigning(std::move(hashToSign), std::move(documents)));
    self->setViewTarget(SigningViewTarget::info(L("Creating signature..."), true));

    auto response =
        co_await self->remoteSigningAPIClient_->getDataToConsent(self->consentRequest(context.sessionId()));
    if (self->ended_)
        co_return;
    co_await handleConsentData(self, std::move(response), std::move(context));
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
    Bytes hash;
    if (response.eid)
        hash = platform::base64URLDecoded(response.eid->hashToSign).value_or(Bytes{});
    co_await signHashWithCard(self, std::move(hash), context.card());
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
    while (auto event = co_await events.next()) {
        if (self->ended_)
            co_return;
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
                self->logger_->error(cardSignatureFailure + "card removed");
                self->finishWithFailure(AppError(ErrorCodeCategory::vexoConnect, std::nullopt, "004",
                                                 L("eID card removed"), std::nullopt));
                break;
            case CardSigningEvent::Kind::finished:
                co_await consentAndSign(self, event->signature, card);
                break;
        }
    }
    if (!self->ended_)
        self->setCurrentCard(nullptr);
}

QCoro::Task<> SigningViewModel::consentAndSign(Self self, Bytes signature,
                                               std::shared_ptr<pindle::Card> card) {
    self->setCurrentModalState(std::nullopt);
    halcyra::ConsentAndSignHashesRequest request(
        self->consentSessionId_,
        halcyra::ConsentAndSignHashesRequest::EID{platform::base64Encoded(card->certificateData()),
                                                  platform::base64Encoded(signature)});
    auto response = co_await self->remoteSigningAPIClient_->consentAndSignHashes(std::move(request));
    if (self->ended_)
        co_return;
    self->finishWithSignatures(response.signatures);
}

QCoro::Task<> SigningViewModel::consentAndSign(Self self, std::string pollSessionId) {
    halcyra::ConsentAndSignHashesRequest request(
        self->consentSessionId_, halcyra::ConsentAndSignHashesRequest::Wallet{std::move(pollSessionId)});
    auto response = co_await self->remoteSigningAPIClient_->consentAndSignHashes(std::move(request));
    if (self->ended_)
        co_return;
    self->finishWithSignatures(response.signatures);
}

QCoro::Task<> SigningViewModel::walletTrackingSucceeded(Self self, std::string sessionId,
                                                        std::string pollingSessionId) {
    if (self->ended_)
        co_return;
    std::optional<HalcyraError> failure;
    try {
        // The wallet confirmed either the login or, once the consent data is out, the signature.
        if (self->currentSigningReason_.kind == SigningReason::Kind::signingAuthentication)
            co_await runAuthentication(self, SigningSessionContext::wallet(sessionId, pollingSessionId));
        else
            co_await consentAndSign(self, pollingSessionId);
    } catch (const HalcyraError& error) {
        failure = error;
    } catch (const std::exception& error) {
        failure = HalcyraError::otherError(error.what());
    }
    if (failure && !self->ended_)
        self->finishWithServerError(*failure);
}

// --- Result delivery

void SigningViewModel::end() {
    if (ended_)
        return;
    ended_ = true;
    stopTimeoutTimer();
    // A card still waiting for its PIN (or keeping a failed operation open) would hold the reader.
    if (currentCard_)
        currentCard_->cancelOngoingOperation();
}

void SigningViewModel::finishWithSignatures(const std::vector<std::string>& signatures) {
    if (ended_)
        return;
    if (std::holds_alternative<SigningRequestType::Bulk>(requestType_.value)) {
        end();
        setObserved(hasAlreadyOpenedCallback_, true);
        std::string joined;
        for (const auto& signature : signatures)
            joined += (joined.empty() ? "" : ",") + signature;
        openCallback("signatures", joined);
    } else {
        // The token must never hand an empty signature to the application that asked as if it had succeeded.
        std::optional<Bytes> signature;
        if (!signatures.empty())
            signature = platform::base64URLDecoded(signatures.front());
        if (!signature || signature->empty()) {
            finishWithServerError(HalcyraError::otherError(L("The server returned no usable signature")));
            return;
        }
        end();
        xpcClient_->sendSignature(*signature);
    }
    deliverCompletion(std::nullopt);
}

void SigningViewModel::finishWithFailure(std::optional<AppError> error) {
    const bool first = !ended_;
    end();
    setCurrentModalState(std::nullopt);
    if (std::holds_alternative<SigningRequestType::Bulk>(requestType_.value)) {
        if (!hasAlreadyOpenedCallback_) {
            setObserved(hasAlreadyOpenedCallback_, true);
            openCallback("error", error ? error->message : "Cancelled");
        }
    } else if (first) {
        // Only the first ending answers the token: the shared client may carry a newer request by now.
        xpcClient_->cancelTokenCommunication();
    }
    deliverCompletion(std::move(error));
}

void SigningViewModel::openCallback(const std::string& name, const std::string& value) {
    const auto& callbackLink = std::get<SigningRequestType::Bulk>(requestType_.value).callbackLink;
    auto url = bulksigning::callbackWithQueryItem(callbackLink, name, value);
    // The shell takes only web addresses in; this is the last check before the desktop opens it.
    if (!bulksigning::isAcceptedCallback(url)) {
        logger_->error("Bulk signing callback not opened: not an http or https URL");
        return;
    }
    openURL_(url);
}

void SigningViewModel::deliverCompletion(std::optional<AppError> error) {
    scheduler_->post([completed = completed_, error = std::move(error)] {
        if (completed)
            completed(error);
    });
}
