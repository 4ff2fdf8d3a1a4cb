// The token-configuration store: atomic files per configuration, safe names for any instance id, the
// "driver not installed" rule, the driver folder's ownership and the removal of interrupted writes'
// leftovers.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <set>

#include "platform/testing/TestEnvironment.h"
#include "platform/tokens/TokenStore.h"

using platform::Bytes;
using platform::tokens::KeychainItem;
using platform::tokens::TokenConfiguration;
using platform::tokens::TokenStore;

namespace {

class TokenStoreTest : public ::testing::Test {
  protected:
    std::filesystem::path folder = testsupport::makeTempDir("tokens") / "driver";
    TokenStore store{folder};
    Bytes certificate{0x30, 0x03, 0x02, 0x01, 0x01};

    void SetUp() override { store.installDriver(); }

    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            found.insert(entry.path().filename());
        return found;
    }
};

mode_t modeOf(const std::filesystem::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

}  // namespace

TEST(TokenStore, DefaultFolderIsUnderTheDataHome) {
    EXPECT_EQ(TokenStore::defaultDriverFolder(), std::filesystem::path(std::getenv("XDG_DATA_HOME")) /
                                                     "quorvane" / "tokens" /
                                                     "com.tovik.kelv-pc-signing-macos.pellin");
}

TEST(TokenStore, WithoutTheDriverFolderNothingIsWrittenOrFound) {
    TokenStore store(testsupport::makeTempDir("tokens") / "absent");
    EXPECT_FALSE(store.isDriverInstalled());
    store.writeConfiguration(TokenConfiguration::forCertificate("CARD", {1, 2}));
    EXPECT_FALSE(std::filesystem::exists(store.driverFolder()));
    EXPECT_TRUE(store.configurations().empty());
    EXPECT_FALSE(store.configuration("CARD"));
    EXPECT_NO_THROW(store.removeConfiguration("CARD"));
    EXPECT_NO_THROW(store.removeAllConfigurations());
}

TEST_F(TokenStoreTest, RegisteredCertificateHasItsTwoItems) {
    auto configuration = TokenConfiguration::forCertificate("WALLET_TOKEN_IDENTIFIER", certificate);
    ASSERT_EQ(configuration.keychainItems.size(), 2u);
    EXPECT_EQ(configuration.keychainItems[0],
              (KeychainItem{KeychainItem::Kind::certificate, "WALLET_TOKEN_IDENTIFIER-leaf", certificate}));
    EXPECT_EQ(configuration.keychainItems[1],
              (KeychainItem{KeychainItem::Kind::key, "WALLET_TOKEN_IDENTIFIER", certificate}));

    store.writeConfiguration(configuration);
    EXPECT_EQ(store.configuration("WALLET_TOKEN_IDENTIFIER"), configuration);
    EXPECT_EQ(store.configuration("WALLET_TOKEN_IDENTIFIER")->certificateData(), certificate);
}

TEST_F(TokenStoreTest, AnyInstanceIDRoundTripsUnderASafeFileName) {
    std::vector<std::string> ids = {"",
                                    "../../etc/passwd",
                                    "a/b",
                                    ".hidden",
                                    "Ünïcode ✓",
                                    "x\ny",
                                    std::string(platform::tokens::maxInstanceIDLength, 'z')};
    for (const auto& id : ids)
        store.writeConfiguration(TokenConfiguration::forCertificate(id, certificate));
    auto all = store.configurations();
    ASSERT_EQ(all.size(), ids.size());
    for (const auto& id : ids) {
        auto found = store.configuration(id);
        ASSERT_TRUE(found) << id;
        EXPECT_EQ(found->instanceID, id);
    }
    // Every file sits directly in the driver folder, private to the user, and no temporary file is left.
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++files;
        EXPECT_EQ(entry.path().parent_path(), folder);
        EXPECT_EQ(entry.path().extension(), ".json") << entry.path();
        struct stat info {};
        ASSERT_EQ(::stat(entry.path().c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
    }
    EXPECT_EQ(files, ids.size());

    std::string tooLong(platform::tokens::maxInstanceIDLength + 1, 'z');
    try {
        store.writeConfiguration(TokenConfiguration::forCertificate(tooLong, certificate));
        FAIL() << "an over-long instance id was written";
    } catch (const platform::tokens::TokenStoreError& error) {
        EXPECT_EQ(error.code(), platform::tokens::TokenStoreError::Code::invalidInstanceID);
    }
}

TEST_F(TokenStoreTest, ReplacesRemovesOneAndRemovesAll) {
    store.writeConfiguration(TokenConfiguration::forCertificate("A", certificate));
    store.writeConfiguration(TokenConfiguration::forCertificate("B", certificate));
    auto replaced = TokenConfiguration::forCertificate("A", {9, 9});
    replaced.keychainItems.push_back({KeychainItem::Kind::certificate, "A-second", {7}});
    store.writeConfiguration(replaced);
    EXPECT_EQ(store.configuration("A"), replaced);
    EXPECT_EQ(store.configuration("A")->certificateData(), (Bytes{9, 9}));  // the first certificate item

    store.removeConfiguration("A");
    store.removeConfiguration("never there");
    ASSERT_EQ(store.configurations().size(), 1u);
    EXPECT_EQ(store.configurations()[0].instanceID, "B");
    store.removeAllConfigurations();
    EXPECT_TRUE(store.configurations().empty());
    EXPECT_TRUE(store.isDriverInstalled());
}

TEST_F(TokenStoreTest, DamagedOrMisplacedFilesAreSkipped) {
    store.writeConfiguration(TokenConfiguration::forCertificate("good", certificate));
    auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream(folder / name) << text;
    };
    write(TokenStore::fileName("garbage"), "{not json");
    write(
        TokenStore::fileName("wrong kind"),
        R"({"instanceID":"wrong kind","keychainItems":[{"kind":"door","objectID":"x","certificate":"AQI="}]})");
    write(
        TokenStore::fileName("bad base64"),
        R"({"instanceID":"bad base64","keychainItems":[{"kind":"key","objectID":"x","certificate":"A Q"}]})");
    // A file whose name is not that of its instance id.
    write(TokenStore::fileName("elsewhere"), R"({"instanceID":"good2","keychainItems":[]})");
    auto all = store.configurations();
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].instanceID, "good");
    EXPECT_FALSE(store.configuration("garbage"));
}

TEST(TokenStore, InstallingTheDriverMakesAPrivateFolderOrTakesOnlyTheUsersOwn) {
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path& folder, const std::filesystem::path& elsewhere)>
            prepare;
        bool installed;
    };
    const std::vector<Case> cases = {
        {"nothing there yet", [](auto&, auto&) {}, true},
        {"the user's folder, left readable by others",
         [](auto& folder, auto&) {
             std::filesystem::create_directory(folder);
             ::chmod(folder.c_str(), 0755);
         },
         true},
        {"a link to a folder elsewhere",
         [](auto& folder, auto& elsewhere) { std::filesystem::create_directory_symlink(elsewhere, folder); },
         false},
        {"a file", [](auto& folder, auto&) { std::ofstream(folder) << "x"; }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto base = testsupport::makeTempDir("install");
        auto folder = base / "quorvane" / "tokens" / "driver";
        auto elsewhere = base / "elsewhere";
        std::filesystem::create_directories(folder.parent_path());
        std::filesystem::create_directory(elsewhere);
        ::chmod(elsewhere.c_str(), 0755);
        c.prepare(folder, elsewhere);
        TokenStore store(folder);
        if (c.installed) {
            EXPECT_NO_THROW(store.installDriver());
            EXPECT_EQ(modeOf(folder), 0700u);
            EXPECT_TRUE(store.isDriverInstalled());
        } else {
            EXPECT_THROW(store.installDriver(), platform::tokens::TokenStoreError);
            EXPECT_EQ(modeOf(elsewhere), 0755u);
        }
    }
}

TEST(TokenStore, AFolderOfAnotherUserIsNotTaken) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "only root can give a folder to another user";
    auto folder = testsupport::makeTempDir("install") / "driver";
    std::filesystem::create_directory(folder);
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    ::chmod(folder.c_str(), 0777);
    EXPECT_THROW(TokenStore(folder).installDriver(), platform::tokens::TokenStoreError);
    EXPECT_EQ(modeOf(folder), 0777u);
}

TEST_F(TokenStoreTest, AWriteRemovesTheTemporaryFilesOfInterruptedWritesAndNothingElse) {
    auto touch = [&](const std::string& name) { std::ofstream(folder / name) << "partial"; };
    const std::vector<std::string> abandoned = {".write-a1B2c3", ".write-ZZZZZZ", ".write-000000"};
    for (const auto& name : abandoned)
        touch(name);
    // Names that are not those of our temporary files, and things that are not files, stay.
    const std::vector<std::string> others = {".write-a1B2c", ".write-a1B2c34", ".write-a1B2-3",
                                             "write-a1B2c3", ".Write-a1B2c3",  ".write-.json",
                                             "notes.txt"};
    for (const auto& name : others)
        touch(name);
    std::filesystem::create_directory(folder / ".write-folder");
    auto outside = testsupport::makeTempDir("outside") / "kept.txt";
    std::ofstream(outside) << "not ours";
    std::filesystem::create_symlink(outside, folder / ".write-link12");
    ASSERT_EQ(::mkfifo((folder / ".write-fifo12").c_str(), 0600), 0);
    // A write in progress in another process holds its temporary file.
    touch(".write-inUse1");
    int held = ::open((folder / ".write-inUse1").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    store.writeConfiguration(TokenConfiguration::forCertificate("CARD", certificate));

    std::set<std::string> expected(others.begin(), others.end());
    expected.insert(
        {".write-folder", ".write-link12", ".write-fifo12", ".write-inUse1", TokenStore::fileName("CARD")});
    EXPECT_EQ(names(), expected);
    EXPECT_TRUE(std::filesystem::exists(outside));
    EXPECT_EQ(store.configuration("CARD"), TokenConfiguration::forCertificate("CARD", certificate));

    // Once its writer is gone, the next write removes it.
    ::close(held);
    store.removeConfiguration("CARD");
    EXPECT_TRUE(names().contains(".write-inUse1"));
    store.writeConfiguration(TokenConfiguration::forCertificate("OTHER", certificate));
    EXPECT_FALSE(names().contains(".write-inUse1"));
}

// Each write removes the leftovers it finds: it must never take the temporary file of a write that another
// process is doing at that moment.
TEST_F(TokenStoreTest, ConcurrentWritersNeverRemoveEachOthersTemporaryFiles) {
    constexpr int writers = 3, writes = 100;
    std::vector<pid_t> children;
    for (int writer = 0; writer < writers; ++writer) {
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::alarm(60);
            int failures = 0;
            for (int i = 0; i < writes; ++i) {
                try {
                    store.writeConfiguration(
                        TokenConfiguration::forCertificate("WRITER-" + std::to_string(writer), certificate));
                } catch (const platform::tokens::TokenStoreError&) {
                    ++failures;
                }
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "a writer failed (status " << status << ")";
    }
    EXPECT_EQ(store.configurations().size(), static_cast<std::size_t>(writers));
    EXPECT_EQ(names().size(), static_cast<std::size_t>(writers));  // nothing left behind
}
