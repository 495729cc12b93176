#include "platform/system_clock.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cmath>

#include "core/datetime.h"
#include "tests/support/temp_dir.h"

using kest::test::ScopedEnv;

TEST(SystemClock, UtcInWholeSecondsAndLocalTimeByTheZoneRules) {
    platform::SystemClock clock;
    const int64_t before = ::time(nullptr);
    const double now = clock.Now();
    const int64_t after = ::time(nullptr);
    const double seconds = now * 86400.0;
    EXPECT_NEAR(seconds, std::round(seconds), 1e-3);
    EXPECT_GE(kest::DaysToUnix(now), before);
    EXPECT_LE(kest::DaysToUnix(now), after);

    const double summer = kest::CivilToDays({2026, 7, 1, 12, 0, 0});
    const double winter = kest::CivilToDays({2026, 1, 15, 23, 30, 5});
    {
        ScopedEnv tz("TZ", "UTC0");
        ::tzset();
        EXPECT_EQ(kest::FormatDateTime(clock.ToLocal(winter)), "2026-01-15 23:30:05");
    }
    {
        // Central Europe: one hour ahead in winter, two in summer, across the date line too.
        ScopedEnv tz("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
        ::tzset();
        EXPECT_EQ(kest::FormatDateTime(clock.ToLocal(winter)), "2026-01-16 00:30:05");
        EXPECT_EQ(kest::FormatDateTime(clock.ToLocal(summer)), "2026-07-01 14:00:00");
    }
    ::tzset();

    // Milliseconds of the monotonic clock, so a change of the wall clock cannot move it.
    const auto monotonicMs = [] {
        timespec ts{};
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
    };
    const int64_t monoBefore = monotonicMs();
    const int64_t mono = clock.MonotonicMs();
    const int64_t monoAfter = monotonicMs();
    EXPECT_GE(mono, monoBefore);
    EXPECT_LE(mono, monoAfter);
}
