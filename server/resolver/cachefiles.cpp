#include "server/resolver/cachefiles.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <system_error>

#include "core/datetime.h"
#include "core/modDNS.h"
#include "core/modIP.h"
#include "core/numtext.h"
#include "core/report.h"
#include "platform/files.h"
#include "server/authority/clDNSAuthData.h"
#include "server/authority/zonefile.h"
#include "server/dhcp/clLease.h"
#include "server/resolver/clDNSCache.h"

namespace modCacheFile {
namespace {

using u8 = unsigned char;

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

std::string UpperCase(std::string s) {
    for (char& c : s) c = Upper(c);
    return s;
}

std::string Trim(std::string_view s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string_view::npos) return {};
    const size_t e = s.find_last_not_of(' ');
    return std::string(s.substr(b, e - b + 1));
}

// Every name of the cache file grammar is fully qualified: "." alone (or nothing) is the root.
std::string FileName(std::string_view word) {
    return modDNS::CleanNameF(word) + ".";
}

// A name the codec can carry (the decoders take one with a control byte or blank as
// "incomplete.").
bool UsableName(std::string_view name) {
    return std::none_of(name.begin(), name.end(), [](char c) {
        const u8 b = static_cast<u8>(c);
        return b < 0x21 || b == 0x7F;
    });
}

// A word the reader takes back unchanged: no blank, control byte, comment or parenthesis.
bool PlainWord(std::string_view w) {
    return !w.empty() && std::none_of(w.begin(), w.end(), [](char c) {
        const u8 b = static_cast<u8>(c);
        return b <= 0x20 || b == 0x7F || c == ';' || c == '(' || c == ')';
    });
}

// A name the reader gets back unchanged: absolute, lower case, no empty label, a plain word.
bool WritableName(std::string_view n) {
    if (n == ".") return true;
    if (n.size() < 2 || n.back() != '.' || n.front() == '.' || !PlainWord(n)) return false;
    if (n.find("..") != std::string_view::npos) return false;
    return std::none_of(n.begin(), n.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

// MX and SRV numbers: the absolute value of the integer part, within 16 bits.
int64_t Number16(std::string_view word) {
    return kest::RoundClamp(std::floor(std::fabs(kest::LeadingNumber(word))), 0, 65535);
}

// SOA numbers: the integer part, within unsigned 32 bits.
uint32_t Number32(std::string_view word) {
    return static_cast<uint32_t>(
        kest::RoundClamp(std::floor(kest::LeadingNumber(word)), 0, UINT32_MAX));
}

class Reader {
  public:
    Reader(bool permanent, int64_t age, double now, const std::function<void(RecordRef)>& emit)
        : permanent_(permanent), age_(permanent ? 0 : age), now_(now), emit_(emit) {}

    void Record(std::string& text) {
        if (text.empty()) return;
        std::string owner;
        if (text.front() == ' ') {
            if (!havePrevious_) return;
            owner = previous_;
        } else {
            owner = FileName(modZoneFile::NextWord(text));
        }
        previous_ = owner;
        havePrevious_ = true;

        std::string word = UpperCase(modZoneFile::NextWord(text));
        if (word == "CH") return;
        if (word == "IN") word = UpperCase(modZoneFile::NextWord(text));
        if (word.empty() || text.empty()) return;

        std::optional<int64_t> ttl;
        if (modZoneFile::IsPlainNumber(word)) {
            ttl = kest::LeadingInteger(word, 0, INT32_MAX);
            word = UpperCase(modZoneFile::NextWord(text));
        }
        if (word == "CH") return;
        if (word == "IN") word = UpperCase(modZoneFile::NextWord(text));
        if (word.empty() || text.empty()) return;
        if (!UsableName(owner)) return;

        int32_t type = 0;
        std::string data;
        if (!Data(word, text, type, data)) return;

        RecordRef rec;
        if (ttl) {
            const int64_t left = std::clamp<int64_t>(*ttl - age_, INT32_MIN, INT32_MAX);
            rec = MakeRecord(owner, type, std::move(data), static_cast<int32_t>(left), now_,
                             permanent_);
        } else {
            // No TTL: the expiry stays at the zero date-time, so the record is never answered.
            rec = std::make_shared<clDNSRecord>();
            rec->Permanent = permanent_;
            rec->RecType = type;
            rec->Name = owner;
            rec->Data = std::move(data);
        }
        emit_(std::move(rec));
    }

  private:
    static bool Data(const std::string& word, std::string& text, int32_t& type, std::string& data) {
        if (word == "A") {
            type = modDNS::kTypeA;
            data = modIP::IPToData(text);
            return data.size() == 4 && data != std::string(4, '\0');
        }
        if (word == "NS" || word == "CNAME" || word == "PTR") {
            type = word == "NS" ? modDNS::kTypeNS
                                : (word == "CNAME" ? modDNS::kTypeCNAME : modDNS::kTypePTR);
            data = FileName(modZoneFile::NextWord(text));
            return UsableName(data);
        }
        if (word == "SOA") {
            type = modDNS::kTypeSOA;
            const std::string mname = FileName(modZoneFile::NextWord(text));
            const std::string rname = FileName(modZoneFile::NextWord(text));
            if (!UsableName(mname) || !UsableName(rname)) return false;
            data = mname + '\0' + rname + '\0';
            for (int i = 0; i < 5; ++i) {
                if (text.empty()) return false;
                modDNS::AppendLongU(data, Number32(modZoneFile::NextWord(text)));
            }
            return true;
        }
        if (word == "MX") {
            type = modDNS::kTypeMX;
            data = modDNS::MakeShortL(Number16(modZoneFile::NextWord(text)));
            const std::string name = FileName(modZoneFile::NextWord(text));
            data += name;
            return UsableName(name);
        }
        if (word == "TXT") {
            type = modDNS::kTypeTXT;
            data = modZoneFile::ParseTXT(text);
            return !data.empty();
        }
        if (word == "SRV") {
            type = modDNS::kTypeSRV;
            for (int i = 0; i < 3; ++i)
                modDNS::AppendShortL(data, Number16(modZoneFile::NextWord(text)));
            const std::string name = FileName(modZoneFile::NextWord(text));
            data += name;
            return UsableName(name);
        }
        return false;
    }

    bool permanent_;
    int64_t age_;
    double now_;
    const std::function<void(RecordRef)>& emit_;
    std::string previous_;
    bool havePrevious_ = false;
};

// The type and data of a record line; nothing when the type has no line or the data is not in
// its type's form.
std::optional<std::string> Body(const clDNSRecord& rec) {
    const std::string& d = rec.Data;
    switch (rec.RecType) {
        case modDNS::kTypeA:
            if (d.size() != 4) return std::nullopt;
            return "A " + modIP::DataToIP(d);
        case modDNS::kTypeNS:
        case modDNS::kTypeCNAME:
        case modDNS::kTypePTR:
            if (!WritableName(d)) return std::nullopt;
            return modDNS::RTypeN(rec.RecType) + " " + d;
        case modDNS::kTypeSOA: {
            const auto soa = modDNS::ParseSOAData(d);
            if (!soa || !WritableName(soa->mname) || !WritableName(soa->rname)) return std::nullopt;
            return "SOA " + soa->mname + " " + soa->rname + " " + std::to_string(soa->serial) +
                   " " + std::to_string(soa->refresh) + " " + std::to_string(soa->retry) + " " +
                   std::to_string(soa->expire) + " " + std::to_string(soa->minimum);
        }
        case modDNS::kTypeMX: {
            if (d.size() < 3) return std::nullopt;
            std::string_view v(d);
            const int32_t pref = modDNS::ExtractShortL(v, true);
            if (!WritableName(v)) return std::nullopt;
            return "MX " + std::to_string(pref) + " " + std::string(v);
        }
        case modDNS::kTypeTXT: {
            const std::string text = modZoneFile::FormatTXT(d);
            if (text.empty()) return std::nullopt;
            return "TXT " + text;
        }
        case modDNS::kTypeSRV: {
            if (d.size() < 7) return std::nullopt;
            std::string_view v(d);
            std::string out = "SRV";
            for (int i = 0; i < 3; ++i) out += " " + std::to_string(modDNS::ExtractShortL(v, true));
            if (!WritableName(v)) return std::nullopt;
            return out + " " + std::string(v);
        }
        default:
            return std::nullopt;
    }
}

}  // namespace

void ReadCacheText(std::string_view text, bool permanent, int64_t ageSeconds, double now,
                   const std::function<void(RecordRef)>& onRecord) {
    Reader reader(permanent, ageSeconds, now, onRecord);
    modZoneFile::ForEachRecordText(
        text, [&reader](std::string_view, std::string& record) { reader.Record(record); });
}

std::vector<std::string> RecordLines(const std::vector<RecordRef>& records, bool snapShot,
                                     double now) {
    std::vector<std::string> lines;
    std::optional<std::string> last;
    for (const RecordRef& rec : records) {
        if (!rec || (rec->Permanent && !snapShot) || rec->mTimeOut < now) continue;
        const int32_t ttl = rec->TTL(now);
        if (ttl < 0 || !WritableName(rec->Name)) continue;
        const auto body = Body(*rec);
        if (!body) continue;
        std::string line = last == rec->Name ? std::string() : rec->Name;
        line += " " + std::to_string(ttl) + " " + *body;
        lines.push_back(std::move(line));
        last = rec->Name;
    }
    return lines;
}

std::vector<std::string> LeaseLines(const clLeases& leases, double now) {
    std::vector<std::string> lines;
    for (const clLease& lease : leases.Leases()) {
        if (!(lease.Expires > now) || !PlainWord(lease.ClientName) || !PlainWord(lease.IPaddr))
            continue;
        // Whole seconds, so the line's TTL is a plain number to the cache file reader.
        const std::string left =
            std::to_string(kest::RoundClamp((lease.Expires - now) * 86400.0, 0, INT32_MAX));
        lines.push_back(lease.ClientName + " " + left + " A " + lease.IPaddr);
        lines.push_back(modIP::IPToArpa(lease.IPaddr) + " " + left + " PTR " + lease.ClientName);
    }
    return lines;
}

std::vector<RecordRef> HostsLineRecords(std::string_view line, int32_t ttl, double now) {
    std::string s(line.substr(0, line.find('#')));
    std::replace(s.begin(), s.end(), '\t', ' ');
    s = Trim(s);
    const size_t blank = s.find(' ');
    if (blank == std::string::npos) return {};
    const std::string address = s.substr(0, blank);
    // IPv4 only: an IPv6 address would read as some unrelated IPv4 address.
    if (address.find(':') != std::string::npos) return {};

    std::vector<std::string> names;
    std::string rest = Trim(std::string_view(s).substr(blank + 1));
    while (!rest.empty()) {
        const std::string name = modDNS::CleanName(modZoneFile::NextWord(rest));
        if (!name.empty()) names.push_back(name + ".");
    }
    if (names.empty()) return {};

    const std::string& host = names.front();
    std::vector<RecordRef> out;
    out.push_back(MakeRecord(host, modDNS::kTypeA, modIP::IPToData(address), ttl, now, true));
    out.push_back(MakeRecord(modIP::IPToArpa(address), modDNS::kTypePTR, host, ttl, now, true));
    for (size_t i = 1; i < names.size(); ++i) {
        // An alias equal to the host name would be a CNAME pointing at itself.
        if (names[i] == host) continue;
        out.push_back(MakeRecord(names[i], modDNS::kTypeCNAME, host, ttl, now, true));
    }
    return out;
}

}  // namespace modCacheFile

namespace {

// The file's age in whole seconds at now; 0 when its time cannot be read or lies ahead.
int64_t FileAgeSeconds(const std::filesystem::path& path, double now) {
    std::error_code ec;
    const auto ft = std::filesystem::last_write_time(path, ec);
    if (ec) return 0;
    const auto sys = std::chrono::floor<std::chrono::seconds>(std::chrono::file_clock::to_sys(ft));
    const double modified = kest::UnixToDays(sys.time_since_epoch().count());
    return std::max<int64_t>(
        0, kest::RoundClamp((now - modified) * 86400.0, INT64_MIN / 2, INT64_MAX / 2));
}

}  // namespace

clCacheFiles::clCacheFiles(clDNSCache& cache, clDNSAuthData* zones, const clLeases* leases,
                           const modMain::Settings& settings, const kest::IClock& clock, LogFn log,
                           std::filesystem::path programDir)
    : cache_(cache),
      zones_(zones),
      leases_(leases),
      settings_(settings),
      clock_(clock),
      log_(std::move(log)),
      programDir_(std::move(programDir)) {}

void clCacheFiles::AddLine(int kind, std::string_view text) const {
    if (log_) log_(kind, text);
}

void clCacheFiles::LoadPerm() {
    try {
        cache_.RemovePermanent();
        const bool ownRoot = zones_ && zones_->Ask(".", modDNS::kTypeA, false).AA;
        if (!ownRoot) {
            AddLine(0, "Loading Root DNS server records...");
            LoadFile(RootFile(), true);
        }
    } catch (...) {
        kest::ReportError("clDNSCache LoadPerm");
    }
    LoadHosts();
}

void clCacheFiles::LoadHosts() {
    try {
        if (settings_.Hosts.empty()) return;
        AddLine(0, "Loading hosts file \"" + settings_.Hosts + "\"...");
        const auto text = platform::ReadFile(settings_.Hosts);
        if (!text) {
            AddLine(0, "-> File not found!");
            return;
        }
        const double now = clock_.Now();
        for (const std::string& line : platform::SplitLines(*text)) {
            for (RecordRef& rec : modCacheFile::HostsLineRecords(line, settings_.HostsTTL, now))
                cache_.AddRec(std::move(rec));
        }
    } catch (...) {
        kest::ReportError("clDNSCache LoadPerm");
    }
}

void clCacheFiles::LoadCache() {
    LoadFile(CacheFile(), false);
}

bool clCacheFiles::LoadFile(const std::filesystem::path& path, bool permanent) {
    try {
        const double now = clock_.Now();
        const int64_t age = permanent ? 0 : FileAgeSeconds(path, now);
        const auto text = platform::ReadFile(path);
        if (!text) return false;
        modCacheFile::ReadCacheText(*text, permanent, age, now,
                                    [this](RecordRef rec) { cache_.AddRec(std::move(rec)); });
        return true;
    } catch (...) {
        kest::ReportError("clDNSCache LoadFile");
        return false;
    }
}

bool clCacheFiles::SaveCache(bool snapShot) {
    try {
        const double now = clock_.Now();
        std::vector<std::string> lines;
        if (!snapShot) lines.emplace_back(modCacheFile::kCacheHeader);
        for (std::string& line : modCacheFile::RecordLines(cache_.Records(), snapShot, now))
            lines.push_back(std::move(line));
        if (snapShot && leases_) {
            for (std::string& line : modCacheFile::LeaseLines(*leases_, now))
                lines.push_back(std::move(line));
        }
        platform::WriteFileAtomic(snapShot ? SnapshotFile() : CacheFile(),
                                  platform::JoinCrLf(lines));
        return true;
    } catch (...) {
        kest::ReportError("clDNSCache SaveCache");
        return false;
    }
}
