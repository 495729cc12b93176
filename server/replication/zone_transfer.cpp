#include "server/replication/zone_transfer.h"

#include <algorithm>
#include <memory>

#include "core/report.h"
#include "server/authority/clDNSAuthData.h"

namespace modZT {
namespace {

constexpr int32_t kTypeAXFR = 252;
constexpr size_t kBatch = 64 * 1024;

void SetCount(std::string& m, size_t at, size_t n) {
    m[at] = static_cast<char>((n >> 8) & 0x7F);
    m[at + 1] = static_cast<char>(n & 0xFF);
}

void Log(const TransferHooks& hooks, std::string_view text) {
    if (hooks.log) hooks.log(0, text);
}

bool SendFramed(const TransferHooks& hooks, IZTSocket& socket, const std::string& message) {
    const std::string framed = Framed(message);
    if (framed.empty()) return true;  // cannot be framed: left out
    IZTSocket::Failure failure;
    const bool sent = socket.Send(framed, failure);
    if (hooks.activity) hooks.activity();
    if (!sent) {
        Log(hooks, "ctlZT-WS Error " + std::to_string(failure.number) + " " + failure.text);
    }
    return sent;
}

bool Refuse(const TransferHooks& hooks, int32_t id, bool rd, const std::string& zoneName,
            const std::string& requester, IZTSocket& socket) {
    Log(hooks, "Sending answer to " + requester + " about Zone Transfer for " + zoneName);
    Log(hooks, "-> Header: Refused.");
    std::string m;
    modDNS::AppendShortL(m, id);
    m += static_cast<char>(0x80 | (rd ? 0x01 : 0));
    m += static_cast<char>(5);
    m.append({'\0', '\1', '\0', '\0', '\0', '\0', '\0', '\0'});
    const std::string q = modDNS::ZipName("", zoneName);
    if (q.empty()) return true;  // a name no message can carry gets nothing
    m += q;
    modDNS::AppendShortL(m, kTypeAXFR);
    m.append({'\0', '\1'});
    return SendFramed(hooks, socket, m);
}

}  // namespace

std::string Framed(std::string_view message) {
    if (message.size() > kMaxTcpMessage) return {};
    std::string out;
    out.reserve(message.size() + 2);
    modDNS::AppendShortL(out, static_cast<int64_t>(message.size()));
    out.append(message);
    return out;
}

std::string TransferHeader(int32_t id, bool rd, std::string_view zoneName, modDNS::ZipIndex& zip) {
    std::string m;
    modDNS::AppendShortL(m, id);
    m += static_cast<char>(0x84 | (rd ? 0x01 : 0));
    m += '\0';
    m.append({'\0', '\1', '\0', '\0', '\0', '\0', '\0', '\0'});
    const std::string q = modDNS::ZipNameIn(m, zoneName, zip);
    if (q.empty()) return {};
    m += q;
    modDNS::AppendShortL(m, kTypeAXFR);
    m.append({'\0', '\1'});
    return m;
}

bool AppendRecord(std::string& m, const clDNSRecord& rec, modDNS::ZipIndex& zip) {
    // TXT needs a string, MX and SRV a target; types a zone cannot hold (markers included) are
    // never sent.
    const int32_t t = rec.RecType;
    const bool sendable = t == modDNS::kTypeTXT  ? !rec.Data.empty()
                          : t == modDNS::kTypeMX ? rec.Data.size() > 2
                          : t == modDNS::kTypeSRV
                              ? rec.Data.size() > 6
                              : t == modDNS::kTypeA || t == modDNS::kTypeNS ||
                                    t == modDNS::kTypeCNAME || t == modDNS::kTypePTR ||
                                    t == modDNS::kTypeSOA;
    if (!sendable) return false;
    const size_t start = m.size();
    const std::string owner = modDNS::ZipNameIn(m, rec.Name, zip);
    if (owner.empty()) return false;
    m += owner;
    modDNS::AppendShortL(m, rec.RecType);
    m.append({'\0', '\1'});
    m += modDNS::MakeLong(rec.mTTL);

    std::string rdata;
    if (!modDNS::AppendRecordData(m, rec.RecType, rec.Data, zip, rdata)) {
        m.resize(start);
        return false;
    }
    return true;
}

bool ZoneTransfer(clDNSAuthData& zones, const TransferHooks& hooks, int32_t id, bool rd,
                  const std::string& zoneName, bool severalPerMessage, const std::string& requester,
                  IZTSocket& socket) {
    try {
        const std::shared_ptr<clZone> zone = zones.GetZone(zoneName);
        if (!zone) return Refuse(hooks, id, rd, zoneName, requester, socket);
        if (zone->Secure &&
            std::find(zone->Slaves.begin(), zone->Slaves.end(), requester) == zone->Slaves.end()) {
            return Refuse(hooks, id, rd, zoneName, requester, socket);
        }
        // The records are sent from a snapshot: a reload while the queue drains changes nothing
        // of a transfer already under way.
        const RecordList records = zone->Records;
        size_t soaAt = records.size();
        const int first = zone->FindRec(zone->Name);
        if (first > 0) {
            for (size_t i = static_cast<size_t>(first - 1);
                 i < records.size() && records[i] && records[i]->Name == zone->Name; ++i) {
                if (records[i]->RecType == modDNS::kTypeSOA) {
                    soaAt = i;
                    break;
                }
            }
        }
        if (soaAt == records.size()) return Refuse(hooks, id, rd, zoneName, requester, socket);

        Log(hooks, "Sending Zone Transfer to " + requester + " for " + zoneName);

        modDNS::ZipIndex zip;
        std::string m = TransferHeader(id, rd, zoneName, zip);
        if (m.empty()) return true;
        const size_t headerSize = m.size();
        const std::string header = m;
        size_t inMessage = 0;

        // Framed messages are handed to the socket in batches: one system call per message
        // would make a large transfer of small messages slow. The bytes are the same.
        std::string batch;
        const auto pass = [&]() -> bool {
            if (batch.empty()) return true;
            IZTSocket::Failure failure;
            const bool sent = socket.Send(batch, failure);
            batch.clear();
            if (!sent) {
                Log(hooks, "ctlZT-WS Error " + std::to_string(failure.number) + " " + failure.text);
            }
            return sent;
        };
        const auto flush = [&]() -> bool {
            SetCount(m, 6, inMessage);
            batch += Framed(m);
            if (hooks.activity) hooks.activity();
            m = header;
            inMessage = 0;
            return batch.size() < kBatch || pass();
        };
        const auto put = [&](const clDNSRecord& rec) -> bool {
            if (severalPerMessage) {
                if (m.size() > kMessageFill && inMessage > 0 && !flush()) return false;
            }
            if (!AppendRecord(m, rec, zip)) return true;  // no wire form: left out
            ++inMessage;
            if (!severalPerMessage) return flush();
            return true;
        };

        const clDNSRecord& soa = *records[soaAt];
        if (!put(soa)) return false;
        for (size_t i = 0; i < records.size(); ++i) {
            if (i == soaAt || !records[i]) continue;
            if (!put(*records[i])) return false;
        }
        if (!put(soa)) return false;
        if (severalPerMessage && (inMessage > 0 || m.size() > headerSize) && !flush()) {
            return false;
        }
        return pass();
    } catch (...) {
        kest::ReportError("clDNSAuthData ZoneTransfer");
        return true;
    }
}

}  // namespace modZT
