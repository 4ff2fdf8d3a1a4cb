#include "LoggerClient.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>

#include "platform/UserFolders.h"

struct LogCapture::State {
    std::vector<Line> lines;
};

namespace {

// One process-wide sink. It is never destroyed, so loggers held by static objects can still write while the
// process exits.
struct Sink {
    std::mutex mutex;
    std::map<std::string, int> files;                      // log id -> descriptor; -1 until opened
    std::vector<std::vector<LogCapture::Line>*> captures;  // the lines of each live capture

    static Sink& shared() {
        static Sink* sink = new Sink;
        return *sink;
    }
};

// The descriptor of the log file, opened on first use; -1 when it cannot be opened (then tried again later).
int fileFor(Sink& sink, const std::string& logID) {
    int& fd = sink.files.try_emplace(logID, -1).first->second;
    if (fd >= 0)
        return fd;
    // Only the user's own folder: one that someone else made, or a link in its place, is never written to.
    auto folder = LoggerClient::logFolder();
    if (!platform::makePrivateFolder(folder))
        return -1;
    fd = ::open((folder / (logID + ".log")).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC,
                0600);
    return fd;
}

const char* levelName(LogLevel level) {
    switch (level) {
        case LogLevel::debug:
            return "DEBUG";
        case LogLevel::info:
            return "INFO";
        case LogLevel::error:
            return "ERROR";
    }
    return "INFO";
}

std::string timestamp() {
    auto now = std::chrono::system_clock::now();
    auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return buffer;
}

void writeAll(int fd, const std::string& text) {
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;  // a full disk must not take the caller down
        data += written;
        left -= static_cast<size_t>(written);
    }
}

}  // namespace

std::filesystem::path LoggerClient::logFolder() {
    return platform::stateHome() / "quorvane" / "logs";
}

LoggerClient::LoggerClient(std::string logID) : logID_(std::move(logID)) {}

void LoggerClient::debug(std::string_view message) const {
    write(LogLevel::debug, message);
}
void LoggerClient::info(std::string_view message) const {
    write(LogLevel::info, message);
}
void LoggerClient::error(std::string_view message) const {
    write(LogLevel::error, message);
}

void LoggerClient::write(LogLevel level, std::string_view message) const {
    try {
        std::string line = timestamp() + " " + levelName(level) + " ";
        line.append(message);
        line += '\n';
        Sink& sink = Sink::shared();
        std::lock_guard lock(sink.mutex);
        for (auto* capture : sink.captures)
            capture->push_back({logID_, level, std::string(message)});
        int fd = fileFor(sink, logID_);
        if (fd >= 0)
            writeAll(fd, line);
    } catch (...) {
        // Logging never fails its caller (not even when memory runs out).
    }
}

LogCapture::LogCapture() : state_(std::make_shared<State>()) {
    Sink& sink = Sink::shared();
    std::lock_guard lock(sink.mutex);
    sink.captures.push_back(&state_->lines);
}

LogCapture::~LogCapture() {
    Sink& sink = Sink::shared();
    std::lock_guard lock(sink.mutex);
    std::erase(sink.captures, &state_->lines);
}

std::vector<LogCapture::Line> LogCapture::lines() const {
    Sink& sink = Sink::shared();
    std::lock_guard lock(sink.mutex);
    return state_->lines;
}

std::vector<std::string> LogCapture::messages() const {
    Sink& sink = Sink::shared();
    std::lock_guard lock(sink.mutex);
    std::vector<std::string> out;
    out.reserve(state_->lines.size());
    for (const auto& line : state_->lines)
        out.push_back(line.message);
    return out;
}

void LogCapture::clear() {
    Sink& sink = Sink::shared();
    std::lock_guard lock(sink.mutex);
    state_->lines.clear();
}
