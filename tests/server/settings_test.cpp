#include "server/settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/report.h"
#include "platform/files.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using kest::test::TempDir;
using modMain::DHCPEntry;
using modMain::Settings;

namespace {

Settings Defaults(const std::vector<std::string>& ips = {"10.1.1.1"}) {
    Settings s;
    modMain::SetDefaults(s, ips);
    return s;
}

Settings Parsed(const std::string& text) {
    Settings s = Defaults();
    modMain::ParseINI(s, text);
    return s;
}

}  // namespace

TEST(SettingsFormat, DefaultsGiveExactlyTheAlwaysWrittenLinesInOrder) {
    EXPECT_EQ(
        modMain::FormatINI(Defaults({"192.168.1.2", "10.0.0.1"})),
        "HostsTTL: 3600 \r\nPrimaryIP: 192.168.1.2\r\nDNSRecursion: <all>\r\n"
        "ServiceName: kestrund\r\nServiceDesc: Kestrune\r\nReloadPort: 0\r\nBombLevel: 0\r\n");
    EXPECT_EQ(Defaults({}).PrimaryIP, "127.0.0.1");
}

TEST(SettingsFormat, EveryKeyInFileOrderAndBackAgain) {
    Settings s = Defaults({});
    s.Name = "ns1.example";
    s.Hosts = "/etc/Hosts";
    s.HostsTTL = 7200;
    s.PrimaryIP = s.DNSBind = "10.0.0.5";
    s.DNSPort = 5353;
    s.StartMini = s.AutoCNAME = s.NTService = s.StartWin = s.WriteLog = true;
    s.DNSRecursion = "192.168.1.0";
    s.ServiceName = "kestx";
    s.ServiceDesc = "Kestrune Test";
    s.LogDetail = s.LogBlock = false;
    s.LogInOnly = s.CacheReload = s.SpoofSecure = s.RecursionOut = true;
    s.CacheTTL = 60;
    s.MinTimeOut = 3;
    s.MasterDir = "/srv/Master";
    s.MasterSync = 5;
    s.NS = {"1.1.1.1", "2.2.2.2"};
    s.ReloadPort = 40000;
    s.BombLevel = 20;
    s.NoBlock = {"10.0.0.7"};
    s.DHCP = {{"192.168.1.1", "lan.", "192.168.1.100", "192.168.1.200", "255.255.255.0",
               "192.168.1.254", 3600, true},
              {"10.0.0.1", "", "10.0.0.10", "10.0.0.20", "255.0.0.0", "", 600, true}};
    const std::string text = modMain::FormatINI(s);
    EXPECT_EQ(text,
              "Name: ns1.example\r\nHosts: /etc/Hosts\r\nHostsTTL: 7200 \r\n"
              "PrimaryIP: 10.0.0.5\r\nDNSBind: 10.0.0.5\r\nDNSPort: 5353\r\nStartMini: YES\r\n"
              "DNSRecursion: 192.168.1.0\r\nAutoCNAME: YES\r\nNTService: YES\r\n"
              "ServiceName: kestx\r\nServiceDesc: Kestrune Test\r\nStartWin: YES\r\n"
              "WriteLog: YES\r\nLogDetail: NO\r\nLogInOnly: YES\r\nLogBlock: NO\r\n"
              "CacheTTL: 60 \r\nCacheReload: YES\r\nSpoofSecure: YES\r\nMinTimeOut: 3 \r\n"
              "MasterDir: /srv/Master\r\nMasterSync: 5 \r\nRecursionOut: YES\r\n"
              "NS: 1.1.1.1\r\nNS: 2.2.2.2\r\nReloadPort: 40000\r\nBombLevel: 20\r\n"
              "NoBlock: 10.0.0.7\r\n"
              "DHCP: 192.168.1.1 lan. 192.168.1.100 192.168.1.200 255.255.255.0 192.168.1.254 "
              "3600 \r\n"
              "DHCP: 10.0.0.1 . 10.0.0.10 10.0.0.20 255.0.0.0 0.0.0.0 600 \r\n");

    Settings back = Parsed(text);
    EXPECT_EQ(back.ReloadPort, 0);  // published for the other programs, never read back
    back.ReloadPort = s.ReloadPort;
    s.DHCP[1].Domain = ".";
    s.DHCP[1].Gateway = "0.0.0.0";
    EXPECT_EQ(back, s);
}

TEST(SettingsParse, DNSBindSetsPrimaryWhereverItStands) {
    Settings s = Parsed("PrimaryIP: 10.0.0.9\r\ndnsbind: 10.0.0.5\r\n");
    EXPECT_EQ(s.DNSBind + " " + s.PrimaryIP, "10.0.0.5 10.0.0.5");
    s = Parsed("DnsBind: 10.0.0.5\nPRIMARYIP: 10.0.0.9\n");
    EXPECT_EQ(s.DNSBind + " " + s.PrimaryIP, "10.0.0.5 10.0.0.9");
    // All addresses: the same as no binding, and the primary stays.
    s = Parsed("PrimaryIP: 10.0.0.9\nDNSBind: 0.0.0.0\n");
    EXPECT_EQ(s.DNSBind + " " + s.PrimaryIP, " 10.0.0.9");
    s = Parsed("DNSBind: 10.0.0.5\nDNSBind:\n");
    EXPECT_EQ(s.DNSBind + " " + s.PrimaryIP, " 10.0.0.5");
}

TEST(SettingsParse, ValuesFollowTheirKeysRules) {
    for (const char* v : {"yes", "Y", "Yes please", "  yEs  "})
        EXPECT_TRUE(Parsed(std::string("WriteLog: ") + v).WriteLog) << v;
    for (const char* v : {"1", "no", "", "true"})
        EXPECT_FALSE(Parsed(std::string("WriteLog: ") + v).WriteLog) << v;
    EXPECT_FALSE(Parsed("LogDetail: no").LogDetail);

    EXPECT_EQ(Parsed("ServiceName: My DNS/Server").ServiceName, "mydnsserver");
    EXPECT_EQ(Parsed("ServiceName: Back\\Slash").ServiceName, "backslash");
    EXPECT_EQ(Parsed("ServiceName: / \\").ServiceName, "kestrund");  // a unit needs a name
    EXPECT_EQ(Parsed("ServiceDesc: My Own DNS").ServiceDesc, "My Own DNS");
    EXPECT_EQ(Parsed("Name: .NS1.Example.com.").Name, "ns1.example.com");
    EXPECT_EQ(Parsed("DNSRecursion: <ALL>").DNSRecursion, "<all>");
    // Paths keep their case; a colon inside the value stays.
    EXPECT_EQ(Parsed("Hosts: /Data/Hosts:1").Hosts, "/Data/Hosts:1");
    EXPECT_EQ(Parsed("NS: 001.002.003.004\nNS:\nNS: 9.9.9.9").NS,
              (std::vector<std::string>{"1.2.3.4", "0.0.0.0", "9.9.9.9"}));

    EXPECT_EQ(Parsed("BombLevel: abc").BombLevel, 0);
    EXPECT_EQ(Parsed("BombLevel: 25 per second").BombLevel, 25);
    EXPECT_EQ(Parsed("BombLevel: 99999").BombLevel, 32767);
    EXPECT_EQ(Parsed("HostsTTL: 99999999999").HostsTTL, INT32_MAX);
    EXPECT_EQ(Parsed("MasterSync: 2.6").MasterSync, 3);
    EXPECT_EQ(modMain::FormatINI(Parsed("CacheTTL: -5")).find("CacheTTL"), std::string::npos);
    EXPECT_EQ(Parsed("DNSPort: 5353").DNSPort, 5353);
    for (const char* v : {"abc", "0", "70000"})
        EXPECT_EQ(Parsed(std::string("DNSPort: ") + v).DNSPort, 53) << v;
}

TEST(SettingsParse, DHCPLines) {
    const Settings s = Parsed(
        "DHCP:   192.168.001.1  LAN.Example 192.168.1.100 192.168.1.200 255.255.255.0 "
        "192.168.1.254\n"
        "DHCP: 10.0.0.1 . 10.0.0.10 10.0.0.20 255.0.0.0 0.0.0.0 0\n"
        "DHCP: 10.0.1.1 x 10.0.1.10 10.0.1.20 255.0.0.0 0.0.0.0 1800 trailing\n"
        "DHCP: 10.0.2.1\n");
    ASSERT_EQ(s.DHCP.size(), 4u);
    EXPECT_EQ(s.DHCP[0], (DHCPEntry{"192.168.1.1", "lan.example.", "192.168.1.100", "192.168.1.200",
                                    "255.255.255.0", "192.168.1.254", 259200, true}));
    EXPECT_EQ(s.DHCP[1].Domain, ".");
    EXPECT_EQ(s.DHCP[1].TTL, 259200);
    EXPECT_EQ(s.DHCP[2].TTL, 1800);
    EXPECT_EQ(s.DHCP[3].ScopeTo, "0.0.0.0");
}

TEST(SettingsParse, RepeatsAndStrayLines) {
    const Settings s = Parsed(
        "a comment line\n\n  name  :  first\nName: second\nNoBlock: 1.2.3.4\n"
        "NOBLOCK: 5.6.7.8\nUnknown: 17\n:\n");
    Settings expected = Defaults();
    expected.Name = "second";
    expected.NoBlock = {"1.2.3.4", "5.6.7.8"};
    EXPECT_EQ(s, expected);
}

TEST(SettingsFile, MissingUnreadableAndGarbageFilesGiveTheDefaults) {
    TempDir dir;
    fs::create_directory(dir.path() / "folder.ini");
    std::string garbage;
    for (int i = 0; i < 4096; ++i) {
        const char c = static_cast<char>((i * 37 + 11) % 256);
        garbage += c == ':' ? '\0' : c;
    }
    std::ofstream(dir.path() / "garbage.ini", std::ios::binary) << garbage;
    for (const char* name : {"missing.ini", "folder.ini", "garbage.ini"}) {
        Settings s;
        s.Name = "stale";
        modMain::LoadINI(s, dir.path() / name, {"10.1.1.1"});
        EXPECT_EQ(s, Defaults()) << name;
    }
}

TEST(SettingsFile, SaveReplacesTheFileOrReportsWhyNot) {
    TempDir dir;
    const fs::path file = dir.path() / "kestrund.ini";
    std::ofstream(file) << "Name: old\nmuch longer than what replaces it .......................\n";
    Settings s = Defaults();
    s.Name = "fresh";
    s.NS = {"8.8.4.4"};
    ASSERT_TRUE(modMain::SaveINI(s, file));
    EXPECT_EQ(platform::ReadFile(file).value(), modMain::FormatINI(s));
    EXPECT_EQ(platform::ListFiles(dir.path()).size(), 1u);  // no temporary left behind
    Settings back;
    modMain::LoadINI(back, file, {"172.16.0.1"});
    EXPECT_EQ(back, s);

    std::vector<std::string> reports;
    auto previous = kest::SetErrorSink(
        [&](const std::string& where, const std::string&, const kest::RunError& e) {
            reports.push_back(where + (e.number > 0 ? " numbered" : " unnumbered"));
        });
    EXPECT_FALSE(modMain::SaveINI(s, dir.path() / "no-such-folder" / "kestrund.ini"));
    kest::SetErrorSink(previous);
    EXPECT_EQ(reports, (std::vector<std::string>{"modMain SaveINI numbered"}));
}
