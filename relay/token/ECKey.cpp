#include "relay/token/ECKey.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <algorithm>

#include "platform/Certificate.h"

namespace pellin {

namespace {

template <class T, class F>
platform::Bytes derOf(T* object, F encode) {
    int length = encode(object, nullptr);
    if (length <= 0)
        return {};
    platform::Bytes out(static_cast<std::size_t>(length));
    unsigned char* p = out.data();
    encode(object, &p);
    return out;
}

// The curves that can sign, by the name OpenSSL gives their keys.
int supportedCurve(const std::string& groupName) {
    int nid = OBJ_sn2nid(groupName.c_str());
    if (nid == NID_undef)
        nid = EC_curve_nist2nid(groupName.c_str());
    return nid == NID_X9_62_prime256v1 || nid == NID_secp384r1 ? nid : NID_undef;
}

std::optional<ECKeyInfo> ecKeyOf(EVP_PKEY* key, std::string& problem) {
    if (!key || EVP_PKEY_get_base_id(key) != EVP_PKEY_EC) {
        problem = "the certificate's key is not an EC key";
        return std::nullopt;
    }
    char groupName[80];
    std::size_t nameLength = 0;
    if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, groupName, sizeof groupName,
                                       &nameLength) != 1) {
        problem = "the certificate's key is not on a named curve";
        return std::nullopt;
    }
    int nid = supportedCurve(groupName);
    if (nid == NID_undef) {
        problem = std::string("the certificate's key is on the curve ") + groupName +
                  ", which the token does not support";
        return std::nullopt;
    }
    problem = "the certificate's key cannot be read";
    std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> oid(OBJ_nid2obj(nid), ASN1_OBJECT_free);
    ECKeyInfo info;
    info.ecParameters =
        derOf(oid.get(), [](ASN1_OBJECT* o, unsigned char** p) { return i2d_ASN1_OBJECT(o, p); });
    unsigned char point[256];
    std::size_t pointLength = 0;
    if (EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &pointLength) !=
            1 ||
        pointLength == 0 || pointLength > 255 - 3)
        return std::nullopt;
    std::unique_ptr<ASN1_OCTET_STRING, decltype(&ASN1_OCTET_STRING_free)> octets(ASN1_OCTET_STRING_new(),
                                                                                 ASN1_OCTET_STRING_free);
    ASN1_OCTET_STRING_set(octets.get(), point, static_cast<int>(pointLength));
    info.ecPoint = derOf(octets.get(),
                         [](ASN1_OCTET_STRING* o, unsigned char** p) { return i2d_ASN1_OCTET_STRING(o, p); });
    int bits = EVP_PKEY_get_bits(key);
    if (bits <= 0 || info.ecParameters.empty() || info.ecPoint.empty())
        return std::nullopt;
    info.fieldSize = static_cast<std::size_t>((bits + 7) / 8);
    info.curve = nid;
    EVP_PKEY_up_ref(key);
    info.publicKey = std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
    problem.clear();
    return info;
}

using Signature = std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)>;

// r and s from strict DER, or from r‖s of 2 × fieldSize bytes.
Signature parsed(const platform::Bytes& signature, std::size_t fieldSize) {
    const unsigned char* p = signature.data();
    Signature der(d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(signature.size())), ECDSA_SIG_free);
    if (der && p == signature.data() + signature.size())
        return der;
    if (signature.size() != 2 * fieldSize)
        return Signature(nullptr, ECDSA_SIG_free);
    Signature raw(ECDSA_SIG_new(), ECDSA_SIG_free);
    BIGNUM* r = BN_bin2bn(signature.data(), static_cast<int>(fieldSize), nullptr);
    BIGNUM* s = BN_bin2bn(signature.data() + fieldSize, static_cast<int>(fieldSize), nullptr);
    if (!raw || !r || !s || ECDSA_SIG_set0(raw.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return Signature(nullptr, ECDSA_SIG_free);
    }
    return raw;
}

// 1 ≤ value ≤ n − 1.
bool inRange(const BIGNUM* value, const BIGNUM* order) {
    return !BN_is_negative(value) && !BN_is_zero(value) && BN_cmp(value, order) < 0;
}

}  // namespace

platform::Bytes ECKeyInfo::digestFor(const std::uint8_t* input, std::size_t length) const {
    platform::Bytes digest(fieldSize, 0);
    std::size_t taken = std::min(length, fieldSize);
    std::copy(input, input + taken, digest.end() - static_cast<std::ptrdiff_t>(taken));
    return digest;
}

std::optional<platform::Bytes> ECKeyInfo::verifiedSignature(const platform::Bytes& signature,
                                                            const platform::Bytes& digest) const {
    if (!publicKey || fieldSize == 0 || signature.empty())
        return std::nullopt;
    Signature sig = parsed(signature, fieldSize);
    if (!sig)
        return std::nullopt;
    std::unique_ptr<EC_GROUP, decltype(&EC_GROUP_free)> group(EC_GROUP_new_by_curve_name(curve),
                                                              EC_GROUP_free);
    if (!group)
        return std::nullopt;
    const BIGNUM* order = EC_GROUP_get0_order(group.get());
    const BIGNUM* r = ECDSA_SIG_get0_r(sig.get());
    const BIGNUM* s = ECDSA_SIG_get0_s(sig.get());
    if (!inRange(r, order) || !inRange(s, order))
        return std::nullopt;

    platform::Bytes der =
        derOf(sig.get(), [](ECDSA_SIG* e, unsigned char** p) { return i2d_ECDSA_SIG(e, p); });
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
        EVP_PKEY_CTX_new(publicKey.get(), nullptr), EVP_PKEY_CTX_free);
    if (!context || EVP_PKEY_verify_init(context.get()) != 1 ||
        EVP_PKEY_verify(context.get(), der.data(), der.size(), digest.data(), digest.size()) != 1)
        return std::nullopt;

    platform::Bytes raw(2 * fieldSize);
    BN_bn2binpad(r, raw.data(), static_cast<int>(fieldSize));
    BN_bn2binpad(s, raw.data() + fieldSize, static_cast<int>(fieldSize));
    return raw;
}

std::optional<CertificateFields> certificateFields(const platform::Bytes& der) {
    auto certificate = platform::Certificate::fromDER(der);
    if (!certificate)
        return std::nullopt;
    X509* x509 = certificate->x509();
    CertificateFields fields;
    fields.subject = derOf(X509_get_subject_name(x509),
                           [](X509_NAME* n, unsigned char** p) { return i2d_X509_NAME(n, p); });
    fields.issuer = derOf(X509_get_issuer_name(x509),
                          [](X509_NAME* n, unsigned char** p) { return i2d_X509_NAME(n, p); });
    fields.serialNumber = derOf(const_cast<ASN1_INTEGER*>(X509_get0_serialNumber(x509)),
                                [](ASN1_INTEGER* i, unsigned char** p) { return i2d_ASN1_INTEGER(i, p); });
    fields.ecKey = ecKeyOf(X509_get0_pubkey(x509), fields.keyProblem);
    return fields;
}

}  // namespace pellin
