// Mapping, parsing and log copies that need no server.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>

#include "api/Account.h"
#include "api/Authentication.h"
#include "api/Consent.h"
#include "api/HalcyraError.h"
#include "api/Onboarding.h"
#include "api/PreferredLanguages.h"
#include "api/ResultDate.h"
#include "api/Wallet.h"
#include "http/VastelError.h"
#include "outside/Common/Common.h"
#include "platform/qt/SystemInfo.h"

using namespace halcyra;
using platform::json::Json;

namespace {

std::int64_t unixMilliseconds(platform::Date date) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(date.time_since_epoch()).count();
}

struct LanguagesOverride {
    explicit LanguagesOverride(std::vector<std::string> languages) {
        platform::SystemInfo::setPreferredLanguagesOverride(std::move(languages));
    }
    ~LanguagesOverride() { platform::SystemInfo::setPreferredLanguagesOverride(std::nullopt); }
};

}  // namespace

// The server's dates are calendar dates in the Gregorian calendar, whatever the week-based year says.
TEST(ResultDate, ParsesCalendarDatesWithMillisecondsAndZone) {
    struct Case {
        const char* text;
        std::optional<std::int64_t> unixMs;
    };
    const Case cases[] = {
        {"2024-12-30T10:00:00.000+0000", 1735552800000},  // week-based year 2025
        {"2021-01-01T00:30:00.500+0100", 1609457400500},  // still 2020 in UTC; week-based year 2020
        {"2026-12-10T14:05:09.042-05:30", 1796931309042},
        {"2000-02-29T23:59:59.999Z", 951868799999},
        {"2026-12-10T14:05:09+0000", std::nullopt},  // no milliseconds
        {"2026-12-10T14:05:09.04+0000", std::nullopt},
        {"2023-02-29T10:00:00.000+0000", std::nullopt},
        {"2026-13-01T10:00:00.000+0000", std::nullopt},
        {"2026-12-10T24:00:00.000+0000", std::nullopt},
        {"2026-12-10 14:05:09.042+0000", std::nullopt},
        {"2026-12-10T14:05:09.042", std::nullopt},
        {"2026-12-10T14:05:09.042+0000 ", std::nullopt},
        {"2026-12-10T14:05:09.042+2400", std::nullopt},
        {"2026-12-10T02:05:09.042 PM+0000", std::nullopt},
        {"", std::nullopt},
        // Beyond what the clock holds: the latest date it can, not a wrapped-around one.
        {"9999-12-31T23:59:59.999Z",
         unixMilliseconds(platform::clampedDate(std::chrono::milliseconds::max()))},
    };
    for (const auto& c : cases) {
        auto date = parseResultDate(c.text);
        ASSERT_EQ(date.has_value(), c.unixMs.has_value()) << c.text;
        if (date) {
            EXPECT_EQ(unixMilliseconds(*date), *c.unixMs) << c.text;
        }
    }
}

TEST(AuthenticateResponseMapping, UnknownTextsFallBackAndUnparsableExpiryIsNow) {
    auto now = std::chrono::system_clock::now();
    auto ready = mapAuthenticateResponse({"READY", "wallet", "2026-01-02T03:04:05.006+0000"}, now);
    EXPECT_EQ(ready.state, AuthenticationState::ready);
    EXPECT_EQ(ready.method, AuthenticationMethod::wallet);
    EXPECT_EQ(unixMilliseconds(ready.expirationDate), 1767323045006);

    auto odd = mapAuthenticateResponse({"ready", "WALLET", "2026-01-02T03:04:05+0000"}, now);
    EXPECT_EQ(odd.state, AuthenticationState::notFound);
    EXPECT_EQ(odd.method, AuthenticationMethod::eid);
    EXPECT_EQ(odd.expirationDate, now);
}

TEST(GetMeansMapping, UnknownMeansAreDropped) {
    auto result =
        mapGetMeansResponse({"S", {{"eid", false}, {"pin", false}, {"EID", false}, {"wallet", true}}});
    EXPECT_EQ(result.sessionId, "S");
    std::vector<AuthenticationMethodsResponse::Method> expected = {{AuthenticationMethod::eid, false},
                                                                   {AuthenticationMethod::wallet, true}};
    EXPECT_EQ(result.methods, expected);
}

TEST(AccountStatusMapping, ReasonCodes) {
    const std::pair<const char*, std::int64_t> cases[] = {{"-12", -12},
                                                          {"+7", 7},
                                                          {"007", 7},
                                                          {" 7", 0},
                                                          {"7a", 0},
                                                          {"-", 0},
                                                          {"+", 0},
                                                          {"", 0},
                                                          {"9223372036854775807", INT64_MAX},
                                                          {"9223372036854775808", 0},
                                                          {"-9223372036854775808", INT64_MIN},
                                                          {"1.5", 0},
                                                          {"0x10", 0}};
    for (const auto& [text, code] : cases)
        EXPECT_EQ(parseReasonCode(text), code) << text;
}

TEST(AccountStatusMapping, DefaultsAndReasonLanguage) {
    auto bare = mapAccountStatusResponse({"active", "L", "F", "R", std::nullopt, std::nullopt});
    EXPECT_EQ(bare.status, AccountStatus::deleted);
    EXPECT_TRUE(bare.canSign);
    EXPECT_EQ(bare.cannotSignReasonCode, 0);
    EXPECT_TRUE(bare.cannotSignReasonText.empty());
    {
        LanguagesOverride languages({"fr-BE"});
        EXPECT_EQ(bare.cannotSignReasonTextInCurrentLanguage(), std::nullopt);
    }

    GetAccountStatusResponse::CannotSignReason reason{"12", {"english", "francais", "nederlands", "deutsch"}};
    auto details = mapAccountStatusResponse({"ACTIVE", "L", "F", "R", false, reason});
    EXPECT_EQ(details.status, AccountStatus::active);
    EXPECT_FALSE(details.canSign);
    EXPECT_EQ(details.cannotSignReasonCode, 12);
    const std::pair<std::vector<std::string>, std::optional<std::string>> cases[] = {
        {{"fr-CH", "nl"}, "francais"}, {{"nl"}, "nederlands"}, {{"de_AT"}, "deutsch"},
        {{"it"}, "english"},           {{}, std::nullopt},     {{"1"}, std::nullopt}};
    for (const auto& [list, expected] : cases) {
        LanguagesOverride languages(list);
        EXPECT_EQ(details.cannotSignReasonTextInCurrentLanguage(), expected) << (list.empty() ? "" : list[0]);
    }
}

TEST(SigningInfoMapping, CertificatesThatDoNotDecodeAreLeftOut) {
    auto details = mapSigningInfoResponse({"ready", 5, "not*base64url", {"AQI", "%%", "AwQ="}});
    EXPECT_EQ(details.status, SigningStatus::missing);
    EXPECT_EQ(details.maxSignatures, 5);
    EXPECT_TRUE(details.signingCertificate.empty());
    ASSERT_EQ(details.certificateChain.size(), 2u);
    EXPECT_EQ(details.certificateChain[0], (platform::Bytes{1, 2}));
    EXPECT_EQ(details.certificateChain[1], (platform::Bytes{3, 4}));
}

TEST(PollMapping, StatusAndImage) {
    auto scan = mapPollResponse({"SCAN_PENDING", "iVBO-_w", 0, 1500});
    EXPECT_EQ(scan.status, WalletPollingStatus::scanPending);
    ASSERT_TRUE(scan.qrCodeImageData);
    EXPECT_EQ(*scan.qrCodeImageData, (platform::Bytes{0x89, 0x50, 0x4e, 0xfb, 0xfc}));
    EXPECT_EQ(scan.sessionSecondsLeft, 0);
    EXPECT_EQ(scan.millisecondsBeforeNextPolling, 1500);

    auto odd = mapPollResponse({"scan_pending", "not base64!", std::nullopt, std::nullopt});
    EXPECT_EQ(odd.status, WalletPollingStatus::unknown);
    EXPECT_FALSE(odd.qrCodeImageData);
    EXPECT_FALSE(odd.millisecondsBeforeNextPolling);
}

TEST(PollResponseDecoding, StrictNumbers) {
    auto decode = [](const char* text) {
        try {
            return std::optional(platform::json::decode<PollResponse>(platform::json::parse(text)));
        } catch (const platform::json::DecodingError&) {
            return std::optional<PollResponse>();
        }
    };
    EXPECT_TRUE(decode(R"({"type":"X","qrCode":null,"authTimeLeft":3,"retryAfter":null})"));
    EXPECT_FALSE(decode(R"({"type":"X","authTimeLeft":1.5})"));
    EXPECT_FALSE(decode(R"({"type":"X","retryAfter":9223372036854775808})"));
    EXPECT_FALSE(decode(R"({"qrCode":"abc"})"));
    EXPECT_FALSE(decode(R"({"type":7})"));
}

// What the debug log shows of each wire type that carries identity data, proofs, documents, images or session
// ids.
TEST(RedactedCopies, LogOnlyWhatIsHarmless) {
    GetAccountStatusResponse status{"ACTIVE", "Peeters", "Jan", "85073003328", std::nullopt, std::nullopt};
    GetAccountStatusResponse::CannotSignReason reason{"3", {"a", "b", "c", "d"}};
    GetAccountStatusResponse withReason{"DELETED", "Peeters", "Jan", "85073003328", false, reason};
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {redactedJSONString(AuthenticateRequest("S1", AuthenticateRequest::Wallet{"P1"})),
         R"({"sessionId":")" + sessionTag("S1") + R"(","eid":"Redacted"})"},
        {redactedJSONString(AuthenticateRequest("S1", AuthenticateRequest::EID{"CERT", "SIG"})),
         R"({"sessionId":")" + sessionTag("S1") + R"(","eid":"Redacted"})"},
        {redactedJSONString(ConsentAndSignHashesRequest("C1", ConsentAndSignHashesRequest::Wallet{"P2"})),
         R"({"consentSessionId":")" + sessionTag("C1") + R"(","eid":"Redacted"})"},
        {redactedJSONString(SignAgreementRequest("O1", SignAgreementRequest::EID{"CERT", "SIG"})),
         R"({"onboardingSessionId":")" + sessionTag("O1") + R"(","eid":"Redacted"})"},
        {redactedJSONString(FileResponse{std::string(100000, 'A')}), R"({"bytes":"Redacted"})"},
        {redactedJSONString(status),
         R"({"status":"ACTIVE","lastName":"Redacted","firstName":"Redacted","rrnr":"Redacted","canSign":null,"reason":null})"},
        {redactedJSONString(withReason),
         R"({"status":"DELETED","lastName":"Redacted","firstName":"Redacted","rrnr":"Redacted","canSign":false,"reason":{"code":"3","descriptions":{"en":"a","fr":"b","nl":"c","de":"d"}}})"},
        {redactedJSONString(ConsentAndSignHashesResponse{{"SIG1", "SIG2"}}), R"({"signatures":"Redacted"})"},
        {redactedJSONString(PollResponse{"SCAN_PENDING", "iVBOR", 10, 1000}),
         R"({"type":"SCAN_PENDING","qrCode":"Redacted","authTimeLeft":10,"retryAfter":1000})"},
        {redactedJSONString(GetSigningInfoResponse{"READY", 3, "CERT", {"CA"}}),
         R"({"status":"READY","maxSignatures":3,"signingCertificate":"Redacted","certificateChain":["CA"]})"},
    };
    for (const auto& [logged, expected] : cases)
        EXPECT_EQ(logged, std::optional<std::string>(expected));
}

TEST(RequestEncoding, OneProofOnlyAndDeclaredOrder) {
    const std::pair<Json, const char*> cases[] = {
        {Json(AuthenticateRequest("S", AuthenticateRequest::EID{"C", "G"})),
         R"({"sessionId":"S","eid":{"authenticationCertificate":"C","signature":"G"}})"},
        {Json(SignAgreementRequest("O", SignAgreementRequest::Wallet{"P"})),
         R"({"onboardingSessionId":"O","wallet":{"pollSessionId":"P"}})"},
        {Json(ConsentAndSignHashesRequest("C", ConsentAndSignHashesRequest::EID{"X", "Y"})),
         R"({"consentSessionId":"C","eid":{"authenticationCertificate":"X","signature":"Y"}})"},
        {Json(GetDataToConsentRequest{"D", "A", "2.16.840.1.101.3.4.2.1", {}}),
         R"({"clientData":"D","authSessionId":"A","hashAlgorithmOID":"2.16.840.1.101.3.4.2.1","hashesToSign":[]})"},
    };
    for (const auto& [json, expected] : cases)
        EXPECT_EQ(json.dump(), expected);
}

TEST(HalcyraErrorDescription, EachCase) {
    EXPECT_EQ(HalcyraError::otherError("abc").errorDescription(), "Unexpected error: abc.");
    EXPECT_EQ(HalcyraError::backendError(400, {}, "Le texte", std::nullopt).errorDescription(), "Le texte");
    auto raw = std::make_exception_ptr(vastel::VastelError::networkError(
        std::make_exception_ptr(vastel::TransportError(1, "Connection refused"))));
    auto error = HalcyraError::networkError(raw);
    EXPECT_EQ(error.errorDescription(), "Network error: Connection refused.");
    EXPECT_STREQ(error.what(), "Network error: Connection refused.");
}

TEST(LanguageCode, OfIdentifiers) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"fr-CH", "fr"},      {"nl", "nl"},       {"zh_Hans_CN", "zh"}, {"DE-de", "de"},
        {"gsw-CH", "gsw"},    {"", std::nullopt}, {"x", std::nullopt},  {"12-AB", std::nullopt},
        {"-fr", std::nullopt}};
    for (const auto& [identifier, code] : cases)
        EXPECT_EQ(languageCode(identifier), code) << identifier;
}
