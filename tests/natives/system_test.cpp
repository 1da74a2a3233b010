// now with the clock fixed: the date and the time come from one reading, and
// the local date is that of the instant shifted by the zone.
#include "natives/system.hpp"
#include "datatypes/date.hpp"
#include "runtime/platform/platform.hpp"
#include "tests/natives/natives_fixture.hpp"

#include <gtest/gtest.h>

namespace kel::testing {
namespace {

int64_t fixed_seconds;
int32_t fixed_nanoseconds;
int32_t fixed_offset;
int clock_reads;

void fixed_now(int64_t* seconds, int32_t* nanoseconds) {
    clock_reads++;
    *seconds = fixed_seconds;
    *nanoseconds = fixed_nanoseconds;
}
int32_t fixed_zone_offset(int64_t) { return fixed_offset; }

struct NowNative : NativesTest {
    void SetUp() override {
        NativesTest::SetUp();
        platform_clock = {fixed_now, fixed_zone_offset};
        clock_reads = 0;
    }
    void TearDown() override {
        platform_clock = platform_clock_system;
        NativesTest::TearDown();
    }
    static void at(int64_t seconds, int32_t nanoseconds, int32_t offset) {
        fixed_seconds = seconds;
        fixed_nanoseconds = nanoseconds;
        fixed_offset = offset;
    }
};

// 2026-12-09 23:30:15 UTC.
constexpr int64_t LATE_EVENING = 1796859015;

TEST_F(NowNative, LocalDateFollowsTheZoneAcrossMidnight) {
    struct Case { int64_t seconds; int32_t offset; const char* text; const char* date; };
    const Case cases[] = {
        {LATE_EVENING, 0, "9-Dec-2026/23:30:15", "9-Dec-2026"},
        {LATE_EVENING, 2 * 3600, "10-Dec-2026/1:30:15+02:00", "10-Dec-2026"},
        {LATE_EVENING, 5 * 3600 + 45 * 60, "10-Dec-2026/5:15:15+05:45", "10-Dec-2026"},
        // 02:00 UTC on the 10th is still the 9th five hours west.
        {LATE_EVENING + 2 * 3600 + 30 * 60 - 15, -5 * 3600, "9-Dec-2026/21:00:00-05:00", "9-Dec-2026"},
        {LATE_EVENING + 2 * 3600 + 30 * 60 - 15, -(3 * 3600 + 30 * 60), "9-Dec-2026/22:30:00-03:30",
         "9-Dec-2026"},
    };
    for (const Case& c : cases) {
        at(c.seconds, 0, c.offset);
        EXPECT_EQ(run("now"), c.text) << c.offset;
        EXPECT_EQ(run("now/date"), c.date) << c.offset;
    }
    at(LATE_EVENING, 0, 2 * 3600);
    EXPECT_EQ(run("now/utc"), "9-Dec-2026/23:30:15");
    EXPECT_EQ(run("now/day"), "10");
    EXPECT_EQ(run("now/utc/day"), "9");
    EXPECT_EQ(run("now/yearday"), "344");
    EXPECT_EQ(run("now/weekday"), "4");
    EXPECT_EQ(run("now/zone"), "2:00:00");
    EXPECT_EQ(run("now/time"), "1:30:15");
}

TEST_F(NowNative, OneClockReadingPerCall) {
    at(LATE_EVENING, 0, 3600);
    run("now");
    EXPECT_EQ(clock_reads, 1);
    run("now/date");
    EXPECT_EQ(clock_reads, 2);
}

TEST_F(NowNative, PreciseKeepsTheFraction) {
    at(LATE_EVENING, 250000000, 0);
    EXPECT_EQ(run("now/time"), "23:30:15");
    EXPECT_EQ(run("now/time/precise"), "23:30:15.25");
}

} // namespace
} // namespace kel::testing
