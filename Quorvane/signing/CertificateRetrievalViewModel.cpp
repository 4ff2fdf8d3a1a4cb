#include "CertificateRetrievalViewModel.h"

#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/ErrorCodeWrap.h"
#include "Quorvane/core/SigningSessionDatabaseClient.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/qt/Localizable.h"

using halcyra::HalcyraError;

CertificateRetrievalViewModel::CertificateRetrievalViewModel(SigningSessionContext context,
                                                             CertificateRetrievalMode mode,
                                                             Completion completed,
                                                             std::shared_ptr<platform::Scheduler> scheduler)
    : context_(std::move(context)),
      mode_(mode),
      completed_(std::move(completed)),
      logger_(Dependency<LoggerClientKey>().get()),
      remoteSigningAPIClient_(Dependency<RemoteSigningAPIClientKey>().get()),
      signingSessionDatabase_(Dependency<SigningSessionDatabaseKey>().get()),
      scheduler_(std::move(scheduler)) {}

void CertificateRetrievalViewModel::start() {
    if (started_)
        return;
    started_ = true;
    run();
}

void CertificateRetrievalViewModel::run() {
    if (mode_ == CertificateRetrievalMode::showOnly) {
        if (auto installed = signingSessionDatabase_->signingCertificateInfo(context_)) {
            setObserved(signingCertificateInfo_, std::move(installed));
            return;
        }
        // A subscriber told of the change may let the model go: keep it for the rest of this call.
        auto keepAlive = shared_from_this();
        setObserved(mode_, CertificateRetrievalMode::retrieveAndShow);
        run();
        return;
    }
    // A task of its own, after what is already queued: the caller returns (and the progress page shows)
    // first.
    flow_.post(*scheduler_, [self = shared_from_this()] { retrieve(self); });
}

QCoro::Task<> CertificateRetrievalViewModel::retrieve(std::shared_ptr<CertificateRetrievalViewModel> self) {
    auto session = self->signingSessionDatabase_->activeSession(self->context_, false);
    if (!session) {
        self->logger_->error("No active session, can't retrieve certificate");
        self->completed(AppError(ErrorCodeCategory::app, std::nullopt, "201",
                                 L("No active session, can't retrieve certificate."), std::nullopt));
        co_return;
    }

    std::optional<halcyra::SigningInfoDetails> details;
    std::optional<HalcyraError> failure;
    try {
        details = co_await self->flow_.step(
            self->remoteSigningAPIClient_->getSignatureInfo(session->orchestratorSessionId));
    } catch (const HalcyraError& error) {
        failure = error;
    } catch (const std::exception& error) {
        // Not expected of the client; the owner must still hear of the end.
        failure = HalcyraError::otherError(error.what());
    }
    if (failure) {
        self->logger_->error("Could not retrieve certificate: " + failure->errorDescription());
        auto message = ErrorCodeWrap::message(*failure);
        self->completed(AppError(ErrorCodeCategory::backend, ErrorCodeSourceFlow::certificateRetrieval, "02",
                                 std::move(message), std::move(failure)));
        co_return;
    }

    auto& store = *self->signingSessionDatabase_;
    store.registerToken(self->context_, details->signingCertificate);
    self->logger_->info("Certificate received");

    // Only what the token holds counts: a store that refused the certificate (or a certificate that does not
    // parse) leaves nothing, or an earlier certificate, behind, and the owner must not hear of a success.
    auto installed = store.signingCertificateInfo(self->context_);
    if (!installed || installed->certificateData != details->signingCertificate) {
        self->logger_->error("Could not retrieve certificate: session database failure");
        self->completed(AppError(ErrorCodeCategory::app, std::nullopt, "202",
                                 L("Could not retrieve certificate: session database failure."),
                                 std::nullopt));
        co_return;
    }
    if (self->mode_ == CertificateRetrievalMode::retrieve) {
        self->completed(std::nullopt);
        co_return;
    }
    // "Done" on the result page completes.
    self->setObserved(self->signingCertificateInfo_, std::move(installed));
}

void CertificateRetrievalViewModel::completed(std::optional<AppError> error) {
    if (!flow_.end())
        return;
    // The owner may release the model: call a copy, and touch nothing afterwards.
    auto completion = completed_;
    if (completion)
        completion(std::move(error));
}
