#include <gtest/gtest.h>

#include <QSslCertificate>
#include <QSslConfiguration>

#include "platform/qt/TlsTrust.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"

TEST(TlsTrustTest, AddsTheFilesCertificatesOnTopOfTheSystemStore) {
    const auto& pki = testsupport::ServerPKI::shared();
    auto dir = testsupport::makeTempDir("trust");
    testsupport::writeFile(dir / "ca.pem", pki.root.certificatePEM() + pki.unrelatedRoot.certificatePEM());
    testsupport::writeFile(dir / "garbage.pem", "not a certificate");

    EXPECT_FALSE(platform::addTrustedCACertificates(dir / "missing.pem"));
    EXPECT_FALSE(platform::addTrustedCACertificates(dir / "garbage.pem"));
    ASSERT_TRUE(platform::addTrustedCACertificates(dir / "ca.pem"));

    auto trusted = QSslConfiguration::defaultConfiguration().caCertificates();
    auto root = QSslCertificate(QByteArray::fromStdString(pki.root.certificatePEM()));
    auto unrelated = QSslCertificate(QByteArray::fromStdString(pki.unrelatedRoot.certificatePEM()));
    EXPECT_TRUE(trusted.contains(root));
    EXPECT_TRUE(trusted.contains(unrelated));
    for (const auto& system : QSslConfiguration::systemCaCertificates())
        EXPECT_TRUE(trusted.contains(system)) << system.subjectDisplayName().toStdString();

    // Adding the same file again lists nothing twice.
    auto count = trusted.size();
    ASSERT_TRUE(platform::addTrustedCACertificates(dir / "ca.pem"));
    EXPECT_EQ(QSslConfiguration::defaultConfiguration().caCertificates().size(), count);
}
