#include "ApiTestSupport.h"

#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace apitest {

namespace {

std::unique_ptr<X509, decltype(&X509_free)> parse(const platform::Bytes& der) {
    const unsigned char* p = der.data();
    return {d2i_X509(nullptr, &p, static_cast<long>(der.size())), X509_free};
}

}  // namespace

platform::Bytes cardSignature(const testsupport::Issued& card, const platform::Bytes& digest,
                              SignatureForm form) {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(card.key.get(), nullptr),
                                                                    EVP_PKEY_CTX_free);
    EVP_PKEY_sign_init(ctx.get());
    if (EVP_PKEY_is_a(card.key.get(), "RSA")) {
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING);
        EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256());
    }
    std::size_t size = 0;
    EVP_PKEY_sign(ctx.get(), nullptr, &size, digest.data(), digest.size());
    platform::Bytes signature(size);
    EVP_PKEY_sign(ctx.get(), signature.data(), &size, digest.data(), digest.size());
    signature.resize(size);
    if (form == SignatureForm::raw && EVP_PKEY_is_a(card.key.get(), "EC")) {
        const unsigned char* p = signature.data();
        ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(signature.size()));
        platform::Bytes raw(64);
        BN_bn2binpad(ECDSA_SIG_get0_r(sig), raw.data(), 32);
        BN_bn2binpad(ECDSA_SIG_get0_s(sig), raw.data() + 32, 32);
        ECDSA_SIG_free(sig);
        return raw;
    }
    return signature;
}

bool verifiesWith(const platform::Bytes& certificateDER, const platform::Bytes& digest,
                  const platform::Bytes& signature) {
    auto certificate = parse(certificateDER);
    if (!certificate)
        return false;
    EVP_PKEY* key = X509_get0_pubkey(certificate.get());
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key, nullptr),
                                                                    EVP_PKEY_CTX_free);
    return EVP_PKEY_verify_init(ctx.get()) == 1 &&
           EVP_PKEY_verify(ctx.get(), signature.data(), signature.size(), digest.data(), digest.size()) == 1;
}

bool issuedBy(const platform::Bytes& certificateDER, const platform::Bytes& issuerDER) {
    auto certificate = parse(certificateDER);
    auto issuer = parse(issuerDER);
    return certificate && issuer && X509_verify(certificate.get(), X509_get0_pubkey(issuer.get())) == 1 &&
           X509_check_issued(issuer.get(), certificate.get()) == X509_V_OK;
}

std::optional<std::string> subjectAttribute(const platform::Bytes& certificateDER, int nid) {
    auto certificate = parse(certificateDER);
    if (!certificate)
        return std::nullopt;
    X509_NAME* name = X509_get_subject_name(certificate.get());
    int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0)
        return std::nullopt;
    unsigned char* utf8 = nullptr;
    int size = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
    if (size < 0)
        return std::nullopt;
    std::string out(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(size));
    OPENSSL_free(utf8);
    return out;
}

std::vector<std::string> keys(const platform::json::Json& object) {
    std::vector<std::string> out;
    if (object.is_object())
        for (const auto& item : object.items())
            out.push_back(item.key());
    return out;
}

}  // namespace apitest
