#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>

#include "Quorvane/core/TokenDriverConfiguration.h"
#include "outside/Common/Common.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"

using namespace std::chrono_literals;
using platform::Bytes;
using platform::tokens::KeychainItem;
using platform::tokens::TokenConfiguration;
using platform::tokens::TokenStore;

namespace {

Bytes certificate(std::chrono::seconds notBefore = -1h, std::chrono::seconds notAfter = 24h) {
    testsupport::CertificateRequest request;
    request.notBeforeOffset = notBefore;
    request.notAfterOffset = notAfter;
    return testsupport::makeSelfSigned(request).der();
}

class TokenDriverConfigurationTest : public ::testing::Test {
  protected:
    void SetUp() override { store.installDriver(); }

    std::vector<std::string> fileNames() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(store.driverFolder()))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> instanceIDs() const {
        std::vector<std::string> ids;
        for (const auto& configuration : store.configurations())
            ids.push_back(configuration.instanceID);
        return ids;
    }

    TokenStore store{testsupport::makeTempDir("tokens") / platform::tokens::driverClassID};
    LogCapture log;
    TokenDriverConfiguration tokens{store, std::make_shared<LoggerClient>("ui")};
};

TEST_F(TokenDriverConfigurationTest, RegisteringWritesTheLeafCertificateAndTheKey) {
    for (std::string id : {"A1B2C3", "WALLET_TOKEN_IDENTIFIER"}) {
        SCOPED_TRACE(id);
        auto der = certificate();
        EXPECT_TRUE(tokens.registerToken(id, der));
        auto configuration = store.configuration(id);
        ASSERT_TRUE(configuration);
        EXPECT_EQ(configuration->keychainItems,
                  (std::vector<KeychainItem>{{KeychainItem::Kind::certificate, id + "-leaf", der},
                                             {KeychainItem::Kind::key, id, der}}));
        EXPECT_EQ(tokens.certificateData(id), der);
        struct stat info {};
        ASSERT_EQ(::stat((store.driverFolder() / TokenStore::fileName(id)).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
}

TEST_F(TokenDriverConfigurationTest, ARenewedCertificateReplacesTheOldItems) {
    auto old = certificate();
    auto renewed = certificate();
    ASSERT_TRUE(tokens.registerToken("CARD", old));
    ASSERT_TRUE(tokens.registerToken("CARD", renewed));
    auto configuration = store.configuration("CARD");
    ASSERT_TRUE(configuration);
    EXPECT_EQ(configuration->keychainItems,
              TokenConfiguration::forCertificate("CARD", renewed).keychainItems);
    EXPECT_EQ(tokens.certificateData("CARD"), renewed);
    EXPECT_EQ(fileNames(), std::vector<std::string>{TokenStore::fileName("CARD")});
}

TEST_F(TokenDriverConfigurationTest, RegisteringOverAConfigurationWithExtraItemsLeavesExactlyTwo) {
    // As an earlier version that appended items would have left it: the lookup takes the first certificate.
    auto first = certificate();
    auto second = certificate();
    store.writeConfiguration({"CARD",
                              {{KeychainItem::Kind::key, "CARD", second},
                               {KeychainItem::Kind::certificate, "CARD-leaf", first},
                               {KeychainItem::Kind::certificate, "CARD-leaf", second}}});
    EXPECT_EQ(tokens.certificateData("CARD"), first);

    auto renewed = certificate();
    ASSERT_TRUE(tokens.registerToken("CARD", renewed));
    EXPECT_EQ(store.configuration("CARD")->keychainItems.size(), 2u);
    EXPECT_EQ(tokens.certificateData("CARD"), renewed);
}

TEST_F(TokenDriverConfigurationTest, BytesThatAreNotACertificateAreNotRegistered) {
    auto der = certificate();
    ASSERT_TRUE(tokens.registerToken("CARD", der));
    log.clear();
    EXPECT_FALSE(tokens.registerToken("CARD", {}));
    EXPECT_FALSE(tokens.registerToken("CARD", platform::toBytes("garbage")));
    EXPECT_FALSE(tokens.registerToken("OTHER", platform::toBytes("garbage")));
    EXPECT_EQ(tokens.certificateData("CARD"), der);
    EXPECT_EQ(instanceIDs(), std::vector<std::string>{"CARD"});
    EXPECT_EQ(log.lines().size(), 3u);
    EXPECT_EQ(log.lines().front().level, LogLevel::error);
}

TEST_F(TokenDriverConfigurationTest, AnInstanceIdTooLongForTheStoreIsReportedNotThrown) {
    std::string id(platform::tokens::maxInstanceIDLength + 1, 'x');
    EXPECT_FALSE(tokens.registerToken(id, certificate()));
    EXPECT_FALSE(tokens.certificateData(id));
    EXPECT_NO_THROW(tokens.removeToken(id));
}

TEST_F(TokenDriverConfigurationTest, RemovingOneLeavesTheOthers) {
    for (std::string id : {"A", "B", "WALLET_TOKEN_IDENTIFIER"})
        ASSERT_TRUE(tokens.registerToken(id, certificate()));
    tokens.removeToken("B");
    tokens.removeToken("B");
    tokens.removeToken("never registered");
    EXPECT_EQ(instanceIDs(), (std::vector<std::string>{"A", "WALLET_TOKEN_IDENTIFIER"}));
    EXPECT_FALSE(tokens.certificateData("B"));

    tokens.removeAllTokens();
    EXPECT_TRUE(instanceIDs().empty());
    EXPECT_TRUE(fileNames().empty());
    EXPECT_NO_THROW(tokens.removeAllTokens());
    EXPECT_TRUE(store.isDriverInstalled());
}

TEST_F(TokenDriverConfigurationTest, WithoutTheDriverEverythingDoesNothing) {
    TokenStore missing(testsupport::makeTempDir("tokens") / "not-installed");
    TokenDriverConfiguration absent(missing, std::make_shared<LoggerClient>("ui"));
    EXPECT_FALSE(absent.registerToken("CARD", certificate()));
    EXPECT_FALSE(absent.certificateData("CARD"));
    absent.removeToken("CARD");
    absent.removeAllTokens();
    absent.removeStaleTokens(std::chrono::system_clock::now());
    EXPECT_FALSE(std::filesystem::exists(missing.driverFolder()));
    EXPECT_TRUE(log.lines().empty());
}

// The app ships the token module: its registration makes the user's driver folder, on first use and again
// after it was removed. Nothing but a registration makes it.
TEST_F(TokenDriverConfigurationTest, TheAppsRegistrationMakesTheDriverFolder) {
    TokenStore fresh(testsupport::makeTempDir("home") / "quorvane" / "tokens" /
                     platform::tokens::driverClassID);
    TokenDriverConfiguration app(fresh, std::make_shared<LoggerClient>("ui"),
                                 TokenDriverConfiguration::DriverFolder::madeOnRegistration);
    EXPECT_FALSE(app.certificateData("CARD"));
    app.removeToken("CARD");
    app.removeAllTokens();
    app.removeStaleTokens(std::chrono::system_clock::now());
    EXPECT_FALSE(std::filesystem::exists(fresh.driverFolder()));

    auto der = certificate();
    for (const char* when : {"first use", "after the folder was removed"}) {
        SCOPED_TRACE(when);
        EXPECT_TRUE(app.registerToken("CARD", der));
        EXPECT_EQ(app.certificateData("CARD"), der);
        struct stat info {};
        ASSERT_EQ(::stat(fresh.driverFolder().c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0700u);
        std::filesystem::remove_all(fresh.driverFolder());
    }
    EXPECT_TRUE(log.lines().empty());

    // A link planted where the folder belongs is not followed: nothing is registered, and the failure is
    // logged.
    auto elsewhere = testsupport::makeTempDir("elsewhere");
    std::filesystem::create_directory_symlink(elsewhere, fresh.driverFolder());
    EXPECT_FALSE(app.registerToken("CARD", der));
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].level, LogLevel::error);
}

struct SweepCase {
    const char* name;
    bool fromEnd;              // the offset is from the certificate's end (else from its start)
    std::chrono::seconds now;  // now = that date + this
    bool kept;
};

TEST_F(TokenDriverConfigurationTest, TheStaleSweepAllows900sAfterTheEndAndNothingBeforeTheStart) {
    const SweepCase cases[] = {
        {"ended 899 s ago", true, 899s, true},  {"ended exactly 900 s ago", true, 900s, true},
        {"ended 901 s ago", true, 901s, false}, {"ends in 1 s", true, -1s, true},
        {"starts in 1 s", false, -1s, false},   {"starts now", false, 0s, true},
        {"started 1 s ago", false, 1s, true},
    };
    auto der = certificate();
    auto parsed = platform::Certificate::fromDER(der);
    const auto start = *notValidBefore(*parsed);
    const auto end = *notValidAfter(*parsed);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(tokens.registerToken("CARD", der));
        ASSERT_TRUE(tokens.registerToken("OTHER", certificate(-2h, 24h * 30)));
        tokens.removeStaleTokens((c.fromEnd ? end : start) + c.now);
        EXPECT_EQ(tokens.certificateData("CARD").has_value(), c.kept);
        EXPECT_TRUE(tokens.certificateData("OTHER"));
    }
}

TEST_F(TokenDriverConfigurationTest, TheSweepKeepsACertificateEndingNearTheLastRepresentableDate) {
    // 2262-04-11 23:40:00 UTC lies less than 900 s before the clock's last date: adding the grace to it would
    // overflow.
    // The certificate's end is relative to the clock when it is issued, which may have passed a second
    // boundary since `now`: judge the end it really has.
    const auto now = std::chrono::system_clock::now();
    auto der = certificate(
        -1h, std::chrono::ceil<std::chrono::seconds>(std::chrono::sys_seconds(9'223'371'600s) - now));
    const auto validTo = notValidAfter(*platform::Certificate::fromDER(der));
    ASSERT_TRUE(validTo);
    const auto end = *validTo;
    ASSERT_GT(std::chrono::system_clock::time_point::max() - end, 0s);
    ASSERT_LT(std::chrono::system_clock::time_point::max() - end, TokenDriverConfiguration::staleGrace);
    ASSERT_TRUE(tokens.registerToken("FAR", der));
    tokens.removeStaleTokens(now);
    EXPECT_EQ(tokens.certificateData("FAR"), der);
}

TEST_F(TokenDriverConfigurationTest, TheSweepKeepsConfigurationsItCannotJudge) {
    auto now = std::chrono::system_clock::now() + 24h * 400;  // every real certificate here has ended by then
    store.writeConfiguration(
        {"NO-CERTIFICATE", {{KeychainItem::Kind::key, "NO-CERTIFICATE", certificate()}}});
    store.writeConfiguration(
        {"UNPARSABLE", {{KeychainItem::Kind::certificate, "UNPARSABLE-leaf", platform::toBytes("garbage")}}});
    ASSERT_TRUE(tokens.registerToken("ENDED", certificate()));
    tokens.removeStaleTokens(now);
    EXPECT_EQ(instanceIDs(), (std::vector<std::string>{"NO-CERTIFICATE", "UNPARSABLE"}));
    EXPECT_FALSE(tokens.certificateData("NO-CERTIFICATE"));
}

TEST_F(TokenDriverConfigurationTest, AFailedWriteLeavesTheOldConfigurationWhole) {
    auto old = certificate();
    ASSERT_TRUE(tokens.registerToken("CARD", old));
    log.clear();

    // Let no file grow past 64 bytes: the new configuration's write stops part-way, as on a full disk.
    struct sigaction ignore {
    }, previous{};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &previous);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 64;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const bool registered = tokens.registerToken("CARD", certificate());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &previous, nullptr);

    EXPECT_FALSE(registered);
    EXPECT_EQ(tokens.certificateData("CARD"), old);
    EXPECT_EQ(store.configuration("CARD")->keychainItems,
              TokenConfiguration::forCertificate("CARD", old).keychainItems);
    EXPECT_EQ(fileNames(), std::vector<std::string>{TokenStore::fileName("CARD")});  // no temporary file left
    ASSERT_FALSE(log.lines().empty());
    EXPECT_EQ(log.lines().back().level, LogLevel::error);
}

TEST_F(TokenDriverConfigurationTest, AProcessKilledMidWriteLeavesTheOldConfigurationReadable) {
    auto old = certificate();
    ASSERT_TRUE(tokens.registerToken("CARD", old));
    auto renewed = certificate();

    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The default action of SIGXFSZ ends the process in the middle of its write; the alarm keeps a stuck
        // child from hanging the test.
        ::alarm(20);
        ::signal(SIGXFSZ, SIG_DFL);
        rlimit small{64, 64};
        ::setrlimit(RLIMIT_FSIZE, &small);
        TokenDriverConfiguration(store, std::shared_ptr<LoggerClient>()).registerToken("CARD", renewed);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGXFSZ);

    // The partial temporary file stays behind; readers and the sweep pass over it.
    EXPECT_EQ(fileNames().size(), 2u);
    EXPECT_EQ(tokens.certificateData("CARD"), old);
    EXPECT_EQ(instanceIDs(), std::vector<std::string>{"CARD"});
    tokens.removeStaleTokens(std::chrono::system_clock::now());
    EXPECT_EQ(instanceIDs(), std::vector<std::string>{"CARD"});

    // The next registration succeeds and takes the leftover away.
    EXPECT_TRUE(tokens.registerToken("CARD", renewed));
    EXPECT_EQ(tokens.certificateData("CARD"), renewed);
    EXPECT_EQ(fileNames(), std::vector<std::string>{TokenStore::fileName("CARD")});
}

}  // namespace
