#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/provider.h>

#include "platform/Certificate.h"
#include "platform/PKCS12.h"
#include "platform/testing/TestPKI.h"

using platform::Bytes;
using platform::Certificate;
using testsupport::ServerPKI;

TEST(CertificateTest, ParsesExactlyOneDERCertificate) {
    const auto& pki = ServerPKI::shared();
    Bytes der = pki.leaf.der();
    auto certificate = Certificate::fromDER(der);
    ASSERT_TRUE(certificate);
    EXPECT_EQ(certificate->data(), der);
    EXPECT_EQ(*certificate, pki.leaf.certificate);
    EXPECT_FALSE(*certificate == pki.root.certificate);

    Bytes trailingJunk = der;
    trailingJunk.push_back(0x00);
    Bytes twoCertificates = der;
    twoCertificates.insert(twoCertificates.end(), der.begin(), der.end());
    Bytes truncated(der.begin(), der.end() - 1);
    Bytes garbage = platform::toBytes("not a certificate at all");
    Bytes lengthTooLarge = der;
    lengthTooLarge[2] = 0x7f;  // outer SEQUENCE claims more bytes than there are
    const std::pair<const char*, Bytes> rejected[] = {
        {"empty", {}},
        {"trailing junk", trailingJunk},
        {"two certificates", twoCertificates},
        {"truncated", truncated},
        {"garbage", garbage},
        {"wrong length", lengthTooLarge},
        {"PEM text", platform::toBytes(pki.leaf.certificatePEM())},
    };
    for (const auto& [name, bytes] : rejected)
        EXPECT_FALSE(Certificate::fromDER(bytes)) << name;
}

TEST(CertificateTest, ReadsTheFirstCertificateOfPEMText) {
    const auto& pki = ServerPKI::shared();
    auto first = Certificate::fromPEM(pki.leaf.certificatePEM() + pki.root.certificatePEM());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->data(), pki.leaf.der());
    EXPECT_FALSE(Certificate::fromPEM(""));
    EXPECT_FALSE(Certificate::fromPEM("-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n"));
    EXPECT_FALSE(Certificate::fromPEM(pki.leaf.privateKeyPEM()));
}

TEST(CertificateTest, FromX509KeepsItsOwnReference) {
    const auto& pki = ServerPKI::shared();
    auto copy = Certificate::fromX509(pki.intermediate.certificate.x509());
    EXPECT_EQ(copy, pki.intermediate.certificate);
    EXPECT_NE(copy.x509(), nullptr);
}

namespace {

struct PKCS12Fixture : ::testing::Test {
    const ServerPKI& pki = ServerPKI::shared();
    Bytes container = testsupport::makePKCS12(pki.leaf, {pki.intermediate, pki.root}, "s3cret");
};

}  // namespace

TEST_F(PKCS12Fixture, ImportsIdentityLabelKeyIDAndChain) {
    auto imported = platform::PKCS12::make(container, "s3cret");
    ASSERT_TRUE(imported);
    ASSERT_TRUE(imported->identity());
    EXPECT_EQ(imported->identity()->certificate, pki.leaf.certificate);
    EXPECT_EQ(EVP_PKEY_eq(imported->identity()->privateKey.get(), pki.leaf.key.get()), 1);
    EXPECT_EQ(imported->label(), "Test identity");
    ASSERT_TRUE(imported->keyID());
    EXPECT_FALSE(imported->keyID()->empty());
    ASSERT_TRUE(imported->certChain());
    ASSERT_EQ(imported->certChain()->size(), 3u);
    EXPECT_EQ(imported->certChain()->front(), pki.leaf.certificate);
}

TEST_F(PKCS12Fixture, WrongPasswordOrDamagedBytesImportNothing) {
    EXPECT_FALSE(platform::PKCS12::make(container, "wrong"));
    EXPECT_FALSE(platform::PKCS12::make(container, ""));
    EXPECT_FALSE(platform::PKCS12::make(container, "S3CRET"));

    Bytes flipped = container;
    flipped[flipped.size() / 2] ^= 0x01;
    Bytes truncated(container.begin(), container.begin() + static_cast<long>(container.size() / 2));
    Bytes trailing = container;
    trailing.push_back(0);
    const std::pair<const char*, Bytes> damaged[] = {
        {"empty", {}},
        {"one bit flipped", flipped},
        {"truncated", truncated},
        {"trailing byte", trailing},
        {"a certificate", pki.leaf.der()},
        {"text", platform::toBytes("garbage")},
    };
    for (const auto& [name, bytes] : damaged)
        EXPECT_FALSE(platform::PKCS12::make(bytes, "s3cret")) << name;
}

TEST_F(PKCS12Fixture, ContainerWithoutKeyImportsWithoutIdentity) {
    auto certificateOnly = testsupport::makePKCS12(pki.client, {}, "pw", /*withKey=*/false);
    auto imported = platform::PKCS12::make(certificateOnly, "pw");
    ASSERT_TRUE(imported);
    EXPECT_FALSE(imported->identity());
    ASSERT_TRUE(imported->certChain());
    ASSERT_EQ(imported->certChain()->size(), 1u);
    EXPECT_EQ(imported->certChain()->front(), pki.client.certificate);
    EXPECT_FALSE(platform::PKCS12::make(certificateOnly, "other"));
}

TEST_F(PKCS12Fixture, EmptyPasswordAndOtherKeyTypes) {
    for (auto type : {testsupport::KeyType::ecP384, testsupport::KeyType::rsa2048}) {
        testsupport::CertificateRequest request;
        request.commonName = "Client";
        request.keyType = type;
        auto client = testsupport::issue(request, pki.root);
        auto imported = platform::PKCS12::make(testsupport::makePKCS12(client, {pki.root}, ""), "");
        ASSERT_TRUE(imported);
        ASSERT_TRUE(imported->identity());
        EXPECT_EQ(imported->identity()->certificate, client.certificate);
        EXPECT_EQ(EVP_PKEY_eq(imported->identity()->privateKey.get(), client.key.get()), 1);
    }
}

TEST_F(PKCS12Fixture, ImportsContainersOfOlderToolsWithLegacyEncryption) {
    // Older exporters encrypt the certificates with 40-bit RC2 and the key with 3DES.
    OSSL_LIB_CTX* legacy = OSSL_LIB_CTX_new();
    OSSL_PROVIDER* legacyProvider = OSSL_PROVIDER_load(legacy, "legacy");
    OSSL_PROVIDER* defaultProvider = OSSL_PROVIDER_load(legacy, "default");
    if (!legacyProvider || !defaultProvider) {
        OSSL_LIB_CTX_free(legacy);
        GTEST_SKIP() << "OpenSSL's legacy provider is not installed";
    }
    ::PKCS12* p12 = PKCS12_create_ex("old", "Old export", pki.client.key.get(), pki.client.certificate.x509(),
                                     nullptr, NID_pbe_WithSHA1And3_Key_TripleDES_CBC,
                                     NID_pbe_WithSHA1And40BitRC2_CBC, 2048, 1, 0, legacy, nullptr);
    ASSERT_NE(p12, nullptr);
    int length = i2d_PKCS12(p12, nullptr);
    Bytes bytes(static_cast<size_t>(length));
    unsigned char* cursor = bytes.data();
    i2d_PKCS12(p12, &cursor);
    PKCS12_free(p12);
    OSSL_PROVIDER_unload(legacyProvider);
    OSSL_PROVIDER_unload(defaultProvider);
    OSSL_LIB_CTX_free(legacy);

    auto imported = platform::PKCS12::make(bytes, "old");
    ASSERT_TRUE(imported);
    ASSERT_TRUE(imported->identity());
    EXPECT_EQ(imported->identity()->certificate, pki.client.certificate);
    EXPECT_EQ(imported->label(), "Old export");
    EXPECT_FALSE(platform::PKCS12::make(bytes, "new"));
    // The process's own library context still refuses RC2: only the import used the legacy algorithms.
    EVP_CIPHER* rc2 = EVP_CIPHER_fetch(nullptr, "RC2-40-CBC", nullptr);
    EXPECT_EQ(rc2, nullptr);
    EVP_CIPHER_free(rc2);
    ERR_clear_error();
}
