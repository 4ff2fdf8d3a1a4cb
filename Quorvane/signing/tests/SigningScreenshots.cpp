// Renders of the signing screen: waiting for the token, logging in, creating the signature (also dark and at
// twice the font size), the card selection for a card that is not inserted, the PIN sheet over the screen,
// and the text of each failure as the navigation's information page shows it. The screen's states and the
// failures come from the model itself, run on its doubles.
#include <gtest/gtest.h>

#include <filesystem>

#include "Quorvane/core/ErrorCodeWrap.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/shell/views/SheetPresenter.h"
#include "Quorvane/signing/SigningView.h"
#include "Quorvane/testing/Screenshot.h"
#include "Quorvane/testing/ViewTestSupport.h"
#include "SigningTestDoubles.h"
#include "platform/qt/Localizable.h"
#include "platform/testing/TestPKI.h"

namespace {

using namespace signingtest;
using namespace std::chrono_literals;
using testsupport::saveScreenshot;

// The screen of a model shown and settled, after `arrange` set up its world.
struct Shown {
    explicit Shown(SigningRequestType request, std::function<void(Rig&)> arrange = nullptr) {
        if (arrange)
            arrange(rig);
        model = rig.make(std::move(request));
        view = std::make_unique<SigningView>(model);
        view->resize(testsupport::mainWindowSize);
        view->show();
        rig.settle();
    }
    Rig rig;
    std::shared_ptr<SigningViewModel> model;
    std::unique_ptr<SigningView> view;
};

void withSession(Rig& rig) {
    rig.addSession(SigningSessionContext::card("server-1", rig.card), 3600s);
}

TEST(SigningScreens, States) {
    struct Case {
        const char* name;
        SigningRequestType request;
        std::function<void(Rig&)> arrange;
        bool dark;
        double fontScale;
    };
    const Case cases[] = {
        {"signing-waiting-for-token", SigningRequestType::overXPC(), nullptr, false, 1.0},
        {"signing-authenticating", bulk(SigningSessionContext::walletTokenIdentifier, {"AQID"}), nullptr,
         false, 1.0},
        {"signing-creating-signature", bulk("card-1", {"AQID"}), withSession, false, 1.0},
        {"signing-creating-signature-dark", bulk("card-1", {"AQID"}), withSession, true, 1.0},
        {"signing-creating-signature-large-font", bulk("card-1", {"AQID"}), withSession, false, 2.0},
        {"signing-card-selection", bulk("card-9", {"AQID"}), nullptr, false, 1.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::ScopedFontScale scale(c.fontScale);
        Shown shown(c.request, c.arrange);
        // The sheets are rendered on their own below.
        shown.model->setCurrentModalState(std::nullopt);
        if (c.dark)
            shown.view->setPalette(testsupport::darkPalette());
        EXPECT_TRUE(saveScreenshot(*shown.view, c.name));
    }
}

TEST(SigningScreens, PinSheet) {
    Shown shown(bulk("card-1", {"AQID"}), withSession);
    auto* sheet = shown.view->sheetPresenter()->sheet();
    ASSERT_TRUE(sheet);
    EXPECT_TRUE(saveScreenshot(*sheet, "signing-pin-sheet", sheet->sizeHint()));
}

// The error that ends the flow after `act`.
AppError failure(SigningRequestType request, std::function<void(Rig&)> arrange,
                 std::function<void(Rig&, SigningViewModel&)> act) {
    Shown shown(std::move(request), std::move(arrange));
    if (act)
        act(shown.rig, *shown.model);
    shown.rig.settle();
    if (shown.rig.completions->empty() || !shown.rig.completions->front()) {
        ADD_FAILURE() << "the flow did not fail";
        return AppError(ErrorCodeCategory::app, std::nullopt, "?", "no failure", std::nullopt);
    }
    return *shown.rig.completions->front();
}

TEST(SigningScreens, Failures) {
    const auto cardSigning = bulk("card-1", {"AQID"});
    const auto cardEvent = [](CardSigningEvent event) {
        return [event](Rig& rig) {
            withSession(rig);
            rig.card->script = std::vector{event};
        };
    };
    struct Case {
        const char* name;
        AppError error;
    };
    const Case cases[] = {
        {"signing-error-001-no-token-request", failure(SigningRequestType::overXPC(), nullptr,
                                                       [](Rig& rig, auto&) { rig.scheduler->advance(31s); })},
        {"signing-error-002-token-gave-up",
         failure(SigningRequestType::overXPC(), nullptr,
                 [](Rig& rig, auto&) {
                     rig.xpc->deliverTimeout(AppError(ErrorCodeCategory::xpc, std::nullopt, "002",
                                                      L("Signature creation has timed out."), std::nullopt));
                 })},
        {"signing-error-000-relay-link",
         failure(SigningRequestType::overXPC(), nullptr,
                 [](Rig&, SigningViewModel& model) { model.handleCommunicationError(std::nullopt); })},
        {"signing-error-305-certificate-expired",
         failure(
             cardSigning,
             [](Rig& rig) {
                 testsupport::CertificateRequest request;
                 request.notAfterOffset = -std::chrono::hours(24 * 400);
                 request.notBeforeOffset = -std::chrono::hours(24 * 800);
                 std::filesystem::create_directories(rig.sessions.tokens->store().driverFolder());
                 rig.sessions.tokens->registerToken("card-1", testsupport::makeSelfSigned(request).der());
             },
             nullptr)},
        {"signing-error-304-means-disabled",
         failure(
             cardSigning,
             [](Rig& rig) {
                 rig.authenticate->methods = {{halcyra::AuthenticationMethod::eid, true}};
             },
             nullptr)},
        {"signing-error-301-new-certificate",
         failure(
             cardSigning, [](Rig& rig) { rig.facade->newCertificateRetrieved = true; },
             [](Rig& rig, SigningViewModel& model) {
                 model.currentModalState()->pinInputEvent()->providePinClosure("1234");
                 rig.settle();
             })},
        {"signing-error-000-pin-timed-out",
         failure(cardSigning, withSession,
                 [](Rig&, SigningViewModel& model) { model.handlePinInputEnded(true); })},
        {"signing-error-004-card-removed",
         failure(cardSigning,
                 cardEvent(CardSigningEvent::of(CardSigningEvent::Kind::failedBecauseOfCardRemoval)),
                 nullptr)},
        {"signing-error-card-failed",
         failure(cardSigning, cardEvent(CardSigningEvent::failed("1106", "The card is blocked.")), nullptr)},
        {"signing-error-000-server", failure(
                                         cardSigning,
                                         [](Rig& rig) {
                                             rig.authenticate->meansCalls.error = HalcyraError::backendError(
                                                 503, {"7A1C44F0B2D9"},
                                                 "The service is temporarily unavailable.", std::nullopt);
                                         },
                                         nullptr)},
        {"signing-error-000-network", failure(
                                          cardSigning,
                                          [](Rig& rig) {
                                              rig.authenticate->meansCalls.error =
                                                  HalcyraError::networkError(std::make_exception_ptr(
                                                      std::runtime_error("connection refused")));
                                          },
                                          nullptr)},
        {"signing-error-000-no-usable-signature",
         failure(SigningRequestType::overXPC(Bytes(32, 1)), nullptr,
                 [](Rig&, SigningViewModel& model) { model.finishWithSignatures({}); })},
        {"signing-error-000-hash-not-base64", failure(bulk("card-1", {"AQ-_"}), nullptr, nullptr)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InfoView view(std::make_shared<InfoViewModel>(
            ErrorCodeWrap::errorText(c.error), false, [] {}, true));
        EXPECT_TRUE(saveScreenshot(view, c.name));
    }
}

}  // namespace
