#pragma once
// The logging client. Each line goes to the log file of its log id under the XDG state folder
// ($XDG_STATE_HOME/quorvane/logs/<logID>.log), and to every capture sink. Thread-safe; never throws.
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum class LogLevel { debug, info, error };

class LoggerClient {
  public:
    explicit LoggerClient(std::string logID);

    void debug(std::string_view message) const;
    void info(std::string_view message) const;
    void error(std::string_view message) const;

    const std::string& logID() const { return logID_; }

    // The folder of the log files.
    static std::filesystem::path logFolder();

  private:
    void write(LogLevel level, std::string_view message) const;
    std::string logID_;
};

// Collects every line written while it lives, from any LoggerClient, so that tests can read them back.
class LogCapture {
  public:
    struct Line {
        std::string logID;
        LogLevel level;
        std::string message;
    };
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Line> lines() const;
    // The messages only, in order.
    std::vector<std::string> messages() const;
    void clear();

  private:
    struct State;
    std::shared_ptr<State> state_;
};
