#pragma once
// What the token module needs of a certificate's EC key: its PKCS#11 attributes, the digest that ECDSA signs
// for a CKM_ECDSA input, and the check of a signature from the app. The app answers with X9.62 DER (SEQUENCE
// of r and s), while CKM_ECDSA returns r and s as two big-endian numbers of the field size, side by side.
//
// Keys on P-256 and P-384 can sign. Their orders are as long as their fields and a whole number of bytes, so
// a digest of the field's size (SHA-256 or SHA-384 long, as the app expects) carries the number that ECDSA
// signs for an input of any length.
#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/Bytes.h"

namespace pellin {

// Key sizes in bits of the curves that can sign.
inline constexpr unsigned long smallestKeyBits = 256;
inline constexpr unsigned long largestKeyBits = 384;

struct ECKeyInfo {
    platform::Bytes ecParameters;  // DER of the named curve's OID (CKA_EC_PARAMS)
    platform::Bytes ecPoint;       // DER OCTET STRING of the uncompressed point (CKA_EC_POINT)
    std::size_t fieldSize = 0;     // bytes of r, of s and of the digest
    std::shared_ptr<EVP_PKEY> publicKey;
    int curve = 0;  // OpenSSL's NID of the curve

    std::size_t signatureSize() const { return 2 * fieldSize; }
    // The digest that ECDSA with this key signs for a CKM_ECDSA input: shorter input left-padded with zeros,
    // longer input cut to the order's length. The number that ECDSA signs stays that of the input.
    platform::Bytes digestFor(const std::uint8_t* input, std::size_t length) const;
    // r‖s of a signature (strict DER with nothing after it, or r‖s of 2 × fieldSize bytes) whose r and s lie
    // in [1, n − 1] and that verifies over the digest with the public key; nothing otherwise.
    std::optional<platform::Bytes> verifiedSignature(const platform::Bytes& signature,
                                                     const platform::Bytes& digest) const;
};

struct CertificateFields {
    platform::Bytes subject;         // DER Name
    platform::Bytes issuer;          // DER Name
    platform::Bytes serialNumber;    // DER INTEGER
    std::optional<ECKeyInfo> ecKey;  // none when the key cannot sign here
    std::string keyProblem;          // why there is none
};

// Nothing when the bytes are not one DER certificate.
std::optional<CertificateFields> certificateFields(const platform::Bytes& der);

}  // namespace pellin
