#include "server/replication/secondaries.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/modDNS.h"
#include "core/report.h"
#include "platform/files.h"
#include "server/authority/zonefile.h"

namespace modReplication {
namespace {

constexpr int kLogEvent = 0;

double Seconds(double s) {
    return s / 86400.0;
}

modZoneFile::ZoneFileHeader HeaderOf(const clZone& zone) {
    modZoneFile::ZoneFileHeader h;
    h.PrimaryIP = zone.PrimaryIP;
    h.Slaves = zone.Slaves;
    h.Secure = zone.Secure;
    return h;
}

}  // namespace

bool SerialNewer(uint32_t received, uint32_t held) {
    const uint32_t diff = received - held;
    return diff != 0 && diff < 0x80000000u;
}

void AddRecords(clZone& zone, const std::vector<RecordRef>& records) {
    // AddRec puts a record in front of the records of its own name unless its name is at or past
    // the last one (and not at or before the first): then it goes behind them.
    struct Placed {
        const RecordRef* rec;
        int64_t order;
    };
    std::vector<Placed> placed;
    placed.reserve(records.size());
    int64_t low = 0, high = 0;
    const std::string* minName = nullptr;
    const std::string* maxName = nullptr;
    for (const auto& rec : records) {
        if (!rec) continue;
        const std::string& n = rec->Name;
        bool back;
        if (!minName) {
            back = true;
            minName = maxName = &n;
        } else if (n <= *minName) {
            back = false;
            minName = &n;
        } else if (n >= *maxName) {
            back = true;
            maxName = &n;
        } else {
            back = false;
        }
        placed.push_back({&rec, back ? ++high : --low});
    }
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        const int c = (*a.rec)->Name.compare((*b.rec)->Name);
        return c != 0 ? c < 0 : a.order < b.order;
    });
    zone.Records.reserve(zone.Records.size() + placed.size());
    for (const auto& p : placed) zone.Records.push_back(*p.rec);
}

clSecondaries::clSecondaries(clDNSAuthData& store, ctlZTS& client)
    : store_(store), client_(client) {}

void clSecondaries::CheckSecondaries() {
    try {
        // Queuing may send and change the list: walk a copy, look each zone up again.
        std::vector<std::string> names;
        for (const auto& zone : store_.Zones()) {
            if (zone && !zone->PrimaryIP.empty()) names.push_back(zone->Name);
        }
        for (const auto& name : names) {
            const auto zone = store_.GetZone(name);
            if (!zone || zone->PrimaryIP.empty()) continue;
            const double now = store_.Clock().Now();
            if (zone->Expires < now && !zone->Records.empty()) {
                ExpireZone(*zone);
                zone->SOARetry = 300;
                zone->NextRefresh = now + Seconds(300);
                client_.Que(name);
            } else if (zone->NextRefresh <= now) {
                zone->NextRefresh = now + Seconds(zone->SOARetry);
                client_.Que(name);
            }
        }
    } catch (...) {
        kest::ReportError("clDNSAuthData CheckSecondaries");
    }
}

void clSecondaries::GotSOA(uint32_t serial) {
    try {
        const auto zone = store_.GetZone(client_.CurName);
        if (zone && !zone->PrimaryIP.empty()) {
            if (zone->Records.empty()) return;  // the timer moves the queue on
            if (SerialNewer(serial, zone->SOASerial)) {
                // The copy keeps answering until the new one has arrived.
                client_.TransferNext(zone->Name);
            } else {
                const double now = store_.Clock().Now();
                zone->Expires = now + Seconds(zone->SOAExpire);
                zone->NextRefresh = now + Seconds(zone->SOARefresh);
            }
        }
        client_.ProcQ();
    } catch (...) {
        kest::ReportError("clDNSAuthData GotSOA");
    }
}

void clSecondaries::GotZTransfer(const std::string& zoneName, std::vector<RecordRef> records) {
    try {
        const auto zone = store_.GetZone(zoneName);
        if (!zone) return;
        if (records.empty() || !records.front() || records.front()->RecType != modDNS::kTypeSOA)
            return;
        const auto soa = modDNS::ParseSOAData(records.front()->Data);
        if (!soa) return;
        zone->Records.clear();
        modZoneFile::WriteZoneLines(
            store_.ZoneFilePath(zone->Name),
            modZoneFile::ServerZoneLines(zone->Name, HeaderOf(*zone), records),
            "clDNSAuthData GotZTransfer");
        zone->SOASerial = soa->serial;
        zone->SOARefresh = soa->refresh;
        zone->SOARetry = soa->retry;
        zone->SOAExpire = soa->expire;
        const double now = store_.Clock().Now();
        zone->Expires = now + Seconds(zone->SOAExpire);
        zone->NextRefresh = now + Seconds(zone->SOARefresh);
        AddRecords(*zone, records);
        store_.Notify(zone->Name);
    } catch (...) {
        kest::ReportError("clDNSAuthData GotZTransfer");
    }
}

void clSecondaries::ExpireZone(clZone& zone) {
    try {
        store_.AddLine(kLogEvent, "Zone has expired: " + zone.Name);
        modZoneFile::WriteZoneLines(store_.ZoneFilePath(zone.Name),
                                    modZoneFile::ServerZoneLines(zone.Name, HeaderOf(zone), {}),
                                    "clDNSAuthData ExpireZone");
        zone.Records.clear();
    } catch (...) {
        kest::ReportError("clDNSAuthData ExpireZone");
    }
}

std::vector<std::string> clSecondaries::ZoneTTLLines() const {
    std::vector<std::string> lines;
    const double now = store_.Clock().Now();
    for (const auto& zone : store_.Zones()) {
        if (!zone || zone->PrimaryIP.empty()) continue;
        // The clock counts whole seconds, so the lifetime is a whole number of them.
        const double left = std::round((zone->Expires - now) * 86400.0);
        char text[64];
        std::snprintf(text, sizeof text, "%.0f", left);
        lines.push_back(zone->Name + " " + (left >= 0 ? " " : "") + text);
    }
    return lines;
}

bool clSecondaries::SaveZoneTTL() {
    try {
        if (store_.Zones().empty()) return true;
        const std::string key = LifetimeKey();
        platform::WriteFileAtomic(store_.DataDir() / kZoneTimerFile,
                                  platform::JoinCrLf(ZoneTTLLines()));
        savedKey_ = key;
        saved_ = true;
        return true;
    } catch (...) {
        kest::ReportError("clDNSAuthData SaveZoneTTL");
        return false;
    }
}

std::string clSecondaries::LifetimeKey() const {
    std::string key;
    for (const auto& zone : store_.Zones()) {
        if (!zone || zone->PrimaryIP.empty()) continue;
        key += zone->Name;
        key.push_back('\0');
        char bytes[sizeof(double)];
        std::memcpy(bytes, &zone->Expires, sizeof bytes);
        key.append(bytes, sizeof bytes);
    }
    return key;
}

void clSecondaries::SaveZoneTTLIfChanged() {
    try {
        if (store_.Zones().empty()) return;
        if (saved_ && LifetimeKey() == savedKey_) return;
        SaveZoneTTL();
    } catch (...) {
        kest::ReportError("clDNSAuthData SaveZoneTTL");
    }
}

}  // namespace modReplication
