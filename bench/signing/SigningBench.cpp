// One bulk signing request of 1,000 document hashes with a card whose session is still valid: the app's work
// from the deep link to the callback URL, against the same server calls made directly with the API client
// (consent data, the card's signature over the server's hash, consent-and-sign). The stand-in server runs on
// loopback as a child process and answers at once; the card is in-process and signs at once with its key, so
// both halves wait for the same server and the difference is the app's own work. Real time per request.
//
// Goal: the app takes at most 1.5 times as long as the direct calls.
#include <benchmark/benchmark.h>
#include <algorithm>

#include <QApplication>
#include <QUrl>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "Quorvane/core/PindleMock.h"
#include "Quorvane/shell/KelvPCSigningSceneDelegate.h"
#include "Quorvane/shell/SharedApplicationQt.h"
#include "Quorvane/testing/FakeCard.h"
#include "api/Clients.h"
#include "endtoend/LiveRig.h"
#include "outside/Common/Common.h"
#include "platform/Codecs.h"
#include "platform/Workspace.h"
#include "platform/qt/Localizable.h"
#include "platform/testing/Await.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"

namespace {

constexpr int hashCount = 1000;
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

// A card that signs at once with its key, as a card whose PIN the holder has just typed.
std::shared_ptr<testsupport::FakeCard> instantCard(const testsupport::Issued& issued) {
    auto card = std::make_shared<testsupport::FakeCard>(uniqueId(issued.certificate).value());
    card->first = "Jan";
    card->certificate = issued.der();
    card->signer = [issued](const platform::Bytes& data) { return testsupport::signDigest(issued, data); };
    return card;
}

// The app's live services on the stand-in server, with the shell's deep-link intake; a card holder with an
// account, the signing certificate in the token and a session the app holds; the document hashes.
struct Rig : endtoend::LiveRig {
    Rig() : LiveRig({"--max-signatures", std::to_string(hashCount)}) {
        account = cardAccount(issued);
        Dependency<PindleClientKey>().set(PindleMock::make(PindleMock::Mode::custom({card})));
        database->registerSession(SigningSessionContext::card(account.sessionId, card),
                                  account.expirationDate);
        std::mt19937 random(13);
        for (int i = 0; i < hashCount; ++i) {
            platform::Bytes hash(32);
            for (auto& byte : hash)
                byte = static_cast<std::uint8_t>(random());
            hashes.push_back(std::move(hash));
        }
        platform::Workspace::setOpener([this](const std::string& url) { opened.push_back(url); });
    }
    ~Rig() { platform::Workspace::setOpener(nullptr); }

    // The card's proof over a hash the server sent.
    halcyra::ConsentAndSignHashesRequest::EID proof(const std::string& hashToSign) const {
        auto hash = platform::base64URLDecoded(hashToSign);
        if (!hash)
            throw std::runtime_error("the server sent a hash that is not Base64url");
        return {platform::base64Encoded(issued.der()),
                platform::base64Encoded(testsupport::signDigest(issued, *hash))};
    }

    testsupport::Issued issued = testsupport::issueCitizenCard("Jan", "Peeters", "71715100070");
    std::shared_ptr<testsupport::FakeCard> card = instantCard(issued);
    Account account;
    std::vector<platform::Bytes> hashes;
    std::vector<std::string> opened;
    std::shared_ptr<KelvPCSigningSceneDelegate> delegate = std::make_shared<KelvPCSigningSceneDelegate>(
        std::make_shared<SharedApplicationQt>(), platform::Scheduler::live(), controller);
};

Rig* rig = nullptr;

void BM_DirectAPICalls(benchmark::State& state) {
    halcyra::GetDataToConsentRequest request{
        rig->database->clientData(), rig->account.sessionId, sha256OID, {}};
    for (std::size_t i = 0; i < rig->hashes.size(); ++i)
        request.hashesToSign.push_back(
            {"document-" + std::to_string(i) + ".pdf", platform::base64Encoded(rig->hashes[i])});
    for (auto _ : state) {
        auto consent = must(rig->remote->getDataToConsent(request));
        auto signatures = must(rig->remote->consentAndSignHashes(halcyra::ConsentAndSignHashesRequest(
            consent.consentSessionId, rig->proof(consent.eid.value().hashToSign))));
        if (signatures.signatures.size() != hashCount)
            state.SkipWithError("the server did not sign every hash");
    }
}

// The deep link handed to the running app, to the callback URL it opens with the signatures; the window
// closes between two requests, outside the measured time.
void BM_AppFromDeepLinkToCallback(benchmark::State& state) {
    platform::json::Json signData = platform::json::Json::array();
    for (std::size_t i = 0; i < rig->hashes.size(); ++i)
        signData.push_back({{"hash_base64", platform::base64Encoded(rig->hashes[i])},
                            {"docName", "document-" + std::to_string(i) + ".pdf"}});
    const std::string request = platform::json::Json{
        {"version", "1"},
        {"tokenId", rig->card->uniqueIdentifier()},
        {"signData", signData}}.dump();
    const std::string link =
        "quorvane://bulk?request=" +
        QUrl::toPercentEncoding(QString::fromStdString(platform::base64Encoded(platform::toBytes(request))))
            .toStdString() +
        "&callback=" + QUrl::toPercentEncoding("https://caller.example/signed").toStdString();
    for (auto _ : state) {
        rig->opened.clear();
        rig->delegate->openURLs({link});
        while (rig->opened.empty())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        state.PauseTiming();
        const std::string& url = rig->opened[0];
        // The signatures are joined with literal commas.
        const auto commas = static_cast<int>(std::count(url.begin(), url.end(), ','));
        if (url.find("?signatures=") == std::string::npos || commas + 1 != hashCount) {
            state.SkipWithError(
                ("the callback has " + std::to_string(commas + 1) + " signatures: " + url.substr(0, 200))
                    .c_str());
            break;
        }
        // The navigation closes the window once the flow has ended.
        while (rig->controller.window && rig->controller.isBusy())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        state.ResumeTiming();
    }
}

BENCHMARK(BM_DirectAPICalls)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AppFromDeepLinkToCallback)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    testsupport::preparePrivateHome();
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication::setStyle("Fusion");
    QApplication app(argc, argv);
    platform::installTranslations();
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
