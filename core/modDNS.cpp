#include "core/modDNS.h"

#include <string.h>  // memmem (GNU)

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <utility>

#include "core/modIP.h"
#include "core/report.h"
#include "core/zipname_reference.h"

namespace modDNS {
namespace {

using u8 = unsigned char;

const std::string kIncomplete = "incomplete.";

inline u8 At(std::string_view s, size_t i) {
    return static_cast<u8>(s[i]);
}
inline char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
// A byte that may not stand in a label of a decoded name.
inline bool BadLabelByte(u8 c) {
    return c == '.' || c < 0x21 || c == 0x7F;
}
inline bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// A number with its leading blank for non-negative values, as the server's messages write it.
std::string Blanked(int64_t n) {
    return n >= 0 ? " " + std::to_string(n) : std::to_string(n);
}

// ---- Name decoding
// --------------------------------------------------------------------------------

enum class NameStatus { Ok, RanOff, Bad };

// Decodes the name at the front of span (a part of msg, or msg itself from an offset), following
// pointers into msg. RanOff: the name ran past the end of span before its 0 byte or pointer. Bad:
// any other failure. consumed: the bytes of span up to and including the 0 byte or the first
// pointer (valid unless RanOff).
NameStatus DecodeName(std::string_view msg, std::string_view span, std::string& out,
                      size_t& consumed) {
    out.clear();
    // The text is built in a fixed buffer: while the name is good it holds at most wire - 1
    // (254) characters.
    char text[kMaxWireName];
    size_t len = 0;
    std::string_view cur = span;
    size_t pos = 0;
    bool inSpan = true;  // still in the initial span (before the first pointer)
    bool bad = false;
    size_t wire = 1;  // the final 0 byte
    int hops = 0;
    for (;;) {
        if (pos >= cur.size()) return inSpan ? NameStatus::RanOff : NameStatus::Bad;
        const u8 v = At(cur, pos);
        if (v == 0) {
            if (inSpan) consumed = pos + 1;
            if (bad) return NameStatus::Bad;
            out.assign(text, len);
            return NameStatus::Ok;
        }
        if (v >= 192) {
            if (cur.size() - pos < 2) return inSpan ? NameStatus::RanOff : NameStatus::Bad;
            const size_t target = static_cast<size_t>(v & 63) * 256 + At(cur, pos + 1);
            if (inSpan) {
                consumed = pos + 2;
                inSpan = false;
            }
            if (bad || ++hops > kMaxPointerHops || target >= msg.size()) return NameStatus::Bad;
            cur = msg;
            pos = target;
            continue;
        }
        // A label of v bytes: it needs the length byte, the label and at least one more byte.
        if (cur.size() - pos < static_cast<size_t>(v) + 2) {
            return inSpan ? NameStatus::RanOff : NameStatus::Bad;
        }
        wire += static_cast<size_t>(v) + 1;
        if (wire > kMaxWireName) bad = true;
        if (!bad) {
            for (size_t i = 1; i <= v; ++i) {
                const u8 c = At(cur, pos + i);
                if (BadLabelByte(c)) {
                    bad = true;
                    break;
                }
                text[len++] = Lower(static_cast<char>(c));
            }
            if (!bad) text[len++] = '.';
        }
        // After the first pointer nothing more is consumed, so a failure can end the walk.
        if (bad && !inSpan) return NameStatus::Bad;
        pos += static_cast<size_t>(v) + 1;
    }
}

// ---- Name encoding
// ---------------------------------------------------------------------------------

// The uncompressed wire form (step 1 of ZipName); false when the name has no valid wire form.
bool EncodePlain(std::string_view name, std::string& wire) {
    // One pass: each label's bytes are checked while copied behind its length byte. A name of
    // n characters needs at most n + 2 bytes.
    const size_t n = name.size();
    wire.resize(n + 2);
    char* const out = wire.data();
    size_t w = 0;
    size_t i = 0;
    for (;;) {
        while (i < n && name[i] == '.') ++i;
        if (i >= n) break;
        const size_t lenAt = w++;
        const size_t start = i;
        for (; i < n && name[i] != '.'; ++i) {
            if (BadLabelByte(static_cast<u8>(name[i]))) {
                wire.clear();
                return false;
            }
            out[w++] = name[i];
        }
        const size_t len = i - start;
        if (len > kMaxLabel || w + 1 > kMaxWireName) {
            wire.clear();
            return false;
        }
        out[lenAt] = static_cast<char>(len);
    }
    out[w++] = '\0';
    wire.resize(w);
    return true;
}

// Starts of the labels of the current form, up to its 0 byte or pointer.
struct Starts {
    size_t at[kMaxWireName / 2 + 1];  // a name of 255 bytes has at most 127 labels
    size_t n = 0;
};

void LabelStarts(std::string_view wire, Starts& starts) {
    starts.n = 0;
    size_t p = 0;
    while (p < wire.size()) {
        const u8 v = At(wire, p);
        if (v == 0 || v >= 192) break;
        starts.at[starts.n++] = p;
        p += static_cast<size_t>(v) + 1;
    }
}

struct Hit {
    size_t label = 0;   // index into starts of the tail that matched
    size_t offset = 0;  // its first occurrence in the message
};

// One pass, literally: a full search of the message for each tail, longest first.
bool PassReference(std::string_view msg, std::string_view wire, const Starts& starts, Hit& hit) {
    for (size_t i = 0; i < starts.n; ++i) {
        const size_t q = msg.find(wire.substr(starts.at[i]));
        if (q != std::string_view::npos && q <= kMaxPointerTarget) {
            hit = {i, q};
            return true;
        }
    }
    return false;
}

// The first occurrence of a tail at an offset a pointer can reach (memchr-driven search).
bool FindTail(std::string_view msg, std::string_view t, size_t& found) {
    const size_t q = msg.find(t);
    if (q == std::string_view::npos || q > kMaxPointerTarget) return false;
    found = q;
    return true;
}

// One pass with few searches. When every offset of the message is in a pointer's reach, a tail
// occurs whenever a longer one does (it is a suffix of it), so the longest occurring tail is
// found by searching the shortest first (in a second pass it usually fails at once) and then
// halving: about log2(labels) + 1 searches instead of one per label. Beyond 16384 bytes that
// order does not hold and the tails are tried longest first.
template <typename Find>
bool PassHalving(std::string_view msg, std::string_view wire, const size_t* st, size_t count,
                 Hit& hit, Find find) {
    if (count == 0) return false;
    size_t q = 0;
    if (msg.size() > kMaxPointerTarget + 1) {
        for (size_t i = 0; i < count; ++i) {
            if (find(wire.substr(st[i]), q)) {
                hit = {i, q};
                return true;
            }
        }
        return false;
    }
    if (!find(wire.substr(st[count - 1]), q)) return false;
    size_t lo = 0, hi = count - 1, hiq = q;  // tail hi occurs, first at hiq
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (find(wire.substr(st[mid]), q)) {
            hi = mid;
            hiq = q;
        } else {
            lo = mid + 1;
        }
    }
    hit = {hi, hiq};
    return true;
}

bool PassScan(std::string_view msg, std::string_view wire, const Starts& starts, Hit& hit) {
    return PassHalving(msg, wire, starts.at, starts.n, hit,
                       [&](std::string_view t, size_t& q) { return FindTail(msg, t, q); });
}

// The passes of ZipName, with pass(wire, starts, hit) finding the tail to replace.
template <typename Pass>
std::string Compress(std::string_view name, Pass pass) {
    std::string wire;
    if (!EncodePlain(name, wire)) return {};
    if (wire.size() == 1) return wire;
    Starts starts;
    for (;;) {
        LabelStarts(wire, starts);
        Hit hit;
        if (!pass(std::string_view(wire), starts, hit)) break;
        wire.resize(starts.at[hit.label]);
        wire.push_back(static_cast<char>(hit.offset / 256 + 192));
        wire.push_back(static_cast<char>(hit.offset & 0xFF));
    }
    return wire;
}

// ---- Fields -------------------------------------------------------------------------------------

template <typename Data>
std::string_view View(const Data& d) {
    return std::string_view(d);
}

template <typename Data>
void Drop(Data& d, size_t n) {
    if constexpr (std::is_same_v<Data, std::string>) {
        d.erase(0, n);
    } else {
        d.remove_prefix(n);
    }
}

template <typename Data>
bool Take(Data& data, bool consume, size_t n, uint32_t& value) {
    const std::string_view v = View(data);
    if (v.size() < n) {
        data = Data{};  // too short: emptied, with or without consume
        value = 0;
        return false;
    }
    uint32_t x = 0;
    for (size_t i = 0; i < n; ++i) x = (x << 8) | At(v, i);
    value = x;
    if (consume) Drop(data, n);
    return true;
}

template <typename Data>
int16_t ShortImpl(Data& data, bool consume) {
    try {
        uint32_t v;
        Take(data, consume, 2, v);
        return static_cast<int16_t>(v & 0x7FFF);
    } catch (...) {
        kest::ReportError("modDNS ExtractShort");
        return 0;
    }
}

template <typename Data>
int32_t ShortLImpl(Data& data, bool consume) {
    try {
        uint32_t v;
        Take(data, consume, 2, v);
        return static_cast<int32_t>(v);
    } catch (...) {
        kest::ReportError("modDNS ExtractShortL");
        return 0;
    }
}

template <typename Data>
int32_t LongImpl(Data& data, bool consume) {
    try {
        uint32_t v;
        Take(data, consume, 4, v);
        return v >= 0x80000000u ? 2147483647 : static_cast<int32_t>(v);
    } catch (...) {
        kest::ReportError("modDNS ExtractLong");
        return 0;
    }
}

template <typename Data>
uint32_t LongUImpl(Data& data, bool consume) {
    try {
        uint32_t v;
        Take(data, consume, 4, v);
        return v;
    } catch (...) {
        kest::ReportError("modDNS ExtractLongU");
        return 0;
    }
}

template <typename Data>
std::string ExtractNameImpl(std::string_view message, Data& rest, bool consume) {
    try {
        const std::string_view span = View(rest);
        if (span.empty()) return kIncomplete;
        std::string out;
        size_t consumed = 0;
        const NameStatus st = DecodeName(message, span, out, consumed);
        if (st == NameStatus::RanOff) {
            if (consume) rest = Data{};
            return kIncomplete;
        }
        if (consume) Drop(rest, consumed);
        if (st == NameStatus::Bad) return kIncomplete;
        return out.empty() ? std::string(".") : out;
    } catch (...) {
        kest::ReportError("modDNS ExtractName");
        return {};
    }
}

// Well-formed TXT RDATA: one or more character strings filling it exactly.
bool ValidTXT(std::string_view rdata) {
    if (rdata.empty()) return false;
    size_t p = 0;
    while (p < rdata.size()) p += static_cast<size_t>(At(rdata, p)) + 1;
    return p == rdata.size();
}

std::string CleanDots(std::string s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        if (c == '.' && (out.empty() || out.back() == '.')) continue;
        out.push_back(c);
    }
    while (!out.empty() && out.back() == '.') out.pop_back();
    return out;
}

std::string Trim(std::string_view t) {
    size_t a = 0, b = t.size();
    while (a < b && IsBlank(t[a])) ++a;
    while (b > a && IsBlank(t[b - 1])) --b;
    return std::string(t.substr(a, b - a));
}

}  // namespace

// ---- Types and sections
// --------------------------------------------------------------------------

bool IsKeptType(int32_t type) {
    switch (type) {
        case kTypeA:
        case kTypeNS:
        case kTypeCNAME:
        case kTypeSOA:
        case kTypePTR:
        case kTypeMX:
        case kTypeTXT:
        case kTypeSRV:
            return true;
        default:
            return false;
    }
}

std::string_view SectionName(int secNo) {
    return secNo >= 1 && secNo <= 4 ? kSectionNames[static_cast<size_t>(secNo)]
                                    : std::string_view{};
}

// ---- ZipName
// --------------------------------------------------------------------------------------

std::string ZipName(std::string_view message, std::string_view name) {
    try {
        return Compress(name, [&](std::string_view wire, const Starts& starts, Hit& hit) {
            return PassScan(message, wire, starts, hit);
        });
    } catch (...) {
        kest::ReportError("modDNS ZipName");
        return {};
    }
}

bool CanZipName(std::string_view name) {
    try {
        std::string wire;
        return EncodePlain(name, wire);
    } catch (...) {
        kest::ReportError("modDNS CanZipName");
        return false;
    }
}

namespace reference {
std::string ZipName(std::string_view message, std::string_view name) {
    return Compress(name, [&](std::string_view wire, const Starts& starts, Hit& hit) {
        return PassReference(message, wire, starts, hit);
    });
}
}  // namespace reference

// The index. A tail begins with a label (a length byte v of 1 to 63 and v bytes), so it can only
// occur at an offset where the message holds the same length byte and label. Every offset
// q <= 16383 whose byte v is 1 to 63 is hashed by its key, the first min(v + 1, 16) bytes from q,
// into a bucket; each bucket chains its offsets in ascending order, so the first candidate that
// holds the whole tail is the tail's first occurrence. Offsets whose key is not complete yet (in
// the last 15 bytes of the message so far) wait for later bytes and are checked one by one.
struct ZipIndex::Impl {
    static constexpr size_t kBucketBits = 11;
    static constexpr size_t kBuckets = size_t{1} << kBucketBits;
    std::string copy;    // the message bytes indexed (what is needed of them), then kKey zeros
    size_t have = 0;     // message bytes in copy
    size_t indexed = 0;  // offsets below this are decided (in the chains or not label starts)
    std::vector<int32_t> head = std::vector<int32_t>(kBuckets, -1);
    std::vector<int32_t> tail = std::vector<int32_t>(kBuckets, -1);
    std::vector<int32_t> next;  // by offset

    static constexpr size_t kKey = 16;
    static size_t KeyLength(u8 v) { return std::min<size_t>(static_cast<size_t>(v) + 1, kKey); }
    static uint64_t Low(size_t bytes) {
        return bytes >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1;
    }
    // The bucket of the key at p (a length byte of 1 to 63 and what follows), with 16 bytes
    // readable from p: the key's bytes in two 64-bit words, the rest masked off.
    static size_t Bucket16(const char* p) {
        const size_t n = KeyLength(static_cast<u8>(p[0]));
        uint64_t a = 0, b = 0;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(&a, p, 8);
            std::memcpy(&b, p + 8, 8);
            a &= Low(n);
            b &= n > 8 ? Low(n - 8) : 0;
        } else {
            for (size_t i = 0; i < n; ++i) {
                (i < 8 ? a : b) |= static_cast<uint64_t>(static_cast<u8>(p[i])) << (8 * (i % 8));
            }
        }
        const uint64_t h =
            a * 0x9E3779B97F4A7C15ull ^ (b + 0x632BE59BD9B4E019ull) * 0xC2B2AE3D27D4EB4Full;
        return static_cast<size_t>(h >> (64 - kBucketBits));
    }
    // The bucket of a tail's key (a tail may be shorter than 16 bytes).
    static size_t BucketOf(std::string_view t) {
        char buf[kKey] = {};
        std::memcpy(buf, t.data(), std::min(t.size(), kKey));
        return Bucket16(buf);
    }

    void Reset() {
        copy.clear();
        have = 0;
        indexed = 0;
        std::fill(head.begin(), head.end(), -1);
        std::fill(tail.begin(), tail.end(), -1);
        next.clear();
    }

    // Brings the index up to date with the message so far.
    void Sync(std::string_view msg) {
        // Bytes that can belong to the label at an offset a pointer can reach.
        const size_t need = std::min(msg.size(), kMaxPointerTarget + kKey);
        if (have > need || std::memcmp(copy.data(), msg.data(), have) != 0) Reset();
        copy.resize(have);
        copy.append(msg.substr(have, need - have));
        have = copy.size();
        copy.append(kKey, '\0');
        const size_t last = std::min(have, kMaxPointerTarget + 1);
        next.resize(last, -1);
        size_t q = indexed;
        for (; q < last; ++q) {
            const u8 v = static_cast<u8>(copy[q]);
            if (v == 0 || v > kMaxLabel) continue;
            if (q + KeyLength(v) > have) break;  // key not complete yet
            const size_t b = Bucket16(copy.data() + q);
            if (tail[b] < 0) {
                head[b] = static_cast<int32_t>(q);
            } else {
                next[static_cast<size_t>(tail[b])] = static_cast<int32_t>(q);
            }
            tail[b] = static_cast<int32_t>(q);
        }
        indexed = q;
    }

    // The first occurrence of the tail from wire[at] (an offset a pointer can reach).
    bool Find(std::string_view msg, std::string_view t, size_t& found) const {
        const size_t last = std::min(msg.size(), kMaxPointerTarget + 1);
        auto holds = [&](size_t q) {
            return q + t.size() <= msg.size() &&
                   std::memcmp(msg.data() + q, t.data(), t.size()) == 0;
        };
        for (int32_t q = head[BucketOf(t)]; q >= 0; q = next[static_cast<size_t>(q)]) {
            if (holds(static_cast<size_t>(q))) {
                found = static_cast<size_t>(q);
                return true;
            }
        }
        // The offsets still waiting: only those holding the tail's first byte.
        for (size_t q = indexed; q < last; ++q) {
            const void* p = std::memchr(msg.data() + q, t[0], last - q);
            if (!p) break;
            q = static_cast<size_t>(static_cast<const char*>(p) - msg.data());
            if (holds(q)) {
                found = q;
                return true;
            }
        }
        return false;
    }

    bool Pass(std::string_view msg, std::string_view wire, const size_t* st, size_t count,
              Hit& hit) const {
        return PassHalving(msg, wire, st, count, hit,
                           [&](std::string_view t, size_t& q) { return Find(msg, t, q); });
    }
};

ZipIndex::ZipIndex() : impl_(std::make_unique<Impl>()) {}
ZipIndex::~ZipIndex() = default;
ZipIndex::ZipIndex(ZipIndex&&) noexcept = default;
ZipIndex& ZipIndex::operator=(ZipIndex&&) noexcept = default;
void ZipIndex::Clear() {
    if (impl_) impl_->Reset();
}

std::string ZipName(std::string_view message, std::string_view name, ZipIndex& index) {
    try {
        if (!index.impl_) index.impl_ = std::make_unique<ZipIndex::Impl>();
        ZipIndex::Impl& ix = *index.impl_;
        ix.Sync(message);
        return Compress(name, [&](std::string_view wire, const Starts& starts, Hit& hit) {
            return ix.Pass(message, wire, starts.at, starts.n, hit);
        });
    } catch (...) {
        kest::ReportError("modDNS ZipName");
        return {};
    }
}

// ---- Name decoding
// ---------------------------------------------------------------------------------

std::string UnzipName(std::string_view message, int offset) {
    try {
        if (offset < 0 || static_cast<size_t>(offset) >= message.size()) return kIncomplete;
        std::string out;
        size_t consumed = 0;
        if (DecodeName(message, message.substr(static_cast<size_t>(offset)), out, consumed) !=
            NameStatus::Ok) {
            return kIncomplete;
        }
        return out;
    } catch (...) {
        kest::ReportError("modDNS UnzipName");
        return {};
    }
}

std::string ExtractName(std::string_view message, std::string_view& rest, bool consume) {
    return ExtractNameImpl(message, rest, consume);
}
std::string ExtractName(std::string_view message, std::string& rest, bool consume) {
    return ExtractNameImpl(message, rest, consume);
}

// ---- Integer fields
// ------------------------------------------------------------------------------

int16_t ExtractShort(std::string_view& data, bool consume) {
    return ShortImpl(data, consume);
}
int16_t ExtractShort(std::string& data, bool consume) {
    return ShortImpl(data, consume);
}
int32_t ExtractShortL(std::string_view& data, bool consume) {
    return ShortLImpl(data, consume);
}
int32_t ExtractShortL(std::string& data, bool consume) {
    return ShortLImpl(data, consume);
}
int32_t ExtractLong(std::string_view& data, bool consume) {
    return LongImpl(data, consume);
}
int32_t ExtractLong(std::string& data, bool consume) {
    return LongImpl(data, consume);
}
uint32_t ExtractLongU(std::string_view& data, bool consume) {
    return LongUImpl(data, consume);
}
uint32_t ExtractLongU(std::string& data, bool consume) {
    return LongUImpl(data, consume);
}

std::string MakeShort(int64_t n) {
    std::string s(2, '\0');
    s[0] = static_cast<char>((n >> 8) & 0x7F);  // >> is floor division by 256
    s[1] = static_cast<char>(n & 0xFF);
    return s;
}

std::string MakeShortL(int64_t n) {
    std::string s(2, '\0');
    s[0] = static_cast<char>((n >> 8) & 0xFF);
    s[1] = static_cast<char>(n & 0xFF);
    return s;
}

std::string MakeLong(double x) {
    uint32_t v = 0;
    if (x >= 2147483647.0) {
        v = 2147483647u;
    } else if (x > 0) {  // false for NaN
        v = static_cast<uint32_t>(std::floor(x));
    }
    return MakeLongU(v & 0x7FFFFFFFu);
}

std::string MakeLongU(uint32_t n) {
    std::string s;
    AppendLongU(s, n);
    return s;
}

void AppendShortL(std::string& out, int64_t n) {
    out.push_back(static_cast<char>((n >> 8) & 0xFF));
    out.push_back(static_cast<char>(n & 0xFF));
}

void AppendLongU(std::string& out, uint32_t n) {
    out.push_back(static_cast<char>((n >> 24) & 0xFF));
    out.push_back(static_cast<char>((n >> 16) & 0xFF));
    out.push_back(static_cast<char>((n >> 8) & 0xFF));
    out.push_back(static_cast<char>(n & 0xFF));
}

// ---- Text tables --------------------------------------------------------------------------------

std::string RTypeN(int64_t type) {
    try {
        const int64_t n = type < 0 ? -type : type;
        static const char* const kLow[] = {
            nullptr, "A",    "NS",   "MD",    "MF",    "CNAME",    "SOA", "MB",   "MG",
            "MR",    "NULL", "WKS",  "PTR",   "HINFO", "MINFO",    "MX",  "TXT",  "RP",
            "AFSDB", "X25",  "ISDN", "RT",    "NASP",  "NSAP-PTR", "SIG", "KEY",  "PX",
            "GPOS",  "AAAA", "LOC",  "NXT",   "EID",   "NIMLOC",   "SRV", "ATMA", "NAPTR",
            "KX",    "CERT", "A6",   "DNAME", "SINK",  "OPT"};
        if (n >= 1 && n <= 41) return kLow[n];
        switch (n) {
            case 100:
                return "UINFO";
            case 101:
                return "UID";
            case 102:
                return "GID";
            case 103:
                return "UNSPEC";
            case 248:
                return "ADDRS";
            case 249:
                return "TKEY";
            case 250:
                return "TSIG";
            case 251:
                return "IXFR";
            case 252:
                return "AXFR";
            case 253:
                return "MAILB";
            case 254:
                return "MAILA";
            case 255:
                return "*";
            default:
                return "?" + std::to_string(n) + "?";
        }
    } catch (...) {
        kest::ReportError("modDNS RTypeN");
        return {};
    }
}

std::string RCodeN(int64_t rcode) {
    switch (rcode) {
        case 0:
            return "No Error";
        case 1:
            return "Format Error - could not interpret the query.";
        case 2:
            return "Server Failure.";
        case 3:
            return "Name does not exist!";
        case 4:
            return "Not implemented - no support for this query type.";
        case 5:
            return "Refused - will not answer this client or this query type.";
        default:
            return "Unknown error.";
    }
}

std::string OpCodeN(int64_t opcode) {
    try {
        switch (opcode) {
            case 0:
                return "Standard Query";
            case 1:
                return "Inverse Query Request";
            case 2:
                return "Server Status Request";
            case 4:
                return "Notification Request";
            default:
                return "Unknown Query Type (OpCode" + Blanked(opcode) + ")";
        }
    } catch (...) {
        kest::ReportError("modDNS OpCodeN");
        return {};
    }
}

std::string ClassN(int64_t cls) {
    try {
        switch (cls) {
            case 1:
                return "Internet class record";
            case 2:
                return "CSNET class record";
            case 3:
                return "CHAOS class record";
            case 4:
                return "Hesiod [Dyer 87] class record";
            default:
                return "Unknown class (" + std::to_string(cls) + ") record";
        }
    } catch (...) {
        kest::ReportError("modDNS ClassN");
        return {};
    }
}

namespace {

// " n" for n >= 0, "-n" below (Blanked), appended.
void AppendBlanked(std::string& t, int64_t n) {
    char buf[24];
    const int len =
        std::snprintf(buf, sizeof buf, n >= 0 ? " %lld" : "%lld", static_cast<long long>(n));
    t.append(buf, static_cast<size_t>(len));
}

void AppendOctet(std::string& t, unsigned v) {
    if (v >= 100) t.push_back(static_cast<char>('0' + v / 100));
    if (v >= 10) t.push_back(static_cast<char>('0' + v / 10 % 10));
    t.push_back(static_cast<char>('0' + v % 10));
}

}  // namespace

std::string RecordText(const clDNSRecord& record) {
    try {
        // Built in one string: this runs for every record of every reply that is logged.
        std::string t;
        t.reserve(record.Name.size() + record.Data.size() + 64);
        t += RTypeN(record.RecType);
        t += "-record for ";
        t += record.Name;
        const std::string_view d = record.Data;
        auto num16 = [&](size_t at) -> int64_t {
            return d.size() >= at + 2 ? (At(d, at) << 8 | At(d, at + 1)) : 0;
        };
        auto tailName = [&](size_t at) -> std::string_view {
            return d.size() > at ? d.substr(at) : std::string_view{};
        };
        switch (record.RecType) {
            case kTypeA:
                // As modIP::DataToIP: four numbers, missing bytes as 0.
                t += " = ";
                for (size_t i = 0; i < 4; ++i) {
                    if (i) t.push_back('.');
                    AppendOctet(t, i < d.size() ? At(d, i) : 0);
                }
                break;
            case kTypeNS:
            case kTypeCNAME:
            case kTypePTR:
                t += " = ";
                t += d;
                break;
            case kTypeSOA: {
                const size_t z = d.find('\0');
                const std::string_view mname = d.substr(0, z);
                uint32_t serial = 0;
                if (auto soa = ParseSOAData(d)) serial = soa->serial;
                t += " = ";
                t += mname;
                t += " (Serial";
                AppendBlanked(t, serial);
                t += ")";
                break;
            }
            case kTypeMX:
                t += " = ";
                t += tailName(2);
                t += " (Preference";
                AppendBlanked(t, num16(0));
                t += ")";
                break;
            case kTypeTXT:
                t += " = \"";
                t += TextData(d);
                t += "\"";
                break;
            case kTypeSRV:
                t += " = ";
                t += tailName(6);
                t += " (Priority";
                AppendBlanked(t, num16(0));
                t += ", Weight";
                AppendBlanked(t, num16(2));
                t += ", Port";
                AppendBlanked(t, num16(4));
                t += ")";
                break;
            default:
                break;
        }
        return t;
    } catch (...) {
        kest::ReportError("modDNS RecordText");
        return {};
    }
}

std::string TextData(std::string_view txtData) {
    try {
        std::string joined;
        size_t p = 0;
        bool first = true;
        while (p < txtData.size()) {
            const size_t n = At(txtData, p);
            const std::string_view part = txtData.substr(p + 1, n);  // clipped at the end
            if (!first) joined += ", ";
            joined += part;
            first = false;
            p += n + 1;
        }
        std::string out;
        out.reserve(joined.size());
        for (char c : joined) {
            const u8 b = static_cast<u8>(c);
            if (b >= 32 && b <= 126) out.push_back(c);
        }
        return out;
    } catch (...) {
        kest::ReportError("modDNS TextData");
        return {};
    }
}

// ---- Clean-up
// -------------------------------------------------------------------------------------

std::string CleanName(std::string_view text) {
    try {
        std::string kept;
        for (char c : Trim(text)) {
            c = Lower(c);
            if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                c == '*' || c == '/' || c == '_') {
                kept.push_back(c);
            }
        }
        return CleanDots(std::move(kept));
    } catch (...) {
        kest::ReportError("modMain CleanName");
        return {};
    }
}

std::string CleanNameF(std::string_view text) {
    try {
        std::string kept;
        for (char c : text) {
            if (!IsBlank(c)) kept.push_back(Lower(c));
        }
        return CleanDots(std::move(kept));
    } catch (...) {
        kest::ReportError("modMain CleanNameF");
        return {};
    }
}

// ---- SOA
// ---------------------------------------------------------------------------------------------

std::optional<SoaFields> ParseSOAData(std::string_view data) {
    try {
        const size_t z1 = data.find('\0');
        if (z1 == std::string_view::npos) return std::nullopt;
        const size_t z2 = data.find('\0', z1 + 1);
        if (z2 == std::string_view::npos || data.size() - (z2 + 1) < 20) return std::nullopt;
        SoaFields f;
        f.mname = std::string(data.substr(0, z1));
        f.rname = std::string(data.substr(z1 + 1, z2 - z1 - 1));
        std::string_view nums = data.substr(z2 + 1);
        f.serial = ExtractLongU(nums, true);
        f.refresh = ExtractLongU(nums, true);
        f.retry = ExtractLongU(nums, true);
        f.expire = ExtractLongU(nums, true);
        f.minimum = ExtractLongU(nums, true);
        return f;
    } catch (...) {
        kest::ReportError("modDNS ParseSOAData");
        return std::nullopt;
    }
}

std::string MakeSOAData(const SoaFields& soa) {
    try {
        std::string d = soa.mname;
        d.push_back('\0');
        d += soa.rname;
        d.push_back('\0');
        for (uint32_t v : {soa.serial, soa.refresh, soa.retry, soa.expire, soa.minimum}) {
            AppendLongU(d, v);
        }
        return d;
    } catch (...) {
        kest::ReportError("modDNS MakeSOAData");
        return {};
    }
}

// ---- Reply records
// ---------------------------------------------------------------------------------

DecodedRecord DecodeRecord(std::string_view message, std::string_view& rest, double now) {
    DecodedRecord out;
    try {
        const std::string owner = ExtractName(message, rest, true);
        if (rest.size() <= 9) {
            rest = {};
            return out;  // Incomplete
        }
        const int32_t type = ExtractShortL(rest, true);
        const int32_t cls = ExtractShortL(rest, true);
        int32_t ttl = ExtractLong(rest, true);
        const int32_t rdlength = ExtractShortL(rest, true);
        if (ttl > kMaxReplyTTL) ttl = kMaxReplyTTL;
        if (rest.size() < static_cast<size_t>(rdlength)) {
            rest = {};
            return out;  // Incomplete
        }
        const std::string_view rdata = rest.substr(0, static_cast<size_t>(rdlength));
        rest.remove_prefix(static_cast<size_t>(rdlength));
        if (cls != 1) {
            out.result = RecordResult::OtherClass;
            return out;
        }
        auto rec = std::make_shared<clDNSRecord>();
        rec->Permanent = false;
        rec->Name = owner;
        rec->RecType = type;
        rec->SetTTL(ttl, now);

        // The name decoded from a part of the RDATA; false when it is not a good name.
        auto nameAt = [&](std::string_view part, std::string& name) {
            name = ExtractName(message, part, true);
            return name != kIncomplete;
        };
        bool kept = false;
        std::string data;
        switch (type) {
            case kTypeA:
                if (rdata.size() >= 4) {
                    data = std::string(rdata.substr(0, 4));
                    kept = true;
                }
                break;
            case kTypeNS:
            case kTypeCNAME:
            case kTypePTR:
                kept = nameAt(rdata, data);
                break;
            case kTypeSOA: {
                std::string_view part = rdata;
                const std::string mname = ExtractName(message, part, true);
                const std::string rname = ExtractName(message, part, true);
                if (mname != kIncomplete && rname != kIncomplete && part.size() >= 20) {
                    data = mname;
                    data.push_back('\0');
                    data += rname;
                    data.push_back('\0');
                    data += part.substr(0, 20);
                    kept = true;
                }
                break;
            }
            case kTypeMX:
            case kTypeSRV: {
                const size_t fixed = type == kTypeMX ? 2 : 6;
                std::string name;
                if (rdata.size() > fixed && nameAt(rdata.substr(fixed), name)) {
                    data = std::string(rdata.substr(0, fixed)) + name;
                    kept = true;
                }
                break;
            }
            case kTypeTXT:
                if (ValidTXT(rdata)) {
                    data = std::string(rdata);
                    kept = true;
                }
                break;
            default:
                break;
        }
        if (owner == kIncomplete) kept = false;
        if (kept) rec->Data = std::move(data);
        out.result = kept ? RecordResult::Kept : RecordResult::NotKept;
        out.record = std::move(rec);
        return out;
    } catch (...) {
        kest::ReportError("modDNS DecodeRecord");
        rest = {};
        return DecodedRecord{};
    }
}

bool DecodeReply(std::string_view message, clDNSAnswer& answer, double now,
                 DecodeObserver* observer) {
    try {
        if (message.size() < 12) {
            answer.TC = true;
            return false;
        }
        std::string_view head = message;
        answer.Id = ExtractShortL(head, true);
        const u8 flags1 = At(message, 2);
        answer.TC = (flags1 & 0x02) != 0;
        answer.AA = (flags1 & 0x04) != 0;
        answer.RCode = static_cast<int16_t>(At(message, 3) & 0x0F);
        head.remove_prefix(2);
        const int counts[4] = {ExtractShort(head, true), ExtractShort(head, true),
                               ExtractShort(head, true), ExtractShort(head, true)};
        std::string_view rest = message.substr(12);
        for (int q = 0; q < counts[0]; ++q) {
            std::string name = ExtractName(message, rest, true);
            if (rest.size() < 4) {
                answer.TC = true;
                return false;
            }
            const int32_t type = ExtractShortL(rest, true);
            rest.remove_prefix(2);
            if (q == 0) {
                answer.RqName = std::move(name);
                answer.RqType = type;
            }
        }
        for (int sec = 2; sec <= 4; ++sec) {
            RecordList& list = *answer.Section(sec);
            for (int k = 0; k < counts[sec - 1]; ++k) {
                DecodedRecord d = DecodeRecord(message, rest, now);
                if (d.result == RecordResult::Incomplete) {
                    answer.TC = true;
                    return false;
                }
                if (!d.record) continue;
                const bool kept = d.result == RecordResult::Kept;
                if (observer) observer->OnRecord(sec, *d.record, kept);
                if (kept) list.push_back(std::move(d.record));
            }
        }
        return true;
    } catch (...) {
        kest::ReportError("modDNS DecodeReply");
        return false;
    }
}

// ---- Record data on the wire --------------------------------------------------------------------

std::string ZipNameIn(std::string_view message, std::string_view name, ZipIndex& index) {
    constexpr size_t kIndexFrom = 1024;
    return message.size() < kIndexFrom ? ZipName(message, name) : ZipName(message, name, index);
}

bool AppendRecordData(std::string& m, int32_t type, std::string_view d, ZipIndex& zip,
                      std::string& rdata) {
    bool ok = true;
    rdata.clear();
    switch (type) {
        case kTypeA:
            ok = d.size() == 4;
            rdata.assign(d);
            break;
        case kTypeNS:
        case kTypeCNAME:
        case kTypePTR:
            rdata = ZipNameIn(m, d, zip);
            ok = !rdata.empty();
            break;
        case kTypeSOA: {
            const auto soa = ParseSOAData(d);
            if (!soa) return false;
            rdata = ZipNameIn(m, soa->mname, zip);
            const std::string rname = ZipNameIn(m, soa->rname, zip);
            ok = !rdata.empty() && !rname.empty();
            rdata += rname;
            rdata.append(d.substr(d.size() - 20));
            break;
        }
        case kTypeMX:
        case kTypeSRV: {
            const size_t fixed = type == kTypeMX ? 2 : 6;
            if (d.size() < fixed) return false;
            const std::string target = ZipNameIn(m, d.substr(fixed), zip);
            ok = !target.empty();
            rdata.assign(d.substr(0, fixed));
            rdata += target;
            break;
        }
        default:  // TXT and any other type: the data as held
            rdata.assign(d);
            break;
    }
    if (!ok || rdata.size() > 0xFFFF) return false;
    AppendShortL(m, static_cast<int64_t>(rdata.size()));
    m += rdata;
    return true;
}

void AppendQuotedTxt(std::string& out, std::string_view text) {
    out.push_back('"');
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 32 || b > 126 || c == '"' || c == '\\' || c == '(' || c == ')' || c == ';') {
            out.push_back('\\');
            out.push_back(static_cast<char>('0' + (b >> 6)));
            out.push_back(static_cast<char>('0' + ((b >> 3) & 7)));
            out.push_back(static_cast<char>('0' + (b & 7)));
        } else {
            out.push_back(c);
        }
    }
    out += "\" ";
}

}  // namespace modDNS
