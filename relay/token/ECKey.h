#pragma once
// What the token module needs of a certificate's EC key, and the two encodings of an ECDSA signature: the app
// answers with X9.62 DER (SEQUENCE of r and s), while PKCS#11's CKM_ECDSA returns r and s as two big-endian
// numbers of the field size, side by side.
#include <cstddef>
#include <optional>

#include "platform/Bytes.h"

namespace pellin {

struct ECKeyInfo {
    platform::Bytes ecParameters;  // DER of the named curve's OID (CKA_EC_PARAMS)
    platform::Bytes ecPoint;       // DER OCTET STRING of the uncompressed point (CKA_EC_POINT)
    std::size_t fieldSize = 0;     // bytes of r or s
    std::size_t signatureSize() const { return 2 * fieldSize; }
};

struct CertificateFields {
    platform::Bytes subject;         // DER Name
    platform::Bytes issuer;          // DER Name
    platform::Bytes serialNumber;    // DER INTEGER
    std::optional<ECKeyInfo> ecKey;  // none for a key that is not on a named curve
};

// Nothing when the bytes are not one DER certificate.
std::optional<CertificateFields> certificateFields(const platform::Bytes& der);

// r‖s of 2 × fieldSize bytes from a DER signature (strict: one SEQUENCE and nothing after it; r and s
// positive and no longer than the field), or from a signature that already is r‖s of that size. Nothing
// otherwise.
std::optional<platform::Bytes> rawSignature(const platform::Bytes& signature, std::size_t fieldSize);

}  // namespace pellin
