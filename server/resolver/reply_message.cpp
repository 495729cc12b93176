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

// Below this size a scan of the message is quicker than keeping its index up to date; both give
// the same bytes.
constexpr size_t kIndexFrom = 1024;

std::string Zip(const std::string& m, std::string_view name, modDNS::ZipIndex& zip) {
    return m.size() < kIndexFrom ? modDNS::ZipName(m, name) : modDNS::ZipName(m, name, zip);
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

        const std::string question = Zip(m, header.name, zip);
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
                const std::string owner = Zip(m, rec->Name, zip);
                if (owner.empty()) continue;
                m += owner;
                modDNS::AppendShortL(m, rec->RecType);
                m.append({'\0', '\1'});
                const int32_t ttl = rec->TTL(now);
                modDNS::AppendLongU(m, ttl < 0 ? 0u : static_cast<uint32_t>(ttl));

                // Names in the data compress against the message up to the TTL.
                const std::string_view d = rec->Data;
                bool ok = true;
                rdata.clear();
                switch (rec->RecType) {
                    case modDNS::kTypeA:
                        ok = d.size() == 4;
                        rdata.assign(d);
                        break;
                    case modDNS::kTypeNS:
                    case modDNS::kTypeCNAME:
                    case modDNS::kTypePTR:
                        rdata = Zip(m, d, zip);
                        ok = !rdata.empty();
                        break;
                    case modDNS::kTypeSOA: {
                        const auto soa = modDNS::ParseSOAData(d);
                        if (!soa) {
                            ok = false;
                            break;
                        }
                        rdata = Zip(m, soa->mname, zip);
                        const std::string rname = Zip(m, soa->rname, zip);
                        ok = !rdata.empty() && !rname.empty();
                        rdata += rname;
                        rdata.append(d.substr(d.size() - 20));
                        break;
                    }
                    case modDNS::kTypeMX:
                    case modDNS::kTypeSRV: {
                        const size_t fixed = rec->RecType == modDNS::kTypeMX ? 2 : 6;
                        if (d.size() < fixed) {
                            ok = false;
                            break;
                        }
                        const std::string target = Zip(m, d.substr(fixed), zip);
                        ok = !target.empty();
                        rdata.assign(d.substr(0, fixed));
                        rdata += target;
                        break;
                    }
                    default:  // TXT, and types no store keeps: the data as held
                        rdata.assign(d);
                        break;
                }
                if (!ok || rdata.size() > 0xFFFF) {
                    m.resize(start);
                    continue;
                }
                modDNS::AppendShortL(m, static_cast<int64_t>(rdata.size()));
                m += rdata;
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
