#include "relay/service/XPCLogger.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "outside/Logger/LoggerClient.h"
#include "platform/UserFolders.h"

namespace relay {

namespace {

// The locale whose date format applies: LC_ALL, LC_TIME, then LANG.
std::string timeLocaleName() {
    for (const char* name : {"LC_ALL", "LC_TIME", "LANG"})
        if (const char* value = std::getenv(name); value && *value)
            return value;
    return "C";
}

bool usesEnglishFormat(const std::string& locale) {
    return locale == "C" || locale == "POSIX" || locale.rfind("C.", 0) == 0 || locale.rfind("en_US", 0) == 0;
}

std::chrono::system_clock::time_point systemNow() {
    return std::chrono::system_clock::now();
}

// The log file in its folder, opened for appending; -1 when the folder is not the user's own or the file
// cannot be opened. Never blocks on something other than a plain file planted in its place.
int openLogFile(const std::filesystem::path& folder) {
    if (!platform::makePrivateFolder(folder))
        return -1;
    int fd = ::open((folder / XPCLogger::logFileName).c_str(),
                    O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    struct stat info {};
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

const char* rawValue(XPCLogType type) {
    return type == XPCLogType::error ? "ERROR" : "INFO";
}

XPCLogger::XPCLogger() : fd_(STDOUT_FILENO), clock_(systemNow) {
    if (const char* started = std::getenv("QUORVANE_BROKEL_LOG_PATH"); started && *started) {
        path_ = started;
        truncateIfTooLarge();
        return;
    }
    auto folder = logFolder();
    fd_ = openLogFile(folder);
    if (fd_ >= 0) {
        path_ = (folder / logFileName).native();
        truncateIfTooLarge();
        return;
    }
    fd_ = STDERR_FILENO;
    log("Cannot open the log file in " + folder.native() + ", logging to standard error", XPCLogType::error);
}

XPCLogger::XPCLogger(std::string path, int fd, std::function<platform::Date()> clock)
    : path_(std::move(path)), fd_(fd), clock_(std::move(clock)) {
    if (!clock_)
        clock_ = systemNow;
    truncateIfTooLarge();
}

std::filesystem::path XPCLogger::logFolder() {
    return LoggerClient::logFolder();
}

std::uint64_t XPCLogger::fileSize(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0)
        return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

void XPCLogger::truncateIfTooLarge() const {
    if (fileSize(path_) < sizeLimit)
        return;
    if (::ftruncate(fd_, 0) == 0) {
        // Without O_APPEND the next write would land at the old offset and leave a hole of the old size.
        ::lseek(fd_, 0, SEEK_SET);
    }
}

std::string XPCLogger::formatDate(platform::Date date) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(date);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[128];
    std::string locale = timeLocaleName();
    if (usesEnglishFormat(locale)) {
        int hour = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
        std::snprintf(text, sizeof text, "%d/%d/%02d, %d:%02d:%02d %s", local.tm_mon + 1, local.tm_mday,
                      local.tm_year % 100, hour, local.tm_min, local.tm_sec,
                      local.tm_hour < 12 ? "AM" : "PM");
        return text;
    }
    locale_t handle = ::newlocale(LC_TIME_MASK, locale.c_str(), static_cast<locale_t>(0));
    std::size_t length = handle ? ::strftime_l(text, sizeof text, "%x, %X", &local, handle)
                                : std::strftime(text, sizeof text, "%x, %X", &local);
    if (handle)
        ::freelocale(handle);
    return std::string(text, length);
}

void XPCLogger::log(std::string_view message, XPCLogType type) const {
    truncateIfTooLarge();
    std::string line = formatDate(clock_());
    line += " - ";
    line += type == XPCLogType::error ? "error" : "info";
    line += ": ";
    line += message;
    line += '\n';
    for (std::size_t done = 0; done < line.size();) {
        ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace relay
