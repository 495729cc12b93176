// The look-up tool's reply printer on any datagram: it ends, every line ends in CR LF (no other
// CR or LF gets into the text), the two flag lines come first, and the text stays within a bound
// of the datagram's size.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "lookup/query_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string msg(reinterpret_cast<const char*>(data), size);
    const int32_t qtype = size > 0 ? data[size - 1] | (size > 1 ? data[size - 2] << 8 : 0) : 1;
    std::string out;
    lookup::ReplyText(msg, "fuzz.test", qtype, (size & 1) != 0, out);
    FUZZ_CHECK(out.starts_with("Authoritative Answer: "));
    FUZZ_CHECK(out.find("\r\nRecursion Available: ") != std::string::npos);
    FUZZ_CHECK(out.ends_with("\r\n"));
    for (size_t i = 0; i < out.size(); ++i) {
        if (out[i] == '\r') FUZZ_CHECK(i + 1 < out.size() && out[i + 1] == '\n');
        if (out[i] == '\n') FUZZ_CHECK(i > 0 && out[i - 1] == '\r');
    }
    // An entry takes at least 6 bytes and prints at most two names of 254 characters in a few
    // fixed lines.
    FUZZ_CHECK(out.size() <= 400 + 200 * size);
    return 0;
}
