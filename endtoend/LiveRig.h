#pragma once
// The app's live services (the live rig, its tokens where this user's token module reads them) on the
// stand-in server and the stand-in bridge, in the real main window with its navigation: what the end-to-end
// tests of the navigation and of the signing flow share.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QTest>
#include "Quorvane/core/AppVersions.h"
#include "Quorvane/shell/AppNavigationView.h"
#include "Quorvane/shell/MainWindow.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/shell/views/SheetPresenter.h"
#include "Quorvane/testing/FakeLaunchAgentService.h"
#include "Quorvane/testing/FakePluginClient.h"
#include "Quorvane/testing/LiveRig.h"
#include "Quorvane/testing/StandInBridge.h"
#include "platform/qt/SystemInfo.h"
#include "platform/qt/UserDefaults.h"
#include "platform/testing/Await.h"
#include "platform/testing/Eventually.h"
#include "platform/testing/TestPKI.h"

namespace endtoend {

using namespace std::chrono_literals;
using platform::json::Json;
using testsupport::eventually;

struct LiveRig : testsupport::LiveRig {
    explicit LiveRig(std::vector<std::string> flags = {})
        : testsupport::LiveRig(std::move(flags), Tokens::usersFolder) {
        DependencyValues::shared().reset();
        platform::UserDefaults::standard().clear();
        install();
        Dependency<AppVersionsKey>().set(
            std::make_shared<AppVersions>(AppVersionsFileLocation::testNoUpdate));
        Dependency<LaunchAgentServiceKey>().set(std::make_shared<testsupport::FakeLaunchAgentService>(true));
        Dependency<PluginClientKey>().set(std::make_shared<testsupport::FakePluginClient>());
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
    // The certificate of the session's account, put into the token for the token identifier.
    platform::Bytes installCertificate(const std::string& sessionId, const std::string& token);

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

    // A holder with an account and its signing certificate in the token, made through the API: the state
    // after an earlier certificate retrieval. The server's requests are forgotten afterwards.
    struct Account {
        std::string sessionId;  // authenticated, not known to the app
        platform::Date expirationDate;
        platform::Bytes certificate;  // DER
    };
    // The card's holder logs in with the card (its key signs as the card would) and signs the agreement.
    Account cardAccount(const testsupport::Issued& card);
    // The wallet holder of --wallet-identity logs in and signs the agreement in the wallet app.
    Account walletAccount();

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

    MainWindowController controller;
};

// Clicks the sheet's button with that title.
bool clickSheetButton(LiveRig& rig, const std::string& title);

}  // namespace endtoend
