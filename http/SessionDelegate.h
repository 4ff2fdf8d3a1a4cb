#pragma once
// The rules a client's connections follow, made from its environment:
//  - TLS is verified against the trust store (chain and host name) by the transport, always;
//  - connections go only to the environment's host;
//  - with pinned certificates, one of them must also be part of the verified chain (the pinned certificates
//    count as extra trust anchors for that client);
//  - the client identity is presented when the server asks for one;
//  - redirects are followed only to HTTPS on the same host.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QUrl>

#include "http/APIEnvironment.h"
#include "platform/Bytes.h"

namespace vastel {

class SessionDelegate {
  public:
    explicit SessionDelegate(const APIEnvironment& environment);

    // The host of the base path as the parsed URL gives it (lower case); empty when it does not parse.
    const std::string& trustedHost() const { return trustedHost_; }
    const std::vector<platform::Bytes>& trustedCertificatesData() const { return trustedCertificatesData_; }
    const std::optional<PKCS12>& pkcs12() const { return pkcs12_; }

    // A TLS peer may be accepted only for the trusted host (compared in lower case).
    bool challengeHostMatches(std::string_view host) const;

    // A redirect is followed only to "https" (any letter case) on the trusted host.
    bool redirectAllowed(const QUrl& proposedURL) const;

    // With no pins, true (the verification decides alone). Otherwise true when a certificate of the verified
    // chain equals a pinned certificate byte for byte.
    bool pinCheckPasses(const std::vector<platform::Bytes>& verifiedChain) const;

    // The decision after the TLS handshake, which the transport has already verified: the host check, then,
    // with pins, an own verification of the presented chain against `anchors` (plus the system store) and the
    // host name, and the pin check on the chain it verified.
    bool serverTrustAccepted(std::string_view host, const QList<QSslCertificate>& presentedChain,
                             const QList<QSslCertificate>& anchors) const;

    // The TLS configuration of every request: the process's default (system store plus extra trusted CAs),
    // the pinned certificates as extra anchors, and the client identity. Used on one thread.
    QSslConfiguration sslConfiguration() const;

    // Whether an identity is presented when the server asks for one.
    bool hasClientIdentity() const { return !localCertificate_.isNull() && !privateKey_.isNull(); }

  private:
    std::string trustedHost_;
    std::vector<platform::Bytes> trustedCertificatesData_;
    std::optional<PKCS12> pkcs12_;
    QList<QSslCertificate> pinnedCertificates_;
    QSslCertificate localCertificate_;
    QSslKey privateKey_;
    // The anchors of a pinned client, made on first use (listing the system store is slow).
    mutable std::optional<QList<QSslCertificate>> pinnedAnchors_;
};

// Verifies a presented chain (leaf first, DER) against the anchors (DER) and the system's default store, for
// the host name (or IP address), at the current time, for a TLS server. The verified chain, leaf to anchor,
// or nothing when it does not verify.
std::optional<std::vector<platform::Bytes>> verifiedChain(const std::vector<platform::Bytes>& presentedChain,
                                                          const std::vector<platform::Bytes>& anchors,
                                                          std::string_view host, bool useSystemStore = true);

}  // namespace vastel
