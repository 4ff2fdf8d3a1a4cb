#pragma once
// The account models' world for their tests and renders: the onboarding and remote-signing clients as doubles
// that answer as set up, record every call and can hold or fail it; a card that asks for its PIN; the app's
// real session store on a virtual clock (its token store in a folder of its own); and what the models report.
// The rig puts them into the dependency keys; models made next read them.
#include <QCoreApplication>
#include <QEvent>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Quorvane/account/AccountCreationViewModel.h"
#include "Quorvane/account/AccountInfoViewModel.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/testing/FakeCard.h"
#include "Quorvane/testing/FakeOnboardingClient.h"
#include "Quorvane/testing/FakeRemoteSigningClient.h"
#include "Quorvane/testing/FakeWalletClient.h"
#include "Quorvane/testing/SessionStoreRig.h"
#include "platform/Codecs.h"
#include "platform/testing/TestPKI.h"

namespace accounttest {

using halcyra::HalcyraError;
using pindle::CardSigningEvent;
using platform::Bytes;
using testsupport::FakeCard;
using testsupport::FakeOnboardingClient;
using namespace std::chrono_literals;

inline HalcyraError networkError() {
    return HalcyraError::networkError(std::make_exception_ptr(std::runtime_error("connection reset")));
}
inline HalcyraError backendError(int status = 409) {
    return HalcyraError::backendError(status, {"5C1D"}, "The request was refused.", std::nullopt);
}

// The doubles in the dependency keys, the real session store on the virtual clock, and what the models
// report.
struct Rig {
    Rig() {
        DependencyValues::shared().reset();
        settings->setHasOnboardedAtLeastOnce(true);
        sessions.install();
        Dependency<AppSettingsKey>().set(settings);
        Dependency<LoggerClientKey>().set(logger);
        Dependency<OnboardingAPIClientKey>().set(onboarding);
        Dependency<RemoteSigningAPIClientKey>().set(remote);
        Dependency<WalletAPIClientKey>().set(wallet);
        remote->signatureInfo.signingCertificate = signingCertificate.der();
    }
    ~Rig() {
        settle();
        DependencyValues::shared().reset();
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    SigningSessionContext cardContext() { return SigningSessionContext::card("auth-1", card); }
    SigningSessionContext walletContext() { return SigningSessionContext::wallet("auth-1", "login-poll"); }

    // A creation for the context, reporting into `completions` and `cancels`.
    std::shared_ptr<AccountCreationViewModel> creation(const SigningSessionContext& context) {
        return std::make_shared<AccountCreationViewModel>(
            context,
            [completions = completions](std::optional<AppError> error) {
                completions->push_back(std::move(error));
            },
            [cancels = cancels] { ++*cancels; }, scheduler, [closes = closes] { ++*closes; });
    }
    // The account screen's model for the context's session (one lasting the hour when it has none).
    std::shared_ptr<AccountInfoViewModel> accountInfo(const SigningSessionContext& context) {
        auto session = store->activeSession(context, false);
        if (!session)
            session = logIn(context);
        return std::make_shared<AccountInfoViewModel>(context, *session, scheduler,
                                                      [closes = closes] { ++*closes; });
    }

    // A session for the context that lasts the hour, as the login made it.
    SigningSession logIn(const SigningSessionContext& context) { return sessions.addSession(context, 1h); }
    std::optional<Bytes> installed(const SigningSessionContext& context) const {
        return sessions.tokens->certificateData(context.tokenIdentifier());
    }

    // Runs posted work and the event loop (streams, the retrieval's task) until nothing is left.
    void settle() {
        for (int round = 0; round < 30; ++round) {
            scheduler->runPending();
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }
    // Moves the virtual clock on, settling before and after.
    void advance(std::chrono::milliseconds by) {
        settle();
        scheduler->advance(by);
        settle();
    }

    // The clock starts now, so that the certificates made for the test are valid.
    std::shared_ptr<platform::VirtualScheduler> scheduler = std::make_shared<platform::VirtualScheduler>(
        platform::Date(std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::system_clock::now().time_since_epoch())));
    testsupport::SessionStoreRig sessions{nullptr, scheduler};
    std::shared_ptr<LoggerClient> logger = sessions.logger;
    std::shared_ptr<AppSettings> settings = sessions.settings;
    std::shared_ptr<SigningSessionDatabase> store = sessions.store;
    std::shared_ptr<FakeOnboardingClient> onboarding = std::make_shared<FakeOnboardingClient>();
    std::shared_ptr<testsupport::FakeRemoteSigningClient> remote =
        std::make_shared<testsupport::FakeRemoteSigningClient>();
    std::shared_ptr<testsupport::FakeWalletClient> wallet = std::make_shared<testsupport::FakeWalletClient>();
    std::shared_ptr<FakeCard> card = std::make_shared<FakeCard>();
    testsupport::Issued signingCertificate =
        testsupport::issue(testsupport::citizenCard("Ann", "Peeters", "71715100070"), testsupport::cardCA());

    std::shared_ptr<std::vector<std::optional<AppError>>> completions =
        std::make_shared<std::vector<std::optional<AppError>>>();
    std::shared_ptr<int> cancels = std::make_shared<int>(0);
    // The main window's closes asked for.
    std::shared_ptr<int> closes = std::make_shared<int>(0);
};

}  // namespace accounttest
