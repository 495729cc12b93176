// UnzipName and ExtractName on arbitrary bytes and offsets.
// Input: two bytes of offset (big-endian), two bytes of a span length, then the message.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/modDNS.h"
#include "fuzz/fuzz_check.h"

using namespace modDNS;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const int offset = data[0] << 8 | data[1];
    const size_t spanLen = static_cast<size_t>(data[2] << 8 | data[3]);
    const std::string msg(reinterpret_cast<const char*>(data) + 4, size - 4);
    const std::string_view m(msg);

    const std::string u = UnzipName(m, offset);
    FUZZ_CHECK(u == "incomplete." || kestfuzz::GoodName(u, false));

    if (static_cast<size_t>(offset) <= m.size()) {
        // The same bytes read by ExtractName from the offset on give the same name.
        std::string_view rest = m.substr(static_cast<size_t>(offset));
        const size_t before = rest.size();
        const std::string e = ExtractName(m, rest, true);
        FUZZ_CHECK(e == (u.empty() ? std::string(".") : u));
        FUZZ_CHECK(rest.size() <= before);
        if (e != "incomplete.") FUZZ_CHECK(before - rest.size() >= 1);
        std::string_view again = m.substr(static_cast<size_t>(offset));
        FUZZ_CHECK(ExtractName(m, again, false) == e && again.size() == before);

        // A shorter span (a record's RDATA): the name is cut there, or the same.
        std::string_view span = m.substr(static_cast<size_t>(offset), spanLen);
        const std::string s = ExtractName(m, span, true);
        FUZZ_CHECK(s == "incomplete." || s == e);
        // std::string form consumes the same bytes.
        std::string owned(m.substr(static_cast<size_t>(offset)));
        FUZZ_CHECK(ExtractName(m, owned, true) == e && owned.size() == rest.size());
    }

    // What decodes re-encodes to the same name (unless a label is over 63, which the decoder's
    // decoder accepts up to 191 and the encoder refuses).
    if (u != "incomplete.") {
        const std::string z = ZipName("", u);
        FUZZ_CHECK(z.empty() == !CanZipName(u));
        if (!z.empty()) FUZZ_CHECK(UnzipName(z, 0) == u);
        // Compressed against the message itself, it decodes the same as well.
        const std::string zc = ZipName(m, u);
        if (!zc.empty()) FUZZ_CHECK(UnzipName(msg + zc, static_cast<int>(msg.size())) == u);
    }
    return 0;
}
