#pragma once
// The real clock: UTC in whole seconds, local time through the system's time zone rules.
#include "core/clock.h"

namespace platform {

class SystemClock : public kest::IClock {
  public:
    double Now() const override;
    double ToLocal(double utcDays) const override;
    int64_t MonotonicMs() const override;
};

}  // namespace platform
