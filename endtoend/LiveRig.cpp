#include "endtoend/LiveRig.h"

#include "outside/Common/Common.h"
#include "platform/Codecs.h"

namespace endtoend {

namespace {

std::pair<std::string, std::string> cardProof(const testsupport::Issued& card,
                                              const std::string& hashToSign) {
    return {platform::base64Encoded(card.der()),
            platform::base64Encoded(testsupport::signDigest(
                card, platform::base64URLDecoded(hashToSign).value_or(platform::Bytes{})))};
}

}  // namespace

LiveRig::Account LiveRig::cardAccount(const testsupport::Issued& card) {
    auto sessionId =
        testsupport::await(auth->getAuthenticationMethods("e2e", halcyra::LevelOfAssurance::substantial))
            .sessionId;
    auto login =
        testsupport::await(auth->getAuthenticationMethodData(halcyra::AuthenticationMethod::eid, sessionId));
    auto [certificate, signature] = cardProof(card, login.eid.value().hashToSign);
    auto result = testsupport::await(auth->authenticate(
        halcyra::AuthenticateRequest(sessionId, halcyra::AuthenticateRequest::EID{certificate, signature})));
    auto agreement = testsupport::await(onboarding->confirmUserData({sessionId, "en", "UserAgreement.pdf"}));
    auto [agreementCertificate, agreementSignature] = cardProof(card, agreement.eid.value().hashToSign);
    testsupport::await(onboarding->signAgreement(halcyra::SignAgreementRequest(
        agreement.onboardingSessionId,
        halcyra::SignAgreementRequest::EID{agreementCertificate, agreementSignature})));
    return {sessionId, result.expirationDate,
            installCertificate(sessionId, uniqueId(card.certificate).value())};
}

LiveRig::Account LiveRig::walletAccount() {
    auto [sessionId, pollSessionId] = confirmedWalletLogin(halcyra::LevelOfAssurance::substantial);
    auto result = testsupport::await(auth->authenticate(
        halcyra::AuthenticateRequest(sessionId, halcyra::AuthenticateRequest::Wallet{pollSessionId})));
    onboardWallet(sessionId);
    return {sessionId, result.expirationDate,
            installCertificate(sessionId, SigningSessionContext::walletTokenIdentifier)};
}

platform::Bytes LiveRig::installCertificate(const std::string& sessionId, const std::string& token) {
    auto info = testsupport::await(remote->getSignatureInfo(sessionId));
    EXPECT_TRUE(tokens->registerToken(token, info.signingCertificate));
    server.clearRequests();
    return info.signingCertificate;
}

std::string LiveRig::describeTarget() const {
    auto current = model();
    if (!current)
        return "no navigation";
    const auto& target = current->navigationTarget();
    if (const auto* info = target.as<AppNavigationTarget::Info>())
        return "info " + info->message.substr(0, info->message.find('\n'));
    if (target.is<AppNavigationTarget::AccountCreation>())
        return "accountCreation";
    if (const auto* info = target.as<AppNavigationTarget::AccountInfo>())
        return "accountInfo " + info->session.firstName.value_or("-");
    if (target.is<AppNavigationTarget::CertificateRetrieval>())
        return "certificateRetrieval";
    if (target.is<AppNavigationTarget::CardSelection>())
        return "cardSelection";
    return "other";
}

bool clickSheetButton(LiveRig& rig, const std::string& title) {
    if (!rig.sheet())
        return false;
    for (auto* button : rig.sheet()->findChildren<QAbstractButton*>())
        if (button->isVisible() && button->isEnabled() && button->text().toStdString() == title) {
            QTest::mouseClick(button, Qt::LeftButton);
            return true;
        }
    return false;
}

}  // namespace endtoend
