// The plug-in end to end: the test host fires the event before signing with the plug-in as it ships; its link
// starts a second `quorvane`, which hands it to the running app (offscreen, on a bus of the test's, against
// the stand-in server where the wallet's holder has an account). The app logs in with the wallet (the
// stand-in confirms after a few polls), puts the signing certificate into the token store and says so; the
// plug-in returns without an alert, and pkcs11-tool, through p11-kit's proxy and the token module, reads the
// certificate that the server issued.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QProcess>
#include <fstream>
#include <sstream>

#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/AppVersionsFileLocationSelection.h"
#include "Quorvane/core/SigningSessionContext.h"
#include "acrobat/harness/AcrobatHost.h"
#include "acrobat/tests/AcrobatTestSupport.h"
#include "platform/qt/TlsTrust.h"
#include "platform/qt/UserDefaults.h"
#include "platform/testing/Await.h"
#include "platform/testing/Eventually.h"
#include "platform/tokens/TokenStore.h"
#include "sim/testing/SimServerProcess.h"
#include "sim/testing/WalletAccount.h"

namespace {

using namespace acrobathost;
using namespace acrobattest;
using namespace std::chrono_literals;
using platform::Bytes;
using platform::json::Json;

[[maybe_unused]] auto* const bus = ::testing::AddGlobalTestEnvironment(new TestBus);

constexpr const char* proxyModule = "/usr/lib/x86_64-linux-gnu/p11-kit-proxy.so";
const std::string walletToken = SigningSessionContext::walletTokenIdentifier;

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string hex(std::string_view text) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : text) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// The app as the desktop runs it for this test's user (the XDG folders of the test process): every server
// environment is the stand-in, and the user chose to log in with the wallet always.
class App {
  public:
    explicit App(const simtest::SimServerProcess& server) {
        const auto folder = testsupport::makeTempDir("deployment");
        const std::string host = "localhost:" + std::to_string(server.port());
        Json environments = Json::object();
        for (const char* name : {"TA", "QA", "RC", "INT", "PROD"})
            environments[name] = host;
        std::ofstream(folder / "quorvane-deployment.json")
            << Json{{"environments", environments}, {"extraCACertificates", server.caFile().native()}}.dump();

        auto defaults = platform::UserDefaults::standard();
        defaults.setString(AppSettings::authenticationMethodSelectionModeKey, "alwaysWallet");
        defaults.setString(AppVersionsFileLocationSelection::fileLocationKey, "testNoUpdate");

        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("QUORVANE_DEPLOYMENT_CONFIG",
                           QString::fromStdString((folder / "quorvane-deployment.json").native()));
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QString::fromStdString(program().native()), {});
    }
    ~App() {
        if (process_.state() == QProcess::NotRunning)
            return;
        ::kill(static_cast<pid_t>(process_.processId()), SIGTERM);
        if (!process_.waitForFinished(30000)) {
            process_.kill();
            process_.waitForFinished(10000);
        }
    }

    static std::filesystem::path program() { return testsupport::binaryDir() / "quorvane"; }
    std::string log() const {
        return readFile(std::filesystem::path(std::getenv("XDG_STATE_HOME")) / "quorvane" / "logs" /
                        "ui.log");
    }
    bool launched() {
        return testsupport::eventually(
            [&] { return log().find("Application launched") != std::string::npos; }, 30s);
    }

  private:
    QProcess process_;
};

// pkcs11-tool through p11-kit's proxy module with the build's registration of the token module, as this
// user's applications reach the token. p11-kit reads no per-user registration for root: as root it runs in a
// user namespace as an ordinary user.
std::pair<int, std::string> pkcs11Tool(const std::filesystem::path& home, const QStringList& arguments) {
    const auto modules = home / ".config" / "pkcs11" / "modules";
    std::filesystem::create_directories(modules);
    std::filesystem::copy_file(
        testsupport::binaryDir().parent_path() / "p11-kit" / "modules" / "pellin.module",
        modules / "pellin.module", std::filesystem::copy_options::overwrite_existing);
    QStringList argv;
    if (::geteuid() == 0)
        argv << "unshare"
             << "--user"
             << "--map-user=1000"
             << "--map-group=1000";
    argv << "pkcs11-tool"
         << "--module" << proxyModule;
    argv << arguments;
    QProcess tool;
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", QString::fromStdString(home.native()));
    environment.insert("XDG_CONFIG_HOME", QString::fromStdString((home / ".config").native()));
#ifdef QUORVANE_SANITIZED
    // pkcs11-tool is not instrumented, the module it loads is: the sanitizer's runtime comes with the module.
    environment.insert("ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0");
#endif
    tool.setProcessEnvironment(environment);
    tool.setProcessChannelMode(QProcess::MergedChannels);
    tool.start(argv.takeFirst(), argv);
    const bool ended = tool.waitForFinished(120000);
    const int status = ended && tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
    return {status, tool.readAll().toStdString()};
}

TEST(AcrobatEndToEnd, TheReaderIsHeldUntilTheAppHasPutTheSigningCertificateIntoTheToken) {
    if (!std::filesystem::exists(proxyModule))
        GTEST_SKIP() << "no p11-kit proxy module";
    simtest::SimServerProcess server({"--retry-after-ms", "200"});
    ASSERT_TRUE(platform::addTrustedCACertificates(server.caFile()));
    const Bytes certificate = simtest::walletAccount(server);

    App app(server);
    ASSERT_TRUE(app.launched()) << app.log();
    // The desktop hands the plug-in's link to the app: a later start of the program passes it to the first.
    Opener opener("env QT_QPA_PLATFORM=offscreen '" + App::program().native() + "'");

    AcrobatHost host;
    ASSERT_EQ(host.load(pluginPath()), Stage::loaded);
    const Firing firing = host.fire();
    EXPECT_TRUE(firing.alerts.empty()) << app.log();
    EXPECT_NE(app.log().find("Received deeplink quorvane://certificate"), std::string::npos) << app.log();

    auto configuration = platform::tokens::TokenStore().configuration(walletToken);
    ASSERT_TRUE(configuration) << app.log();
    EXPECT_EQ(configuration->certificateData(), certificate);

    const auto home = testsupport::makeTempDir("p11-home");
    auto [listed, listing] = pkcs11Tool(home, {"--list-objects", "--type", "cert"});
    ASSERT_EQ(listed, 0) << listing;
    EXPECT_NE(listing.find("Certificate Object"), std::string::npos) << listing;
    EXPECT_NE(listing.find(walletToken), std::string::npos) << listing;
    const auto read =
        pkcs11Tool(home, {"--token-label", QString::fromStdString(walletToken), "--read-object", "--type",
                          "cert", "--id", QString::fromStdString(hex(walletToken)), "--output-file",
                          QString::fromStdString((home / "cert.der").native())});
    ASSERT_EQ(read.first, 0) << read.second;
    EXPECT_EQ(platform::toBytes(readFile(home / "cert.der")), certificate);
}

}  // namespace
