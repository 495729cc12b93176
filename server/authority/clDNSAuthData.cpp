#include "server/authority/clDNSAuthData.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>

#include "core/datetime.h"
#include "core/modDNS.h"
#include "core/modIP.h"
#include "core/numtext.h"
#include "core/report.h"
#include "platform/files.h"
#include "server/authority/zonefile.h"
#include "server/dhcp/clLease.h"

namespace {

constexpr const char* kZoneTimerFile = "zonettl.dat";

// The name without its first label ("a.b.c." gives "b.c."); "." when fewer than 2 characters
// would remain. A view into name (or of "." itself).
std::string_view DropLabelView(std::string_view name) {
    const size_t dot = name.find('.');
    const std::string_view rest =
        dot == std::string_view::npos ? std::string_view() : name.substr(dot + 1);
    return rest.size() < 2 ? std::string_view(".") : rest;
}

// True when server is delegated itself or lies below the delegated name ("." + server ends with
// "." + delegated).
bool AtOrBelow(std::string_view server, std::string_view delegated) {
    if (server.size() < delegated.size()) return false;
    const size_t cut = server.size() - delegated.size();
    return server.substr(cut) == delegated && (cut == 0 || server[cut - 1] == '.');
}

bool TypeMatches(const clDNSRecord& rec, int32_t type) {
    return rec.RecType == type || type == modDNS::kTypeANY || rec.RecType == modDNS::kTypeCNAME;
}

std::string Trim(std::string_view s) {
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    const size_t e = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(b, e - b + 1));
}

// A file's modification time as a day count, whole seconds; nothing when it cannot be read.
std::optional<double> FileTimeDays(const std::filesystem::path& path) {
    std::error_code ec;
    const auto ft = std::filesystem::last_write_time(path, ec);
    if (ec) return std::nullopt;
    const auto sys = std::chrono::file_clock::to_sys(ft);
    return kest::UnixToDays(
        std::chrono::floor<std::chrono::seconds>(sys).time_since_epoch().count());
}

std::string ShownZoneName(const std::string& name) {
    return name == "." ? "<root>" : name;
}

}  // namespace

clDNSAuthData::clDNSAuthData(const modMain::Settings& settings, const kest::IClock& clock,
                             LogFn log, const clLeases& leases, std::filesystem::path dataDir,
                             AuthHostHooks hooks)
    : settings_(settings),
      clock_(clock),
      log_(std::move(log)),
      leases_(leases),
      dataDir_(std::move(dataDir)),
      hooks_(std::move(hooks)) {}

void clDNSAuthData::AddLine(int kind, std::string_view text) const {
    if (log_) log_(kind, text);
}

// ---- The zone list ----------------------------------------------------------------------------

int clDNSAuthData::ZoneFind(std::string_view zoneName) const {
    try {
        return modAuth::BinaryFind(static_cast<int>(zones_.size()), zoneName,
                                   [this](int i) { return std::string_view(zones_[i - 1]->Name); });
    } catch (...) {
        kest::ReportError("clDNSAuthData ZoneFind");
        return 0;
    }
}

std::shared_ptr<clZone> clDNSAuthData::GetZone(std::string_view zoneName) const {
    const int pos = ZoneFind(zoneName);
    return pos ? zones_[pos - 1] : nullptr;
}

void clDNSAuthData::ZoneAdd(std::shared_ptr<clZone> zone) {
    try {
        if (!zone) return;
        ZoneRemove(zone->Name);
        const int at =
            modAuth::InsertIndex(static_cast<int>(zones_.size()), zone->Name,
                                 [this](int i) { return std::string_view(zones_[i - 1]->Name); });
        zones_.insert(zones_.begin() + at, std::move(zone));
    } catch (...) {
        kest::ReportError("clDNSAuthData ZoneAdd");
    }
}

bool clDNSAuthData::ZoneRemove(std::string_view zoneName) {
    const int pos = ZoneFind(zoneName);
    if (!pos) return false;
    zones_.erase(zones_.begin() + (pos - 1));
    return true;
}

std::shared_ptr<clZone> clDNSAuthData::FindZone(const std::string& name, bool skipEmpty) const {
    std::string_view candidate = name;
    for (;;) {
        if (const int pos = ZoneFind(candidate)) {
            const auto& zone = zones_[pos - 1];
            if (!skipEmpty || !zone->Records.empty()) return zone;
        }
        if (candidate == ".") return nullptr;
        candidate = DropLabelView(candidate);
    }
}

// ---- Answers ----------------------------------------------------------------------------------

clDNSAnswer clDNSAuthData::Ask(const std::string& name, int32_t type, bool quick) {
    clDNSAnswer answer;
    try {
        const auto zone = FindZone(name, /*skipEmpty=*/true);
        if (!zone) return answer;
        const RecordList& records = zone->Records;

        // Adds, through SectionAdd, the zone's A records named target to the additional section.
        const auto addAddresses = [&](std::string_view target) {
            const int first = zone->FindRec(target);
            if (!first) return;
            for (size_t i = static_cast<size_t>(first) - 1; i < records.size(); ++i) {
                if (records[i]->Name != target) break;
                if (records[i]->RecType == modDNS::kTypeA) answer.SectionAdd(4, records[i]);
            }
        };
        // The exchange of an MX answer or the target of an SRV answer brings its addresses.
        const auto addTargets = [&](const clDNSRecord& rec) {
            if (type == modDNS::kTypeMX && rec.RecType == modDNS::kTypeMX && rec.Data.size() > 2)
                addAddresses(std::string_view(rec.Data).substr(2));
            else if (type == modDNS::kTypeSRV && rec.RecType == modDNS::kTypeSRV &&
                     rec.Data.size() > 6)
                addAddresses(std::string_view(rec.Data).substr(6));
        };

        // Delegations inside the zone, from the query name up to below the zone's own name. The
        // first search is the exact name's, kept for the exact match below.
        std::string_view delegated = name;
        int firstOfName = -1;  // not searched yet
        while (delegated.size() > zone->Name.size()) {
            const int first = zone->FindRec(delegated);
            if (firstOfName < 0) firstOfName = first;
            for (size_t i = first ? static_cast<size_t>(first) - 1 : records.size();
                 i < records.size() && records[i]->Name == delegated; ++i) {
                const RecordRef& ns = records[i];
                if (ns->RecType != modDNS::kTypeNS) continue;
                int glue = 0;
                if (const int g = zone->FindRec(ns->Data)) {
                    for (size_t j = static_cast<size_t>(g) - 1;
                         j < records.size() && records[j]->Name == ns->Data; ++j) {
                        if (records[j]->RecType != modDNS::kTypeA) continue;
                        answer.Section4.push_back(records[j]);
                        ++glue;
                    }
                }
                // A server inside the delegated name is reachable only through its glue.
                if (!AtOrBelow(ns->Data, delegated) || glue > 0) answer.Section3.push_back(ns);
            }
            if (!answer.Section3.empty()) return answer;  // referral, not authoritative
            delegated = DropLabelView(delegated);
        }

        answer.AA = true;
        const double now = clock_.Now();

        // Names and addresses of the DHCP clients.
        if (!leases_.Empty()) {
            if (type == modDNS::kTypeA || type == modDNS::kTypeANY) {
                for (const clLease* lease : leases_.ValidByName(name))
                    answer.Section2.push_back(MakeRecord(
                        name, modDNS::kTypeA, modIP::IPToData(lease->IPaddr), 0, now, true));
            }
            constexpr std::string_view kArpa = ".in-addr.arpa.";
            if ((type == modDNS::kTypePTR || type == modDNS::kTypeANY) &&
                name.size() > kArpa.size() &&
                name.compare(name.size() - kArpa.size(), kArpa.size(), kArpa) == 0) {
                for (const clLease* lease : leases_.ValidByAddress(modIP::ArpaToIP(name)))
                    answer.Section2.push_back(
                        MakeRecord(name, modDNS::kTypePTR, lease->ClientName, 0, now, true));
            }
        }

        // Exact match.
        bool exists = false;
        if (const int first = firstOfName >= 0 ? firstOfName : zone->FindRec(name)) {
            for (size_t i = static_cast<size_t>(first) - 1;
                 i < records.size() && records[i]->Name == name; ++i) {
                exists = true;
                const RecordRef rec = records[i];
                if (!TypeMatches(*rec, type)) continue;
                answer.Section2.push_back(rec);
                addTargets(*rec);
            }
        }

        bool found = !answer.Section2.empty();
        if (!found && !exists) {
            // Wildcards, from the closest one up to the zone's own level.
            const size_t dot = name.find('.');
            std::string candidate =
                name == "." || dot == std::string::npos ? std::string() : "*" + name.substr(dot);
            for (;;) {
                if (candidate.size() < zone->Name.size()) {
                    answer.RCode = 3;
                    break;
                }
                bool wildcard = false;
                if (const int first = zone->FindRec(candidate)) {
                    for (size_t i = static_cast<size_t>(first) - 1;
                         i < records.size() && records[i]->Name == candidate; ++i) {
                        wildcard = true;
                        const clDNSRecord& rec = *records[i];
                        if (!TypeMatches(rec, type)) continue;
                        auto copy = std::make_shared<clDNSRecord>();
                        copy->Name = name;
                        copy->RecType = rec.RecType;
                        copy->Data = rec.Data;
                        copy->Permanent = true;
                        copy->SetTTL(rec.mTTL, now);
                        answer.Section2.push_back(copy);
                        addTargets(*copy);
                    }
                }
                if (!answer.Section2.empty()) {
                    found = true;
                    break;
                }
                if (wildcard) break;  // the wildcard has other types only: no data
                if (candidate == "*.") {
                    candidate.clear();
                } else {
                    const size_t next = candidate.find('.', 2);
                    candidate =
                        next == std::string::npos ? std::string() : "*" + candidate.substr(next);
                }
            }
        }

        if (quick) return answer;
        if (!found) {
            // No data or name error: the zone's SOA tells how long to remember that.
            if (const int first = zone->FindRec(zone->Name)) {
                for (size_t i = static_cast<size_t>(first) - 1;
                     i < records.size() && records[i]->Name == zone->Name; ++i) {
                    if (records[i]->RecType != modDNS::kTypeSOA) continue;
                    answer.SectionAdd(3, records[i]);
                    break;
                }
            }
            return answer;
        }
        if (const int first = zone->FindRec(zone->Name)) {
            for (size_t i = static_cast<size_t>(first) - 1;
                 i < records.size() && records[i]->Name == zone->Name; ++i) {
                if (records[i]->RecType != modDNS::kTypeNS) continue;
                answer.SectionAdd(3, records[i]);
                addAddresses(records[i]->Data);
            }
        }
    } catch (...) {
        kest::ReportError("clDNSAuthData Ask");
    }
    return answer;
}

bool clDNSAuthData::AskAuth(const std::string& name) {
    try {
        const auto zone = FindZone(name, /*skipEmpty=*/false);
        if (!zone) return false;
        std::string_view n = name;
        while (n.size() > zone->Name.size()) {
            if (const int first = zone->FindRec(n)) {
                for (size_t i = static_cast<size_t>(first) - 1;
                     i < zone->Records.size() && zone->Records[i]->Name == n; ++i)
                    if (zone->Records[i]->RecType == modDNS::kTypeNS) return false;
            }
            n = DropLabelView(n);
        }
        return true;
    } catch (...) {
        kest::ReportError("clDNSAuthData AskAuth");
        return false;
    }
}

std::string clDNSAuthData::ZonePrimIP(const std::string& zoneName) {
    try {
        const auto zone = GetZone(zoneName);
        return zone ? zone->PrimaryIP : std::string();
    } catch (...) {
        kest::ReportError("clDNSAuthData ZonePrimIP");
        return {};
    }
}

bool clDNSAuthData::ZoneExpired(const std::string& zoneName) {
    try {
        const auto zone = GetZone(zoneName);
        return zone && zone->Records.empty();
    } catch (...) {
        kest::ReportError("clDNSAuthData ZoneExpired");
        return false;
    }
}

// ---- Loading ----------------------------------------------------------------------------------

void clDNSAuthData::LoadAll() {
    std::string previousStatus;
    try {
        if (hooks_.getStatus) previousStatus = hooks_.getStatus();
        if (hooks_.setStatus) hooks_.setStatus("Loading DNS Records...");
        if (hooks_.pump) hooks_.pump();

        zones_.clear();

        // Remaining lifetimes of the secondary zones, aged by the time the file has lain.
        std::vector<std::string> timerLines;
        double fileAge = 0;
        const auto timerPath = dataDir_ / kZoneTimerFile;
        if (const auto text = platform::ReadFile(timerPath)) {
            if (const auto written = FileTimeDays(timerPath))
                fileAge = (clock_.Now() - *written) * 86400.0;
            for (const auto& line : platform::SplitLines(*text)) {
                std::string t = Trim(line);
                if (!t.empty()) timerLines.push_back(std::move(t));
            }
        }

        for (const auto& file : platform::ListFiles(dataDir_)) {
            const std::string fileName = file.filename().string();
            if (!modZoneFile::IsZoneFileName(fileName)) continue;
            const std::string zoneName = modZoneFile::ZoneNameFromFile(fileName);
            if (zoneName.empty()) continue;
            double seconds = 0;
            for (const auto& line : timerLines) {
                const size_t blank = line.find(' ');
                if (line.substr(0, blank) != zoneName) continue;
                seconds = (blank == std::string::npos
                               ? 0.0
                               : kest::LeadingNumber(std::string_view(line).substr(blank + 1))) -
                          fileAge;
                break;
            }
            LoadZone(zoneName, seconds, kNoFileTime);
        }
    } catch (...) {
        kest::ReportError("clDNSAuthData LoadAll");
    }
    try {
        if (hooks_.setStatus) hooks_.setStatus(previousStatus);
    } catch (...) {
        kest::ReportError("clDNSAuthData LoadAll");
    }
}

std::filesystem::path clDNSAuthData::ZoneFilePath(const std::string& zoneName) const {
    return modZoneFile::FindZoneFile(dataDir_, zoneName);
}

bool clDNSAuthData::LoadZone(const std::string& zoneName, double secondsToExpiry,
                             double masterFileTime) {
    try {
        ZoneRemove(zoneName);
        auto zone = std::make_shared<clZone>();
        const double now = clock_.Now();
        zone->Name = zoneName;
        zone->NextRefresh = now;
        zone->Expires = now + secondsToExpiry / 86400.0;
        zone->SOAExpire = zone->SOARefresh = zone->SOARetry = 300;
        zone->PrimaryIP.clear();
        zone->Secure = true;
        if (masterFileTime != kNoFileTime) {
            zone->FILETIME = masterFileTime;
            zone->Checked = true;
        } else {
            AddLine(modMain::kLogEvent, "Loading Zone: " + ShownZoneName(zoneName));
        }
        // A file that cannot be read is reported and logged by the reader; the zone stays out.
        auto data = modZoneFile::ReadZoneFile(ZoneFilePath(zoneName), zoneName, now, log_);
        if (!data) return false;
        zone->PrimaryIP = std::move(data->PrimaryIP);
        zone->Slaves = std::move(data->Slaves);
        zone->Secure = data->Secure;
        zone->SOASerial = data->SOASerial;
        zone->SOARefresh = data->SOARefresh;
        zone->SOARetry = data->SOARetry;
        zone->SOAExpire = data->SOAExpire;
        for (auto& rec : data->Records) zone->AddRec(std::move(rec));
        ZoneAdd(std::move(zone));
        return true;
    } catch (...) {
        kest::ReportError("clDNSAuthData LoadZone");
        AddLine(modMain::kLogEvent, "** Error accessing file!");
        return false;
    }
}

void clDNSAuthData::UnloadZone(const std::string& zoneName) {
    try {
        if (!GetZone(zoneName)) return;
        AddLine(modMain::kLogEvent, "Removing Zone: " + zoneName);
        ZoneRemove(zoneName);
    } catch (...) {
        kest::ReportError("clDNSAuthData UnloadZone");
    }
}

double clDNSAuthData::ZoneLifetime(const std::string& zoneName) const {
    const auto zone = GetZone(zoneName);
    if (!zone) return 0;
    return std::round((zone->Expires - clock_.Now()) * 86400.0);
}

bool clDNSAuthData::ReloadZone(const std::string& zoneName) {
    return LoadZone(zoneName, ZoneLifetime(zoneName), kNoFileTime);
}

// ---- Replication entry points -----------------------------------------------------------------

void clDNSAuthData::Notify(const std::string& zoneName) {
    try {
        if (replication_) replication_->Notify(zoneName);
    } catch (...) {
        kest::ReportError("clDNSAuthData Notify");
    }
}

void clDNSAuthData::ProcNotify(const std::string& ip, int32_t port, const std::string& zoneName,
                               const std::string& message) {
    try {
        if (replication_) replication_->ProcNotify(ip, port, zoneName, message);
    } catch (...) {
        kest::ReportError("clDNSAuthData ProcNotify");
    }
}
