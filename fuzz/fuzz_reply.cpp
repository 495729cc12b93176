// The reply record decoder on arbitrary messages: every kept record has its type's data form,
// and the kept records, encoded again as the reply builder does, decode to the same records.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/modDNS.h"
#include "fuzz/fuzz_check.h"

using namespace modDNS;

namespace {

constexpr double kNow = 46000.0;

void CheckForm(const clDNSRecord& r) {
    FUZZ_CHECK(kestfuzz::GoodName(r.Name, true));
    FUZZ_CHECK(IsKeptType(r.RecType));
    FUZZ_CHECK(!r.Permanent);
    FUZZ_CHECK(r.mTTL >= 0 && r.mTTL <= kMaxReplyTTL);
    FUZZ_CHECK(r.TTL(kNow) == r.mTTL);
    const std::string& d = r.Data;
    switch (r.RecType) {
        case kTypeA:
            FUZZ_CHECK(d.size() == 4);
            break;
        case kTypeNS:
        case kTypeCNAME:
        case kTypePTR:
            FUZZ_CHECK(kestfuzz::GoodName(d, true));
            break;
        case kTypeMX:
            FUZZ_CHECK(d.size() > 2 && kestfuzz::GoodName(d.substr(2), true));
            break;
        case kTypeSRV:
            FUZZ_CHECK(d.size() > 6 && kestfuzz::GoodName(d.substr(6), true));
            break;
        case kTypeSOA: {
            auto soa = ParseSOAData(d);
            FUZZ_CHECK(soa && kestfuzz::GoodName(soa->mname, true) &&
                       kestfuzz::GoodName(soa->rname, true));
            FUZZ_CHECK(MakeSOAData(*soa) == d);
            break;
        }
        case kTypeTXT: {
            size_t p = 0;
            while (p < d.size()) p += static_cast<unsigned char>(d[p]) + 1u;
            FUZZ_CHECK(!d.empty() && p == d.size());
            break;
        }
        default:
            FUZZ_CHECK(false);
    }
    FUZZ_CHECK(!RecordText(r).empty());
}

// Encodes a record's RDATA as the reply builder does; false when a name cannot be encoded.
bool Rdata(const std::string& msg, const clDNSRecord& r, ZipIndex& ix, std::string& out) {
    auto name = [&](std::string_view n) {
        const std::string z = ZipName(msg, n, ix);
        out += z;
        return !z.empty();
    };
    out.clear();
    switch (r.RecType) {
        case kTypeNS:
        case kTypeCNAME:
        case kTypePTR:
            return name(r.Data);
        case kTypeMX:
            out = r.Data.substr(0, 2);
            return name(std::string_view(r.Data).substr(2));
        case kTypeSRV:
            out = r.Data.substr(0, 6);
            return name(std::string_view(r.Data).substr(6));
        case kTypeSOA: {
            auto soa = ParseSOAData(r.Data);
            if (!name(soa->mname) || !name(soa->rname)) return false;
            out += r.Data.substr(r.Data.size() - 20);
            return true;
        }
        default:
            out = r.Data;
            return true;
    }
}

struct Counter : DecodeObserver {
    int seen = 0, kept = 0;
    void OnRecord(int secNo, const clDNSRecord& r, bool k) override {
        FUZZ_CHECK(secNo >= 2 && secNo <= 4);
        FUZZ_CHECK(!RecordText(r).empty() || r.Name.empty());
        ++seen;
        kept += k;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string msg(reinterpret_cast<const char*>(data), size);
    clDNSAnswer a;
    Counter c;
    const bool complete = DecodeReply(msg, a, kNow, &c);
    FUZZ_CHECK(complete || a.TC);
    const size_t kept = a.Section2.size() + a.Section3.size() + a.Section4.size();
    FUZZ_CHECK(static_cast<size_t>(c.kept) == kept);
    std::vector<RecordRef> all;
    for (int s = 2; s <= 4; ++s) {
        for (const RecordRef& r : *a.Section(s)) {
            FUZZ_CHECK(r);
            CheckForm(*r);
            all.push_back(r);
        }
    }

    // Encode the kept records (those whose names the encoder takes) and decode them again.
    std::string out = std::string("\x12\x34\x84\x00\x00\x00", 6);
    std::vector<RecordRef> sent;
    std::string body;
    ZipIndex ix;
    std::string m = out + std::string(6, '\0');
    for (const RecordRef& r : all) {
        const size_t mark = m.size();
        const std::string owner = ZipName(m, r->Name, ix);
        if (owner.empty()) continue;
        m += owner;
        AppendShortL(m, r->RecType);
        AppendShortL(m, 1);
        m += MakeLong(r->TTL(kNow));
        std::string rd;
        if (!Rdata(m, *r, ix, rd) || rd.size() > 65535) {
            m.resize(mark);
            continue;
        }
        AppendShortL(m, static_cast<int64_t>(rd.size()));
        m += rd;
        sent.push_back(r);
    }
    m.replace(6, 2, MakeShortL(static_cast<int64_t>(sent.size()) & 0x7FFF));
    if (sent.size() > 0x7FFF) return 0;
    clDNSAnswer b;
    FUZZ_CHECK(DecodeReply(m, b, kNow));
    FUZZ_CHECK(b.Section2.size() == sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        FUZZ_CHECK(b.Section2[i]->SameAs(*sent[i]));
        FUZZ_CHECK(b.Section2[i]->mTTL == sent[i]->mTTL);
    }
    return 0;
}
