// The signing flow end to end, with real programs: bulk links through the shell's deep-link intake, answered
// at an http callback of the test's own on loopback (as a browser would open it), and pkcs11-tool signing a
// digest through p11-kit's proxy, the token module and the relay `brokel`, with the app's flow in this
// process. The card is the stand-in bridge's, its PIN typed into the real PIN sheet; consent and signatures
// come from the stand-in server, and every signature is checked with OpenSSL against the certificate the
// server issued.
#include <gtest/gtest.h>
#include <httplib.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <QUrl>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

#include "Quorvane/shell/KelvPCSigningSceneDelegate.h"
#include "Quorvane/shell/SharedApplicationQt.h"
#include "Quorvane/shell/SingleInstance.h"
#include "Quorvane/signing/SigningView.h"
#include "endtoend/signing/SigningEndToEnd.h"
#include "outside/Common/Common.h"
#include "platform/Codecs.h"
#include "platform/Workspace.h"
#include "platform/testing/TestEnvironment.h"
#include "relay/testing/RelayTestSupport.h"

using namespace endtoend;
using platform::Bytes;

namespace {

const std::string walletToken = SigningSessionContext::walletTokenIdentifier;

// A web page of the caller's on loopback: the callback of the bulk links. It records the query of every
// request it receives.
class CallbackListener {
  public:
    CallbackListener() {
        server_.Get("/done", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex_);
            received_.push_back(req.params);
            res.set_content("<p>Thank you.</p>", "text/html");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running())
            std::this_thread::sleep_for(1ms);
    }
    ~CallbackListener() {
        server_.stop();
        thread_.join();
    }
    // The callback as the caller names it: with a query of its own.
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/done?order=7"; }
    std::vector<httplib::Params> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

  private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<httplib::Params> received_;
};

// The desktop opens the callback in the browser: here the test loads it, as the browser would.
class Browser {
  public:
    Browser() {
        platform::Workspace::setOpener([](const std::string& url) {
            const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
            if (!parsed.isValid() || parsed.scheme() != "http")
                return;
            httplib::Client client(parsed.host().toStdString(), parsed.port(80));
            client.Get(parsed.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::FullyEncoded)
                           .toStdString()
                           .c_str());
        });
    }
    ~Browser() { platform::Workspace::setOpener(nullptr); }
};

std::string only(const httplib::Params& params, const std::string& key) {
    EXPECT_EQ(params.count(key), 1u) << key;
    auto it = params.find(key);
    return it == params.end() ? "" : it->second;
}

// The live rig with the shell's deep-link intake and the signing screen.
struct SigningRig : LiveRig {
    explicit SigningRig(std::vector<std::string> flags = {}) : LiveRig(std::move(flags)) {}

    void open(const std::string& link) { delegate->openURLs({link}); }
    bool windowShown() const {
        auto* window = dynamic_cast<MainWindow*>(controller.window.get());
        return window && window->isVisible();
    }

    SigningView* signingView() const {
        return view() ? dynamic_cast<SigningView*>(view()->screen()) : nullptr;
    }
    std::shared_ptr<SigningViewModel> signing() const {
        return signingView() ? signingView()->model() : nullptr;
    }
    Sheet* signingSheet() const { return signingView() ? signingView()->sheetPresenter()->sheet() : nullptr; }

    // Types the PIN into the PIN sheet of the signing screen once it asks for the PIN for that reason: the
    // login, or the signature.
    void typeSigningPin(SigningReason::Kind reason, const std::string& pin = "1234") {
        ASSERT_TRUE(eventually(
            [&] {
                auto model = signing();
                QWidget* focus = QApplication::focusWidget();
                return model && model->currentSigningReason().kind == reason && model->currentModalState() &&
                       model->currentModalState()->pinInputEvent() && signingSheet() &&
                       signingSheet()->isVisible() && focus && focus->window() == signingSheet();
            },
            30s))
            << "no PIN sheet for the reason, with the focus in its field: " << describeTarget();
        QTest::keyClicks(QApplication::focusWidget(), QString::fromStdString(pin));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }

    // The server's consent-and-sign calls so far.
    int consents() const {
        int count = 0;
        for (const auto& request : server.requests())
            count += request.path.ends_with("/rsign/consentAndSignHashes");
        return count;
    }

    Browser browser;
    CallbackListener callback;
    std::shared_ptr<KelvPCSigningSceneDelegate> delegate = std::make_shared<KelvPCSigningSceneDelegate>(
        std::make_shared<SharedApplicationQt>(), platform::Scheduler::live(), controller);
};

// Each signature of the callback verifies over its document's hash with the certificate.
void expectSignedDocuments(const httplib::Params& query, const std::vector<Document>& docs,
                           const Bytes& certificate) {
    EXPECT_EQ(only(query, "order"), "7") << "the caller's own query is kept";
    auto signatures = split(only(query, "signatures"));
    ASSERT_EQ(signatures.size(), docs.size());
    for (std::size_t i = 0; i < docs.size(); ++i) {
        auto signature = platform::base64URLDecoded(signatures[i]);
        ASSERT_TRUE(signature) << signatures[i];
        EXPECT_TRUE(verifiesWith(certificate, docs[i].hash, *signature)) << docs[i].name;
    }
}

// --- Bulk links

TEST(SigningEndToEnd, ABulkLinkSignedWithTheCardAnswersTheCallbackWithSignaturesThatVerify) {
    SigningRig rig;
    auto card = testsupport::issueCitizenCard("Jan", "Peeters", "71715100070");
    testsupport::StandInBridge bridge(card, "1234");
    auto certificate = rig.cardAccount(card).certificate;
    const auto docs = documents(3);

    rig.open(bulkLink("card:" + uniqueId(card.certificate).value(), docs, rig.callback.url()));
    rig.typeSigningPin(SigningReason::Kind::signingAuthentication);
    rig.typeSigningPin(SigningReason::Kind::actualSigning);

    ASSERT_TRUE(eventually([&] { return rig.callback.received().size() == 1; }, 30s)) << rig.describeTarget();
    expectSignedDocuments(rig.callback.received()[0], docs, certificate);
    EXPECT_EQ(rig.consents(), 1);
    // The flow is over: the window goes.
    EXPECT_TRUE(eventually([&] { return !rig.windowShown(); }, 30s)) << rig.describeTarget();
}

TEST(SigningEndToEnd, ABulkLinkSignedWithTheWalletGoesThroughThePollingStatesForLoginAndConsent) {
    SigningRig rig({"--wallet-polls", "4", "--retry-after-ms", "200"});
    auto certificate = rig.walletAccount().certificate;
    const auto docs = documents(4);

    rig.open(bulkLink(walletToken, docs, rig.callback.url()));
    // The login, then the consent: each a wallet sheet that polls until the holder confirms in the app.
    for (auto reason : {SigningReason::Kind::signingAuthentication, SigningReason::Kind::actualSigning}) {
        EXPECT_TRUE(eventually(
            [&] {
                auto model = rig.signing();
                return model && model->currentSigningReason().kind == reason && model->currentModalState() &&
                       model->currentModalState()->walletTrackingSessionId();
            },
            30s))
            << static_cast<int>(reason);
    }
    ASSERT_TRUE(eventually([&] { return rig.callback.received().size() == 1; }, 60s)) << rig.describeTarget();
    expectSignedDocuments(rig.callback.received()[0], docs, certificate);
    EXPECT_EQ(rig.consents(), 1);
}

// --- Failures of a bulk request: the callback hears of each once

TEST(SigningEndToEnd, ABulkRequestThatFailsAnswersTheCallbackWithTheErrorOnce) {
    struct Case {
        std::string name;
        std::function<void(SigningRig&)> act;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"the user cancels the PIN",
         [](SigningRig& rig) {
             ASSERT_TRUE(
                 eventually([&] { return rig.signingSheet() && rig.signingSheet()->isVisible(); }, 30s));
             QTest::keyClick(rig.signingSheet(), Qt::Key_Escape);
         },
         "Cancelled"},
        {"the window closes mid-flow",
         [](SigningRig& rig) {
             ASSERT_TRUE(
                 eventually([&] { return rig.signingSheet() && rig.signingSheet()->isVisible(); }, 30s));
             rig.controller.window->close();
         },
         "Cancelled"},
        {"the server refuses the consent",
         [](SigningRig& rig) {
             rig.server.fault("/rsign/getDataToConsent", Json{{"status", 500}, {"body", "error"}});
             rig.typeSigningPin(SigningReason::Kind::signingAuthentication);
         },
         // The server's own text, with its support id.
         "Something went wrong on our side. - "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SigningRig rig;
        auto card = testsupport::issueCitizenCard("Jan", "Peeters", "71715100070");
        testsupport::StandInBridge bridge(card, "1234");
        rig.cardAccount(card);
        rig.open(bulkLink(uniqueId(card.certificate).value(), documents(2), rig.callback.url()));
        c.act(rig);
        ASSERT_TRUE(eventually([&] { return rig.callback.received().size() == 1; }, 30s))
            << rig.describeTarget();
        EXPECT_TRUE(only(rig.callback.received()[0], "error").starts_with(c.error))
            << only(rig.callback.received()[0], "error");
        EXPECT_EQ(rig.callback.received()[0].count("signatures"), 0u);
        // Whatever ends afterwards (the window closing) does not answer again.
        if (rig.controller.window)
            rig.controller.close(false);
        QTest::qWait(500);
        EXPECT_EQ(rig.callback.received().size(), 1u);
        EXPECT_EQ(rig.consents(), 0);
    }
}

// --- Through the token: pkcs11-tool, p11-kit, the token module, the relay and the app

// The app as the desktop runs it for this user: the one instance, which takes the deep links of later starts.
struct RunningApp {
    explicit RunningApp(SigningRig& rig) {
        EXPECT_EQ(instance.claim(), SingleInstance::Claim::first);
        EXPECT_TRUE(instance.listen([&rig](const QStringList& arguments) {
            std::vector<std::string> links;
            for (const auto& argument : arguments)
                links.push_back(argument.toStdString());
            rig.delegate->openURLs(links);
        }));
    }
    SingleInstance instance;
};

// The signing certificate of the card's holder (or of the wallet's) in the token, the relay running, the app
// taking deep links, and a digest to sign.
struct TokenRig : SigningRig {
    struct Options {
        bool wallet = false;
        std::vector<std::string> flags = {};
        std::optional<std::filesystem::path> module = std::nullopt;
    };
    TokenRig() : TokenRig(Options{}) {}
    explicit TokenRig(Options options)
        : SigningRig(options.flags),
          token(options.wallet ? walletToken : uniqueId(card.certificate).value()),
          label(token.substr(0, 32)),  // a token label holds 32 characters
          certificate(options.wallet ? walletAccount().certificate : cardAccount(card).certificate),
          tool(options.module) {
        for (std::size_t i = 0; i < digest.size(); ++i)
            digest[i] = static_cast<std::uint8_t>(7 * i + 1);
        std::ofstream(tool.home() / "digest", std::ios::binary)
            .write(reinterpret_cast<const char*>(digest.data()), static_cast<std::streamsize>(digest.size()));
    }

    std::vector<std::string> signArguments() const {
        return {"--token-label",
                label,
                "--sign",
                "--mechanism",
                "ECDSA",
                "--input-file",
                (tool.home() / "digest").native(),
                "--output-file",
                (tool.home() / "signature").native()};
    }

    testsupport::Issued card = testsupport::issueCitizenCard("Jan", "Peeters", "71715100070");
    testsupport::StandInBridge bridge{card, "1234"};
    std::string token;
    std::string label;
    Bytes certificate;
    Bytes digest = Bytes(32);
    RunningApp app{*this};
    relaytest::BrokelProcess brokel;
    Pkcs11Tool tool;
};

TEST(SigningEndToEnd, Pkcs11ToolSignsADigestThroughP11KitTheRelayAndTheAppWithOneConsent) {
    if (!std::filesystem::exists(Pkcs11Tool::proxyModule))
        GTEST_SKIP() << "no p11-kit proxy module";
    TokenRig rig;
    auto signing = std::async(std::launch::async, [&] { return rig.tool.run(rig.signArguments()); });
    rig.typeSigningPin(SigningReason::Kind::signingAuthentication);
    rig.typeSigningPin(SigningReason::Kind::actualSigning);
    ASSERT_TRUE(eventually([&] { return signing.wait_for(0s) == std::future_status::ready; }, 150s));
    auto signed_ = signing.get();
    ASSERT_EQ(signed_.status, 0) << signed_.output << relaytest::readFile(rig.brokel.logPath());

    // The certificate the token lists is the one the server issued, and the signature verifies with it.
    auto listed =
        rig.tool.run({"--token-label", rig.label, "--read-object", "--type", "cert", "--id",
                      relaytest::toHex(rig.token), "--output-file", (rig.tool.home() / "cert.der").native()});
    ASSERT_EQ(listed.status, 0) << listed.output;
    const auto listedCertificate = platform::toBytes(relaytest::readFile(rig.tool.home() / "cert.der"));
    EXPECT_EQ(listedCertificate, rig.certificate);
    const auto signature = platform::toBytes(relaytest::readFile(rig.tool.home() / "signature"));
    EXPECT_EQ(signature.size(), 64u);
    EXPECT_TRUE(verifiesWith(listedCertificate, rig.digest, signature));
    // C_Sign asked for the length first: still one consent, for the digest.
    EXPECT_EQ(rig.consents(), 1);
    int consentData = 0;
    for (const auto& request : rig.server.requests())
        if (request.path.ends_with("/rsign/getDataToConsent")) {
            ++consentData;
            EXPECT_EQ(request.body["hashesToSign"][0]["hash"], platform::base64Encoded(rig.digest));
        }
    EXPECT_EQ(consentData, 1);
    EXPECT_TRUE(eventually([&] { return !rig.windowShown(); }, 30s)) << rig.describeTarget();
}

TEST(SigningEndToEnd, TheTokenGetsItsFailureWhenTheUserCancelsOrClosesTheWindow) {
    if (!std::filesystem::exists(Pkcs11Tool::proxyModule))
        GTEST_SKIP() << "no p11-kit proxy module";
    const std::vector<std::pair<std::string, std::function<void(TokenRig&)>>> cases = {
        {"Esc on the PIN sheet", [](TokenRig& rig) { QTest::keyClick(rig.signingSheet(), Qt::Key_Escape); }},
        {"the window closes", [](TokenRig& rig) { rig.controller.window->close(); }},
    };
    for (const auto& [name, act] : cases) {
        SCOPED_TRACE(name);
        TokenRig rig;
        auto signing = std::async(std::launch::async, [&] { return rig.tool.run(rig.signArguments()); });
        ASSERT_TRUE(eventually([&] { return rig.signingSheet() && rig.signingSheet()->isVisible(); }, 60s))
            << rig.describeTarget();
        act(rig);
        ASSERT_TRUE(eventually([&] { return signing.wait_for(0s) == std::future_status::ready; }, 150s));
        auto result = signing.get();
        EXPECT_NE(result.status, 0) << result.output;
        EXPECT_FALSE(std::filesystem::exists(rig.tool.home() / "signature") &&
                     std::filesystem::file_size(rig.tool.home() / "signature") > 0);
        EXPECT_EQ(rig.consents(), 0);
    }
}

// A sign link that comes while the app serves a token's request (another application's token, whose request
// displaces the first at the relay): the first token hears of its failure once, and the app serves the new
// request, whose token alone gets the signature. The tokens are the relay tests' peers, so that every message
// each one gets is counted; the new token registers before or after its link reaches the app.
TEST(SigningEndToEnd, ASignLinkWhileATokenIsServedAnswersBothTokensOnceAndServesTheNewOne) {
    for (bool registersFirst : {true, false}) {
        SCOPED_TRACE(registersFirst ? "the new token registers, then its link comes"
                                    : "the link comes, then the new token registers");
        SigningRig rig;
        auto card = testsupport::issueCitizenCard("Jan", "Peeters", "71715100070");
        testsupport::StandInBridge bridge(card, "1234");
        const auto certificate = rig.cardAccount(card).certificate;
        const auto instanceID = uniqueId(card.certificate).value();
        relaytest::BrokelProcess brokel;
        xpc::ReactorThread thread;
        auto first = std::make_shared<relaytest::FakeToken>(thread.reactor());
        auto second = std::make_shared<relaytest::FakeToken>(thread.reactor());

        first->connectAndRegister();
        rig.open("quorvane://sign");
        ASSERT_TRUE(eventually([&] { return first->readySignals() == 1; }, 30s))
            << relaytest::readFile(brokel.logPath());
        first->sendHash(Bytes(32, 0x11), instanceID);
        // The app works on the first request: its login asks for the PIN. (The app runs on this thread: the
        // waits let it.)
        ASSERT_TRUE(eventually(
            [&] {
                auto model = rig.signing();
                return model && model->currentModalState() && model->currentModalState()->pinInputEvent();
            },
            30s))
            << rig.describeTarget();

        const Bytes digest(32, 0x22);
        if (registersFirst) {
            second->connectAndRegister();
            ASSERT_TRUE(brokel.waitForMessage("info: Endpoint received for token", 2));
        }
        rig.open("quorvane://sign");
        if (!registersFirst)
            second->connectAndRegister();
        ASSERT_TRUE(eventually([&] { return second->readySignals() == 1; }, 30s))
            << relaytest::readFile(brokel.logPath());
        second->sendHash(digest, instanceID);
        rig.typeSigningPin(SigningReason::Kind::signingAuthentication);
        rig.typeSigningPin(SigningReason::Kind::actualSigning);
        ASSERT_TRUE(eventually([&] { return second->signatures().size() == 1; }, 60s))
            << relaytest::readFile(brokel.logPath());

        EXPECT_TRUE(eventually([&] { return first->failures() == 1; }));
        // Whatever is still on its way arrives by now.
        QTest::qWait(300);
        EXPECT_EQ(first->failures(), 1);
        EXPECT_TRUE(first->signatures().empty());
        EXPECT_EQ(second->failures(), 0) << relaytest::readFile(brokel.logPath());
        ASSERT_EQ(second->signatures().size(), 1u);
        EXPECT_TRUE(verifiesWith(certificate, digest, second->signatures()[0]));
        EXPECT_EQ(rig.consents(), 1);
        first->disconnect();
        second->disconnect();
        thread.runSync([] {});
    }
}

// The token's relay client gives up when no signature comes in time (here the test build of the module, whose
// waits are a fifth of the real ones: a minute), here while the wallet's holder has not scanned the code: the
// relay tells the app, whose flow ends with the time-out.
TEST(SigningEndToEnd, WhenTheTokenGivesUpWaitingTheFlowEndsWithTheTimeOut) {
    if (!std::filesystem::exists(Pkcs11Tool::proxyModule))
        GTEST_SKIP() << "no p11-kit proxy module";
    TokenRig rig({.wallet = true, .flags = {"--wallet-polls", "0"}, .module = relaytest::testModulePath()});
    auto signing = std::async(std::launch::async, [&] { return rig.tool.run(rig.signArguments()); });
    ASSERT_TRUE(eventually(
        [&] {
            auto model = rig.signing();
            return model && model->currentModalState() &&
                   model->currentModalState()->walletTrackingSessionId();
        },
        60s))
        << rig.describeTarget();
    ASSERT_TRUE(eventually([&] { return signing.wait_for(0s) == std::future_status::ready; }, 150s));
    auto result = signing.get();
    EXPECT_NE(result.status, 0) << result.output;
    EXPECT_TRUE(rig.shows("info 7002: Signature creation has timed out.")) << rig.describeTarget();
    EXPECT_FALSE(rig.signingView());
    EXPECT_EQ(rig.consents(), 0);
}

}  // namespace
