#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/Date.h"

using namespace std::chrono;
using platform::Date;

TEST(DateTest, ReferenceIntervalsRoundTripFrom2001) {
    EXPECT_EQ(platform::dateFromReferenceInterval(0), Date(seconds(978307200)));
    const Date date = Date(seconds(1'800'000'000)) + milliseconds(250);
    const auto back = platform::dateFromReferenceInterval(platform::timeIntervalSinceReferenceDate(date));
    EXPECT_LT(abs(back - date), microseconds(1));  // a double keeps well under a microsecond here
}

TEST(DateTest, ValuesBeyondTheClockAreClampedToItsEnds) {
    const Date latest = platform::clampedDate(milliseconds::max());
    const Date earliest = platform::clampedDate(milliseconds::min());
    EXPECT_GT(latest, Date(seconds(9'000'000'000)));     // after 2255
    EXPECT_LT(earliest, Date(seconds(-9'000'000'000)));  // before 1685
    EXPECT_EQ(platform::clampedDate(milliseconds(1234)), Date(milliseconds(1234)));

    EXPECT_GT(platform::dateFromReferenceInterval(1e300), Date(seconds(9'000'000'000)));
    EXPECT_LT(platform::dateFromReferenceInterval(-1e300), Date(seconds(-9'000'000'000)));
    EXPECT_LT(platform::dateFromReferenceInterval(std::numeric_limits<double>::quiet_NaN()),
              Date(seconds(-9'000'000'000)));
}
