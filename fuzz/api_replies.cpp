// The server's replies (api/). The first byte picks the reply type, the rest is the body, decoded as the
// request pipeline decodes it (parse, then the type's strict decoder; nothing but a DecodingError may come
// out). A decoded reply has its log copy, is written and read back to the same text, and maps to its result.
// The body's text is also read as a result date (which then reads back from its UTC writing) and as a reason
// code (against a reading of its own).
#include <chrono>
#include <cstdio>
#include <string>

#include "api/Account.h"
#include "api/Authentication.h"
#include "api/Consent.h"
#include "api/ErrorResponse.h"
#include "api/Onboarding.h"
#include "api/ResultDate.h"
#include "api/Wallet.h"
#include "fuzz/FuzzCheck.h"
#include "outside/Common/Common.h"

namespace json = platform::json;
using namespace halcyra;

namespace {

const platform::Date now = platform::Date(std::chrono::milliseconds(1'700'000'000'000));

template <class T>
std::optional<T> decoded(std::string_view body) {
    try {
        return json::decode<T>(json::parse(body));
    } catch (const json::DecodingError&) {
        return std::nullopt;
    }
}

template <class T>
std::optional<T> checkReply(std::string_view body) {
    auto reply = decoded<T>(body);
    if (!reply)
        return std::nullopt;
    FUZZ_CHECK(redactedJSONString(*reply).has_value(), "a decoded reply has its log copy");
    json::Json out;
    to_json(out, *reply);
    const auto text = json::dump(out);
    FUZZ_CHECK(text.has_value(), "a decoded reply can be written");
    auto again = decoded<T>(*text);
    FUZZ_CHECK(again.has_value(), "a written reply decodes");
    json::Json outAgain;
    to_json(outAgain, *again);
    FUZZ_CHECK(json::dump(outAgain) == text, "a written reply reads back alike");
    return reply;
}

// "[+-]?digits" within the signed 64-bit range; 0 otherwise.
std::int64_t referenceReasonCode(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return 0;
    __int128 value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return 0;
        value = std::min<__int128>(value * 10 + (c - '0'), __int128(1) << 64);
    }
    value = negative ? -value : value;
    if (value < INT64_MIN || value > INT64_MAX)
        return 0;
    return static_cast<std::int64_t>(value);
}

void checkResultDate(std::string_view text) {
    auto date = parseResultDate(text);
    const auto latest = platform::clampedDate(std::chrono::milliseconds::max());
    const auto earliest = platform::clampedDate(std::chrono::milliseconds::min());
    if (!date || *date == latest || *date == earliest)
        return;
    using namespace std::chrono;
    const auto day = floor<days>(*date);
    const year_month_day ymd(day);
    const hh_mm_ss time(floor<milliseconds>(*date - day));
    char utc[32];
    std::snprintf(utc, sizeof utc, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(ymd.year()),
                  unsigned(ymd.month()), unsigned(ymd.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()), int(time.subseconds().count()));
    FUZZ_CHECK(parseResultDate(utc) == date, "a result date reads back from its UTC writing");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const auto body = fuzz::text(data + 1, size - 1);
    checkResultDate(body);
    FUZZ_CHECK(parseReasonCode(body) == referenceReasonCode(body), "a reason code");

    switch (data[0] % 11) {
        case 0:
            if (auto reply = checkReply<GetMeansResponse>(body)) {
                const auto result = mapGetMeansResponse(*reply);
                FUZZ_CHECK(result.methods.size() <= reply->means.size(), "unknown means are left out");
            }
            break;
        case 1:
            checkReply<AuthenticationMethodDataResponse>(body);
            break;
        case 2:
            if (auto reply = checkReply<AuthenticateResponse>(body)) {
                const auto result = mapAuthenticateResponse(*reply, now);
                FUZZ_CHECK(result.expirationDate == parseResultDate(reply->expirationTime).value_or(now),
                           "the expiry is the reply's date, or now");
                checkResultDate(reply->expirationTime);
            }
            break;
        case 3:
            checkReply<GetDataToConsentResponse>(body);
            break;
        case 4:
            checkReply<ConsentAndSignHashesResponse>(body);
            break;
        case 5:
            checkReply<FileResponse>(body);
            break;
        case 6:
            checkReply<OnboardingData>(body);
            break;
        case 7:
            if (auto reply = checkReply<GetAccountStatusResponse>(body)) {
                const auto details = mapAccountStatusResponse(*reply);
                FUZZ_CHECK(details.cannotSignReasonCode ==
                               referenceReasonCode(reply->reason ? reply->reason->code : "0"),
                           "the reason's code");
                details.cannotSignReasonTextInCurrentLanguage();
            }
            break;
        case 8:
            if (auto reply = checkReply<GetSigningInfoResponse>(body)) {
                const auto details = mapSigningInfoResponse(*reply);
                FUZZ_CHECK(details.certificateChain.size() <= reply->certificateChain.size(),
                           "certificates that do not decode are left out");
            }
            break;
        case 9:
            if (auto reply = checkReply<PollResponse>(body)) {
                const auto result = mapPollResponse(*reply);
                FUZZ_CHECK(result.sessionSecondsLeft == reply->authTimeLeft &&
                               result.millisecondsBeforeNextPolling == reply->retryAfter,
                           "the poll's times");
            }
            break;
        case 10:
            if (auto reply = checkReply<ErrorResponse>(body))
                reply->textForPreferredLanguage();
            break;
    }
    return 0;
}
