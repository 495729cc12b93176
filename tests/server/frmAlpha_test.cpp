// Start-up, the timer tick, pausing and shutdown of the server's main object, on real loopback
// sockets with a fake clock.
#include "server/frmAlpha.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/sockets.h"
#include "server/authority/clDNSAuthData.h"
#include "server/dhcp/dhcp_sockets.h"
#include "server/resolver/clDNSCache.h"
#include "tests/support/alpha_start.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_prompt.h"
#include "tests/support/temp_dir.h"

namespace {

using modMain::frmAlpha;
using modMain::HostServices;

class TrayState : public platform::ITray {
  public:
    std::vector<int> icons;
    std::string tip;
    bool shown = false;
    void Show() override { shown = true; }
    void Remove() override { shown = false; }
    void SetIcon(int icon) override { icons.push_back(icon); }
    void SetTip(const std::string& t) override { tip = t; }
};

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "frmAlpha_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

using kest::test::FreePort;

class AlphaTest : public ::testing::Test {
  protected:
    void SetUp() override { App(); }
    void TearDown() override { alpha_.reset(); }

    // The server object on 127.0.0.1, not started; its DNS port is set by the caller or Started.
    frmAlpha& Make(bool display = false) {
        alpha_.reset();  // the old one puts back the error sink it found
        HostServices h;
        h.clock = &clock_;
        h.prompt = &prompts_;
        h.tray = &tray_;
        h.programDir = home_;
        h.displayAvailable = display;
        alpha_ = std::make_unique<frmAlpha>(h);
        alpha_->LoadSettings({});
        alpha_->settings.DNSBind = "127.0.0.1";
        alpha_->Log().OpenWindow();
        return *alpha_;
    }

    // A server made by Make, given its settings by configure and started by start on a DNS port
    // probed free for UDP. That says nothing of TCP, where a closed connection of a test beside
    // this one may still hold the port (TIME_WAIT), and the UDP port may be taken before the
    // server binds it: such a start is thrown away and made again on another port.
    frmAlpha& Started(bool display = false, const std::function<void(frmAlpha&)>& configure = {},
                      void (frmAlpha::*start)() = &frmAlpha::Begin) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            prompts_ = {};
            tray_ = {};
            frmAlpha& a = Make(display);
            a.settings.DNSPort = FreePort();
            if (configure) configure(a);
            (a.*start)();
            if (a.Running) return a;
        }
        ADD_FAILURE() << "the DNS sockets never bound";
        return *alpha_;
    }

    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        for (const auto& l : alpha_->Log().WindowLines()) out.push_back(l.substr(11));
        return out;
    }

    kest::test::FakeClock clock_;
    kest::test::RecordingPrompt prompts_;
    TrayState tray_;
    kest::test::TempDir dir_;
    const std::filesystem::path home_ = dir_.path();
    std::unique_ptr<frmAlpha> alpha_;
};

TEST_F(AlphaTest, BeginBindsPublishesTheReloadPortAndStartsTheTimer) {
    frmAlpha& a = Started(false, [](frmAlpha& f) { f.settings.Name = "ns.example"; });
    ASSERT_TRUE(a.Running);
    EXPECT_EQ(Lines(),
              (std::vector<std::string>{"Program started.", "DNS service started on 127.0.0.1"}));
    EXPECT_TRUE(a.TimerActive());
    EXPECT_EQ(a.TrayIcon, 0);
    EXPECT_EQ(tray_.tip, "ns.example");
    EXPECT_TRUE(tray_.shown);
    EXPECT_EQ(a.StatusText, "Uptime...");
    EXPECT_FALSE(a.Interactive);
    ASSERT_NE(a.ReloadSocketPort(), 0);
    const auto ini = platform::ReadFile(a.IniFile());
    ASSERT_TRUE(ini.has_value());
    EXPECT_NE(ini->find("\r\nReloadPort: " + std::to_string(a.ReloadSocketPort()) + "\r\n"),
              std::string::npos);
    // The reload socket is on 127.0.0.1 at that port.
    platform::UdpSocket other;
    EXPECT_FALSE(other.Bind("127.0.0.1", a.ReloadSocketPort()));
}

TEST_F(AlphaTest, TakenPortFailsWithMessagesAndLeavesNothingBound) {
    // Only the TCP side is taken: the UDP socket must not stay bound after the failure.
    auto blocker = std::make_unique<platform::TcpListener>();
    ASSERT_TRUE(blocker->Bind("127.0.0.1", 0) && blocker->Listen());
    const uint16_t port = blocker->LocalPort();
    frmAlpha& a = Make(/*display=*/true);
    a.settings.DNSPort = port;
    a.Begin();
    EXPECT_FALSE(a.Running);
    EXPECT_TRUE(a.Interactive);
    EXPECT_EQ(a.TrayIcon, 2);
    EXPECT_EQ(a.StatusText, "Could not start DNS service on 127.0.0.1");
    EXPECT_EQ(Lines().back(), "Binding DNS service to 127.0.0.1 failed - DNS service not started!");
    EXPECT_EQ(prompts_.Texts(),
              std::vector<std::string>{"Could not start DNS service on 127.0.0.1"});
    platform::UdpSocket udp;
    EXPECT_TRUE(udp.Bind("127.0.0.1", port));
    udp.Close();

    // No data is loaded while the service is down; a later start works.
    a.Timer();
    EXPECT_FALSE(a.Loaded);
    blocker.reset();
    EXPECT_TRUE(a.StartServer());
    EXPECT_EQ(a.TrayIcon, 0);

    a.PauseServer();
    a.settings.DNSBind.clear();
    // Held on all addresses: no local address is free either.
    a.LocalIPs = {"127.0.0.1"};
    platform::UdpSocket taken;
    ASSERT_TRUE(taken.Bind("", port));
    EXPECT_FALSE(a.StartServer());
    EXPECT_EQ(a.StatusText, "Could not start DNS service.");
    EXPECT_EQ(Lines().back(), "Binding DNS service failed - DNS service not started!");
    EXPECT_EQ(prompts_.Texts().back(),
              "Could not start DNS service!\n\nPort used by other DNS server.");
}

// A query for a type the server does not implement: answered at once from no data.
std::string ProbeQuery(uint16_t id) {
    std::string q{
        static_cast<char>(id >> 8), static_cast<char>(id & 0xFF), 1, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    q += std::string("\x05probe\x07invalid\x00", 15);
    return q + std::string("\x00\x1c\x00\x01", 4);
}

// Sends the probe from a socket of our own to ip:port and runs the loop until a reply comes;
// the reply's source address, or "" when none came.
std::string ReplySource(const std::string& ip, uint16_t port, uint16_t id) {
    platform::UdpSocket client;
    std::string from;
    client.OnData = [&](const platform::Datagram& d) {
        if (d.data.size() >= 12 && d.data.compare(0, 2, ProbeQuery(id), 0, 2) == 0 &&
            (static_cast<unsigned char>(d.data[2]) & 0x80) != 0)
            from = d.fromIp + ":" + std::to_string(d.fromPort);
    };
    EXPECT_TRUE(client.Bind("127.0.0.1", 0));
    EXPECT_TRUE(client.SendTo(ProbeQuery(id), ip, port));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (from.empty() && std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return from;
}

TEST_F(AlphaTest, PortHeldOnOneAddressServesEachFreeLocalAddressFromTheAddressAsked) {
    // A stub resolver's sockets on 127.0.0.53: UDP and TCP on one port.
    platform::UdpSocket stubUdp;
    ASSERT_TRUE(stubUdp.Bind("127.0.0.53", 0));
    const uint16_t port = stubUdp.LocalPort();
    platform::TcpListener stubTcp;
    if (!stubTcp.Bind("127.0.0.53", port) || !stubTcp.Listen())
        GTEST_SKIP() << "TCP port " << port << " is taken on 127.0.0.53";

    frmAlpha& a = Make();
    a.settings.DNSBind.clear();
    a.settings.DNSPort = port;
    a.LocalIPs = {"127.0.0.1", "127.0.0.53", "127.0.0.2"};
    a.Begin();
    ASSERT_TRUE(a.Running) << ::testing::PrintToString(Lines());
    EXPECT_EQ(Lines(),
              (std::vector<std::string>{"Program started.", "DNS service started on 127.0.0.1",
                                        "DNS service started on 127.0.0.2"}));
    EXPECT_EQ(a.DNSAddressesInUse(), (std::vector<std::string>{"127.0.0.1", "127.0.0.2"}));
    EXPECT_EQ(a.TrayIcon, 0);
    const std::string p = ":" + std::to_string(port);
    EXPECT_EQ(ReplySource("127.0.0.2", port, 0x1201), "127.0.0.2" + p);
    EXPECT_EQ(ReplySource("127.0.0.1", port, 0x1202), "127.0.0.1" + p);
    // TCP is served on each address too.
    platform::TcpConnection tcp;
    bool connected = false;
    tcp.OnConnect = [&] { connected = true; };
    ASSERT_TRUE(tcp.Connect("127.0.0.2", port));
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!connected && std::chrono::steady_clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(connected);

    // Pausing lets every address go.
    a.PauseServer();
    EXPECT_TRUE(a.DNSAddressesInUse().empty());
    platform::UdpSocket again;
    EXPECT_TRUE(again.Bind("127.0.0.2", port));
}

TEST_F(AlphaTest, OnlyTheTcpSideHeldAlsoFallsBack) {
    // UDP binds to all addresses, TCP does not: the UDP socket must go, then each address.
    platform::TcpListener stubTcp;
    ASSERT_TRUE(stubTcp.Bind("127.0.0.53", 0) && stubTcp.Listen());
    const uint16_t port = stubTcp.LocalPort();
    frmAlpha& a = Make();
    a.settings.DNSBind.clear();
    a.settings.DNSPort = port;
    a.LocalIPs = {"127.0.0.53", "127.0.0.1"};
    ASSERT_TRUE(a.StartServer()) << ::testing::PrintToString(Lines());
    EXPECT_EQ(Lines(), std::vector<std::string>{"DNS service started on 127.0.0.1"});
    platform::UdpSocket wildcard;
    EXPECT_FALSE(wildcard.Bind("", port));
    platform::UdpSocket stubSide;
    EXPECT_TRUE(stubSide.Bind("127.0.0.53", port));
}

TEST_F(AlphaTest, NoBoxesWithoutAUser) {
    platform::UdpSocket taken;
    ASSERT_TRUE(taken.Bind("127.0.0.1", 0));
    frmAlpha& a = Make(/*display=*/false);
    a.settings.DNSPort = taken.LocalPort();
    a.Begin();
    EXPECT_FALSE(a.Running);
    EXPECT_EQ(a.TrayIcon, 2);
    EXPECT_TRUE(prompts_.boxes.empty());
}

TEST_F(AlphaTest, TickLoadsOnceAndPauseRestartKeepsIt) {
    frmAlpha& a = Started();
    EXPECT_FALSE(a.Loaded);
    a.Timer();
    EXPECT_TRUE(a.Loaded);
    a.PauseServer();
    EXPECT_EQ(Lines().back(), "Server paused.");
    EXPECT_EQ(a.StatusText, "Paused");
    EXPECT_EQ(a.TrayIcon, 2);
    a.Loaded = true;
    ASSERT_TRUE(a.StartServer());
    a.Timer();
    EXPECT_TRUE(a.Loaded);
    // Starting twice is harmless.
    EXPECT_TRUE(a.StartServer());
}

TEST_F(AlphaTest, DHCPSocketsOpenWithTheServerAndCloseWithIt) {
    modMain::DHCPEntry e;
    e.IPaddr = "127.0.0.1";
    e.Domain = "lan.";
    e.ScopeFrom = "127.0.0.50";
    e.ScopeTo = "127.0.0.60";
    e.Subnet = "255.0.0.0";
    e.Gateway = "0.0.0.0";
    frmAlpha& a = Started(false, [&](frmAlpha& f) {
        f.DHCPPort = 0;
        f.settings.DHCP = {e, e};
        f.settings.DHCP[0].IPaddr = "192.0.2.123";  // no address of this machine
    });
    auto lines = Lines();
    const auto dns = std::find(lines.begin(), lines.end(), "DNS service started on 127.0.0.1");
    ASSERT_NE(dns, lines.end());
    ASSERT_GE(lines.end() - dns, 3);
    EXPECT_EQ(dns[1], "Binding DHCP service to 192.0.2.123 failed!");
    EXPECT_EQ(dns[2], "DHCP service started on 127.0.0.1");
    ASSERT_EQ(a.DHCPSockets().Count(), 1u);
    a.Timer();  // loads the leases; DHCP is answered from then on

    // A discovery reaches the server through socket 1, whose interface is 127.0.0.1's.
    std::string m(240, '\0');
    m[0] = 1;
    m[1] = 1;
    m[2] = 6;
    m.replace(12, 4, std::string("\x7f\0\0\x01", 4));  // ciaddr: the reply comes back here
    m.replace(28, 6, std::string("\x02\0\0\0\0\x05", 6));
    m.replace(236, 4, "\x63\x82\x53\x63");
    m += std::string("\x35\x01\x01\x0c\x04pc-5\xff", 10);
    platform::UdpSocket client;
    ASSERT_TRUE(client.Bind("127.0.0.1", 0));
    ASSERT_TRUE(client.SendTo(m, "127.0.0.1", a.DHCPSockets().LocalPort(1)));
    const auto offered = [&] {
        const auto l = Lines();
        return std::find(l.begin(), l.end(), "Sending DHCP Offer to pc-5 for 127.0.0.50") != l.end();
    };
    for (int i = 0; i < 500 && !offered(); ++i)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    EXPECT_TRUE(offered());
    EXPECT_EQ(a.TotalRequests, 1);

    a.PauseServer();
    EXPECT_EQ(a.DHCPSockets().Count(), 0u);
    ASSERT_TRUE(a.StartServer());
    EXPECT_EQ(a.DHCPSockets().Count(), 1u);
    a.CloseDown();
    EXPECT_EQ(a.DHCPSockets().Count(), 0u);
}

TEST_F(AlphaTest, TickClearsTheNextSecondAndResetsTheTrayPicture) {
    frmAlpha& a = Started();
    a.SecondCounts.fill(7);
    clock_.SetLocal({2026, 3, 14, 12, 0, 59});
    a.Timer();
    EXPECT_EQ(a.SecondCounts[0], 0);
    EXPECT_EQ(a.SecondCounts[59], 7);
    clock_.SetLocal({2026, 3, 14, 12, 1, 10});
    a.Timer();
    EXPECT_EQ(a.SecondCounts[11], 0);
    EXPECT_EQ(a.SecondCounts[10], 7);

    a.DoTray(1);
    EXPECT_EQ(a.TrayIcon, 1);
    clock_.Advance(1);
    a.Timer();
    EXPECT_EQ(a.TrayIcon, 1);  // not more than one second yet
    clock_.Advance(1);
    a.Timer();
    EXPECT_EQ(a.TrayIcon, 0);
    // The picture is set only when it changes.
    EXPECT_EQ(tray_.icons, (std::vector<int>{0, 1, 0}));
}

TEST_F(AlphaTest, CloseDownPausesStopsTheTimerAndUnloadsOnce) {
    frmAlpha& a = Started(false, [](frmAlpha& f) { f.settings.WriteLog = true; });
    int unloads = 0;
    a.OnUnload = [&] { ++unloads; };
    EXPECT_TRUE(a.Log().FileOpen());
    a.CloseDown();
    a.CloseDown();
    EXPECT_EQ(unloads, 1);
    EXPECT_FALSE(a.Running);
    EXPECT_FALSE(a.TimerActive());
    EXPECT_FALSE(a.Log().FileOpen());
    EXPECT_FALSE(tray_.shown);
    EXPECT_EQ(Lines().back(), "Server paused.");
}

TEST_F(AlphaTest, ServiceEventsFrameTheRun) {
    frmAlpha& a = Started(
        /*display=*/true, [](frmAlpha& f) { f.settings.NTService = true; },
        &frmAlpha::ServiceStart);
    EXPECT_FALSE(a.Interactive);
    a.ServiceStop();
    EXPECT_TRUE(a.Stopping);
    const auto lines = Lines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines.front(), "NT Service Started.");
    EXPECT_EQ(lines[1], "Program started.");
    EXPECT_EQ(lines[lines.size() - 2], "NT Service Stopped.");
    EXPECT_EQ(lines.back(), "Server paused.");
    // A close request while stopping is ignored.
    int unloads = 0;
    a.OnUnload = [&] { ++unloads; };
    a.CloseRequest();
    EXPECT_EQ(unloads, 0);
}

TEST_F(AlphaTest, FirstTickLoadsZonesBlocksAndLeasesAndShutdownSavesThem) {
    std::filesystem::create_directories(home_ / "data");
    platform::WriteFileAtomic(home_ / "data" / "example.test.dns",
                              "@ 300 SOA ns1 hm 1 2 3 4 5\r\nwww 300 A 10.0.0.1\r\n");
    platform::WriteFileAtomic(home_ / "blocks.dat",
                              "; Kestrune - IP address blocks\r\n10.9.9.9\r\n");
    frmAlpha& a = Started();
    a.Timer();
    const auto lines = Lines();
    const auto at = [&](const std::string& l) {
        return std::find(lines.begin(), lines.end(), l) - lines.begin();
    };
    ASSERT_LT(at("Loading Zone: example.test."), static_cast<long>(lines.size()));
    EXPECT_LT(at("Loading Zone: example.test."), at("Loading IP address blocks..."));
    EXPECT_LT(at("Loading IP address blocks..."), at("Loading DHCP Leases..."));
    EXPECT_TRUE(a.Zones().Ask("www.example.test.", 1, false).AA);

    std::filesystem::remove(home_ / "blocks.dat");
    a.CloseDown();
    const auto blocks = platform::ReadFile(home_ / "blocks.dat");
    ASSERT_TRUE(blocks.has_value());
    EXPECT_EQ(*blocks, "; Kestrune - IP address blocks\r\n10.9.9.9\r\n");
    EXPECT_TRUE(std::filesystem::exists(home_ / "dhcp.dat"));
}

TEST_F(AlphaTest, RootHintsLoadOnTheFirstTickAndTheCacheSurvivesARestart) {
    platform::WriteFileAtomic(home_ / "named.root",
                              ".  3600000  NS  a.root.test.\r\n"
                              "a.root.test.  3600000  A  127.0.0.2\r\n");
    {
        frmAlpha& a = Started(false, [](frmAlpha& f) { f.settings.CacheReload = true; });
        a.Timer();
        EXPECT_EQ(a.Cache().Count(), 2);
        const auto lines = Lines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), "Loading Cache..."), lines.end());
        clDNSAnswer learned;
        learned.Section2.push_back(
            MakeRecord("www.learned.test.", 1, std::string("\x0a\0\0\x07", 4), 600, clock_.Now()));
        a.Cache().CacheAdd(learned);
        a.CloseDown();
    }
    ASSERT_TRUE(std::filesystem::exists(home_ / "named.cache"));
    frmAlpha& b = Started(false, [](frmAlpha& f) { f.settings.CacheReload = true; });
    b.Timer();
    const clDNSAnswer ans = b.Cache().Ask("www.learned.test.", 1, true);
    ASSERT_EQ(ans.Section2.size(), 1u);
    EXPECT_EQ(ans.Section2[0]->Data, std::string("\x0a\0\0\x07", 4));
}

TEST_F(AlphaTest, ReloadCommandsComeOnlyFromLocalhostAndNotWithAMasterDirectory) {
    std::filesystem::create_directories(home_ / "data");
    // No user at first.
    frmAlpha& a = Started(/*display=*/true, [](frmAlpha& f) { f.settings.NTService = true; });
    a.Timer();
    ASSERT_FALSE(a.Interactive);
    platform::WriteFileAtomic(home_ / "data" / "new.test.dns",
                              "@ 300 SOA ns1 hm 1 2 3 4 5\r\nx 300 A 10.0.0.2\r\n");
    platform::Datagram d;
    d.data = "RELOAD P New.Test";
    d.fromIp = "127.0.0.2";
    a.OnReloadData(d);
    EXPECT_FALSE(a.Zones().Ask("x.new.test.", 1, false).AA);
    EXPECT_FALSE(a.Interactive);

    d.fromIp = "127.0.0.1";
    a.settings.MasterDir = "/srv/master";
    a.OnReloadData(d);
    EXPECT_FALSE(a.Zones().Ask("x.new.test.", 1, false).AA);
    // The command still shows that a user is here.
    EXPECT_TRUE(a.Interactive);

    a.settings.MasterDir.clear();
    a.OnReloadData(d);
    EXPECT_TRUE(a.Zones().Ask("x.new.test.", 1, false).AA);
    d.data = "unload new.test";
    a.OnReloadData(d);
    EXPECT_FALSE(a.Zones().Ask("x.new.test.", 1, false).AA);
    EXPECT_EQ(Lines().back(), "Removing Zone: new.test.");
    d.data = "reload";
    a.OnReloadData(d);
    EXPECT_TRUE(a.Zones().Ask("x.new.test.", 1, false).AA);
}

}  // namespace
