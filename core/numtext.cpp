#include "core/numtext.h"

#include <cmath>

namespace kest {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Parses from text and returns the value; 'end' is the index after the last character used.
double Parse(std::string_view text, size_t& end) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    double sign = 1;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        if (text[i] == '-') sign = -1;
        ++i;
    }
    double value = 0;
    bool any = false;
    while (i < text.size() && IsDigit(text[i])) {
        value = value * 10 + (text[i] - '0');
        any = true;
        ++i;
    }
    if (i < text.size() && text[i] == '.') {
        size_t j = i + 1;
        double scale = 0.1;
        bool frac = false;
        while (j < text.size() && IsDigit(text[j])) {
            value += (text[j] - '0') * scale;
            scale /= 10;
            frac = true;
            ++j;
        }
        if (frac || any) i = j;
        any = any || frac;
    }
    end = any ? i : 0;
    return any ? sign * value : 0;
}

}  // namespace

double LeadingNumber(std::string_view text) {
    size_t end = 0;
    return Parse(text, end);
}

int64_t RoundClamp(double value, int64_t lo, int64_t hi) {
    if (std::isnan(value)) value = 0;
    const double r = std::nearbyint(value);  // default rounding mode: half to even
    if (r <= static_cast<double>(lo)) return lo;
    if (r >= static_cast<double>(hi)) return hi;
    return static_cast<int64_t>(r);
}

int64_t LeadingInteger(std::string_view text, int64_t lo, int64_t hi) {
    return RoundClamp(LeadingNumber(text), lo, hi);
}

bool IsWholeNumber(std::string_view text) {
    size_t end = 0;
    Parse(text, end);
    if (end == 0) return false;
    while (end < text.size() && IsBlank(text[end])) ++end;
    return end == text.size();
}

}  // namespace kest
