#pragma once
// Common helpers: unique texts, session tags and redacted JSON for log lines, Base64url and Crockford Base32,
// and the fields of a certificate.
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/Certificate.h"
#include "platform/Codecs.h"
#include "platform/Date.h"
#include "platform/Json.h"

// --- Unique texts

class UUIDProviding {
  public:
    virtual ~UUIDProviding() = default;
    // A new unique text on every call.
    virtual std::string newUUIDString() = 0;
};

// Random (version 4) UUIDs in their standard upper-case form, "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
class UUIDProvider : public UUIDProviding {
  public:
    std::string newUUIDString() override;
};

// --- Session ids in log lines

// A session id alone authorises account calls, so a log line names one by a short tag instead: the first 8
// lower-case hex digits of its SHA-256, enough to follow one session through a log and useless to a thief.
std::string sessionTag(std::string_view sessionId);

// --- Redacted JSON

// A type that stands in for itself in log output with another encodable value, `redacted()`.
template <class T>
concept RedactedEncodableProviding = requires(const T& value) {
    {value.redacted()};
};

// Replaces, at any depth, the text of every member named "sessionId" or "…SessionId" with its tag.
void tagSessionIds(platform::json::Json& json);

// The JSON text of a value (its redacted stand-in when it has one) for a log line, session ids as their tags,
// or nothing when it cannot be rendered.
template <class T>
std::optional<std::string> redactedJSONString(const T& value) {
    try {
        platform::json::Json json;
        if constexpr (RedactedEncodableProviding<T>)
            json = value.redacted();
        else
            json = value;
        tagSessionIds(json);
        return platform::json::dump(json);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// --- Codecs

using platform::base64URLDecoded;
using platform::crockfordBase32Decoded;
using platform::crockfordBase32Encoded;

// --- Certificate fields

// A stable identifier of the certificate: the upper-case hexadecimal SHA-256 of its DER bytes.
std::optional<std::string> uniqueId(const platform::Certificate& certificate);
// The subject's givenName, surname and serialNumber attributes (not the certificate's serial number).
std::optional<std::string> subjectFirstName(const platform::Certificate& certificate);
std::optional<std::string> subjectSurname(const platform::Certificate& certificate);
std::optional<std::string> subjectSerialNumber(const platform::Certificate& certificate);
std::optional<platform::Date> notValidBefore(const platform::Certificate& certificate);
std::optional<platform::Date> notValidAfter(const platform::Certificate& certificate);
inline const platform::Bytes& data(const platform::Certificate& certificate) {
    return certificate.data();
}
