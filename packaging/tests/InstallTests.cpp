// The installed system on a user's machine, installed two ways from the same install rules: `cmake --install`
// into a prefix of the test's, and the Debian package that CPack makes, installed by dpkg into an empty root.
// Either way the installed files name the installed programs, and the installed app, started as the desktop
// starts it against the stand-in server, puts the signing certificate into the token, which another
// application reads through p11-kit's proxy and the installed token module. The package keeps the deployment
// configuration as a conffile and leaves nothing behind once purged.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

#include "Quorvane/core/AppSettings.h"
#include "Quorvane/core/AppVersionsFileLocation.h"
#include "Quorvane/core/HalcyraEnvironment.h"
#include "Quorvane/core/SigningSessionContext.h"
#include "platform/DeploymentConfiguration.h"
#include "platform/Json.h"
#include "platform/LaunchAgent.h"
#include "platform/qt/TlsTrust.h"
#include "platform/qt/UserDefaults.h"
#include "platform/testing/Eventually.h"
#include "platform/testing/PrivateBus.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/tokens/TokenStore.h"
#include "relay/testing/RelayTestSupport.h"
#include "sim/testing/SimServerProcess.h"
#include "sim/testing/WalletAccount.h"

namespace {

using namespace std::chrono_literals;
using relaytest::ProgramResult;
using relaytest::readFile;
using relaytest::runProgram;
using testsupport::ScopedVariable;
using Environment = std::vector<std::pair<std::string, std::string>>;
using Arguments = std::vector<std::string>;

const std::string walletToken = SigningSessionContext::walletTokenIdentifier;

bool isExecutable(const std::filesystem::path& path) {
    return std::filesystem::is_regular_file(path) && ::access(path.c_str(), X_OK) == 0;
}

Arguments operator+(Arguments first, const Arguments& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// An installation as the user's machine has it: where its files are, and how its programs are run.
class Installation {
  public:
    virtual ~Installation() = default;

    // How installing went wrong, or nothing.
    const std::string& failure() const { return failure_; }
    // The prefix as the installed files name it.
    const std::filesystem::path& prefix() const { return prefix_; }
    // Where a file that the installation names by its installed path lies in this machine's file system.
    virtual std::filesystem::path onDisk(const std::filesystem::path& installed) const { return installed; }
    // The same, after the links that the installed path ends in, as the installed system follows them.
    std::filesystem::path resolved(std::filesystem::path installed) const {
        while (std::filesystem::is_symlink(onDisk(installed))) {
            const auto target = std::filesystem::read_symlink(onDisk(installed));
            installed = target.is_absolute() ? target : installed.parent_path() / target;
        }
        return onDisk(installed);
    }
    // The command that runs a program as the user does, with the installed files at their installed paths.
    virtual Arguments command(const Arguments& argv) const { return argv; }
    // pkcs11-tool through p11-kit's proxy module, as the applications of the user of `home` reach the token.
    virtual ProgramResult pkcs11Tool(const std::filesystem::path& home, const Environment& environment,
                                     const Arguments& arguments) const = 0;

    std::filesystem::path programs() const { return prefix_ / QUORVANE_INSTALL_PROGRAMDIR; }
    std::filesystem::path module() const {
        return prefix_ / QUORVANE_INSTALL_MODULEDIR / "libpellin-pkcs11.so";
    }
    std::filesystem::path registration() const {
        return prefix_ / QUORVANE_INSTALL_P11KITDIR / "pellin.module";
    }
    std::filesystem::path desktopEntry() const {
        return prefix_ / "share" / "applications" / "quorvane.desktop";
    }

    // The desktop entry's command line for the link (or none, as the desktop starts the app from its menu).
    Arguments desktopCommand(const std::string& link = {}) const {
        std::smatch match;
        const std::string entry = readFile(onDisk(desktopEntry()));
        if (!std::regex_search(entry, match, std::regex("(^|\n)Exec=([^\n]*)")))
            return {};
        Arguments argv;
        std::istringstream words(match[2].str());
        for (std::string word; words >> word;) {
            if (word != "%u")
                argv.push_back(word);
            else if (!link.empty())
                argv.push_back(link);
        }
        return command(argv);
    }

  protected:
    std::filesystem::path prefix_;
    std::string failure_;
};

// `cmake --install` into a prefix of the test's. p11-kit reads the registrations of its own prefix only: the
// user copies the installed one among their own, which p11-kit ignores for root; as root, pkcs11-tool runs as
// an ordinary user in a user namespace.
class PrefixInstallation : public Installation {
  public:
    PrefixInstallation() {
        prefix_ = testsupport::makeTempDir("install") / "prefix";
        auto installation = runProgram(
            {QUORVANE_CMAKE_COMMAND, "--install", QUORVANE_BUILD_DIR, "--prefix", prefix_.native()},
            {{"DESTDIR", ""}}, std::nullopt, 120s);
        if (installation.status != 0)
            failure_ = installation.output;
    }

    ProgramResult pkcs11Tool(const std::filesystem::path& home, const Environment& environment,
                             const Arguments& arguments) const override {
        const auto modules = home / ".config" / "pkcs11" / "modules";
        std::filesystem::create_directories(modules);
        std::filesystem::copy_file(registration(), modules / "pellin.module",
                                   std::filesystem::copy_options::overwrite_existing);
        Arguments argv;
        if (::geteuid() == 0)
            argv = {"unshare", "--user", "--map-user=1000", "--map-group=1000"};
        return runProgram(argv + Arguments{"pkcs11-tool", "--module", P11KIT_PROXY_MODULE} + arguments,
                          environment, std::nullopt, 120s);
    }
};

// The Debian package that CPack makes of the build: made once per test process.
const std::filesystem::path& debianPackage() {
    static const std::filesystem::path package = [] {
        const auto folder = testsupport::makeTempDir("package");
        auto made = runProgram({QUORVANE_CPACK_COMMAND, "--config", QUORVANE_BUILD_DIR "/CPackConfig.cmake",
                                "-B", folder.native()},
                               {}, std::nullopt, 300s);
        for (const auto& file : std::filesystem::directory_iterator(folder))
            if (made.status == 0 && file.path().extension() == ".deb")
                return file.path();
        ADD_FAILURE() << "CPack made no package:\n" << made.output;
        return std::filesystem::path();
    }();
    return package;
}

// An empty root with dpkg's database, where dpkg installs as on a machine of its own. The database starts as
// this machine's list of installed packages (without this package, should the machine have it), so that dpkg
// holds the package's dependencies against what this machine has; it does not know their triggers, so that
// nothing runs inside the empty root.
class DpkgRoot {
  public:
    DpkgRoot() : root_(testsupport::makeTempDir("root")) {
        const auto database = root_ / "var" / "lib" / "dpkg";
        for (const char* folder : {"info", "updates", "triggers"})
            std::filesystem::create_directories(database / folder);
        std::ofstream status(database / "status");
        const std::string installed = readFile("/var/lib/dpkg/status");
        for (std::size_t at = 0, end; at < installed.size(); at = end) {
            end = std::min(installed.find("\n\n", at), installed.size() - 2) + 2;
            if (!installed.substr(at, end - at).starts_with("Package: quorvane\n"))
                status << installed.substr(at, end - at);
        }
        std::ofstream(database / "available");
    }

    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path onDisk(const std::filesystem::path& installed) const {
        return root_ / installed.relative_path();
    }

    ProgramResult dpkg(const Arguments& arguments) const {
        Arguments argv = {"dpkg", "--root=" + root_.native(),
                          "--log=" + (root_.parent_path() / "dpkg.log").native()};
        if (::geteuid() != 0)
            argv.push_back("--force-not-root");
        return runProgram(argv + arguments, {}, std::nullopt, 120s);
    }
    ProgramResult query(const Arguments& arguments) const {
        return runProgram(Arguments{"dpkg-query", "--admindir=" + (root_ / "var/lib/dpkg").native()} +
                          arguments);
    }

    // Every file, folder and link under the root, but of dpkg's database only its records of the package.
    std::set<std::string> files() const {
        std::set<std::string> files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root_)) {
            const auto path = entry.path().lexically_relative(root_).native();
            if (!path.starts_with("var/lib/dpkg/") || path.starts_with("var/lib/dpkg/info/quorvane."))
                files.insert(path);
        }
        return files;
    }

  private:
    std::filesystem::path root_;
};

// The package installed by dpkg into an empty root. Its programs run with the root's /usr and /etc laid over
// this machine's (overlay mounts in a mount namespace of their own, entered as root of a user namespace, then
// as the test's own user again), so that every installed file is at its installed path: the system's
// registrations then include the package's, which p11-kit reads for every user, root too.
class PackageInstallation : public Installation {
  public:
    PackageInstallation() {
        prefix_ = "/usr";
        if (debianPackage().empty()) {
            failure_ = "no package";
            return;
        }
        auto installed = root_.dpkg({"--install", debianPackage().native()});
        if (installed.status != 0)
            failure_ = installed.output;
    }

    std::filesystem::path onDisk(const std::filesystem::path& installed) const override {
        return root_.onDisk(installed);
    }

    Arguments command(const Arguments& argv) const override {
        const std::string user = std::to_string(::geteuid()), group = std::to_string(::getegid());
        const std::string script =
            "root=$1; shift; "
            "mount -t overlay quorvane-usr -o lowerdir=\"$root/usr:/usr\" /usr && "
            "mount -t overlay quorvane-etc -o lowerdir=\"$root/etc:/etc\" /etc && "
            "exec unshare --user --map-user=" +
            user + " --map-group=" + group + " -- \"$@\"";
        const Arguments namespaces = {"unshare", "--user", "--map-root-user", "--mount"};
        return namespaces + Arguments{"sh", "-c", script, "sh", root_.root().native()} + argv;
    }

    ProgramResult pkcs11Tool(const std::filesystem::path&, const Environment& environment,
                             const Arguments& arguments) const override {
        return runProgram(command(Arguments{"pkcs11-tool", "--module", P11KIT_PROXY_MODULE} + arguments),
                          environment, std::nullopt, 120s);
    }

  private:
    DpkgRoot root_;
};

enum class Kind { prefix, package };

// One installation of each kind per test process, made when a test first needs it.
const Installation& installation(Kind kind) {
    static std::map<Kind, std::unique_ptr<Installation>> installations;
    auto& made = installations[kind];
    if (!made) {
        if (kind == Kind::prefix)
            made = std::make_unique<PrefixInstallation>();
        else
            made = std::make_unique<PackageInstallation>();
    }
    return *made;
}

class InstalledTest : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override { ASSERT_EQ(installed().failure(), "") << "installing failed"; }
    const Installation& installed() const { return installation(GetParam()); }
};

TEST_P(InstalledTest, TheInstalledFilesNameTheInstalledPrograms) {
    const auto& in = installed();
    // The relay and the bridge lie next to the app's programs, where the app looks for them.
    EXPECT_TRUE(isExecutable(in.onDisk(in.programs() / "brokel")));
    EXPECT_TRUE(isExecutable(in.onDisk(in.programs() / "VexoConnect_2_12")));
    EXPECT_FALSE(std::filesystem::exists(in.onDisk(in.programs() / "quorvane-sim-server")));
    // The reader's plug-in, for a reader's plug-in folder to link, and the app's icon.
    EXPECT_TRUE(std::filesystem::is_regular_file(
        in.onDisk(in.prefix() / "lib" / "quorvane" / "acrobat" / "VexoCertificateHelper.so")));
    EXPECT_TRUE(std::filesystem::is_regular_file(
        in.onDisk(in.prefix() / "share" / "icons" / "hicolor" / "scalable" / "apps" / "quorvane.svg")));

    std::smatch match;
    const std::string text = readFile(in.onDisk(in.registration()));
    ASSERT_TRUE(std::regex_search(text, match, std::regex("(^|\n)module: *([^\n]*)"))) << text;
    EXPECT_EQ(match[2].str(), in.module().native());
    EXPECT_TRUE(std::filesystem::is_regular_file(in.onDisk(in.module())));

    // The desktop entry starts the installed app whatever the PATH holds.
    EXPECT_EQ(in.desktopCommand("quorvane://x"),
              in.command({(in.programs() / "quorvane").native(), "quorvane://x"}));
    EXPECT_TRUE(isExecutable(in.onDisk(in.programs() / "quorvane")));

    platform::LaunchAgent agent("com.tovik.kelv-pc-signing-macos.brokel.plist",
                                in.onDisk(in.prefix() / QUORVANE_INSTALL_AGENTDIR),
                                testsupport::makeTempDir("registry") / "launch-agents.json");
    auto definition = agent.definition();
    ASSERT_TRUE(definition);
    EXPECT_EQ(definition->program, (in.programs() / "brokel").native());

    // The shipped deployment configuration, which the programs read beside themselves, is one the app takes
    // whole: every host and the app-versions URL are the file's, none falls back to the built-in one. It
    // names the bridge relative to the folder it is read from: the programs' one.
    const auto file = in.resolved(in.programs() / "quorvane-deployment.json");
    ScopedVariable named("QUORVANE_DEPLOYMENT_CONFIG", file.native());
    auto configuration = platform::DeploymentConfiguration::load();
    for (auto environment : allHalcyraEnvironments) {
        auto host = configuration.environmentHosts.find(std::string(rawValue(environment)));
        ASSERT_NE(host, configuration.environmentHosts.end()) << rawValue(environment);
        EXPECT_EQ(baseURL(environment), "https://" + host->second + "/srvremotesign");
    }
    ASSERT_TRUE(configuration.appVersionsURL);
    EXPECT_EQ(url(AppVersionsFileLocation::remote)->toString().toStdString(), *configuration.appVersionsURL);
    EXPECT_EQ(configuration.bridgeProgram, file.parent_path() / "VexoConnect_2_12");
}

// A user of the installed app: a fresh home with the XDG folders, who chose to log in with the wallet always,
// on a session bus of the test's own.
class User {
  public:
    User() : home_(testsupport::makeTempDir("home")) {
        std::filesystem::create_directories(home_ / "runtime");
        ::chmod((home_ / "runtime").c_str(), 0700);
        platform::UserDefaults(home_ / ".config" / "quorvane" / "defaults.ini")
            .setString(AppSettings::authenticationMethodSelectionModeKey, "alwaysWallet");
    }

    const std::filesystem::path& home() const { return home_; }
    std::filesystem::path dataHome() const { return home_ / ".local" / "share"; }
    Environment environment() const {
        return {
            {"HOME", home_.native()},
            {"XDG_CONFIG_HOME", (home_ / ".config").native()},
            {"XDG_DATA_HOME", dataHome().native()},
            {"XDG_STATE_HOME", (home_ / ".local" / "state").native()},
            {"XDG_CACHE_HOME", (home_ / ".cache").native()},
            {"XDG_RUNTIME_DIR", (home_ / "runtime").native()},
            {"DBUS_SESSION_BUS_ADDRESS", bus_.environment().value("DBUS_SESSION_BUS_ADDRESS").toStdString()},
            {"QT_QPA_PLATFORM", "offscreen"}};
    }
    std::string log() const { return readFile(home_ / ".local" / "state" / "quorvane" / "logs" / "ui.log"); }

  private:
    std::filesystem::path home_;
    testsupport::PrivateBus bus_;
};

// The administrator points the installed deployment configuration at the stand-in server: every environment
// and the update check. The shipped file comes back afterwards.
class PointedAtStandIn {
  public:
    PointedAtStandIn(const Installation& in, const simtest::SimServerProcess& server)
        : file_(in.resolved(in.programs() / "quorvane-deployment.json")), shipped_(readFile(file_)) {
        const std::string host = "localhost:" + std::to_string(server.port());
        auto configuration = platform::json::parse(shipped_);
        for (auto& environment : configuration["environments"])
            environment = host;
        configuration["appVersionsURL"] = "https://" + host + "/appversions.json";
        configuration["extraCACertificates"] = server.caFile().native();
        std::ofstream(file_) << configuration.dump(2);
    }
    ~PointedAtStandIn() { std::ofstream(file_) << shipped_; }

  private:
    std::filesystem::path file_;
    std::string shipped_;
};

// The app as the desktop starts it (its desktop entry), a later start with the certificate link handing the
// link to it: the app logs in with the wallet (the stand-in confirms after a few polls) and puts the signing
// certificate into the token, in a token driver folder of its making. pkcs11-tool lists the token through
// p11-kit and reads the certificate the server issued.
TEST_P(InstalledTest, TheInstalledAppFillsTheTokenThatP11KitServes) {
    const auto& in = installed();
    simtest::SimServerProcess server({"--retry-after-ms", "200"});
    ASSERT_TRUE(platform::addTrustedCACertificates(server.caFile()));
    const auto certificate = simtest::walletAccount(server);
    PointedAtStandIn pointed(in, server);
    User user;

    relaytest::BackgroundProgram app(in.desktopCommand(), user.environment());
    ASSERT_TRUE(testsupport::eventually(
        [&] { return user.log().find("Application launched") != std::string::npos; }, 30s))
        << user.log();
    auto handed = runProgram(in.desktopCommand("quorvane://certificate"), user.environment());
    EXPECT_EQ(handed.status, 0) << handed.output;

    ScopedVariable dataHome("XDG_DATA_HOME", user.dataHome().native());
    const platform::tokens::TokenStore store;
    ASSERT_TRUE(testsupport::eventually([&] { return store.configuration(walletToken).has_value(); }, 60s))
        << user.log();
    struct stat info {};
    ASSERT_EQ(::stat(platform::tokens::TokenStore::defaultDriverFolder().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    auto listed = in.pkcs11Tool(user.home(), user.environment(), {"--list-objects", "--type", "cert"});
    ASSERT_EQ(listed.status, 0) << listed.output;
    EXPECT_NE(listed.output.find("Certificate Object"), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find(walletToken), std::string::npos) << listed.output;
    const auto output = user.home() / "certificate.der";
    auto read = in.pkcs11Tool(user.home(), user.environment(),
                              {"--token-label", walletToken, "--read-object", "--type", "cert", "--id",
                               relaytest::toHex(walletToken), "--output-file", output.native()});
    ASSERT_EQ(read.status, 0) << read.output;
    EXPECT_EQ(platform::toBytes(readFile(output)), certificate);
}

INSTANTIATE_TEST_SUITE_P(Installations, InstalledTest, ::testing::Values(Kind::prefix, Kind::package),
                         [](const auto& info) {
                             return info.param == Kind::prefix ? std::string("CMakeInstall")
                                                               : std::string("DebianPackage");
                         });

TEST(DebianPackageTest, DependsOnWhatItsProgramsLinkAndOnTheLinkOpener) {
    ASSERT_FALSE(debianPackage().empty());
    auto depends = runProgram({"dpkg-deb", "--field", debianPackage().native(), "Depends"});
    ASSERT_EQ(depends.status, 0) << depends.output;
    for (const char* package : {"libc6", "libqt6widgets6", "libssl3", "xdg-utils"})
        EXPECT_NE(depends.output.find(package), std::string::npos) << package << " in " << depends.output;
}

TEST(DebianPackageTest, LintianFindsNoError) {
    ASSERT_FALSE(debianPackage().empty());
    if (::access("/usr/bin/lintian", X_OK) != 0)
        GTEST_SKIP() << "no lintian";
    auto checked =
        runProgram({"lintian", "--fail-on", "error", debianPackage().native()}, {}, std::nullopt, 300s);
    EXPECT_EQ(checked.status, 0) << checked.output;
}

// The deployment configuration is the administrator's: an edited one outlives the package's removal and goes
// with its purge, which leaves the root as it was.
TEST(DebianPackageTest, TheDeploymentConfigurationIsAConffileAndPurgingLeavesNothingBehind) {
    ASSERT_FALSE(debianPackage().empty());
    const DpkgRoot root;
    const auto before = root.files();
    auto installed = root.dpkg({"--install", debianPackage().native()});
    ASSERT_EQ(installed.status, 0) << installed.output;

    const std::filesystem::path conffile = "/etc/quorvane/quorvane-deployment.json";
    auto conffiles = root.query({"--show", "--showformat=${Conffiles}", "quorvane"});
    ASSERT_EQ(conffiles.status, 0) << conffiles.output;
    EXPECT_TRUE(
        std::regex_search(conffiles.output, std::regex("^\n? " + conffile.native() + " [0-9a-f]{32}\n?$")))
        << conffiles.output;
    const auto programs = root.onDisk("/usr") / QUORVANE_INSTALL_PROGRAMDIR;
    // What the programs read beside themselves.
    EXPECT_EQ(std::filesystem::read_symlink(programs / "quorvane-deployment.json"), conffile);

    std::ofstream(root.onDisk(conffile)) << R"({"environments": {"PROD": "signing.example"}})";
    auto removed = root.dpkg({"--remove", "quorvane"});
    ASSERT_EQ(removed.status, 0) << removed.output;
    EXPECT_FALSE(std::filesystem::exists(programs));
    EXPECT_EQ(readFile(root.onDisk(conffile)), R"({"environments": {"PROD": "signing.example"}})");

    auto purged = root.dpkg({"--purge", "quorvane"});
    ASSERT_EQ(purged.status, 0) << purged.output;
    EXPECT_EQ(root.files(), before);
}

}  // namespace
