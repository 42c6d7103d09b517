#include "platform/timestamp.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

std::tm Fields(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return t;
}

TEST(Timestamp, MonthDayYearThenTwentyFourHourTime) {
    EXPECT_EQ(platform::FormatStamp(Fields(2026, 12, 5, 18, 27, 30)), "12/05/26 18:27:30");
    EXPECT_EQ(platform::FormatStamp(Fields(1999, 7, 31, 23, 59, 59)), "07/31/99 23:59:59");
    // Fields out of range cannot widen the stamp.
    EXPECT_EQ(platform::FormatStamp(Fields(12345, 1, -3, 1234, 5, 6)).size(), 17u);
}

TEST(Timestamp, LocalTimeOfAGivenMomentAndNow) {
    std::tm fields = Fields(2026, 3, 29, 2, 30, 0);
    std::time_t when = std::mktime(&fields);  // normalises fields to local time
    ASSERT_NE(when, static_cast<std::time_t>(-1));
    EXPECT_EQ(platform::LocalStamp(when), platform::FormatStamp(fields));

    std::string now = platform::NowStamp();
    EXPECT_TRUE(
        std::regex_match(now, std::regex("[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}")))
        << now;
}

}  // namespace
