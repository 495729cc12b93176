// ZipName followed by decoding: the decoded name equals the input made absolute and lower-cased
// (for a CleanName'd input too), or the encoder refused it; the three encoders agree.
// Input: two bytes giving the length of the message part, the message, then the name text.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/modDNS.h"
#include "core/zipname_reference.h"
#include "fuzz/fuzz_check.h"

using namespace modDNS;

namespace {

// Whether a name text has a valid wire form, by the rules alone.
bool Encodable(std::string_view text) {
    size_t wire = 1, i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == '.') ++i;
        if (i >= text.size()) break;
        size_t dot = text.find('.', i);
        if (dot == std::string_view::npos) dot = text.size();
        if (dot - i > 63) return false;
        for (size_t k = i; k < dot; ++k) {
            const unsigned char c = static_cast<unsigned char>(text[k]);
            if (c < 0x21 || c == 0x7F) return false;
        }
        wire += dot - i + 1;
        i = dot;
    }
    return wire <= 255;
}

void Check(const std::string& msg, std::string_view name, ZipIndex& warm) {
    const std::string a = ZipName(msg, name);
    ZipIndex fresh;
    FUZZ_CHECK(ZipName(msg, name, fresh) == a);
    FUZZ_CHECK(ZipName(msg, name, warm) == a);
    FUZZ_CHECK(reference::ZipName(msg, name) == a);
    FUZZ_CHECK(a.empty() == !Encodable(name));
    FUZZ_CHECK(CanZipName(name) == !a.empty());
    if (a.empty()) return;
    const std::string full = msg + a;
    const std::string u = UnzipName(full, static_cast<int>(msg.size()));
    const std::string want = kestfuzz::Normal(name);
    FUZZ_CHECK(u == (want == "." ? std::string() : want));
    // Never longer than the plain form, and pointers only to reachable offsets.
    FUZZ_CHECK(a.size() <= ZipName("", name).size());
    for (size_t p = 0; p < a.size();) {
        const unsigned char v = static_cast<unsigned char>(a[p]);
        if (v == 0) break;
        if (v >= 192) {
            FUZZ_CHECK(p + 2 == a.size());
            const size_t target = (v & 63u) * 256u + static_cast<unsigned char>(a[p + 1]);
            FUZZ_CHECK(target < msg.size() && target <= 16383);
            break;
        }
        FUZZ_CHECK(v <= 63);
        p += v + 1u;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t want = static_cast<size_t>(data[0] << 8 | data[1]);
    const size_t len = std::min(want, size - 2);
    const std::string msg(reinterpret_cast<const char*>(data) + 2, len);
    const std::string name(reinterpret_cast<const char*>(data) + 2 + len, size - 2 - len);

    // An index that has seen a prefix of the message first (the incremental path).
    ZipIndex warm;
    ZipName(std::string_view(msg).substr(0, msg.size() / 2), "warm.up.", warm);
    Check(msg, name, warm);

    const std::string clean = CleanName(name);
    Check(msg, clean, warm);
    if (!clean.empty() && Encodable(clean)) {
        const std::string z = ZipName(msg, clean);
        FUZZ_CHECK(UnzipName(msg + z, static_cast<int>(msg.size())) == clean + ".");
    }

    // Grow the message by the encoding and go on with the same index (append-only path).
    const std::string z = ZipName(msg, name, warm);
    Check(msg + z, name, warm);
    return 0;
}
