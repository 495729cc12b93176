#include "platform/timer.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/platform/qt_env.h"

using kest::test::RunTicks;
using kest::test::RunUntil;

TEST(Timer, SingleShotFiresOnceAndRepeatingUntilStopped) {
    platform::Timer once(5, true);
    int onceCount = 0;
    once.OnTimeout = [&] { ++onceCount; };
    EXPECT_FALSE(once.IsActive());
    once.Start();
    EXPECT_TRUE(once.IsActive());
    ASSERT_TRUE(RunUntil([&] { return onceCount > 0; }));
    RunTicks(5);
    EXPECT_EQ(onceCount, 1);
    EXPECT_FALSE(once.IsActive());

    platform::Timer repeating;
    repeating.SetInterval(2);
    EXPECT_EQ(repeating.Interval(), 2);
    EXPECT_FALSE(repeating.IsSingleShot());
    int count = 0;
    repeating.OnTimeout = [&] {
        if (++count == 3) repeating.Stop();
    };
    repeating.Start();
    ASSERT_TRUE(RunUntil([&] { return count >= 3; }));
    RunTicks(2);
    EXPECT_EQ(count, 3);
    EXPECT_FALSE(repeating.IsActive());

    // Start(ms) restarts with the new interval.
    repeating.Start(1);
    EXPECT_EQ(repeating.Interval(), 1);
    ASSERT_TRUE(RunUntil([&] { return count >= 4; }));
}

TEST(Timer, StoppedTimerDoesNotFireAndCallbackMayDestroyIt) {
    platform::Timer t(1, true);
    int fired = 0;
    t.OnTimeout = [&] { ++fired; };
    t.Start();
    t.Stop();
    RunTicks(1);
    EXPECT_EQ(fired, 0);

    auto owned = std::make_unique<platform::Timer>(1);
    owned->OnTimeout = [&] {
        ++fired;
        owned.reset();
    };
    owned->Start();
    ASSERT_TRUE(RunUntil([&] { return owned == nullptr; }));
    RunTicks(1);
    EXPECT_EQ(fired, 1);
}
