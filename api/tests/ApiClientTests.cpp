// Every endpoint through the live clients against the stand-in server, over real TLS.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/obj_mac.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QBuffer>
#include <QImage>
#include <QPdfDocument>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "ApiTestSupport.h"
#include "api/Clients.h"
#include "http/VastelError.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/Codecs.h"
#include "platform/SHA256.h"
#include "platform/qt/SystemInfo.h"
#include "platform/qt/TlsTrust.h"
#include "sim/testing/SimServerProcess.h"

using namespace halcyra;
using namespace apitest;
using platform::Bytes;
using platform::json::Json;
using simtest::SimServerProcess;
using testsupport::issueCitizenCard;
using Strings = std::vector<std::string>;

namespace {

constexpr const char* kReason = "macOS Quorvane";
constexpr const char* kSHA256 = "2.16.840.1.101.3.4.2.1";

Bytes decodeURL(const std::string& text) {
    auto bytes = platform::base64URLDecoded(text);
    EXPECT_TRUE(bytes) << text;
    return bytes.value_or(Bytes{});
}

// A network error carries the HTTP client's network error and describes itself with its description.
void expectHTTPNetworkError(const HalcyraError& error) {
    try {
        std::rethrow_exception(error.rawError());
    } catch (const vastel::VastelError& e) {
        EXPECT_EQ(e.kind(), vastel::VastelError::Kind::networkError);
        EXPECT_EQ(error.errorDescription(), "Network error: " + e.errorDescription() + ".");
    } catch (...) {
        ADD_FAILURE() << "the raw error is not the HTTP client's";
    }
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The text of a one-page PDF document, read with Qt Pdf; nothing when it is not one.
std::optional<std::string> pdfText(const Bytes& bytes) {
    QByteArray data(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QPdfDocument document;
    document.load(&buffer);
    if (document.status() != QPdfDocument::Status::Ready || document.pageCount() != 1)
        return std::nullopt;
    return document.getAllText(0).text().toStdString();
}

bool isPDF(const Bytes& bytes) {
    return pdfText(bytes).has_value();
}

// An issuer with the very name of the test card issuer, but a key of its own.
const testsupport::Issued& impostorCA() {
    static const testsupport::Issued ca = [] {
        testsupport::CertificateRequest request;
        request.commonName = subjectAttribute(testsupport::cardCA().der(), NID_commonName).value();
        request.isCA = true;
        return testsupport::makeSelfSigned(request);
    }();
    return ca;
}

class ApiAgainstServer : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        server = new SimServerProcess({"--wallet-polls", "3", "--retry-after-ms", "1500"});
        ASSERT_TRUE(platform::addTrustedCACertificates(server->caFile()));
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    void SetUp() override {
        platform::SystemInfo::setPreferredLanguagesOverride(Strings{"en-GB"});
        server->clearFaults();
        server->clearRequests();
    }
    void TearDown() override { platform::SystemInfo::setPreferredLanguagesOverride(std::nullopt); }

    // The server got one POST on `path` (below the base path) with exactly these keys, in this order.
    void expectReceived(const std::string& path, const Strings& keys) {
        auto received = server->lastRequest();
        EXPECT_EQ(received.path, "/srvremotesign" + path);
        EXPECT_EQ(apitest::keys(received.body), keys) << received.body.dump();
    }

    std::string authenticateWithCard(const testsupport::Issued& card) {
        auto methods = must(auth->getAuthenticationMethods("CLIENTDATA000001", LevelOfAssurance::high));
        auto data = must(auth->getAuthenticationMethodData(AuthenticationMethod::eid, methods.sessionId));
        EXPECT_TRUE(data.eid);
        if (!data.eid)
            throw std::runtime_error("no eid part");
        auto signature = cardSignature(card, decodeURL(data.eid->hashToSign));
        auto result = must(auth->authenticate(AuthenticateRequest(
            methods.sessionId, AuthenticateRequest::EID{platform::base64Encoded(card.der()),
                                                        platform::base64Encoded(signature)})));
        EXPECT_EQ(result.state, AuthenticationState::ready);
        return methods.sessionId;
    }

    // Signs the agreement with the card in the authenticated session, which opens the holder's account; the
    // card's signature over the agreement.
    Bytes onboardWithCard(const testsupport::Issued& card, const std::string& session) {
        auto onboardingData = must(onboarding->confirmUserData({session, "en", "UserAgreement.pdf"}));
        EXPECT_TRUE(onboardingData.eid);
        if (!onboardingData.eid)
            throw std::runtime_error("no eid part");
        auto signature = cardSignature(card, decodeURL(onboardingData.eid->hashToSign));
        must(onboarding->signAgreement(
            SignAgreementRequest(onboardingData.onboardingSessionId,
                                 SignAgreementRequest::EID{platform::base64Encoded(card.der()),
                                                           platform::base64Encoded(signature)})));
        return signature;
    }

    // Polls until the server reports the state (at most 10 polls).
    WalletPollingResponse pollUntil(const std::string& pollSessionId, WalletPollingStatus status) {
        WalletPollingResponse response{};
        for (int i = 0; i < 10; ++i) {
            response = must(wallet->pollWallet(pollSessionId));
            if (response.status == status)
                break;
        }
        EXPECT_EQ(response.status, status);
        return response;
    }

    static SimServerProcess* server;
    std::shared_ptr<LoggerClient> logger = std::make_shared<LoggerClient>("api-tests");
    std::shared_ptr<AuthenticateAPIClient> auth =
        HalcyraClientProvider::authenticateClient(server->basePath(), logger);
    std::shared_ptr<OnboardingAPIClient> onboarding =
        HalcyraClientProvider::onboardingClient(server->basePath(), logger);
    std::shared_ptr<RemoteSigningAPIClient> signing =
        HalcyraClientProvider::remoteSigningClient(server->basePath(), logger);
    std::shared_ptr<WalletAPIClient> wallet = HalcyraClientProvider::walletClient(server->basePath(), logger);
};

SimServerProcess* ApiAgainstServer::server = nullptr;

TEST_F(ApiAgainstServer, CardHolderOnboardsSignsAndDeletesTheAccount) {
    auto card = issueCitizenCard("Jan", "Peeters", "71715100070");

    auto methods = must(auth->getAuthenticationMethods("CLIENTDATA000001", LevelOfAssurance::substantial));
    expectReceived("/auth/getMeans", {"clientData", "level"});
    EXPECT_EQ(server->lastRequest().body,
              Json::parse(R"({"clientData":"CLIENTDATA000001","level":"substantial"})"));
    EXPECT_FALSE(methods.sessionId.empty());
    std::vector<AuthenticationMethodsResponse::Method> offered = {{AuthenticationMethod::eid, false},
                                                                  {AuthenticationMethod::wallet, false}};
    EXPECT_EQ(methods.methods, offered);

    auto data = must(auth->getAuthenticationMethodData(AuthenticationMethod::eid, methods.sessionId));
    expectReceived("/auth/getMeanData", {"sessionId", "mean"});
    EXPECT_EQ(server->lastRequest().body["mean"], "eid");
    ASSERT_TRUE(data.eid);
    EXPECT_FALSE(data.wallet);
    EXPECT_EQ(decodeURL(data.eid->hashToSign).size(), 32u);

    auto signature = cardSignature(card, decodeURL(data.eid->hashToSign), SignatureForm::raw);
    auto before = std::chrono::system_clock::now();
    auto result = must(auth->authenticate(AuthenticateRequest(
        methods.sessionId,
        AuthenticateRequest::EID{platform::base64Encoded(card.der()), platform::base64Encoded(signature)})));
    expectReceived("/auth/authenticate", {"sessionId", "eid"});
    EXPECT_EQ(keys(server->lastRequest().body["eid"]), (Strings{"authenticationCertificate", "signature"}));
    EXPECT_EQ(server->lastRequest().body["eid"]["authenticationCertificate"],
              platform::base64Encoded(card.der()));
    EXPECT_EQ(result.state, AuthenticationState::ready);
    EXPECT_EQ(result.method, AuthenticationMethod::eid);
    // The server grants an hour; its time has millisecond precision.
    EXPECT_GT(result.expirationDate, before + std::chrono::minutes(59));
    EXPECT_LT(result.expirationDate, before + std::chrono::minutes(61));
    const std::string session = methods.sessionId;

    auto status = must(signing->getAccountStatus(session));
    expectReceived("/rsign/getAccountStatus", {"authSessionId"});
    EXPECT_EQ(status.status, AccountStatus::deleted);
    EXPECT_TRUE(status.canSign) << "a holder without an account may create one";
    EXPECT_EQ(status.firstName, "Jan");
    EXPECT_EQ(status.lastName, "Peeters");
    EXPECT_EQ(status.rrnr, "71715100070");

    for (const char* language : {"en", "fr", "nl", "de"}) {
        auto agreement = must(onboarding->getAgreementFile({session, language}));
        expectReceived("/onboarding/getAgreementFile", {"authSessionId", "pdfLanguage"});
        EXPECT_TRUE(isPDF(agreement)) << language;
    }

    auto onboardingData = must(onboarding->confirmUserData({session, "en", "UserAgreement.pdf"}));
    expectReceived("/onboarding/confirmUserData", {"authSessionId", "uiLanguage", "pdfName"});
    ASSERT_TRUE(onboardingData.eid);
    EXPECT_FALSE(onboardingData.wallet);
    EXPECT_EQ(decodeURL(onboardingData.userAgreementHash).size(), 32u);

    auto agreementSignature = cardSignature(card, decodeURL(onboardingData.eid->hashToSign));
    auto signedAgreement = must(onboarding->signAgreement(
        SignAgreementRequest(onboardingData.onboardingSessionId,
                             SignAgreementRequest::EID{platform::base64Encoded(card.der()),
                                                       platform::base64Encoded(agreementSignature)})));
    expectReceived("/onboarding/signAgreement", {"onboardingSessionId", "eid"});
    auto text = pdfText(signedAgreement);
    ASSERT_TRUE(text);
    EXPECT_NE(text->find("Subscriber agreement"), std::string::npos) << *text;
    EXPECT_NE(text->find("Jan Peeters (71715100070)"), std::string::npos) << *text;

    EXPECT_EQ(must(onboarding->getSignedAgreementFile(session)), signedAgreement);
    expectReceived("/onboarding/getSignedAgreementFile", {"authSessionId"});

    status = must(signing->getAccountStatus(session));
    EXPECT_EQ(status.status, AccountStatus::active);
    EXPECT_TRUE(status.canSign);
    EXPECT_EQ(status.cannotSignReasonCode, 0);

    auto info = must(signing->getSignatureInfo(session));
    expectReceived("/rsign/getSignatureInfo", {"authSessionId"});
    EXPECT_EQ(info.status, SigningStatus::ready);
    EXPECT_EQ(info.maxSignatures, 100);
    EXPECT_EQ(subjectAttribute(info.signingCertificate, NID_givenName), "Jan");
    EXPECT_EQ(subjectAttribute(info.signingCertificate, NID_surname), "Peeters");
    EXPECT_EQ(subjectAttribute(info.signingCertificate, NID_serialNumber), "71715100070");
    ASSERT_EQ(info.certificateChain.size(), 1u);
    EXPECT_TRUE(issuedBy(info.signingCertificate, info.certificateChain[0]));
    auto ca = platform::Certificate::fromPEM(readFile(server->caFile()));
    ASSERT_TRUE(ca);
    EXPECT_EQ(info.certificateChain[0], ca->data());

    // Two documents; the signatures must verify with the issued certificate over each document's hash.
    Bytes first = platform::sha256(platform::toBytes("first document"));
    Bytes second = platform::sha256(platform::toBytes("second document"));
    auto consent = must(signing->getDataToConsent(
        {"CLIENTDATA000001",
         session,
         kSHA256,
         {{"first.pdf", platform::base64Encoded(first)}, {"second.pdf", platform::base64Encoded(second)}}}));
    expectReceived("/rsign/getDataToConsent",
                   {"clientData", "authSessionId", "hashAlgorithmOID", "hashesToSign"});
    EXPECT_EQ(keys(server->lastRequest().body["hashesToSign"][0]), (Strings{"label", "hash"}));
    EXPECT_EQ(server->lastRequest().body["hashesToSign"][1]["label"], "second.pdf");
    ASSERT_TRUE(consent.eid);
    EXPECT_FALSE(consent.wallet);

    auto consentSignature = cardSignature(card, decodeURL(consent.eid->hashToSign));
    auto signed_ = must(signing->consentAndSignHashes(ConsentAndSignHashesRequest(
        consent.consentSessionId,
        ConsentAndSignHashesRequest::EID{platform::base64Encoded(card.der()),
                                         platform::base64Encoded(consentSignature)})));
    expectReceived("/rsign/consentAndSignHashes", {"consentSessionId", "eid"});
    ASSERT_EQ(signed_.signatures.size(), 2u);
    EXPECT_TRUE(verifiesWith(info.signingCertificate, first, decodeURL(signed_.signatures[0])));
    EXPECT_TRUE(verifiesWith(info.signingCertificate, second, decodeURL(signed_.signatures[1])));
    EXPECT_FALSE(verifiesWith(info.signingCertificate, first, decodeURL(signed_.signatures[1])));

    auto deleted = run(signing->deleteAccount(session, kReason));
    EXPECT_TRUE(deleted.value);
    expectReceived("/rsign/deleteAccount", {"authSessionId", "reason"});
    EXPECT_EQ(server->lastRequest().body["reason"], kReason);

    EXPECT_EQ(must(signing->getAccountStatus(session)).status, AccountStatus::deleted);
    auto missing = must(signing->getSignatureInfo(session));
    EXPECT_EQ(missing.status, SigningStatus::missing);
    EXPECT_TRUE(missing.signingCertificate.empty());
    // Its key is gone: only onboarding again reopens it.
    EXPECT_EQ(
        server->control("/accounts", {{"rrnr", "71715100070"}, {"status", "ACTIVE"}, {"canSign", true}}),
        400);
    EXPECT_EQ(must(signing->getAccountStatus(session)).status, AccountStatus::deleted);
}

// A wallet sheet polls about once a second for minutes: each poll rides the connection of the one before, not
// a new TLS handshake.
TEST_F(ApiAgainstServer, PollsOfOneClientRideOneConnection) {
    auto methods = must(auth->getAuthenticationMethods("CLIENTDATA000003", LevelOfAssurance::high));
    auto data = must(auth->getAuthenticationMethodData(AuthenticationMethod::wallet, methods.sessionId));
    ASSERT_TRUE(data.wallet);
    server->clearRequests();
    for (int i = 0; i < 12; ++i)
        must(wallet->pollWallet(data.wallet->pollSessionId));
    const auto received = server->requests();
    ASSERT_EQ(received.size(), 12u);
    for (const auto& request : received)
        EXPECT_EQ(request.clientPort, received.front().clientPort);
}

TEST_F(ApiAgainstServer, WalletHolderOnboardsAndSigns) {
    auto methods = must(auth->getAuthenticationMethods("CLIENTDATA000002", LevelOfAssurance::high));
    auto data = must(auth->getAuthenticationMethodData(AuthenticationMethod::wallet, methods.sessionId));
    EXPECT_EQ(server->lastRequest().body["mean"], "wallet");
    ASSERT_TRUE(data.wallet);
    EXPECT_FALSE(data.eid);

    auto first = must(wallet->pollWallet(data.wallet->pollSessionId));
    expectReceived("/wallet/poll", {"pollSessionId"});
    EXPECT_EQ(first.status, WalletPollingStatus::scanPending);
    EXPECT_EQ(first.millisecondsBeforeNextPolling, 1500);
    ASSERT_TRUE(first.sessionSecondsLeft);
    EXPECT_GT(*first.sessionSecondsLeft, 170);
    ASSERT_TRUE(first.qrCodeImageData);
    QImage qr = QImage::fromData(first.qrCodeImageData->data(),
                                 static_cast<int>(first.qrCodeImageData->size()), "PNG");
    ASSERT_FALSE(qr.isNull());
    EXPECT_EQ(qr.width(), qr.height());
    // The finder pattern in the top-left corner, after a quiet zone of four modules of six pixels.
    EXPECT_EQ(qGray(qr.pixel(4 * 6 + 3, 4 * 6 + 3)), 0);
    EXPECT_EQ(qGray(qr.pixel(5 * 6 + 3, 5 * 6 + 3)), 255);
    EXPECT_EQ(qGray(qr.pixel(6 * 6 + 3, 6 * 6 + 3)), 0);
    EXPECT_EQ(qGray(qr.pixel(3, 3)), 255);

    auto pending = must(wallet->pollWallet(data.wallet->pollSessionId));
    EXPECT_EQ(pending.status, WalletPollingStatus::authenticationPending);
    EXPECT_FALSE(pending.qrCodeImageData);
    pollUntil(data.wallet->pollSessionId, WalletPollingStatus::authenticated);

    auto result = must(auth->authenticate(
        AuthenticateRequest(methods.sessionId, AuthenticateRequest::Wallet{data.wallet->pollSessionId})));
    expectReceived("/auth/authenticate", {"sessionId", "wallet"});
    EXPECT_EQ(server->lastRequest().body["wallet"],
              Json::parse("{\"pollSessionId\":\"" + data.wallet->pollSessionId + "\"}"));
    EXPECT_EQ(result.state, AuthenticationState::ready);
    EXPECT_EQ(result.method, AuthenticationMethod::wallet);
    const std::string session = methods.sessionId;

    auto onboardingData = must(onboarding->confirmUserData({session, "en", "UserAgreement.pdf"}));
    ASSERT_TRUE(onboardingData.wallet);
    EXPECT_FALSE(onboardingData.eid);
    // Confirmed in the wallet app: the control call stands in for the user's phone.
    EXPECT_EQ(server->control("/wallet", {{"pollSessionId", onboardingData.wallet->pollSessionId},
                                          {"state", "AUTHENTICATED"}}),
              200);
    auto signedAgreement = must(onboarding->signAgreement(
        SignAgreementRequest(onboardingData.onboardingSessionId,
                             SignAgreementRequest::Wallet{onboardingData.wallet->pollSessionId})));
    expectReceived("/onboarding/signAgreement", {"onboardingSessionId", "wallet"});
    EXPECT_TRUE(isPDF(signedAgreement));

    auto status = must(signing->getAccountStatus(session));
    EXPECT_EQ(status.status, AccountStatus::active);
    EXPECT_EQ(status.firstName, "Lotte");
    auto info = must(signing->getSignatureInfo(session));

    Bytes hash = platform::sha256(platform::toBytes("wallet document"));
    auto consent = must(signing->getDataToConsent(
        {"CLIENTDATA000002", session, kSHA256, {{"dummy.pdf", platform::base64Encoded(hash)}}}));
    ASSERT_TRUE(consent.wallet);
    EXPECT_FALSE(consent.eid);
    pollUntil(consent.wallet->pollSessionId, WalletPollingStatus::authenticated);
    auto signed_ = must(signing->consentAndSignHashes(ConsentAndSignHashesRequest(
        consent.consentSessionId, ConsentAndSignHashesRequest::Wallet{consent.wallet->pollSessionId})));
    expectReceived("/rsign/consentAndSignHashes", {"consentSessionId", "wallet"});
    ASSERT_EQ(signed_.signatures.size(), 1u);
    EXPECT_TRUE(verifiesWith(info.signingCertificate, hash, decodeURL(signed_.signatures[0])));

    // A consent is used once.
    auto again = run(signing->consentAndSignHashes(ConsentAndSignHashesRequest(
        consent.consentSessionId, ConsentAndSignHashesRequest::Wallet{consent.wallet->pollSessionId})));
    auto error = again.errorAs<halcyra::HalcyraError>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), HalcyraError::Kind::backendError);
    EXPECT_EQ(error->statusCode(), 404);
    EXPECT_EQ(run(signing->deleteAccount(session, kReason)).error, nullptr);
}

// Two registrations of the same person side by side: the second signature must not replace the account the
// first one opened (and with it the signing key).
TEST_F(ApiAgainstServer, OnlyTheFirstOfTwoRegistrationsOpensTheAccount) {
    auto login = [this] {
        auto methods = must(auth->getAuthenticationMethods("CLIENTDATA000010", LevelOfAssurance::high));
        auto data = must(auth->getAuthenticationMethodData(AuthenticationMethod::wallet, methods.sessionId));
        pollUntil(data.wallet->pollSessionId, WalletPollingStatus::authenticated);
        must(auth->authenticate(
            AuthenticateRequest(methods.sessionId, AuthenticateRequest::Wallet{data.wallet->pollSessionId})));
        return methods.sessionId;
    };
    const std::string first = login(), second = login();
    auto firstData = must(onboarding->confirmUserData({first, "en", "UserAgreement.pdf"}));
    auto secondData = must(onboarding->confirmUserData({second, "en", "UserAgreement.pdf"}));
    auto sign = [this](const OnboardingData& data) {
        EXPECT_EQ(server->control(
                      "/wallet", {{"pollSessionId", data.wallet->pollSessionId}, {"state", "AUTHENTICATED"}}),
                  200);
        return run(onboarding->signAgreement(SignAgreementRequest(
            data.onboardingSessionId, SignAgreementRequest::Wallet{data.wallet->pollSessionId})));
    };
    ASSERT_TRUE(sign(firstData).value);
    auto certificate = must(signing->getSignatureInfo(first)).signingCertificate;

    auto error = sign(secondData).errorAs<halcyra::HalcyraError>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->statusCode(), 409);
    EXPECT_EQ(must(signing->getSignatureInfo(first)).signingCertificate, certificate);
    EXPECT_EQ(run(signing->deleteAccount(first, kReason)).error, nullptr);
}

// A login proof counts only with a card from a trusted issuer and a signature over the hash to sign.
TEST_F(ApiAgainstServer, ACardProofMustVerify) {
    enum class Card { trusted, expired, selfMade, impostorIssued };
    const std::string badCertificate = "The certificate of your card is not valid.";
    const std::string badSignature = "The signature of your card could not be verified.";
    struct Case {
        const char* name;
        Card card;
        testsupport::KeyType keyType;
        SignatureForm form;
        bool signOtherData;
        std::optional<std::string> refusal;  // the server's message, for a proof it refuses
    };
    const Case cases[] = {
        {"EC, DER", Card::trusted, testsupport::KeyType::ecP256, SignatureForm::der, false, {}},
        {"EC, r||s", Card::trusted, testsupport::KeyType::ecP256, SignatureForm::raw, false, {}},
        {"RSA", Card::trusted, testsupport::KeyType::rsa2048, SignatureForm::der, false, {}},
        {"EC over other data", Card::trusted, testsupport::KeyType::ecP256, SignatureForm::der, true,
         badSignature},
        {"expired card", Card::expired, testsupport::KeyType::ecP256, SignatureForm::der, false,
         badCertificate},
        {"self-made card", Card::selfMade, testsupport::KeyType::ecP256, SignatureForm::der, false,
         badCertificate},
        {"card from an issuer with the trusted one's name", Card::impostorIssued,
         testsupport::KeyType::ecP256, SignatureForm::der, false, badCertificate},
    };
    auto makeCard = [](Card kind, testsupport::KeyType keyType) {
        auto request = testsupport::citizenCard("An", "Maes", "90010100123", keyType);
        switch (kind) {
            case Card::trusted:
                break;
            case Card::expired:
                request.notBeforeOffset = -std::chrono::hours(48);
                request.notAfterOffset = -std::chrono::hours(24);
                break;
            case Card::selfMade:
                return testsupport::makeSelfSigned(request);
            case Card::impostorIssued:
                return testsupport::issue(request, impostorCA());
        }
        return testsupport::issue(request, testsupport::cardCA());
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto card = makeCard(c.card, c.keyType);
        auto methods = must(auth->getAuthenticationMethods("CLIENTDATA000003", LevelOfAssurance::high));
        auto data = must(auth->getAuthenticationMethodData(AuthenticationMethod::eid, methods.sessionId));
        Bytes digest =
            c.signOtherData ? platform::sha256(platform::toBytes("other")) : decodeURL(data.eid->hashToSign);
        auto outcome = run(auth->authenticate(AuthenticateRequest(
            methods.sessionId,
            AuthenticateRequest::EID{platform::base64Encoded(card.der()),
                                     platform::base64Encoded(cardSignature(card, digest, c.form))})));
        if (!c.refusal) {
            ASSERT_TRUE(outcome.value);
            EXPECT_EQ(outcome.value->state, AuthenticationState::ready);
        } else {
            auto error = outcome.errorAs<halcyra::HalcyraError>();
            ASSERT_TRUE(error);
            EXPECT_EQ(error->kind(), HalcyraError::Kind::backendError);
            EXPECT_EQ(error->statusCode(), 401);
            EXPECT_EQ(error->message(), *c.refusal);
            EXPECT_EQ(error->supportIds().size(), 1u);
        }
    }
}

// The agreement and every consent of a card session are proven by the card that logged in: the holder's other
// card, another holder's card and a self-made copy are refused, and the session's own card still succeeds.
TEST_F(ApiAgainstServer, LaterProofsComeFromTheCardThatLoggedIn) {
    auto card = issueCitizenCard("Lien", "Goossens", "93030300222");
    struct Other {
        const char* name;
        testsupport::Issued card;
        int status;
        std::string message;
    };
    const Other others[] = {
        {"the holder's other card", issueCitizenCard("Lien", "Goossens", "93030300222"), 403,
         "Please use the card you logged in with."},
        {"another holder's card", issueCitizenCard("Bart", "Smets", "70070700333"), 403,
         "Please use the card you logged in with."},
        {"a self-made copy",
         testsupport::makeSelfSigned(testsupport::citizenCard("Lien", "Goossens", "93030300222")), 401,
         "The certificate of your card is not valid."},
    };
    // Each proof is the signer's certificate and its signature over the hash to sign.
    auto proofBy = [](const testsupport::Issued& signer, const std::string& hashToSign) {
        return std::pair{platform::base64Encoded(signer.der()),
                         platform::base64Encoded(cardSignature(signer, decodeURL(hashToSign)))};
    };
    auto expectRefused = [](const auto& outcome, const Other& other) {
        auto error = outcome.template errorAs<halcyra::HalcyraError>();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->statusCode(), other.status);
        EXPECT_EQ(error->message(), other.message);
    };
    auto session = authenticateWithCard(card);

    auto onboardingData = must(onboarding->confirmUserData({session, "en", "UserAgreement.pdf"}));
    ASSERT_TRUE(onboardingData.eid);
    auto signAgreementBy = [&](const testsupport::Issued& signer) {
        auto [certificate, signature] = proofBy(signer, onboardingData.eid->hashToSign);
        return run(onboarding->signAgreement(SignAgreementRequest(
            onboardingData.onboardingSessionId, SignAgreementRequest::EID{certificate, signature})));
    };
    for (const auto& other : others) {
        SCOPED_TRACE(std::string("agreement signed with ") + other.name);
        expectRefused(signAgreementBy(other.card), other);
    }
    ASSERT_TRUE(signAgreementBy(card).value);

    Bytes hash = platform::sha256(platform::toBytes("one document"));
    auto consent = must(signing->getDataToConsent(
        {"CLIENTDATA000011", session, kSHA256, {{"a.pdf", platform::base64Encoded(hash)}}}));
    ASSERT_TRUE(consent.eid);
    auto consentBy = [&](const testsupport::Issued& signer) {
        auto [certificate, signature] = proofBy(signer, consent.eid->hashToSign);
        return run(signing->consentAndSignHashes(ConsentAndSignHashesRequest(
            consent.consentSessionId, ConsentAndSignHashesRequest::EID{certificate, signature})));
    };
    for (const auto& other : others) {
        SCOPED_TRACE(std::string("consent given with ") + other.name);
        expectRefused(consentBy(other.card), other);
    }
    auto signed_ = consentBy(card);
    ASSERT_TRUE(signed_.value);
    ASSERT_EQ(signed_.value->signatures.size(), 1u);
    EXPECT_TRUE(verifiesWith(must(signing->getSignatureInfo(session)).signingCertificate, hash,
                             decodeURL(signed_.value->signatures[0])));
    EXPECT_EQ(run(signing->deleteAccount(session, kReason)).error, nullptr);
}

TEST_F(ApiAgainstServer, AccountThatCannotSignReportsItsReason) {
    auto card = issueCitizenCard("Els", "Wouters", "88020200456");
    auto session = authenticateWithCard(card);
    onboardWithCard(card, session);
    Json reason = {
        {"code", "-12"},
        {"descriptions", {{"en", "Blocked"}, {"fr", "Bloqué"}, {"nl", "Geblokkeerd"}, {"de", "Gesperrt"}}}};
    ASSERT_EQ(server->control("/accounts", {{"rrnr", "88020200456"}, {"canSign", false}, {"reason", reason}}),
              200);

    auto status = must(signing->getAccountStatus(session));
    EXPECT_EQ(status.status, AccountStatus::active);
    EXPECT_FALSE(status.canSign);
    EXPECT_EQ(status.cannotSignReasonCode, -12);
    platform::SystemInfo::setPreferredLanguagesOverride(Strings{"nl-BE", "fr"});
    EXPECT_EQ(status.cannotSignReasonTextInCurrentLanguage(), "Geblokkeerd");

    auto consent = run(signing->getDataToConsent(
        {"CLIENTDATA000004", session, kSHA256, {{"a.pdf", platform::base64Encoded(platform::sha256({1}))}}}));
    auto error = consent.errorAs<halcyra::HalcyraError>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->statusCode(), 403);
    EXPECT_EQ(error->message(), "Uw account kan momenteel niet ondertekenen.");
    EXPECT_EQ(run(signing->deleteAccount(session, kReason)).error, nullptr);
}

TEST(WalletExpiry, APollSessionRunsOut) {
    SimServerProcess server({"--wallet-seconds", "1", "--wallet-polls", "0"});
    ASSERT_TRUE(platform::addTrustedCACertificates(server.caFile()));
    auto logger = std::make_shared<LoggerClient>("api-tests");
    auto auth = HalcyraClientProvider::authenticateClient(server.basePath(), logger);
    auto wallet = HalcyraClientProvider::walletClient(server.basePath(), logger);
    auto methods = must(auth->getAuthenticationMethods("CLIENTDATA000005", LevelOfAssurance::high));
    auto data = must(auth->getAuthenticationMethodData(AuthenticationMethod::wallet, methods.sessionId));
    EXPECT_EQ(must(wallet->pollWallet(data.wallet->pollSessionId)).status, WalletPollingStatus::scanPending);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    auto expired = must(wallet->pollWallet(data.wallet->pollSessionId));
    EXPECT_EQ(expired.status, WalletPollingStatus::expired);
    EXPECT_EQ(expired.sessionSecondsLeft, 0);
    EXPECT_FALSE(expired.qrCodeImageData);

    auto late = run(auth->authenticate(
        AuthenticateRequest(methods.sessionId, AuthenticateRequest::Wallet{data.wallet->pollSessionId})));
    auto error = late.errorAs<halcyra::HalcyraError>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), HalcyraError::Kind::backendError);
    EXPECT_EQ(error->statusCode(), 400);
}

// Operations of one client may run at the same time; each gets its own reply.
TEST_F(ApiAgainstServer, OperationsOverlap) {
    auto all = [](std::shared_ptr<AuthenticateAPIClient> client) -> QCoro::Task<std::vector<std::string>> {
        std::vector<QCoro::Task<AuthenticationMethodsResponse>> calls;
        for (int i = 0; i < 4; ++i)
            calls.push_back(client->getAuthenticationMethods("CLIENTDATA00001" + std::to_string(i),
                                                             LevelOfAssurance::high));
        std::vector<std::string> sessions;
        for (auto& call : calls)
            sessions.push_back((co_await std::move(call)).sessionId);
        co_return sessions;
    };
    server->fault("/auth/getMeans", {{"delayMs", 200}, {"passThrough", true}});
    auto sessions = must(all(auth));
    std::sort(sessions.begin(), sessions.end());
    EXPECT_EQ(std::unique(sessions.begin(), sessions.end()), sessions.end());
    EXPECT_EQ(server->requests().size(), 4u);
}

// --- Error mapping

Json errorBody(bool withSupportIds = true, bool withDe = true, bool frWithFaq = true) {
    Json body;
    body["error"] = "SOME_ERROR";
    if (withSupportIds)
        body["supportIds"] = {"S-1", "S-2"};
    body["en"] = {{"text", "English text"}, {"faqUrl", "https://faq/en"}};
    if (withDe)
        body["de"] = {{"text", "Deutscher Text"}, {"faqUrl", "https://faq/de"}};
    body["fr"] = frWithFaq ? Json{{"text", "Texte français"}, {"faqUrl", "https://faq/fr"}}
                           : Json{{"text", "Texte français"}};
    body["nl"] = {{"text", "Nederlandse tekst"}, {"faqUrl", "https://faq/nl"}};
    return body;
}

TEST_F(ApiAgainstServer, ErrorMapping) {
    enum class Expect { success, backend, other, network };
    struct Case {
        const char* name;
        Json fault;
        Strings languages;
        Expect expect;
        int status = 0;
        std::string message;
        std::optional<std::string> faqUrl;
        Strings supportIds;
    };
    const std::string means = R"({"sessionId":"S","means":[]})";
    const Case cases[] = {
        {"French in Switzerland",
         {{"status", 400}, {"rawBody", errorBody().dump()}},
         {"fr-CH"},
         Expect::backend,
         400,
         "Texte français",
         "https://faq/fr",
         {"S-1", "S-2"}},
        {"Dutch",
         {{"status", 401}, {"rawBody", errorBody().dump()}},
         {"nl_BE"},
         Expect::backend,
         401,
         "Nederlandse tekst",
         "https://faq/nl",
         {"S-1", "S-2"}},
        {"German",
         {{"status", 403}, {"rawBody", errorBody().dump()}},
         {"de"},
         Expect::backend,
         403,
         "Deutscher Text",
         "https://faq/de",
         {"S-1", "S-2"}},
        {"Spanish",
         {{"status", 400}, {"rawBody", errorBody().dump()}},
         {"es-ES"},
         Expect::backend,
         400,
         "English text",
         "https://faq/en",
         {"S-1", "S-2"}},
        {"only the first language counts",
         {{"status", 400}, {"rawBody", errorBody().dump()}},
         {"pt-BR", "fr-FR"},
         Expect::backend,
         400,
         "English text",
         "https://faq/en",
         {"S-1", "S-2"}},
        {"no languages",
         {{"status", 400}, {"rawBody", errorBody().dump()}},
         {},
         Expect::backend,
         400,
         "English text",
         "https://faq/en",
         {"S-1", "S-2"}},
        {"no support ids, no FAQ link",
         {{"status", 409}, {"rawBody", errorBody(false, true, false).dump()}},
         {"fr"},
         Expect::backend,
         409,
         "Texte français",
         std::nullopt,
         {}},
        {"German entry missing",
         {{"status", 400}, {"rawBody", errorBody(true, false).dump()}},
         {"fr"},
         Expect::other,
         0,
         "",
         std::nullopt,
         {}},
        {"server error without body",
         {{"status", 500}, {"body", "empty"}},
         {"en"},
         Expect::other,
         0,
         "",
         std::nullopt,
         {}},
        {"server error with HTML",
         {{"status", 502}, {"rawBody", "<html>Bad gateway</html>"}},
         {"en"},
         Expect::other,
         0,
         "",
         std::nullopt,
         {}},
        {"the server's own error body",
         {{"status", 503}, {"body", "error"}},
         {"de-CH"},
         Expect::backend,
         503,
         "Der Dienst ist vorübergehend nicht verfügbar.",
         "https://faq.quorvane.example/de/errors/service-unavailable",
         {}},
        {"300 is not success",
         {{"status", 300}, {"rawBody", errorBody().dump()}},
         {"en"},
         Expect::backend,
         300,
         "English text",
         "https://faq/en",
         {"S-1", "S-2"}},
        {"599",
         {{"status", 599}, {"rawBody", errorBody().dump()}},
         {"en"},
         Expect::backend,
         599,
         "English text",
         "https://faq/en",
         {"S-1", "S-2"}},
        {"299 is success",
         {{"status", 299}, {"rawBody", means}},
         {"en"},
         Expect::success,
         0,
         "",
         std::nullopt,
         {}},
        {"200 with a body that is not JSON",
         {{"status", 200}, {"body", "malformed"}},
         {"en"},
         Expect::other,
         0,
         "",
         std::nullopt,
         {}},
        {"200 missing a required member",
         {{"status", 200}, {"rawBody", R"({"sessionId":"S"})"}},
         {"en"},
         Expect::other,
         0,
         "",
         std::nullopt,
         {}},
        {"200 with a mean missing its flag",
         {{"status", 200}, {"rawBody", R"({"sessionId":"S","means":[{"mean":"eid"}]})"}},
         {"en"},
         Expect::other,
         0,
         "",
         std::nullopt,
         {}},
        {"dropped connection", {{"drop", true}}, {"en"}, Expect::network, 0, "", std::nullopt, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server->fault("/auth/getMeans", c.fault);
        platform::SystemInfo::setPreferredLanguagesOverride(c.languages);
        auto outcome = run(auth->getAuthenticationMethods("CLIENTDATA000006", LevelOfAssurance::high));
        if (c.expect == Expect::success) {
            EXPECT_TRUE(outcome.value);
            continue;
        }
        auto error = outcome.errorAs<halcyra::HalcyraError>();
        ASSERT_TRUE(error);
        switch (c.expect) {
            case Expect::backend:
                ASSERT_EQ(error->kind(), HalcyraError::Kind::backendError);
                EXPECT_EQ(error->statusCode(), c.status);
                EXPECT_EQ(error->message(), c.message);
                EXPECT_EQ(error->errorDescription(), c.message);
                EXPECT_EQ(error->faqUrl(), c.faqUrl);
                // The server makes one support id of its own for its error bodies.
                EXPECT_EQ(error->supportIds().size(),
                          c.name == std::string("the server's own error body") ? 1u : c.supportIds.size());
                if (!c.supportIds.empty()) {
                    EXPECT_EQ(error->supportIds(), c.supportIds);
                }
                break;
            case Expect::other:
                ASSERT_EQ(error->kind(), HalcyraError::Kind::otherError);
                EXPECT_EQ(error->message(), "Failed to decode API response");
                EXPECT_EQ(error->errorDescription(), "Unexpected error: Failed to decode API response.");
                break;
            case Expect::network: {
                ASSERT_EQ(error->kind(), HalcyraError::Kind::networkError);
                expectHTTPNetworkError(*error);
                break;
            }
            case Expect::success:
                break;
        }
    }
}

// Operations that take the request step convert its failures the same way.
TEST_F(ApiAgainstServer, RequestStepOperationsFailAlike) {
    server->fault("/onboarding/confirmUserData", {{"status", 401}, {"rawBody", errorBody().dump()}});
    platform::SystemInfo::setPreferredLanguagesOverride(Strings{"fr-BE"});
    auto error =
        run(onboarding->confirmUserData({"S", "en", "UserAgreement.pdf"})).errorAs<halcyra::HalcyraError>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), HalcyraError::Kind::backendError);
    EXPECT_EQ(error->message(), "Texte français");

    server->fault("/rsign/getDataToConsent",
                  {{"status", 200}, {"rawBody", R"({"eid":null,"wallet":{"pollSessionId":"P"}})"}});
    error = run(signing->getDataToConsent({"C", "S", kSHA256, {}})).errorAs<halcyra::HalcyraError>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), HalcyraError::Kind::otherError);
    EXPECT_EQ(keys(server->lastRequest().body["hashesToSign"]), Strings{});
    EXPECT_TRUE(server->lastRequest().body["hashesToSign"].is_array());

    server->fault(
        "/rsign/getDataToConsent",
        {{"status", 200},
         {"rawBody", R"({"consentSessionId":"C","eid":null,"wallet":{"pollSessionId":"P"},"extra":1})"}});
    auto consent = must(signing->getDataToConsent({"C", "S", kSHA256, {}}));
    EXPECT_FALSE(consent.eid);
    ASSERT_TRUE(consent.wallet);
    EXPECT_EQ(consent.wallet->pollSessionId, "P");

    server->fault("/rsign/consentAndSignHashes", {{"status", 200}, {"rawBody", R"({"signatures":[]})"}});
    auto none = must(signing->consentAndSignHashes(
        ConsentAndSignHashesRequest("C", ConsentAndSignHashesRequest::Wallet{"P"})));
    EXPECT_TRUE(none.signatures.empty());

    server->fault("/auth/getMeanData", {{"status", 200}, {"rawBody", "{}"}});
    auto nothing = must(auth->getAuthenticationMethodData(AuthenticationMethod::wallet, "S"));
    EXPECT_FALSE(nothing.eid);
    EXPECT_FALSE(nothing.wallet);
}

TEST_F(ApiAgainstServer, DocumentsThatAreNotBase64urlFail) {
    struct Case {
        const char* endpoint;
        std::function<QCoro::Task<Bytes>()> call;
    };
    auto onboardingClient = onboarding;
    const Case cases[] = {
        {"/onboarding/getAgreementFile",
         [onboardingClient] {
             return onboardingClient->getAgreementFile({"S", "en"});
         }},
        {"/onboarding/signAgreement",
         [onboardingClient] {
             return onboardingClient->signAgreement(
                 SignAgreementRequest("O", SignAgreementRequest::Wallet{"P"}));
         }},
        {"/onboarding/getSignedAgreementFile",
         [onboardingClient] { return onboardingClient->getSignedAgreementFile("S"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.endpoint);
        server->fault(c.endpoint, {{"status", 200}, {"rawBody", R"({"bytes":"JVBERi0x+/=="})"}});
        auto error = run(c.call()).errorAs<halcyra::HalcyraError>();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), HalcyraError::Kind::otherError);
        EXPECT_EQ(error->message(), "Could not decode base64 string for document");

        server->fault(c.endpoint, {{"status", 200}, {"rawBody", R"({"document":"JVBERi0x"})"}});
        error = run(c.call()).errorAs<halcyra::HalcyraError>();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->message(), "Failed to decode API response");

        server->fault(c.endpoint, {{"status", 200}, {"rawBody", R"({"bytes":"JVBERi0x-_8"})"}});
        auto bytes = run(c.call());
        ASSERT_TRUE(bytes.value);
        EXPECT_EQ(*bytes.value, (Bytes{'%', 'P', 'D', 'F', '-', '1', 0xfb, 0xff}));
    }
}

// A deletion the server completed is a success, whatever its 2xx reply carries.
TEST_F(ApiAgainstServer, DeleteAccountSucceedsOnAny2xx) {
    const std::pair<Json, const char*> cases[] = {
        {{{"status", 200}, {"rawBody", "OK"}, {"passThrough", true}}, "text body"},
        {{{"status", 200}, {"rawBody", "{}"}, {"passThrough", true}}, "JSON object"},
        {{{"status", 202}, {"body", "empty"}, {"passThrough", true}}, "202 without body"},
        {Json::object(), "204 without body"},
    };
    for (const auto& [fault, name] : cases) {
        SCOPED_TRACE(name);
        auto card = issueCitizenCard("Tom", "Jacobs", "79050500789");
        auto session = authenticateWithCard(card);
        onboardWithCard(card, session);
        if (!fault.empty())
            server->fault("/rsign/deleteAccount", fault);
        LogCapture capture;
        auto outcome = run(signing->deleteAccount(session, kReason));
        EXPECT_TRUE(outcome.value);
        EXPECT_EQ(capture.messages().size(), 1u);  // only the request line
        server->clearFaults();
        EXPECT_EQ(must(signing->getAccountStatus(session)).status, AccountStatus::deleted);
    }
    // A refusal is still an error.
    auto session = authenticateWithCard(issueCitizenCard("Tom", "Jacobs", "79050500789"));
    auto error = run(signing->deleteAccount(session, kReason)).errorAs<halcyra::HalcyraError>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->statusCode(), 404);
}

TEST(NoServer, NetworkErrors) {
    // A port that nothing listens on.
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    int port = ntohs(address.sin_port);
    close(fd);

    auto logger = std::make_shared<LoggerClient>("api-tests");
    for (const std::string& base : {"https://127.0.0.1:" + std::to_string(port) + "/srvremotesign",
                                    std::string("ht tp://not a url/")}) {
        SCOPED_TRACE(base);
        auto wallet = HalcyraClientProvider::walletClient(base, logger);
        auto error = run(wallet->pollWallet("P")).errorAs<halcyra::HalcyraError>();
        ASSERT_TRUE(error);
        ASSERT_EQ(error->kind(), HalcyraError::Kind::networkError);
        expectHTTPNetworkError(*error);
    }
}

// --- Debug log

TEST_F(ApiAgainstServer, DebugLinesOfEachOutcome) {
    LogCapture capture;
    auto methods = must(auth->getAuthenticationMethods("CLIENTDATA000007", LevelOfAssurance::high));
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].level, LogLevel::debug);
    EXPECT_EQ(lines[0].logID, "api-tests");
    EXPECT_EQ(lines[0].message,
              "Sending request to /auth/getMeans:\n{\"clientData\":\"CLIENTDATA000007\",\"level\":\"high\"}");
    EXPECT_EQ(
        lines[1].message,
        "Received result: \n{\"sessionId\":\"" + sessionTag(methods.sessionId) +
            "\",\"means\":[{\"mean\":\"eid\",\"disabled\":false},{\"mean\":\"wallet\",\"disabled\":false}]}");

    capture.clear();
    server->fault("/auth/getMeans", {{"status", 400}, {"rawBody", errorBody(false).dump()}});
    run(auth->getAuthenticationMethods("CLIENTDATA000007", LevelOfAssurance::high));
    auto messages = capture.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], "Request failed with error data: \n" + errorBody(false).dump());

    for (const Json& fault : {Json{{"status", 200}, {"rawBody", R"({"sessionId":"S"})"}},
                              Json{{"status", 500}, {"body", "malformed"}}, Json{{"drop", true}}}) {
        capture.clear();
        server->fault("/auth/getMeans", fault);
        run(auth->getAuthenticationMethods("CLIENTDATA000007", LevelOfAssurance::high));
        messages = capture.messages();
        ASSERT_EQ(messages.size(), 1u) << fault.dump();
        EXPECT_EQ(messages[0].rfind("Sending request to /auth/getMeans:\n", 0), 0u);
    }
}

// Identity data, proofs, documents and images reach the debug log only redacted, session ids only as tags.
TEST_F(ApiAgainstServer, DebugLinesHoldNothingSecret) {
    LogCapture capture;
    auto card = issueCitizenCard("Griet", "Claes", "66120800111");
    auto session = authenticateWithCard(card);
    auto agreementSignature = onboardWithCard(card, session);
    must(onboarding->getAgreementFile({session, "en"}));
    must(onboarding->getSignedAgreementFile(session));
    must(signing->getAccountStatus(session));
    auto info = must(signing->getSignatureInfo(session));
    Bytes hash = platform::sha256(platform::toBytes("secret document"));
    auto consent = must(signing->getDataToConsent(
        {"CLIENTDATA000008", session, kSHA256, {{"x.pdf", platform::base64Encoded(hash)}}}));
    auto consentSignature = cardSignature(card, decodeURL(consent.eid->hashToSign));
    auto signatures = must(signing->consentAndSignHashes(ConsentAndSignHashesRequest(
        consent.consentSessionId,
        ConsentAndSignHashesRequest::EID{platform::base64Encoded(card.der()),
                                         platform::base64Encoded(consentSignature)})));

    auto methods = must(auth->getAuthenticationMethods("CLIENTDATA000009", LevelOfAssurance::high));
    auto data = must(auth->getAuthenticationMethodData(AuthenticationMethod::wallet, methods.sessionId));
    auto poll = must(wallet->pollWallet(data.wallet->pollSessionId));
    ASSERT_TRUE(poll.qrCodeImageData);
    EXPECT_EQ(run(signing->deleteAccount(session, kReason)).error, nullptr);

    const std::pair<std::string, std::string> secrets[] = {
        {"given name", "Griet"},
        {"surname", "Claes"},
        {"national register number", "66120800111"},
        {"card certificate", platform::base64Encoded(card.der()).substr(0, 40)},
        {"card signature (agreement)", platform::base64Encoded(agreementSignature)},
        {"card signature (consent)", platform::base64Encoded(consentSignature)},
        {"signature", signatures.signatures[0]},
        {"signing certificate", platform::base64URLEncoded(info.signingCertificate).substr(0, 40)},
        {"PDF document", "JVBERi0"},
        {"PNG image", "iVBORw0"},
        {"authenticated session id", session},
        {"authentication session id", methods.sessionId},
        {"wallet poll session id", data.wallet->pollSessionId},
        {"consent session id", consent.consentSessionId},
    };
    auto messages = capture.messages();
    ASSERT_GE(messages.size(), 20u);
    for (const auto& message : messages)
        for (const auto& [name, secret] : secrets)
            EXPECT_EQ(message.find(secret), std::string::npos) << name << " in: " << message.substr(0, 300);
    // The redacted copies are there instead.
    auto count = [&messages](const std::string& text) {
        return std::count_if(messages.begin(), messages.end(),
                             [&text](const std::string& m) { return m.find(text) != std::string::npos; });
    };
    EXPECT_EQ(count("\"eid\":\"Redacted\""), 3);
    EXPECT_EQ(count("{\"bytes\":\"Redacted\"}"), 3);
    EXPECT_EQ(count("\"rrnr\":\"Redacted\""), 1);
    EXPECT_GE(count("\"authSessionId\":\"" + sessionTag(session) + "\""), 5);
    EXPECT_EQ(count("\"consentSessionId\":\"" + sessionTag(consent.consentSessionId) + "\""), 2);
}

}  // namespace
