#pragma once
// Extra trusted CA certificates for the process's TLS (Qt does not read SSL_CERT_FILE): added on top of the
// system store to Qt's default SSL configuration, so every later connection trusts them.
#include <filesystem>

namespace platform {

// Adds every certificate of the PEM file. False when the file cannot be read or holds no certificate.
bool addTrustedCACertificates(const std::filesystem::path& pemFile);

// Adds the extra CA file named by the deployment configuration, if any. Called once at start-up by programs
// and test mains; later calls add nothing new.
void installExtraTrustFromDeploymentConfiguration();

}  // namespace platform
