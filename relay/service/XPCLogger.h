#pragma once
// Brokel's log: one line per step, appended to the user's own log file. The file is emptied when it has grown
// to the size limit or beyond, checked when the logger is made and before each line.
#include <cstdint>
#include <filesystem>
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
    static constexpr char logFileName[] = "brokel_std.txt";
    static constexpr std::uint64_t sizeLimit = 0xA00001;  // one byte more than 10 MiB

    // Appends to logFileName in logFolder(), which is made with mode 0700 and must be the user's own. A log
    // that cannot be opened never keeps the relay from serving: the lines then go to standard error. With
    // QUORVANE_BROKEL_LOG_PATH set, whoever started the relay has sent its standard output to that file: the
    // lines go to standard output and the size rule reads that path.
    XPCLogger();
    // Writes to the descriptor; the size rule reads the path. The clock defaults to the system clock.
    XPCLogger(std::string path, int fd, std::function<platform::Date()> clock = {});

    void log(std::string_view message, XPCLogType type = XPCLogType::info) const;
    void truncateIfTooLarge() const;
    // 0 for a missing file or any error.
    static std::uint64_t fileSize(const std::string& path);

    // The date as the current locale's short date and medium time ("12/9/26, 8:16:24 AM" in English).
    static std::string formatDate(platform::Date date);

    // The folder of the app's logs (outside/Logger): the relay writes next to them.
    static std::filesystem::path logFolder();

  private:
    std::string path_;
    int fd_;
    std::function<platform::Date()> clock_;
};

}  // namespace relay
