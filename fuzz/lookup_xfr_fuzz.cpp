// The look-up tool's zone transfer reader on any stream: the same bytes cut into segments at
// places the input chooses print exactly like the whole stream, the reader never holds more than
// one message and its prefix, and the first lines are those of the first message's header.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "lookup/query_text.h"

namespace {

using Step = lookup::TransferReader::Step;

// Takes off every whole message; true when the transfer finished.
bool Drain(lookup::TransferReader& r, std::string& out) {
    for (;;) {
        const Step s = r.Next(out);
        if (s == Step::Finished) return true;
        if (s == Step::NeedMore) {
            FUZZ_CHECK(r.Buffered() < 65537);
            return false;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t step = data[0] + 1u;
    const std::string_view stream(reinterpret_cast<const char*>(data + 1), size - 1);

    lookup::TransferReader whole;
    std::string a;
    whole.Add(stream);
    const bool finishedWhole = Drain(whole, a);

    lookup::TransferReader cut;
    std::string b;
    bool finishedCut = false;
    for (size_t at = 0; at < stream.size() && !finishedCut; at += step) {
        cut.Add(stream.substr(at, step));
        finishedCut = Drain(cut, b);
    }
    FUZZ_CHECK(finishedWhole == finishedCut);
    FUZZ_CHECK(a == b);
    FUZZ_CHECK(a.empty() || a.starts_with("Zone Transfer:\r\n\r\n") ||
               a.starts_with("Header:\r\n"));
    FUZZ_CHECK(a.empty() || a.ends_with("\r\n"));
    return 0;
}
