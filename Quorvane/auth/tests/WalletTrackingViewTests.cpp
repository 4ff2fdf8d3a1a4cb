// The wallet sheet's wiring, on the stand-in server: which buttons work in which state, and the sheet closed
// by the platform (Esc, the window's close button) taking the Cancel button's path.
#include <gtest/gtest.h>

#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTest>

#include "Quorvane/auth/WalletSecurityCheckView.h"
#include "Quorvane/auth/WalletTrackingView.h"
#include "Quorvane/shell/views/RemainingTimeClockView.h"
#include "Quorvane/shell/views/Sheet.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "WalletTrackingTestSupport.h"

using namespace std::chrono_literals;
using namespace wallettest;
using Kind = WalletPollingState::Kind;

namespace {

class WalletTrackingViewTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = new WalletServer; }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    static const simtest::SimServerProcess& server() { return server_->server; }
    static WalletServer* server_;

    // The sheet over a window, as a flow shows it; the flow closes it when the model is cancelled.
    struct Shown {
        QWidget window;
        std::shared_ptr<WalletTrackingViewModel> model;
        WalletTrackingView* view;
        QPointer<Sheet> sheet;

        explicit Shown(std::shared_ptr<WalletTrackingViewModel> m) : model(std::move(m)) {
            window.resize(800, 550);
            window.show();
            view = new WalletTrackingView(model);
            // Esc and the close button take the view's Cancel, as the flows' sheets do.
            sheet = new Sheet(view, &window, [view = view] { view->cancel(); });
            sheet->show();
            QApplication::processEvents();
        }
    };

    static double opacity(QWidget* widget) {
        auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
        return effect ? effect->opacity() : 1.0;
    }
};

WalletServer* WalletTrackingViewTest::server_ = nullptr;

TEST_F(WalletTrackingViewTest, RefreshWorksOnlyOnAnExpiredCodeAndCancelAlwaysButOnSuccess) {
    WalletRig rig(*server_);
    rig.recorder.refresh = [&](std::string) { return newAuthenticationSession(rig.liveAuth); };
    Shown shown(rig.makeModel(rig.newSession()));
    WalletTrackingView& view = *shown.view;
    shown.model->startTracking();

    // Waiting for the first answer: a progress indicator, the scan instruction.
    auto* progress = view.qrCodeArea()->findChild<QProgressBar*>();
    ASSERT_TRUE(progress);
    EXPECT_TRUE(progress->isVisible());
    EXPECT_EQ(view.headline()->text(), "Scan the QR code to continue");
    EXPECT_FALSE(view.refreshButton()->isEnabled());
    EXPECT_DOUBLE_EQ(opacity(view.refreshButton()), 0.3);
    EXPECT_TRUE(view.cancelButton()->isEnabled());
    EXPECT_FALSE(view.securityCheck()) << "a login shows no security check";

    ASSERT_TRUE(rig.pumpPolls(1));
    EXPECT_FALSE(progress->isVisible());
    EXPECT_TRUE(view.clock()->isVisible());
    EXPECT_EQ(view.clock()->totalTimeInSeconds(), 300);
    EXPECT_FALSE(view.refreshButton()->isEnabled());
    EXPECT_TRUE(view.cancelButton()->isEnabled());

    rig.setWalletState(shown.model->pollingSessionId(), "EXPIRED");
    rig.scheduler->advance(WalletServer::retryAfter);
    ASSERT_TRUE(rig.pumpPolls(2));
    EXPECT_EQ(view.headline()->text(), "This code is expired.");
    EXPECT_FALSE(view.clock()->isVisible());
    EXPECT_TRUE(view.refreshButton()->isEnabled());
    EXPECT_DOUBLE_EQ(opacity(view.refreshButton()), 1.0);

    QTest::mouseClick(view.refreshButton(), Qt::LeftButton);
    EXPECT_FALSE(view.refreshButton()->isEnabled()) << "one refresh at a time";
    EXPECT_TRUE(progress->isVisible());
    ASSERT_TRUE(rig.pumpPolls(3));
    EXPECT_EQ(shown.model->pollingState().kind(), Kind::scanAllowed);

    rig.setWalletState(shown.model->pollingSessionId(), "AUTHENTICATION_PENDING");
    rig.scheduler->advance(WalletServer::retryAfter);
    ASSERT_TRUE(rig.pumpPolls(4));
    EXPECT_EQ(view.clock()->totalTimeInSeconds(), 120);
    EXPECT_TRUE(view.cancelButton()->isEnabled());

    // On success neither button nor the platform's close reacts; the sheet ends by itself 2 s later.
    rig.setWalletState(shown.model->pollingSessionId(), "AUTHENTICATED");
    rig.scheduler->advance(WalletServer::retryAfter);
    ASSERT_TRUE(rig.pumpPolls(5));
    EXPECT_FALSE(view.refreshButton()->isEnabled());
    EXPECT_FALSE(view.cancelButton()->isEnabled());
    QTest::keyClick(shown.sheet, Qt::Key_Escape);
    shown.sheet->close();
    EXPECT_EQ(rig.recorder.cancelled, 0);
    EXPECT_TRUE(shown.sheet->isVisible());
    rig.scheduler->advance(2s);
    ASSERT_EQ(rig.recorder.results.size(), 1u);
    EXPECT_EQ(rig.recorder.results[0].kind, WalletTrackingResult::Kind::success);
}

TEST_F(WalletTrackingViewTest, EscCloseAndCancelEndTheSheetThroughTheCancelPath) {
    const std::pair<const char*, std::function<void(Sheet&, WalletTrackingView&)>> ways[] = {
        {"Esc", [](Sheet& sheet, WalletTrackingView&) { QTest::keyClick(&sheet, Qt::Key_Escape); }},
        {"the window's close button", [](Sheet& sheet, WalletTrackingView&) { sheet.close(); }},
        {"Cancel",
         [](Sheet&, WalletTrackingView& view) { QTest::mouseClick(view.cancelButton(), Qt::LeftButton); }},
    };
    for (const auto& [label, close] : ways) {
        SCOPED_TRACE(label);
        WalletRig rig(*server_);
        Shown shown(rig.makeModel(rig.newSession()));
        // The flow ends the sheet when told of the cancel, as its owner does.
        rig.recorder.onCancel = [&] { shown.sheet->deleteLater(); };
        shown.model->startTracking();
        ASSERT_TRUE(rig.pumpPolls(1));

        close(*shown.sheet, *shown.view);
        EXPECT_EQ(rig.recorder.cancelled, 1);
        EXPECT_TRUE(testsupport::eventually([&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return shown.sheet.isNull();
        }));
        EXPECT_EQ(rig.scheduler->activeTimerCount(), 0u) << "countdown, completion and next poll stopped";
        rig.scheduler->advance(10s);
        EXPECT_EQ(rig.wallet->pollCalls.started(), 1);
        EXPECT_TRUE(rig.recorder.results.empty());
    }
}

TEST_F(WalletTrackingViewTest, TheAccountCreationWarningComesFirstAndEscStillCancels) {
    for (bool cont : {true, false}) {
        SCOPED_TRACE(cont ? "Continue" : "Esc");
        WalletRig rig(*server_);
        Shown shown(rig.makeModel(rig.newSession(), "",
                                  SigningReason::of(SigningReason::Kind::accountCreationAuthentication)));
        ASSERT_TRUE(shown.view->continueButton()->isVisible());
        EXPECT_FALSE(shown.view->cancelButton()->isVisible());
        if (cont) {
            // Continue has the focus; Return presses it.
            ASSERT_TRUE(testsupport::eventually([&] { return shown.view->continueButton()->hasFocus(); }));
            QTest::keyClick(shown.view->continueButton(), Qt::Key_Return);
            EXPECT_FALSE(shown.view->continueButton()->isVisible());
            EXPECT_TRUE(shown.view->cancelButton()->isVisible());
            ASSERT_TRUE(rig.pumpPolls(1));
        } else {
            QTest::keyClick(shown.sheet, Qt::Key_Escape);
            EXPECT_EQ(rig.recorder.cancelled, 1);
            rig.scheduler->advance(5s);
            EXPECT_EQ(rig.auth->methodDataCalls.started(), 0);
        }
        shown.model->cancel();
    }
}

TEST_F(WalletTrackingViewTest, TheFingerprintsPopoverOpensOnlyWithDocuments) {
    using Documents = std::vector<BulkSigningRequest::Document>;
    for (bool withDocuments : {false, true}) {
        SCOPED_TRACE(withDocuments ? "documents" : "no documents");
        const Documents documents = {{"qUqP5cyxm6YcTAhz05Hph5gvu9M=", "Offer.pdf"}, {"AAEC", std::nullopt}};
        auto model = WalletTrackingViewModel::make(
            "s", "p", 300,
            SigningReason::actualSigning(platform::Bytes(32, 0),
                                         withDocuments ? std::optional<Documents>(documents) : std::nullopt),
            {}, std::make_shared<platform::VirtualScheduler>());
        Shown shown(model);
        WalletSecurityCheckView* check = shown.view->securityCheck();
        ASSERT_TRUE(check);
        if (!withDocuments) {
            EXPECT_FALSE(check->fingerprintsButton());
            continue;
        }
        ASSERT_TRUE(check->fingerprintsButton());
        check->fingerprintsButton()->setFocus();
        QTest::keyClick(check->fingerprintsButton(), Qt::Key_Space);
        EXPECT_TRUE(check->showDocumentFingerprints());
        ASSERT_TRUE(check->fingerprintsPopover());
        EXPECT_TRUE(check->fingerprintsPopover()->isVisible());
        QTest::keyClick(check->fingerprintsPopover(), Qt::Key_Escape);
        EXPECT_FALSE(check->showDocumentFingerprints());
        EXPECT_TRUE(shown.sheet->isVisible()) << "Esc closes the popover, not the sheet";
    }
}

}  // namespace
