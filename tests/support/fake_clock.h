#pragma once
// A clock that moves only when a test says so.
#include "core/clock.h"
#include "core/datetime.h"

namespace kest::test {

class FakeClock : public IClock {
public:
    explicit FakeClock(double utcDays = CivilToDays({2026, 3, 14, 12, 0, 0}), int offsetSeconds = 0)
        : now_(utcDays), offset_(offsetSeconds) {}

    double Now() const override { return now_; }
    double ToLocal(double utcDays) const override { return utcDays + offset_ * kSecond; }
    int64_t MonotonicMs() const override { return mono_; }

    void Set(double utcDays) { now_ = utcDays; }
    void SetLocal(const CivilTime& t) { now_ = CivilToDays(t) - offset_ * kSecond; }
    // Moves both clocks forward by whole seconds.
    void Advance(int64_t seconds) {
        now_ = UnixToDays(DaysToUnix(now_) + seconds);
        mono_ += seconds * 1000;
    }
    void AdvanceMs(int64_t ms) { mono_ += ms; }

private:
    double now_;
    int offset_;
    int64_t mono_ = 1'000'000;
};

}  // namespace kest::test
