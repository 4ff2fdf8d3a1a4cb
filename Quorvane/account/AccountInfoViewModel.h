#pragma once
// The account of a logged-in user: the signing certificate its token holds, the signed subscriber agreement
// to save as a PDF, the retrieval of the certificate into the token, and the deactivation of the account.
// Every server call and every outcome shows as a sheet over the screen (the model's sheet state); the save
// dialog follows the downloaded agreement's bytes.
//
// A certificate that is no longer valid is taken out of the token when the model is made, so that the screen
// offers to retrieve a valid one instead.
//
// Main thread only. Make it with std::make_shared: its tasks hold it until they have ended; the sheets'
// callbacks hold it weakly.
#include <QCoroTask>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "AccountDeletionViewModel.h"
#include "AccountInfoModalState.h"
#include "Quorvane/core/AppError.h"
#include "Quorvane/core/Observable.h"
#include "Quorvane/core/SigningCertificateInfo.h"
#include "Quorvane/core/SigningSession.h"
#include "Quorvane/core/SigningSessionContext.h"
#include "Quorvane/shell/views/InfoViewModel.h"
#include "Quorvane/shell/views/ModalSheetState.h"
#include "Quorvane/signing/CertificateRetrieval.h"
#include "api/Clients.h"
#include "platform/Bytes.h"
#include "platform/Scheduler.h"

class AppSettings;
class LoggerClient;
class SigningSessionDatabaseClient;

class AccountInfoViewModel : public Observable, public std::enable_shared_from_this<AccountInfoViewModel> {
  public:
    using ModalState = AccountInfoModalState;

    // Why the account is deactivated, as the server records it.
    static constexpr const char* deletionReason = "macOS Quorvane";
    // The name the save dialog proposes for the signed agreement (".pdf" follows).
    static constexpr const char* signedAgreementFileName = "Signed Agreement";

    // Reads the app's settings, logger, remote-signing and onboarding clients and session store now.
    // `closeWindow` closes the main window (the default: the app's); it runs in a task of its own.
    AccountInfoViewModel(SigningSessionContext context, SigningSession session,
                         std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live(),
                         std::function<void()> closeWindow = nullptr);
    AccountInfoViewModel(const AccountInfoViewModel&) = delete;
    AccountInfoViewModel& operator=(const AccountInfoViewModel&) = delete;

    // --- Observed state

    const std::optional<ModalState>& accountInfoModalState() const { return accountInfoModalState_->value(); }
    void setAccountInfoModalState(std::optional<ModalState> state);
    // The signed agreement waiting to be saved; the save dialog is up while it is present.
    const std::optional<platform::Bytes>& signedAgreementFileData() const { return signedAgreementFileData_; }
    void setSignedAgreementFileData(std::optional<platform::Bytes> data);

    const SigningSessionContext& context() const { return context_; }
    const SigningSession& session() const { return session_; }
    // The certificate the account's token holds now; none when it holds none.
    std::optional<SigningCertificateInfo> signingCertificateInfo() const;

    // The sheet state as the sheet presenter watches it.
    const std::shared_ptr<ModalSheetState<ModalState>>& modalSheetState() const {
        return accountInfoModalState_;
    }
    const std::shared_ptr<platform::Scheduler>& scheduler() const { return scheduler_; }

    // --- The screen's actions

    // "Deactivate certificate": asks for the confirmation first.
    void askDeletionConfirmation();
    // "Retrieve remote sign certificate".
    void retrieveCertificate();
    // "Subscriber agreement": downloads the signed agreement, then offers to save it.
    void downloadSignedAgreement();
    // "Done": closes the main window; the model stays as it is.
    void done();
    // OK after a deactivation: the sheet goes and the main window closes.
    void close();
    // The save dialog has gone: the bytes are let go, and a file that could not be written is reported
    // (`failure` names the file and why).
    void signedAgreementExportEnded(std::optional<std::string> failure);

    // --- The sheets, each wired back into this model

    // The message of a loading, info or deactivation-completed state: waiting for loading; OK clears an info
    // and closes after a deactivation.
    std::shared_ptr<InfoViewModel> makeInfoViewModel(const ModalState& state);
    // The confirmation's choices: deactivate, or keep the account (the sheet goes).
    std::shared_ptr<AccountDeletionViewModel> makeDeletionViewModel();
    // The retrieval of the certificate into the token; its end clears the sheet or shows its error.
    std::shared_ptr<CertificateRetrievalViewModel> makeCertificateRetrievalViewModel();

    // --- Operations

    // Deletes the account on the server, then forgets its session and token, and the user counts as not
    // onboarded any more. Shows the outcome.
    void deactivateAccount();
    void certificateRetrievalCompleted(std::optional<AppError> error);

  private:
    using Self = std::shared_ptr<AccountInfoViewModel>;

    static QCoro::Task<> downloadSignedAgreement(Self self);
    static QCoro::Task<> deactivateAccount(Self self);
    // Throws halcyra::HalcyraError when the server refused; nothing is purged then.
    static QCoro::Task<> deleteAccount(Self self);

    std::shared_ptr<ModalSheetState<ModalState>> accountInfoModalState_ =
        std::make_shared<ModalSheetState<ModalState>>();
    std::optional<platform::Bytes> signedAgreementFileData_;
    const SigningSessionContext context_;
    const SigningSession session_;
    std::shared_ptr<platform::Scheduler> scheduler_;
    std::function<void()> closeWindow_;
    std::shared_ptr<AppSettings> appSettings_;
    std::shared_ptr<LoggerClient> logger_;
    std::shared_ptr<halcyra::RemoteSigningAPIClient> remoteSigningAPIClient_;
    std::shared_ptr<halcyra::OnboardingAPIClient> onboardingAPIClient_;
    std::shared_ptr<SigningSessionDatabaseClient> signingSessionDatabase_;
};
