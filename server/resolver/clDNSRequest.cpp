#include "server/resolver/clDNSRequest.h"

#include <algorithm>

#include "core/modDNS.h"
#include "core/report.h"
#include "server/authority/clDNSAuthData.h"
#include "server/resolver/clDNSCache.h"
#include "server/settings.h"

namespace {

constexpr int32_t kTypeA = modDNS::kTypeA;
constexpr int32_t kTypeCNAME = modDNS::kTypeCNAME;
constexpr int32_t kTypeANY = modDNS::kTypeANY;

// Types from here on are the cache's negative markers: they never go on the wire.
constexpr int32_t kFirstMarkerType = 1000;

// A run of address records is rotated only within the first 100 positions of a section.
constexpr size_t kRunLimit = 100;

// A CNAME chain is bounded by the records it visits; this only guards against a store that
// hands back records of another name.
constexpr int kMaxChainSteps = 1000;

// Log kinds: events, and the records of a reply (LogDetail).
constexpr int kLogEvent = 0;
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

RequestRef OutstandingRequests::Find(std::string_view key) const {
    for (const RequestRef& r : items_) {
        if (r && r->RequestKey == key) return r;
    }
    return nullptr;
}

// ---- Permission ------------------------------------------------------------------------------

bool clDNSRequest::Permission(const modMain::Settings& settings,
                              const std::vector<std::string>& localIPs, std::string_view ip,
                              int level) {
    const std::string& pattern = settings.DNSRecursion;
    if (pattern == "<all>" || ip == "127.0.0.1" || level >= 1) return true;
    if (std::find(localIPs.begin(), localIPs.end(), ip) != localIPs.end()) return true;
    if (pattern == "<none>") return false;
    // Everything before the first "*" must match; a pattern without one matches as a prefix.
    const size_t p = std::min(pattern.find('*'), pattern.size());
    return ip.substr(0, p) == std::string_view(pattern).substr(0, p);
}

bool clDNSRequest::Permission() const {
    static const std::vector<std::string> kNone;
    return Permission(*ctx_.settings, ctx_.localIPs ? *ctx_.localIPs : kNone, RequestIP, Level);
}

// ---- Resolution ------------------------------------------------------------------------------

double clDNSRequest::Now() const {
    return ctx_.clock->Now();
}

bool clDNSRequest::Wanted(int kind) const {
    return ctx_.log && ctx_.log->Wanted(kind);
}

void clDNSRequest::Log(int kind, std::string_view text) const {
    if (ctx_.log) ctx_.log->AddLine(kind, text);
}

void clDNSRequest::ProcRequest() {
    try {
        reply_ = clDNSAnswer{};
        startTime_ = Now();
        State = 0;
        currentName_ = RequestName;
        Recursion = Permission();
        reply_.RA = Recursion;
        ProcStep1();
    } catch (...) {
        kest::ReportError("clDNSRequest ProcRequest");
    }
}

void clDNSRequest::ProcStep1() {
    try {
        for (int step = 0;; ++step) {
            if (step >= kMaxChainSteps) {
                SendReply();
                return;
            }
            clDNSAnswer a;
            if (ctx_.zones) a = ctx_.zones->Ask(currentName_, RequestType, false);
            if (a.AA) {
                const bool chainGoesOn = !a.Section2.empty() && a.RCode == 0;
                if (!reply_.Section2.empty()) {
                    ClearReferral();
                    FillSection(a);
                } else {
                    a.RA = reply_.RA;
                    reply_ = std::move(a);
                }
                if (chainGoesOn && RedoCNAME()) continue;
                SendReply();
                return;
            }

            clDNSAnswer c;
            if (ctx_.cache) c = ctx_.cache->Ask(currentName_, RequestType, false);
            if (c.Section2.empty() && c.RCode == 0 && !c.AA) {
                // The cache knows nothing about the question.
                if (!reply_.RA || !RequestRD) {
                    // No recursion: an own zone's delegation, else the closest cached servers.
                    FillSection(!a.Section3.empty() ? a : c);
                    SendReply();
                    return;
                }
                if (ctx_.settings->RecursionOut) {
                    // The forwarders become the server list here once queries are sent.
                    AskNS();
                    return;
                }
                if (Level > 0 && RequestID == 1) {
                    RequestID = 2;
                    AskNS();
                    return;
                }
                if (a.Section3.empty() && c.Section3.empty()) {
                    if (reply_.Section2.empty()) reply_.RCode = 2;
                    SendReply();
                    return;
                }
                // The deeper of the two delegations becomes the server list here (FillNSCol).
                AskNS();
                return;
            }

            const bool chainGoesOn = !c.Section2.empty() && c.RCode == 0;
            if (!reply_.Section2.empty()) {
                ClearReferral();
                FillSection(c);
            } else {
                c.RA = reply_.RA;
                reply_ = std::move(c);
            }
            if (chainGoesOn && RedoCNAME()) continue;
            SendReply();
            return;
        }
    } catch (...) {
        kest::ReportError("clDNSRequest ProcStep1");
    }
}

void clDNSRequest::AskNS() {
    try {
        State = 1;
        // No server can be asked yet: the server list counts as empty.
        if (reply_.Section2.empty()) reply_.RCode = 2;
        SendReply();
    } catch (...) {
        kest::ReportError("clDNSRequest AskNS");
    }
}

void clDNSRequest::FillSection(const clDNSAnswer& x) {
    try {
        for (const RecordRef& r : x.Section2) reply_.SectionAdd(2, r);
        for (const RecordRef& r : x.Section3) reply_.SectionAdd(3, r);
        for (const RecordRef& r : x.Section4) reply_.SectionAdd(4, r);
    } catch (...) {
        kest::ReportError("clDNSRequest FillSection");
    }
}

void clDNSRequest::ClearReferral() {
    reply_.Section3.clear();
    reply_.Section4.clear();
}

bool clDNSRequest::RedoCNAME() {
    try {
        if (RequestType == kTypeCNAME || RequestType == kTypeANY) return false;
        if (reply_.Section2.empty()) return false;
        const RecordRef& last = reply_.Section2.back();
        if (!last || last->RecType != kTypeCNAME) return false;
        const std::string target = last->Data;
        for (const RecordRef& r : reply_.Section2) {
            if (r && r->Name == target) return false;
        }
        currentName_ = target;
        return true;
    } catch (...) {
        kest::ReportError("clDNSRequest RedoCNAME");
        return false;
    }
}

// ---- Reply -----------------------------------------------------------------------------------

void clDNSRequest::TagReply(const clDNSAnswer& rtAns) {
    reply_ = rtAns;
    SendReply();
}

void clDNSRequest::SendReply() {
    try {
        if (ctx_.settings->AutoCNAME) CNAMERes(reply_, Now());
        State = 9;
        for (const RequestRef& tagged : TagRequests) {
            if (tagged) tagged->TagReply(reply_);
        }
        if (Level == 0) {
            SendToClient();
        }
        // A sub-request hands its answer to the parent (AddNSAns, then AskNS) once sub-requests
        // are started for name server addresses.
    } catch (...) {
        kest::ReportError("clDNSRequest SendReply");
    }
}

void clDNSRequest::SendToClient() {
    if (Wanted(kLogEvent)) {
        const std::string about = modDNS::RTypeN(RequestType);
        Log(kLogEvent, "Sending reply to " + RequestIP + " about " + about + "-record for " +
                           RequestName + ":");
        if (reply_.RCode == 0) {
            if (reply_.Section2.empty() && ((RequestRD && reply_.RA) || reply_.AA)) {
                Log(kLogEvent, "-> Answer: There are no " + about + "-Records for " + RequestName);
            }
        } else {
            Log(kLogEvent, "-> Header: " + modDNS::RCodeN(reply_.RCode));
        }
    }

    const ReplyHeader header{RequestID, RequestRD, RequestName, RequestType};
    const std::string& message = BuildMessage(header, reply_, Now(), ctx_.scratch, ctx_.log);
    if (message.empty()) return;

    if (RequestPort < 0) {
        if (ctx_.tcp) ctx_.tcp->SendAnswer(-RequestPort, message);
        return;
    }
    if (ctx_.sender) {
        IDatagramSender::Failure failure;
        const bool sent = ctx_.sender->SendTo(
            message, RequestIP, static_cast<uint16_t>(RequestPort), RequestLocalIP, failure);
        if (ctx_.doTray) ctx_.doTray(1);
        if (!sent) {
            Log(kLogEvent, "SA-WS Error " + std::to_string(failure.number) + " " + failure.text);
        }
    }
}

void clDNSRequest::CNAMERes(clDNSAnswer& reply, double now) {
    try {
        RecordList kept;
        RecordList moved;
        for (int sec = 2; sec <= 4; ++sec) {
            RecordList& s = *reply.Section(sec);
            for (;;) {
                auto it = std::find_if(s.begin(), s.end(), [](const RecordRef& r) {
                    return r && r->RecType == kTypeCNAME;
                });
                if (it == s.end()) break;
                const RecordRef cname = *it;
                s.erase(it);
                // An alias that names itself has nothing to fold into.
                if (cname->Name == cname->Data) continue;
                int32_t ttl = cname->TTL(now);
                kept.clear();
                moved.clear();
                // Only the records present when the pass began are visited.
                for (const RecordRef& r : s) {
                    if (r && r->Name == cname->Data) {
                        ttl = std::min(ttl, r->TTL(now));
                        moved.push_back(MakeRecord(cname->Name, r->RecType, r->Data, ttl, now));
                    } else {
                        kept.push_back(r);
                    }
                }
                kept.insert(kept.end(), moved.begin(), moved.end());
                s.swap(kept);
            }
        }
    } catch (...) {
        kest::ReportError("clDNSRequest CNAMERes");
    }
}

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
