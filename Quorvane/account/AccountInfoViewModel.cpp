#include "AccountInfoViewModel.h"

#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/ErrorCodeWrap.h"
#include "Quorvane/core/MainWindowController.h"
#include "Quorvane/core/SigningSessionDatabaseClient.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/qt/Localizable.h"

using halcyra::HalcyraError;

AccountInfoViewModel::AccountInfoViewModel(SigningSessionContext context, SigningSession session,
                                           std::shared_ptr<platform::Scheduler> scheduler,
                                           std::function<void()> closeWindow)
    : context_(std::move(context)),
      session_(std::move(session)),
      scheduler_(std::move(scheduler)),
      closeWindow_(closeWindow ? std::move(closeWindow)
                               : [] { MainWindowController::shared().close(false); }),
      appSettings_(Dependency<AppSettingsKey>().get()),
      logger_(Dependency<LoggerClientKey>().get()),
      remoteSigningAPIClient_(Dependency<RemoteSigningAPIClientKey>().get()),
      onboardingAPIClient_(Dependency<OnboardingAPIClientKey>().get()),
      signingSessionDatabase_(Dependency<SigningSessionDatabaseKey>().get()) {
    if (signingSessionDatabase_->removeTokenIfCertificateInvalid(context_))
        logger_->info(
            "Remote signing certificate for account has expired, deleting before showing account info");
}

// --- Observed state

void AccountInfoViewModel::setAccountInfoModalState(std::optional<ModalState> state) {
    if (accountInfoModalState_->set(std::move(state)))
        notify();
}

void AccountInfoViewModel::setSignedAgreementFileData(std::optional<platform::Bytes> data) {
    setObserved(signedAgreementFileData_, std::move(data));
}

std::optional<SigningCertificateInfo> AccountInfoViewModel::signingCertificateInfo() const {
    return signingSessionDatabase_->signingCertificateInfo(context_.tokenIdentifier());
}

// --- The screen's actions

void AccountInfoViewModel::askDeletionConfirmation() {
    setAccountInfoModalState(ModalState::askingDeletionConfirmation());
}

void AccountInfoViewModel::retrieveCertificate() {
    setAccountInfoModalState(ModalState::certificateRetrieval());
}

void AccountInfoViewModel::done() {
    scheduler_->post([closeWindow = closeWindow_] { closeWindow(); });
}

void AccountInfoViewModel::close() {
    setAccountInfoModalState(std::nullopt);
    done();
}

void AccountInfoViewModel::downloadSignedAgreement() {
    setAccountInfoModalState(ModalState::loading(L("Downloading signed agreement...")));
    scheduler_->post([self = shared_from_this()] { downloadSignedAgreement(self); });
}

QCoro::Task<> AccountInfoViewModel::downloadSignedAgreement(Self self) {
    std::optional<platform::Bytes> document;
    std::optional<HalcyraError> failure;
    try {
        document =
            co_await self->onboardingAPIClient_->getSignedAgreementFile(self->session_.orchestratorSessionId);
    } catch (const HalcyraError& error) {
        failure = error;
    } catch (const std::exception& error) {
        // Not expected of the client; the loading sheet must still go.
        failure = HalcyraError::otherError(error.what());
    }
    if (document) {
        self->setAccountInfoModalState(std::nullopt);
        self->setSignedAgreementFileData(std::move(document));
        co_return;
    }
    auto text =
        ErrorCodeWrap::errorText(AppError(ErrorCodeCategory::backend, ErrorCodeSourceFlow::accountInfo, "00",
                                          ErrorCodeWrap::message(*failure), *failure),
                                 self->logger_.get());
    self->setAccountInfoModalState(ModalState::info(std::move(text)));
}

void AccountInfoViewModel::signedAgreementExportEnded(std::optional<std::string> failure) {
    setSignedAgreementFileData(std::nullopt);
    if (!failure)
        return;
    // The user must not believe the agreement saved when it is not.
    setAccountInfoModalState(ModalState::info(
        ErrorCodeWrap::errorText(ErrorCodeCategory::app, "402",
                                 L("The signed agreement could not be saved: %@", *failure), logger_.get())));
}

// --- Sheets

std::shared_ptr<InfoViewModel> AccountInfoViewModel::makeInfoViewModel(const ModalState& state) {
    auto self = shared_from_this();
    if (const auto* completed = state.as<ModalState::DeletionCompleted>())
        return std::make_shared<InfoViewModel>(
            completed->message, false, [self] { self->close(); }, true, scheduler_);
    if (const auto* loading = state.as<ModalState::Loading>())
        return std::make_shared<InfoViewModel>(loading->message, true, nullptr, true, scheduler_);
    const auto* info = state.as<ModalState::Info>();
    return std::make_shared<InfoViewModel>(
        info ? info->message : std::string(), false, [self] { self->setAccountInfoModalState(std::nullopt); },
        true, scheduler_);
}

std::shared_ptr<AccountDeletionViewModel> AccountInfoViewModel::makeDeletionViewModel() {
    std::weak_ptr<AccountInfoViewModel> weak = weak_from_this();
    return std::make_shared<AccountDeletionViewModel>(
        AccountDeletionViewModel{[weak] {
                                     if (auto self = weak.lock())
                                         self->deactivateAccount();
                                 },
                                 [weak] {
                                     if (auto self = weak.lock())
                                         self->setAccountInfoModalState(std::nullopt);
                                 }});
}

std::shared_ptr<CertificateRetrievalViewModel> AccountInfoViewModel::makeCertificateRetrievalViewModel() {
    std::weak_ptr<AccountInfoViewModel> weak = weak_from_this();
    return std::make_shared<CertificateRetrievalViewModel>(
        context_, CertificateRetrievalMode::retrieve,
        [weak](std::optional<AppError> error) {
            if (auto self = weak.lock())
                self->certificateRetrievalCompleted(error);
        },
        scheduler_);
}

// --- Operations

void AccountInfoViewModel::deactivateAccount() {
    setAccountInfoModalState(ModalState::loading(L("Deactivating account...")));
    scheduler_->post([self = shared_from_this()] { deactivateAccount(self); });
}

QCoro::Task<> AccountInfoViewModel::deactivateAccount(Self self) {
    std::optional<HalcyraError> failure;
    try {
        co_await deleteAccount(self);
    } catch (const HalcyraError& error) {
        failure = error;
    } catch (const std::exception& error) {
        failure = HalcyraError::otherError(error.what());
    }
    if (failure) {
        self->logger_->error("Failed deleting account: " + failure->errorDescription());
        self->setAccountInfoModalState(
            ModalState::deletionCompleted(L("Unexpected error, failed to deactivate account")));
        co_return;
    }
    self->setAccountInfoModalState(ModalState::deletionCompleted(L("Account deactivated")));
    self->appSettings_->setHasOnboardedAtLeastOnce(false);
}

QCoro::Task<> AccountInfoViewModel::deleteAccount(Self self) {
    co_await self->remoteSigningAPIClient_->deleteAccount(self->session_.orchestratorSessionId,
                                                          deletionReason);
    // Only once the server has deactivated the account: the session and the token are of no use any more.
    self->signingSessionDatabase_->purgeSession(self->context_);
}

void AccountInfoViewModel::certificateRetrievalCompleted(std::optional<AppError> error) {
    if (error)
        setAccountInfoModalState(ModalState::info(ErrorCodeWrap::errorText(*error, logger_.get())));
    else
        setAccountInfoModalState(std::nullopt);
}
