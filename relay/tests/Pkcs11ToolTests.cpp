// End to end with outside tools: opensc's pkcs11-tool signs a digest with the module through the real relay
// and a fake app; the signature verifies with OpenSSL. p11-kit lists the module from its registration file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"
#include "platform/tokens/TokenStore.h"
#include "relay/testing/RelayTestSupport.h"

using namespace relaytest;
using platform::tokens::TokenConfiguration;
using platform::tokens::TokenStore;

namespace {

std::string modulePath() {
    return (testsupport::binaryDir().parent_path() / "lib" / "libpellin-pkcs11.so").native();
}

std::string hex(const std::string& text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// The build folder may be private to root (a clone in a 0700 folder): programs that run as another user are
// copied to `folder` first. Returns the copies of the module, the relay and the test app.
struct SharedPrograms {
    std::filesystem::path module, brokel, app;
};
SharedPrograms copyProgramsFor(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    SharedPrograms copies{folder / "libpellin-pkcs11.so", folder / "brokel", folder / "relay_test_app"};
    std::filesystem::copy_file(modulePath(), copies.module);
    std::filesystem::copy_file(testsupport::binaryDir() / "brokel", copies.brokel);
    std::filesystem::copy_file(testsupport::binaryDir() / "relay_test_app", copies.app);
    for (const auto& path : {folder, copies.module, copies.brokel, copies.app})
        std::filesystem::permissions(
            path, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                      std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                      std::filesystem::perms::others_exec);
    return copies;
}

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

}  // namespace

TEST(Pkcs11Tool, SignsADigestThatVerifiesWithOneExchange) {
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
    std::vector<std::pair<std::string, std::string>> environment = {{"QUORVANE_TIME_SCALE", "0.2"}};

    auto listed = runProgram({"pkcs11-tool", "--module", modulePath(), "--list-token-slots"}, environment);
    ASSERT_EQ(listed.status, 0) << listed.output;
    EXPECT_NE(listed.output.find("token label        : CARD-E2E"), std::string::npos) << listed.output;

    auto folder = testsupport::makeTempDir("pkcs11-tool");
    Bytes digest(32);
    for (std::size_t i = 0; i < digest.size(); ++i)
        digest[i] = static_cast<std::uint8_t>(255 - i);
    writeBytes(folder / "digest", digest);
    app->connectAndRegister();
    auto signed_ =
        runProgram({"pkcs11-tool", "--module", modulePath(), "--token-label", "CARD-E2E", "--sign",
                    "--mechanism", "ECDSA", "--id", hex("CARD-E2E"), "--input-file",
                    (folder / "digest").native(), "--output-file", (folder / "signature").native()},
                   environment);
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
    EXPECT_EQ(FakeOpener::shared().urls(), (std::vector<std::string>{"quorvane://", "quorvane://sign"}));
}

TEST(Pkcs11Tool, P11KitListsTheRegisteredModuleAndItsToken) {
    // p11-kit reads a user's module registrations, but never root's: as root, ask as another user.
    std::optional<uid_t> user;
    if (::geteuid() == 0)
        user = 65534;
    auto home = testsupport::makeTempDir("p11-home");
    std::filesystem::create_directories(home / ".config" / "pkcs11" / "modules");
    auto programs = copyProgramsFor(home / "programs");
    writeRegistration(home / ".config" / "pkcs11" / "modules" / "pellin.module", programs.module);
    auto data = home / "data";
    TokenStore store(data / "quorvane" / "tokens" / platform::tokens::driverClassID);
    store.installDriver();
    testsupport::CertificateRequest request;
    store.writeConfiguration(
        TokenConfiguration::forCertificate("CARD-P11KIT", testsupport::makeSelfSigned(request).der()));
    if (user) {
        // The other user must be able to read the registration and the store.
        for (auto path = home; path != path.root_path(); path = path.parent_path())
            std::filesystem::permissions(path, std::filesystem::perms::others_exec,
                                         std::filesystem::perm_options::add);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(home))
            std::filesystem::permissions(
                entry.path(),
                entry.is_directory() ? std::filesystem::perms::all : std::filesystem::perms::others_read,
                std::filesystem::perm_options::add);
        std::filesystem::permissions(home, std::filesystem::perms::others_read,
                                     std::filesystem::perm_options::add);
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
    const std::string proxy = "/usr/lib/x86_64-linux-gnu/p11-kit-proxy.so";
    if (!std::filesystem::exists(proxy))
        GTEST_SKIP() << "no p11-kit proxy module";
    std::optional<uid_t> user;
    if (::geteuid() == 0)
        user = 65534;
    uid_t owner = user.value_or(::geteuid());

    auto base = testsupport::makeTempDir("p11-proxy");
    for (auto path = base; path != path.root_path(); path = path.parent_path())
        std::filesystem::permissions(path, std::filesystem::perms::others_exec,
                                     std::filesystem::perm_options::add);
    auto runtime = base / "runtime", data = base / "data", config = base / "config", work = base / "work";
    for (const auto& folder : {runtime, data, config / "pkcs11" / "modules", work, base / "state"})
        std::filesystem::create_directories(folder);
    auto programs = copyProgramsFor(base / "programs");
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
    for (const auto& entry : std::filesystem::recursive_directory_iterator(base))
        ::chown(entry.path().c_str(), owner, owner);
    ::chown(base.c_str(), owner, owner);

    std::vector<std::pair<std::string, std::string>> environment = {
        {"XDG_RUNTIME_DIR", runtime.native()},
        {"XDG_DATA_HOME", data.native()},
        {"XDG_CONFIG_HOME", config.native()},
        {"XDG_STATE_HOME", (base / "state").native()},
        {"HOME", work.native()},
        {"QUORVANE_TIME_SCALE", "0.2"}};
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
                              "--mechanism", "ECDSA", "--id", hex("CARD-PROXY"), "--input-file",
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
