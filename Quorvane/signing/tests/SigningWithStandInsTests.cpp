// The signing model with real parts: the stand-in server over TLS, the stand-in bridge's card behind the
// app's card-reader client, the app's facade and session store. A bulk request is signed after a card login
// and a card consent with a wrong PIN first, or after a wallet login and consent; the callback gets one
// signature per document, each verifying against the holder's signing certificate.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <QUrl>
#include <QUrlQuery>

#include "Quorvane/signing/SigningViewModel.h"
#include "Quorvane/testing/RecordingXPCClient.h"
#include "Quorvane/testing/ViewsTestSupport.h"
#include "SigningWorld.h"

namespace {

using namespace signingworld;
using pindle::CardSigningEvent;

// The app as the signing flow sees it, over the world's stand-ins.
struct SigningApp : App {
    explicit SigningApp(World& world) : App(world) {
        Dependency<AuthenticateAPIClientKey>().set(world.auth);
        Dependency<QuorvaneAPIKey>().set(facade);
        Dependency<PindleClientKey>().set(world.pindle);
        Dependency<LaunchAgentServiceKey>().set(std::make_shared<testsupport::FakeLaunchAgentService>(true));
        Dependency<XPCClientKey>().set(std::make_shared<testsupport::RecordingXPCClient>());
    }

    std::shared_ptr<SigningViewModel> sign(SigningRequestType request) {
        auto model = std::make_shared<SigningViewModel>(
            std::move(request),
            [completions = completions](std::optional<AppError> error) {
                completions->push_back(std::move(error));
            },
            platform::Scheduler::live(),
            [opened = opened](const std::string& url) { opened->push_back(url); });
        model->start();
        return model;
    }

    std::shared_ptr<std::vector<std::optional<AppError>>> completions =
        std::make_shared<std::vector<std::optional<AppError>>>();
    std::shared_ptr<std::vector<std::string>> opened = std::make_shared<std::vector<std::string>>();
};

// Waits for the PIN sheet of the reason's kind and hands it the PIN; gives the event the sheet showed.
CardSigningEvent::Kind typePin(SigningViewModel& model, SigningReason::Kind reason, const std::string& typed,
                               CardSigningEvent::Kind expected) {
    std::optional<CardSigningEvent> event;
    EXPECT_TRUE(eventually(
        [&] {
            auto state = model.currentModalState();
            if (!state || !state->pinInputEvent() || model.currentSigningReason().kind != reason ||
                state->pinInputEvent()->kind != expected)
                return false;
            event = *state->pinInputEvent();
            return true;
        },
        30s));
    if (!event)
        return CardSigningEvent::Kind::failed;
    event->providePinClosure(typed);
    return event->kind;
}

bool verifies(const Bytes& certificateDER, const Bytes& digest, const Bytes& signature) {
    const unsigned char* data = certificateDER.data();
    std::unique_ptr<X509, decltype(&X509_free)> certificate(d2i_X509(nullptr, &data, certificateDER.size()),
                                                            X509_free);
    if (!certificate)
        return false;
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
        EVP_PKEY_CTX_new(X509_get0_pubkey(certificate.get()), nullptr), EVP_PKEY_CTX_free);
    return context && EVP_PKEY_verify_init(context.get()) == 1 &&
           EVP_PKEY_verify(context.get(), signature.data(), signature.size(), digest.data(), digest.size()) ==
               1;
}

// The signatures of the callback URL, each verifying against the certificate over its document's hash.
void expectSignedCallback(const std::vector<std::string>& opened, const std::string& prefix,
                          const std::vector<Bytes>& hashes, const Bytes& certificate) {
    ASSERT_EQ(opened.size(), 1u);
    ASSERT_TRUE(opened.front().starts_with(prefix)) << opened.front();
    const QUrl url(QString::fromStdString(opened.front()), QUrl::StrictMode);
    ASSERT_TRUE(url.isValid());
    const auto joined = QUrlQuery(url).queryItemValue("signatures", QUrl::FullyDecoded).split(',');
    ASSERT_EQ(joined.size(), static_cast<qsizetype>(hashes.size()));
    for (std::size_t index = 0; index < hashes.size(); ++index) {
        auto signature = platform::base64URLDecoded(joined[static_cast<qsizetype>(index)].toStdString());
        ASSERT_TRUE(signature);
        EXPECT_TRUE(verifies(certificate, hashes[index], *signature)) << "signature " << index;
    }
}

// The holder's signing certificate in the token, as other applications sign with it; no session is left.
void installCertificate(SigningApp& app, Holder holder) {
    auto context = app.logIn(holder);
    auto certificate = app.world.serverCertificate(context);
    app.database->purgeSession(context);
    ASSERT_TRUE(app.tokens->registerToken(context.tokenIdentifier(), certificate));
}

std::vector<Bytes> documentHashes() {
    return {Bytes(32, 0x11), Bytes(32, 0xEE)};
}

SigningRequestType bulkRequest(const std::string& tokenId, const std::string& callback) {
    BulkSigningRequest request{"1.0", tokenId, {}};
    for (const auto& hash : documentHashes())
        request.signData.push_back({platform::base64Encoded(hash), "contract.pdf"});
    return SigningRequestType::bulk(std::move(request), callback);
}

TEST(SigningWithStandIns, ACardLoginThenAWrongAndARightPinSignEveryDocument) {
    World world;
    SigningApp app(world);
    installCertificate(app, Holder::card);
    const std::string callback = "http://127.0.0.1:9/cb";
    auto model = app.sign(bulkRequest("slot:" + world.peeters->uniqueIdentifier(), callback));

    using Kind = CardSigningEvent::Kind;
    typePin(*model, SigningReason::Kind::signingAuthentication, pin, Kind::pinRequested);
    typePin(*model, SigningReason::Kind::actualSigning, "0000", Kind::pinRequested);
    typePin(*model, SigningReason::Kind::actualSigning, pin, Kind::wrongPin);
    ASSERT_TRUE(eventually([&] { return !app.completions->empty(); }, 30s));
    EXPECT_FALSE(app.completions->front()) << app.completions->front()->message;

    int consents = 0;
    for (const auto& request : world.server.requests())
        consents += request.path.ends_with("/rsign/consentAndSignHashes");
    EXPECT_EQ(consents, 1);
    auto session = app.database->activeSession(SigningSessionContext::card("", world.peeters), true);
    ASSERT_TRUE(session);
    expectSignedCallback(
        *app.opened, callback + "?signatures=", documentHashes(),
        world.serverCertificate(SigningSessionContext::card(session->orchestratorSessionId, world.peeters)));
}

TEST(SigningWithStandIns, TheWalletConfirmsTheLoginAndTheConsent) {
    World world;
    SigningApp app(world);
    installCertificate(app, Holder::wallet);
    const std::string callback = "https://127.0.0.1:9/cb?id=4";
    auto model = app.sign(bulkRequest(SigningSessionContext::walletTokenIdentifier, callback));

    // The wallet sheet's part: the polling session of the login, confirmed in the wallet app.
    ASSERT_TRUE(
        eventually([&] { return model->currentModalState().has_value() || !app.completions->empty(); }, 30s));
    ASSERT_TRUE(app.completions->empty()) << app.completions->front()->message;
    const auto login = *model->currentModalState()->walletTrackingSessionId();
    auto data = await(world.auth->getAuthenticationMethodData(AuthenticationMethod::wallet, login));
    ASSERT_TRUE(data.wallet);
    world.server.control("/wallet",
                         Json{{"pollSessionId", data.wallet->pollSessionId}, {"state", "AUTHENTICATED"}});
    model->walletTrackingCompleted(WalletTrackingResult::success(login, data.wallet->pollSessionId));

    ASSERT_TRUE(eventually(
        [&] {
            auto state = model->currentModalState();
            return state && state->walletTrackingPollingSessionId().has_value();
        },
        30s));
    const auto consentPoll = *model->currentModalState()->walletTrackingPollingSessionId();
    world.server.control("/wallet", Json{{"pollSessionId", consentPoll}, {"state", "AUTHENTICATED"}});
    model->walletTrackingCompleted(
        WalletTrackingResult::success(*model->currentModalState()->walletTrackingSessionId(), consentPoll));
    ASSERT_TRUE(eventually([&] { return !app.completions->empty(); }, 30s));
    EXPECT_FALSE(app.completions->front()) << app.completions->front()->message;

    auto session = app.database->activeSession(SigningSessionContext::wallet("", ""), true);
    ASSERT_TRUE(session);
    expectSignedCallback(
        *app.opened, callback + "&signatures=", documentHashes(),
        world.serverCertificate(SigningSessionContext::wallet(session->orchestratorSessionId, "")));
}

}  // namespace
