#include "server/dhcp/clLease.h"

#include <algorithm>
#include <utility>

#include "core/datetime.h"
#include "core/modDNS.h"
#include "core/modIP.h"
#include "core/report.h"
#include "platform/files.h"

namespace {

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

// Takes the field before the first blank off the front of rest; rest keeps everything after
// that one blank, untrimmed. False when rest is empty.
bool TakeField(std::string_view& rest, std::string_view& field) {
    if (rest.empty()) return false;
    const size_t blank = rest.find(' ');
    if (blank == std::string_view::npos) {
        field = rest;
        rest = {};
    } else {
        field = rest.substr(0, blank);
        rest = rest.substr(blank + 1);
    }
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The UTC moment whose local wall-clock value is local (the clock only converts the other way).
double FromLocal(double local, const kest::IClock& clock) {
    double utc = local - (clock.ToLocal(local) - local);
    utc = local - (clock.ToLocal(utc) - utc);
    return kest::UnixToDays(kest::DaysToUnix(utc));
}

std::optional<double> ReadExpiry(std::string_view text, const kest::IClock& clock) {
    if (text.empty()) return std::nullopt;
    const auto local = kest::ParseDateTime(std::string(text));
    if (!local) return std::nullopt;
    return FromLocal(*local, clock);
}

}  // namespace

namespace modDHCP {

std::string HWToHex(std::string_view bytes) {
    try {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        std::string out;
        out.reserve(bytes.size() * 2);
        for (char c : bytes) {
            const auto b = static_cast<unsigned char>(c);
            out += kDigits[b >> 4];
            out += kDigits[b & 15];
        }
        return out;
    } catch (...) {
        kest::ReportError("modDHCP HWToHex");
        return {};
    }
}

std::string HexToHW(std::string_view text) {
    try {
        std::string out;
        out.reserve(text.size() / 2);
        for (size_t i = 0; i + 1 < text.size(); i += 2) {
            int value = 0;
            for (size_t j = i; j < i + 2; ++j) {
                const int d = HexDigit(text[j]);
                if (d < 0) break;
                value = value * 16 + d;
            }
            out += static_cast<char>(value);
        }
        return out;
    } catch (...) {
        kest::ReportError("modHDCP HexToHW");
        return {};
    }
}

std::string LeaseLine(const clLease& lease, const kest::IClock& clock) {
    return lease.ClientName + " " + lease.IPaddr + " " + HWToHex(lease.ClientID) + " " +
           HWToHex(lease.HWAddr) + " " + kest::FormatDateTime(clock.ToLocal(lease.Expires));
}

std::optional<clLease> ParseLeaseLine(std::string_view line, const kest::IClock& clock) {
    std::string text(line.substr(0, line.find(';')));
    std::replace(text.begin(), text.end(), '\t', ' ');
    std::string_view rest = TrimBlanks(text);
    std::string_view name, ip, third;
    if (!TakeField(rest, name)) return std::nullopt;
    rest = TrimBlanks(rest);
    if (!TakeField(rest, ip)) return std::nullopt;

    clLease lease;
    lease.ClientName = modDNS::CleanNameF(name) + ".";
    lease.IPaddr = modIP::CleanIP(ip);

    // The writer puts exactly one blank between fields, so a second blank here is the empty
    // client identifier of a client that sent none: keep it empty rather than shifting the
    // hardware address into its place.
    if (!rest.empty() && rest.front() == ' ') {
        rest = TrimBlanks(rest);
        if (auto expires = ReadExpiry(rest, clock)) {
            lease.Expires = *expires;
            return lease;
        }
        std::string_view afterHW = rest;
        std::string_view hw;
        if (TakeField(afterHW, hw)) {
            if (auto expires = ReadExpiry(TrimBlanks(afterHW), clock)) {
                lease.HWAddr = HexToHW(hw);
                lease.Expires = *expires;
                return lease;
            }
        }
        // Not our own layout: read it as the general form below.
    }

    rest = TrimBlanks(rest);
    if (!TakeField(rest, third)) return std::nullopt;
    lease.ClientID = HexToHW(third);
    rest = TrimBlanks(rest);
    if (rest.empty()) return std::nullopt;
    if (auto expires = ReadExpiry(rest, clock)) {  // older form without hardware address
        lease.Expires = *expires;
        return lease;
    }
    std::string_view hw;
    if (!TakeField(rest, hw)) return std::nullopt;
    auto expires = ReadExpiry(TrimBlanks(rest), clock);
    if (!expires) return std::nullopt;
    lease.HWAddr = HexToHW(hw);
    lease.Expires = *expires;
    return lease;
}

}  // namespace modDHCP

clLeases::clLeases(const modMain::Settings& settings, const kest::IClock& clock,
                   std::filesystem::path programDir)
    : settings_(settings), clock_(clock), file_(std::move(programDir) / modDHCP::kLeaseFileName) {}

void clLeases::Touched() {
    changed_ = true;
    if (observer_) observer_();
}

void clLeases::Append(clLease lease) {
    leases_.push_back(std::move(lease));
    Touched();
}

bool clLeases::SameClient(const clLease& lease, std::string_view clientID,
                          std::string_view hwAddr) {
    if (!clientID.empty()) return lease.ClientID == clientID;
    return !hwAddr.empty() && lease.ClientID.empty() && lease.HWAddr == hwAddr;
}

bool clLeases::RemoveFirstClientID(std::string_view clientID, std::string_view hwAddr) {
    auto it = std::find_if(leases_.begin(), leases_.end(),
                           [&](const clLease& l) { return SameClient(l, clientID, hwAddr); });
    if (it == leases_.end()) return false;
    leases_.erase(it);
    Touched();
    return true;
}

void clLeases::RemoveAddress(std::string_view address) {
    const auto n = std::erase_if(leases_, [&](const clLease& l) { return l.IPaddr == address; });
    if (n > 0) Touched();
}

void clLeases::Clear() {
    if (leases_.empty()) return;
    leases_.clear();
    Touched();
}

bool clLeases::ValidAddress(const clDHCPif& f, std::string_view address, bool lenient) const {
    try {
        if (address.empty() || address == "0.0.0.0") return false;
        if (address == f.IPaddr) return false;
        const std::string bits = modIP::IPToBin(address);
        if (bits < modIP::IPToBin(f.ScopeFrom) || bits > modIP::IPToBin(f.ScopeTo)) return false;
        const double now = clock_.Now();
        for (const clLease& l : leases_)
            if (l.IPaddr == address && (l.ValidAt(now) || !lenient)) return false;
        return true;
    } catch (...) {
        kest::ReportError("modDHCP ValidLease");
        return false;
    }
}

bool clLeases::ValidLease(const clDHCPif& f, std::string_view address, std::string_view name,
                          bool lenient) const {
    try {
        if (!ValidAddress(f, address, lenient)) return false;
        if (name == settings_.Name + ".") return false;
        const double now = clock_.Now();
        for (const clLease& l : leases_)
            if (l.ClientName == name && (lenient || l.ValidAt(now))) return false;
        return true;
    } catch (...) {
        kest::ReportError("modDHCP ValidLease");
        return false;
    }
}

void clLeases::Remove(std::string_view address, std::string_view name) {
    try {
        const auto n = std::erase_if(
            leases_, [&](const clLease& l) { return l.IPaddr == address || l.ClientName == name; });
        if (n > 0) Touched();
    } catch (...) {
        kest::ReportError("modDHCP Remove");
    }
}

void clLeases::Release(std::string_view clientID, std::string_view hwAddr) {
    try {
        // Matching the empty identifier alone could expire another client's lease and hand out
        // an address still in use.
        for (clLease& l : leases_) {
            if (SameClient(l, clientID, hwAddr)) {
                l.Expires = clock_.Now();
                Touched();
                return;
            }
        }
    } catch (...) {
        kest::ReportError("modDHCP Release");
    }
}

bool clLeases::SaveLeases() {
    try {
        std::vector<std::string> lines;
        lines.reserve(leases_.size() + 1);
        lines.emplace_back(modDHCP::kLeaseFileHeader);
        for (const clLease& l : leases_) lines.push_back(modDHCP::LeaseLine(l, clock_));
        platform::WriteFileAtomic(file_, platform::JoinCrLf(lines));
        changed_ = false;
        saveFailed_ = false;
        return true;
    } catch (...) {
        saveFailed_ = true;
        failedAtMs_ = clock_.MonotonicMs();
        kest::ReportError("modDHCP SaveLeases");
        return false;
    }
}

bool clLeases::SaveIfChanged() {
    if (!changed_) return true;
    if (saveFailed_ && clock_.MonotonicMs() - failedAtMs_ < kRetryMs) return false;
    return SaveLeases();
}

void clLeases::Load() {
    try {
        leases_.clear();
        changed_ = false;
        const auto text = platform::ReadFile(file_);
        if (text) {
            for (const std::string& line : platform::SplitLines(*text)) {
                if (auto lease = modDHCP::ParseLeaseLine(line, clock_))
                    leases_.push_back(std::move(*lease));
            }
        }
    } catch (...) {
        kest::ReportError("modDHCP Load");
    }
    if (observer_) observer_();
}

std::vector<const clLease*> clLeases::ValidByName(std::string_view name) const {
    std::vector<const clLease*> out;
    const double now = clock_.Now();
    for (const clLease& l : leases_)
        if (l.ClientName == name && l.ValidAt(now)) out.push_back(&l);
    return out;
}

std::vector<const clLease*> clLeases::ValidByAddress(std::string_view address) const {
    std::vector<const clLease*> out;
    const double now = clock_.Now();
    for (const clLease& l : leases_)
        if (l.IPaddr == address && l.ValidAt(now)) out.push_back(&l);
    return out;
}
