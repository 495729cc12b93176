// The reply record decoder on arbitrary messages: every kept record has its type's data form,
// and the kept records, written again by the server's reply writer, decode to the same records.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/modDNS.h"
#include "fuzz/fuzz_check.h"
#include "server/resolver/clDNSRequest.h"

using namespace modDNS;

namespace {

constexpr double kNow = 46000.0;

// The log line of a record starts with its type, "-record for " and its owner (a failure inside
// RecordText would give "").
bool Described(const clDNSRecord& r) {
    return RecordText(r).starts_with(RTypeN(r.RecType) + "-record for " + r.Name);
}

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
    FUZZ_CHECK(Described(r));
}

// Whether the writer can put the record on the wire: every name in it has a wire form (a decoded
// label may be longer than 63 characters).
bool Writable(const clDNSRecord& r) {
    if (!CanZipName(r.Name)) return false;
    switch (r.RecType) {
        case kTypeNS:
        case kTypeCNAME:
        case kTypePTR:
            return CanZipName(r.Data);
        case kTypeMX:
            return CanZipName(std::string_view(r.Data).substr(2));
        case kTypeSRV:
            return CanZipName(std::string_view(r.Data).substr(6));
        case kTypeSOA: {
            const auto soa = ParseSOAData(r.Data);
            return CanZipName(soa->mname) && CanZipName(soa->rname);
        }
        default:
            return true;
    }
}

struct Counter : DecodeObserver {
    int seen = 0, kept = 0;
    void OnRecord(int secNo, const clDNSRecord& r, bool k) override {
        FUZZ_CHECK(secNo >= 2 && secNo <= 4);
        FUZZ_CHECK(Described(r));
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
    for (int s = 2; s <= 4; ++s) {
        for (const RecordRef& r : *a.Section(s)) {
            FUZZ_CHECK(r);
            CheckForm(*r);
        }
    }

    // Write the kept records again with the header and question of this message, and read them.
    clDNSAnswer out;
    out.AA = a.AA;
    out.RCode = a.RCode;
    out.RA = size > 3 && (data[3] & 0x80) != 0;
    const bool rd = size > 2 && (data[2] & 0x01) != 0;
    const std::string qname = CanZipName(a.RqName) && !a.RqName.empty() ? a.RqName : ".";
    std::vector<RecordRef> want[3];
    for (int s = 2; s <= 4; ++s) {
        *out.Section(s) = *a.Section(s);
        for (const RecordRef& r : *a.Section(s)) {
            if (Writable(*r)) want[s - 2].push_back(r);
        }
    }
    ReplyScratch scratch;
    const std::string m =
        clDNSRequest::BuildMessage({a.Id, rd, qname, a.RqType}, out, kNow, scratch, nullptr);
    FUZZ_CHECK(m.size() >= 12);
    FUZZ_CHECK(static_cast<uint8_t>(m[2]) == (0x80 | (out.AA ? 0x04 : 0) | (rd ? 0x01 : 0)));
    FUZZ_CHECK(static_cast<uint8_t>(m[3]) == ((out.RA ? 0x80 : 0) | out.RCode));
    clDNSAnswer b;
    FUZZ_CHECK(DecodeReply(m, b, kNow));
    FUZZ_CHECK(b.Id == a.Id && b.RqName == qname && b.RqType == a.RqType && !b.TC);
    for (int s = 2; s <= 4; ++s) {
        // A new record's round-robin counter is 0: the first reply keeps the section's order.
        const RecordList& got = *b.Section(s);
        FUZZ_CHECK(got.size() == want[s - 2].size());
        for (size_t i = 0; i < got.size(); ++i) {
            FUZZ_CHECK(got[i]->SameAs(*want[s - 2][i]));
            FUZZ_CHECK(got[i]->mTTL == want[s - 2][i]->mTTL);
        }
    }
    return 0;
}
