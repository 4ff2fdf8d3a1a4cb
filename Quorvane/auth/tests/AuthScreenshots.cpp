// Renders of the authentication screens in every state that looks different: the choice of method (each
// method offered, disabled or not), the card selection (insert card, wanted card, a list, a long list, a slow
// reading), and the PIN sheet (per reason, after a wrong PIN, submitted, and the pinpad forms), some also in
// the dark palette and at twice the font size.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include "AuthTestSupport.h"
#include "Quorvane/auth/AuthenticationMethodSelectionView.h"
#include "Quorvane/auth/CardSelectionView.h"
#include "Quorvane/auth/CardView.h"
#include "Quorvane/auth/PinInputView.h"
#include "Quorvane/core/AppVersions.h"
#include "Quorvane/core/PindleMock.h"
#include "Quorvane/core/SampleCards.h"
#include "Quorvane/testing/FakeAuthenticateClient.h"
#include "Quorvane/testing/FakePindleClient.h"
#include "Quorvane/testing/Screenshot.h"
#include "Quorvane/testing/ViewTestSupport.h"
#include "api/Clients.h"
#include "cardbridge/PindleClient.h"
#include "platform/qt/Localizable.h"
#include "platform/testing/Await.h"
#include "platform/testing/Eventually.h"
#include "platform/testing/TestPKI.h"

using testsupport::saveScreenshot;
using namespace std::chrono_literals;
using Kind = SigningReason::Kind;

namespace {

class Screens : public authtest::CleanState {
  protected:
    Screens() {
        DependencyValues::shared().set<AppVersionsKey>(
            std::make_shared<AppVersions>(AppVersionsFileLocation::testNoUpdate));
    }
};

using halcyra::AuthenticationMethod;

TEST_F(Screens, MethodSelection) {
    struct Case {
        const char* name;
        std::vector<halcyra::AuthenticationMethodsResponse::Method> methods;
        std::optional<std::string> doneButtonText;
        bool dark;
        bool largeFont;
    };
    const Case cases[] = {
        {"method-selection",
         {{AuthenticationMethod::eid, false}, {AuthenticationMethod::wallet, false}},
         std::nullopt,
         false,
         false},
        {"method-selection-card-disabled",
         {{AuthenticationMethod::eid, true}, {AuthenticationMethod::wallet, false}},
         std::nullopt,
         false,
         false},
        {"method-selection-wallet-disabled",
         {{AuthenticationMethod::eid, false}, {AuthenticationMethod::wallet, true}},
         "Use existing certificate",
         false,
         false},
        {"method-selection-both-disabled",
         {{AuthenticationMethod::eid, true}, {AuthenticationMethod::wallet, true}},
         std::nullopt,
         false,
         false},
        {"method-selection-single-disabled",
         {{AuthenticationMethod::wallet, true}},
         std::nullopt,
         false,
         false},
        {"method-selection-dark",
         {{AuthenticationMethod::eid, false}, {AuthenticationMethod::wallet, true}},
         "Use existing certificate",
         true,
         false},
        {"method-selection-large-font",
         {{AuthenticationMethod::eid, true}, {AuthenticationMethod::wallet, false}},
         std::nullopt,
         false,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto server = std::make_shared<testsupport::FakeAuthenticateClient>();
        server->methods = c.methods;
        DependencyValues::shared().set<AuthenticateAPIClientKey>(server);
        std::optional<testsupport::ScopedFontScale> large;
        if (c.largeFont)
            large.emplace(2.0);
        auto model = std::make_shared<AuthenticationMethodSelectionViewModel>(
            L("Means selection certificate creation"), c.doneButtonText, false,
            [](AuthenticationMethodSelectionResult) {}, scheduler);
        AuthenticationMethodSelectionView view(model);
        if (c.dark)
            view.setPalette(testsupport::darkPalette());
        view.resize(testsupport::mainWindowSize);
        view.show();
        ASSERT_TRUE(testsupport::eventually([&] { return !view.methodButtons().empty(); }));
        EXPECT_TRUE(saveScreenshot(view, c.name));
    }
    // The method list comes only once the test lets go of the request (its model holds the server).
    auto silent = std::make_shared<testsupport::FakeAuthenticateClient>();
    silent->meansCalls.gate.closed = true;
    DependencyValues::shared().set<AuthenticateAPIClientKey>(silent);
    {
        auto model = std::make_shared<AuthenticationMethodSelectionViewModel>(
            "Account information", std::nullopt, false, [](AuthenticationMethodSelectionResult) {},
            scheduler);
        AuthenticationMethodSelectionView view(model);
        EXPECT_TRUE(saveScreenshot(view, "method-selection-loading"));
    }
    silent->meansCalls.gate.open();
    QCoreApplication::processEvents();
}

TEST_F(Screens, CardSelection) {
    authtest::SessionStore sessionStore(scheduler);
    DependencyValues::shared().set<PindleClientKey>(PindleMock::make(PindleMock::Mode::noCards(), scheduler));
    const auto certificate =
        testsupport::makeSelfSigned(testsupport::citizenCard("Lotte", "Vermeulen", "12345678910"));
    ASSERT_TRUE(sessionStore.store->registerToken(
        SigningSessionContext::card("s", SampleCards::cardA(scheduler->now())), certificate.der()));
    auto many = SampleCards::all(scheduler->now());
    for (auto& card : SampleCards::all(scheduler->now()))
        many.push_back(card);
    struct Case {
        const char* name;
        std::optional<std::string> wanted;
        std::vector<std::shared_ptr<pindle::Card>> cards;
        bool dark;
        bool largeFont;
    };
    const Case cases[] = {
        {"card-selection-no-cards", std::nullopt, {}, false, false},
        {"card-selection-wanted-card", "Lotte", {}, false, false},
        {"card-selection-two-cards",
         std::nullopt,
         {SampleCards::cardB(), SampleCards::cardC(scheduler->now())},
         false,
         false},
        {"card-selection-several-cards", std::nullopt, many, false, false},
        {"card-selection-no-cards-dark", std::nullopt, {}, true, false},
        {"card-selection-cards-dark", std::nullopt, SampleCards::all(scheduler->now()), true, false},
        {"card-selection-no-cards-large-font", std::nullopt, {}, false, true},
        {"card-selection-cards-large-font", std::nullopt, SampleCards::all(scheduler->now()), false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<testsupport::ScopedFontScale> large;
        if (c.largeFont)
            large.emplace(2.0);
        auto model = std::make_shared<CardSelectionViewModel>(
            c.wanted, c.cards, [](auto) {}, scheduler);
        CardSelectionView view(model);
        if (c.dark)
            view.setPalette(testsupport::darkPalette());
        EXPECT_TRUE(saveScreenshot(view, c.name));
    }
    {
        // One card, as its row shows it.
        CardView row(SampleCards::cardB(), [] {});
        EXPECT_TRUE(saveScreenshot(row, "card-selection-one-card-row", QSize(600, row.sizeHint().height())));
    }
    auto slow = std::make_shared<testsupport::FakePindleClient>();
    slow->slowReadings = true;
    DependencyValues::shared().set<PindleClientKey>(slow);
    auto model = std::make_shared<CardSelectionViewModel>(
        std::nullopt, std::vector<std::shared_ptr<pindle::Card>>{}, [](auto) {}, scheduler);
    scheduler->advance(CardSelectionViewModel::monitoringInterval);
    ASSERT_TRUE(testsupport::eventually(
        [&] { return model->viewState().kind == CardSelectionViewState::Kind::longReadOngoing; }));
    CardSelectionView view(model);
    EXPECT_TRUE(saveScreenshot(view, "card-selection-long-read"));
}

// A sheet as wide as given and as high as its content needs at that width.
QSize sheetSize(QWidget& sheet, int width) {
    sheet.resize(width, 100);
    sheet.adjustSize();
    const int height = sheet.hasHeightForWidth() ? sheet.heightForWidth(width) : sheet.sizeHint().height();
    return QSize(width, std::max(height, sheet.minimumSizeHint().height()));
}

std::shared_ptr<PinInputViewModel> pinModel(SigningReason reason, std::optional<int> tries, bool keyboard,
                                            PinPadReaderState state,
                                            std::shared_ptr<platform::Scheduler> scheduler) {
    PinInputViewModel::PinProvided provided;
    if (keyboard)
        provided = [](const std::string&) {};
    auto model = std::make_shared<PinInputViewModel>(
        reason, tries, state, provided, [](bool) {}, [] {}, scheduler);
    model->startTimers();
    return model;
}

TEST_F(Screens, PinSheet) {
    struct Case {
        const char* name;
        SigningReason reason;
        std::optional<int> tries;
        bool keyboard;
        PinPadReaderState state;
        std::chrono::seconds elapsed;
        const char* typed;
        bool submit;
    };
    const Case cases[] = {
        {"pin-actual-signing", SigningReason::actualSigning(std::nullopt, std::nullopt), std::nullopt, true,
         PinPadReaderState::waiting, 0s, "", false},
        {"pin-account-info", SigningReason::of(Kind::accountInfoAuthentication), std::nullopt, true,
         PinPadReaderState::waiting, 0s, "", false},
        {"pin-certificate-retrieval", SigningReason::of(Kind::certificateRetrievalAuthentication),
         std::nullopt, true, PinPadReaderState::waiting, 12s, "12", false},
        {"pin-account-creation", SigningReason::of(Kind::accountCreationAuthentication), std::nullopt, true,
         PinPadReaderState::waiting, 0s, "", false},
        {"pin-agreement-signing", SigningReason::of(Kind::agreementSigning), std::nullopt, true,
         PinPadReaderState::waiting, 0s, "", false},
        {"pin-signing-authentication", SigningReason::of(Kind::signingAuthentication), std::nullopt, true,
         PinPadReaderState::waiting, 0s, "", false},
        {"pin-valid-pin", SigningReason::of(Kind::signingAuthentication), std::nullopt, true,
         PinPadReaderState::waiting, 20s, "1234", false},
        {"pin-wrong-pin-plural", SigningReason::of(Kind::signingAuthentication), 2, true,
         PinPadReaderState::waiting, 0s, "", false},
        {"pin-wrong-pin-singular", SigningReason::of(Kind::signingAuthentication), 1, true,
         PinPadReaderState::waiting, 30s, "", false},
        {"pin-submitted", SigningReason::of(Kind::signingAuthentication), std::nullopt, true,
         PinPadReaderState::waiting, 40s, "1234", true},
        {"pin-pinpad-waiting", SigningReason::of(Kind::signingAuthentication), std::nullopt, false,
         PinPadReaderState::waiting, 15s, "", false},
        {"pin-pinpad-timeout", SigningReason::of(Kind::signingAuthentication), std::nullopt, false,
         PinPadReaderState::waiting, 60s, "", false},
        {"pin-pinpad-error", SigningReason::of(Kind::signingAuthentication), std::nullopt, false,
         PinPadReaderState::errorOccuredThatCouldJustifyRetry, 0s, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto model = pinModel(c.reason, c.tries, c.keyboard, c.state, scheduler);
        scheduler->advance(c.elapsed);
        PinInputView view(model);
        if (view.pinField()) {
            QTest::keyClicks(view.pinField(), c.typed);
            if (c.submit)
                QTest::keyClick(view.pinField(), Qt::Key_Return);
        }
        EXPECT_TRUE(saveScreenshot(view, c.name, sheetSize(view, 600)));
    }
    {
        auto model = pinModel(SigningReason::of(Kind::accountCreationAuthentication), 2, true,
                              PinPadReaderState::waiting, scheduler);
        PinInputView view(model);
        view.setPalette(testsupport::darkPalette());
        QTest::keyClicks(view.pinField(), "12345");
        EXPECT_TRUE(saveScreenshot(view, "pin-wrong-pin-dark", sheetSize(view, 600)));
    }
    for (bool keyboard : {true, false}) {
        testsupport::ScopedFontScale large(2.0);
        auto model = pinModel(SigningReason::of(Kind::agreementSigning), 1, keyboard,
                              PinPadReaderState::errorOccuredThatCouldJustifyRetry, scheduler);
        PinInputView view(model);
        EXPECT_TRUE(saveScreenshot(view, keyboard ? "pin-large-font" : "pin-pinpad-error-large-font",
                                   sheetSize(view, 600)));
    }
}

}  // namespace
