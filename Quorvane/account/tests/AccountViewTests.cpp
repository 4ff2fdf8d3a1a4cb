// The account screens driven as a user would, offscreen on the models' doubles: the creation from the
// disclaimer to the agreement's PIN sheet with the keyboard, stopping, the links of the terms page; the
// account screen's certificate, its deactivation, the retrieval, and the save dialog of the signed agreement.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "AccountTestRig.h"
#include "Quorvane/account/AccountCreationConditionsView.h"
#include "Quorvane/account/AccountCreationDisclaimerView.h"
#include "Quorvane/account/AccountCreationIdentityValidationView.h"
#include "Quorvane/account/AccountCreationStepHeaderView.h"
#include "Quorvane/account/AccountCreationSubscriberAgreementView.h"
#include "Quorvane/account/AccountCreationView.h"
#include "Quorvane/account/AccountDeletionView.h"
#include "Quorvane/account/AccountInfoView.h"
#include "Quorvane/shell/views/InfoView.h"
#include "Quorvane/shell/views/LinkLabel.h"
#include "Quorvane/shell/views/Sheet.h"
#include "Quorvane/shell/views/SigningCertificateInfoView.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/Toggle.h"
#include "platform/Workspace.h"

namespace {

using namespace accounttest;

void show(QWidget& screen) {
    screen.resize(800, 550);
    screen.show();
    QApplication::setActiveWindow(&screen);
}

// The sheet's content (the views have no meta-object of their own, so findChild would take any widget).
template <class Content, class Screen>
Content* sheetContent(const Screen& screen) {
    auto* sheet = screen.sheetPresenter()->sheet();
    return sheet ? dynamic_cast<Content*>(sheet->content()) : nullptr;
}

template <class Page>
Page* pageOf(const AccountCreationView& screen) {
    return dynamic_cast<Page*>(screen.page());
}

TEST(AccountCreationView, TheCreationGoesFromPageToPageWithTheKeyboardUpToTheAgreementsPinSheet) {
    Rig rig;
    rig.logIn(rig.cardContext());
    auto model = rig.creation(rig.cardContext());
    AccountCreationView screen(model);
    show(screen);
    rig.settle();

    // The disclaimer: no header, the focus on "Create signing certificate", Return takes it.
    auto* disclaimer = pageOf<AccountCreationDisclaimerView>(screen);
    ASSERT_TRUE(disclaimer);
    EXPECT_FALSE(screen.header());
    EXPECT_TRUE(disclaimer->activateButton()->hasFocus());
    QTest::keyClick(disclaimer->activateButton(), Qt::Key_Return);
    rig.settle();

    // The terms: "Confirm & continue" only with the box ticked (Space on the focused box).
    auto* terms = pageOf<AccountCreationConditionsView>(screen);
    ASSERT_TRUE(terms);
    ASSERT_TRUE(screen.header());
    EXPECT_EQ(screen.header()->stepLabel()->text(), "Step 1 of 3: General terms and conditions");
    EXPECT_EQ(screen.header()->progressBar()->value(), 1);
    EXPECT_EQ(screen.header()->progressBar()->maximum(), 3);
    EXPECT_FALSE(terms->confirmButton()->isEnabled());
    EXPECT_TRUE(terms->checkbox()->checkBox()->hasFocus());
    QTest::keyClick(terms->checkbox()->checkBox(), Qt::Key_Space);
    EXPECT_TRUE(terms->confirmButton()->isEnabled());
    QTest::keyClick(terms->checkbox()->checkBox(), Qt::Key_Space);
    EXPECT_FALSE(terms->confirmButton()->isEnabled());
    QTest::keyClick(terms->checkbox()->checkBox(), Qt::Key_Space);
    terms->confirmButton()->setFocus();
    QTest::keyClick(terms->confirmButton(), Qt::Key_Return);
    rig.settle();

    // The identity, then the agreement once it has come.
    auto* identity = pageOf<AccountCreationIdentityValidationView>(screen);
    ASSERT_TRUE(identity);
    EXPECT_EQ(screen.header()->stepLabel()->text(), "Step 2 of 3: Confirm your identity");
    EXPECT_TRUE(identity->confirmToggle()->checkBox()->hasFocus());
    QTest::keyClick(identity->confirmToggle()->checkBox(), Qt::Key_Space);
    QTest::mouseClick(identity->confirmButton(), Qt::LeftButton);
    rig.advance(AccountCreationViewModel::modalStateGap);
    auto* agreement = pageOf<AccountCreationSubscriberAgreementView>(screen);
    ASSERT_TRUE(agreement);
    EXPECT_EQ(screen.header()->stepLabel()->text(),
              "Step 3 of 3: Confirm the creation of the signing certificate");
    EXPECT_EQ(screen.header()->progressBar()->value(), 3);
    EXPECT_FALSE(screen.sheetPresenter()->sheet());

    // "Confirm": the progress message, "Stop activation" disabled, then the PIN sheet; the PIN signs.
    rig.onboarding->confirmCalls.gate.closed = true;
    QTest::mouseClick(agreement->confirmButton(), Qt::LeftButton);
    rig.settle();
    EXPECT_FALSE(screen.header()->stopButton()->isEnabled());
    agreement = pageOf<AccountCreationSubscriberAgreementView>(screen);
    ASSERT_TRUE(agreement);
    EXPECT_FALSE(agreement->confirmButton()->isEnabled());
    ASSERT_TRUE(screen.sheetPresenter()->sheet());
    auto* progress = sheetContent<InfoView>(screen);
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress->messageLabel()->text(), "Signing agreement...");
    EXPECT_TRUE(progress->progressIndicator());

    rig.onboarding->confirmCalls.gate.open();
    rig.advance(AccountCreationViewModel::modalStateGap);
    ASSERT_TRUE(screen.sheetPresenter()->sheet());
    auto* pin = sheetContent<PinInputView>(screen);
    ASSERT_TRUE(pin);
    EXPECT_EQ(pin->titleLabel()->text(), "Sign subscriber agreement");

    // Esc: the card's operation ends, and the user is back on the page, free to confirm or to stop.
    QTest::keyClick(screen.sheetPresenter()->sheet(), Qt::Key_Escape);
    rig.settle();
    EXPECT_FALSE(screen.sheetPresenter()->sheet());
    EXPECT_EQ(rig.card->cancels, 1) << "the card's operation ends with the sheet";
    EXPECT_TRUE(screen.header()->stopButton()->isEnabled());
    agreement = pageOf<AccountCreationSubscriberAgreementView>(screen);
    ASSERT_TRUE(agreement);
    EXPECT_TRUE(agreement->confirmButton()->isEnabled());

    QTest::mouseClick(agreement->confirmButton(), Qt::LeftButton);
    rig.advance(AccountCreationViewModel::modalStateGap);
    pin = sheetContent<PinInputView>(screen);
    ASSERT_TRUE(pin);
    QTest::keyClicks(pin->pinField(), "1234");
    QTest::keyClick(pin->pinField(), Qt::Key_Return);
    rig.advance(AccountCreationViewModel::modalStateGap);
    EXPECT_EQ(rig.card->pins, std::vector<std::string>{"1234"});
    ASSERT_EQ(rig.onboarding->signCalls.requests.size(), 1u);

    // The retrieval's sheet has run it: the certificate is in the card's token, and the flow has ended.
    EXPECT_FALSE(screen.sheetPresenter()->sheet());
    EXPECT_EQ(rig.remote->signatureInfoCalls.requests.size(), 1u);
    ASSERT_EQ(rig.completions->size(), 1u);
    EXPECT_FALSE(rig.completions->front());
    EXPECT_EQ(rig.installed(rig.cardContext()), rig.signingCertificate.der());
}

TEST(AccountCreationView, CancelAndStopActivationEndTheFlowAtOnce) {
    Rig rig;
    {
        auto model = rig.creation(rig.walletContext());
        AccountCreationView screen(model);
        show(screen);
        rig.settle();
        QTest::mouseClick(pageOf<AccountCreationDisclaimerView>(screen)->cancelButton(), Qt::LeftButton);
        EXPECT_EQ(*rig.cancels, 1);
    }
    auto model = rig.creation(rig.walletContext());
    AccountCreationView screen(model);
    show(screen);
    model->showTermsAndConditions();
    rig.settle();
    QTest::mouseClick(screen.header()->stopButton(), Qt::LeftButton);
    EXPECT_EQ(*rig.cancels, 2);
    EXPECT_TRUE(rig.completions->empty());
}

TEST(AccountCreationView, TheTermsLinkTheirWordsToTheServicesPages) {
    Rig rig;
    auto model = rig.creation(rig.cardContext());
    model->showTermsAndConditions();
    AccountCreationView screen(model);
    show(screen);
    auto* terms = pageOf<AccountCreationConditionsView>(screen);
    ASSERT_TRUE(terms);
    const std::string host = "https://remotesign.quorvane.example";
    EXPECT_EQ(AccountCreationConditionsView::privacyNoticeURL(), host + "/docs/PrivacyStatement");
    EXPECT_EQ(AccountCreationConditionsView::termsAndConditionsURL(), host + "/docs/UserConditions");
    EXPECT_TRUE(terms->privacyLink()->text().contains(
        QString::fromStdString("<a href=\"" + host + "/docs/PrivacyStatement\"")));
    EXPECT_TRUE(terms->privacyLink()->text().contains(">privacy notice</a>."));

    platform::WorkspaceRecorder opened;
    emit terms->termsLink()->linkActivated(QString::fromStdString(host + "/docs/UserConditions"));
    EXPECT_EQ(opened.openedURLs(), std::vector<std::string>{host + "/docs/UserConditions"});

    // A translation without the link words: the sentence as plain text.
    EXPECT_EQ(LinkLabel::linkedText("Lisez la notice <vie privée>.", {{"privacy notice", host}}, QPalette()),
              "Lisez la notice &lt;vie privée&gt;.");
}

class AccountInfoViewTest : public ::testing::Test {
  protected:
    AccountInfoViewTest() { rig.logIn(context); }

    // Records the dialogs asked for; the test ends each as the user would.
    struct Dialog {
        QByteArray bytes;
        QString name;
        std::function<void(PDFFile::ExportResult)> completion;
    };
    AccountInfoView::SaveDialog recordingDialog() {
        return [this](QWidget*, const PDFFile& file, const QString& name,
                      std::function<void(PDFFile::ExportResult)> completion) {
            dialogs.push_back({file.pdfData, name, std::move(completion)});
        };
    }

    Rig rig;
    SigningSessionContext context = rig.cardContext();
    std::vector<Dialog> dialogs;
};

TEST_F(AccountInfoViewTest, DoneHasTheFocusAndClosesTheWindow) {
    AccountInfoView screen(rig.accountInfo(context), recordingDialog());
    show(screen);
    rig.settle();
    EXPECT_TRUE(screen.doneButton()->hasFocus());
    QTest::keyClick(screen.doneButton(), Qt::Key_Return);
    rig.settle();
    EXPECT_EQ(*rig.closes, 1);
}

TEST_F(AccountInfoViewTest, DeactivationIsConfirmedFirstAndItsOutcomeClosesTheWindow) {
    AccountInfoView screen(rig.accountInfo(context), recordingDialog());
    show(screen);
    rig.settle();

    QTest::mouseClick(screen.deactivateButton(), Qt::LeftButton);
    rig.settle();
    ASSERT_TRUE(screen.sheetPresenter()->sheet());
    auto* confirmation = sheetContent<AccountDeletionView>(screen);
    ASSERT_TRUE(confirmation);
    EXPECT_TRUE(confirmation->keepButton()->hasFocus()) << "the safe choice";
    QTest::keyClick(screen.sheetPresenter()->sheet(), Qt::Key_Escape);
    rig.settle();
    EXPECT_FALSE(screen.sheetPresenter()->sheet());
    EXPECT_TRUE(rig.remote->deleteAccountCalls.requests.empty());

    QTest::mouseClick(screen.deactivateButton(), Qt::LeftButton);
    confirmation = sheetContent<AccountDeletionView>(screen);
    QTest::mouseClick(confirmation->deactivateButton(), Qt::LeftButton);
    rig.settle();
    ASSERT_EQ(rig.remote->deleteAccountCalls.requests.size(), 1u);
    ASSERT_TRUE(screen.sheetPresenter()->sheet());
    auto* outcome = sheetContent<InfoView>(screen);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->messageLabel()->text(), "Account deactivated");
    QTest::mouseClick(outcome->okButton(), Qt::LeftButton);
    rig.settle();
    EXPECT_FALSE(screen.sheetPresenter()->sheet());
    EXPECT_EQ(*rig.closes, 1);
}

TEST_F(AccountInfoViewTest, TheRetrievalPutsTheCertificateCardInPlaceOfItsButton) {
    AccountInfoView screen(rig.accountInfo(context), recordingDialog());
    show(screen);
    rig.settle();
    ASSERT_TRUE(screen.retrieveButton());
    EXPECT_FALSE(screen.certificateView());

    QTest::mouseClick(screen.retrieveButton(), Qt::LeftButton);
    rig.settle();
    EXPECT_FALSE(screen.sheetPresenter()->sheet()) << "the retrieval has ended";
    EXPECT_EQ(rig.remote->signatureInfoCalls.requests.size(), 1u);
    EXPECT_FALSE(screen.retrieveButton());
    ASSERT_TRUE(screen.certificateView());
    EXPECT_EQ(screen.certificateView()->info().certificateData, rig.signingCertificate.der());
}

TEST_F(AccountInfoViewTest, TheSignedAgreementIsOfferedOnceForEachDownloadAndAFailedSaveIsShown) {
    AccountInfoView screen(rig.accountInfo(context), recordingDialog());
    show(screen);
    rig.settle();

    QTest::mouseClick(screen.subscriberAgreementButton(), Qt::LeftButton);
    rig.settle();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].name, "Signed Agreement");
    const auto& expected = rig.onboarding->signedAgreement;
    EXPECT_EQ(dialogs[0].bytes,
              QByteArray(reinterpret_cast<const char*>(expected.data()), qsizetype(expected.size())));
    rig.settle();
    EXPECT_EQ(dialogs.size(), 1u) << "one dialog while the bytes wait";

    dialogs[0].completion({PDFFile::ExportResult::Outcome::cancelled, {}, {}});
    rig.settle();
    EXPECT_FALSE(screen.model()->signedAgreementFileData());
    EXPECT_EQ(dialogs.size(), 1u);
    EXPECT_FALSE(screen.sheetPresenter()->sheet());

    QTest::mouseClick(screen.subscriberAgreementButton(), Qt::LeftButton);
    rig.settle();
    ASSERT_EQ(dialogs.size(), 2u);
    dialogs[1].completion(
        {PDFFile::ExportResult::Outcome::failed, "/nowhere/Signed Agreement.pdf", "No such file"});
    rig.settle();
    ASSERT_TRUE(screen.sheetPresenter()->sheet());
    auto* message = sheetContent<InfoView>(screen);
    ASSERT_TRUE(message);
    EXPECT_TRUE(message->messageLabel()->text().startsWith(
        "2402: The signed agreement could not be saved: /nowhere/Signed Agreement.pdf: No such file"));
}

}  // namespace
