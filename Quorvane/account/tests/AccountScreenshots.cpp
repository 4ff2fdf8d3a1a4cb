// Renders of the account screens: every page of the account creation (also dark and at twice the font size),
// its sheets (the messages, the PIN and wallet sheets of the agreement's signature, the certificate
// retrieval), the account screen with and without a certificate, and its sheets (the download, the
// deactivation's confirmation and outcome, the errors). The states come from the models themselves, run on
// their doubles.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QCheckBox>
#include <QImage>
#include <QLayout>
#include <QPainter>
#include <QTest>

#include "AccountTestRig.h"
#include "Quorvane/account/AccountCreationConditionsView.h"
#include "Quorvane/account/AccountCreationView.h"
#include "Quorvane/account/AccountInfoView.h"
#include "Quorvane/shell/views/SheetPresenter.h"
#include "Quorvane/shell/views/Toggle.h"
#include "Quorvane/testing/Screenshot.h"
#include "Quorvane/testing/ViewTestSupport.h"
#include "Quorvane/testing/ViewsTestSupport.h"

namespace {

using namespace accounttest;
using testsupport::saveScreenshot;
using Step = AccountCreationStep;

// A stand-in for the code to scan: a grid of dark and light modules.
Bytes qrCodePNG() {
    QImage image(29, 29, QImage::Format_RGB32);
    for (int y = 0; y < 29; ++y)
        for (int x = 0; x < 29; ++x)
            image.setPixel(x, y, ((x * 7 + y * 13 + x * y) % 5 < 2) ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
    image = image.scaled(290, 290);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return Bytes(bytes.begin(), bytes.end());
}

struct Look {
    const char* suffix;
    bool dark;
    double fontScale;
};
const Look looks[] = {{"", false, 1.0}, {"-dark", true, 1.0}, {"-large-font", false, 2.0}};

class AccountScreens : public ::testing::Test {
  protected:
    AccountScreens() {
        rig.onboarding->agreement = [] {
            const auto pdf = testsupport::makeSamplePDF(3);
            return Bytes(pdf.begin(), pdf.end());
        }();
        rig.wallet->reply = {halcyra::WalletPollingStatus::scanPending, qrCodePNG(), 280, 1000};
        // Names as the account status gave them.
        for (const auto& context : {rig.cardContext(), rig.walletContext()}) {
            rig.logIn(context);
            halcyra::AccountStatusDetails details{};
            details.firstName = "Ann";
            details.lastName = "Peeters";
            details.rrnr = "71715100070";
            rig.store->updateSessionHolder(context, details);
        }
    }

    // The creation on the page, shown.
    std::unique_ptr<AccountCreationView> creationOn(const Step& step, const SigningSessionContext& context,
                                                    const Look& look) {
        model = rig.creation(context);
        if (!step.is<Step::Disclaimer>())
            model->showTermsAndConditions();
        if (step.is<Step::IdentityVerification>() || step.is<Step::SubscriberAgreement>())
            model->showIdentityVerification();
        if (step.is<Step::SubscriberAgreement>()) {
            model->retrieveAgreement();
            rig.advance(AccountCreationViewModel::modalStateGap);
        }
        auto view = std::make_unique<AccountCreationView>(model);
        if (look.dark)
            view->setPalette(testsupport::darkPalette());
        view->resize(testsupport::mainWindowSize);
        view->show();
        rig.settle();
        // The document's pages are rendered apart from the event loop's turn.
        if (step.is<Step::SubscriberAgreement>())
            QTest::qWait(500);
        return view;
    }

    // The sheet over the view, as it stands, at the width it asks for.
    static ::testing::AssertionResult saveSheet(SheetPresenter* presenter, const std::string& name,
                                                bool dark) {
        auto* sheet = presenter->sheet();
        if (!sheet)
            return ::testing::AssertionFailure() << name << ": no sheet";
        if (dark)
            sheet->setPalette(testsupport::darkPalette());
        // As wide as it asks (or as it is fixed), and as tall as its wrapped texts need at that width.
        QSize size = sheet->sizeHint().boundedTo(sheet->maximumSize()).expandedTo(sheet->minimumSize());
        if (auto* layout = sheet->layout(); layout && layout->hasHeightForWidth())
            size.setHeight(std::max(size.height(), layout->totalHeightForWidth(size.width())));
        return saveScreenshot(*sheet, name, size);
    }

    Rig rig;
    std::shared_ptr<AccountCreationViewModel> model;
};

TEST_F(AccountScreens, CreationPages) {
    const std::pair<const char*, Step> pages[] = {
        {"account-creation-disclaimer", Step::disclaimer()},
        {"account-creation-terms", Step::termsAndConditionsAgreement()},
        {"account-creation-identity", Step::identityVerification()},
        {"account-creation-agreement", Step::subscriberAgreement({})},
    };
    for (const auto& [name, step] : pages) {
        for (const auto& look : looks) {
            const std::string shot = name + std::string(look.suffix);
            SCOPED_TRACE(shot);
            testsupport::ScopedFontScale scale(look.fontScale);
            auto view = creationOn(step, rig.cardContext(), look);
            EXPECT_TRUE(saveScreenshot(*view, shot));
        }
    }
}

TEST_F(AccountScreens, CreationPageStates) {
    const Look plain = looks[0];
    {
        // The boxes ticked: "Confirm & continue" enabled.
        auto view = creationOn(Step::termsAndConditionsAgreement(), rig.walletContext(), plain);
        auto* terms = static_cast<AccountCreationConditionsView*>(view->page());
        terms->checkbox()->checkBox()->click();
        EXPECT_TRUE(saveScreenshot(*view, "account-creation-terms-checked"));
    }
    {
        auto view = creationOn(Step::identityVerification(), rig.walletContext(), plain);
        model->identityValidationViewModel()->setConfirmCheckboxChecked(true);
        EXPECT_TRUE(saveScreenshot(*view, "account-creation-identity-wallet-checked"));
    }
    {
        // Bytes that are not a PDF: an empty document area, "Confirm" still there.
        rig.onboarding->agreement = {'n', 'o', 't', ' ', 'a', ' ', 'P', 'D', 'F'};
        auto view = creationOn(Step::subscriberAgreement({}), rig.cardContext(), plain);
        EXPECT_TRUE(saveScreenshot(*view, "account-creation-agreement-unreadable"));
    }
}

TEST_F(AccountScreens, CreationSheets) {
    for (const auto& look : {looks[0], looks[1], looks[2]}) {
        testsupport::ScopedFontScale scale(look.fontScale);
        const std::string suffix = look.suffix;
        // While the agreement is signed: "Stop activation" disabled under the progress message.
        rig.onboarding->confirmCalls.gate.closed = true;
        auto view = creationOn(Step::subscriberAgreement({}), rig.cardContext(), look);
        model->makeSubscriberAgreementViewModel()->confirm();
        rig.settle();
        EXPECT_TRUE(saveScreenshot(*view, "account-creation-signing" + suffix));
        EXPECT_TRUE(saveSheet(view->sheetPresenter(), "account-creation-sheet-signing-agreement" + suffix,
                              look.dark));

        // The PIN sheet of the agreement's signature.
        rig.onboarding->confirmCalls.gate.open();
        rig.advance(AccountCreationViewModel::modalStateGap);
        EXPECT_TRUE(saveSheet(view->sheetPresenter(), "account-creation-sheet-pin" + suffix, look.dark));

        // Its time-out, and the page behind it ready to be confirmed again.
        rig.card->cancelOngoingOperation();
        model->pinInputCancelled(true);
        rig.advance(AccountCreationViewModel::modalStateGap);
        EXPECT_TRUE(
            saveSheet(view->sheetPresenter(), "account-creation-sheet-pin-timed-out" + suffix, look.dark));
        model->infoConfirmed(false);
        rig.settle();
        EXPECT_TRUE(saveScreenshot(*view, "account-creation-after-pin-time-out" + suffix));

        // A network error.
        rig.onboarding->confirmCalls.error = networkError();
        model->makeSubscriberAgreementViewModel()->confirm();
        rig.advance(AccountCreationViewModel::networkErrorDelay + AccountCreationViewModel::modalStateGap);
        EXPECT_TRUE(
            saveSheet(view->sheetPresenter(), "account-creation-sheet-network-error" + suffix, look.dark));
        rig.onboarding->confirmCalls.error.reset();

        // The certificate retrieval at the end.
        rig.remote->signatureInfoCalls.gate.closed = true;
        model->setModalState(AccountCreationModalState::retrievingCertificate());
        rig.advance(AccountCreationViewModel::modalStateGap);
        EXPECT_TRUE(
            saveSheet(view->sheetPresenter(), "account-creation-sheet-retrieving" + suffix, look.dark));
        model->stop();
        view.reset();
        rig.remote->signatureInfoCalls.gate.open();
        rig.settle();
    }
    {
        // The wallet sheet of the agreement's confirmation.
        auto view = creationOn(Step::subscriberAgreement({}), rig.walletContext(), looks[0]);
        model->confirmAgreement();
        rig.advance(AccountCreationViewModel::modalStateGap);
        rig.advance(std::chrono::seconds(2));
        EXPECT_GE(rig.wallet->pollCalls.started(), 1);
        EXPECT_TRUE(saveSheet(view->sheetPresenter(), "account-creation-sheet-wallet", false));
        model->stop();
    }
}

class AccountInfoScreens : public AccountScreens {
  protected:
    std::unique_ptr<AccountInfoView> shown(const SigningSessionContext& context, const Look& look) {
        info = rig.accountInfo(context);
        auto view = std::make_unique<AccountInfoView>(info);
        if (look.dark)
            view->setPalette(testsupport::darkPalette());
        view->resize(testsupport::mainWindowSize);
        view->show();
        rig.settle();
        return view;
    }

    std::shared_ptr<AccountInfoViewModel> info;
};

TEST_F(AccountInfoScreens, Screen) {
    for (const auto& look : looks) {
        SCOPED_TRACE(look.suffix);
        testsupport::ScopedFontScale scale(look.fontScale);
        rig.store->registerToken(rig.cardContext(), rig.signingCertificate.der());
        EXPECT_TRUE(
            saveScreenshot(*shown(rig.cardContext(), look), "account-info" + std::string(look.suffix)));
        rig.store->removeToken(rig.cardContext());
        EXPECT_TRUE(saveScreenshot(*shown(rig.cardContext(), look),
                                   "account-info-no-certificate" + std::string(look.suffix)));
    }
    rig.store->registerToken(rig.walletContext(), rig.signingCertificate.der());
    EXPECT_TRUE(saveScreenshot(*shown(rig.walletContext(), looks[0]), "account-info-wallet"));
}

TEST_F(AccountInfoScreens, Sheets) {
    for (const auto& look : looks) {
        testsupport::ScopedFontScale scale(look.fontScale);
        const std::string suffix = look.suffix;
        auto view = shown(rig.cardContext(), look);
        const auto save = [&](const std::string& name) {
            rig.settle();
            EXPECT_TRUE(saveSheet(view->sheetPresenter(), "account-info-sheet-" + name + suffix, look.dark));
        };

        rig.onboarding->signedAgreementCalls.gate.closed = true;
        info->downloadSignedAgreement();
        save("downloading");
        rig.onboarding->signedAgreementCalls.error = backendError(404);
        rig.onboarding->signedAgreementCalls.gate.open();
        save("download-failed");
        info->setAccountInfoModalState(std::nullopt);
        rig.onboarding->signedAgreementCalls.error.reset();

        info->signedAgreementExportEnded("/home/ann/Documents/Signed Agreement.pdf: Permission denied");
        save("save-failed");
        info->setAccountInfoModalState(std::nullopt);

        info->askDeletionConfirmation();
        save("deactivation-confirmation");
        rig.remote->deleteAccountCalls.gate.closed = true;
        info->deactivateAccount();
        save("deactivating");
        rig.remote->deleteAccountCalls.error = backendError(500);
        rig.remote->deleteAccountCalls.gate.open();
        save("deactivation-failed");
        rig.remote->deleteAccountCalls.error.reset();
        info->deactivateAccount();
        save("deactivated");

        rig.logIn(rig.cardContext());
        rig.remote->signatureInfoCalls.gate.closed = true;
        info->retrieveCertificate();
        save("retrieving");
        info->setAccountInfoModalState(std::nullopt);
        rig.remote->signatureInfoCalls.gate.open();
    }
}

}  // namespace
