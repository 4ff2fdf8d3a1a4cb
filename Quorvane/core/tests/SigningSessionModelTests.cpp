#include <gtest/gtest.h>

#include "Quorvane/core/AuthenticationContext.h"
#include "Quorvane/core/SigningCertificateInfo.h"
#include "Quorvane/core/SigningReason.h"
#include "Quorvane/core/SigningSession.h"
#include "Quorvane/core/SigningSessionContext.h"
#include "Quorvane/testing/FakeCard.h"
#include "Quorvane/testing/FakePindleClient.h"
#include "outside/Common/Common.h"
#include "platform/testing/TestPKI.h"

using namespace std::chrono_literals;
using halcyra::AuthenticationMethod;
using platform::json::Json;

namespace {

TEST(SigningSessionContext, TokenIdentifierIsTheCardsIdentifierOrTheWalletConstant) {
    auto card = std::make_shared<testsupport::FakeCard>("CARD-1");
    auto cardContext = SigningSessionContext::card("S1", card);
    EXPECT_EQ(cardContext.tokenIdentifier(), "CARD-1");
    EXPECT_EQ(cardContext.sessionId(), "S1");
    EXPECT_EQ(cardContext.kind(), SigningSessionContext::Kind::card);
    EXPECT_EQ(cardContext.pollingSessionId(), "");

    auto first = SigningSessionContext::wallet("S2", "P2");
    auto second = SigningSessionContext::wallet("S3", "P3");
    EXPECT_EQ(first.tokenIdentifier(), "WALLET_TOKEN_IDENTIFIER");
    EXPECT_EQ(second.tokenIdentifier(), first.tokenIdentifier());
    EXPECT_EQ(first.card(), nullptr);
}

TEST(SigningSessionContext, WithSessionIdKeepsTheSameCardOrPollingSession) {
    auto card = std::make_shared<testsupport::FakeCard>("CARD-1");
    auto renewed = SigningSessionContext::card("S1", card).withSessionId("S9");
    EXPECT_EQ(renewed.kind(), SigningSessionContext::Kind::card);
    EXPECT_EQ(renewed.sessionId(), "S9");
    EXPECT_EQ(renewed.card().get(), card.get());

    auto wallet = SigningSessionContext::wallet("S1", "P1").withSessionId("S9");
    EXPECT_EQ(wallet.kind(), SigningSessionContext::Kind::wallet);
    EXPECT_EQ(wallet.sessionId(), "S9");
    EXPECT_EQ(wallet.pollingSessionId(), "P1");
}

TEST(SigningSessionContext, ACardContextWithoutACardIsRefused) {
    EXPECT_THROW(SigningSessionContext::card("S1", nullptr), std::invalid_argument);
}

TEST(SigningSession, ExpiryCountsFromTheReferenceDate) {
    SigningSession session{"id", "S", 0, {}, {}, {}};
    EXPECT_EQ(session.expirationDate(), platform::Date(978307200s));
    session.expirationTimeInterval = 86400.5;
    EXPECT_EQ(session.expirationDate(), platform::Date(978307200s + 86400s + 500ms));
}

TEST(SigningSession, JsonUsesTheFieldNamesAndLeavesAbsentHolderFieldsOut) {
    SigningSession fresh{"CARD-1", "S1", 1000.25, {}, {}, {}};
    EXPECT_EQ(
        Json(fresh).dump(),
        R"({"internalSessionId":"CARD-1","orchestratorSessionId":"S1","expirationTimeInterval":1000.25})");

    SigningSession known{"CARD-1", "S1", 1000.25, "Ada", "Example", "85073003328"};
    EXPECT_EQ(
        Json(known).dump(),
        R"({"internalSessionId":"CARD-1","orchestratorSessionId":"S1","expirationTimeInterval":1000.25,)"
        R"("firstName":"Ada","lastName":"Example","nationalRegisterNumber":"85073003328"})");
    EXPECT_EQ(platform::json::decode<SigningSession>(Json(known)), known);
    EXPECT_EQ(platform::json::decode<SigningSession>(Json(fresh)), fresh);
}

TEST(SigningSession, JsonWithoutARequiredFieldDoesNotDecode) {
    for (const char* text :
         {R"({"orchestratorSessionId":"S","expirationTimeInterval":1})",
          R"({"internalSessionId":"I","expirationTimeInterval":1})",
          R"({"internalSessionId":"I","orchestratorSessionId":"S"})",
          R"({"internalSessionId":"I","orchestratorSessionId":"S","expirationTimeInterval":"1"})"}) {
        SCOPED_TRACE(text);
        EXPECT_THROW(platform::json::decode<SigningSession>(platform::json::parse(text)),
                     platform::json::DecodingError);
    }
}

TEST(SigningReason, CasesKeepTheirOrderAndOnlySigningCarriesData) {
    EXPECT_EQ(static_cast<int>(SigningReason::Kind::actualSigning), 0);
    EXPECT_EQ(static_cast<int>(SigningReason::Kind::signingAuthentication), 5);
    auto signing = SigningReason::actualSigning(
        platform::Bytes{1, 2}, std::vector<BulkSigningRequest::Document>{{"aGFzaA==", "a.pdf"}});
    EXPECT_EQ(signing.kind, SigningReason::Kind::actualSigning);
    EXPECT_NE(signing, SigningReason::actualSigning(platform::Bytes{1, 2}, std::nullopt));
    EXPECT_FALSE(SigningReason::of(SigningReason::Kind::agreementSigning).hashToSign);
}

TEST(AuthenticationContext, HoldsTheSessionAndTheMethod) {
    AuthenticationContext context{"S1", AuthenticationMethod::wallet};
    EXPECT_EQ(context, (AuthenticationContext{"S1", AuthenticationMethod::wallet}));
    EXPECT_NE(context, (AuthenticationContext{"S1", AuthenticationMethod::eid}));
}

struct CertificateInfoCase {
    const char* name;
    std::optional<std::string> givenName;
    std::optional<std::string> surname;
    std::optional<std::string> serialNumber;
    const char* tokenIdentifier;
    std::string fullName;
    std::string nationalNumber;
    AuthenticationMethod method;
};

TEST(SigningCertificateInfo, IsReadFromTheCertificateSubjectAndValidity) {
    const CertificateInfoCase cases[] = {
        {"complete card", "Ada", "Example", "85073003328", "CARD-1", "Ada Example", "85073003328",
         AuthenticationMethod::eid},
        {"wallet", "Ada", "Example", "85073003328", "WALLET_TOKEN_IDENTIFIER", "Ada Example", "85073003328",
         AuthenticationMethod::wallet},
        {"no serial number", "Ada", "Example", std::nullopt, "CARD-1", "Ada Example", "",
         AuthenticationMethod::eid},
        {"no given name", std::nullopt, "Example", "1", "CARD-1", "Example", "1", AuthenticationMethod::eid},
        {"no surname", "Ada", std::nullopt, "1", "CARD-1", "Ada", "1", AuthenticationMethod::eid},
        {"no names", std::nullopt, std::nullopt, "1", "wallet", "", "1", AuthenticationMethod::eid},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::CertificateRequest request;
        request.givenName = c.givenName;
        request.surname = c.surname;
        request.serialNumber = c.serialNumber;
        auto issued = testsupport::makeSelfSigned(request);
        auto info = SigningCertificateInfo::make(c.tokenIdentifier, issued.der(), platform::Date{});
        ASSERT_TRUE(info);
        EXPECT_EQ(info->methodCreatedWith, c.method);
        EXPECT_EQ(info->certificateData, issued.der());
        EXPECT_EQ(info->fullName, c.fullName);
        EXPECT_EQ(info->nationalNumber, c.nationalNumber);
        EXPECT_EQ(info->notValidBefore, *notValidBefore(issued.certificate));
        EXPECT_EQ(info->notValidAfter, *notValidAfter(issued.certificate));
    }
}

TEST(SigningCertificateInfo, BytesThatAreNotACertificateGiveNothing) {
    auto der = testsupport::makeSelfSigned({}).der();
    auto truncated = platform::Bytes(der.begin(), der.end() - 1);
    auto trailing = der;
    trailing.push_back(0);
    for (const auto& bytes : {platform::Bytes{}, platform::toBytes("not a certificate"), truncated, trailing})
        EXPECT_FALSE(SigningCertificateInfo::make("CARD-1", bytes, platform::Date{}));
}

TEST(SigningCertificateInfo, ValuesDifferingOnlyInTheMethodAreNotEqual) {
    auto der = testsupport::makeSelfSigned({}).der();
    auto card = SigningCertificateInfo::make("CARD-1", der, platform::Date{});
    auto wallet = SigningCertificateInfo::make("WALLET_TOKEN_IDENTIFIER", der, platform::Date{});
    ASSERT_TRUE(card && wallet);
    EXPECT_NE(*card, *wallet);
    EXPECT_EQ(*card, *SigningCertificateInfo::make("CARD-2", der, platform::Date{}));
}

}  // namespace
