// The first road of every new user, end to end through the shell: the main window opens, the user logs in
// with the stand-in bridge's card (the PIN typed into the real sheet) or in the wallet (the stand-in server's
// polling states), has no account, creates it in the app, and gets the signing certificate into the token,
// where pkcs11-tool finds it through p11-kit. A bulk link is then signed with it, and every signature
// verifies with OpenSSL against the certificate the server issued.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QUrlQuery>

#include "Quorvane/account/AccountCreationConditionsView.h"
#include "Quorvane/account/AccountCreationDisclaimerView.h"
#include "Quorvane/account/AccountCreationIdentityValidationView.h"
#include "Quorvane/account/AccountCreationSubscriberAgreementView.h"
#include "Quorvane/account/AccountCreationView.h"
#include "Quorvane/account/AccountInfoView.h"
#include "Quorvane/shell/KelvPCSigningSceneDelegate.h"
#include "Quorvane/shell/SharedApplicationQt.h"
#include "Quorvane/shell/views/StyledButton.h"
#include "Quorvane/shell/views/Toggle.h"
#include "Quorvane/signing/CertificateRetrievalResultView.h"
#include "Quorvane/signing/SigningView.h"
#include "endtoend/signing/SigningEndToEnd.h"
#include "outside/Common/Common.h"
#include "platform/Workspace.h"

using namespace endtoend;

namespace {

const std::string walletToken = SigningSessionContext::walletTokenIdentifier;
const std::string callback = "https://example.org/done";

struct RoadRig : LiveRig {
    explicit RoadRig(std::vector<std::string> flags = {}) : LiveRig(std::move(flags)) {}

    AccountCreationView* creation() const {
        return view() ? dynamic_cast<AccountCreationView*>(view()->screen()) : nullptr;
    }
    template <class Page>
    Page* page() const {
        return creation() ? dynamic_cast<Page*>(creation()->page()) : nullptr;
    }
    // The sheet over whichever screen shows one: the navigation's, the creation's, or the signing's.
    Sheet* anySheet() const {
        if (sheet())
            return sheet();
        if (auto* screen = creation())
            return screen->sheetPresenter()->sheet();
        if (auto* screen = view() ? dynamic_cast<SigningView*>(view()->screen()) : nullptr)
            return screen->sheetPresenter()->sheet();
        return nullptr;
    }
    template <class Content>
    Content* sheetContent() const {
        return anySheet() ? dynamic_cast<Content*>(anySheet()->content()) : nullptr;
    }

    // Types the PIN into the PIN sheet that has the keyboard focus, whichever screen it is over.
    void typePinInAnySheet() {
        ASSERT_TRUE(eventually(
            [&] {
                QWidget* focus = QApplication::focusWidget();
                return sheetContent<PinInputView>() && anySheet()->isVisible() && focus &&
                       focus->window() == anySheet();
            },
            30s))
            << "no PIN sheet with the focus in its field: " << describeTarget();
        QTest::keyClicks(QApplication::focusWidget(), "1234");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        // The sheet goes before the next one comes.
        ASSERT_TRUE(eventually([&] { return !sheetContent<PinInputView>(); }, 30s));
    }

    // The user creates the account: the pages, then "Confirm" on the agreement.
    void createAccount() {
        ASSERT_TRUE(eventually([&] { return page<AccountCreationDisclaimerView>(); }, 60s))
            << describeTarget();
        QTest::mouseClick(page<AccountCreationDisclaimerView>()->activateButton(), Qt::LeftButton);
        ASSERT_TRUE(eventually([&] { return page<AccountCreationConditionsView>(); }));
        page<AccountCreationConditionsView>()->checkbox()->checkBox()->click();
        QTest::mouseClick(page<AccountCreationConditionsView>()->confirmButton(), Qt::LeftButton);
        ASSERT_TRUE(eventually([&] { return page<AccountCreationIdentityValidationView>(); }));
        page<AccountCreationIdentityValidationView>()->confirmToggle()->checkBox()->click();
        QTest::mouseClick(page<AccountCreationIdentityValidationView>()->confirmButton(), Qt::LeftButton);
        ASSERT_TRUE(
            eventually([&] { return page<AccountCreationSubscriberAgreementView>() && !anySheet(); }));
        QTest::mouseClick(page<AccountCreationSubscriberAgreementView>()->confirmButton(), Qt::LeftButton);
    }

    // The certificate the server issued for the account of the token's session.
    Bytes issuedCertificate(const std::string& token) {
        auto session = sessionOf(token);
        EXPECT_TRUE(session) << token;
        return session ? testsupport::await(remote->getSignatureInfo(session->orchestratorSessionId))
                             .signingCertificate
                       : Bytes{};
    }

    // pkcs11-tool finds the token and reads its certificate through p11-kit; empty when it does not.
    Bytes certificateThroughP11Kit(const std::string& token) {
        Pkcs11Tool tool;
        auto listed = tool.run({"--list-objects", "--type", "cert"});
        EXPECT_EQ(listed.status, 0) << listed.output;
        EXPECT_NE(listed.output.find(relaytest::toHex(token).substr(0, 16)), std::string::npos)
            << listed.output;
        auto read = tool.run({"--token-label", token.substr(0, 32), "--read-object", "--type", "cert", "--id",
                              relaytest::toHex(token), "--output-file", (tool.home() / "cert.der").native()});
        EXPECT_EQ(read.status, 0) << read.output;
        return platform::toBytes(relaytest::readFile(tool.home() / "cert.der"));
    }

    // The callback opened for a bulk link, once it is.
    std::optional<std::string> openedCallback() const {
        for (const auto& url : opened.openedURLs())
            if (url.starts_with(callback))
                return url;
        return std::nullopt;
    }

    platform::WorkspaceRecorder opened;
    std::shared_ptr<KelvPCSigningSceneDelegate> delegate = std::make_shared<KelvPCSigningSceneDelegate>(
        std::make_shared<SharedApplicationQt>(), platform::Scheduler::live(), controller);
};

// Each signature of the callback verifies over its document's hash with the certificate.
void expectSignedDocuments(const std::string& url, const std::vector<Document>& docs,
                           const Bytes& certificate) {
    const QUrlQuery query(QUrl(QString::fromStdString(url)));
    ASSERT_TRUE(query.hasQueryItem("signatures")) << url;
    const auto signatures = split(query.queryItemValue("signatures", QUrl::FullyDecoded).toStdString());
    ASSERT_EQ(signatures.size(), docs.size());
    for (std::size_t i = 0; i < docs.size(); ++i) {
        auto signature = platform::base64URLDecoded(signatures[i]);
        ASSERT_TRUE(signature) << signatures[i];
        EXPECT_TRUE(verifiesWith(certificate, docs[i].hash, *signature)) << docs[i].name;
    }
}

TEST(AccountRoadEndToEnd, ANewCardHolderCreatesTheAccountInTheAppThenSignsABulkLink) {
    auto card = testsupport::issueCitizenCard("Bram", "Claes", "93051822361");
    testsupport::StandInBridge bridge(card, "1234");
    RoadRig rig;
    const auto token = uniqueId(card.certificate).value();

    // The status menu's "Account info": login, no account, the creation.
    rig.show(AppOpenMode::accountInfo());
    rig.choose(halcyra::AuthenticationMethod::eid);
    rig.typePinInAnySheet();
    ASSERT_TRUE(rig.shows("accountCreation")) << rig.describeTarget();
    rig.createAccount();
    rig.typePinInAnySheet();

    // The account exists now: the account screen shows its certificate, which is the token's.
    ASSERT_TRUE(rig.shows("accountInfo Bram")) << rig.describeTarget();
    auto* accountScreen = dynamic_cast<AccountInfoView*>(rig.view()->screen());
    ASSERT_TRUE(accountScreen);
    EXPECT_TRUE(accountScreen->certificateView());
    EXPECT_TRUE(rig.settings->hasOnboardedAtLeastOnce());
    const auto certificate = rig.issuedCertificate(token);
    ASSERT_FALSE(certificate.empty());
    EXPECT_EQ(rig.tokens->certificateData(token), certificate);
    if (std::filesystem::exists(Pkcs11Tool::proxyModule)) {
        EXPECT_EQ(rig.certificateThroughP11Kit(token), certificate);
    }

    // Done: the window goes (a busy window would refuse the link). A bulk link for the card: the session
    // still serves, only the signature's PIN is asked.
    QTest::mouseClick(accountScreen->doneButton(), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return !rig.controller.window->isVisible(); }));
    const auto docs = documents(3);
    rig.delegate->openURLs({bulkLink("card:" + token, docs, callback)});
    rig.typePinInAnySheet();
    ASSERT_TRUE(eventually([&] { return rig.openedCallback().has_value(); }, 60s)) << rig.describeTarget();
    expectSignedDocuments(*rig.openedCallback(), docs, certificate);
}

TEST(AccountRoadEndToEnd, ANewWalletHolderCreatesTheAccountThroughThePollingStatesThenSignsABulkLink) {
    RoadRig rig({"--wallet-polls", "3", "--retry-after-ms", "200"});

    // "Retrieve remote sign certificate": the wallet login polls until confirmed, then the creation, whose
    // agreement the wallet confirms the same way.
    rig.show(AppOpenMode::getCertificate(true));
    rig.choose(halcyra::AuthenticationMethod::wallet);
    ASSERT_TRUE(rig.shows("accountCreation")) << rig.describeTarget();
    rig.createAccount();
    ASSERT_TRUE(eventually([&] { return rig.sheetContent<WalletTrackingView>(); }, 30s));

    // The certificate retrieved and shown, until Done.
    CertificateRetrievalView* retrieval = nullptr;
    ASSERT_TRUE(eventually(
        [&] {
            retrieval = rig.view() ? dynamic_cast<CertificateRetrievalView*>(rig.view()->screen()) : nullptr;
            return retrieval && retrieval->resultView();
        },
        60s))
        << rig.describeTarget();
    QTest::mouseClick(retrieval->resultView()->doneButton(), Qt::LeftButton);
    ASSERT_TRUE(eventually([&] { return !rig.controller.window->isVisible(); }));
    const auto certificate = rig.issuedCertificate(walletToken);
    ASSERT_FALSE(certificate.empty());
    EXPECT_EQ(rig.tokens->certificateData(walletToken), certificate);
    if (std::filesystem::exists(Pkcs11Tool::proxyModule)) {
        EXPECT_EQ(rig.certificateThroughP11Kit(walletToken), certificate);
    }

    const auto docs = documents(2);
    rig.delegate->openURLs({bulkLink(walletToken, docs, callback)});
    ASSERT_TRUE(eventually([&] { return rig.openedCallback().has_value(); }, 60s)) << rig.describeTarget();
    expectSignedDocuments(*rig.openedCallback(), docs, certificate);
}

}  // namespace
