#pragma once
// The server's settings as held in memory and their file kestrund.ini. One Settings object per
// server, passed to whoever reads it; the members are named after the keys of the file.
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace modMain {

// One "DHCP:" line; the DHCP server builds its interface objects from these.
struct DHCPEntry {
    std::string IPaddr;     // the server's own address on that network
    std::string Domain;     // clients' domain, lower case with a final "."
    std::string ScopeFrom;  // first address handed out
    std::string ScopeTo;    // last address handed out
    std::string Subnet;     // mask handed out
    std::string Gateway;    // "0.0.0.0" means none
    int32_t TTL = 259200;   // lease time in seconds
    bool Enable = true;     // set for every entry read from the file

    bool operator==(const DHCPEntry&) const = default;
};

inline constexpr int32_t kDefaultLeaseTTL = 259200;
inline constexpr int32_t kDefaultDNSPort = 53;

// Members in the order the file is written. Paths (Hosts, MasterDir) keep their case.
struct Settings {
    std::string Name;   // CleanName'd, no final dot
    std::string Hosts;  // hosts file to load into the cache
    int32_t HostsTTL = 3600;
    std::string PrimaryIP;              // default: first local address or 127.0.0.1
    std::string DNSBind;                // empty: all addresses
    int32_t DNSPort = kDefaultDNSPort;  // written only when not 53; outside 1..65535 reads as 53
    bool StartMini = false;
    std::string DNSRecursion = "<all>";
    bool AutoCNAME = false;
    bool NTService = false;
    std::string ServiceName = "kestrund";
    std::string ServiceDesc = "Kestrune";
    bool StartWin = false;
    bool WriteLog = false;
    bool LogDetail = true;
    bool LogInOnly = false;
    bool LogBlock = true;
    int32_t CacheTTL = 0;
    bool CacheReload = false;
    bool SpoofSecure = false;
    int32_t MinTimeOut = 0;
    std::string MasterDir;
    int16_t MasterSync = 1;  // minutes
    bool RecursionOut = false;
    std::vector<std::string> NS;  // forwarders, in order
    int32_t ReloadPort = 0;       // published for the other programs, never read back
    int16_t BombLevel = 0;        // requests per second; 0 turns blocking off
    std::vector<std::string> NoBlock;
    std::vector<DHCPEntry> DHCP;

    bool operator==(const Settings&) const = default;
};

// Every setting to its default; PrimaryIP from the first local address.
void SetDefaults(Settings& s, const std::vector<std::string>& localIPs);

// Applies the lines of a settings text onto s (defaults are not reset here).
void ParseINI(Settings& s, const std::string& text);

// The whole file's content, CR LF line ends, in the file's key order.
std::string FormatINI(const Settings& s);

// Defaults, then the file when it can be read. A missing, unreadable or garbage file leaves the
// defaults in force.
void LoadINI(Settings& s, const std::filesystem::path& file,
             const std::vector<std::string>& localIPs);

// Replaces the file atomically; false (after an error report) when it could not be written.
bool SaveINI(const Settings& s, const std::filesystem::path& file);

}  // namespace modMain
