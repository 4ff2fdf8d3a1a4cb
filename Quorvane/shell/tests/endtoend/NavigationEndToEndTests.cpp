// The navigation against the stand-in server and the stand-in bridge, with the live API clients, facade,
// session store and card layer, in the real main window: card logins with the PIN typed into the PIN sheet,
// their failures as the user sees them, wallet logins, and the account decisions the server's answers lead
// to.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <set>

#include "Quorvane/auth/SheetPresenter.h"
#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/AppVersions.h"
#include "Quorvane/core/PluginClient.h"
#include "Quorvane/core/QuorvaneAPI.h"
#include "Quorvane/core/SigningSessionDatabase.h"
#include "Quorvane/core/TokenDriverConfiguration.h"
#include "Quorvane/core/tests/QuorvaneAPITestSupport.h"
#include "Quorvane/shell/AppNavigationView.h"
#include "Quorvane/shell/MainWindow.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/shell/views/tests/ViewsTestSupport.h"
#include "cardbridge/PindleClientVexoConnect.h"
#include "platform/qt/SystemInfo.h"
#include "platform/qt/TlsTrust.h"
#include "platform/qt/UserDefaults.h"
#include "platform/testing/Await.h"
#include "platform/testing/Eventually.h"
#include "platform/testing/TestPKI.h"
#include "platform/tokens/TokenStore.h"
#include "sim/testing/SimServerProcess.h"

using namespace std::chrono_literals;
using platform::json::Json;
using testsupport::eventually;

namespace {

const std::string wallet = SigningSessionContext::walletTokenIdentifier;

class SilentPluginClient : public PluginClient {
  public:
    void signalCertificateRequested() override {}
    void signalCertificateRetrieved() override {}
};

// The app's services, live, on the stand-in server; the main window with the navigation; the stand-in
// bridge is the test's.
struct LiveRig {
    explicit LiveRig(std::vector<std::string> flags = {}) : server(std::move(flags)) {
        if (!platform::addTrustedCACertificates(server.caFile()))
            throw std::runtime_error("cannot trust the stand-in server's CA");
        DependencyValues::shared().reset();
        platform::UserDefaults::standard().clear();
        tokenStore.installDriver();
        Dependency<AppSettingsKey>().set(settings);
        Dependency<AppVersionsKey>().set(
            std::make_shared<AppVersions>(AppVersionsFileLocation::testNoUpdate));
        Dependency<LoggerClientKey>().set(logger);
        Dependency<AuthenticateAPIClientKey>().set(auth);
        Dependency<RemoteSigningAPIClientKey>().set(remote);
        Dependency<OnboardingAPIClientKey>().set(onboarding);
        Dependency<WalletAPIClientKey>().set(walletClient);
        Dependency<PindleClientKey>().set(pindle);
        Dependency<SigningSessionDatabaseKey>().set(database);
        Dependency<QuorvaneAPIKey>().set(api);
        Dependency<LaunchAgentServiceKey>().set(std::make_shared<testsupport::FakeLaunchAgentService>(true));
        Dependency<PluginClientKey>().set(std::make_shared<SilentPluginClient>());
        controller.makeWindow = [this] {
            return std::make_shared<MainWindow>([this](const AppOpenMode& mode) {
                return new AppNavigationView(
                    AppNavigationViewModel::make(mode, platform::Scheduler::live(), controller));
            });
        };
    }
    ~LiveRig() {
        controller.close(true);
        eventually([] { return pindle::VexoConnectInvoker::liveProcessCount() == 0; }, 30s);
        controller.window.reset();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        DependencyValues::shared().reset();
    }

    MainWindow& show(const AppOpenMode& mode) {
        controller.show(mode);
        auto& window = *dynamic_cast<MainWindow*>(controller.window.get());
        EXPECT_TRUE(eventually([&] {
            return model() && model()->navigationTarget().is<AppNavigationTarget::MethodSelection>();
        }));
        return window;
    }
    AppNavigationView* view() const {
        auto* window = dynamic_cast<MainWindow*>(controller.window.get());
        return window ? dynamic_cast<AppNavigationView*>(window->centralWidget()) : nullptr;
    }
    std::shared_ptr<AppNavigationViewModel> model() const { return view() ? view()->model() : nullptr; }
    Sheet* sheet() const { return view() ? view()->sheetPresenter()->sheet() : nullptr; }

    // The method chosen on the method-selection screen, with a new authentication session of the server.
    void choose(halcyra::AuthenticationMethod method) {
        auto sessionId =
            testsupport::await(auth->getAuthenticationMethods("nav-tests", halcyra::LevelOfAssurance::high))
                .sessionId;
        model()->handleMethodSelectionResult(
            AuthenticationMethodSelectionResult::success({sessionId, method}));
    }

    // A wallet login that the holder has confirmed, as the wallet sheet reports it: the authentication
    // session and its poll session.
    std::pair<std::string, std::string> confirmedWalletLogin(
        halcyra::LevelOfAssurance level = halcyra::LevelOfAssurance::high) {
        auto sessionId = testsupport::await(auth->getAuthenticationMethods("nav-tests", level)).sessionId;
        auto data = testsupport::await(
            auth->getAuthenticationMethodData(halcyra::AuthenticationMethod::wallet, sessionId));
        EXPECT_TRUE(data.wallet);
        std::string pollSessionId = data.wallet ? data.wallet->pollSessionId : "";
        server.control("/wallet", Json{{"pollSessionId", pollSessionId}, {"state", "AUTHENTICATED"}});
        return {sessionId, pollSessionId};
    }
    // The wallet holder of an authenticated session signs the subscriber agreement: the account exists.
    void onboardWallet(const std::string& sessionId) {
        auto data = testsupport::await(onboarding->confirmUserData({sessionId, "en", "UserAgreement.pdf"}));
        ASSERT_TRUE(data.wallet);
        server.control("/wallet",
                       Json{{"pollSessionId", data.wallet->pollSessionId}, {"state", "AUTHENTICATED"}});
        testsupport::await(onboarding->signAgreement(halcyra::SignAgreementRequest(
            data.onboardingSessionId, halcyra::SignAgreementRequest::Wallet{data.wallet->pollSessionId})));
    }
    bool shows(const std::string& target) {
        return eventually([&] { return model() && describeTarget() == target; }, 30s);
    }
    std::string describeTarget() const;

    // The first line of the info page's message once the window shows one that is final.
    std::string finalMessage() {
        std::string text;
        eventually(
            [&] {
                const auto* info =
                    model() ? model()->navigationTarget().as<AppNavigationTarget::Info>() : nullptr;
                if (!info || info->isWaiting)
                    return false;
                auto* page = dynamic_cast<InfoView*>(view()->screen());
                text = page ? page->messageLabel()->text().toStdString() : "";
                return !text.empty();
            },
            30s);
        return text.substr(0, text.find('\n'));
    }

    // Types the PIN into the field that has the keyboard focus in the PIN sheet, then Return.
    void typePin(const std::string& pin) {
        ASSERT_TRUE(eventually(
            [&] {
                QWidget* focus = QApplication::focusWidget();
                return sheet() && sheet()->isVisible() && focus && focus->window() == sheet();
            },
            30s))
            << "no PIN sheet with the focus in its field";
        QTest::keyClicks(QApplication::focusWidget(), QString::fromStdString(pin));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }

    // Whether the sheet shows a text with that part.
    bool sheetShows(const std::string& part) const {
        if (!sheet())
            return false;
        for (auto* label : sheet()->findChildren<QLabel*>())
            if (label->isVisible() && label->text().toStdString().find(part) != std::string::npos)
                return true;
        return false;
    }

    std::optional<SigningSession> sessionOf(const std::string& tokenIdentifier) const {
        for (const auto& s : database->authenticatedSessions())
            if (s.internalSessionId == tokenIdentifier)
                return s;
        return std::nullopt;
    }
    // The levels of assurance of the server's getMeans requests, in order.
    std::vector<std::string> requestedLevels() const {
        std::vector<std::string> levels;
        for (const auto& request : server.requests())
            if (request.path.ends_with("/auth/getMeans"))
                levels.push_back(request.body.value("level", ""));
        return levels;
    }

    simtest::SimServerProcess server;
    std::shared_ptr<LoggerClient> logger = std::make_shared<LoggerClient>("ui");
    std::shared_ptr<halcyra::AuthenticateAPIClient> auth =
        halcyra::HalcyraClientProvider::authenticateClient(server.basePath(), logger);
    std::shared_ptr<halcyra::RemoteSigningAPIClient> remote =
        halcyra::HalcyraClientProvider::remoteSigningClient(server.basePath(), logger);
    std::shared_ptr<halcyra::OnboardingAPIClient> onboarding =
        halcyra::HalcyraClientProvider::onboardingClient(server.basePath(), logger);
    std::shared_ptr<halcyra::WalletAPIClient> walletClient =
        halcyra::HalcyraClientProvider::walletClient(server.basePath(), logger);
    platform::tokens::TokenStore tokenStore{testsupport::makeTempDir("tokens") /
                                            platform::tokens::driverClassID};
    std::shared_ptr<TokenDriverConfiguration> tokens =
        std::make_shared<TokenDriverConfiguration>(tokenStore, logger);
    std::shared_ptr<AppSettings> settings = std::make_shared<AppSettings>();
    std::shared_ptr<pindle::PindleClientVexoConnect> pindle =
        std::make_shared<pindle::PindleClientVexoConnect>(std::set<std::string>{},
                                                          platform::Scheduler::live());
    std::shared_ptr<SigningSessionDatabase> database = std::make_shared<SigningSessionDatabase>(
        SigningSessionDatabase::always(settings), SigningSessionDatabase::always(logger), pindle, tokens,
        platform::Scheduler::live());
    std::shared_ptr<QuorvaneAPI> api = std::make_shared<QuorvaneAPI>(
        QuorvaneAPI::always(auth), QuorvaneAPI::always(logger), QuorvaneAPI::always(remote),
        QuorvaneAPI::always<SigningSessionDatabaseClient>(database));
    MainWindowController controller;
};

std::string LiveRig::describeTarget() const {
    auto current = model();
    if (!current)
        return "no navigation";
    const auto& target = current->navigationTarget();
    if (const auto* info = target.as<AppNavigationTarget::Info>())
        return "info " + info->message.substr(0, info->message.find('\n'));
    if (target.is<AppNavigationTarget::AccountCreation>())
        return "accountCreation";
    if (const auto* info = target.as<AppNavigationTarget::AccountInfo>())
        return "accountInfo " + info->session.firstName.value_or("-");
    if (target.is<AppNavigationTarget::CertificateRetrieval>())
        return "certificateRetrieval";
    if (target.is<AppNavigationTarget::CardSelection>())
        return "cardSelection";
    return "other";
}

testsupport::Issued citizenCard() {
    return testsupport::issueCitizenCard("Ann", "Peeters", "71715100070");
}

// --- Card logins

TEST(NavigationEndToEnd, ACardLoginWithAWrongPinFirstRegistersTheSessionAndLeadsANewHolderToAccountCreation) {
    LiveRig rig;
    auto issued = citizenCard();
    authtest::Bridge bridge(issued, "1234");
    rig.show(AppOpenMode::getCertificate(true));
    rig.choose(halcyra::AuthenticationMethod::eid);

    // The one card is taken at once; its PIN sheet opens with the focus in the field.
    rig.typePin("0000");
    ASSERT_TRUE(eventually([&] { return rig.sheetShows("PIN is incorrect : 2 attempts remaining."); }, 30s));
    EXPECT_EQ(rig.model()->currentModalState()->pinInputEvent()->kind,
              pindle::CardSigningEvent::Kind::wrongPin);
    rig.typePin("1234");

    ASSERT_TRUE(eventually(
        [&] { return rig.model()->navigationTarget().is<AppNavigationTarget::AccountCreation>(); }, 30s))
        << rig.finalMessage();
    EXPECT_FALSE(rig.sheet());
    auto cards = testsupport::await(rig.pindle->onlyCurrentCards());
    ASSERT_EQ(cards.size(), 1u);
    auto session = rig.sessionOf(cards[0]->uniqueIdentifier());
    ASSERT_TRUE(session) << "the login registered a session for the card";
    EXPECT_EQ(session->firstName, "Ann") << "the holder the server confirmed";
    EXPECT_EQ(rig.model()->currentCard(), nullptr);
}

TEST(NavigationEndToEnd, ABlockedCardAndARemovedCardSayWhatHappened) {
    struct Case {
        std::string name;
        std::function<Json(const testsupport::Issued&)> card;
        std::string shown;
    };
    const std::vector<Case> cases = {
        {"blocked",
         [](const auto& issued) {
             auto card = simtest::softCard(issued);
             card["blocked"] = true;
             return card;
         },
         "5003: Signing failed: Card PIN is blocked"},
        {"removed",
         [](const auto& issued) {
             auto card = simtest::softCard(issued);
             card["removeDuringAuth"] = true;
             return card;
         },
         "5004: eID card removed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LiveRig rig;
        simtest::SimBridge bridge;
        bridge.addReader(simtest::reader("standard", c.card(citizenCard()), "Reader 1"));
        bridge.install();
        rig.show(AppOpenMode::accountInfo());
        rig.choose(halcyra::AuthenticationMethod::eid);
        rig.typePin("1234");
        EXPECT_EQ(rig.finalMessage(), c.shown);
        EXPECT_FALSE(rig.sheet());
    }
}

TEST(NavigationEndToEnd, EscOnThePinSheetEndsTheCardOperationAndClosesTheWindow) {
    LiveRig rig;
    authtest::Bridge bridge(citizenCard());
    auto& window = rig.show(AppOpenMode::getCertificate(false));
    rig.choose(halcyra::AuthenticationMethod::eid);
    ASSERT_TRUE(eventually([&] { return rig.sheet() && rig.sheet()->isVisible(); }, 30s));
    QTest::keyClick(rig.sheet(), Qt::Key_Escape);
    EXPECT_TRUE(eventually([&] { return !window.isVisible(); }));
    // The bridge's run ends with the cancelled operation.
    EXPECT_TRUE(eventually([] { return pindle::VexoConnectInvoker::liveProcessCount() == 0; }, 30s));
}

// --- Wallet logins through the wallet sheet

// Clicks the sheet's button with that title.
bool clickSheetButton(LiveRig& rig, const std::string& title) {
    if (!rig.sheet())
        return false;
    for (auto* button : rig.sheet()->findChildren<QAbstractButton*>())
        if (button->isVisible() && button->isEnabled() && button->text().toStdString() == title) {
            QTest::mouseClick(button, Qt::LeftButton);
            return true;
        }
    return false;
}

TEST(NavigationEndToEnd, AWalletLoginGoesThroughThePollingStatesToTheAccountDecision) {
    LiveRig rig({"--wallet-polls", "6", "--retry-after-ms", "200"});
    rig.show(AppOpenMode::getCertificate(true));
    rig.choose(halcyra::AuthenticationMethod::wallet);
    EXPECT_TRUE(eventually([&] { return rig.sheetShows("Scan the QR code to continue"); }, 30s));
    EXPECT_TRUE(
        eventually([&] { return rig.sheetShows("Please complete authentication on the Civaro app."); }, 30s));
    ASSERT_TRUE(rig.shows("accountCreation")) << rig.describeTarget();
    EXPECT_FALSE(rig.sheet());
    auto session = rig.sessionOf(wallet);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->firstName, "Lotte");
}

TEST(NavigationEndToEnd, AnExpiredWalletCodeIsRefreshedAtTheLevelOfTheLoginAndThenConfirmed) {
    LiveRig rig({"--wallet-polls", "0", "--wallet-seconds", "1", "--retry-after-ms", "200"});
    rig.show(AppOpenMode::getCertificate(true));
    rig.choose(halcyra::AuthenticationMethod::wallet);
    ASSERT_TRUE(eventually([&] { return rig.sheetShows("This code is expired."); }, 30s));
    rig.server.clearRequests();
    ASSERT_TRUE(clickSheetButton(rig, "Refresh the code"));
    // The new code's login is confirmed in the wallet app.
    ASSERT_TRUE(eventually(
        [&] {
            return rig.server.control("/wallet", Json{{"state", "AUTHENTICATED"}}) == 200 &&
                   rig.model()->navigationTarget().is<AppNavigationTarget::AccountCreation>();
        },
        30s))
        << rig.describeTarget();
    EXPECT_EQ(rig.requestedLevels(), std::vector<std::string>{"high"});
}

TEST(NavigationEndToEnd, CancellingTheWalletSheetDuringAPollChangesNothingAfterwards) {
    LiveRig rig({"--wallet-polls", "2", "--retry-after-ms", "100"});
    auto& window = rig.show(AppOpenMode::getCertificate(true));
    rig.server.fault("/wallet/poll", Json{{"delayMs", 1500}});
    rig.choose(halcyra::AuthenticationMethod::wallet);
    auto polls = [&] {
        int count = 0;
        for (const auto& request : rig.server.requests())
            count += request.path.ends_with("/wallet/poll");
        return count;
    };
    ASSERT_TRUE(eventually([&] { return polls() == 1; }, 30s));
    QTest::keyClick(rig.sheet(), Qt::Key_Escape);
    EXPECT_TRUE(eventually([&] { return !window.isVisible(); }));
    // The poll's late reply starts no other poll and no login.
    QTest::qWait(3000);
    EXPECT_EQ(polls(), 1);
    for (const auto& request : rig.server.requests())
        EXPECT_FALSE(request.path.ends_with("/auth/authenticate"));
    EXPECT_FALSE(rig.sessionOf(wallet));
}

// --- Account decisions on the server's answers

TEST(NavigationEndToEnd, AServerErrorWhileValidatingShowsTheServersTextAndForgetsTheSession) {
    LiveRig rig;
    rig.show(AppOpenMode::accountInfo());
    rig.server.fault("/rsign/getAccountStatus", Json{{"status", 500}, {"body", "error"}});
    auto [sessionId, pollSessionId] = rig.confirmedWalletLogin();
    rig.model()->handleWalletTrackingResult(WalletTrackingResult::success(sessionId, pollSessionId));

    const auto shown = rig.finalMessage();
    EXPECT_TRUE(shown.starts_with("1401-500: ")) << shown;
    EXPECT_FALSE(rig.sessionOf(wallet))
        << "the failed validation purged the session the login had registered";
}

TEST(NavigationEndToEnd, AWalletHolderCreatesAnAccountSeesItAndLaterTheServersRefusalToSign) {
    LiveRig rig;
    rig.show(AppOpenMode::accountInfo());
    auto [sessionId, pollSessionId] = rig.confirmedWalletLogin();
    const auto context = SigningSessionContext::wallet(sessionId, pollSessionId);
    rig.model()->handleWalletTrackingResult(WalletTrackingResult::success(sessionId, pollSessionId));
    // No account yet.
    ASSERT_TRUE(rig.shows("accountCreation")) << rig.describeTarget();
    ASSERT_TRUE(rig.sessionOf(wallet));

    // The creation completes: the same login is validated again and the account is shown, with its holder.
    rig.onboardWallet(sessionId);
    rig.model()->handleAccountCreationCompleted(context, std::nullopt);
    ASSERT_TRUE(rig.shows("accountInfo Lotte")) << rig.describeTarget();
    EXPECT_TRUE(rig.settings->hasOnboardedAtLeastOnce());

    // Later the server blocks signing for the account, with a reason.
    ASSERT_EQ(rig.server.control("/accounts", Json{{"rrnr", "85073003328"},
                                                   {"canSign", false},
                                                   {"reason",
                                                    {{"code", "12"},
                                                     {"descriptions",
                                                      {{"en", "Your account is suspended."},
                                                       {"fr", "Compte suspendu."},
                                                       {"nl", "Rekening geschorst."},
                                                       {"de", "Konto gesperrt."}}}}}}),
              200);
    platform::SystemInfo::setPreferredLanguagesOverride(std::vector<std::string>{"en-BE"});
    rig.show(AppOpenMode::accountInfo());
    rig.model()->handleWalletTrackingResult(WalletTrackingResult::success(sessionId, pollSessionId));
    EXPECT_EQ(rig.finalMessage(), "12: Your account is suspended.");
    platform::SystemInfo::setPreferredLanguagesOverride(std::nullopt);
    EXPECT_TRUE(rig.sessionOf(wallet)) << "a refusal is not an error: the session stays";
}

TEST(NavigationEndToEnd,
     AWalletLoginForAnInactiveAccountAfterOnboardingLogsInAgainAtHighAndKeepsItOnRefresh) {
    LiveRig rig;
    rig.settings->setHasOnboardedAtLeastOnce(true);
    rig.show(AppOpenMode::accountInfo());
    auto [sessionId, pollSessionId] = rig.confirmedWalletLogin(halcyra::LevelOfAssurance::substantial);
    rig.server.clearRequests();
    rig.model()->handleWalletTrackingResult(WalletTrackingResult::success(sessionId, pollSessionId));

    ASSERT_TRUE(eventually(
        [&] {
            const auto& state = rig.model()->currentModalState();
            return state && state->walletTrackingSessionId();
        },
        30s))
        << rig.describeTarget();
    EXPECT_EQ(rig.model()->currentSigningReason(),
              SigningReason::of(SigningReason::Kind::accountCreationAuthentication));
    EXPECT_FALSE(rig.settings->hasOnboardedAtLeastOnce());
    EXPECT_TRUE(rig.sheet());
    // A new QR code for that login stays at high.
    testsupport::await(
        rig.model()->refreshWalletSession(*rig.model()->currentModalState()->walletTrackingSessionId()));
    EXPECT_EQ(rig.requestedLevels(), (std::vector<std::string>{"high", "high"}));
}

}  // namespace
