#pragma once
// Shared helpers of the fuzz targets: a check that stops the run, and the rules for decoded names.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace kestfuzz {

// A decoded name in the server's text form: "" or "." for the root (as the decoder returns
// them), else non-empty labels of allowed lower-case bytes, each followed by a dot, 255 wire
// bytes at most.
inline bool GoodName(std::string_view n, bool rootIsDot) {
    if (n.empty()) return !rootIsDot;
    if (n == ".") return rootIsDot;
    if (n.back() != '.' || n.size() > 254) return false;
    size_t label = 0;
    for (char ch : n) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == '.') {
            if (label == 0) return false;
            label = 0;
            continue;
        }
        if (c < 0x21 || c == 0x7F || (c >= 'A' && c <= 'Z')) return false;
        ++label;
    }
    return true;
}

// The absolute lower-case form ZipName's input decodes back to ("." for the root).
inline std::string Normal(std::string_view text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == '.') ++i;
        if (i >= text.size()) break;
        size_t dot = text.find('.', i);
        if (dot == std::string_view::npos) dot = text.size();
        for (size_t k = i; k < dot; ++k) {
            char c = text[k];
            out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
        }
        out.push_back('.');
        i = dot;
    }
    return out.empty() ? std::string(".") : out;
}

}  // namespace kestfuzz
