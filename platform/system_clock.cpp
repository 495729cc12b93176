#include "platform/system_clock.h"

#include <time.h>

#include "core/datetime.h"

namespace platform {

double SystemClock::Now() const {
    return kest::UnixToDays(static_cast<int64_t>(::time(nullptr)));
}

double SystemClock::ToLocal(double utcDays) const {
    const time_t t = static_cast<time_t>(kest::DaysToUnix(utcDays));
    tm local{};
    if (::localtime_r(&t, &local) == nullptr) return utcDays;
    return kest::CivilToDays({local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                              local.tm_min, local.tm_sec});
}

int64_t SystemClock::MonotonicMs() const {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1'000'000;
}

}  // namespace platform
