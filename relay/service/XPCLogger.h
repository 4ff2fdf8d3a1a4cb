#pragma once
// Brokel's log: one line per step on standard output, which the launch agent appends to the log file. The
// file is emptied when it has grown to the size limit or beyond, checked when the logger is made and before
// each line.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Date.h"

namespace relay {

enum class XPCLogType { info, error };

// "INFO" or "ERROR".
const char* rawValue(XPCLogType type);

class XPCLogger {
  public:
    static constexpr char logFilePath[] = "/tmp/com.tovik.kelv-pc-signing-macos/logs/brokel_std.txt";
    static constexpr std::uint64_t sizeLimit = 0xA00001;  // one byte more than 10 MiB

    // Writes to standard output; the size rule reads logFilePath, or QUORVANE_BROKEL_LOG_PATH when it is set
    // (tests point both at a file of their own).
    XPCLogger();
    // Writes to the descriptor; the size rule reads the path. The clock defaults to the system clock.
    XPCLogger(std::string path, int fd, std::function<platform::Date()> clock = {});

    void log(std::string_view message, XPCLogType type = XPCLogType::info) const;
    void truncateIfTooLarge() const;
    // 0 for a missing file or any error.
    static std::uint64_t fileSize(const std::string& path);

    // The date as the current locale's short date and medium time ("12/9/26, 8:16:24 AM" in English).
    static std::string formatDate(platform::Date date);

  private:
    std::string path_;
    int fd_;
    std::function<platform::Date()> clock_;
};

}  // namespace relay
