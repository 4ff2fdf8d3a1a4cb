// Renders of the wallet sheet in each state that looks different, driven through a real login on the stand-in
// server: waiting, the code to scan (also dark and at twice the font size), scanned, confirmed, expired, the
// error a flow shows for a failed poll, the account-creation warning, and the security check of a signing
// with its fingerprints popover open.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTest>

#include "Quorvane/auth/WalletSecurityCheckView.h"
#include "Quorvane/auth/WalletTrackingView.h"
#include "Quorvane/core/ErrorCodeWrap.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/shell/views/Sheet.h"
#include "Quorvane/testing/Screenshot.h"
#include "Quorvane/testing/ViewTestSupport.h"
#include "WalletTrackingTestSupport.h"

using namespace wallettest;
using testsupport::saveScreenshot;

namespace {

class WalletScreens : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = new WalletServer; }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    static const simtest::SimServerProcess& server() { return server_->server; }
    static WalletServer* server_;

    // As high as the sheet shows it: its wrapped texts at the sheet's width.
    static QSize sheetSize(const QWidget& view) {
        const int width = WalletTrackingView::sheetWidth;
        return QSize(width, view.hasHeightForWidth() ? view.heightForWidth(width) : view.sizeHint().height());
    }

    // One more poll with the login moved to the state on the server.
    static void pollIn(WalletRig& rig, WalletTrackingViewModel& model, const std::string& state) {
        rig.setWalletState(model.pollingSessionId(), state);
        const int polls = rig.wallet->pollCalls.started() + 1;
        rig.scheduler->advance(WalletServer::retryAfter);
        ASSERT_TRUE(rig.pumpPolls(polls));
    }
};

WalletServer* WalletScreens::server_ = nullptr;

TEST_F(WalletScreens, LoginStates) {
    WalletRig rig(*server_);
    auto model = rig.makeModel(rig.newSession());
    WalletTrackingView view(model);
    EXPECT_TRUE(saveScreenshot(view, "wallet-waiting", sheetSize(view)));

    model->startTracking();
    ASSERT_TRUE(rig.pumpPolls(1));
    // A few seconds into the code's validity.
    rig.scheduler->advance(std::chrono::seconds(1));
    ASSERT_TRUE(rig.pumpPolls(2));
    EXPECT_TRUE(saveScreenshot(view, "wallet-scan-pending", sheetSize(view)));
    {
        WalletTrackingView dark(model);
        dark.setPalette(testsupport::darkPalette());
        EXPECT_TRUE(saveScreenshot(dark, "wallet-scan-pending-dark", sheetSize(dark)));
    }
    {
        // In its sheet, which grows with the wrapped texts.
        testsupport::ScopedFontScale large(2.0);
        QWidget window;
        window.resize(testsupport::mainWindowSize);
        window.show();
        auto* view = new WalletTrackingView(model);
        auto* sheet = new Sheet(view, &window, [view] { view->cancel(); });
        sheet->show();
        QApplication::processEvents();
        EXPECT_TRUE(saveScreenshot(*sheet, "wallet-scan-pending-large-font", sheet->size()));
    }
    pollIn(rig, *model, "AUTHENTICATION_PENDING");
    EXPECT_TRUE(saveScreenshot(view, "wallet-authentication-pending", sheetSize(view)));
    pollIn(rig, *model, "AUTHENTICATED");
    EXPECT_TRUE(saveScreenshot(view, "wallet-authenticated", sheetSize(view)));
    model->cancel();
}

TEST_F(WalletScreens, ExpiredCodeAndError) {
    WalletRig rig(*server_);
    auto model = rig.makeModel(rig.newSession());
    WalletTrackingView view(model);
    model->startTracking();
    ASSERT_TRUE(rig.pumpPolls(1));
    pollIn(rig, *model, "EXPIRED");
    EXPECT_TRUE(saveScreenshot(view, "wallet-expired", sheetSize(view)));
    {
        WalletTrackingView dark(model);
        dark.setPalette(testsupport::darkPalette());
        EXPECT_TRUE(saveScreenshot(dark, "wallet-expired-dark", sheetSize(dark)));
    }

    // A poll that fails ends the sheet; the flow shows the error's text.
    WalletRig failing(*server_);
    auto failed =
        failing.makeModel(failing.newSession(), "", SigningReason::of(SigningReason::Kind::actualSigning));
    server().fault("/wallet/poll", Json{{"status", 503}, {"count", 1}});
    failed->startTracking();
    ASSERT_TRUE(failing.pump([&] { return !failing.recorder.results.empty(); }));
    ASSERT_TRUE(failing.recorder.results[0].error);
    InfoView error(
        std::make_shared<InfoViewModel>(ErrorCodeWrap::errorText(*failing.recorder.results[0].error), false,
                                        nullptr, true, failing.scheduler));
    EXPECT_TRUE(saveScreenshot(error, "wallet-error", QSize(WalletTrackingView::sheetWidth, 260)));
}

TEST_F(WalletScreens, AccountCreationWarning) {
    WalletRig rig(*server_);
    auto model = rig.makeModel(rig.newSession(), "",
                               SigningReason::of(SigningReason::Kind::accountCreationAuthentication));
    WalletTrackingView view(model);
    EXPECT_TRUE(saveScreenshot(view, "wallet-account-creation-warning", sheetSize(view)));
    model->cancel();
}

TEST_F(WalletScreens, SecurityCheck) {
    const std::vector<BulkSigningRequest::Document> documents = {
        {"pZGm1Av0IEBKARczz7exkNYsZb8LzaMrV7J32a2fFG4=", "Purchase agreement 2026-0147.pdf"},
        {"47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=", std::nullopt},
        {"n4bQgYhMfWWaL+qgxVrQFaO/TxsrC4Is0V1sFbDwCgg=", "Annex B - price list.pdf"},
    };
    WalletRig rig(*server_);
    const platform::Bytes hash{0x4F, 0x2A, 0x91, 0x0C, 0xD7, 0x33, 0x10};
    for (bool withDocuments : {false, true}) {
        auto model = rig.makeModel(
            rig.newSession(), "",
            SigningReason::actualSigning(hash, withDocuments ? std::optional(documents) : std::nullopt));
        const int polls = rig.wallet->pollCalls.answered + 1;
        model->startTracking();
        ASSERT_TRUE(rig.pumpPolls(polls));
        WalletTrackingView view(model);
        EXPECT_TRUE(saveScreenshot(
            view, withDocuments ? "wallet-security-check" : "wallet-security-check-no-documents",
            sheetSize(view)));
        if (withDocuments) {
            WalletTrackingView dark(model);
            dark.setPalette(testsupport::darkPalette());
            EXPECT_TRUE(saveScreenshot(dark, "wallet-security-check-dark", sheetSize(dark)));

            auto* link = view.securityCheck()->fingerprintsButton();
            ASSERT_TRUE(link);
            QTest::mouseClick(link, Qt::LeftButton);
            QWidget* popover = view.securityCheck()->fingerprintsPopover();
            ASSERT_TRUE(popover);
            QApplication::processEvents();
            // The sheet with the popover over it, where it shows.
            const QImage sheet = view.grab().toImage();
            const QImage over = popover->grab().toImage();
            const QPoint at = popover->mapToGlobal(QPoint(0, 0)) - view.mapToGlobal(QPoint(0, 0));
            const QRect canvas = QRect(QPoint(0, 0), sheet.size()).united(QRect(at, over.size()));
            QImage picture(canvas.size(), QImage::Format_ARGB32_Premultiplied);
            picture.fill(view.palette().color(QPalette::Window));
            QPainter painter(&picture);
            painter.drawImage(-canvas.topLeft(), sheet);
            painter.drawImage(at - canvas.topLeft(), over);
            painter.end();
            popover->close();
            QLabel composed;
            composed.setPixmap(QPixmap::fromImage(picture));
            EXPECT_TRUE(saveScreenshot(composed, "wallet-security-check-fingerprints", picture.size()));
        }
        model->cancel();
    }
}

}  // namespace
