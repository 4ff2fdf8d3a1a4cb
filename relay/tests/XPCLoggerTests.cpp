// Brokel's log lines, the size rule, and where the log is.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>

#include "platform/testing/TestEnvironment.h"
#include "relay/service/XPCLogger.h"
#include "relay/testing/RelayTestSupport.h"

using relay::XPCLogger;
using relay::XPCLogType;

namespace {

platform::Date localDate(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

class XPCLoggerTest : public ::testing::Test {
  protected:
    std::filesystem::path path = testsupport::makeTempDir("xpclog") / "brokel_std.txt";
    int fd = -1;

    void SetUp() override {
        ::setenv("LC_ALL", "C", 1);
        open(O_APPEND);
    }
    void TearDown() override { ::close(fd); }
    void open(int extraFlags) {
        if (fd >= 0)
            ::close(fd);
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | extraFlags, 0600);
    }
    XPCLogger logger(platform::Date date = localDate(2026, 12, 9, 8, 16, 24)) {
        return XPCLogger(path.native(), fd, [date] { return date; });
    }
    void fill(std::uintmax_t size) { std::filesystem::resize_file(path, size); }
};

}  // namespace

TEST_F(XPCLoggerTest, WritesDateLevelAndMessage) {
    logger().log("Listener resumed");
    logger(localDate(2026, 1, 2, 15, 4, 5))
        .log("Cannot sign hash, app connection not found", XPCLogType::error);
    logger(localDate(2026, 1, 2, 0, 0, 0)).log("two\nlines");
    EXPECT_EQ(relaytest::readFile(path),
              "12/9/26, 8:16:24 AM - info: Listener resumed\n"
              "1/2/26, 3:04:05 PM - error: Cannot sign hash, app connection not found\n"
              "1/2/26, 12:00:00 AM - info: two\nlines\n");
    EXPECT_STREQ(relay::rawValue(XPCLogType::info), "INFO");
    EXPECT_STREQ(relay::rawValue(XPCLogType::error), "ERROR");
}

TEST_F(XPCLoggerTest, EmptiesTheFileFromTheLimitOn) {
    const std::string line = "12/9/26, 8:16:24 AM - info: next\n";
    struct Case {
        std::uintmax_t size;
        bool emptied;
    };
    for (auto c : {Case{XPCLogger::sizeLimit - 1, false}, Case{XPCLogger::sizeLimit, true},
                   Case{XPCLogger::sizeLimit + 5000, true}}) {
        fill(c.size);
        logger().log("next");
        if (c.emptied)
            EXPECT_EQ(relaytest::readFile(path), line) << c.size;
        else
            EXPECT_EQ(std::filesystem::file_size(path), c.size + line.size()) << c.size;
    }
    EXPECT_EQ(XPCLogger::sizeLimit, 10485761u);
}

TEST_F(XPCLoggerTest, CreatingTheLoggerAppliesTheRule) {
    fill(XPCLogger::sizeLimit);
    logger();
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST_F(XPCLoggerTest, TruncationReallyShrinksAFileOpenedWithoutAppend) {
    open(0);
    ::lseek(fd, 0, SEEK_END);
    fill(XPCLogger::sizeLimit);
    ::lseek(fd, 0, SEEK_END);
    logger().log("after");
    EXPECT_EQ(relaytest::readFile(path), "12/9/26, 8:16:24 AM - info: after\n");
}

TEST_F(XPCLoggerTest, MissingFileCountsAsEmpty) {
    EXPECT_EQ(XPCLogger::fileSize((path.parent_path() / "absent").native()), 0u);
    XPCLogger(path.parent_path() / "absent", fd, [] { return platform::Date(); }).log("written");
    EXPECT_NE(relaytest::readFile(path).find("info: written"), std::string::npos);
}

// The relay's own log: in the user's state folder, which must be the user's own; otherwise standard error.

namespace {

// Sends this process's standard error to a file while it lives.
class CapturedStandardError {
  public:
    CapturedStandardError() : path_(testsupport::makeTempDir("stderr") / "stderr.txt") {
        saved_ = ::dup(STDERR_FILENO);
        int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~CapturedStandardError() { restore(); }
    // Restores standard error; what was written meanwhile.
    std::string text() {
        restore();
        return relaytest::readFile(path_);
    }

  private:
    void restore() {
        if (saved_ < 0)
            return;
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
    }
    std::filesystem::path path_;
    int saved_ = -1;
};

}  // namespace

TEST(XPCLoggerFile, WritesToTheUsersOwnPrivateLogFolder) {
    auto state = testsupport::makeTempDir("state");
    testsupport::ScopedVariable stateHome("XDG_STATE_HOME", state.native());
    testsupport::ScopedVariable noStartedLog("QUORVANE_BROKEL_LOG_PATH", std::nullopt);
    ::setenv("LC_ALL", "C", 1);
    auto folder = state / "quorvane" / "logs";
    ASSERT_EQ(XPCLogger::logFolder(), folder);
    std::filesystem::create_directories(folder);
    std::filesystem::resize_file((std::ofstream(folder / "brokel_std.txt"), folder / "brokel_std.txt"),
                                 XPCLogger::sizeLimit);

    XPCLogger logger;  // the size rule holds for the file it opened
    logger.log("Listener resumed");
    auto lines = relaytest::logMessages(relaytest::readFile(folder / "brokel_std.txt"));
    EXPECT_EQ(lines, std::vector<std::string>{"info: Listener resumed"});
    struct stat info {};
    ASSERT_EQ(::stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(XPCLoggerFile, LogFolderThatIsNotTheUsersOwnIsLeftAloneAndLinesGoToStandardError) {
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path& folder)> plant;
    };
    const Case cases[] = {
        {"a file in its place", [](auto& folder) { std::ofstream(folder) << "x"; }},
        {"another user's folder, open to all",
         [](auto& folder) {
             std::filesystem::create_directory(folder);
             ::chmod(folder.c_str(), 0777);
             ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
         }},
    };
    ::setenv("LC_ALL", "C", 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (::geteuid() != 0 && std::string(c.name) != "a file in its place")
            continue;  // giving a folder away takes root
        auto state = testsupport::makeTempDir("state");
        testsupport::ScopedVariable stateHome("XDG_STATE_HOME", state.native());
        testsupport::ScopedVariable noStartedLog("QUORVANE_BROKEL_LOG_PATH", std::nullopt);
        auto folder = XPCLogger::logFolder();
        std::filesystem::create_directories(folder.parent_path());
        c.plant(folder);

        CapturedStandardError captured;
        XPCLogger().log("Listener resumed");
        auto lines = relaytest::logMessages(captured.text());
        EXPECT_EQ(lines, (std::vector<std::string>{"error: Cannot open the log file in " + folder.native() +
                                                       ", logging to standard error",
                                                   "info: Listener resumed"}));
        EXPECT_FALSE(std::filesystem::exists(folder / XPCLogger::logFileName));
    }
}
