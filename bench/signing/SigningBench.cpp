// One bulk signing request of 1,000 document hashes with a card whose session is still valid: the app's work
// from the deep link to the callback URL, against the same server calls made directly with the API client
// (consent data, the card's signature over the server's hash, consent-and-sign). The stand-in server runs on
// loopback as a child process and answers at once; the card is in-process and signs at once with its key, so
// both halves wait for the same server and the difference is the app's own work. Real time per request.
//
// Goal: the app takes at most 1.5 times as long as the direct calls.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "api/Clients.h"
#include "platform/Codecs.h"
#include "platform/qt/TlsTrust.h"
#include "platform/testing/Await.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"
#include "sim/testing/SimServerProcess.h"

namespace {

constexpr int hashCount = 1000;
constexpr const char* clientData = "BENCHCLIENTDATA1";
constexpr const char* sha256OID = "2.16.840.1.101.3.4.2.1";

// The value of a call that must succeed; throws with the error's description otherwise.
template <class T>
T must(QCoro::Task<T>&& task) {
    auto outcome = testsupport::run(std::move(task));
    if (!outcome.value) {
        try {
            std::rethrow_exception(outcome.error);
        } catch (const halcyra::HalcyraError& e) {
            throw std::runtime_error(e.errorDescription());
        }
    }
    return std::move(*outcome.value);
}

platform::Bytes decodedURL(const std::string& text) {
    auto bytes = platform::base64URLDecoded(text);
    if (!bytes)
        throw std::runtime_error("the server sent a hash that is not Base64url");
    return *bytes;
}

// The stand-in server, a card holder with an account and an authenticated session, and the document hashes.
struct Rig {
    simtest::SimServerProcess server{{"--max-signatures", std::to_string(hashCount)}};
    testsupport::Issued card = testsupport::issueCitizenCard("Jan", "Peeters", "71715100070");
    std::shared_ptr<LoggerClient> logger = std::make_shared<LoggerClient>("bench");
    std::shared_ptr<halcyra::AuthenticateAPIClient> auth;
    std::shared_ptr<halcyra::OnboardingAPIClient> onboarding;
    std::shared_ptr<halcyra::RemoteSigningAPIClient> remote;
    std::string sessionId;
    std::vector<platform::Bytes> hashes;

    Rig() {
        if (!platform::addTrustedCACertificates(server.caFile()))
            throw std::runtime_error("cannot trust the stand-in server's CA");
        auth = halcyra::HalcyraClientProvider::authenticateClient(server.basePath(), logger);
        onboarding = halcyra::HalcyraClientProvider::onboardingClient(server.basePath(), logger);
        remote = halcyra::HalcyraClientProvider::remoteSigningClient(server.basePath(), logger);
        sessionId = must(auth->getAuthenticationMethods(clientData, halcyra::LevelOfAssurance::substantial))
                        .sessionId;
        auto login = must(auth->getAuthenticationMethodData(halcyra::AuthenticationMethod::eid, sessionId));
        must(auth->authenticate(
            halcyra::AuthenticateRequest(sessionId, eid(decodedURL(login.eid.value().hashToSign)))));
        auto agreement = must(onboarding->confirmUserData({sessionId, "en", "UserAgreement.pdf"}));
        auto proof = eid(decodedURL(agreement.eid.value().hashToSign));
        must(onboarding->signAgreement(halcyra::SignAgreementRequest(
            agreement.onboardingSessionId, {proof.authenticationCertificate, proof.signature})));
        std::mt19937 random(13);
        for (int i = 0; i < hashCount; ++i) {
            platform::Bytes hash(32);
            for (auto& byte : hash)
                byte = static_cast<std::uint8_t>(random());
            hashes.push_back(std::move(hash));
        }
    }

    // The card's proof over a hash the server sent.
    halcyra::AuthenticateRequest::EID eid(const platform::Bytes& hashToSign) const {
        return {platform::base64Encoded(card.der()),
                platform::base64Encoded(testsupport::signDigest(card, hashToSign))};
    }
};

Rig* rig = nullptr;

void BM_DirectAPICalls(benchmark::State& state) {
    halcyra::GetDataToConsentRequest request{clientData, rig->sessionId, sha256OID, {}};
    for (std::size_t i = 0; i < rig->hashes.size(); ++i)
        request.hashesToSign.push_back(
            {"document-" + std::to_string(i) + ".pdf", platform::base64Encoded(rig->hashes[i])});
    for (auto _ : state) {
        auto consent = must(rig->remote->getDataToConsent(request));
        auto proof = rig->eid(decodedURL(consent.eid.value().hashToSign));
        auto signatures = must(rig->remote->consentAndSignHashes(halcyra::ConsentAndSignHashesRequest(
            consent.consentSessionId, {proof.authenticationCertificate, proof.signature})));
        if (signatures.signatures.size() != hashCount)
            state.SkipWithError("the server did not sign every hash");
    }
}

BENCHMARK(BM_DirectAPICalls)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    testsupport::preparePrivateHome();
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication::setStyle("Fusion");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    int status = 0;
    try {
        rig = new Rig;
        benchmark::RunSpecifiedBenchmarks();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "signing_bench: %s\n", e.what());
        status = 1;
    }
    benchmark::Shutdown();
    delete rig;
    std::error_code ignored;
    std::filesystem::remove_all(testsupport::testRoot(), ignored);
    return status;
}
