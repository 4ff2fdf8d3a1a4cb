#pragma once
// Test support: the stand-in bridge (sim/testing) with a setup written by the test, card certificates, and
// waiting helpers.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <QCoreApplication>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cardbridge/VexoConnectInvoker.h"
#include "platform/Codecs.h"
#include "platform/SHA256.h"
#include "platform/testing/Await.h"
#include "platform/testing/Eventually.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"
#include "sim/testing/SimBridge.h"

namespace cardtest {

using Json = nlohmann::ordered_json;

using simtest::bridgeProgram;
using simtest::reader;
using simtest::softCard;
using testsupport::await;
using testsupport::eventually;

// How long a bridge run and its process may take to show their effect.
inline constexpr std::chrono::seconds bridgeLimit{10};
using Bridge = simtest::SimBridge;

inline testsupport::Issued makeCardCertificate(std::optional<std::string> givenName = "Ann",
                                               std::optional<std::string> surname = "Peeters",
                                               std::optional<std::string> serialNumber = "71715100070",
                                               std::vector<std::string> policyOIDs = {"2.16.56.12.1.1.2.2"}) {
    testsupport::CertificateRequest request;
    request.commonName = "Ann Peeters (Signature)";
    request.givenName = std::move(givenName);
    request.surname = std::move(surname);
    request.serialNumber = std::move(serialNumber);
    request.policyOIDs = std::move(policyOIDs);
    return testsupport::makeSelfSigned(request);
}

// The process is gone: exited and reaped (a zombie still has its /proc entry).
inline bool processGone(long pid) {
    return eventually([pid] { return !std::filesystem::exists("/proc/" + std::to_string(pid)); },
                      bridgeLimit);
}

inline bool allRunsGone(const Bridge& bridge) {
    QCoreApplication::processEvents();  // attempts already posted start their bridge first
    for (const auto& record : bridge.records())
        if (!processGone(record.value("pid", 0L)))
            return false;
    return true;
}

// The SHA-256 digest of the text's bytes.
inline platform::Bytes sha256Of(const std::string& text) {
    return platform::sha256(platform::Bytes(text.begin(), text.end()));
}

// Verifies a signature over a SHA-256 digest with the certificate's public key, with OpenSSL.
inline bool verifiesDigest(const platform::Bytes& certificateDER, const platform::Bytes& digest,
                           const platform::Bytes& signature) {
    const unsigned char* p = certificateDER.data();
    X509* x509 = d2i_X509(nullptr, &p, static_cast<long>(certificateDER.size()));
    if (!x509)
        return false;
    EVP_PKEY* key = X509_get0_pubkey(x509);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    bool ok = ctx && EVP_PKEY_verify_init(ctx) > 0 && EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha256()) > 0 &&
              EVP_PKEY_verify(ctx, signature.data(), signature.size(), digest.data(), digest.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    X509_free(x509);
    return ok;
}

}  // namespace cardtest
