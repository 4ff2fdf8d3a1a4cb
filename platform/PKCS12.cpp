#include "PKCS12.h"

#include <openssl/err.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>
#include <openssl/x509.h>

#include <climits>

namespace platform {

namespace {

// Containers exported by older tools encrypt their certificates with RC2, which OpenSSL 3 keeps in its legacy
// provider. Decryption runs in a library context of its own that has it, so the process's default context
// (and with it every TLS connection) never offers the legacy algorithms.
OSSL_LIB_CTX* decryptionContext() {
    static OSSL_LIB_CTX* context = [] {
        OSSL_LIB_CTX* ctx = OSSL_LIB_CTX_new();
        if (!ctx)
            return static_cast<OSSL_LIB_CTX*>(nullptr);
        OSSL_PROVIDER_load(ctx, "default");
        OSSL_PROVIDER_load(ctx, "legacy");  // optional: without it, modern containers still import
        ERR_clear_error();
        return ctx;
    }();
    return context;
}

struct Bag {
    std::shared_ptr<X509> certificate;
    std::shared_ptr<EVP_PKEY> key;
    std::optional<std::string> label;
    std::optional<Bytes> keyID;
};

struct Password {
    const char* text;
    int length;
};

std::optional<std::string> friendlyName(const PKCS12_SAFEBAG* bag) {
    char* name = PKCS12_get_friendlyname(const_cast<PKCS12_SAFEBAG*>(bag));
    if (!name)
        return std::nullopt;
    std::string out(name);
    OPENSSL_free(name);
    return out;
}

std::optional<Bytes> localKeyID(const PKCS12_SAFEBAG* bag) {
    const ASN1_TYPE* attribute = PKCS12_SAFEBAG_get0_attr(bag, NID_localKeyID);
    if (!attribute || attribute->type != V_ASN1_OCTET_STRING || !attribute->value.octet_string)
        return std::nullopt;
    const ASN1_OCTET_STRING* id = attribute->value.octet_string;
    const unsigned char* bytes = ASN1_STRING_get0_data(id);
    return Bytes(bytes, bytes + ASN1_STRING_length(id));
}

bool collect(const STACK_OF(PKCS12_SAFEBAG) * bags, const Password& password, int depth,
             std::vector<Bag>& out) {
    if (depth > 8)
        return false;
    for (int i = 0; i < sk_PKCS12_SAFEBAG_num(bags); ++i) {
        const PKCS12_SAFEBAG* bag = sk_PKCS12_SAFEBAG_value(bags, i);
        Bag item;
        switch (PKCS12_SAFEBAG_get_nid(bag)) {
            case NID_keyBag: {
                const PKCS8_PRIV_KEY_INFO* info = PKCS12_SAFEBAG_get0_p8inf(bag);
                EVP_PKEY* key = info ? EVP_PKCS82PKEY(info) : nullptr;
                if (!key)
                    return false;
                item.key.reset(key, EVP_PKEY_free);
                break;
            }
            case NID_pkcs8ShroudedKeyBag: {
                PKCS8_PRIV_KEY_INFO* info =
                    PKCS12_decrypt_skey_ex(bag, password.text, password.length, decryptionContext(), nullptr);
                if (!info)
                    return false;
                EVP_PKEY* key = EVP_PKCS82PKEY(info);
                PKCS8_PRIV_KEY_INFO_free(info);
                if (!key)
                    return false;
                item.key.reset(key, EVP_PKEY_free);
                break;
            }
            case NID_certBag: {
                if (PKCS12_SAFEBAG_get_bag_nid(bag) != NID_x509Certificate)
                    continue;
                X509* certificate = PKCS12_SAFEBAG_get1_cert(bag);
                if (!certificate)
                    return false;
                item.certificate.reset(certificate, X509_free);
                break;
            }
            case NID_safeContentsBag:
                if (!collect(PKCS12_SAFEBAG_get0_safes(bag), password, depth + 1, out))
                    return false;
                continue;
            default:
                continue;  // CRLs, secrets: nothing an identity needs
        }
        item.label = friendlyName(bag);
        item.keyID = localKeyID(bag);
        out.push_back(std::move(item));
    }
    return true;
}

bool collect(::PKCS12* p12, const Password& password, std::vector<Bag>& out) {
    STACK_OF(PKCS7)* authsafes = PKCS12_unpack_authsafes(p12);
    if (!authsafes)
        return false;
    bool ok = true;
    for (int i = 0; ok && i < sk_PKCS7_num(authsafes); ++i) {
        PKCS7* p7 = sk_PKCS7_value(authsafes, i);
        STACK_OF(PKCS12_SAFEBAG)* bags = nullptr;
        switch (OBJ_obj2nid(p7->type)) {
            case NID_pkcs7_data:
                bags = PKCS12_unpack_p7data(p7);
                break;
            case NID_pkcs7_encrypted: {
                const PKCS7_ENC_CONTENT* content = p7->d.encrypted ? p7->d.encrypted->enc_data : nullptr;
                if (content && content->algorithm && content->enc_data)
                    bags = static_cast<STACK_OF(PKCS12_SAFEBAG)*>(PKCS12_item_decrypt_d2i_ex(
                        content->algorithm, ASN1_ITEM_rptr(PKCS12_SAFEBAGS), password.text, password.length,
                        content->enc_data, 1, decryptionContext(), nullptr));
                break;
            }
            default:
                continue;
        }
        ok = bags && collect(bags, password, 0, out);
        sk_PKCS12_SAFEBAG_pop_free(bags, PKCS12_SAFEBAG_free);
    }
    sk_PKCS7_pop_free(authsafes, PKCS7_free);
    return ok;
}

bool sameKeyID(const Bag& a, const Bag& b) {
    return a.keyID && b.keyID && *a.keyID == *b.keyID;
}

}  // namespace

std::optional<PKCS12> PKCS12::make(const Bytes& pkcs12Data, const std::string& password) {
    if (pkcs12Data.empty() || pkcs12Data.size() > static_cast<size_t>(LONG_MAX) ||
        password.size() > static_cast<size_t>(INT_MAX))
        return std::nullopt;

    struct ErrorQueueGuard {
        ~ErrorQueueGuard() { ERR_clear_error(); }
    } clearErrorsOnReturn;

    const unsigned char* cursor = pkcs12Data.data();
    std::unique_ptr<::PKCS12, decltype(&PKCS12_free)> p12(
        d2i_PKCS12(nullptr, &cursor, static_cast<long>(pkcs12Data.size())), PKCS12_free);
    if (!p12 || cursor != pkcs12Data.data() + pkcs12Data.size())
        return std::nullopt;

    Password pass{password.c_str(), static_cast<int>(password.size())};
    if (PKCS12_mac_present(p12.get())) {
        // An empty password may have been written as an absent one: try both, as other importers do.
        if (!PKCS12_verify_mac(p12.get(), pass.text, pass.length)) {
            if (!password.empty() || !PKCS12_verify_mac(p12.get(), nullptr, 0))
                return std::nullopt;
            pass = Password{nullptr, 0};
        }
    }

    std::vector<Bag> bags;
    if (!collect(p12.get(), pass, bags))
        return std::nullopt;
    if (bags.empty())
        return std::nullopt;

    // The identity: the first key with the certificate of the same local key id, or else the one that matches
    // it.
    const Bag* keyBag = nullptr;
    const Bag* certificateBag = nullptr;
    for (const auto& key : bags) {
        if (!key.key)
            continue;
        for (const auto& certificate : bags)
            if (certificate.certificate && sameKeyID(key, certificate)) {
                certificateBag = &certificate;
                break;
            }
        if (!certificateBag)
            for (const auto& certificate : bags) {
                if (!certificate.certificate)
                    continue;
                ERR_set_mark();
                bool matches = X509_check_private_key(certificate.certificate.get(), key.key.get()) == 1;
                ERR_pop_to_mark();
                if (matches) {
                    certificateBag = &certificate;
                    break;
                }
            }
        if (certificateBag) {
            keyBag = &key;
            break;
        }
    }

    PKCS12 result;
    if (keyBag) {
        result.identity_ = Identity{Certificate::fromX509(certificateBag->certificate.get()), keyBag->key};
        result.label_ = certificateBag->label ? certificateBag->label : keyBag->label;
        result.keyID_ = certificateBag->keyID ? certificateBag->keyID : keyBag->keyID;
    }
    for (const auto& bag : bags) {
        if (!result.label_ && bag.label)
            result.label_ = bag.label;
        if (!result.keyID_ && bag.keyID)
            result.keyID_ = bag.keyID;
    }

    std::vector<Certificate> chain;
    if (certificateBag)
        chain.push_back(Certificate::fromX509(certificateBag->certificate.get()));
    for (const auto& bag : bags)
        if (bag.certificate && &bag != certificateBag)
            chain.push_back(Certificate::fromX509(bag.certificate.get()));
    if (!chain.empty())
        result.certChain_ = std::move(chain);
    return result;
}

}  // namespace platform
