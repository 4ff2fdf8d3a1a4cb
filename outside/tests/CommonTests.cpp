#include <gtest/gtest.h>
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/x509.h>

#include <chrono>
#include <regex>
#include <set>

#include "outside/Common/Common.h"
#include "platform/testing/TestPKI.h"

using namespace std::chrono;

TEST(UUIDProviderTest, GivesUpperCaseVersion4UUIDsThatDoNotRepeat) {
    UUIDProvider provider;
    const std::regex form("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        auto uuid = provider.newUUIDString();
        ASSERT_TRUE(std::regex_match(uuid, form)) << uuid;
        EXPECT_TRUE(seen.insert(uuid).second) << uuid;
    }
}

namespace {

struct Plain {
    std::string name;
    friend void to_json(platform::json::Json& out, const Plain& value) {
        out = platform::json::Json::object();
        out["name"] = value.name;
        out["a/b"] = 1;
    }
};

struct Secret {
    std::string pin;
    struct Stand {
        friend void to_json(platform::json::Json& out, const Stand&) { out = {{"pin", "Redacted"}}; }
    };
    Stand redacted() const { return {}; }
    friend void to_json(platform::json::Json& out, const Secret& value) { out = {{"pin", value.pin}}; }
};

}  // namespace

TEST(RedactedJSONStringTest, RendersTheValueOrItsRedactedStandIn) {
    static_assert(!RedactedEncodableProviding<Plain>);
    static_assert(RedactedEncodableProviding<Secret>);
    EXPECT_EQ(redactedJSONString(Plain{"x"}), R"({"name":"x","a/b":1})");
    EXPECT_EQ(redactedJSONString(Secret{"1234"}), R"({"pin":"Redacted"})");
    EXPECT_EQ(redactedJSONString(Plain{"\xff"}), std::nullopt);
    EXPECT_EQ(redactedJSONString(std::vector<int>{1, 2}), "[1,2]");
}

TEST(SessionTagTest, IsTheStartOfTheIdsSHA256) {
    EXPECT_EQ(sessionTag("abc"), "ba7816bf");  // SHA-256("abc") = ba7816bf 8f01cfea …
    EXPECT_EQ(sessionTag(""), "e3b0c442");
}

// Log copies name every session id by its tag, at any depth; other members, and ids that are not texts, stay.
TEST(RedactedJSONStringTest, ShowsSessionIdsAsTheirTags) {
    platform::json::Json value = {
        {"sessionId", "abc"},
        {"session", "abc"},
        {"outer", {{"authSessionId", "abc"}, {"list", {{{"pollSessionId", "abc"}}}}}},
        {"consentSessionId", 7},
        {"sessionIdentifier", "abc"}};
    EXPECT_EQ(redactedJSONString(value),
              R"({"sessionId":"ba7816bf","session":"abc","outer":{"authSessionId":"ba7816bf",)"
              R"("list":[{"pollSessionId":"ba7816bf"}]},"consentSessionId":7,"sessionIdentifier":"abc"})");
}

TEST(CertificateFieldsTest, ReadsSubjectAttributesNotTheCertificateSerial) {
    testsupport::CertificateRequest request;
    request.commonName = "Zoë Peeters (Signature)";
    request.givenName = "Zoë Anne";
    request.surname = "Peeters";
    request.serialNumber = "71715100070";
    auto citizen = testsupport::makeSelfSigned(request);
    EXPECT_EQ(subjectFirstName(citizen.certificate), "Zoë Anne");
    EXPECT_EQ(subjectSurname(citizen.certificate), "Peeters");
    EXPECT_EQ(subjectSerialNumber(citizen.certificate), "71715100070");

    // The certificate's own serial is something else entirely.
    BIGNUM* serial = ASN1_INTEGER_to_BN(X509_get0_serialNumber(citizen.certificate.x509()), nullptr);
    char* decimal = BN_bn2dec(serial);
    EXPECT_NE(std::string(decimal), "71715100070");
    OPENSSL_free(decimal);
    BN_free(serial);

    testsupport::CertificateRequest bare;
    bare.commonName = "Peeters";
    auto server = testsupport::makeSelfSigned(bare);
    EXPECT_EQ(subjectFirstName(server.certificate), std::nullopt);
    EXPECT_EQ(subjectSurname(server.certificate), std::nullopt);
    EXPECT_EQ(subjectSerialNumber(server.certificate), std::nullopt);
}

TEST(CertificateFieldsTest, ValidityDatesAndUniqueId) {
    testsupport::CertificateRequest request;
    request.notBeforeOffset = -hours(2);
    request.notAfterOffset = hours(24 * 365 * 30);  // past 2038
    auto before = system_clock::now();
    auto issued = testsupport::makeSelfSigned(request);
    auto after = system_clock::now();

    auto notBefore = notValidBefore(issued.certificate);
    auto notAfter = notValidAfter(issued.certificate);
    ASSERT_TRUE(notBefore && notAfter);
    EXPECT_GE(*notBefore, floor<seconds>(before - hours(2)));
    EXPECT_LE(*notBefore, after - hours(2));
    EXPECT_GE(*notAfter, floor<seconds>(before + hours(24 * 365 * 30)));
    EXPECT_LE(*notAfter, after + hours(24 * 365 * 30));

    auto id = uniqueId(issued.certificate);
    ASSERT_TRUE(id);
    EXPECT_TRUE(std::regex_match(*id, std::regex("^[0-9A-F]{64}$"))) << *id;
    EXPECT_EQ(uniqueId(*platform::Certificate::fromDER(issued.der())), id);
    EXPECT_NE(uniqueId(testsupport::makeSelfSigned(request).certificate), id);
    EXPECT_EQ(data(issued.certificate), issued.der());
}

TEST(CertificateFieldsTest, DatesBeyondTheClockAreClampedNotWrapped) {
    // "Never expires" certificates end on 9999-12-31; they must read as far in the future, not in the past.
    testsupport::CertificateRequest request;
    request.notAfterOffset = hours(24 * 365 * 7900);
    auto notAfter = notValidAfter(testsupport::makeSelfSigned(request).certificate);
    ASSERT_TRUE(notAfter);
    EXPECT_GT(*notAfter, system_clock::now() + hours(24 * 365 * 200));
}
