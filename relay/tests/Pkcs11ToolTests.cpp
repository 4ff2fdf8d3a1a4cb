// End to end with the applications that use PKCS#11 modules: opensc's pkcs11-tool, GnuTLS (p11tool, certtool)
// and NSS (modutil, certutil) list the certificate and sign through the real relay and a fake app, once per
// signature; the signatures verify with OpenSSL. p11-kit lists the module from its registration file. The
// signing runs use the test build's module (a fifth of the real waits).
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <fstream>
#include <future>

#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"
#include "platform/tokens/TokenStore.h"
#include "relay/testing/RelayTestSupport.h"

using namespace relaytest;
using platform::tokens::TokenConfiguration;
using platform::tokens::TokenStore;

namespace {

// The build's p11-kit registration, pointing at `module`.
void writeRegistration(const std::filesystem::path& destination, const std::filesystem::path& module) {
    std::string text =
        readFile(testsupport::binaryDir().parent_path() / "p11-kit" / "modules" / "pellin.module");
    const std::string key = "module: ";
    auto start = text.find(key);
    ASSERT_NE(start, std::string::npos) << text;
    start += key.size();
    text.replace(start, text.find('\n', start) - start, module.native());
    std::ofstream(destination) << text;
}

void writeBytes(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes readBytes(const std::filesystem::path& path) {
    std::string text = readFile(path);
    return Bytes(text.begin(), text.end());
}

// True when the certificate request (PEM or DER) is signed by the key (OpenSSL).
bool requestIsSignedBy(const std::filesystem::path& path, EVP_PKEY* key) {
    std::string text = readFile(path);
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())),
                                                  BIO_free);
    X509_REQ* request = text.find("-----BEGIN") != std::string::npos
                            ? PEM_read_bio_X509_REQ(bio.get(), nullptr, nullptr, nullptr)
                            : d2i_X509_REQ_bio(bio.get(), nullptr);
    std::unique_ptr<X509_REQ, decltype(&X509_REQ_free)> owned(request, X509_REQ_free);
    return request && X509_REQ_verify(request, key) == 1;
}

// A token configuration for a new P-256 certificate.
testsupport::Issued installToken(const std::string& instanceID) {
    TokenStore store;
    store.installDriver();
    store.removeAllConfigurations();
    testsupport::CertificateRequest request;
    request.commonName = instanceID;
    auto issued = testsupport::makeSelfSigned(request);
    store.writeConfiguration(TokenConfiguration::forCertificate(instanceID, issued.der()));
    return issued;
}

}  // namespace

TEST(Pkcs11Tool, SignsADigestWithOneExchangeAndReportsARefusedSignatureAsSuch) {
    FakeOpener::shared().clear();
    TokenStore store;
    store.installDriver();
    store.removeAllConfigurations();
    testsupport::CertificateRequest request;
    request.commonName = "End to end";
    auto issued = testsupport::makeSelfSigned(request);
    store.writeConfiguration(TokenConfiguration::forCertificate("CARD-E2E", issued.der()));

    xpc::ReactorThread thread;
    BrokelProcess brokel;
    auto app = std::make_shared<FakeApp>(thread.reactor(), issued.key);
    const std::string modulePath = testModulePath().native();

    auto listed = runProgram({"pkcs11-tool", "--module", modulePath, "--list-token-slots"});
    ASSERT_EQ(listed.status, 0) << listed.output;
    EXPECT_NE(listed.output.find("token label        : CARD-E2E"), std::string::npos) << listed.output;

    auto folder = testsupport::makeTempDir("pkcs11-tool");
    Bytes digest(32);
    for (std::size_t i = 0; i < digest.size(); ++i)
        digest[i] = static_cast<std::uint8_t>(255 - i);
    writeBytes(folder / "digest", digest);
    app->connectAndRegister();
    auto signed_ =
        runProgram({"pkcs11-tool", "--module", modulePath, "--token-label", "CARD-E2E", "--sign",
                    "--mechanism", "ECDSA", "--id", toHex("CARD-E2E"), "--input-file",
                    (folder / "digest").native(), "--output-file", (folder / "signature").native()});
    ASSERT_EQ(signed_.status, 0) << signed_.output;
    Bytes signature;
    {
        std::string text = readFile(folder / "signature");
        signature.assign(text.begin(), text.end());
    }
    EXPECT_EQ(signature.size(), 64u);
    EXPECT_TRUE(verifies(issued.key.get(), digest, signature));
    ASSERT_EQ(app->requests().size(), 1u);
    EXPECT_EQ(app->requests()[0].hash, digest);
    EXPECT_EQ(app->requests()[0].instanceID, "CARD-E2E");
    // The opener runs detached: it may write its line after the signature is back.
    EXPECT_TRUE(eventually([] { return FakeOpener::shared().urls().size() >= 2; }));
    EXPECT_EQ(FakeOpener::shared().urls(), (std::vector<std::string>{"quorvane://", "quorvane://sign"}));

    // A signature the app refuses fails. pkcs11-tool then tries the multi-part functions and reports what
    // they answer: that no such operation is under way, not that the function does not exist.
    auto refusing = std::make_shared<FakeApp>(thread.reactor(), issued.key);
    refusing->setAnswer(FakeApp::Answer::failure);
    refusing->connectAndRegister();
    auto refused = runProgram({"pkcs11-tool", "--module", modulePath, "--token-label", "CARD-E2E", "--sign",
                               "--mechanism", "ECDSA", "--id", toHex("CARD-E2E"), "--input-file",
                               (folder / "digest").native(), "--output-file", (folder / "refused").native()});
    EXPECT_NE(refused.status, 0) << refused.output;
    EXPECT_EQ(refused.output.find("FUNCTION_NOT_SUPPORTED"), std::string::npos) << refused.output;
    EXPECT_NE(refused.output.find("CKR_OPERATION_NOT_INITIALIZED"), std::string::npos) << refused.output;
    EXPECT_EQ(refusing->requests().size(), 1u);
    // Its opener is done before the next test clears the record.
    EXPECT_TRUE(eventually([] { return FakeOpener::shared().urls().size() == 3; }));
}

TEST(Pkcs11Tool, P11KitListsTheRegisteredModuleAndItsToken) {
    if (auto reason = p11KitProgramsUnavailable())
        GTEST_SKIP() << *reason;
    // p11-kit reads a user's module registrations, but never root's: as root, ask as another user.
    std::optional<uid_t> user;
    if (::geteuid() == 0)
        user = 65534;
    auto home = testsupport::makeTempDir("p11-home");
    std::filesystem::create_directories(home / ".config" / "pkcs11" / "modules");
    auto programs = copyProgramsForOtherUsers(home / "programs");
    writeRegistration(home / ".config" / "pkcs11" / "modules" / "pellin.module", programs.module);
    auto data = home / "data";
    TokenStore store(data / "quorvane" / "tokens" / platform::tokens::driverClassID);
    store.installDriver();
    testsupport::CertificateRequest request;
    store.writeConfiguration(
        TokenConfiguration::forCertificate("CARD-P11KIT", testsupport::makeSelfSigned(request).der()));
    if (user) {
        // The registration and the store are the other user's own.
        letOtherUsersPass(home);
        giveToUser(home, *user);
    }
    auto result = runProgram({"p11-kit", "list-modules"},
                             {{"HOME", home.native()},
                              {"XDG_CONFIG_HOME", (home / ".config").native()},
                              {"XDG_DATA_HOME", data.native()}},
                             user);
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("pellin: " + programs.module.native()), std::string::npos) << result.output;
    EXPECT_NE(result.output.find("token: CARD-P11KIT"), std::string::npos) << result.output;
}

// Through p11-kit's proxy module, as applications that use p11-kit reach the token. p11-kit ignores root's
// own registrations, so as root every party (relay, app peer, pkcs11-tool) runs as another user in folders of
// its own.
TEST(Pkcs11Tool, SignsThroughTheP11KitProxy) {
    if (auto reason = p11KitProgramsUnavailable())
        GTEST_SKIP() << *reason;
    const std::string proxy = "/usr/lib/x86_64-linux-gnu/p11-kit-proxy.so";
    if (!std::filesystem::exists(proxy))
        GTEST_SKIP() << "no p11-kit proxy module";
    std::optional<uid_t> user;
    if (::geteuid() == 0)
        user = 65534;
    uid_t owner = user.value_or(::geteuid());

    auto base = testsupport::makeTempDir("p11-proxy");
    letOtherUsersPass(base);
    auto runtime = base / "runtime", data = base / "data", config = base / "config", work = base / "work";
    for (const auto& folder : {runtime, data, config / "pkcs11" / "modules", work, base / "state"})
        std::filesystem::create_directories(folder);
    auto programs = copyProgramsForOtherUsers(base / "programs", testModulePath());
    writeRegistration(config / "pkcs11" / "modules" / "pellin.module", programs.module);
    TokenStore store(data / "quorvane" / "tokens" / platform::tokens::driverClassID);
    store.installDriver();
    testsupport::CertificateRequest request;
    request.commonName = "Through p11-kit";
    auto issued = testsupport::makeSelfSigned(request);
    store.writeConfiguration(TokenConfiguration::forCertificate("CARD-PROXY", issued.der()));
    std::ofstream(work / "key.pem") << issued.privateKeyPEM();
    Bytes digest(32, 0x42);
    writeBytes(work / "digest", digest);
    std::filesystem::permissions(runtime, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    giveToUser(base, owner);

    std::vector<std::pair<std::string, std::string>> environment = {
        {"XDG_RUNTIME_DIR", runtime.native()},
        {"XDG_DATA_HOME", data.native()},
        {"XDG_CONFIG_HOME", config.native()},
        {"XDG_STATE_HOME", (base / "state").native()},
        {"HOME", work.native()}};
    BrokelProcess::Options options;
    options.log = work / "brokel_std.txt";
    options.environment = environment;
    options.user = user;
    options.program = programs.brokel;
    BrokelProcess brokel(options);
    ASSERT_TRUE(brokel.waitForMessage("info: Listener resumed"));
    BackgroundProgram app(
        {programs.app.native(), (work / "key.pem").native(), "1", (work / "requests.txt").native()},
        environment, user);
    ASSERT_TRUE(brokel.waitForMessage("info: App is ready signal buffered until token client connects"));

    auto result = runProgram({"pkcs11-tool", "--module", proxy, "--token-label", "CARD-PROXY", "--sign",
                              "--mechanism", "ECDSA", "--id", toHex("CARD-PROXY"), "--input-file",
                              (work / "digest").native(), "--output-file", (work / "signature").native()},
                             environment, user);
    ASSERT_EQ(result.status, 0) << result.output << readFile(brokel.logPath());
    EXPECT_EQ(app.waitForExit(), 0);
    std::string text = readFile(work / "signature");
    EXPECT_TRUE(verifies(issued.key.get(), digest, Bytes(text.begin(), text.end())));
    std::string expected;
    for (int i = 0; i < 32; ++i)
        expected += "42";
    EXPECT_EQ(readFile(work / "requests.txt"), expected + "\n");  // one exchange
}

// Two applications sign different digests at the same moment: one waits for the other's exchange, and each
// gets a signature over its own digest.
TEST(Pkcs11Tool, TwoProcessesSigningAtOnceEachGetASignatureOverTheirOwnDigest) {
    auto issued = installToken("CARD-RACE");
    BrokelProcess brokel;
    ServingApp app(issued.key);
    auto folder = testsupport::makeTempDir("pkcs11-race");
    const int rounds = 3;
    for (int round = 0; round < rounds; ++round) {
        std::vector<Bytes> digests = {Bytes(32, static_cast<std::uint8_t>(2 * round + 1)),
                                      Bytes(32, static_cast<std::uint8_t>(2 * round + 2))};
        std::vector<std::future<ProgramResult>> runs;
        for (std::size_t i = 0; i < digests.size(); ++i) {
            auto input = folder / ("digest" + std::to_string(i));
            auto output = folder / ("signature" + std::to_string(i));
            writeBytes(input, digests[i]);
            std::filesystem::remove(output);
            runs.push_back(std::async(std::launch::async, [=] {
                return runProgram({"pkcs11-tool", "--module", testModulePath().native(), "--token-label",
                                   "CARD-RACE", "--sign", "--mechanism", "ECDSA", "--id", toHex("CARD-RACE"),
                                   "--input-file", input.native(), "--output-file", output.native()});
            }));
        }
        for (std::size_t i = 0; i < digests.size(); ++i) {
            auto result = runs[i].get();
            ASSERT_EQ(result.status, 0) << round << " " << i << result.output;
            auto signature = readBytes(folder / ("signature" + std::to_string(i)));
            EXPECT_TRUE(verifies(issued.key.get(), digests[i], signature)) << round << " " << i;
        }
    }
    EXPECT_EQ(app.requests().size(), 2u * rounds);  // one exchange per signature
}

TEST(Pkcs11Consumers, GnuTLSListsTheCertificateAndSignsOncePerSignature) {
    if (auto reason = p11KitProgramsUnavailable())
        GTEST_SKIP() << *reason;
    auto issued = installToken("CARD-GNUTLS");
    BrokelProcess brokel;
    ServingApp app(issued.key);
    const std::string modulePath = testModulePath().native();

    auto listed = runProgram({"p11tool", "--provider", modulePath, "--list-all"});
    ASSERT_EQ(listed.status, 0) << listed.output;
    EXPECT_NE(listed.output.find("object=CARD-GNUTLS-leaf;type=cert"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("object=CARD-GNUTLS;type=private"), std::string::npos) << listed.output;

    auto folder = testsupport::makeTempDir("certtool");
    std::ofstream(folder / "template") << "cn = \"Through GnuTLS\"\n";
    auto request =
        runProgram({"certtool", "--generate-request", "--provider", modulePath, "--load-privkey",
                    "pkcs11:token=CARD-GNUTLS;object=CARD-GNUTLS;type=private", "--template",
                    (folder / "template").native(), "--outfile", (folder / "request.pem").native()});
    ASSERT_EQ(request.status, 0) << request.output;
    EXPECT_TRUE(requestIsSignedBy(folder / "request.pem", issued.key.get()));
    EXPECT_EQ(app.requests().size(), 1u);
}

TEST(Pkcs11Consumers, NSSListsTheCertificateAndSignsOncePerSignature) {
    if (auto reason = p11KitProgramsUnavailable())
        GTEST_SKIP() << *reason;
    auto issued = installToken("CARD-NSS");
    BrokelProcess brokel;
    ServingApp app(issued.key);
    auto folder = testsupport::makeTempDir("nss");
    const std::string database = "sql:" + (folder / "db").native();
    std::filesystem::create_directories(folder / "db");

    auto created = runProgram({"certutil", "-N", "-d", database, "--empty-password"});
    ASSERT_EQ(created.status, 0) << created.output;
    auto added = runProgram(
        {"modutil", "-add", "pellin", "-libfile", testModulePath().native(), "-dbdir", database, "-force"});
    ASSERT_EQ(added.status, 0) << added.output;
    auto listed = runProgram({"certutil", "-L", "-d", database, "-h", "all"});
    ASSERT_EQ(listed.status, 0) << listed.output;
    EXPECT_NE(listed.output.find("CARD-NSS:CARD-NSS-leaf"), std::string::npos) << listed.output;

    auto request = runProgram({"certutil", "-R", "-d", database, "-h", "CARD-NSS", "-k", toHex("CARD-NSS"),
                               "-s", "CN=Through NSS", "-o", (folder / "request.der").native()});
    ASSERT_EQ(request.status, 0) << request.output;
    EXPECT_TRUE(requestIsSignedBy(folder / "request.der", issued.key.get()));
    EXPECT_EQ(app.requests().size(), 1u);
}
