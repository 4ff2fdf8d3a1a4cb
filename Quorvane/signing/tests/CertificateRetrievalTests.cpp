// Certificate retrieval against the stand-in server, the stand-in bridge's cards and the app's session store
// on a token folder of its own: the three modes, each failure with its code, the token read back after
// installing, and the screen that starts the retrieval once however often it is shown.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/DependencyKeys.h"
#include "Quorvane/core/ErrorCodeWrap.h"
#include "Quorvane/core/QuorvaneAPI.h"
#include "Quorvane/core/SigningSessionDatabase.h"
#include "Quorvane/core/TokenDriverConfiguration.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/shell/views/SigningCertificateInfoView.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/signing/CertificateRetrievalResultView.h"
#include "Quorvane/signing/CertificateRetrievalView.h"
#include "Quorvane/signing/CertificateRetrievalViewModel.h"
#include "cardbridge/PindleClientVexoConnect.h"
#include "cardbridge/VexoConnectInvoker.h"
#include "outside/Logger/LoggerClient.h"
#include "platform/Codecs.h"
#include "platform/qt/TlsTrust.h"
#include "platform/testing/Await.h"
#include "platform/testing/Eventually.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"
#include "sim/testing/SimBridge.h"
#include "sim/testing/SimServerProcess.h"

namespace {

using halcyra::AuthenticationMethod;
using halcyra::HalcyraError;
using Json = platform::json::Json;
using Mode = CertificateRetrievalMode;
using platform::Bytes;
using testsupport::await;
using testsupport::eventually;
using namespace std::chrono_literals;

const std::string pin = "1234";

// The holders: the card holder and the wallet's holder have accounts with a signing certificate; the second
// card's holder has none.
enum class Holder { card, wallet, cardWithoutAccount };

QCoro::Task<bool> completedLogin(platform::AsyncStream<AuthenticateFlowEvent> events) {
    bool completed = false;
    while (auto event = co_await events.next()) {
        if (event->cardSigningEvent && event->cardSigningEvent->providePinClosure)
            event->cardSigningEvent->providePinClosure(pin);
        completed = completed || event->kind == AuthenticateFlowEvent::Kind::completed;
    }
    co_return completed;
}

QCoro::Task<Bytes> cardSignature(std::shared_ptr<pindle::Card> card, Bytes data) {
    auto events = card->sign(data);
    Bytes signature;
    while (auto event = co_await events.next()) {
        if (event->providePinClosure) {
            event->providePinClosure(pin);
            continue;
        }
        EXPECT_EQ(event->kind, pindle::CardSigningEvent::Kind::finished) << event->errorValue;
        signature = event->signature;
        card->cancelOngoingOperation();
    }
    co_return signature;
}

class World;

// The app for one case: its session store on a token folder of its own (made on first registration, as the
// app's is), the facade that logs in as the app does, and the app's logger, remote-signing client and session
// store in the dependency container.
struct App {
    explicit App(World& world);
    ~App() { DependencyValues::shared().reset(); }
    App(const App&) = delete;
    App& operator=(const App&) = delete;

    // A login as the app makes one: a new server session, confirmed by the card's PIN or the wallet, and
    // registered in the session store.
    SigningSessionContext logIn(Holder holder);
    std::optional<Bytes> installed(const SigningSessionContext& context) const {
        return tokens->certificateData(context.tokenIdentifier());
    }

    World& world;
    platform::tokens::TokenStore tokenStore{testsupport::makeTempDir("tokens") /
                                            platform::tokens::driverClassID};
    std::shared_ptr<TokenDriverConfiguration> tokens;
    std::shared_ptr<SigningSessionDatabase> database;
    std::shared_ptr<QuorvaneAPI> facade;
};

// The stand-in server with the accounts of the card holder and the wallet's holder, and the stand-in bridge
// with the two cards in their readers.
class World {
  public:
    World() {
        if (!platform::addTrustedCACertificates(server.caFile()))
            throw std::runtime_error("cannot trust the stand-in server's CA");
        settings->setPrivacyModeEnabled(false);
        bridge.addReader(simtest::reader("standard", simtest::softCard(cardHolder, pin), "Reader 1"));
        bridge.addReader(
            simtest::reader("standard", simtest::softCard(holderWithoutAccount, pin), "Reader 2"));
        bridge.install();
        for (const auto& card : await(pindle->onlyCurrentCards()))
            (card->lastName() == "Peeters" ? peeters : claes) = card;
        if (!peeters || !claes)
            throw std::runtime_error("the stand-in bridge does not show both cards");
        createAccounts();
    }
    ~World() {
        eventually([] { return pindle::VexoConnectInvoker::liveProcessCount() == 0; }, 30s);
    }

    std::shared_ptr<pindle::Card> card(Holder holder) const {
        return holder == Holder::cardWithoutAccount ? claes : peeters;
    }
    int signatureInfoRequests() const {
        int count = 0;
        for (const auto& request : server.requests())
            count += request.path.ends_with("/rsign/getSignatureInfo");
        return count;
    }
    Bytes serverCertificate(const SigningSessionContext& context) {
        return await(remote->getSignatureInfo(context.sessionId())).signingCertificate;
    }

    simtest::SimServerProcess server;
    std::shared_ptr<LoggerClient> logger = std::make_shared<LoggerClient>("ui");
    std::shared_ptr<halcyra::AuthenticateAPIClient> auth =
        halcyra::HalcyraClientProvider::authenticateClient(server.basePath(), logger);
    std::shared_ptr<halcyra::RemoteSigningAPIClient> remote =
        halcyra::HalcyraClientProvider::remoteSigningClient(server.basePath(), logger);
    std::shared_ptr<halcyra::OnboardingAPIClient> onboarding =
        halcyra::HalcyraClientProvider::onboardingClient(server.basePath(), logger);
    std::shared_ptr<AppSettings> settings = std::make_shared<AppSettings>();
    testsupport::Issued cardHolder = testsupport::issueCitizenCard("Ann", "Peeters", "71715100070");
    testsupport::Issued holderWithoutAccount = testsupport::issueCitizenCard("Bram", "Claes", "93051822361");
    simtest::SimBridge bridge;
    std::shared_ptr<pindle::PindleClientVexoConnect> pindle =
        std::make_shared<pindle::PindleClientVexoConnect>(std::set<std::string>{},
                                                          platform::Scheduler::live());
    std::shared_ptr<pindle::Card> peeters;
    std::shared_ptr<pindle::Card> claes;

  private:
    // The holders sign the subscriber agreement, with the card and in the wallet; the server issues their
    // signing certificates.
    void createAccounts() {
        App app(*this);
        auto card = app.logIn(Holder::card);
        auto data = await(onboarding->confirmUserData({card.sessionId(), "en", "agreement.pdf"}));
        if (!data.eid)
            throw std::runtime_error("no hash to sign for the card");
        auto signature = await(cardSignature(peeters, *platform::base64URLDecoded(data.eid->hashToSign)));
        await(onboarding->signAgreement(halcyra::SignAgreementRequest(
            data.onboardingSessionId,
            {platform::base64Encoded(peeters->certificateData()), platform::base64Encoded(signature)})));

        auto wallet = app.logIn(Holder::wallet);
        data = await(onboarding->confirmUserData({wallet.sessionId(), "en", "agreement.pdf"}));
        if (!data.wallet)
            throw std::runtime_error("no poll session for the wallet");
        server.control("/wallet",
                       Json{{"pollSessionId", data.wallet->pollSessionId}, {"state", "AUTHENTICATED"}});
        await(onboarding->signAgreement(halcyra::SignAgreementRequest(
            data.onboardingSessionId, halcyra::SignAgreementRequest::Wallet{data.wallet->pollSessionId})));
    }
};

App::App(World& world)
    : world(world),
      tokens(std::make_shared<TokenDriverConfiguration>(
          tokenStore, world.logger, TokenDriverConfiguration::DriverFolder::madeOnRegistration)),
      database(std::make_shared<SigningSessionDatabase>(SigningSessionDatabase::always(world.settings),
                                                        SigningSessionDatabase::always(world.logger),
                                                        world.pindle, tokens, platform::Scheduler::live())),
      facade(std::make_shared<QuorvaneAPI>(QuorvaneAPI::always(world.auth), QuorvaneAPI::always(world.logger),
                                           QuorvaneAPI::always(world.remote),
                                           QuorvaneAPI::always<SigningSessionDatabaseClient>(database))) {
    Dependency<LoggerClientKey>().set(world.logger);
    Dependency<RemoteSigningAPIClientKey>().set(world.remote);
    Dependency<SigningSessionDatabaseKey>().set(database);
}

SigningSessionContext App::logIn(Holder holder) {
    auto sessionId = await(world.auth->getAuthenticationMethods(database->clientData(),
                                                                halcyra::LevelOfAssurance::substantial))
                         .sessionId;
    std::optional<SigningSessionContext> context;
    if (holder == Holder::wallet) {
        auto data = await(world.auth->getAuthenticationMethodData(AuthenticationMethod::wallet, sessionId));
        if (!data.wallet)
            throw std::runtime_error("no poll session for the wallet");
        world.server.control("/wallet",
                             Json{{"pollSessionId", data.wallet->pollSessionId}, {"state", "AUTHENTICATED"}});
        context = SigningSessionContext::wallet(sessionId, data.wallet->pollSessionId);
    } else {
        context = SigningSessionContext::card(sessionId, world.card(holder));
    }
    if (!await(completedLogin(facade->runAuthentication(*context, false))))
        throw std::runtime_error("the login did not complete");
    return *context;
}

// A retrieval started and followed until it completed or shows a certificate.
struct Retrieval {
    std::shared_ptr<std::vector<std::optional<AppError>>> completions =
        std::make_shared<std::vector<std::optional<AppError>>>();
    std::shared_ptr<CertificateRetrievalViewModel> model;

    Retrieval(const SigningSessionContext& context, Mode mode)
        : model(std::make_shared<CertificateRetrievalViewModel>(
              context, mode, [completions = completions](std::optional<AppError> error) {
                  completions->push_back(std::move(error));
              })) {}

    bool settled() const { return !completions->empty() || model->signingCertificateInfo(); }
};

std::vector<std::string> errorLines(const LogCapture& log) {
    std::vector<std::string> lines;
    for (const auto& line : log.lines())
        if (line.level == LogLevel::error)
            lines.push_back(line.message);
    return lines;
}

std::string headline(const AppError& error) {
    auto text = ErrorCodeWrap::errorText(error);
    return text.substr(0, text.find('\n'));
}

// A certificate installed before: the same one on every call.
const Bytes& earlierCertificate() {
    static const Bytes der = [] {
        testsupport::CertificateRequest request;
        request.givenName = "Eva";
        request.surname = "Earlier";
        request.serialNumber = "60010100166";
        return testsupport::makeSelfSigned(request).der();
    }();
    return der;
}

const std::string noSession = "No active session, can't retrieve certificate";
const std::string notInstalled = "Could not retrieve certificate: session database failure";

TEST(CertificateRetrieval, EachModeInstallsShowsOrFailsWithItsCode) {
    World world;
    enum class Token { server, earlier, nothing };
    struct Case {
        const char* label;
        Holder holder;
        Mode mode;
        std::function<void(App&, const SigningSessionContext&)> arrange;
        // Failure: the code, the shown headline's start and the line logged; none for a success.
        std::optional<std::string> code;
        std::string headline;
        std::string logged;
        Mode modeAfter;
        int serverCalls;
        Token token;
        std::string shownHolder;  // "" when nothing is shown
    };
    const auto none = [](App&, const SigningSessionContext&) {};
    const auto installEarlier = [](App& app, const SigningSessionContext& context) {
        ASSERT_TRUE(app.tokens->registerToken(context.tokenIdentifier(), earlierCertificate()));
    };
    const auto forget = [](App& app, const SigningSessionContext& context) {
        app.database->purgeSession(context);
    };
    const Case cases[] = {
        {"retrieve completes as soon as the card's certificate is installed",
         Holder::card,
         Mode::retrieve,
         none,
         {},
         "",
         "",
         Mode::retrieve,
         1,
         Token::server,
         ""},
        {"retrieve, wallet",
         Holder::wallet,
         Mode::retrieve,
         none,
         {},
         "",
         "",
         Mode::retrieve,
         1,
         Token::server,
         ""},
        {"retrieveAndShow shows the installed certificate and waits for Done",
         Holder::card,
         Mode::retrieveAndShow,
         none,
         {},
         "",
         "",
         Mode::retrieveAndShow,
         1,
         Token::server,
         "Ann Peeters"},
        {"retrieveAndShow, wallet",
         Holder::wallet,
         Mode::retrieveAndShow,
         none,
         {},
         "",
         "",
         Mode::retrieveAndShow,
         1,
         Token::server,
         "Lotte Verbeke"},
        {"showOnly shows what the token holds without asking the server",
         Holder::card,
         Mode::showOnly,
         installEarlier,
         {},
         "",
         "",
         Mode::showOnly,
         0,
         Token::earlier,
         "Eva Earlier"},
        {"showOnly with nothing installed fetches as retrieveAndShow",
         Holder::wallet,
         Mode::showOnly,
         none,
         {},
         "",
         "",
         Mode::retrieveAndShow,
         1,
         Token::server,
         "Lotte Verbeke"},

        {"no session", Holder::card, Mode::retrieve, forget, "201",
         "2201: No active session, can't retrieve certificate.", noSession, Mode::retrieve, 0, Token::nothing,
         ""},
        {"a session that ends within 900 s counts as none", Holder::wallet, Mode::retrieveAndShow,
         [](App& app, const SigningSessionContext& context) {
             app.database->registerSession(context, std::chrono::system_clock::now() + 899s);
         },
         "201", "2201: No active session, can't retrieve certificate.", noSession, Mode::retrieveAndShow, 0,
         Token::nothing, ""},
        {"showOnly with neither certificate nor session fails as retrieveAndShow", Holder::card,
         Mode::showOnly, forget, "201", "2201: No active session, can't retrieve certificate.", noSession,
         Mode::retrieveAndShow, 0, Token::nothing, ""},

        {"the server refuses", Holder::card, Mode::retrieve,
         [&world](App&, const SigningSessionContext&) {
             world.server.fault("/rsign/getSignatureInfo", Json{{"status", 503}, {"count", 1}});
         },
         "02", "1202-503: The service is temporarily unavailable. - ",
         "Could not retrieve certificate: ", Mode::retrieve, 1, Token::nothing, ""},
        {"the connection drops", Holder::wallet, Mode::retrieveAndShow,
         [&world](App&, const SigningSessionContext&) {
             world.server.fault("/rsign/getSignatureInfo", Json{{"drop", true}, {"count", 1}});
         },
         "02", "1202: Network error, please verify your internet connection.",
         "Could not retrieve certificate: ", Mode::retrieveAndShow, 1, Token::nothing, ""},

        // Nothing reaches the token in these: no mode may report a success.
        {"a holder without an account gets no certificate", Holder::cardWithoutAccount, Mode::retrieve, none,
         "202", "2202: Could not retrieve certificate: session database failure.", notInstalled,
         Mode::retrieve, 1, Token::nothing, ""},
        {"the token store refuses the certificate", Holder::wallet, Mode::retrieve,
         [](App& app, const SigningSessionContext&) {
             std::filesystem::remove_all(app.tokenStore.driverFolder());
             std::ofstream(app.tokenStore.driverFolder()) << "not a folder";
         },
         "202", "2202: Could not retrieve certificate: session database failure.", notInstalled,
         Mode::retrieve, 1, Token::nothing, ""},
        {"an unreadable certificate leaves the earlier one, which is not shown as the new one", Holder::card,
         Mode::retrieveAndShow,
         [&world, installEarlier](App& app, const SigningSessionContext& context) {
             installEarlier(app, context);
             world.server.fault("/rsign/getSignatureInfo",
                                Json{{"rawBody", R"({"status":"READY","maxSignatures":100,)"
                                                 R"("signingCertificate":"AAECAw","certificateChain":[]})"},
                                     {"count", 1}});
         },
         "202", "2202: Could not retrieve certificate: session database failure.", notInstalled,
         Mode::retrieveAndShow, 1, Token::earlier, ""},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        App app(world);
        auto context = app.logIn(c.holder);
        c.arrange(app, context);
        world.server.clearRequests();
        LogCapture log;

        Retrieval retrieval(context, c.mode);
        retrieval.model->start();
        ASSERT_TRUE(eventually([&] { return retrieval.settled(); }, 30s));
        world.server.clearFaults();

        const auto& model = *retrieval.model;
        EXPECT_EQ(model.mode(), c.modeAfter);
        EXPECT_EQ(world.signatureInfoRequests(), c.serverCalls);
        switch (c.token) {
            case Token::server:
                EXPECT_EQ(app.installed(context), world.serverCertificate(context));
                break;
            case Token::earlier:
                EXPECT_EQ(app.installed(context), earlierCertificate());
                break;
            case Token::nothing:
                EXPECT_EQ(app.installed(context), std::nullopt);
                break;
        }

        if (c.code) {
            ASSERT_EQ(retrieval.completions->size(), 1u);
            ASSERT_TRUE(retrieval.completions->front());
            const AppError& error = *retrieval.completions->front();
            EXPECT_EQ(error.code, *c.code);
            const bool fromServer = *c.code == "02";
            EXPECT_EQ(error.category, fromServer ? ErrorCodeCategory::backend : ErrorCodeCategory::app);
            EXPECT_EQ(error.sourceFlow,
                      fromServer ? std::optional(ErrorCodeSourceFlow::certificateRetrieval) : std::nullopt);
            EXPECT_EQ(error.apiError.has_value(), fromServer);
            EXPECT_EQ(headline(error).rfind(c.headline, 0), 0u) << headline(error);
            auto logged = c.logged;
            if (fromServer && error.apiError)
                logged += error.apiError->errorDescription();
            EXPECT_EQ(errorLines(log).back(), logged);
            EXPECT_FALSE(model.signingCertificateInfo()) << "a failure shows nothing";
            continue;
        }

        EXPECT_TRUE(errorLines(log).empty()) << errorLines(log).front();
        if (c.shownHolder.empty()) {
            EXPECT_FALSE(model.signingCertificateInfo());
            ASSERT_EQ(retrieval.completions->size(), 1u);
            EXPECT_FALSE(retrieval.completions->front()) << retrieval.completions->front()->message;
            continue;
        }
        ASSERT_TRUE(model.signingCertificateInfo());
        const auto& shown = *model.signingCertificateInfo();
        EXPECT_EQ(shown, app.database->signingCertificateInfo(context));
        EXPECT_EQ(shown.fullName, c.shownHolder);
        EXPECT_EQ(shown.methodCreatedWith,
                  c.holder == Holder::wallet ? AuthenticationMethod::wallet : AuthenticationMethod::eid);
        EXPECT_TRUE(retrieval.completions->empty()) << "completed before Done";
        // "Done", pressed twice.
        retrieval.model->completed(std::nullopt);
        retrieval.model->completed(std::nullopt);
        ASSERT_EQ(retrieval.completions->size(), 1u);
        EXPECT_FALSE(retrieval.completions->front());
    }
}

void showScreen(QWidget& screen) {
    screen.resize(700, 520);
    screen.show();
    QApplication::setActiveWindow(&screen);
}

TEST(CertificateRetrievalView, StartsOnceShowsProgressThenTheResultWhoseDoneTakesReturn) {
    World world;
    App app(world);
    auto context = app.logIn(Holder::card);
    world.server.clearRequests();
    Retrieval retrieval(context, Mode::retrieveAndShow);
    CertificateRetrievalView screen(retrieval.model);

    showScreen(screen);
    ASSERT_TRUE(screen.progressView());
    EXPECT_FALSE(screen.resultView());
    EXPECT_EQ(screen.progressView()->messageLabel()->text(), "Retrieving sign certificate...");
    EXPECT_TRUE(screen.progressView()->progressIndicator());
    // Shown again while the certificate is on its way (a restore from minimised does this).
    screen.hide();
    showScreen(screen);

    ASSERT_TRUE(eventually([&] { return screen.resultView() != nullptr; }, 30s));
    EXPECT_FALSE(screen.progressView());
    auto* result = screen.resultView();
    EXPECT_EQ(result->titleLabel()->text(), "Your signing certificate");
    EXPECT_EQ(result->textLabel()->text(),
              "Here you'll find your active signing certificate that enables you to sign with your eID "
              "information.");
    EXPECT_EQ(result->card()->fullNameLabel()->text(), "Ann Peeters");
    EXPECT_EQ(result->card()->createdWithLabel()->text(), "Created with eID");
    EXPECT_EQ(result->doneButton()->text(), "Done");

    screen.hide();
    showScreen(screen);
    ASSERT_TRUE(eventually([&] { return result->doneButton()->hasFocus(); }));
    EXPECT_EQ(world.signatureInfoRequests(), 1);
    EXPECT_TRUE(retrieval.completions->empty());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_EQ(retrieval.completions->size(), 1u);
    EXPECT_FALSE(retrieval.completions->front());
}

TEST(CertificateRetrievalView, ShowingTheScreenAgainAfterAFailureDoesNotRetrieveAgain) {
    World world;
    App app(world);
    auto context = app.logIn(Holder::wallet);
    app.database->purgeSession(context);
    LogCapture log;
    Retrieval retrieval(context, Mode::retrieve);
    CertificateRetrievalView screen(retrieval.model);

    for (int showing = 0; showing < 3; ++showing) {
        showScreen(screen);
        testsupport::runPendingEvents();
        screen.hide();
    }
    EXPECT_EQ(errorLines(log), std::vector<std::string>{noSession});
    ASSERT_EQ(retrieval.completions->size(), 1u);
    EXPECT_EQ(retrieval.completions->front()->code, "201");
}

TEST(CertificateRetrievalView, ACertificateAlreadyInstalledIsShownWithoutAProgressPage) {
    World world;
    App app(world);
    auto context = app.logIn(Holder::wallet);
    ASSERT_TRUE(app.tokens->registerToken(context.tokenIdentifier(), world.serverCertificate(context)));
    world.server.clearRequests();
    Retrieval retrieval(context, Mode::showOnly);
    CertificateRetrievalView screen(retrieval.model);

    showScreen(screen);
    ASSERT_TRUE(screen.resultView());
    EXPECT_FALSE(screen.progressView());
    EXPECT_EQ(screen.resultView()->card()->createdWithLabel()->text(), "Created with Civaro");
    EXPECT_EQ(world.signatureInfoRequests(), 0);
}

}  // namespace
