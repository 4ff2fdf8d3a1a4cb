#pragma once
// Codecs, keys and certificates of the stand-in server (OpenSSL).
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509Deleter {
    void operator()(X509* x509) const { X509_free(x509); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using Cert = std::unique_ptr<X509, X509Deleter>;

std::string base64Encoded(const Bytes& bytes);
std::string base64URLEncoded(const Bytes& bytes);  // unpadded
// Strict standard Base64 (padding required, no whitespace).
std::optional<Bytes> base64Decoded(std::string_view text);
// Base64url with or without padding.
std::optional<Bytes> base64URLDecoded(std::string_view text);

Bytes sha256(const Bytes& bytes);
Bytes randomBytes(std::size_t count);
// A random identifier of 32 lower-case hexadecimal digits.
std::string randomId();

Key makeECKey();
Bytes der(X509* certificate);
std::string pem(X509* certificate);
std::string privateKeyPEM(EVP_PKEY* key);
// Nothing unless the bytes are exactly one DER certificate.
Cert certificateFromDER(const Bytes& der);

struct Subject {
    std::string commonName;
    std::optional<std::string> givenName;
    std::optional<std::string> surname;
    std::optional<std::string> serialNumber;
};
std::optional<std::string> subjectEntry(X509* certificate, int nid);

// The server's own CA and the certificates it issues.
class CertificateAuthority {
  public:
    CertificateAuthority();
    X509* certificate() const { return cert_.get(); }
    EVP_PKEY* key() const { return key_.get(); }

    // A TLS server certificate for localhost and 127.0.0.1.
    Cert issueServerCertificate(EVP_PKEY* publicKey) const;
    // A citizen's qualified signing certificate.
    Cert issueSigningCertificate(EVP_PKEY* publicKey, const Subject& subject) const;

  private:
    Cert issue(EVP_PKEY* publicKey, const Subject& subject, bool server) const;
    Key key_;
    Cert cert_;
};

// The card issuers the server trusts: a card certificate counts only when it chains to one of them.
class CardTrust {
  public:
    CardTrust();
    // Adds every certificate of a PEM file; throws when the file cannot be read or holds none.
    void addPEMFile(const std::filesystem::path& file);
    // True when the certificate chains to a trusted issuer (an issuing CA given alone is enough) and every
    // certificate of the chain is valid now.
    bool verifies(X509* certificate) const;

  private:
    struct StoreDeleter {
        void operator()(X509_STORE* store) const { X509_STORE_free(store); }
    };
    std::unique_ptr<X509_STORE, StoreDeleter> store_;
};

// Verifies a card's signature over a digest: ECDSA (DER or raw r||s) or RSA PKCS#1 v1.5 with the digest's
// DigestInfo.
bool verifyDigestSignature(X509* certificate, const Bytes& digest, const Bytes& signature);
// An ECDSA signature (DER) of a digest with the key.
std::optional<Bytes> signDigest(EVP_PKEY* key, const Bytes& digest);

}  // namespace sim
