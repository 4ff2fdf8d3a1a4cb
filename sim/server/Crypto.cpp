#include "Crypto.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509v3.h>

#include <array>
#include <ctime>
#include <stdexcept>

namespace sim {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("OpenSSL: ") + what);
}

struct BioDeleter {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using Bio = std::unique_ptr<BIO, BioDeleter>;

std::string bioText(BIO* bio) {
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<std::size_t>(size));
}

void addName(X509_NAME* name, int nid, const std::string& value) {
    check(X509_NAME_add_entry_by_NID(name, nid, MBSTRING_UTF8,
                                     reinterpret_cast<const unsigned char*>(value.data()),
                                     static_cast<int>(value.size()), -1, 0) == 1,
          "name entry");
}

void addExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    check(extension != nullptr, "extension");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

void setRandomSerial(X509* certificate) {
    Bytes serial = randomBytes(16);
    serial[0] &= 0x7f;
    BIGNUM* number = BN_bin2bn(serial.data(), static_cast<int>(serial.size()), nullptr);
    check(number != nullptr, "serial");
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate));
    BN_free(number);
}

}  // namespace

std::string base64Encoded(const Bytes& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        std::uint32_t v = bytes[i] << 16;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += "==";
    } else if (rest == 2) {
        std::uint32_t v = (bytes[i] << 16) | (bytes[i + 1] << 8);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string base64URLEncoded(const Bytes& bytes) {
    std::string out = base64Encoded(bytes);
    while (!out.empty() && out.back() == '=')
        out.pop_back();
    for (char& c : out) {
        if (c == '+')
            c = '-';
        if (c == '/')
            c = '_';
    }
    return out;
}

std::optional<Bytes> base64Decoded(std::string_view text) {
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::array<int, 256> value;
    value.fill(-1);
    for (int i = 0; i < 64; ++i)
        value[static_cast<unsigned char>(kAlphabet[i])] = i;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=')
        ++padding;
    if (text.size() >= 2 && text[text.size() - 2] == '=')
        ++padding;
    Bytes out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        std::uint32_t v = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            unsigned char c = static_cast<unsigned char>(text[i + j]);
            bool inPadding = i + 4 == text.size() && j >= 4 - padding;
            if (inPadding) {
                if (c != '=')
                    return std::nullopt;
                v <<= 6;
                continue;
            }
            if (value[c] < 0)
                return std::nullopt;
            v = (v << 6) | static_cast<std::uint32_t>(value[c]);
        }
        out.push_back(static_cast<std::uint8_t>(v >> 16));
        out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v));
    }
    // Unused bits before the padding must be zero, so that every byte string has exactly one encoding.
    if (padding > 0) {
        std::uint32_t tail =
            static_cast<std::uint32_t>(value[static_cast<unsigned char>(text[text.size() - 1 - padding])]);
        if ((padding == 1 && (tail & 0x3)) || (padding == 2 && (tail & 0xf)))
            return std::nullopt;
    }
    out.resize(out.size() - padding);
    return out;
}

std::optional<Bytes> base64URLDecoded(std::string_view text) {
    std::string standard(text);
    for (char& c : standard) {
        if (c == '+' || c == '/')
            return std::nullopt;
        if (c == '-')
            c = '+';
        else if (c == '_')
            c = '/';
    }
    if (standard.find('=') == std::string::npos)
        standard.append((4 - standard.size() % 4) % 4, '=');
    return base64Decoded(standard);
}

Bytes sha256(const Bytes& bytes) {
    Bytes digest(32);
    unsigned int size = 0;
    check(EVP_Digest(bytes.data(), bytes.size(), digest.data(), &size, EVP_sha256(), nullptr) == 1, "digest");
    return digest;
}

Bytes randomBytes(std::size_t count) {
    Bytes out(count);
    check(RAND_bytes(out.data(), static_cast<int>(count)) == 1, "random");
    return out;
}

std::string randomId() {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (auto b : randomBytes(16)) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

Key makeECKey() {
    Key key(EVP_EC_gen("P-256"));
    check(key != nullptr, "EC key");
    return key;
}

Bytes der(X509* certificate) {
    int size = i2d_X509(certificate, nullptr);
    check(size > 0, "DER size");
    Bytes out(static_cast<std::size_t>(size));
    unsigned char* p = out.data();
    i2d_X509(certificate, &p);
    return out;
}

std::string pem(X509* certificate) {
    Bio bio(BIO_new(BIO_s_mem()));
    check(PEM_write_bio_X509(bio.get(), certificate) == 1, "PEM");
    return bioText(bio.get());
}

std::string privateKeyPEM(EVP_PKEY* key) {
    Bio bio(BIO_new(BIO_s_mem()));
    check(PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1, "key PEM");
    return bioText(bio.get());
}

Cert certificateFromDER(const Bytes& bytes) {
    if (bytes.empty())
        return nullptr;
    const unsigned char* p = bytes.data();
    Cert certificate(d2i_X509(nullptr, &p, static_cast<long>(bytes.size())));
    if (!certificate || p != bytes.data() + bytes.size())
        return nullptr;
    return certificate;
}

std::optional<std::string> subjectEntry(X509* certificate, int nid) {
    X509_NAME* name = X509_get_subject_name(certificate);
    int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0)
        return std::nullopt;
    ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    unsigned char* utf8 = nullptr;
    int size = ASN1_STRING_to_UTF8(&utf8, data);
    if (size < 0)
        return std::nullopt;
    std::string out(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(size));
    OPENSSL_free(utf8);
    return out;
}

CertificateAuthority::CertificateAuthority() : key_(makeECKey()), cert_(X509_new()) {
    X509* c = cert_.get();
    X509_set_version(c, 2);
    setRandomSerial(c);
    X509_gmtime_adj(X509_getm_notBefore(c), -3600);
    X509_gmtime_adj(X509_getm_notAfter(c), 10L * 365 * 24 * 3600);
    X509_NAME* name = X509_get_subject_name(c);
    addName(name, NID_countryName, "BE");
    addName(name, NID_organizationName, "Quorvane Simulation");
    addName(name, NID_commonName, "Quorvane Simulation Root CA");
    X509_set_issuer_name(c, name);
    check(X509_set_pubkey(c, key_.get()) == 1, "CA key");
    addExtension(c, c, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(c, c, NID_key_usage, "critical,keyCertSign,cRLSign");
    addExtension(c, c, NID_subject_key_identifier, "hash");
    check(X509_sign(c, key_.get(), EVP_sha256()) > 0, "CA sign");
}

Cert CertificateAuthority::issueServerCertificate(EVP_PKEY* publicKey) const {
    return issue(publicKey, Subject{"localhost", {}, {}, {}}, true);
}

Cert CertificateAuthority::issueSigningCertificate(EVP_PKEY* publicKey, const Subject& subject) const {
    return issue(publicKey, subject, false);
}

Cert CertificateAuthority::issue(EVP_PKEY* publicKey, const Subject& subject, bool server) const {
    Cert cert(X509_new());
    X509* c = cert.get();
    X509_set_version(c, 2);
    setRandomSerial(c);
    X509_gmtime_adj(X509_getm_notBefore(c), -3600);
    X509_gmtime_adj(X509_getm_notAfter(c), server ? 825L * 24 * 3600 : 2L * 365 * 24 * 3600);
    X509_NAME* name = X509_get_subject_name(c);
    addName(name, NID_countryName, "BE");
    addName(name, NID_commonName, subject.commonName);
    if (subject.surname)
        addName(name, NID_surname, *subject.surname);
    if (subject.givenName)
        addName(name, NID_givenName, *subject.givenName);
    if (subject.serialNumber)
        addName(name, NID_serialNumber, *subject.serialNumber);
    X509_set_issuer_name(c, X509_get_subject_name(cert_.get()));
    check(X509_set_pubkey(c, publicKey) == 1, "public key");
    addExtension(c, cert_.get(), NID_basic_constraints, "critical,CA:FALSE");
    addExtension(c, cert_.get(), NID_authority_key_identifier, "keyid:always");
    if (server) {
        addExtension(c, cert_.get(), NID_key_usage, "critical,digitalSignature");
        addExtension(c, cert_.get(), NID_ext_key_usage, "serverAuth");
        addExtension(c, cert_.get(), NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
    } else {
        addExtension(c, cert_.get(), NID_key_usage, "critical,nonRepudiation");
    }
    check(X509_sign(c, key_.get(), EVP_sha256()) > 0, "certificate sign");
    return cert;
}

CardTrust::CardTrust() : store_(X509_STORE_new()) {
    check(store_ != nullptr, "certificate store");
    // Cards are issued by a citizen CA under a root; configuring that CA alone must be enough.
    X509_STORE_set_flags(store_.get(), X509_V_FLAG_PARTIAL_CHAIN);
}

void CardTrust::addPEMFile(const std::filesystem::path& file) {
    Bio bio(BIO_new_file(file.c_str(), "r"));
    if (!bio)
        throw std::runtime_error("cannot read " + file.string());
    int added = 0;
    while (Cert certificate{PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)}) {
        check(X509_STORE_add_cert(store_.get(), certificate.get()) == 1, "trusted card issuer");
        ++added;
    }
    ERR_clear_error();  // the end of the file reads as an error
    if (added == 0)
        throw std::runtime_error("no PEM certificate in " + file.string());
}

bool CardTrust::verifies(X509* certificate) const {
    std::unique_ptr<X509_STORE_CTX, decltype(&X509_STORE_CTX_free)> context(X509_STORE_CTX_new(),
                                                                            X509_STORE_CTX_free);
    if (!context || X509_STORE_CTX_init(context.get(), store_.get(), certificate, nullptr) != 1)
        return false;
    bool verified = X509_verify_cert(context.get()) == 1;
    ERR_clear_error();
    return verified;
}

namespace {

const EVP_MD* digestFor(std::size_t size) {
    switch (size) {
        case 32:
            return EVP_sha256();
        case 48:
            return EVP_sha384();
        case 64:
            return EVP_sha512();
        default:
            return nullptr;
    }
}

// Raw r||s (as smart cards produce) to DER; other lengths are returned unchanged.
Bytes ecdsaToDER(EVP_PKEY* key, const Bytes& signature) {
    const unsigned char* p = signature.data();
    ECDSA_SIG* parsed = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(signature.size()));
    if (parsed) {
        bool whole = p == signature.data() + signature.size();
        ECDSA_SIG_free(parsed);
        if (whole)
            return signature;
    }
    std::size_t field = static_cast<std::size_t>((EVP_PKEY_get_bits(key) + 7) / 8);
    if (signature.size() != 2 * field)
        return signature;
    ECDSA_SIG* sig = ECDSA_SIG_new();
    BIGNUM* r = BN_bin2bn(signature.data(), static_cast<int>(field), nullptr);
    BIGNUM* s = BN_bin2bn(signature.data() + field, static_cast<int>(field), nullptr);
    ECDSA_SIG_set0(sig, r, s);
    int size = i2d_ECDSA_SIG(sig, nullptr);
    Bytes out(size > 0 ? static_cast<std::size_t>(size) : 0);
    unsigned char* q = out.data();
    if (size > 0)
        i2d_ECDSA_SIG(sig, &q);
    ECDSA_SIG_free(sig);
    return out;
}

}  // namespace

bool verifyDigestSignature(X509* certificate, const Bytes& digest, const Bytes& signature) {
    EVP_PKEY* key = X509_get0_pubkey(certificate);
    if (!key || signature.empty() || digest.empty())
        return false;
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key, nullptr),
                                                                    EVP_PKEY_CTX_free);
    if (!ctx || EVP_PKEY_verify_init(ctx.get()) != 1)
        return false;
    Bytes sig = signature;
    if (EVP_PKEY_is_a(key, "EC")) {
        sig = ecdsaToDER(key, signature);
    } else if (EVP_PKEY_is_a(key, "RSA")) {
        const EVP_MD* md = digestFor(digest.size());
        if (!md || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
            EVP_PKEY_CTX_set_signature_md(ctx.get(), md) != 1)
            return false;
    } else {
        return false;
    }
    return EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), digest.data(), digest.size()) == 1;
}

std::optional<Bytes> signDigest(EVP_PKEY* key, const Bytes& digest) {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key, nullptr),
                                                                    EVP_PKEY_CTX_free);
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1)
        return std::nullopt;
    std::size_t size = 0;
    if (EVP_PKEY_sign(ctx.get(), nullptr, &size, digest.data(), digest.size()) != 1)
        return std::nullopt;
    Bytes out(size);
    if (EVP_PKEY_sign(ctx.get(), out.data(), &size, digest.data(), digest.size()) != 1)
        return std::nullopt;
    out.resize(size);
    return out;
}

}  // namespace sim
