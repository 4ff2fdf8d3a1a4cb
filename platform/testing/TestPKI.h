#pragma once
// Certificates and keys made at test time with OpenSSL (validity is relative to now, so nothing is
// committed).
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Bytes.h"
#include "platform/Certificate.h"

typedef struct evp_pkey_st EVP_PKEY;

namespace testsupport {

enum class KeyType { ecP256, ecP384, ecP521, rsa2048 };

struct CertificateRequest {
    std::string commonName = "Test";
    // Subject attributes of a citizen's certificate.
    std::optional<std::string> givenName;
    std::optional<std::string> surname;
    std::optional<std::string> serialNumber;
    std::optional<std::string> organizationalUnit;
    // Subject alternative names.
    std::vector<std::string> dnsNames;
    std::vector<std::string> ipAddresses;
    // Certificate policies (OIDs in dotted form).
    std::vector<std::string> policyOIDs;
    bool isCA = false;
    // Validity relative to now.
    std::chrono::seconds notBeforeOffset{-3600};
    std::chrono::seconds notAfterOffset{std::chrono::hours(24 * 365)};
    KeyType keyType = KeyType::ecP256;
};

struct Issued {
    platform::Certificate certificate;
    std::shared_ptr<EVP_PKEY> key;

    platform::Bytes der() const { return certificate.data(); }
    std::string certificatePEM() const;
    std::string privateKeyPEM() const;  // PKCS#8
};

Issued makeSelfSigned(const CertificateRequest& request);
Issued issue(const CertificateRequest& request, const Issued& issuer);

// A PKCS#12 container (AES-256/PBKDF2) with the leaf, its key (unless withKey is false) and the chain.
platform::Bytes makePKCS12(const Issued& leaf, const std::vector<Issued>& chain, const std::string& password,
                           bool withKey = true);

// A ready-made server PKI: root -> intermediate -> leaf for localhost (SAN DNS localhost, IP 127.0.0.1), an
// unrelated root with its own localhost leaf, an expired localhost leaf under the intermediate, and a client
// identity under the root.
struct ServerPKI {
    Issued root;
    Issued intermediate;
    Issued leaf;
    Issued unrelatedRoot;
    Issued unrelatedLeaf;
    Issued expiredLeaf;
    Issued client;
    static const ServerPKI& shared();  // made once per test process
};

// The test card issuer, made once per test process. The stand-in server trusts it (the tests start it so), so
// cards issued under it can log in and self-made ones cannot.
const Issued& cardCA();
// A citizen's card certificate: the holder's names, and the national register number as the subject's
// serialNumber.
CertificateRequest citizenCard(const std::string& givenName, const std::string& surname,
                               const std::string& rrnr, KeyType keyType = KeyType::ecP256);
// Such a card issued by cardCA().
Issued issueCitizenCard(const std::string& givenName, const std::string& surname, const std::string& rrnr,
                        KeyType keyType = KeyType::ecP256);

// What the holder's key gives for a digest, as a card signs it: ECDSA as DER, RSA as PKCS#1 v1.5 over the
// bare digest.
platform::Bytes signDigest(const Issued& holder, const platform::Bytes& digest);

void writeFile(const std::filesystem::path& path, const std::string& contents);

}  // namespace testsupport
