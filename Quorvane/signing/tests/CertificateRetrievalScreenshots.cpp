// Renders of the certificate retrieval: the progress page, the result page with a card's and a wallet's
// certificate (also dark and at twice the font size), and the text of each failure as an information page
// shows it. The failures come from the model itself, run over a session store and a server double.
#include <gtest/gtest.h>

#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/ErrorCodeWrap.h"
#include "Quorvane/core/SampleCards.h"
#include "Quorvane/core/SigningSessionDatabaseMock.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/signing/CertificateRetrievalView.h"
#include "Quorvane/testing/FakeRemoteSigningClient.h"
#include "Quorvane/testing/Screenshot.h"
#include "Quorvane/testing/SessionStoreRig.h"
#include "Quorvane/testing/ViewTestSupport.h"
#include "platform/VirtualScheduler.h"
#include "platform/testing/Await.h"
#include "platform/testing/Eventually.h"

namespace {

using halcyra::HalcyraError;
using testsupport::saveScreenshot;
using namespace std::chrono_literals;

SigningCertificateInfo certificate(halcyra::AuthenticationMethod method) {
    SigningCertificateInfo info;
    info.methodCreatedWith = method;
    const bool wallet = method == halcyra::AuthenticationMethod::wallet;
    info.fullName = wallet ? "Lotte Verbeke" : "Marie-Thérèse Van den Broeck-d'Oultremont";
    info.nationalNumber = wallet ? "85073003328" : "71715100070";
    info.notValidBefore = platform::Date(std::chrono::seconds(1'765'000'000));
    info.notValidAfter = platform::Date(std::chrono::seconds(1'891'230'367));
    return info;
}

class Screens : public ::testing::Test {
  protected:
    void SetUp() override { DependencyValues::shared().reset(); }
    void TearDown() override { DependencyValues::shared().reset(); }

    // The app's services for a model made next: the logger, the server double and the session store.
    void use(std::shared_ptr<SigningSessionDatabaseClient> store) {
        Dependency<LoggerClientKey>().set(std::make_shared<LoggerClient>("ui"));
        Dependency<RemoteSigningAPIClientKey>().set(server_);
        Dependency<SigningSessionDatabaseKey>().set(std::move(store));
    }

    // The model's failure over a real session store that holds a session for the wallet.
    AppError failure(std::optional<HalcyraError> serverError, bool withSession = true) {
        testsupport::SessionStoreRig sessions(nullptr, std::make_shared<platform::VirtualScheduler>(
                                                           platform::Date(std::chrono::system_clock::now())));
        const auto context = SigningSessionContext::wallet("session", "polling");
        if (withSession)
            sessions.addSession(context, 1h);
        server_->signatureInfoCalls.error = std::move(serverError);
        use(sessions.store);

        std::optional<AppError> outcome;
        auto model = std::make_shared<CertificateRetrievalViewModel>(
            context, CertificateRetrievalMode::retrieve,
            [&](std::optional<AppError> error) { outcome = error; });
        model->start();
        EXPECT_TRUE(testsupport::eventually([&] { return outcome.has_value(); }));
        return outcome.value_or(
            AppError(ErrorCodeCategory::app, std::nullopt, "?", "no failure", std::nullopt));
    }

    // getSignatureInfo answers with a certificate that is not one, or fails with the error.
    std::shared_ptr<testsupport::FakeRemoteSigningClient> server_ = [] {
        auto server = std::make_shared<testsupport::FakeRemoteSigningClient>();
        server->signatureInfo.signingCertificate = {0x30, 0x03, 0x02, 0x01, 0x00};
        return server;
    }();
};

TEST_F(Screens, RetrievalProgress) {
    use(std::make_shared<SigningSessionDatabaseMock>());
    // The page stays while the retrieval runs, and a failure leaves it to the owner to remove.
    auto model = std::make_shared<CertificateRetrievalViewModel>(
        SigningSessionContext::card("session", SampleCards::cardB()),
        CertificateRetrievalMode::retrieveAndShow, [](std::optional<AppError>) {});
    CertificateRetrievalView view(model);
    EXPECT_TRUE(saveScreenshot(view, "certificate-retrieval-progress"));
}

TEST_F(Screens, RetrievalResult) {
    struct Case {
        const char* name;
        halcyra::AuthenticationMethod method;
        bool dark;
        double fontScale;
    };
    const Case cases[] = {
        {"certificate-retrieval-result-card", halcyra::AuthenticationMethod::eid, false, 1.0},
        {"certificate-retrieval-result-wallet", halcyra::AuthenticationMethod::wallet, false, 1.0},
        {"certificate-retrieval-result-card-dark", halcyra::AuthenticationMethod::eid, true, 1.0},
        {"certificate-retrieval-result-wallet-large-font", halcyra::AuthenticationMethod::wallet, false, 2.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::ScopedFontScale scale(c.fontScale);
        use(std::make_shared<SigningSessionDatabaseMock>(certificate(c.method)));
        auto model = std::make_shared<CertificateRetrievalViewModel>(
            SigningSessionContext::wallet("session", "polling"), CertificateRetrievalMode::showOnly,
            [](std::optional<AppError>) {});
        CertificateRetrievalView view(model);
        if (c.dark)
            view.setPalette(testsupport::darkPalette());
        EXPECT_TRUE(saveScreenshot(view, c.name));
    }
}

TEST_F(Screens, RetrievalFailures) {
    struct Case {
        const char* name;
        AppError error;
    };
    const Case cases[] = {
        {"certificate-retrieval-error-201-no-session", failure(std::nullopt, false)},
        {"certificate-retrieval-error-02-server",
         failure(HalcyraError::backendError(503, {"7A1C44F0B2D9"}, "The service is temporarily unavailable.",
                                            "https://faq.quorvane.example/en/errors/service-unavailable"))},
        {"certificate-retrieval-error-02-network", failure(HalcyraError::networkError(std::make_exception_ptr(
                                                       std::runtime_error("connection refused"))))},
        {"certificate-retrieval-error-202-not-installed", failure(std::nullopt)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InfoView view(std::make_shared<InfoViewModel>(
            ErrorCodeWrap::errorText(c.error), false, [] {}, true));
        EXPECT_TRUE(saveScreenshot(view, c.name));
    }
}

}  // namespace
