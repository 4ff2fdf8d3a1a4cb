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

#include "Quorvane/core/ErrorCodeWrap.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/shell/views/SigningCertificateInfoView.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/signing/CertificateRetrievalResultView.h"
#include "Quorvane/signing/CertificateRetrievalView.h"
#include "Quorvane/signing/CertificateRetrievalViewModel.h"
#include "SigningWorld.h"

namespace {

using namespace signingworld;
using halcyra::HalcyraError;
using Mode = CertificateRetrievalMode;

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
