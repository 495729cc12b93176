#pragma once
// Time as the server counts it: days since 1899-12-30 00:00 as a double, in whole seconds.
// Arithmetic happens in UTC; ToLocal gives the wall-clock value for what is shown or written.
#include <cstdint>

namespace kest {

inline constexpr double kSecond = 1.0 / 86400.0;

class IClock {
public:
    virtual ~IClock() = default;
    // Present time, UTC, whole seconds.
    virtual double Now() const = 0;
    // The local wall-clock value of a UTC time.
    virtual double ToLocal(double utcDays) const = 0;
    // Milliseconds of a monotonic clock, for rate windows and short waits.
    virtual int64_t MonotonicMs() const = 0;

    double LocalNow() const { return ToLocal(Now()); }
};

}  // namespace kest
