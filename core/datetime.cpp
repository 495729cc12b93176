#include "core/datetime.h"

#include <cmath>
#include <cstdio>

namespace kest {
namespace {

constexpr int64_t kUnixEpochDays = 25569;  // 1970-01-01 as a day count

// Days from 1970-01-01 of a civil date (proleptic Gregorian), after H. Hinnant.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

}  // namespace

double UnixToDays(int64_t unixSeconds) {
    return static_cast<double>(kUnixEpochDays) + static_cast<double>(unixSeconds) / 86400.0;
}

int64_t DaysToUnix(double days) {
    return static_cast<int64_t>(std::llround((days - kUnixEpochDays) * 86400.0));
}

CivilTime DaysToCivil(double days) {
    const int64_t secs = DaysToUnix(days);
    int64_t day = secs / 86400;
    int64_t rem = secs % 86400;
    if (rem < 0) {
        rem += 86400;
        --day;
    }
    CivilTime t;
    CivilFromDays(day, t.year, t.month, t.day);
    t.hour = static_cast<int>(rem / 3600);
    t.minute = static_cast<int>(rem / 60 % 60);
    t.second = static_cast<int>(rem % 60);
    return t;
}

double CivilToDays(const CivilTime& t) {
    const int64_t day = DaysFromCivil(t.year, static_cast<unsigned>(t.month),
                                      static_cast<unsigned>(t.day));
    return UnixToDays(day * 86400 + t.hour * 3600 + t.minute * 60 + t.second);
}

std::string FormatDateTime(double days) {
    const CivilTime t = DaysToCivil(days);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

std::string FormatTime(double days) {
    const CivilTime t = DaysToCivil(days);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return buf;
}

std::string FormatDateCompact(double days) {
    const CivilTime t = DaysToCivil(days);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", t.year, t.month, t.day);
    return buf;
}

std::optional<double> ParseDateTime(const std::string& text) {
    CivilTime t;
    t.hour = t.minute = t.second = 0;
    char tail = 0;
    const int n = std::sscanf(text.c_str(), " %4d-%2d-%2d %2d:%2d:%2d %c", &t.year, &t.month,
                              &t.day, &t.hour, &t.minute, &t.second, &tail);
    if (n != 3 && n != 6) return std::nullopt;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > 31 || t.hour < 0 || t.hour > 23 ||
        t.minute < 0 || t.minute > 59 || t.second < 0 || t.second > 59)
        return std::nullopt;
    return CivilToDays(t);
}

void CountInSecondRing(std::array<int16_t, 60>& counts, double localDays) {
    const int s = DaysToCivil(localDays).second % 60;
    int16_t& c = counts[static_cast<size_t>(s)];
    if (c < INT16_MAX) ++c;
    counts[static_cast<size_t>((s + 1) % 60)] = 0;
}

}  // namespace kest
