#include "TestPKI.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <stdexcept>

namespace testsupport {

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::string detail;
    if (unsigned long code = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        detail = std::string(": ") + buffer;
    }
    ERR_clear_error();
    throw std::runtime_error("TestPKI: " + what + detail);
}

template <class T>
T* check(T* pointer, const std::string& what) {
    if (!pointer)
        fail(what);
    return pointer;
}

void check(int result, const std::string& what) {
    if (result <= 0)
        fail(what);
}

std::shared_ptr<EVP_PKEY> makeKey(KeyType type) {
    EVP_PKEY* key = nullptr;
    switch (type) {
        case KeyType::ecP256:
            key = EVP_EC_gen("P-256");
            break;
        case KeyType::ecP384:
            key = EVP_EC_gen("P-384");
            break;
        case KeyType::ecP521:
            key = EVP_EC_gen("P-521");
            break;
        case KeyType::rsa2048:
            key = EVP_RSA_gen(2048);
            break;
    }
    return std::shared_ptr<EVP_PKEY>(check(key, "key generation"), EVP_PKEY_free);
}

void addNameEntry(X509_NAME* name, int nid, const std::string& value) {
    check(X509_NAME_add_entry_by_NID(name, nid, MBSTRING_UTF8,
                                     reinterpret_cast<const unsigned char*>(value.data()),
                                     static_cast<int>(value.size()), -1, 0),
          "subject attribute");
}

void addExtension(X509* certificate, X509V3_CTX* context, int nid, const std::string& value) {
    X509_EXTENSION* extension =
        check(X509V3_EXT_conf_nid(nullptr, context, nid, value.c_str()), "extension " + value);
    int added = X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
    check(added, "adding extension");
}

std::string join(const std::vector<std::string>& items, const std::string& prefix) {
    std::string out;
    for (const auto& item : items) {
        if (!out.empty())
            out += ",";
        out += prefix + item;
    }
    return out;
}

// Makes and signs a certificate; issuer == nullptr signs it with its own key.
Issued build(const CertificateRequest& request, const Issued* issuer) {
    auto key = makeKey(request.keyType);
    std::unique_ptr<X509, decltype(&X509_free)> certificate(check(X509_new(), "X509_new"), X509_free);
    X509* x = certificate.get();
    check(X509_set_version(x, 2), "version");

    // A random positive 127-bit serial, unique per run.
    std::unique_ptr<BIGNUM, decltype(&BN_free)> serial(check(BN_new(), "BN_new"), BN_free);
    check(BN_rand(serial.get(), 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY), "serial");
    check(BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(x)) ? 1 : 0, "serial");

    check(X509_gmtime_adj(X509_getm_notBefore(x), static_cast<long>(request.notBeforeOffset.count())) ? 1 : 0,
          "notBefore");
    check(X509_gmtime_adj(X509_getm_notAfter(x), static_cast<long>(request.notAfterOffset.count())) ? 1 : 0,
          "notAfter");

    X509_NAME* subject = X509_get_subject_name(x);
    addNameEntry(subject, NID_commonName, request.commonName);
    if (request.surname)
        addNameEntry(subject, NID_surname, *request.surname);
    if (request.givenName)
        addNameEntry(subject, NID_givenName, *request.givenName);
    if (request.serialNumber)
        addNameEntry(subject, NID_serialNumber, *request.serialNumber);
    if (request.organizationalUnit)
        addNameEntry(subject, NID_organizationalUnitName, *request.organizationalUnit);
    check(X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer->certificate.x509()) : subject),
          "issuer name");
    check(X509_set_pubkey(x, key.get()), "public key");

    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer ? issuer->certificate.x509() : x, x, nullptr, nullptr, 0);
    if (request.isCA) {
        addExtension(x, &context, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(x, &context, NID_key_usage, "critical,keyCertSign,cRLSign,digitalSignature");
    } else {
        addExtension(x, &context, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(x, &context, NID_key_usage,
                     request.keyType == KeyType::rsa2048 ? "critical,digitalSignature,keyEncipherment"
                                                         : "critical,digitalSignature,nonRepudiation");
    }
    addExtension(x, &context, NID_subject_key_identifier, "hash");
    if (issuer)
        addExtension(x, &context, NID_authority_key_identifier, "keyid:always");
    if (!request.dnsNames.empty() || !request.ipAddresses.empty()) {
        std::string names = join(request.dnsNames, "DNS:");
        std::string ips = join(request.ipAddresses, "IP:");
        addExtension(x, &context, NID_subject_alt_name,
                     names.empty() ? ips
                     : ips.empty() ? names
                                   : names + "," + ips);
    }
    if (!request.policyOIDs.empty()) {
        // Built directly: OpenSSL's text form of certificatePolicies needs a config database.
        CERTIFICATEPOLICIES* policies = CERTIFICATEPOLICIES_new();
        for (const auto& oid : request.policyOIDs) {
            POLICYINFO* info = POLICYINFO_new();
            ASN1_OBJECT_free(info->policyid);
            info->policyid = check(OBJ_txt2obj(oid.c_str(), 1), "policy " + oid);
            sk_POLICYINFO_push(policies, info);
        }
        int added = X509_add1_ext_i2d(x, NID_certificate_policies, policies, 0, X509V3_ADD_DEFAULT);
        CERTIFICATEPOLICIES_free(policies);
        check(added, "adding certificate policies");
    }

    EVP_PKEY* signingKey = issuer ? issuer->key.get() : key.get();
    const EVP_MD* digest =
        EVP_PKEY_get_base_id(signingKey) == EVP_PKEY_EC && EVP_PKEY_get_bits(signingKey) > 256 ? EVP_sha384()
                                                                                               : EVP_sha256();
    check(X509_sign(x, signingKey, digest), "signing");
    return Issued{platform::Certificate::fromX509(x), key};
}

std::string bioText(BIO* bio) {
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<size_t>(length));
}

}  // namespace

std::string Issued::certificatePEM() const {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(check(BIO_new(BIO_s_mem()), "BIO"), BIO_free);
    check(PEM_write_bio_X509(bio.get(), certificate.x509()), "PEM certificate");
    return bioText(bio.get());
}

std::string Issued::privateKeyPEM() const {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(check(BIO_new(BIO_s_mem()), "BIO"), BIO_free);
    check(PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr), "PEM key");
    return bioText(bio.get());
}

Issued makeSelfSigned(const CertificateRequest& request) {
    return build(request, nullptr);
}

Issued issue(const CertificateRequest& request, const Issued& issuer) {
    return build(request, &issuer);
}

platform::Bytes makePKCS12(const Issued& leaf, const std::vector<Issued>& chain, const std::string& password,
                           bool withKey) {
    std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> others(
        check(sk_X509_new_null(), "stack"), [](STACK_OF(X509) * s) { sk_X509_free(s); });
    for (const auto& item : chain)
        check(sk_X509_push(others.get(), item.certificate.x509()), "stack");
    std::string label = "Test identity";
    ::PKCS12* p12 = check(PKCS12_create(password.c_str(), label.c_str(), withKey ? leaf.key.get() : nullptr,
                                        leaf.certificate.x509(), others.get(), NID_aes_256_cbc,
                                        NID_aes_256_cbc, PKCS12_DEFAULT_ITER, PKCS12_DEFAULT_ITER, 0),
                          "PKCS12_create");
    int length = i2d_PKCS12(p12, nullptr);
    platform::Bytes out(static_cast<size_t>(length > 0 ? length : 0));
    unsigned char* cursor = out.data();
    int written = i2d_PKCS12(p12, &cursor);
    PKCS12_free(p12);
    check(written == length && length > 0 ? 1 : 0, "PKCS12 encoding");
    return out;
}

const ServerPKI& ServerPKI::shared() {
    static const ServerPKI pki = [] {
        using namespace std::chrono;
        CertificateRequest rootRequest;
        rootRequest.commonName = "Quorvane Test Root CA";
        rootRequest.organizationalUnit = "Test";
        rootRequest.isCA = true;
        rootRequest.notAfterOffset = hours(24 * 365 * 10);
        Issued root = makeSelfSigned(rootRequest);

        CertificateRequest intermediateRequest = rootRequest;
        intermediateRequest.commonName = "Quorvane Test Intermediate CA";
        Issued intermediate = issue(intermediateRequest, root);

        CertificateRequest leafRequest;
        leafRequest.commonName = "localhost";
        leafRequest.dnsNames = {"localhost"};
        leafRequest.ipAddresses = {"127.0.0.1"};
        Issued leaf = issue(leafRequest, intermediate);

        CertificateRequest unrelatedRootRequest = rootRequest;
        unrelatedRootRequest.commonName = "Unrelated Test Root CA";
        Issued unrelatedRoot = makeSelfSigned(unrelatedRootRequest);
        Issued unrelatedLeaf = issue(leafRequest, unrelatedRoot);

        CertificateRequest expiredRequest = leafRequest;
        expiredRequest.notBeforeOffset = -hours(48);
        expiredRequest.notAfterOffset = -hours(24);
        Issued expiredLeaf = issue(expiredRequest, intermediate);

        CertificateRequest clientRequest;
        clientRequest.commonName = "Quorvane Test Client";
        Issued client = issue(clientRequest, root);

        return ServerPKI{root, intermediate, leaf, unrelatedRoot, unrelatedLeaf, expiredLeaf, client};
    }();
    return pki;
}

const Issued& cardCA() {
    static const Issued ca = [] {
        CertificateRequest request;
        request.commonName = "Quorvane Test Citizen CA";
        request.isCA = true;
        request.notAfterOffset = std::chrono::hours(24 * 365 * 10);
        return makeSelfSigned(request);
    }();
    return ca;
}

CertificateRequest citizenCard(const std::string& givenName, const std::string& surname,
                               const std::string& rrnr, KeyType keyType) {
    CertificateRequest request;
    request.commonName = givenName + " " + surname + " (Authentication)";
    request.givenName = givenName;
    request.surname = surname;
    request.serialNumber = rrnr;
    request.keyType = keyType;
    return request;
}

Issued issueCitizenCard(const std::string& givenName, const std::string& surname, const std::string& rrnr,
                        KeyType keyType) {
    return issue(citizenCard(givenName, surname, rrnr, keyType), cardCA());
}

platform::Bytes signDigest(const Issued& holder, const platform::Bytes& digest) {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> context(
        EVP_PKEY_CTX_new(holder.key.get(), nullptr), EVP_PKEY_CTX_free);
    std::size_t length = 0;
    if (!context || EVP_PKEY_sign_init(context.get()) != 1 ||
        EVP_PKEY_sign(context.get(), nullptr, &length, digest.data(), digest.size()) != 1)
        throw std::runtime_error("cannot sign with the key");
    platform::Bytes signature(length);
    if (EVP_PKEY_sign(context.get(), signature.data(), &length, digest.data(), digest.size()) != 1)
        throw std::runtime_error("cannot sign with the key");
    signature.resize(length);
    return signature;
}

void writeFile(const std::filesystem::path& path, const std::string& contents) {
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << contents;
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

}  // namespace testsupport
