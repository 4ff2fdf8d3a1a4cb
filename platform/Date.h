#pragma once
// Points in time. The server and session model count seconds from the reference date 2001-01-01 00:00:00 UTC.
#include <algorithm>
#include <chrono>

namespace platform {

using Date = std::chrono::system_clock::time_point;
using Seconds = std::chrono::duration<double>;

// 2001-01-01 00:00:00 UTC as Unix time.
inline constexpr std::chrono::seconds referenceDateUnixOffset{978307200};

inline double timeIntervalSinceReferenceDate(Date date) {
    return Seconds(date.time_since_epoch() - referenceDateUnixOffset).count();
}

// The clock holds about 1677-09-22 to 2262-04-11. Dates from outside (a certificate that never expires ends
// on 9999-12-31) are clamped to that range rather than wrapped around.
inline Date clampedDate(std::chrono::milliseconds sinceEpoch) {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    const auto earliest = duration_cast<milliseconds>(Date::min().time_since_epoch());
    const auto latest = duration_cast<milliseconds>(Date::max().time_since_epoch());
    return Date(duration_cast<Date::duration>(std::clamp(sinceEpoch, earliest, latest)));
}

inline Date dateFromReferenceInterval(double seconds) {
    constexpr double limit = 9.2e9;  // seconds from 1970, just inside the clock's range
    double sinceEpoch = seconds + static_cast<double>(referenceDateUnixOffset.count());
    if (!(sinceEpoch > -limit))
        sinceEpoch = -limit;  // NaN included
    if (sinceEpoch > limit)
        sinceEpoch = limit;
    return Date(std::chrono::duration_cast<Date::duration>(Seconds(sinceEpoch)));
}

}  // namespace platform
