// The account screens end to end, on the app's live services: the stand-in server over TLS and the stand-in
// bridge's software card, the session store with a token folder of its own. A holder without an account logs
// in as the app does, then goes through the creation screen as a user would: its pages, the PIN typed into
// the real PIN sheet or the wallet's polling states, the server's faults at each step, a PIN time-out, a
// renewed QR code, stopping at each step. The account screen then saves the signed agreement through the real
// save dialog and deactivates the account.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <fstream>
#include <thread>

#include "Quorvane/account/AccountCreationConditionsView.h"
#include "Quorvane/account/AccountCreationDisclaimerView.h"
#include "Quorvane/account/AccountCreationIdentityValidationView.h"
#include "Quorvane/account/AccountCreationStepHeaderView.h"
#include "Quorvane/account/AccountCreationSubscriberAgreementView.h"
#include "Quorvane/account/AccountCreationView.h"
#include "Quorvane/account/AccountDeletionView.h"
#include "Quorvane/account/AccountInfoView.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/shell/views/Sheet.h"
#include "Quorvane/shell/views/SheetPresenter.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/Toggle.h"
#include "Quorvane/testing/LiveRig.h"
#include "Quorvane/testing/StandInBridge.h"
#include "outside/Common/Common.h"
#include "platform/VirtualScheduler.h"
#include "platform/testing/Await.h"
#include "platform/testing/TestEnvironment.h"

namespace {

using namespace std::chrono_literals;
using halcyra::AuthenticationMethod;
using platform::Bytes;
using platform::json::Json;
using testsupport::await;
using State = AccountCreationModalState;

const std::string pin = "1234";

// Logs the holder in as the app does: a new session at the level for an account creation, confirmed by the
// card's PIN or in the wallet, registered in the session store.
QCoro::Task<bool> completedLogin(platform::AsyncStream<AuthenticateFlowEvent> events) {
    bool completed = false;
    while (auto event = co_await events.next()) {
        if (event->cardSigningEvent && event->cardSigningEvent->providePinClosure)
            event->cardSigningEvent->providePinClosure(pin);
        completed = completed || event->kind == AuthenticateFlowEvent::Kind::completed;
    }
    co_return completed;
}

// The live services with a card holder who has no account yet, and a window for the account screens.
class AccountRig : public testsupport::LiveRig {
  public:
    explicit AccountRig(std::vector<std::string> flags = {},
                        std::shared_ptr<platform::Scheduler> scheduler = platform::Scheduler::live())
        : testsupport::LiveRig(std::move(flags)), scheduler(std::move(scheduler)) {
        DependencyValues::shared().reset();
        install();
        window.resize(800, 550);
        window.show();
        QApplication::setActiveWindow(&window);
    }
    ~AccountRig() {
        delete screen;
        pump(100ms);
        DependencyValues::shared().reset();
    }

    SigningSessionContext logIn(AuthenticationMethod method) {
        auto sessionId =
            await(auth->getAuthenticationMethods(database->clientData(), halcyra::LevelOfAssurance::high))
                .sessionId;
        std::optional<SigningSessionContext> context;
        if (method == AuthenticationMethod::wallet) {
            auto data = await(auth->getAuthenticationMethodData(AuthenticationMethod::wallet, sessionId));
            EXPECT_TRUE(data.wallet);
            server.control("/wallet",
                           Json{{"pollSessionId", data.wallet->pollSessionId}, {"state", "AUTHENTICATED"}});
            context = SigningSessionContext::wallet(sessionId, data.wallet->pollSessionId);
        } else {
            auto cards = await(pindle->onlyCurrentCards());
            EXPECT_EQ(cards.size(), 1u);
            context = SigningSessionContext::card(sessionId, cards.front());
        }
        EXPECT_TRUE(await(completedLogin(api->runAuthentication(*context, false))));
        server.clearRequests();
        return *context;
    }

    // The creation screen for the login, in the window.
    AccountCreationView& create(const SigningSessionContext& context) {
        model = std::make_shared<AccountCreationViewModel>(
            context, [this](std::optional<AppError> error) { completions.push_back(std::move(error)); },
            [this] { ++cancels; }, scheduler, [this] { ++closes; });
        // The sheet states as they come, each by its kind.
        states = model->modalSheetState()->subscribe([this] {
            const auto& state = model->modalSheetState()->value();
            seen.push_back(!state                    ? "none"
                           : state->waitingMessage() ? state->waitingMessage()->message
                                                     : std::to_string(static_cast<int>(state->kind())));
        });
        show(new AccountCreationView(model));
        return *creation();
    }
    AccountCreationView* creation() const { return dynamic_cast<AccountCreationView*>(screen); }
    template <class Page>
    Page* page() const {
        return creation() ? dynamic_cast<Page*>(creation()->page()) : nullptr;
    }
    Sheet* sheet() const {
        if (auto* view = creation())
            return view->sheetPresenter()->sheet();
        if (auto* view = dynamic_cast<AccountInfoView*>(screen))
            return view->sheetPresenter()->sheet();
        return nullptr;
    }

    // The sheet's content, when it is of that kind (the views have no meta-object of their own, so findChild
    // would take any widget).
    template <class Content>
    Content* content() const {
        return sheet() ? dynamic_cast<Content*>(sheet()->content()) : nullptr;
    }

    void show(QWidget* content) {
        delete screen;
        screen = content;
        screen->setParent(&window);
        screen->resize(window.size());
        screen->show();
        pump(50ms);
    }

    // Runs the event loop (and moves a virtual clock on) for a while, or until the condition holds.
    void pump(std::chrono::milliseconds duration) {
        waitFor([] { return false; }, duration);
    }
    bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit = 30s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!condition()) {
            if (std::chrono::steady_clock::now() >= end)
                return false;
            QApplication::processEvents(QEventLoop::AllEvents, 5);
            QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            if (auto* virtualClock = dynamic_cast<platform::VirtualScheduler*>(scheduler.get()))
                virtualClock->advance(10ms);
            else
                std::this_thread::sleep_for(2ms);
        }
        return true;
    }

    // Through the three pages to the agreement, as the user goes: the keyboard where the focus is, clicks
    // elsewhere.
    void goToIdentity() {
        ASSERT_TRUE(waitFor([&] { return page<AccountCreationDisclaimerView>(); }));
        QTest::mouseClick(page<AccountCreationDisclaimerView>()->activateButton(), Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return page<AccountCreationConditionsView>(); }));
        page<AccountCreationConditionsView>()->checkbox()->checkBox()->click();
        QTest::mouseClick(page<AccountCreationConditionsView>()->confirmButton(), Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return page<AccountCreationIdentityValidationView>(); }));
    }
    void goToAgreement() {
        goToIdentity();
        confirmIdentity();
        ASSERT_TRUE(waitFor([&] { return page<AccountCreationSubscriberAgreementView>(); }))
            << "last sheet state: " << (seen.empty() ? "-" : seen.back());
    }
    void confirmIdentity() {
        auto* identity = page<AccountCreationIdentityValidationView>();
        if (!identity->confirmToggle()->isChecked())
            identity->confirmToggle()->checkBox()->click();
        QTest::mouseClick(identity->confirmButton(), Qt::LeftButton);
    }
    void confirmAgreement() {
        ASSERT_TRUE(waitFor([&] {
            auto* agreement = page<AccountCreationSubscriberAgreementView>();
            return agreement && agreement->confirmButton()->isEnabled() && !sheet();
        }));
        QTest::mouseClick(page<AccountCreationSubscriberAgreementView>()->confirmButton(), Qt::LeftButton);
    }
    // Types the PIN into the PIN sheet's field, which has the keyboard focus, then Return.
    void typePin(const std::string& typed = pin) {
        ASSERT_TRUE(waitFor([&] {
            QWidget* focus = QApplication::focusWidget();
            return sheet() && sheet()->isVisible() && content<PinInputView>() && focus &&
                   focus->window() == sheet();
        })) << "no PIN sheet with the focus in its field";
        QTest::keyClicks(QApplication::focusWidget(), QString::fromStdString(typed));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }
    // The message the sheet shows, once it shows one with its OK button.
    std::string message() {
        std::string text;
        waitFor([&] {
            auto* info = content<InfoView>();
            text = info && info->okButton() ? info->messageLabel()->text().toStdString() : "";
            return !text.empty();
        });
        return text;
    }
    void confirmMessage() {
        auto* info = content<InfoView>();
        ASSERT_TRUE(info && info->okButton());
        QTest::mouseClick(info->okButton(), Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return !sheet(); }));
    }
    bool ended() {
        return waitFor([&] { return completions.size() + cancels > 0; }, 60s);
    }

    int requestsTo(const std::string& endpoint) const {
        int count = 0;
        for (const auto& request : server.requests())
            count += request.path.ends_with(endpoint);
        return count;
    }
    // What the server says of the holder's account, asked in a new login of its own.
    std::string accountStatus(const SigningSessionContext& context) {
        return halcyra::rawValue(await(remote->getAccountStatus(context.sessionId())).status).data();
    }

    std::shared_ptr<platform::Scheduler> scheduler;
    QWidget window;
    QWidget* screen = nullptr;
    std::shared_ptr<AccountCreationViewModel> model;
    Observable::Subscription states;
    std::vector<std::string> seen;
    std::vector<std::optional<AppError>> completions;
    int cancels = 0;
    int closes = 0;
};

struct CardHolder {
    testsupport::Issued card = testsupport::issueCitizenCard("Bram", "Claes", "93051822361");
    testsupport::StandInBridge bridge{card, pin};
};

// --- The whole creation

TEST(AccountEndToEnd, ACardHolderCreatesTheAccountAndGetsTheCertificateIntoTheToken) {
    LogCapture log;
    CardHolder holder;
    AccountRig rig;
    const auto context = rig.logIn(AuthenticationMethod::eid);
    EXPECT_EQ(rig.accountStatus(context), "DELETED");
    rig.create(context);
    rig.goToAgreement();
    rig.confirmAgreement();
    rig.typePin();
    ASSERT_TRUE(rig.ended()) << "last sheet state: " << rig.seen.back();

    ASSERT_EQ(rig.completions.size(), 1u);
    EXPECT_FALSE(rig.completions[0]) << rig.completions[0]->code << " " << rig.completions[0]->message;
    EXPECT_EQ(rig.accountStatus(context), "ACTIVE");
    const auto certificate = await(rig.remote->getSignatureInfo(context.sessionId())).signingCertificate;
    EXPECT_EQ(rig.tokens->certificateData(context.tokenIdentifier()), certificate);

    // What the server was asked, in order, with the values it must get.
    std::vector<std::string> endpoints;
    for (const auto& request : rig.server.requests())
        if (!request.path.ends_with("/rsign/getAccountStatus"))
            endpoints.push_back(request.path.substr(request.path.rfind('/') + 1));
    EXPECT_EQ(endpoints, (std::vector<std::string>{"getAgreementFile", "confirmUserData", "signAgreement",
                                                   "getSignatureInfo", "getSignatureInfo"}));
    for (const auto& request : rig.server.requests()) {
        if (request.path.ends_with("/onboarding/getAgreementFile")) {
            EXPECT_EQ(request.body["pdfLanguage"], "en");
        }
        if (request.path.ends_with("/onboarding/confirmUserData")) {
            EXPECT_EQ(request.body["uiLanguage"], "en");
            EXPECT_EQ(request.body["pdfName"], "UserAgreement.pdf");
        }
    }
    // The server answers within the 0.1 s gap: the retrieval was never replaced by the older progress
    // message.
    const auto retrieving = std::to_string(static_cast<int>(State::Kind::retrievingCertificate));
    const auto last = std::find(rig.seen.rbegin(), rig.seen.rend(), retrieving);
    ASSERT_NE(last, rig.seen.rend());
    for (auto later = rig.seen.rbegin(); later != last; ++later)
        EXPECT_EQ(*later, "none");
    // The session id reaches the log only as its tag.
    for (const auto& message : log.messages())
        EXPECT_EQ(message.find(context.sessionId()), std::string::npos) << message;
    const auto messages = log.messages();
    EXPECT_NE(std::find(messages.begin(), messages.end(),
                        "Fetching onboarding data for " + sessionTag(context.sessionId())),
              messages.end());
}

TEST(AccountEndToEnd, AWalletHolderConfirmsTheAgreementThroughThePollingStates) {
    AccountRig rig({"--wallet-polls", "4", "--retry-after-ms", "200"});
    const auto context = rig.logIn(AuthenticationMethod::wallet);
    rig.create(context);
    rig.goToAgreement();
    rig.confirmAgreement();
    ASSERT_TRUE(rig.waitFor([&] { return rig.content<WalletTrackingView>(); }));
    ASSERT_TRUE(rig.ended()) << "last sheet state: " << rig.seen.back();
    ASSERT_EQ(rig.completions.size(), 1u);
    EXPECT_FALSE(rig.completions[0]) << rig.completions[0]->message;
    EXPECT_GE(rig.requestsTo("/wallet/poll"), 4);
    EXPECT_EQ(rig.accountStatus(context), "ACTIVE");
    EXPECT_EQ(rig.tokens->certificateData(SigningSessionContext::walletTokenIdentifier),
              await(rig.remote->getSignatureInfo(context.sessionId())).signingCertificate);
}

TEST(AccountEndToEnd, AnExpiredQrCodeIsRenewedWithANewOnboardingSession) {
    AccountRig rig({"--wallet-polls", "0", "--wallet-seconds", "2", "--retry-after-ms", "200"});
    const auto context = rig.logIn(AuthenticationMethod::wallet);
    rig.create(context);
    rig.goToAgreement();
    rig.confirmAgreement();
    WalletTrackingView* wallet = nullptr;
    ASSERT_TRUE(rig.waitFor([&] {
        wallet = rig.content<WalletTrackingView>();
        return wallet && wallet->refreshButton() && wallet->refreshButton()->isEnabled();
    })) << "the code does not expire";
    const auto first = rig.model->onboardingSessionId();
    QTest::mouseClick(wallet->refreshButton(), Qt::LeftButton);
    ASSERT_TRUE(rig.waitFor([&] { return rig.model->onboardingSessionId() != first; }));
    EXPECT_EQ(rig.requestsTo("/onboarding/confirmUserData"), 2);

    // The holder confirms the new code in the app.
    rig.server.control("/wallet", Json{{"state", "AUTHENTICATED"}});
    ASSERT_TRUE(rig.ended());
    EXPECT_FALSE(rig.completions.at(0));
    for (const auto& request : rig.server.requests())
        if (request.path.ends_with("/onboarding/signAgreement")) {
            EXPECT_EQ(request.body["onboardingSessionId"], rig.model->onboardingSessionId());
        }
    EXPECT_EQ(rig.accountStatus(context), "ACTIVE");
}

// --- What goes wrong on the way

TEST(AccountEndToEnd, ANetworkErrorAtAnyStepKeepsTheUserOnThePageToTryAgain) {
    const char* const networkMessage = "Network error, please verify your internet connection.";
    for (const std::string endpoint :
         {"/onboarding/getAgreementFile", "/onboarding/confirmUserData", "/onboarding/signAgreement"}) {
        SCOPED_TRACE(endpoint);
        CardHolder holder;
        AccountRig rig;
        const auto context = rig.logIn(AuthenticationMethod::eid);
        rig.create(context);
        rig.server.fault(endpoint, Json{{"drop", true}, {"count", 1}});
        if (endpoint == "/onboarding/getAgreementFile") {
            rig.goToIdentity();
            rig.confirmIdentity();
            EXPECT_EQ(rig.message(), networkMessage);
            EXPECT_TRUE(rig.page<AccountCreationIdentityValidationView>());
            rig.confirmMessage();
            rig.confirmIdentity();
            ASSERT_TRUE(rig.waitFor([&] { return rig.page<AccountCreationSubscriberAgreementView>(); }));
        } else {
            rig.goToAgreement();
            rig.confirmAgreement();
            if (endpoint == "/onboarding/signAgreement")
                rig.typePin();
            EXPECT_EQ(rig.message(), networkMessage);
            EXPECT_TRUE(rig.creation()->header()->stopButton()->isEnabled());
            rig.confirmMessage();
        }
        // Again, through to the end.
        rig.confirmAgreement();
        rig.typePin();
        ASSERT_TRUE(rig.ended());
        EXPECT_FALSE(rig.completions.at(0)) << rig.completions[0]->message;
        EXPECT_EQ(rig.accountStatus(context), "ACTIVE");
    }
}

TEST(AccountEndToEnd, AServerErrorAtAnyStepEndsTheCreationWithItsCode) {
    struct Case {
        std::string endpoint;
        std::string code;
        ErrorCodeCategory category;
        std::optional<ErrorCodeSourceFlow> flow;
    };
    const Case cases[] = {
        {"/onboarding/getAgreementFile", "00", ErrorCodeCategory::backend, ErrorCodeSourceFlow::onboarding},
        {"/onboarding/confirmUserData", "01", ErrorCodeCategory::backend, ErrorCodeSourceFlow::onboarding},
        {"/onboarding/signAgreement", "01", ErrorCodeCategory::backend, ErrorCodeSourceFlow::onboarding},
        {"/rsign/getSignatureInfo", "02", ErrorCodeCategory::backend,
         ErrorCodeSourceFlow::certificateRetrieval},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.endpoint);
        CardHolder holder;
        AccountRig rig;
        const auto context = rig.logIn(AuthenticationMethod::eid);
        rig.create(context);
        rig.server.fault(c.endpoint, Json{{"status", 503}, {"body", "error"}});
        rig.goToIdentity();
        rig.confirmIdentity();
        if (c.endpoint != "/onboarding/getAgreementFile") {
            ASSERT_TRUE(rig.waitFor([&] { return rig.page<AccountCreationSubscriberAgreementView>(); }));
            rig.confirmAgreement();
            if (c.endpoint != "/onboarding/confirmUserData")
                rig.typePin();
        }
        ASSERT_TRUE(rig.ended());
        ASSERT_EQ(rig.completions.size(), 1u);
        const auto& error = rig.completions[0];
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, c.code);
        EXPECT_EQ(error->category, c.category);
        EXPECT_EQ(error->sourceFlow, c.flow);
        ASSERT_TRUE(error->apiError);
        EXPECT_EQ(error->apiError->statusCode(), 503);
        EXPECT_FALSE(rig.sheet());
    }
}

TEST(AccountEndToEnd, AfterThePinTimesOutTheUserConfirmsAgainAndFinishes) {
    CardHolder holder;
    auto clock = std::make_shared<platform::VirtualScheduler>(
        platform::Date(std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::system_clock::now().time_since_epoch())));
    AccountRig rig({}, clock);
    const auto context = rig.logIn(AuthenticationMethod::eid);
    rig.create(context);
    rig.goToAgreement();
    rig.confirmAgreement();
    ASSERT_TRUE(rig.waitFor([&] { return rig.content<PinInputView>(); }));
    clock->advance(PinInputViewModel::timeout);
    EXPECT_EQ(rig.message(), "PIN input has timed out.");
    rig.confirmMessage();
    // No dead end: both ways out are open.
    EXPECT_TRUE(rig.creation()->header()->stopButton()->isEnabled());
    rig.confirmAgreement();
    rig.typePin();
    ASSERT_TRUE(rig.ended());
    EXPECT_FALSE(rig.completions.at(0));
    EXPECT_EQ(rig.requestsTo("/onboarding/confirmUserData"), 2);
    EXPECT_EQ(rig.accountStatus(context), "ACTIVE");
}

TEST(AccountEndToEnd, TheUserMayStopAtEachStepAndNoAccountIsMade) {
    struct Case {
        const char* name;
        std::function<void(AccountRig&)> stop;
    };
    const auto stopActivation = [](AccountRig& rig) {
        ASSERT_TRUE(rig.waitFor([&] {
            return rig.creation()->header() && rig.creation()->header()->stopButton()->isEnabled() &&
                   !rig.sheet();
        }));
        QTest::mouseClick(rig.creation()->header()->stopButton(), Qt::LeftButton);
    };
    const Case cases[] = {
        {"cancel on the disclaimer",
         [](AccountRig& rig) {
             ASSERT_TRUE(rig.waitFor([&] { return rig.page<AccountCreationDisclaimerView>(); }));
             QTest::mouseClick(rig.page<AccountCreationDisclaimerView>()->cancelButton(), Qt::LeftButton);
         }},
        {"stop on the terms",
         [&](AccountRig& rig) {
             ASSERT_TRUE(rig.waitFor([&] { return rig.page<AccountCreationDisclaimerView>(); }));
             QTest::mouseClick(rig.page<AccountCreationDisclaimerView>()->activateButton(), Qt::LeftButton);
             stopActivation(rig);
         }},
        {"stop on the identity",
         [&](AccountRig& rig) {
             rig.goToIdentity();
             stopActivation(rig);
         }},
        {"stop on the agreement",
         [&](AccountRig& rig) {
             rig.goToAgreement();
             stopActivation(rig);
         }},
        {"Esc on the PIN sheet, then stop",
         [&](AccountRig& rig) {
             rig.goToAgreement();
             rig.confirmAgreement();
             ASSERT_TRUE(rig.waitFor([&] { return rig.content<PinInputView>(); }));
             QTest::keyClick(rig.sheet(), Qt::Key_Escape);
             stopActivation(rig);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CardHolder holder;
        AccountRig rig;
        const auto context = rig.logIn(AuthenticationMethod::eid);
        rig.create(context);
        c.stop(rig);
        ASSERT_TRUE(rig.ended());
        EXPECT_EQ(rig.cancels, 1);
        EXPECT_TRUE(rig.completions.empty());
        EXPECT_EQ(rig.requestsTo("/onboarding/signAgreement"), 0);
        EXPECT_EQ(rig.accountStatus(context), "DELETED");
        EXPECT_FALSE(rig.tokens->certificateData(context.tokenIdentifier()));
    }
    {
        SCOPED_TRACE("cancel on the wallet sheet, then stop");
        AccountRig rig({"--wallet-polls", "0"});
        const auto context = rig.logIn(AuthenticationMethod::wallet);
        rig.create(context);
        rig.goToAgreement();
        rig.confirmAgreement();
        WalletTrackingView* wallet = nullptr;
        ASSERT_TRUE(rig.waitFor([&] {
            wallet = rig.content<WalletTrackingView>();
            return wallet && wallet->cancelButton() && wallet->cancelButton()->isEnabled();
        }));
        QTest::mouseClick(wallet->cancelButton(), Qt::LeftButton);
        stopActivation(rig);
        ASSERT_TRUE(rig.ended());
        EXPECT_EQ(rig.cancels, 1);
        EXPECT_EQ(rig.accountStatus(context), "DELETED");
    }
}

// --- The account screen

class AccountScreenEndToEnd : public ::testing::Test {
  protected:
    AccountScreenEndToEnd() {
        context = rig.logIn(AuthenticationMethod::eid);
        rig.create(context);
        rig.goToAgreement();
        rig.confirmAgreement();
        rig.typePin();
        EXPECT_TRUE(rig.ended());
        auto session = rig.database->activeSession(context, false);
        EXPECT_TRUE(session);
        info = std::make_shared<AccountInfoViewModel>(context, *session, rig.scheduler,
                                                      [this] { ++rig.closes; });
        rig.show(new AccountInfoView(info));
    }
    AccountInfoView& screen() { return *dynamic_cast<AccountInfoView*>(rig.screen); }

    // Downloads the signed agreement and saves it in the real save dialog, under the path typed into it.
    void save(const QString& path) {
        QTest::mouseClick(screen().subscriberAgreementButton(), Qt::LeftButton);
        QFileDialog* dialog = nullptr;
        ASSERT_TRUE(rig.waitFor([&] { return (dialog = rig.window.findChild<QFileDialog*>()) != nullptr; }));
        EXPECT_TRUE(dialog->selectedFiles().value(0).endsWith("/Signed Agreement.pdf"));
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_TRUE(name);
        name->setText(path);
        QTest::keyClick(name, Qt::Key_Return);
        ASSERT_TRUE(rig.waitFor([&] { return !rig.window.findChild<QFileDialog*>(); }));
    }

    CardHolder holder;
    AccountRig rig;
    SigningSessionContext context = SigningSessionContext::wallet("", "");
    std::shared_ptr<AccountInfoViewModel> info;
};

TEST_F(AccountScreenEndToEnd, TheExportedAgreementIsTheServersPdfByteForByte) {
    ASSERT_TRUE(screen().certificateView());
    const auto folder = QString::fromStdString(testsupport::makeTempDir("agreement").native());
    save(folder + "/Signed Agreement.pdf");
    std::ifstream file((folder + "/Signed Agreement.pdf").toStdString(), std::ios::binary);
    const Bytes saved((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto served = await(rig.onboarding->getSignedAgreementFile(context.sessionId()));
    EXPECT_FALSE(served.empty());
    EXPECT_EQ(saved, served);
    EXPECT_EQ(std::string(saved.begin(), saved.begin() + 5), "%PDF-");
    EXPECT_FALSE(rig.sheet());
}

TEST_F(AccountScreenEndToEnd, AFolderThatCannotBeWrittenShowsTheError) {
    // A path under a file: not even root can make a file there.
    const auto folder = testsupport::makeTempDir("agreement");
    std::ofstream(folder / "not-a-folder") << "x";
    const auto target = QString::fromStdString((folder / "not-a-folder" / "Signed Agreement.pdf").native());
    save(target);
    const auto text = rig.message();
    EXPECT_TRUE(
        text.starts_with("2402: The signed agreement could not be saved: " + target.toStdString() + ": "))
        << text;
    EXPECT_FALSE(std::filesystem::exists(target.toStdString()));
}

TEST_F(AccountScreenEndToEnd, DeactivationLeavesNoSessionTokenOrAccount) {
    QTest::mouseClick(screen().deactivateButton(), Qt::LeftButton);
    AccountDeletionView* confirmation = nullptr;
    ASSERT_TRUE(rig.waitFor([&] { return (confirmation = rig.content<AccountDeletionView>()); }));
    QTest::mouseClick(confirmation->deactivateButton(), Qt::LeftButton);
    EXPECT_EQ(rig.message(), "Account deactivated");
    rig.confirmMessage();
    EXPECT_TRUE(rig.waitFor([&] { return rig.closes == 1; }));

    EXPECT_FALSE(rig.database->activeSession(context, false));
    EXPECT_FALSE(rig.tokens->certificateData(context.tokenIdentifier()));
    EXPECT_FALSE(rig.settings->hasOnboardedAtLeastOnce());
    for (const auto& request : rig.server.requests())
        if (request.path.ends_with("/rsign/deleteAccount")) {
            EXPECT_EQ(request.body["reason"], "macOS Quorvane");
        }
    EXPECT_EQ(rig.accountStatus(context), "DELETED");
}

}  // namespace
