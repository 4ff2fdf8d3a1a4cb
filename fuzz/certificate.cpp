// Certificate DER (platform/Certificate) and what is read from it: the fields shown to the user
// (outside/Common, SigningCertificateInfo) and those the token module hands to other applications
// (relay/token/ECKey).
//
// The input is tried whole as DER and as PEM. When it is a certificate followed by more bytes, the rest is a
// signature check against the certificate's key: one byte n, n bytes of token input, then the signature.
#include <openssl/err.h>
#include <openssl/x509.h>

#include <chrono>

#include "Quorvane/core/SigningCertificateInfo.h"
#include "fuzz/FuzzCheck.h"
#include "outside/Common/Common.h"
#include "platform/Certificate.h"
#include "relay/token/ECKey.h"

namespace {

const platform::Date now = platform::Date(std::chrono::milliseconds(1'700'000'000'000));

void checkCertificate(const platform::Certificate& certificate) {
    FUZZ_CHECK(uniqueId(certificate).value_or("").size() == 64, "a certificate has its unique id");
    auto info = SigningCertificateInfo::make("token", certificate.data(), now);
    FUZZ_CHECK(info.has_value(), "the app reads what the platform reads");
    FUZZ_CHECK(info->nationalNumber == subjectSerialNumber(certificate).value_or(""), "the national number");
    FUZZ_CHECK(info->notValidBefore == notValidBefore(certificate).value_or(now), "the start of validity");
    FUZZ_CHECK(info->notValidAfter == notValidAfter(certificate).value_or(now), "the end of validity");
    FUZZ_CHECK(pellin::certificateFields(certificate.data()).has_value(), "the token reads it too");
    // Encoded afresh, it is still one certificate.
    const auto again = platform::Certificate::fromX509(certificate.x509());
    const auto reread = platform::Certificate::fromDER(again.data());
    FUZZ_CHECK(reread && *reread == again, "a certificate's own encoding reads back");
}

void checkSignature(const platform::Bytes& der, const std::uint8_t* rest, std::size_t size) {
    auto fields = pellin::certificateFields(der);
    FUZZ_CHECK(fields.has_value(), "a certificate's fields");
    if (!fields->ecKey || size == 0)
        return;
    const auto& key = *fields->ecKey;
    const std::size_t inputSize = std::min<std::size_t>(rest[0], size - 1);
    const auto digest = key.digestFor(rest + 1, inputSize);
    FUZZ_CHECK(digest.size() == key.fieldSize, "a digest of the field's size");
    const platform::Bytes signature(rest + 1 + inputSize, rest + size);
    if (auto raw = key.verifiedSignature(signature, digest)) {
        FUZZ_CHECK(raw->size() == key.signatureSize(), "r and s of the field's size");
        FUZZ_CHECK(key.verifiedSignature(*raw, digest) == raw, "r and s verify as they are");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const platform::Bytes bytes(data, data + size);
    if (auto certificate = platform::Certificate::fromDER(bytes)) {
        FUZZ_CHECK(certificate->data() == bytes, "a certificate keeps its bytes");
        checkCertificate(*certificate);
    }
    if (auto certificate = platform::Certificate::fromPEM(fuzz::text(data, size))) {
        FUZZ_CHECK(platform::Certificate::fromDER(certificate->data()).has_value(), "PEM gives DER");
        checkCertificate(*certificate);
    }

    const unsigned char* end = data;
    if (X509* prefix = d2i_X509(nullptr, &end, static_cast<long>(size))) {
        X509_free(prefix);
        const platform::Bytes der(data, end);
        auto certificate = platform::Certificate::fromDER(der);
        FUZZ_CHECK(certificate.has_value(), "the certificate before the rest");
        checkSignature(der, end, size - der.size());
    }
    ERR_clear_error();
    return 0;
}
