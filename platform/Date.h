#pragma once
// Points in time. The server and session model count seconds from the reference date 2001-01-01 00:00:00 UTC.
#include <chrono>

namespace platform {

using Date = std::chrono::system_clock::time_point;
using Seconds = std::chrono::duration<double>;

// 2001-01-01 00:00:00 UTC as Unix time.
inline constexpr std::chrono::seconds referenceDateUnixOffset{978307200};

inline double timeIntervalSinceReferenceDate(Date date) {
    return Seconds(date.time_since_epoch() - referenceDateUnixOffset).count();
}
inline Date dateFromReferenceInterval(double seconds) {
    return Date(std::chrono::duration_cast<Date::duration>(Seconds(seconds) + referenceDateUnixOffset));
}

}  // namespace platform
