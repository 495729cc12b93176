#include "server/settings.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "core/modDNS.h"
#include "core/modIP.h"
#include "core/numtext.h"
#include "core/report.h"
#include "platform/files.h"

namespace modMain {
namespace {

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool YesNo(const std::string& value) {
    return !value.empty() && std::toupper(static_cast<unsigned char>(value[0])) == 'Y';
}

// An empty or unreadable address reads as 0.0.0.0.
std::string Address(const std::string& value) {
    return modIP::CleanIP(value);
}

// A number as written after a key: a blank in front of non-negative values.
std::string Str(int64_t n) {
    return n >= 0 ? " " + std::to_string(n) : std::to_string(n);
}

std::string CleanServiceName(const std::string& value) {
    std::string out;
    for (char c : value)
        if (c != ' ' && c != '\t' && c != '/' && c != '\\') out += c;
    out = Lower(out);
    // A unit needs a name; an empty one would make the service impossible to install or remove.
    return out.empty() ? Settings{}.ServiceName : out;
}

std::vector<std::string> Tokens(const std::string& value) {
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < value.size()) {
        while (pos < value.size() && (value[pos] == ' ' || value[pos] == '\t')) ++pos;
        if (pos >= value.size()) break;
        size_t end = pos;
        while (end < value.size() && value[end] != ' ' && value[end] != '\t') ++end;
        out.push_back(value.substr(pos, end - pos));
        pos = end;
    }
    return out;
}

DHCPEntry ParseDHCP(const std::string& value) {
    const std::vector<std::string> t = Tokens(value);
    auto at = [&](size_t i) { return i < t.size() ? t[i] : std::string(); };
    DHCPEntry d;
    d.IPaddr = Address(at(0));
    d.Domain = modDNS::CleanName(at(1)) + ".";
    d.ScopeFrom = Address(at(2));
    d.ScopeTo = Address(at(3));
    // The scope is walked upwards: a reversed one is turned round.
    if (modIP::IPToBin(d.ScopeFrom) > modIP::IPToBin(d.ScopeTo)) std::swap(d.ScopeFrom, d.ScopeTo);
    d.Subnet = Address(at(4));
    d.Gateway = Address(at(5));
    d.TTL = kest::LeadingInt32(at(6));
    // A lease time of 0 or less would hand out leases that are already over.
    if (d.TTL <= 0) d.TTL = kDefaultLeaseTTL;
    d.Enable = true;
    return d;
}

void ApplyLine(Settings& s, const std::string& line) {
    const size_t colon = line.find(':');
    const std::string key = Upper(Trim(line.substr(0, colon)));
    const std::string value =
        colon == std::string::npos ? std::string() : Trim(line.substr(colon + 1));

    if (key == "NAME") {
        s.Name = modDNS::CleanName(value);
    } else if (key == "HOSTS") {
        s.Hosts = value;
    } else if (key == "HOSTSTTL") {
        s.HostsTTL = kest::LeadingInt32(value);
    } else if (key == "PRIMARYIP") {
        s.PrimaryIP = Address(value);
    } else if (key == "DNSBIND") {
        // 0.0.0.0 is all addresses, the same as no binding; it must not become the primary.
        const std::string ip = Address(value);
        if (ip == "0.0.0.0") {
            s.DNSBind.clear();
        } else {
            s.DNSBind = ip;
            s.PrimaryIP = ip;
        }
    } else if (key == "DNSPORT") {
        const int64_t port = kest::LeadingInteger(value, INT32_MIN, INT32_MAX);
        s.DNSPort = port >= 1 && port <= 65535 ? static_cast<int32_t>(port) : kDefaultDNSPort;
    } else if (key == "STARTMINI") {
        s.StartMini = YesNo(value);
    } else if (key == "DNSRECURSION") {
        s.DNSRecursion = Lower(value);
    } else if (key == "AUTOCNAME") {
        s.AutoCNAME = YesNo(value);
    } else if (key == "NTSERVICE") {
        s.NTService = YesNo(value);
    } else if (key == "SERVICENAME") {
        s.ServiceName = CleanServiceName(value);
    } else if (key == "SERVICEDESC") {
        s.ServiceDesc = value;
    } else if (key == "STARTWIN") {
        s.StartWin = YesNo(value);
    } else if (key == "WRITELOG") {
        s.WriteLog = YesNo(value);
    } else if (key == "LOGDETAIL") {
        s.LogDetail = YesNo(value);
    } else if (key == "LOGINONLY") {
        s.LogInOnly = YesNo(value);
    } else if (key == "LOGBLOCK") {
        s.LogBlock = YesNo(value);
    } else if (key == "CACHETTL") {
        s.CacheTTL = kest::LeadingInt32(value);
    } else if (key == "CACHERELOAD") {
        s.CacheReload = YesNo(value);
    } else if (key == "SPOOFSECURE") {
        s.SpoofSecure = YesNo(value);
    } else if (key == "MINTIMEOUT") {
        s.MinTimeOut = kest::LeadingInt32(value);
    } else if (key == "MASTERDIR") {
        s.MasterDir = value;
    } else if (key == "MASTERSYNC") {
        s.MasterSync = kest::LeadingInt16(value);
    } else if (key == "RECURSIONOUT") {
        s.RecursionOut = YesNo(value);
    } else if (key == "NS") {
        s.NS.push_back(Address(value));
    } else if (key == "BOMBLEVEL") {
        s.BombLevel = kest::LeadingInt16(value);
    } else if (key == "NOBLOCK") {
        s.NoBlock.push_back(Address(value));
    } else if (key == "DHCP") {
        s.DHCP.push_back(ParseDHCP(value));
    }
    // RELOADPORT is written for the other programs only; the server takes its port from the
    // socket it binds.
}

}  // namespace

void SetDefaults(Settings& s, const std::vector<std::string>& localIPs) {
    s = Settings{};
    s.PrimaryIP = localIPs.empty() ? "127.0.0.1" : localIPs.front();
}

void ParseINI(Settings& s, const std::string& text) {
    for (const std::string& line : platform::SplitLines(text)) ApplyLine(s, line);
}

std::string FormatINI(const Settings& s) {
    std::vector<std::string> out;
    auto text = [&](const char* key, const std::string& v) {
        if (!v.empty()) out.push_back(key + v);
    };
    auto flag = [&](bool set, const char* line) {
        if (set) out.emplace_back(line);
    };
    text("Name: ", s.Name);
    text("Hosts: ", s.Hosts);
    out.push_back("HostsTTL:" + Str(s.HostsTTL) + " ");
    text("PrimaryIP: ", s.PrimaryIP);
    text("DNSBind: ", s.DNSBind);
    if (s.DNSPort != kDefaultDNSPort) out.push_back("DNSPort:" + Str(s.DNSPort));
    flag(s.StartMini, "StartMini: YES");
    text("DNSRecursion: ", s.DNSRecursion);
    flag(s.AutoCNAME, "AutoCNAME: YES");
    flag(s.NTService, "NTService: YES");
    out.push_back("ServiceName: " + s.ServiceName);
    out.push_back("ServiceDesc: " + s.ServiceDesc);
    flag(s.StartWin, "StartWin: YES");
    flag(s.WriteLog, "WriteLog: YES");
    flag(!s.LogDetail, "LogDetail: NO");
    flag(s.LogInOnly, "LogInOnly: YES");
    flag(!s.LogBlock, "LogBlock: NO");
    if (s.CacheTTL > 0) out.push_back("CacheTTL:" + Str(s.CacheTTL) + " ");
    flag(s.CacheReload, "CacheReload: YES");
    flag(s.SpoofSecure, "SpoofSecure: YES");
    if (s.MinTimeOut > 0) out.push_back("MinTimeOut:" + Str(s.MinTimeOut) + " ");
    text("MasterDir: ", s.MasterDir);
    if (!s.MasterDir.empty()) out.push_back("MasterSync:" + Str(s.MasterSync) + " ");
    flag(s.RecursionOut, "RecursionOut: YES");
    for (const std::string& ns : s.NS) out.push_back("NS: " + ns);
    out.push_back("ReloadPort:" + Str(s.ReloadPort));
    out.push_back("BombLevel:" + Str(s.BombLevel));
    for (const std::string& ip : s.NoBlock) out.push_back("NoBlock: " + ip);
    for (const DHCPEntry& d : s.DHCP) {
        out.push_back("DHCP: " + d.IPaddr + " " + (d.Domain.empty() ? "." : d.Domain) + " " +
                      d.ScopeFrom + " " + d.ScopeTo + " " + d.Subnet + " " +
                      (d.Gateway.empty() ? "0.0.0.0" : d.Gateway) + Str(d.TTL) + " ");
    }
    return platform::JoinCrLf(out);
}

void LoadINI(Settings& s, const std::filesystem::path& file,
             const std::vector<std::string>& localIPs) {
    SetDefaults(s, localIPs);
    try {
        const std::optional<std::string> text = platform::ReadFile(file);
        if (!text) return;
        ParseINI(s, *text);
    } catch (...) {
        kest::ReportError("modMain LoadINI");
    }
}

bool SaveINI(const Settings& s, const std::filesystem::path& file) {
    try {
        platform::WriteFileAtomic(file, FormatINI(s));
        return true;
    } catch (...) {
        kest::ReportError("modMain SaveINI");
        return false;
    }
}

}  // namespace modMain
