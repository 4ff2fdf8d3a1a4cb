// The choice of authentication method against the stand-in server: the decision per mode and method list,
// the level of assurance asked for, the failures and their shown codes, the update gate before it, and the
// re-validation of stored sessions; then the screen driven by the mouse and the keyboard.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTest>

#include "AuthTestSupport.h"
#include "Quorvane/auth/AuthenticationMethodButtonView.h"
#include "Quorvane/auth/AuthenticationMethodSelectionView.h"
#include "Quorvane/auth/AuthenticationMethodSelectionViewModel.h"
#include "Quorvane/core/AppVersions.h"
#include "Quorvane/core/CardMock.h"
#include "Quorvane/core/ErrorCodeWrap.h"
#include "Quorvane/core/HalcyraClients.h"
#include "Quorvane/shell/views/AppSettingsView.h"
#include "Quorvane/shell/views/AppVersionsView.h"
#include "Quorvane/shell/views/Sheet.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/testing/FakeRemoteSigningClient.h"
#include "Quorvane/testing/LiveRig.h"
#include "api/Clients.h"
#include "platform/BundleInfo.h"
#include "platform/Workspace.h"
#include "platform/qt/TlsTrust.h"
#include "platform/testing/Await.h"
#include "platform/testing/Eventually.h"
#include "sim/testing/SimServerProcess.h"

using namespace std::chrono_literals;
using halcyra::AuthenticationMethod;
using Json = platform::json::Json;
using Mode = AuthenticationMethodSelectionMode;
using Method = halcyra::AuthenticationMethodsResponse::Method;
using ResultKind = AuthenticationMethodSelectionResult::Kind;
using testsupport::eventually;

namespace {

// Sets the app's short version while it lives.
class AppVersion {
  public:
    explicit AppVersion(const std::string& version) {
        platform::BundleInfo::overrideMainInfoDictionary(
            platform::BundleInfo::Dictionary{{platform::BundleInfo::shortVersionKey, version}});
    }
    ~AppVersion() { platform::BundleInfo::resetMainInfoDictionary(); }
};

// The first widget of that type inside the widget (the views have no meta-object of their own).
template <class T>
T* descendant(QWidget* widget) {
    for (auto* child : widget->findChildren<QWidget*>())
        if (auto* found = dynamic_cast<T*>(child))
            return found;
    return nullptr;
}

Json means(std::vector<std::pair<std::string, bool>> entries) {
    Json list = Json::array();
    for (const auto& [mean, disabled] : entries)
        list.push_back(Json{{"mean", mean}, {"disabled", disabled}});
    return list;
}

class MethodSelection : public authtest::CleanState {
  protected:
    static void SetUpTestSuite() {
        live = new testsupport::LiveRig;
        server = &live->server;
    }
    static void TearDownTestSuite() {
        server = nullptr;
        delete live;
        live = nullptr;
    }

    MethodSelection() {
        // A client of its own per test: no connection kept from a test's faults.
        DependencyValues::shared().set<AuthenticateAPIClientKey>(
            HalcyraClients::live(server->basePath(), live->logger).authenticate);
        DependencyValues::shared().set<RemoteSigningAPIClientKey>(accounts);
        useAppVersions(AppVersionsFileLocation::testNoUpdate);
        server->clearFaults();
        server->clearRequests();
    }

    void useAppVersions(AppVersionsFileLocation location) {
        DependencyValues::shared().set<AppVersionsKey>(std::make_shared<AppVersions>(location));
    }
    // The server's next method lists.
    void offer(const Json& list, const std::string& sessionId = "AUTH-SESSION") {
        server->fault(
            "/auth/getMeans",
            Json{{"status", 200}, {"rawBody", Json{{"sessionId", sessionId}, {"means", list}}.dump()}});
    }

    std::shared_ptr<AuthenticationMethodSelectionViewModel> make(bool validate = false) {
        return std::make_shared<AuthenticationMethodSelectionViewModel>(
            "Means selection certificate creation", std::nullopt, validate,
            [this](AuthenticationMethodSelectionResult result) { results.push_back(std::move(result)); },
            scheduler);
    }
    // Runs the sequence of one showing to its end.
    std::shared_ptr<AuthenticationMethodSelectionViewModel> appear(bool validate = false) {
        auto model = make(validate);
        testsupport::await(model->onAppear());
        return model;
    }
    std::size_t methodRequests() const {
        std::size_t count = 0;
        for (const auto& request : server->requests())
            count += request.path.ends_with("/auth/getMeans");
        return count;
    }

    static testsupport::LiveRig* live;
    static simtest::SimServerProcess* server;
    authtest::SessionStore sessionStore{scheduler};
    // The account statuses a test gives per server session; a session without one fails.
    std::shared_ptr<testsupport::FakeRemoteSigningClient> accounts =
        std::make_shared<testsupport::FakeRemoteSigningClient>();
    std::vector<AuthenticationMethodSelectionResult> results;
};

testsupport::LiveRig* MethodSelection::live = nullptr;
simtest::SimServerProcess* MethodSelection::server = nullptr;

TEST_F(MethodSelection, TheModeAndTheServersListDecide) {
    struct Case {
        const char* name;
        Mode mode;
        Json list;
        // What happens: a method chosen, the list shown, or the "no valid method" failure.
        std::optional<AuthenticationMethod> chosen;
        bool listed;
    };
    const Case cases[] = {
        {"manual, one card", Mode::manual, means({{"eid", false}}), AuthenticationMethod::eid, false},
        {"manual, one wallet", Mode::manual, means({{"wallet", false}}), AuthenticationMethod::wallet, false},
        {"manual, one disabled", Mode::manual, means({{"wallet", true}}), std::nullopt, true},
        {"manual, two", Mode::manual, means({{"eid", false}, {"wallet", false}}), std::nullopt, true},
        {"manual, two disabled", Mode::manual, means({{"eid", true}, {"wallet", true}}), std::nullopt, true},
        {"manual, none", Mode::manual, means({}), std::nullopt, false},
        {"manual, only unknown means", Mode::manual, means({{"itsme", false}}), std::nullopt, false},
        {"manual, unknown and card", Mode::manual, means({{"itsme", false}, {"eid", false}}),
         AuthenticationMethod::eid, false},
        {"always card", Mode::alwaysEID, means({{"wallet", false}, {"eid", false}}),
         AuthenticationMethod::eid, false},
        {"always card, none offered", Mode::alwaysEID, means({{"wallet", false}}), std::nullopt, false},
        {"always card, empty list", Mode::alwaysEID, means({}), std::nullopt, false},
        {"always card, first disabled", Mode::alwaysEID, means({{"eid", true}, {"eid", false}}), std::nullopt,
         true},
        {"always card, disabled wallet beside", Mode::alwaysEID, means({{"wallet", true}, {"eid", false}}),
         AuthenticationMethod::eid, false},
        {"always wallet", Mode::alwaysWallet, means({{"eid", true}, {"wallet", false}}),
         AuthenticationMethod::wallet, false},
        {"always wallet, disabled", Mode::alwaysWallet, means({{"eid", false}, {"wallet", true}}),
         std::nullopt, true},
        {"always wallet, none offered", Mode::alwaysWallet, means({{"eid", false}}), std::nullopt, false},
    };
    auto settings = std::make_shared<AppSettings>();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings->setAuthenticationMethodSelectionMode(c.mode);
        offer(c.list, std::string("SESSION-") + c.name);
        results.clear();
        auto model = appear();
        if (c.chosen) {
            ASSERT_EQ(results.size(), 1u);
            ASSERT_EQ(results[0].kind, ResultKind::success);
            EXPECT_EQ(*results[0].context,
                      (AuthenticationContext{std::string("SESSION-") + c.name, *c.chosen}));
            EXPECT_EQ(model->viewState().kind, AuthenticationMethodSelectionViewState::Kind::loading);
        } else if (c.listed) {
            EXPECT_TRUE(results.empty());
            std::vector<Method> listed;
            for (const auto& entry : c.list)
                listed.push_back(
                    {*halcyra::authenticationMethodFromRawValue(entry["mean"].get<std::string>()),
                     entry["disabled"].get<bool>()});
            EXPECT_EQ(model->viewState(), AuthenticationMethodSelectionViewState::selection(
                                              std::string("SESSION-") + c.name, listed));
        } else {
            ASSERT_EQ(results.size(), 1u);
            ASSERT_EQ(results[0].kind, ResultKind::failure);
            EXPECT_EQ(ErrorCodeWrap::errorText(*results[0].error).substr(0, 57),
                      "22500: Could not retrieve valid authentication methods.\n\n");
        }
    }
}

TEST_F(MethodSelection, AsksForTheHigherLevelUntilTheUserHasOnboarded) {
    offer(means({{"eid", false}}));
    auto settings = std::make_shared<AppSettings>();
    for (bool onboarded : {false, true}) {
        settings->setHasOnboardedAtLeastOnce(onboarded);
        server->clearRequests();
        appear();
        const auto request = server->lastRequest();
        EXPECT_TRUE(request.path.ends_with("/auth/getMeans"));
        EXPECT_EQ(request.body["level"], onboarded ? "substantial" : "high");
        EXPECT_EQ(request.body["clientData"], sessionStore.store->clientData());
    }
}

TEST_F(MethodSelection, AFailedRequestEndsWithTheMeansHandlingError) {
    struct Case {
        Json fault;
        const char* headline;
    };
    const Case cases[] = {
        {Json{{"status", 503}}, "15500-503: "},
        {Json{{"status", 200}, {"body", "malformed"}}, "15500: "},
        {Json{{"drop", true}}, "15500: Network error, please verify your internet connection.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault.dump());
        server->clearFaults();
        server->fault("/auth/getMeans", c.fault);
        results.clear();
        auto model = appear();
        ASSERT_EQ(results.size(), 1u);
        ASSERT_EQ(results[0].kind, ResultKind::failure);
        const AppError& error = *results[0].error;
        EXPECT_EQ(error.category, ErrorCodeCategory::backend);
        EXPECT_EQ(error.sourceFlow, ErrorCodeSourceFlow::meansHandling);
        EXPECT_EQ(error.code, "500");
        ASSERT_TRUE(error.apiError);
        EXPECT_EQ(error.message, ErrorCodeWrap::message(*error.apiError));
        const std::string text = ErrorCodeWrap::errorText(error);
        EXPECT_EQ(text.substr(0, std::string(c.headline).size()), c.headline) << text;
        EXPECT_EQ(model->viewState().kind, AuthenticationMethodSelectionViewState::Kind::loading);
    }
}

TEST_F(MethodSelection, AForcedOrDueSuggestedUpdateComesFirst) {
    offer(means({{"eid", false}}));
    struct Case {
        const char* name;
        AppVersionsFileLocation location;
        const char* appVersion;
        std::optional<std::chrono::seconds> remindIn;
        bool dialog;
    };
    const Case cases[] = {
        {"forced", AppVersionsFileLocation::testForcedUpdate, "1.0.0", std::nullopt, true},
        {"forced, reminder pending", AppVersionsFileLocation::testForcedUpdate, "1.0.0", 3600s, true},
        {"at the forced version", AppVersionsFileLocation::testForcedUpdate, "99.0.0", std::nullopt, false},
        // Versions count as numbers: 100 is above 99 (as text it would sort below).
        {"above the forced version", AppVersionsFileLocation::testForcedUpdate, "100.0.0", std::nullopt,
         false},
        {"suggested", AppVersionsFileLocation::testSuggestedUpdate, "1.0.0", std::nullopt, true},
        {"suggested, reminder passed", AppVersionsFileLocation::testSuggestedUpdate, "1.0.0", -1s, true},
        {"suggested, reminder now", AppVersionsFileLocation::testSuggestedUpdate, "1.0.0", 0s, false},
        {"suggested, reminder pending", AppVersionsFileLocation::testSuggestedUpdate, "1.0.0", 3600s, false},
        {"update without thresholds", AppVersionsFileLocation::testSimpleUpdate, "1.0.0", std::nullopt,
         false},
        {"up to date", AppVersionsFileLocation::testNoUpdate, "1.0.0", std::nullopt, false},
        {"no document", AppVersionsFileLocation::downloads, "1.0.0", std::nullopt, false},
    };
    auto settings = std::make_shared<AppSettings>();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AppVersion version(c.appVersion);
        useAppVersions(c.location);
        settings->setDateForNextSuggestedUpdateDialog(
            c.remindIn ? std::optional<platform::Date>(scheduler->now() + *c.remindIn) : std::nullopt);
        server->clearRequests();
        results.clear();
        auto model = appear();
        if (!c.dialog) {
            EXPECT_FALSE(model->currentModalState());
            EXPECT_EQ(results.size(), 1u);
            continue;
        }
        ASSERT_TRUE(model->currentModalState());
        EXPECT_EQ(model->currentModalState()->kind,
                  AuthenticationMethodSelectionModalState::Kind::updateInformation);
        EXPECT_EQ(model->currentModalState()->release->version, "99.0.0");
        EXPECT_TRUE(results.empty());
        EXPECT_EQ(methodRequests(), 0u) << "the methods wait for the dialog";

        // The dialog closes: the sequence goes on after the update check.
        model->continueAfterUpdateDialog();
        EXPECT_FALSE(model->currentModalState());
        scheduler->runPending();
        ASSERT_TRUE(eventually([&] { return !results.empty(); }));
        EXPECT_EQ(results[0].kind, ResultKind::success);
        EXPECT_FALSE(model->currentModalState()) << "no second update check";
        EXPECT_EQ(methodRequests(), 1u);
    }
}

TEST_F(MethodSelection, StoredSessionsAreRevalidatedAndInactiveOnesPurged) {
    offer(means({{"eid", false}}));
    const auto card = [](const std::string& id) {
        return std::make_shared<CardMock>("Ann", "Peeters", "1", id, std::nullopt, std::nullopt,
                                          platform::Bytes{});
    };
    auto& store = *sessionStore.store;
    store.registerSession(SigningSessionContext::card("S-ACTIVE", card("ACTIVE")), scheduler->now() + 2h);
    store.registerSession(SigningSessionContext::card("S-FAILING", card("FAILING")), scheduler->now() + 2h);
    store.registerSession(SigningSessionContext::wallet("S-DELETED", "POLL"), scheduler->now() + 2h);
    store.registerSession(SigningSessionContext::card("S-EXPIRING", card("EXPIRING")),
                          scheduler->now() + 100s);
    accounts->statusBySession = {{"S-ACTIVE", halcyra::AccountStatus::active},
                                 {"S-DELETED", halcyra::AccountStatus::deleted}};

    // Only where the window was opened for the plug-in.
    appear(false);
    EXPECT_TRUE(accounts->accountStatusCalls.requests.empty());
    EXPECT_EQ(store.authenticatedSessions().size(), 4u);

    LogCapture log;
    results.clear();
    appear(true);
    std::set<std::string> asked(accounts->accountStatusCalls.requests.begin(),
                                accounts->accountStatusCalls.requests.end());
    EXPECT_EQ(asked, (std::set<std::string>{"S-ACTIVE", "S-FAILING", "S-DELETED"}))
        << "the expiring session was purged first";
    std::set<std::string> kept;
    for (const auto& session : store.authenticatedSessions())
        kept.insert(session.internalSessionId);
    EXPECT_EQ(kept, (std::set<std::string>{"ACTIVE", "FAILING"}));

    std::vector<std::string> lines;
    for (const auto& line : log.messages())
        if (line.starts_with("Validating account status") || line.starts_with("Account is not active"))
            lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "Validating account status for session Internal ID: WALLET_TOKEN_IDENTIFIER"),
              1);
    const auto purged =
        std::find(lines.begin(), lines.end(), "Account is not active, purging session and persistent token");
    ASSERT_NE(purged, lines.end());
    EXPECT_EQ(*(purged - 1), "Validating account status for session Internal ID: WALLET_TOKEN_IDENTIFIER");
    ASSERT_EQ(results.size(), 1u) << "then the methods";
    EXPECT_EQ(results[0].kind, ResultKind::success);
}

// ---- Screen

class MethodSelectionScreen : public MethodSelection {
  protected:
    struct Shown {
        explicit Shown(std::shared_ptr<AuthenticationMethodSelectionViewModel> model)
            : view(std::move(model)) {
            view.resize(800, 550);
            view.show();
            QApplication::setActiveWindow(&view);
        }
        AuthenticationMethodSelectionView view;
    };
};

TEST_F(MethodSelectionScreen, TheHolderChoosesAnOfferedMethod) {
    offer(means({{"eid", false}, {"wallet", true}}), "LISTED");
    auto model = make();
    Shown shown(model);
    // While loading, the bottom row is there already.
    EXPECT_TRUE(shown.view.settingsButton()->isVisible());
    ASSERT_TRUE(eventually([&] { return shown.view.methodButtons().size() == 2; }));
    QApplication::processEvents();
    EXPECT_TRUE(shown.view.doneButton()->hasFocus());
    EXPECT_EQ(shown.view.titleLabel()->text(), "Means selection certificate creation");
    EXPECT_EQ(shown.view.doneButton()->text(), "Done");

    auto* card = shown.view.methodButtons()[0];
    auto* wallet = shown.view.methodButtons()[1];
    EXPECT_EQ(card->buttonText().plainText(), "Authenticate with eID");
    EXPECT_EQ(wallet->buttonText().plainText(), "Log in through Civaro (Temporarily unavailable)");
    EXPECT_FALSE(wallet->isEnabled());
    QTest::mouseClick(wallet, Qt::LeftButton);
    EXPECT_TRUE(results.empty());

    // The keyboard goes from the methods over the terms' two links to the buttons below, and back.
    std::vector<std::pair<QWidget*, QString>> order;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        order.emplace_back(QApplication::focusWidget(), shown.view.termsLabel()->selectedText());
    }
    auto* terms = shown.view.termsLabel();
    EXPECT_EQ(order, (std::vector<std::pair<QWidget*, QString>>{{shown.view.settingsButton(), ""},
                                                                {terms, "privacy statement"},
                                                                {terms, "terms and conditions"},
                                                                {card, ""}}));
    QTest::keyClick(card, Qt::Key_Tab);
    EXPECT_EQ(terms->selectedText(), "terms and conditions");
    platform::WorkspaceRecorder workspace;
    QTest::keyClick(terms, Qt::Key_Return);
    EXPECT_EQ(workspace.openedURLs(),
              std::vector<std::string>{AuthenticationMethodSelectionView::termsURL()});
    QTest::keyClick(terms, Qt::Key_Backtab);
    ASSERT_EQ(QApplication::focusWidget(), card);
    QTest::keyClick(card, Qt::Key_Return);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(*results[0].context, (AuthenticationContext{"LISTED", AuthenticationMethod::eid}));
}

TEST_F(MethodSelectionScreen, DoneAsksToCloseTheWindowWithoutAResult) {
    offer(means({{"eid", false}, {"wallet", false}}));
    int doneRequests = 0;
    auto model = std::make_shared<AuthenticationMethodSelectionViewModel>(
        "Means selection certificate creation", "Use existing certificate", false,
        [this](AuthenticationMethodSelectionResult result) { results.push_back(std::move(result)); },
        scheduler, [&] { ++doneRequests; });
    Shown shown(model);
    ASSERT_TRUE(eventually([&] { return shown.view.termsLabel() != nullptr; }));
    EXPECT_EQ(shown.view.doneButton()->text(), "Use existing certificate");
    bool doneNamedInIntroduction = false;
    for (auto* label : shown.view.findChildren<QLabel*>())
        doneNamedInIntroduction |= label->text().contains("<b>Use existing certificate</b>");
    EXPECT_TRUE(doneNamedInIntroduction);

    const QString terms = AuthenticationMethodSelectionView::termsText(shown.view.palette());
    EXPECT_TRUE(
        terms.contains(QString("<a href=\"%1\"")
                           .arg(QString::fromStdString(AuthenticationMethodSelectionView::termsURL()))));
    EXPECT_TRUE(terms.contains(QString::fromStdString(AuthenticationMethodSelectionView::privacyURL())));
    EXPECT_EQ(AuthenticationMethodSelectionView::termsURL(),
              "https://remotesign.quorvane.example/docs/UserConditions");
    QTest::mouseClick(shown.view.doneButton(), Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_EQ(doneRequests, 1);
    EXPECT_TRUE(results.empty());
}

TEST_F(MethodSelectionScreen, TheSheetsOpenAndCloseThroughTheModel) {
    AppVersion version("1.0.0");
    useAppVersions(AppVersionsFileLocation::testSuggestedUpdate);
    offer(means({{"eid", false}, {"wallet", false}}));
    auto model = make();
    Shown shown(model);
    // The suggested update first; its Cancel lets the sequence go on.
    ASSERT_TRUE(eventually([&] { return shown.view.sheet() && shown.view.sheet()->isVisible(); }));
    auto* update = descendant<AppVersionsView>(shown.view.sheet());
    ASSERT_TRUE(update);

    ASSERT_TRUE(update->cancelButton());
    QTest::mouseClick(update->cancelButton(), Qt::LeftButton);
    EXPECT_FALSE(model->currentModalState());
    ASSERT_TRUE(eventually([&] {
        scheduler->runPending();
        return shown.view.methodButtons().size() == 2;
    }));
    EXPECT_FALSE(shown.view.sheet());

    // Settings: opened by its button, closed by Esc or its Done.
    for (bool escape : {true, false}) {
        QTest::mouseClick(shown.view.settingsButton(), Qt::LeftButton);
        ASSERT_TRUE(shown.view.sheet());
        EXPECT_TRUE(shown.view.sheet()->isVisible());
        auto* settings = descendant<AppSettingsView>(shown.view.sheet());
        ASSERT_TRUE(settings);
        if (escape)
            QTest::keyClick(shown.view.sheet(), Qt::Key_Escape);
        else
            QTest::mouseClick(settings->doneButton(), Qt::LeftButton);
        EXPECT_FALSE(model->currentModalState());
        EXPECT_FALSE(shown.view.sheet());
    }
    EXPECT_TRUE(results.empty());
}

TEST_F(MethodSelectionScreen, AForcedUpdateCannotBeClosed) {
    AppVersion version("1.0.0");
    useAppVersions(AppVersionsFileLocation::testForcedUpdate);
    offer(means({{"eid", false}}));
    auto model = make();
    Shown shown(model);
    ASSERT_TRUE(eventually([&] { return shown.view.sheet() && shown.view.sheet()->isVisible(); }));
    QTest::keyClick(shown.view.sheet(), Qt::Key_Escape);
    shown.view.sheet()->close();
    QApplication::processEvents();
    EXPECT_TRUE(shown.view.sheet() && shown.view.sheet()->isVisible());
    EXPECT_TRUE(model->currentModalState());
    EXPECT_EQ(methodRequests(), 0u);
}

}  // namespace
