#include "Common.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <sys/random.h>

#include <cstdio>
#include <ctime>
#include <random>

#include "platform/SHA256.h"

std::string UUIDProvider::newUUIDString() {
    // The kernel's generator rather than OpenSSL's: the app makes an identifier at start, and waking OpenSSL
    // for it (its configuration, providers and generator) costs the idle app megabytes.
    unsigned char bytes[16];
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        std::random_device device;
        for (auto& byte : bytes)
            byte = static_cast<unsigned char>(device());
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);  // version 4
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
    char text[37];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

namespace {

// The first `count` bytes as hex digits of the given alphabet.
std::string hex(const platform::Bytes& bytes, std::size_t count, const char (&digits)[17]) {
    std::string out;
    for (std::size_t i = 0; i < count && i < bytes.size(); ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}

bool namesSessionId(std::string_view key) {
    return key == "sessionId" || key.ends_with("SessionId");
}

std::optional<std::string> subjectAttribute(const platform::Certificate& certificate, int nid) {
    X509* x509 = certificate.x509();
    if (!x509)
        return std::nullopt;
    const X509_NAME* subject = X509_get_subject_name(x509);
    int index = X509_NAME_get_index_by_NID(subject, nid, -1);
    if (index < 0)
        return std::nullopt;
    const ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index));
    if (!value)
        return std::nullopt;
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, value);
    if (length < 0) {
        ERR_clear_error();
        return std::nullopt;
    }
    std::string out(reinterpret_cast<const char*>(utf8), static_cast<size_t>(length));
    OPENSSL_free(utf8);
    return out;
}

std::optional<platform::Date> toDate(const ASN1_TIME* time) {
    std::tm tm{};
    if (!time || ASN1_TIME_to_tm(time, &tm) != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    return platform::clampedDate(std::chrono::seconds(timegm(&tm)));
}

}  // namespace

std::string sessionTag(std::string_view sessionId) {
    return hex(platform::sha256(platform::toBytes(sessionId)), 4, "0123456789abcdef");
}

void tagSessionIds(platform::json::Json& json) {
    if (json.is_object()) {
        for (auto& [key, value] : json.items()) {
            if (namesSessionId(key) && value.is_string())
                value = sessionTag(value.get_ref<const std::string&>());
            else
                tagSessionIds(value);
        }
    } else if (json.is_array()) {
        for (auto& element : json)
            tagSessionIds(element);
    }
}

std::optional<std::string> uniqueId(const platform::Certificate& certificate) {
    if (certificate.data().empty())
        return std::nullopt;
    const auto digest = platform::sha256(certificate.data());
    return hex(digest, digest.size(), "0123456789ABCDEF");
}

std::optional<std::string> subjectFirstName(const platform::Certificate& certificate) {
    return subjectAttribute(certificate, NID_givenName);
}

std::optional<std::string> subjectSurname(const platform::Certificate& certificate) {
    return subjectAttribute(certificate, NID_surname);
}

std::optional<std::string> subjectSerialNumber(const platform::Certificate& certificate) {
    return subjectAttribute(certificate, NID_serialNumber);
}

std::optional<platform::Date> notValidBefore(const platform::Certificate& certificate) {
    if (!certificate.x509())
        return std::nullopt;
    return toDate(X509_get0_notBefore(certificate.x509()));
}

std::optional<platform::Date> notValidAfter(const platform::Certificate& certificate) {
    if (!certificate.x509())
        return std::nullopt;
    return toDate(X509_get0_notAfter(certificate.x509()));
}
