#pragma once
// Fetches the signing certificate of the user's remote-signing account from the server and installs it in the
// token of the context, so that other applications can sign with it; then, depending on the mode, shows it
// until the user confirms. The screen that needs a certificate makes the model with an authenticated context
// and removes the retrieval screen once `completed` has told it the outcome. The failures:
// - "201": no session that lasts another 900 s (nothing is asked of the server);
// - "02": the server refused or could not be reached (backend, certificate retrieval, with the server error);
// - "202": the token does not hold the certificate the server sent, read back after installing it.
//
// Main thread only. Make it with std::make_shared: the fetch holds the model until it has ended.
#include <functional>
#include <memory>
#include <optional>

#include "CertificateRetrievalMode.h"
#include "Quorvane/core/AppError.h"
#include "Quorvane/core/Flow.h"
#include "Quorvane/core/Observable.h"
#include "Quorvane/core/SigningCertificateInfo.h"
#include "Quorvane/core/SigningSessionContext.h"
#include "api/Clients.h"
#include "platform/Scheduler.h"

class LoggerClient;
class SigningSessionDatabaseClient;

class CertificateRetrievalViewModel : public Observable,
                                      public std::enable_shared_from_this<CertificateRetrievalViewModel> {
  public:
    // Takes the outcome: none on success. It may release the model.
    using Completion = std::function<void(std::optional<AppError>)>;

    // The logger, the remote-signing client and the session store are the app's at the time of the call.
    CertificateRetrievalViewModel(
        SigningSessionContext context, CertificateRetrievalMode mode, Completion completed,
        std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live());
    CertificateRetrievalViewModel(const CertificateRetrievalViewModel&) = delete;
    CertificateRetrievalViewModel& operator=(const CertificateRetrievalViewModel&) = delete;

    // Observed: the certificate to show; once set, the result page takes the place of the progress page.
    const std::optional<SigningCertificateInfo>& signingCertificateInfo() const {
        return signingCertificateInfo_;
    }
    const SigningSessionContext& context() const { return context_; }
    // Observed: showOnly turns into retrieveAndShow when nothing is installed.
    CertificateRetrievalMode mode() const { return mode_; }

    // Called by the retrieval screen each time it is shown; only the first call does anything, so that a
    // screen shown again (restored from minimised) does not fetch again.
    void start();
    // Tells the owner the outcome, the first time only. The owner may release the model in it.
    void completed(std::optional<AppError> error);

  private:
    void run();
    static QCoro::Task<> retrieve(std::shared_ptr<CertificateRetrievalViewModel> self);

    std::optional<SigningCertificateInfo> signingCertificateInfo_;
    const SigningSessionContext context_;
    CertificateRetrievalMode mode_;
    Completion completed_;
    std::shared_ptr<LoggerClient> logger_;
    std::shared_ptr<halcyra::RemoteSigningAPIClient> remoteSigningAPIClient_;
    std::shared_ptr<SigningSessionDatabaseClient> signingSessionDatabase_;
    std::shared_ptr<platform::Scheduler> scheduler_;
    bool started_ = false;
    Flow flow_;
};
