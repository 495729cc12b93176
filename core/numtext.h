#pragma once
// The one reader of numbers in text (settings, zone files, state files): leading blanks, a sign,
// digits and, for doubles, a fraction; whatever follows is ignored, and no digits read as 0.
#include <cstdint>
#include <string_view>

namespace kest {

// The numeric value of the leading part of the text.
double LeadingNumber(std::string_view text);

// LeadingNumber rounded half to even and clamped to [lo, hi].
int64_t LeadingInteger(std::string_view text, int64_t lo, int64_t hi);

inline int32_t LeadingInt32(std::string_view text) {
    return static_cast<int32_t>(LeadingInteger(text, INT32_MIN, INT32_MAX));
}
inline int16_t LeadingInt16(std::string_view text) {
    return static_cast<int16_t>(LeadingInteger(text, INT16_MIN, INT16_MAX));
}

// True when the text holds a number and nothing but blanks around it.
bool IsWholeNumber(std::string_view text);

// Rounds half to even and clamps to [lo, hi]; NaN gives 0 clamped.
int64_t RoundClamp(double value, int64_t lo, int64_t hi);

}  // namespace kest
