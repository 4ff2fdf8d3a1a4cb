// The token-configuration store: atomic files per configuration, safe names for any instance id, and the
// "driver not installed" rule.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

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
};

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
