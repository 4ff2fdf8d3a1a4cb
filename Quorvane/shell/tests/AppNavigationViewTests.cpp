// The navigation view in the real main window: the screen it shows for each target's model and where each
// screen's completion leads, the info page's OK, the main menu's replacement of the whole navigation, and the
// PIN sheet over the window with its ends by Esc and by the window closing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "NavigationTestSupport.h"
#include "Quorvane/account/AccountCreationView.h"
#include "Quorvane/auth/CardSelectionView.h"
#include "Quorvane/auth/PinInputView.h"
#include "Quorvane/shell/AppNavigationView.h"
#include "Quorvane/shell/views/AppSettingsView.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/shell/views/LaunchAgentServiceInfoView.h"
#include "Quorvane/shell/views/MenuButtonView.h"
#include "Quorvane/shell/views/MenuView.h"
#include "Quorvane/shell/views/SheetPresenter.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/signing/CertificateRetrievalView.h"
#include "Quorvane/signing/SigningView.h"

using namespace navtest;
using namespace std::chrono_literals;

namespace {

const std::string wallet = SigningSessionContext::walletTokenIdentifier;

AppNavigationView* navigation(MainWindow& window) {
    return dynamic_cast<AppNavigationView*>(window.centralWidget());
}

template <class Screen>
Screen* screen(MainWindow& window) {
    auto* view = navigation(window);
    return view ? dynamic_cast<Screen*>(view->screen()) : nullptr;
}

// The main window shown for the mode, its navigation started.
MainWindow& show(NavigationRig& rig, const AppOpenMode& mode) {
    MainWindow& window = rig.useMainWindow();
    rig.controller.show(mode);
    rig.settle();
    return window;
}

TEST(AppNavigationViewTest, TheWindowStartsOnAnEmptyWaitingPageThenShowsTheModesScreen) {
    NavigationRig rig;
    MainWindow& window = rig.useMainWindow();
    rig.controller.show(AppOpenMode::accountInfo());
    auto* waiting = screen<InfoView>(window);
    ASSERT_TRUE(waiting);
    EXPECT_EQ(waiting->messageLabel()->text(), "");
    EXPECT_TRUE(waiting->progressIndicator() && waiting->progressIndicator()->isVisibleTo(waiting));
    EXPECT_FALSE(waiting->okButton() && waiting->okButton()->isVisibleTo(waiting));
    rig.settle();
    EXPECT_NE(navigation(window)->screen(), nullptr);
    EXPECT_FALSE(screen<InfoView>(window));
    EXPECT_EQ(describe(navigation(window)->model()->navigationTarget()), "methodSelection");
}

TEST(AppNavigationViewTest, AnErrorPageLetsTheUserCopyItsTextAndOkClosesTheWindowWithoutTheModel) {
    for (bool isError : {true, false}) {
        SCOPED_TRACE(isError ? "error" : "message");
        NavigationRig rig;
        MainWindow& window = show(rig, AppOpenMode::accountInfo());
        auto model = navigation(window)->model();
        if (isError)
            model->handleSigningCompleted(
                AppError(ErrorCodeCategory::app, std::nullopt, "001", "No hash.", std::nullopt));
        else
            model->handlePinInputEnded(true);
        rig.settle();
        auto* page = screen<InfoView>(window);
        ASSERT_TRUE(page);
        const auto text = page->messageLabel()->text().toStdString();
        EXPECT_EQ(headline(text), isError ? "2001: No hash." : "2400: PIN input has timed out.");

        QApplication::clipboard()->setText("before");
        QTest::mousePress(page, Qt::LeftButton, {}, QPoint(5, 5));
        EXPECT_EQ(QApplication::clipboard()->text().toStdString(), isError ? text : "before");
        rig.scheduler->advance(3s);  // the copy's toast

        // OK closes the window, whatever became of the navigation model.
        model->end();
        model.reset();
        ASSERT_TRUE(page->okButton());
        QTest::mouseClick(page->okButton(), Qt::LeftButton);
        rig.settle();
        EXPECT_FALSE(window.isVisible());
    }
}

TEST(AppNavigationViewTest, TheFlowsScreensReportBackToTheNavigation) {
    struct Case {
        std::string name;
        AppOpenMode mode;
        std::function<void(NavigationRig&, AppNavigationViewModel&)> reach;  // brings the target on screen
        std::function<void(QWidget*)> complete;                              // the screen's completion
        bool closes;
        Lines calls;
    };
    auto creationScreen = [](QWidget* s) { return dynamic_cast<AccountCreationView*>(s); };
    auto deletedAccount = [](NavigationRig& rig, AppNavigationViewModel& model) {
        rig.store->storedSession = session(wallet, "server-1");
        rig.remote->accountStatus.status = halcyra::AccountStatus::deleted;
        model.handleWalletTrackingResult(WalletTrackingResult::success("auth-1", "poll-1"));
    };
    const std::vector<Case> cases = {
        {"account creation done for the plug-in",
         AppOpenMode::getCertificate(false),
         deletedAccount,
         [&](QWidget* s) { creationScreen(s)->model()->certificateRetrievalCompleted(std::nullopt); },
         true,
         {}},
        {"account creation cancelled",
         AppOpenMode::getCertificate(false),
         deletedAccount,
         [&](QWidget* s) { creationScreen(s)->model()->stop(); },
         true,
         {"purgeSession " + wallet}},
        // The real retrieval runs on the fakes, whose server cannot tell the certificate: its failure comes
        // back to the navigation, which shows it.
        {"certificate retrieval failed",
         AppOpenMode::getCertificate(false),
         [](NavigationRig& rig, AppNavigationViewModel& model) {
             rig.store->storedSession = session(wallet, "server-1");
             model.handleWalletTrackingResult(WalletTrackingResult::success("auth-1", "poll-1"));
         },
         [](QWidget* s) { EXPECT_TRUE(dynamic_cast<InfoView*>(s)); },
         false,
         {}},
        {"signed",
         AppOpenMode::sign(SigningRequestType::overXPC()),
         [](NavigationRig&, AppNavigationViewModel&) {},
         [](QWidget* s) {
             // The token's signature goes out.
             dynamic_cast<SigningView*>(s)->model()->finishWithSignatures({"AQID"});
         },
         true,
         {}},
        {"settings done",
         AppOpenMode::settings(),
         [](NavigationRig&, AppNavigationViewModel&) {},
         [](QWidget* s) {
             QTest::mouseClick(dynamic_cast<AppSettingsView*>(s)->doneButton(), Qt::LeftButton);
         },
         true,
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        NavigationRig rig;
        MainWindow& window = show(rig, c.mode);
        c.reach(rig, *navigation(window)->model());
        rig.settle();
        rig.log->take();
        c.complete(navigation(window)->screen());
        rig.settle();
        EXPECT_EQ(window.isVisible(), !c.closes);
        EXPECT_EQ(rig.log->take(), c.calls);
    }
}

TEST(AppNavigationViewTest, ACompletionAfterTheWindowMovedOnChangesNothing) {
    NavigationRig rig;
    MainWindow& window = show(rig, AppOpenMode::sign(SigningRequestType::overXPC()));
    auto* signing = screen<SigningView>(window);
    ASSERT_TRUE(signing);
    auto signingModel = signing->model();
    std::weak_ptr<AppNavigationViewModel> old = navigation(window)->model();

    rig.controller.show(AppOpenMode::settings());
    rig.settle();
    ASSERT_TRUE(screen<AppSettingsView>(window));
    EXPECT_TRUE(old.expired());
    signingModel->finishWithFailure(
        AppError(ErrorCodeCategory::app, std::nullopt, "001", "late", std::nullopt));
    rig.settle();
    EXPECT_TRUE(screen<AppSettingsView>(window));
    EXPECT_TRUE(window.isVisible());
    // Closing the busy window answered the token once; the late ending leaves the shared client alone.
    EXPECT_EQ(std::count(rig.xpc->calls.begin(), rig.xpc->calls.end(), "cancel"), 1);
}

TEST(AppNavigationViewTest, TheLaunchAgentPageGoesOnToSigningOnceTheAgentIsEnabled) {
    NavigationRig rig;
    rig.launchAgent->enabled = false;
    MainWindow& window = show(rig, AppOpenMode::sign(SigningRequestType::overXPC()));
    ASSERT_TRUE(screen<LaunchAgentServiceInfoView>(window));
    rig.launchAgent->enabled = true;
    rig.scheduler->advance(1s);
    rig.settle();
    EXPECT_TRUE(screen<SigningView>(window));
}

TEST(AppNavigationViewTest, AMainMenuChoiceReplacesTheNavigationWithOneForItsMode) {
    NavigationRig rig;
    MainWindow& window = show(rig, AppOpenMode::menu());
    auto* menu = screen<MenuView>(window);
    ASSERT_TRUE(menu);
    std::weak_ptr<AppNavigationViewModel> old = navigation(window)->model();
    AppNavigationView* oldView = navigation(window);

    QTest::mouseClick(menu->accountInfoButton(), Qt::LeftButton);
    rig.settle();
    EXPECT_NE(navigation(window), oldView);
    EXPECT_TRUE(old.expired());
    EXPECT_EQ(navigation(window)->model()->mode(), AppOpenMode::accountInfo());
    EXPECT_EQ(describe(navigation(window)->model()->navigationTarget()), "methodSelection");
    EXPECT_EQ(rig.controller.lastShownMode(), AppOpenMode::accountInfo());
}

TEST(AppNavigationViewTest, NoCardPresentStillGivesTheCardSelectionScreen) {
    NavigationRig rig;
    MainWindow& window = show(rig, AppOpenMode::accountInfo());
    navigation(window)->model()->handleMethodSelectionResult(
        AuthenticationMethodSelectionResult::success({"auth-1", halcyra::AuthenticationMethod::eid}));
    rig.settle();
    EXPECT_TRUE(screen<CardSelectionView>(window));
}

// --- The PIN sheet over the window

struct PinSheetRig {
    PinSheetRig() : window(show(rig, AppOpenMode::getCertificate(true))) {
        rig.facade->keepOpen = true;
        rig.facade->script = std::vector{
            AuthenticateFlowEvent::signingEvent(CardSigningEvent::pinRequested([](const std::string&) {}))};
        navigation(window)->model()->handleCardSelected(card("card-1", rig.log), "auth-1");
        rig.settle();
        rig.log->take();
    }
    Sheet* sheet() const { return navigation(window)->sheetPresenter()->sheet(); }

    NavigationRig rig;
    MainWindow& window;
};

TEST(AppNavigationViewTest, EscOnThePinSheetCancelsTheCardAndClosesTheWindow) {
    PinSheetRig pin;
    ASSERT_TRUE(pin.sheet());
    EXPECT_TRUE(pin.sheet()->isVisible());
    EXPECT_EQ(pin.sheet()->parentWidget()->window(), &pin.window);
    EXPECT_TRUE(dynamic_cast<PinInputView*>(pin.sheet()->content()));

    QTest::keyClick(pin.sheet(), Qt::Key_Escape);
    pin.rig.settle();
    EXPECT_EQ(pin.rig.log->take(), Lines{"cancel card-1"});
    EXPECT_FALSE(pin.sheet());
    EXPECT_FALSE(pin.window.isVisible());
}

TEST(AppNavigationViewTest, AWindowClosedUnderThePinSheetEndsTheCardOperationAndTheSheet) {
    PinSheetRig pin;
    QPointer<Sheet> sheet = pin.sheet();
    // As the certificate link does before it opens the window anew.
    pin.rig.controller.close(true);
    pin.rig.settle();
    EXPECT_EQ(pin.rig.log->take(), Lines{"cancel card-1"});
    EXPECT_FALSE(sheet);

    // Showing the window again gives a new navigation, without a sheet.
    pin.rig.controller.show(AppOpenMode::getCertificate(false));
    pin.rig.settle();
    EXPECT_FALSE(pin.sheet());
    EXPECT_EQ(describe(navigation(pin.window)->model()->navigationTarget()), "methodSelection");
}

TEST(AppNavigationViewTest, ShowingAnotherModeOverThePinSheetEndsTheRunningFlowFirst) {
    PinSheetRig pin;
    QPointer<Sheet> sheet = pin.sheet();
    pin.rig.controller.show(AppOpenMode::settings());
    pin.rig.settle();
    EXPECT_EQ(pin.rig.log->take(), Lines{"cancel card-1"});
    EXPECT_FALSE(sheet);
    EXPECT_TRUE(screen<AppSettingsView>(pin.window));
    EXPECT_TRUE(pin.window.isVisible());
}

}  // namespace
