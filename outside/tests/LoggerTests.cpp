#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "outside/Logger/LoggerClient.h"
#include "platform/testing/TestEnvironment.h"
#include "platform/testing/TestPKI.h"

namespace {

std::filesystem::path logFile(const std::string& logID) {
    return std::filesystem::path(std::getenv("XDG_STATE_HOME")) / "quorvane" / "logs" / (logID + ".log");
}

std::vector<std::string> readLines(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

}  // namespace

TEST(LoggerClientTest, WritesOneTimestampedLinePerCallToTheFileOfItsLogID) {
    LoggerClient logger("logger-file-test");
    LoggerClient other("logger-file-other");
    logger.debug("first");
    logger.info("second: with / and \"quotes\"");
    other.info("elsewhere");
    logger.error("third");

    auto lines = readLines(logFile("logger-file-test"));
    ASSERT_EQ(lines.size(), 3u);
    const std::regex stamp(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} )");
    const std::string expected[] = {"DEBUG first", "INFO second: with / and \"quotes\"", "ERROR third"};
    for (size_t i = 0; i < 3; ++i) {
        std::smatch match;
        ASSERT_TRUE(std::regex_search(lines[i], match, stamp)) << lines[i];
        EXPECT_EQ(match.suffix().str(), expected[i]);
    }
    EXPECT_EQ(readLines(logFile("logger-file-other")).size(), 1u);
}

TEST(LoggerClientTest, AnUnwritableLogFolderIsIgnoredSilently) {
    const std::string oldState = std::getenv("XDG_STATE_HOME");
    auto blocker = testsupport::makeTempDir("logger") / "not-a-folder";
    testsupport::writeFile(blocker, "a file where the folder should be");
    setenv("XDG_STATE_HOME", blocker.c_str(), 1);
    LogCapture capture;
    LoggerClient logger("logger-unwritable-test");
    EXPECT_NO_THROW(logger.error("lost on disk, still captured"));
    setenv("XDG_STATE_HOME", oldState.c_str(), 1);
    EXPECT_EQ(capture.messages(), std::vector<std::string>{"lost on disk, still captured"});
}

TEST(LogCaptureTest, CollectsLinesFromEveryThreadWhileAlive) {
    LoggerClient before("capture-test");
    before.info("before any capture");

    auto outer = std::make_unique<LogCapture>();
    constexpr int threads = 4, perThread = 250;
    {
        LogCapture inner;
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([t] {
                LoggerClient logger("capture-test-" + std::to_string(t));
                for (int i = 0; i < perThread; ++i)
                    logger.debug(std::to_string(t) + ":" + std::to_string(i));
            });
        for (auto& worker : workers)
            worker.join();

        auto lines = inner.lines();
        ASSERT_EQ(lines.size(), static_cast<size_t>(threads * perThread));
        std::vector<int> next(threads, 0);
        for (const auto& line : lines) {
            EXPECT_EQ(line.level, LogLevel::debug);
            int t = line.logID.back() - '0';
            ASSERT_TRUE(t >= 0 && t < threads) << line.logID;
            // Each thread's lines arrive whole and in its own order.
            EXPECT_EQ(line.message, std::to_string(t) + ":" + std::to_string(next[t]++));
        }
    }
    EXPECT_EQ(outer->lines().size(), static_cast<size_t>(threads * perThread));
    outer->clear();
    before.error("after the inner capture ended");
    EXPECT_EQ(outer->messages(), std::vector<std::string>{"after the inner capture ended"});
    EXPECT_EQ(outer->lines().front().level, LogLevel::error);
    EXPECT_EQ(outer->lines().front().logID, "capture-test");
}
