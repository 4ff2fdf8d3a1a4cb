#pragma once
// What the end-to-end tests that sign share: bulk links for documents and the check of their signatures with
// OpenSSL, and pkcs11-tool reaching the token through p11-kit as this user's applications do.
#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <QUrl>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "endtoend/LiveRig.h"
#include "platform/Codecs.h"
#include "platform/testing/TestEnvironment.h"
#include "relay/testing/RelayTestSupport.h"

namespace endtoend {

using platform::Bytes;

inline std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (true) {
        auto end = text.find(',', start);
        pieces.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return pieces;
        start = end + 1;
    }
}

// True when the signature (Base64url, DER or raw r‖s) verifies over the digest with the certificate's key.
inline bool verifiesWith(const Bytes& certificateDER, const Bytes& digest, const Bytes& signature) {
    const unsigned char* p = certificateDER.data();
    std::unique_ptr<X509, decltype(&X509_free)> certificate(
        d2i_X509(nullptr, &p, static_cast<long>(certificateDER.size())), X509_free);
    return certificate && relaytest::verifies(X509_get0_pubkey(certificate.get()), digest, signature);
}

struct Document {
    std::string name;
    Bytes hash;
};

inline std::vector<Document> documents(int count) {
    std::vector<Document> out;
    for (int i = 0; i < count; ++i)
        out.push_back(
            {"document-" + std::to_string(i) + ".pdf", Bytes(32, static_cast<std::uint8_t>(0x30 + i))});
    return out;
}

inline std::string percentEncoded(const std::string& text) {
    return QUrl::toPercentEncoding(QString::fromStdString(text)).toStdString();
}

// quorvane://bulk with the request for the token and the documents, and the callback.
inline std::string bulkLink(const std::string& tokenId, const std::vector<Document>& docs,
                            const std::string& callback) {
    Json signData = Json::array();
    for (const auto& doc : docs)
        signData.push_back(Json{{"hash_base64", platform::base64Encoded(doc.hash)}, {"docName", doc.name}});
    const std::string request = Json{{"version", "1"}, {"tokenId", tokenId}, {"signData", signData}}.dump();
    return "quorvane://bulk?request=" + percentEncoded(platform::base64Encoded(platform::toBytes(request))) +
           "&callback=" + percentEncoded(callback);
}

// pkcs11-tool through p11-kit's proxy module, as this user's applications reach the token: the build's
// registration in a configuration folder of its own, and an xdg-open that hands the token's deep link to the
// app (this process) as the desktop does, through a second `quorvane`. p11-kit reads no per-user registration
// for root: as root, pkcs11-tool runs in a user namespace as an ordinary user who is root outside, which is
// what the relay's peer check sees.
class Pkcs11Tool {
  public:
    // The registration names the module that ships, or another build of it.
    explicit Pkcs11Tool(const std::optional<std::filesystem::path>& module = std::nullopt) {
        std::filesystem::create_directories(home_ / ".config" / "pkcs11" / "modules");
        std::string registration = relaytest::readFile(testsupport::binaryDir().parent_path() / "p11-kit" /
                                                       "modules" / "pellin.module");
        if (module) {
            const std::string key = "module: ";
            const auto start = registration.find(key) + key.size();
            registration.replace(start, registration.find('\n', start) - start, module->native());
        }
        std::ofstream(home_ / ".config" / "pkcs11" / "modules" / "pellin.module") << registration;
        std::filesystem::create_directories(home_ / "bin");
        std::ofstream(home_ / "bin" / "xdg-open")
            << "#!/bin/sh\nexec '" << (testsupport::binaryDir() / "quorvane").native() << "' \"$@\"\n";
        std::filesystem::permissions(home_ / "bin" / "xdg-open", std::filesystem::perms::owner_all);
    }

    relaytest::ProgramResult run(std::vector<std::string> arguments) const {
        std::vector<std::string> argv;
        if (::geteuid() == 0)
            argv = {"unshare", "--user", "--map-user=1000", "--map-group=1000"};
        argv.insert(argv.end(), {"pkcs11-tool", "--module", proxyModule});
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const char* path = std::getenv("PATH");
        return relaytest::runProgram(
            argv,
            {{"HOME", home_.native()},
             {"XDG_CONFIG_HOME", (home_ / ".config").native()},
             {"PATH", (home_ / "bin").native() + ":" + (path ? path : "/usr/bin:/bin")}},
            std::nullopt, 120s);
    }

    const std::filesystem::path& home() const { return home_; }
    static constexpr const char* proxyModule = "/usr/lib/x86_64-linux-gnu/p11-kit-proxy.so";

  private:
    std::filesystem::path home_ = testsupport::makeTempDir("p11-home");
};

}  // namespace endtoend
