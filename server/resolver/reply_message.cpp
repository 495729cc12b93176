// The reply message of a finished request, apart from the resolver's steps: it needs only the
// codec, so the codec's cross-check and fuzz target drive this very writer.
#include <string>
#include <string_view>
#include <vector>

#include "core/modDNS.h"
#include "core/report.h"
#include "server/resolver/clDNSRequest.h"

namespace {

constexpr int32_t kTypeA = modDNS::kTypeA;

// Types from here on are the cache's negative markers: they never go on the wire.
constexpr int32_t kFirstMarkerType = 1000;

// A run of address records is rotated only within the first 100 positions of a section.
constexpr size_t kRunLimit = 100;

// The log kind of the records of a reply.
constexpr int kLogDetail = 1;

void PutShort15(std::string& out, size_t at, size_t n) {
    out[at] = static_cast<char>((n >> 8) & 0x7F);
    out[at + 1] = static_cast<char>(n & 0xFF);
}

}  // namespace

void clDNSRequest::RoundRobin(const RecordList& section, std::vector<uint32_t>& order) {
    try {
        const size_t n = section.size();
        order.resize(n);
        for (size_t j = 0; j < n; ++j) order[j] = static_cast<uint32_t>(j);
        size_t i = 0;
        while (i < n) {
            const RecordRef& first = section[i];
            if (!first || first->RecType != kTypeA) {
                ++i;
                continue;
            }
            size_t last = i;
            while (last + 1 < n && last + 1 < kRunLimit && section[last + 1] &&
                   section[last + 1]->RecType == kTypeA && section[last + 1]->Name == first->Name) {
                ++last;
            }
            const size_t k = last - i + 1;
            if (k >= 2) {
                size_t r = first->RoRo < 0 ? 0 : static_cast<size_t>(first->RoRo);
                if (r >= k) r = 0;
                for (size_t p = 0; p < k; ++p) {
                    order[i + p] = static_cast<uint32_t>(i + (r + p) % k);
                }
                // The counter lives on the store's record, so the next reply starts one further.
                first->RoRo = static_cast<int32_t>((r + 1) % k);
            }
            i = last + 1;
        }
    } catch (...) {
        kest::ReportError("clDNSRequest RoundRobin");
    }
}

const std::string& clDNSRequest::BuildMessage(const ReplyHeader& header, const clDNSAnswer& reply,
                                              double now, ReplyScratch& scratch, IRequestLog* log) {
    std::string& m = scratch.message;
    m.clear();
    try {
        modDNS::ZipIndex& zip = scratch.zip;
        modDNS::AppendShortL(m, header.id);
        m += static_cast<char>(0x80 | (reply.AA ? 0x04 : 0) | (header.rd ? 0x01 : 0));
        m += static_cast<char>((reply.RA ? 0x80 : 0) | (reply.RCode & 0x0F));
        m.append({'\0', '\1', '\0', '\0', '\0', '\0', '\0', '\0'});

        const std::string question = modDNS::ZipNameIn(m, header.name, zip);
        if (question.empty()) {
            m.clear();
            return m;
        }
        m += question;
        modDNS::AppendShortL(m, header.type);
        m.append({'\0', '\1'});

        const bool logRecords = log && log->Wanted(kLogDetail);
        std::string rdata;
        for (int sec = 2; sec <= 4; ++sec) {
            const RecordList& section = *reply.Section(sec);
            RoundRobin(section, scratch.order);
            size_t written = 0;
            for (size_t j = 0; j < section.size(); ++j) {
                const RecordRef& rec = section[scratch.order[j]];
                if (!rec || rec->RecType < 0 || rec->RecType >= kFirstMarkerType) continue;
                const size_t start = m.size();
                const std::string owner = modDNS::ZipNameIn(m, rec->Name, zip);
                if (owner.empty()) continue;
                m += owner;
                modDNS::AppendShortL(m, rec->RecType);
                m.append({'\0', '\1'});
                const int32_t ttl = rec->TTL(now);
                modDNS::AppendLongU(m, ttl < 0 ? 0u : static_cast<uint32_t>(ttl));

                if (!modDNS::AppendRecordData(m, rec->RecType, rec->Data, zip, rdata)) {
                    m.resize(start);
                    continue;
                }
                ++written;
                if (logRecords) {
                    std::string line = "-> ";
                    line += modDNS::SectionName(sec);
                    line += ": ";
                    line += modDNS::RecordText(*rec);
                    log->AddLine(kLogDetail, line);
                }
            }
            PutShort15(m, 6 + 2 * static_cast<size_t>(sec - 2), written);
        }
    } catch (...) {
        kest::ReportError("clDNSRequest SendReply");
        m.clear();
    }
    return m;
}
