// The zone file reader on arbitrary text, read as a zone and as the root zone. Every record it
// keeps must be in its type's data form, and what either writer writes must read back to one
// record per line and write again to the same lines.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/modDNS.h"
#include "fuzz/fuzz_check.h"
#include "platform/files.h"
#include "server/authority/zonefile.h"

namespace {

using namespace modZoneFile;

bool WellFormedName(std::string_view n) {
    if (n.empty() || n.back() != '.') return false;
    for (char ch : n) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x21 || c == 0x7F || (c >= 'A' && c <= 'Z')) return false;
    }
    return true;
}

bool WellFormedTXT(std::string_view d) {
    if (d.empty()) return false;
    size_t i = 0;
    while (i < d.size()) {
        const size_t len = static_cast<unsigned char>(d[i]);
        if (len == 0 || i + 1 + len > d.size()) return false;
        i += 1 + len;
    }
    return true;
}

void CheckRecord(const clDNSRecord& r) {
    FUZZ_CHECK(r.Permanent);
    FUZZ_CHECK(r.mTTL >= 0);
    FUZZ_CHECK(WellFormedName(r.Name));
    const std::string_view d = r.Data;
    switch (r.RecType) {
        case modDNS::kTypeA:
            FUZZ_CHECK(d.size() == 4 && d != std::string_view("\0\0\0\0", 4));
            break;
        case modDNS::kTypeNS:
        case modDNS::kTypeCNAME:
        case modDNS::kTypePTR:
            FUZZ_CHECK(WellFormedName(d));
            break;
        case modDNS::kTypeMX:
            FUZZ_CHECK(d.size() >= 3 && WellFormedName(d.substr(2)));
            break;
        case modDNS::kTypeSRV:
            FUZZ_CHECK(d.size() >= 7 && WellFormedName(d.substr(6)));
            break;
        case modDNS::kTypeTXT:
            FUZZ_CHECK(WellFormedTXT(d));
            break;
        case modDNS::kTypeSOA: {
            const auto soa = modDNS::ParseSOAData(d);
            FUZZ_CHECK(soa && WellFormedName(soa->mname) && WellFormedName(soa->rname));
            break;
        }
        default:
            FUZZ_CHECK(false);
    }
}

ZoneFileData Read(const std::string& text, const std::string& zone) {
    auto data = ReadZoneText(text, zone, 46000.0);
    FUZZ_CHECK(data.has_value());
    return std::move(*data);
}

size_t RecordLines(const std::vector<std::string>& lines) {
    size_t n = 0;
    for (const auto& l : lines) n += !l.empty() && l.front() != ';';
    return n;
}

ZoneFileHeader HeaderOf(const ZoneFileData& d) {
    return {d.PrimaryIP, d.Slaves, d.Secure};
}

void CheckServerWriter(const ZoneFileData& data, const std::string& zone) {
    const auto lines = ServerZoneLines(zone, HeaderOf(data), data.Records);
    const ZoneFileData again = Read(platform::JoinCrLf(lines), zone);
    FUZZ_CHECK(again.Records.size() == RecordLines(lines));
    FUZZ_CHECK(ServerZoneLines(zone, HeaderOf(again), again.Records) == lines);
}

void CheckEditorWriter(const ZoneFileData& data, const std::string& zone) {
    EditorSOA soa;
    std::vector<RecordRef> records;
    bool haveSOA = false;
    for (const auto& r : data.Records) {
        if (r->RecType != modDNS::kTypeSOA) {
            records.push_back(r);
        } else if (!haveSOA) {
            const auto f = modDNS::ParseSOAData(r->Data);
            FUZZ_CHECK(f.has_value());
            soa = {f->mname, f->rname, f->serial, f->refresh, f->retry, f->expire, f->minimum};
            haveSOA = true;
        }
    }
    const auto lines = EditorZoneLines(zone, HeaderOf(data), soa, records);
    const ZoneFileData again = Read(platform::JoinCrLf(lines), zone);
    FUZZ_CHECK(again.Records.size() == RecordLines(lines));

    EditorSOA soa2;
    std::vector<RecordRef> records2;
    for (const auto& r : again.Records) {
        if (r->RecType != modDNS::kTypeSOA) {
            records2.push_back(r);
        } else {
            const auto f = modDNS::ParseSOAData(r->Data);
            soa2 = {f->mname, f->rname, f->serial, f->refresh, f->retry, f->expire, f->minimum};
        }
    }
    FUZZ_CHECK(EditorZoneLines(zone, HeaderOf(again), soa2, records2) == lines);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    for (const std::string zone : {"example.com.", "."}) {
        const ZoneFileData data = Read(text, zone);
        for (const auto& r : data.Records) CheckRecord(*r);
        CheckServerWriter(data, zone);
        CheckEditorWriter(data, zone);
    }
    return 0;
}
