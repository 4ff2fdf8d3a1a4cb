#pragma once
// The server a client talks to.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "http/PKCS12.h"
#include "platform/Bytes.h"

namespace vastel {

struct APIEnvironment {
    // Scheme, host and path prefix; request paths are appended to it as text.
    std::string basePath;
    // DER certificates pinned for the server; empty pins nothing (the trust store alone decides).
    std::vector<platform::Bytes> trustedCertificatesData;
    // Presented when the server asks for a client certificate.
    std::optional<PKCS12> clientCertificate;

    APIEnvironment(std::string basePath, std::vector<platform::Bytes> trustedCertificatesData = {},
                   std::optional<PKCS12> clientCertificate = std::nullopt)
        : basePath(std::move(basePath)),
          trustedCertificatesData(std::move(trustedCertificatesData)),
          clientCertificate(std::move(clientCertificate)) {}
};

}  // namespace vastel
