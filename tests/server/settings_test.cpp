#include "server/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/report.h"
#include "platform/files.h"

namespace fs = std::filesystem;
using modMain::DHCPEntry;
using modMain::Settings;

namespace {

Settings Parsed(const std::string& text, const std::vector<std::string>& ips = {"10.1.1.1"}) {
    Settings s;
    modMain::SetDefaults(s, ips);
    modMain::ParseINI(s, text);
    return s;
}

class TempDir {
  public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "kest-settings-XXXXXX").string();
        path_ = ::mkdtemp(tmpl.data());
    }
    ~TempDir() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

void WriteRaw(const fs::path& p, const std::string& content) {
    std::ofstream(p, std::ios::binary) << content;
}

}  // namespace

TEST(SettingsFormat, DefaultsGiveExactlyTheAlwaysWrittenLinesInOrder) {
    Settings s;
    modMain::SetDefaults(s, {"192.168.1.2", "10.0.0.1"});
    EXPECT_EQ(modMain::FormatINI(s),
              "HostsTTL: 3600 \r\n"
              "PrimaryIP: 192.168.1.2\r\n"
              "DNSRecursion: <all>\r\n"
              "ServiceName: kestrund\r\n"
              "ServiceDesc: Kestrune\r\n"
              "ReloadPort: 0\r\n"
              "BombLevel: 0\r\n");
    modMain::SetDefaults(s, {});
    EXPECT_EQ(s.PrimaryIP, "127.0.0.1");
}

TEST(SettingsFormat, EveryKeyInFileOrderAndBackAgain) {
    Settings s;
    modMain::SetDefaults(s, {});
    s.Name = "ns1.example";
    s.Hosts = "/etc/Hosts";
    s.HostsTTL = 7200;
    s.PrimaryIP = "10.0.0.5";
    s.DNSBind = "10.0.0.5";
    s.DNSPort = 5353;
    s.StartMini = s.AutoCNAME = s.NTService = s.StartWin = s.WriteLog = true;
    s.DNSRecursion = "192.168.1.0";
    s.ServiceName = "kestx";
    s.ServiceDesc = "Kestrune Test";
    s.LogDetail = false;
    s.LogInOnly = true;
    s.LogBlock = false;
    s.CacheTTL = 60;
    s.CacheReload = s.SpoofSecure = s.RecursionOut = true;
    s.MinTimeOut = 3;
    s.MasterDir = "/srv/Master";
    s.MasterSync = 5;
    s.NS = {"1.1.1.1", "2.2.2.2"};
    s.ReloadPort = 40000;
    s.BombLevel = 20;
    s.NoBlock = {"10.0.0.7"};
    s.DHCP = {{"192.168.1.1", "lan.", "192.168.1.100", "192.168.1.200", "255.255.255.0",
               "192.168.1.254", 3600, true}};
    const std::string text = modMain::FormatINI(s);
    EXPECT_EQ(text,
              "Name: ns1.example\r\n"
              "Hosts: /etc/Hosts\r\n"
              "HostsTTL: 7200 \r\n"
              "PrimaryIP: 10.0.0.5\r\n"
              "DNSBind: 10.0.0.5\r\n"
              "DNSPort: 5353\r\n"
              "StartMini: YES\r\n"
              "DNSRecursion: 192.168.1.0\r\n"
              "AutoCNAME: YES\r\n"
              "NTService: YES\r\n"
              "ServiceName: kestx\r\n"
              "ServiceDesc: Kestrune Test\r\n"
              "StartWin: YES\r\n"
              "WriteLog: YES\r\n"
              "LogDetail: NO\r\n"
              "LogInOnly: YES\r\n"
              "LogBlock: NO\r\n"
              "CacheTTL: 60 \r\n"
              "CacheReload: YES\r\n"
              "SpoofSecure: YES\r\n"
              "MinTimeOut: 3 \r\n"
              "MasterDir: /srv/Master\r\n"
              "MasterSync: 5 \r\n"
              "RecursionOut: YES\r\n"
              "NS: 1.1.1.1\r\n"
              "NS: 2.2.2.2\r\n"
              "ReloadPort: 40000\r\n"
              "BombLevel: 20\r\n"
              "NoBlock: 10.0.0.7\r\n"
              "DHCP: 192.168.1.1 lan. 192.168.1.100 192.168.1.200 255.255.255.0 192.168.1.254 "
              "3600 \r\n");

    Settings back = Parsed(text);
    EXPECT_EQ(back.ReloadPort, 0);  // published for the other programs, never read back
    back.ReloadPort = s.ReloadPort;
    EXPECT_EQ(back, s);
}

TEST(SettingsFormat, DHCPLineFillsEmptyDomainAndGateway) {
    Settings s;
    modMain::SetDefaults(s, {});
    s.DHCP = {{"10.0.0.1", "", "10.0.0.10", "10.0.0.20", "255.0.0.0", "", 600, true}};
    const std::string text = modMain::FormatINI(s);
    EXPECT_NE(text.find("\r\nDHCP: 10.0.0.1 . 10.0.0.10 10.0.0.20 255.0.0.0 0.0.0.0 600 \r\n"),
              std::string::npos);
    const Settings back = Parsed(text);
    ASSERT_EQ(back.DHCP.size(), 1u);
    EXPECT_EQ(back.DHCP[0].Domain, ".");
    EXPECT_EQ(back.DHCP[0].Gateway, "0.0.0.0");
    EXPECT_EQ(back.DHCP[0].TTL, 600);
}

TEST(SettingsParse, DNSBindSetsPrimaryWhereverItStands) {
    Settings s = Parsed("PrimaryIP: 10.0.0.9\r\ndnsbind: 10.0.0.5\r\n");
    EXPECT_EQ(s.DNSBind, "10.0.0.5");
    EXPECT_EQ(s.PrimaryIP, "10.0.0.5");

    s = Parsed("DnsBind: 10.0.0.5\nPRIMARYIP: 10.0.0.9\n");
    EXPECT_EQ(s.DNSBind, "10.0.0.5");
    EXPECT_EQ(s.PrimaryIP, "10.0.0.9");

    // All addresses: the same as no binding, and the primary stays.
    s = Parsed("PrimaryIP: 10.0.0.9\nDNSBind: 0.0.0.0\n");
    EXPECT_EQ(s.DNSBind, "");
    EXPECT_EQ(s.PrimaryIP, "10.0.0.9");
    s = Parsed("DNSBind: 10.0.0.5\nDNSBind:\n");
    EXPECT_EQ(s.DNSBind, "");
    EXPECT_EQ(s.PrimaryIP, "10.0.0.5");
    EXPECT_EQ(modMain::FormatINI(Parsed("DNSBind: 0.0.0.0\n")).find("DNSBind"), std::string::npos);
}

TEST(SettingsParse, YesNoTakesTheFirstLetterOnly) {
    for (const char* v : {"yes", "Y", "Yes please", "  yEs  "})
        EXPECT_TRUE(Parsed(std::string("WriteLog: ") + v).WriteLog) << v;
    for (const char* v : {"1", "no", "", "true", "ja"})
        EXPECT_FALSE(Parsed(std::string("WriteLog: ") + v).WriteLog) << v;
    EXPECT_FALSE(Parsed("LogDetail: no").LogDetail);
    EXPECT_FALSE(Parsed("LogBlock: 1").LogBlock);
    EXPECT_TRUE(Parsed("").LogDetail);
}

TEST(SettingsParse, TextValuesAreCleanedPerKey) {
    EXPECT_EQ(Parsed("ServiceName: My DNS/Server").ServiceName, "mydnsserver");
    EXPECT_EQ(Parsed("ServiceName: Back\\Slash").ServiceName, "backslash");
    // A unit must have a name.
    EXPECT_EQ(Parsed("ServiceName: / \\").ServiceName, "kestrund");
    EXPECT_EQ(Parsed("ServiceDesc: My Own DNS").ServiceDesc, "My Own DNS");
    EXPECT_EQ(Parsed("Name: .NS1.Example.com.").Name, "ns1.example.com");
    EXPECT_EQ(Parsed("DNSRecursion: <ALL>").DNSRecursion, "<all>");
    // Paths keep their case; a colon inside the value stays.
    EXPECT_EQ(Parsed("Hosts: /Data/Hosts:1").Hosts, "/Data/Hosts:1");
    EXPECT_EQ(Parsed("MasterDir: /srv/Zones").MasterDir, "/srv/Zones");
    EXPECT_EQ(Parsed("NS: 001.002.003.004\nNS:\nNS: 9.9.9.9").NS,
              (std::vector<std::string>{"1.2.3.4", "0.0.0.0", "9.9.9.9"}));
    EXPECT_EQ(Parsed("PrimaryIP: junk").PrimaryIP, "0.0.0.0");
}

TEST(SettingsParse, NumbersReadTheLeadingPartAndClampToTheirWidth) {
    EXPECT_EQ(Parsed("BombLevel: abc").BombLevel, 0);
    EXPECT_EQ(Parsed("BombLevel: 25 per second").BombLevel, 25);
    EXPECT_EQ(Parsed("BombLevel: 99999").BombLevel, 32767);
    EXPECT_EQ(Parsed("HostsTTL:  7200 ").HostsTTL, 7200);
    EXPECT_EQ(Parsed("HostsTTL: 99999999999").HostsTTL, INT32_MAX);
    EXPECT_EQ(Parsed("MasterSync: 2.6").MasterSync, 3);
    EXPECT_EQ(Parsed("CacheTTL: -5").CacheTTL, -5);
    EXPECT_EQ(modMain::FormatINI(Parsed("CacheTTL: -5")).find("CacheTTL"), std::string::npos);
    EXPECT_EQ(Parsed("DNSPort: 5353").DNSPort, 5353);
    for (const char* v : {"abc", "0", "70000", "-53"})
        EXPECT_EQ(Parsed(std::string("DNSPort: ") + v).DNSPort, 53) << v;
}

TEST(SettingsParse, DHCPLineTokensAndLeaseDefault) {
    const Settings s = Parsed(
        "DHCP:   192.168.001.1  LAN.Example 192.168.1.100 192.168.1.200 255.255.255.0 "
        "192.168.1.254\n"
        "DHCP: 10.0.0.1 . 10.0.0.10 10.0.0.20 255.0.0.0 0.0.0.0 0\n"
        "DHCP: 10.0.1.1 x 10.0.1.10 10.0.1.20 255.0.0.0 0.0.0.0 1800 trailing\n");
    ASSERT_EQ(s.DHCP.size(), 3u);
    EXPECT_EQ(s.DHCP[0], (DHCPEntry{"192.168.1.1", "lan.example.", "192.168.1.100", "192.168.1.200",
                                    "255.255.255.0", "192.168.1.254", 259200, true}));
    EXPECT_EQ(s.DHCP[1].Domain, ".");
    EXPECT_EQ(s.DHCP[1].TTL, 259200);
    EXPECT_EQ(s.DHCP[2].TTL, 1800);
    // A short line still gives an entry, its missing addresses as 0.0.0.0.
    const Settings shortLine = Parsed("DHCP: 10.0.0.1");
    ASSERT_EQ(shortLine.DHCP.size(), 1u);
    EXPECT_EQ(shortLine.DHCP[0].ScopeTo, "0.0.0.0");
    EXPECT_TRUE(shortLine.DHCP[0].Enable);
}

TEST(SettingsParse, RepeatsAndStrayLines) {
    const Settings s = Parsed(
        "just a comment line\n\n  name  :  first\nName: second\nNoBlock: 1.2.3.4\n"
        "NOBLOCK: 5.6.7.8\nUnknown: 17\n:\n");
    EXPECT_EQ(s.Name, "second");
    EXPECT_EQ(s.NoBlock, (std::vector<std::string>{"1.2.3.4", "5.6.7.8"}));
    Settings defaults;
    modMain::SetDefaults(defaults, {"10.1.1.1"});
    defaults.Name = "second";
    defaults.NoBlock = s.NoBlock;
    EXPECT_EQ(s, defaults);
}

TEST(SettingsFile, MissingUnreadableAndGarbageFilesGiveTheDefaults) {
    TempDir dir;
    Settings defaults;
    modMain::SetDefaults(defaults, {"10.1.1.1"});

    Settings s;
    s.Name = "stale";
    modMain::LoadINI(s, dir.path() / "kestrund.ini", {"10.1.1.1"});
    EXPECT_EQ(s, defaults);

    // A folder in place of the file cannot be read.
    fs::create_directory(dir.path() / "folder.ini");
    s.Name = "stale";
    modMain::LoadINI(s, dir.path() / "folder.ini", {"10.1.1.1"});
    EXPECT_EQ(s, defaults);

    std::string garbage;
    for (int i = 0; i < 4096; ++i) {
        const char c = static_cast<char>((i * 37 + 11) % 256);
        garbage += c == ':' ? '\0' : c;
    }
    WriteRaw(dir.path() / "garbage.ini", garbage);
    modMain::LoadINI(s, dir.path() / "garbage.ini", {"10.1.1.1"});
    EXPECT_EQ(s, defaults);
}

TEST(SettingsFile, SaveReplacesTheFileAndLoadReadsItBack) {
    TempDir dir;
    const fs::path file = dir.path() / "kestrund.ini";
    WriteRaw(file, "Name: old\nthis is much longer than what replaces it ..................\n");
    Settings s;
    modMain::SetDefaults(s, {"10.1.1.1"});
    s.Name = "fresh";
    s.WriteLog = true;
    s.NS = {"8.8.4.4"};
    ASSERT_TRUE(modMain::SaveINI(s, file));
    EXPECT_EQ(platform::ReadFile(file).value(), modMain::FormatINI(s));
    EXPECT_EQ(platform::ListFiles(dir.path()).size(), 1u);  // no temporary left behind

    Settings back;
    modMain::LoadINI(back, file, {"172.16.0.1"});
    EXPECT_EQ(back, s);
}

TEST(SettingsFile, SaveThatCannotWriteReportsAndLeavesWhatWasThere) {
    TempDir dir;
    std::vector<std::string> reports;
    auto previous = kest::SetErrorSink(
        [&](const std::string& where, const std::string&, const kest::RunError& e) {
            reports.push_back(where + (e.number > 0 ? " numbered" : " unnumbered"));
        });
    Settings s;
    modMain::SetDefaults(s, {});
    EXPECT_FALSE(modMain::SaveINI(s, dir.path() / "no-such-folder" / "kestrund.ini"));
    // A non-empty folder where the file should be cannot be renamed over, even by root.
    fs::create_directories(dir.path() / "kestrund.ini" / "inside");
    EXPECT_FALSE(modMain::SaveINI(s, dir.path() / "kestrund.ini"));
    kest::SetErrorSink(previous);
    EXPECT_EQ(reports,
              (std::vector<std::string>{"modMain SaveINI numbered", "modMain SaveINI numbered"}));
    EXPECT_TRUE(fs::is_directory(dir.path() / "kestrund.ini" / "inside"));
    EXPECT_EQ(platform::ListFiles(dir.path()).size(), 0u);  // no temporary left behind
}
