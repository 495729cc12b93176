#include "platform/event_pump.h"

#include <gtest/gtest.h>

#include <QTimer>
#include <algorithm>
#include <memory>
#include <vector>

#include "platform/timer.h"
#include "tests/platform/qt_env.h"

using kest::test::RunTicks;
using kest::test::RunUntil;

TEST(EventPump, RunsPendingEventsAndBoundsItsNesting) {
    platform::EventPump pump(2, 0);
    int ran = 0;
    QTimer::singleShot(0, [&] { ++ran; });
    for (int i = 0; i < 20 && ran == 0; ++i) pump.Pump();
    EXPECT_EQ(ran, 1);

    // Handlers that pump from inside each other: nesting stops at the bound.
    int deepest = 0;
    std::vector<std::unique_ptr<platform::Timer>> timers;
    for (int i = 0; i < 6; ++i) {
        timers.push_back(std::make_unique<platform::Timer>(0));
        timers.back()->OnTimeout = [&] {
            deepest = std::max(deepest, pump.Depth());
            pump.Pump();
        };
        timers.back()->Start();
    }
    ASSERT_TRUE(RunUntil([&] { return deepest >= 2 && pump.Skipped() > 0; }));
    for (auto& t : timers) t->Stop();
    EXPECT_EQ(deepest, 2);
    EXPECT_GT(pump.Skipped(), 0);
    EXPECT_EQ(pump.Depth(), 0);
}

TEST(EventPump, SkipsWhenItRanAMomentAgo) {
    platform::EventPump pump(4, 60'000);
    pump.Pump();
    pump.Pump();
    pump.Pump();
    EXPECT_EQ(pump.Pumped(), 1);
    EXPECT_EQ(pump.Skipped(), 2);
}

TEST(EventPump, IdleHookRunsWhileTheLoopWaitsUntilReleased) {
    int calls = 0;
    std::shared_ptr<void> hook = platform::WhenLoopIdle([&] { ++calls; });
    ASSERT_NE(hook, nullptr);
    // The loop waits between the ticks of a timer.
    RunTicks(2);
    EXPECT_GT(calls, 0);
    hook.reset();
    const int before = calls;
    RunTicks(2);
    EXPECT_EQ(calls, before);
}
