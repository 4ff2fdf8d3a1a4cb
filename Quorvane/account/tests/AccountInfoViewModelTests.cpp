// The account screen's model: the certificate it shows, the signed agreement's download and the report of a
// file that could not be saved, the deactivation with its confirmation, and the retrieval's outcome.
#include <gtest/gtest.h>

#include "AccountTestRig.h"

namespace {

using namespace accounttest;
using State = AccountInfoModalState;

std::string describe(const std::optional<State>& state) {
    if (!state)
        return "none";
    if (const auto* completed = state->as<State::DeletionCompleted>())
        return "completed " + completed->message;
    if (const auto* loading = state->as<State::Loading>())
        return "loading " + loading->message;
    if (const auto* info = state->as<State::Info>())
        return "info " + info->message.substr(0, info->message.find('\n'));
    if (state->as<State::AskingDeletionConfirmation>())
        return "confirmation";
    return "retrieval";
}

class AccountInfoTest : public ::testing::Test {
  protected:
    std::string sheet() const { return describe(model->accountInfoModalState()); }

    Rig rig;
    std::shared_ptr<AccountInfoViewModel> model;
};

TEST_F(AccountInfoTest, ShowsTheCertificateOfTheContextsTokenAndDropsOneNoLongerValid) {
    LogCapture log;
    const auto card = rig.cardContext();
    const auto wallet = rig.walletContext();
    rig.store->registerToken(wallet, rig.signingCertificate.der());
    EXPECT_FALSE(rig.accountInfo(card)->signingCertificateInfo())
        << "the wallet's certificate is not the card's";
    auto info = rig.accountInfo(wallet)->signingCertificateInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->methodCreatedWith, halcyra::AuthenticationMethod::wallet);
    EXPECT_EQ(info->certificateData, rig.signingCertificate.der());

    // A certificate that has ended is taken out of the token before the screen shows anything.
    auto expired = testsupport::citizenCard("Ann", "Peeters", "71715100070");
    expired.notBeforeOffset = -std::chrono::hours(48);
    expired.notAfterOffset = -std::chrono::hours(24);
    rig.store->registerToken(card, testsupport::issue(expired, testsupport::cardCA()).der());
    log.clear();
    model = rig.accountInfo(card);
    EXPECT_FALSE(model->signingCertificateInfo());
    EXPECT_FALSE(rig.installed(card));
    EXPECT_EQ(log.messages(),
              std::vector<std::string>{"Remote signing certificate for account has expired, deleting "
                                       "before showing account info"});
}

TEST_F(AccountInfoTest, TheSignedAgreementIsDownloadedThenOfferedAndAFailedSaveIsReported) {
    model = rig.accountInfo(rig.cardContext());
    rig.onboarding->signedAgreementCalls.gate.closed = true;
    model->downloadSignedAgreement();
    EXPECT_EQ(sheet(), "loading Downloading signed agreement...");
    auto loading = model->makeInfoViewModel(*model->accountInfoModalState());
    EXPECT_TRUE(loading->isWaiting);
    EXPECT_FALSE(loading->confirmed) << "nothing to press while the server works";
    rig.settle();
    EXPECT_EQ(rig.onboarding->signedAgreementCalls.requests,
              std::vector<std::string>{model->session().orchestratorSessionId});
    rig.onboarding->signedAgreementCalls.gate.open();
    rig.settle();
    EXPECT_EQ(sheet(), "none");
    EXPECT_EQ(model->signedAgreementFileData(), rig.onboarding->signedAgreement);

    // Saved, or cancelled: the bytes go, and nothing is shown.
    model->signedAgreementExportEnded(std::nullopt);
    EXPECT_FALSE(model->signedAgreementFileData());
    EXPECT_EQ(sheet(), "none");

    // Not written: the user is told, with the file and the reason.
    model->downloadSignedAgreement();
    rig.settle();
    model->signedAgreementExportEnded("/read-only/Signed Agreement.pdf: Permission denied");
    EXPECT_FALSE(model->signedAgreementFileData());
    EXPECT_EQ(sheet(),
              "info 2402: The signed agreement could not be saved: /read-only/Signed Agreement.pdf: "
              "Permission denied");
    model->makeInfoViewModel(*model->accountInfoModalState())->confirmed();
    EXPECT_EQ(sheet(), "none");
    EXPECT_EQ(*rig.closes, 0) << "OK only clears the message";

    // An empty document is offered all the same.
    rig.onboarding->signedAgreement.clear();
    model->downloadSignedAgreement();
    rig.settle();
    EXPECT_EQ(model->signedAgreementFileData(), platform::Bytes{});
}

TEST_F(AccountInfoTest, AFailedDownloadShowsTheAccountInformationCodeAndKeepsWhatWasThere) {
    struct Case {
        const char* name;
        HalcyraError error;
        std::string headline;
    };
    const Case cases[] = {
        {"server", backendError(404), "info 1400-404: The request was refused. - 5C1D"},
        {"network", networkError(), "info 1400: Network error, please verify your internet connection."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        model = rig.accountInfo(rig.cardContext());
        rig.onboarding->signedAgreementCalls.error = c.error;
        model->downloadSignedAgreement();
        rig.settle();
        EXPECT_EQ(sheet(), c.headline);
        EXPECT_FALSE(model->signedAgreementFileData());
    }
}

TEST_F(AccountInfoTest, DeactivationAsksFirstThenDeletesTheAccountAndForgetsItsSessionAndToken) {
    const auto context = rig.cardContext();
    rig.logIn(context);
    rig.store->registerToken(context, rig.signingCertificate.der());
    model = rig.accountInfo(context);

    // "No, keep account": no server call.
    model->askDeletionConfirmation();
    EXPECT_EQ(sheet(), "confirmation");
    model->makeDeletionViewModel()->cancelled();
    EXPECT_EQ(sheet(), "none");
    rig.settle();
    EXPECT_TRUE(rig.remote->deleteAccountCalls.requests.empty());

    model->askDeletionConfirmation();
    rig.remote->deleteAccountCalls.gate.closed = true;
    model->makeDeletionViewModel()->confirmed();
    EXPECT_EQ(sheet(), "loading Deactivating account...");
    rig.settle();
    ASSERT_EQ(rig.remote->deleteAccountCalls.requests.size(), 1u);
    EXPECT_EQ(rig.remote->deleteAccountCalls.requests[0],
              std::pair(model->session().orchestratorSessionId, std::string("macOS Quorvane")));
    EXPECT_TRUE(rig.store->activeSession(context, false)) << "nothing is forgotten before the server agrees";
    EXPECT_TRUE(rig.settings->hasOnboardedAtLeastOnce());

    rig.remote->deleteAccountCalls.gate.open();
    rig.settle();
    EXPECT_EQ(sheet(), "completed Account deactivated");
    EXPECT_FALSE(rig.store->activeSession(context, false));
    EXPECT_FALSE(rig.installed(context));
    EXPECT_FALSE(rig.settings->hasOnboardedAtLeastOnce());

    // OK closes the window.
    model->makeInfoViewModel(*model->accountInfoModalState())->confirmed();
    EXPECT_EQ(sheet(), "none");
    rig.settle();
    EXPECT_EQ(*rig.closes, 1);
}

TEST_F(AccountInfoTest, AFailedDeactivationKeepsEverything) {
    LogCapture log;
    const auto context = rig.walletContext();
    rig.logIn(context);
    rig.store->registerToken(context, rig.signingCertificate.der());
    model = rig.accountInfo(context);
    rig.remote->deleteAccountCalls.error = backendError(500);
    model->deactivateAccount();
    rig.settle();
    EXPECT_EQ(sheet(), "completed Unexpected error, failed to deactivate account");
    EXPECT_TRUE(rig.store->activeSession(context, false));
    EXPECT_TRUE(rig.installed(context));
    EXPECT_TRUE(rig.settings->hasOnboardedAtLeastOnce());
    const auto messages = log.messages();
    EXPECT_NE(
        std::find(messages.begin(), messages.end(), "Failed deleting account: The request was refused."),
        messages.end());
}

TEST_F(AccountInfoTest, TheRetrievalClearsTheSheetOrShowsItsError) {
    const auto context = rig.cardContext();
    rig.logIn(context);
    model = rig.accountInfo(context);
    EXPECT_FALSE(model->signingCertificateInfo());

    model->retrieveCertificate();
    EXPECT_EQ(sheet(), "retrieval");
    auto retrieval = model->makeCertificateRetrievalViewModel();
    retrieval->start();
    rig.settle();
    EXPECT_EQ(sheet(), "none");
    ASSERT_TRUE(model->signingCertificateInfo()) << "the screen now shows the certificate";
    EXPECT_EQ(model->signingCertificateInfo()->certificateData, rig.signingCertificate.der());

    rig.remote->signatureInfoCalls.error = backendError(503);
    model->retrieveCertificate();
    model->makeCertificateRetrievalViewModel()->start();
    rig.settle();
    EXPECT_EQ(sheet(), "info 1202-503: The request was refused. - 5C1D");
}

TEST_F(AccountInfoTest, TheSheetsCallbacksDoNothingOnceTheModelIsGoneAndDoneLeavesTheModelAsItIs) {
    model = rig.accountInfo(rig.cardContext());
    auto deletion = model->makeDeletionViewModel();
    auto retrieval = model->makeCertificateRetrievalViewModel();
    model->askDeletionConfirmation();
    model->done();
    rig.settle();
    EXPECT_EQ(*rig.closes, 1);
    EXPECT_EQ(sheet(), "confirmation");

    model.reset();
    deletion->confirmed();
    deletion->cancelled();
    retrieval->completed(std::nullopt);
    rig.settle();
    EXPECT_TRUE(rig.remote->deleteAccountCalls.requests.empty());
}

}  // namespace
