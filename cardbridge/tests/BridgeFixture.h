#pragma once
// Test support: the stand-in bridge with a setup written by the test, its records, and waiting helpers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QCoroTask>
#include <QElapsedTimer>
#include <QThread>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cardbridge/VexoConnectInvoker.h"
#include "platform/Codecs.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"

namespace cardtest {

using Json = nlohmann::ordered_json;

inline std::filesystem::path bridgeProgram() {
    return testsupport::binaryDir() / pindle::bridgeResourceName;
}

// A card of the stand-in bridge, with its certificate and key made for the test.
inline Json softCard(const testsupport::Issued& issued, const std::string& pin = "1234", int tries = 3) {
    Json card = Json::object();
    card["certificates"] = Json::array({issued.certificatePEM()});
    card["key"] = issued.privateKeyPEM();
    card["pin"] = pin;
    card["tries"] = tries;
    return card;
}

inline Json reader(const std::string& type, const Json& card = Json()) {
    Json r = Json::object();
    r["name"] = "Reader";
    r["type"] = type;
    r["cardType"] = "eid";
    r["card"] = card;
    return r;
}

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

// The stand-in bridge's setup and state for one test. The bridge program is pointed at explicitly.
class Bridge {
  public:
    Bridge() : dir_(testsupport::makeTempDir("bridge")) {
        pindle::VexoConnectInvoker::setExecutableLocationOverride(bridgeProgram());
        install();
    }
    ~Bridge() {
        unsetenv("QUORVANE_BRIDGE_SETUP");
        pindle::VexoConnectInvoker::setExecutableLocationOverride(std::nullopt);
    }

    Json& setup() { return setup_; }
    void addReader(const Json& r) { setup_["readers"].push_back(r); }
    void script(const Json& steps) { setup_["script"] = steps; }

    // Writes the setup and starts from a fresh state.
    void install() {
        std::ofstream(setupPath()) << setup_.dump(2);
        std::filesystem::remove(statePath());
        setenv("QUORVANE_BRIDGE_SETUP", setupPath().c_str(), 1);
    }

    // Read under the bridge's lock, so a bridge that is writing it is never seen half-way.
    Json state() const {
        int fd = ::open(statePath().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return Json::object();
        ::flock(fd, LOCK_SH);
        std::string text;
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        ::close(fd);
        Json state = Json::parse(text, nullptr, false);
        return state.is_object() ? state : Json::object();
    }
    std::size_t runs() const { return state().value("runs", std::size_t{0}); }
    std::vector<Json> records() const {
        std::vector<Json> out;
        for (const auto& r : state().value("records", Json::array()))
            out.push_back(r);
        return out;
    }
    // Every byte the run read from its input.
    platform::Bytes input(std::size_t run) const {
        return platform::base64Decoded(records().at(run).value("input", std::string()))
            .value_or(platform::Bytes{});
    }
    // The JSON request of a run.
    Json request(std::size_t run) const {
        auto bytes = input(run);
        if (bytes.size() < 4)
            return Json();
        return Json::parse(bytes.begin() + 4, bytes.end(), nullptr, false);
    }

  private:
    std::filesystem::path setupPath() const { return dir_ / "setup.json"; }
    std::filesystem::path statePath() const { return dir_ / "setup.json.state"; }
    std::filesystem::path dir_;
    Json setup_ = Json{{"readers", Json::array()}};
};

// Runs the event loop until the condition holds or 10 s have passed.
template <class Condition>
bool eventually(Condition condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > 10000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// The process is gone: exited and reaped (a zombie still has its /proc entry).
inline bool processGone(long pid) {
    return eventually([pid] { return !std::filesystem::exists("/proc/" + std::to_string(pid)); });
}

inline bool allRunsGone(const Bridge& bridge) {
    QCoreApplication::processEvents();  // attempts already posted start their bridge first
    for (const auto& record : bridge.records())
        if (!processGone(record.value("pid", 0L)))
            return false;
    return true;
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

namespace detail {
template <class T>
QCoro::Task<std::optional<T>> capture(QCoro::Task<T> task, std::exception_ptr* error) {
    try {
        co_return co_await std::move(task);
    } catch (...) {
        *error = std::current_exception();
    }
    co_return std::nullopt;
}
}  // namespace detail

// Runs the task to its end in a nested event loop and gives its value or throws its error (QCoro's waitFor
// alone never returns when the task throws).
template <class T>
T await(QCoro::Task<T>&& task) {
    std::exception_ptr error;
    auto value = QCoro::waitFor(detail::capture(std::move(task), &error));
    if (error)
        std::rethrow_exception(error);
    return std::move(*value);
}

}  // namespace cardtest
