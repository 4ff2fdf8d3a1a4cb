#include "TlsTrust.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <cstdio>
#include <mutex>

#include "platform/DeploymentConfiguration.h"

namespace platform {

bool addTrustedCACertificates(const std::filesystem::path& pemFile) {
    const auto extra = QSslCertificate::fromPath(QString::fromStdString(pemFile.string()), QSsl::Pem,
                                                 QSslCertificate::PatternSyntax::FixedString);
    if (extra.isEmpty())
        return false;
    auto configuration = QSslConfiguration::defaultConfiguration();
    // The default configuration loads the system's CAs on demand and lists none; adding certificates turns
    // that loading off, so the system's CAs are listed explicitly first or they would no longer be trusted.
    auto certificates = configuration.caCertificates();
    if (certificates.isEmpty())
        certificates = QSslConfiguration::systemCaCertificates();
    for (const auto& certificate : extra)
        if (!certificates.contains(certificate))
            certificates.append(certificate);
    configuration.setCaCertificates(certificates);
    QSslConfiguration::setDefaultConfiguration(configuration);
    return true;
}

void installExtraTrustFromDeploymentConfiguration() {
    static std::once_flag once;
    std::call_once(once, [] {
        auto file = DeploymentConfiguration::load().extraCACertificates;
        if (file && !addTrustedCACertificates(*file))
            std::fprintf(stderr, "quorvane: no CA certificate could be read from %s\n", file->c_str());
    });
}

}  // namespace platform
