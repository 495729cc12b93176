#pragma once
// Conversions between day counts (days since 1899-12-30) and calendar fields, and the text forms
// the system writes. All of it is pure arithmetic; no time zone is involved here.
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace kest {

struct CivilTime {
    int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
};

// Whole seconds since 1970-01-01 00:00 to days since 1899-12-30 and back.
double UnixToDays(int64_t unixSeconds);
int64_t DaysToUnix(double days);

CivilTime DaysToCivil(double days);
double CivilToDays(const CivilTime& t);

// "yyyy-mm-dd hh:mm:ss"
std::string FormatDateTime(double days);
// "hh:mm:ss"
std::string FormatTime(double days);
// "yyyymmdd"
std::string FormatDateCompact(double days);
// Reads "yyyy-mm-dd hh:mm:ss" (the time may be left out); nothing on malformed text.
std::optional<double> ParseDateTime(const std::string& text);

// Counts one request in the slot of the present second (local days) of a minute-long ring of
// per-second counts, and clears the next slot, so the ring's oldest second starts from nothing.
void CountInSecondRing(std::array<int16_t, 60>& counts, double localDays);

}  // namespace kest
