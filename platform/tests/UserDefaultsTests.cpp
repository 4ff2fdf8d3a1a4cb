#include <gtest/gtest.h>

#include <QSettings>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>

#include "platform/qt/UserDefaults.h"
#include "platform/testing/TestEnvironment.h"

using platform::UserDefaults;

namespace {

UserDefaults freshDefaults() {
    return UserDefaults(testsupport::makeTempDir("defaults") / "sub" / "defaults.ini");
}

TEST(UserDefaultsTest, TypedValuesRoundTripAndOtherTypesReadAsNone) {
    auto defaults = freshDefaults();
    auto when = std::chrono::floor<std::chrono::milliseconds>(std::chrono::system_clock::now());

    defaults.setString("text", "a, b; \"c\" @d = é");
    defaults.setBoolean("flag", true);
    defaults.setInteger("number", std::numeric_limits<std::int64_t>::min());
    defaults.setDate("when", when);

    // A second object on the same file (nothing is cached in the first).
    UserDefaults reader(defaults.file());
    EXPECT_EQ(reader.string("text"), "a, b; \"c\" @d = é");
    EXPECT_EQ(reader.boolean("flag"), true);
    EXPECT_EQ(reader.integer("number"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(reader.date("when"), when);

    // Type checks on read.
    EXPECT_EQ(reader.date("text"), std::nullopt);
    EXPECT_EQ(reader.boolean("text"), std::nullopt);
    EXPECT_EQ(reader.integer("text"), std::nullopt);
    EXPECT_EQ(reader.string("when"), std::nullopt);
    EXPECT_EQ(reader.boolean("when"), std::nullopt);
    EXPECT_EQ(reader.date("flag"), std::nullopt);
    EXPECT_EQ(reader.date("number"), std::nullopt);

    // Absent keys.
    EXPECT_EQ(reader.string("missing"), std::nullopt);
    EXPECT_EQ(reader.boolean("missing"), std::nullopt);
    EXPECT_FALSE(reader.contains("missing"));
    EXPECT_TRUE(reader.contains("flag"));
}

TEST(UserDefaultsTest, DatesBeforeTheEpochAndKeysDifferingInCaseStayApart) {
    auto defaults = freshDefaults();
    auto old = platform::Date(std::chrono::milliseconds(-1'234'567'890'123));
    defaults.setDate("Key", old);
    defaults.setString("key", "lower");
    EXPECT_EQ(defaults.date("Key"), old);
    EXPECT_EQ(defaults.string("key"), "lower");
}

TEST(UserDefaultsTest, EveryWriteIsOnDiskAtOnceAndEveryReadIsFresh) {
    auto defaults = freshDefaults();
    defaults.setBoolean("flag", false);
    {
        QSettings other(QString::fromStdString(defaults.file().string()), QSettings::IniFormat);
        EXPECT_EQ(other.value("flag").toString(), "false");
    }
    // Another writer replaces the file behind our back.
    {
        std::ofstream out(defaults.file(), std::ios::trunc);
        out << "[General]\nflag=true\nadded=42\n";
    }
    EXPECT_EQ(defaults.boolean("flag"), true);
    EXPECT_EQ(defaults.integer("added"), 42);
}

TEST(UserDefaultsTest, RemoveAndClear) {
    auto defaults = freshDefaults();
    defaults.setString("a", "1");
    defaults.setString("b", "2");
    defaults.remove("a");
    defaults.remove("never-set");
    EXPECT_FALSE(UserDefaults(defaults.file()).contains("a"));
    EXPECT_EQ(UserDefaults(defaults.file()).string("b"), "2");

    defaults.clear();
    EXPECT_FALSE(UserDefaults(defaults.file()).contains("b"));
    defaults.setString("c", "3");
    EXPECT_EQ(defaults.string("c"), "3");
}

TEST(UserDefaultsTest, StandardDefaultsLiveUnderTheConfigFolderUnlessPointedElsewhere) {
    auto config = std::filesystem::path(std::getenv("XDG_CONFIG_HOME"));
    EXPECT_EQ(UserDefaults::standard().file(), config / "quorvane" / "defaults.ini");
    UserDefaults::standard().setString("probe", "x");
    EXPECT_TRUE(std::filesystem::exists(config / "quorvane" / "defaults.ini"));
    UserDefaults::standard().clear();

    auto elsewhere = testsupport::makeTempDir("standard") / "d.ini";
    UserDefaults::setStandardFile(elsewhere);
    EXPECT_EQ(UserDefaults::standard().file(), elsewhere);
    UserDefaults::setStandardFile(config / "quorvane" / "defaults.ini");
}

}  // namespace
