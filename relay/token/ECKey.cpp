#include "relay/token/ECKey.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <memory>

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

std::optional<ECKeyInfo> ecKeyOf(EVP_PKEY* key) {
    if (!key || EVP_PKEY_get_base_id(key) != EVP_PKEY_EC)
        return std::nullopt;
    char groupName[80];
    std::size_t nameLength = 0;
    if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, groupName, sizeof groupName,
                                       &nameLength) != 1)
        return std::nullopt;
    int nid = OBJ_sn2nid(groupName);
    if (nid == NID_undef)
        nid = EC_curve_nist2nid(groupName);
    if (nid == NID_undef)
        return std::nullopt;
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
    return info;
}

}  // namespace

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
    fields.ecKey = ecKeyOf(X509_get0_pubkey(x509));
    return fields;
}

std::optional<platform::Bytes> rawSignature(const platform::Bytes& signature, std::size_t fieldSize) {
    if (fieldSize == 0 || signature.empty())
        return std::nullopt;
    const unsigned char* p = signature.data();
    std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> parsed(
        d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(signature.size())), ECDSA_SIG_free);
    if (parsed && p == signature.data() + signature.size()) {
        const BIGNUM* r = ECDSA_SIG_get0_r(parsed.get());
        const BIGNUM* s = ECDSA_SIG_get0_s(parsed.get());
        if (BN_is_zero(r) || BN_is_zero(s) || BN_is_negative(r) || BN_is_negative(s) ||
            static_cast<std::size_t>(BN_num_bytes(r)) > fieldSize ||
            static_cast<std::size_t>(BN_num_bytes(s)) > fieldSize)
            return std::nullopt;
        platform::Bytes out(2 * fieldSize);
        BN_bn2binpad(r, out.data(), static_cast<int>(fieldSize));
        BN_bn2binpad(s, out.data() + fieldSize, static_cast<int>(fieldSize));
        return out;
    }
    if (signature.size() == 2 * fieldSize)
        return signature;
    return std::nullopt;
}

}  // namespace pellin
