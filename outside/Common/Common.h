#pragma once
// Common helpers: unique texts, redacted JSON for log lines, Base64url and Crockford Base32, and the fields
// of a certificate.
#include <optional>
#include <string>
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

// --- Redacted JSON

// A type that stands in for itself in log output with another encodable value, `redacted()`.
template <class T>
concept RedactedEncodableProviding = requires(const T& value) {
    { value.redacted() };
};

// The JSON text of a value (its redacted stand-in when it has one), or nothing when it cannot be rendered.
template <class T>
std::optional<std::string> redactedJSONString(const T& value) {
    try {
        platform::json::Json json;
        if constexpr (RedactedEncodableProviding<T>)
            json = value.redacted();
        else
            json = value;
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
inline const platform::Bytes& data(const platform::Certificate& certificate) { return certificate.data(); }
