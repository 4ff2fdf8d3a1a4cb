// The signing screen on the model's doubles, offscreen: it starts the flow when first shown and never again,
// shows the flow's message or the card selection, and carries the PIN sheet, whose typed PIN reaches the
// card.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTest>

#include "Quorvane/auth/AuthenticationSheets.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/signing/SigningView.h"
#include "SigningTestDoubles.h"

namespace {

using namespace signingtest;
using namespace std::chrono_literals;

void show(QWidget& screen) {
    screen.resize(800, 550);
    screen.show();
    QApplication::setActiveWindow(&screen);
}

TEST(SigningView, ShowingTheScreenStartsTheFlowOnceAndThePinTypedInItsSheetSigns) {
    Rig rig;
    rig.addSession(SigningSessionContext::card("server-1", rig.card), 3600s);
    auto model = rig.make(bulk("card-1", {"AQID"}));
    SigningView screen(model);
    rig.settle();
    EXPECT_TRUE(rig.remote->consentCalls.requests.empty()) << "nothing starts before the screen is shown";

    // Shown again before the flow has got far (hiding the screen later would close its sheet).
    for (int showing = 0; showing < 3; ++showing) {
        show(screen);
        screen.hide();
    }
    show(screen);
    rig.settle();
    EXPECT_EQ(rig.remote->consentCalls.requests.size(), 1u);
    EXPECT_EQ(rig.card->signedData.size(), 1u);
    ASSERT_TRUE(screen.infoView());
    EXPECT_EQ(screen.infoView()->messageLabel()->text(), "Creating signature...");
    EXPECT_TRUE(screen.infoView()->progressIndicator());

    ASSERT_TRUE(screen.sheetPresenter()->sheet());
    auto* pinView = screen.sheetPresenter()->sheet()->findChild<PinInputView*>();
    ASSERT_TRUE(pinView);
    QTest::keyClicks(pinView->pinField(), "1234");
    QTest::keyClick(pinView->pinField(), Qt::Key_Return);
    rig.settle();
    EXPECT_EQ(rig.card->pins, std::vector<std::string>{"1234"});
    EXPECT_EQ(rig.remote->signCalls.requests.size(), 1u);
    EXPECT_FALSE(screen.sheetPresenter()->sheet());
    EXPECT_EQ(*rig.opened, std::vector<std::string>{"https://example.org/cb?signatures=AQID,BAUG"});
}

TEST(SigningView, TheCardSelectionTakesThePlaceOfTheWaitingPageUntilTheWantedCardComes) {
    Rig rig;
    auto model = rig.make(bulk("card-9", {"AQID"}));
    SigningView screen(model);
    ASSERT_TRUE(screen.infoView());
    EXPECT_EQ(screen.infoView()->messageLabel()->text(), "");
    show(screen);
    rig.settle();
    ASSERT_TRUE(screen.cardSelectionView());
    EXPECT_FALSE(screen.infoView());

    rig.reader->cards.push_back(std::make_shared<testsupport::FakeCard>("card-9"));
    rig.scheduler->advance(1s);
    rig.settle();
    EXPECT_FALSE(screen.cardSelectionView());
    ASSERT_TRUE(screen.infoView());
    EXPECT_EQ(screen.infoView()->messageLabel()->text(), "Authenticating...");
    EXPECT_EQ(rig.facade->log->list, std::vector<std::string>{"runAuthentication card-9 auth-1 retrieving"});
    ASSERT_TRUE(screen.sheetPresenter()->sheet()) << "the login's PIN sheet";
}

TEST(SigningView, ATokenRequestWaitsForTheTokenFromTheFirstShowingOn) {
    Rig rig;
    auto model = rig.make(SigningRequestType::overXPC());
    SigningView screen(model);
    EXPECT_TRUE(rig.xpc->calls.empty());
    show(screen);
    screen.hide();
    show(screen);
    rig.settle();
    EXPECT_EQ(rig.xpc->calls, (std::vector<std::string>{"disconnect", "connect", "register", "ready"}));
    EXPECT_TRUE(model->timeoutTimer());
}

}  // namespace
