// Start-up, the timer tick, pausing and shutdown of the server's main object, on real loopback
// sockets with a fake clock.
#include "server/frmAlpha.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/sockets.h"
#include "server/authority/clDNSAuthData.h"
#include "server/resolver/clDNSCache.h"
#include "tests/support/fake_clock.h"

namespace {

using modMain::frmAlpha;
using modMain::HostServices;

class Prompts : public platform::IPrompt {
  public:
    std::vector<std::string> shown;
    void Message(Icon, const std::string&, const std::string& text) override {
        shown.push_back(text);
    }
    bool AskYesNo(Icon, const std::string&, const std::string& text) override {
        shown.push_back(text);
        return false;
    }
};

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

// A UDP port that nobody holds right now.
uint16_t FreePort() {
    platform::UdpSocket probe;
    EXPECT_TRUE(probe.Bind("127.0.0.1", 0));
    return probe.LocalPort();
}

class AlphaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        home_ = std::filesystem::temp_directory_path() /
                ("alpha-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(home_);
        std::filesystem::create_directories(home_);
    }
    void TearDown() override {
        alpha_.reset();
        std::filesystem::remove_all(home_);
    }

    frmAlpha& Make(bool display = false) {
        HostServices h;
        h.clock = &clock_;
        h.prompt = &prompts_;
        h.tray = &tray_;
        h.programDir = home_;
        h.displayAvailable = display;
        alpha_ = std::make_unique<frmAlpha>(h);
        alpha_->LoadSettings({});
        alpha_->settings.DNSBind = "127.0.0.1";
        alpha_->settings.DNSPort = FreePort();
        alpha_->Log().OpenWindow();
        return *alpha_;
    }

    std::vector<std::string> Lines() const {
        std::vector<std::string> out;
        for (const auto& l : alpha_->Log().WindowLines()) out.push_back(l.substr(11));
        return out;
    }

    kest::test::FakeClock clock_;
    Prompts prompts_;
    TrayState tray_;
    std::filesystem::path home_;
    std::unique_ptr<frmAlpha> alpha_;
};

TEST_F(AlphaTest, BeginBindsPublishesTheReloadPortAndStartsTheTimer) {
    frmAlpha& a = Make();
    a.settings.Name = "ns.example";
    a.Begin();
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
    frmAlpha& a = Make(/*display=*/true);
    const uint16_t port = static_cast<uint16_t>(a.settings.DNSPort);
    // Only the TCP side is taken: the UDP socket must not stay bound after the failure.
    auto blocker = std::make_unique<platform::TcpListener>();
    ASSERT_TRUE(blocker->Bind("127.0.0.1", port) && blocker->Listen());
    a.Begin();
    EXPECT_FALSE(a.Running);
    EXPECT_TRUE(a.Interactive);
    EXPECT_EQ(a.TrayIcon, 2);
    EXPECT_EQ(a.StatusText, "Could not start DNS service on 127.0.0.1");
    EXPECT_EQ(Lines().back(), "Binding DNS service to 127.0.0.1 failed - DNS service not started!");
    EXPECT_EQ(prompts_.shown, std::vector<std::string>{"Could not start DNS service on 127.0.0.1"});
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
    platform::UdpSocket taken;
    ASSERT_TRUE(taken.Bind("", port));
    EXPECT_FALSE(a.StartServer());
    EXPECT_EQ(a.StatusText, "Could not start DNS service.");
    EXPECT_EQ(Lines().back(), "Binding DNS service failed - DNS service not started!");
    EXPECT_EQ(prompts_.shown.back(),
              "Could not start DNS service!\n\nPort used by other DNS server.");
}

TEST_F(AlphaTest, NoBoxesWithoutAUser) {
    frmAlpha& a = Make(/*display=*/false);
    platform::UdpSocket taken;
    ASSERT_TRUE(taken.Bind("127.0.0.1", static_cast<uint16_t>(a.settings.DNSPort)));
    a.Begin();
    EXPECT_FALSE(a.Running);
    EXPECT_TRUE(prompts_.shown.empty());
}

TEST_F(AlphaTest, TickLoadsOnceAndPauseRestartKeepsIt) {
    frmAlpha& a = Make();
    a.Begin();
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

TEST_F(AlphaTest, TickClearsTheNextSecondAndResetsTheTrayPicture) {
    frmAlpha& a = Make();
    a.Begin();
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
    frmAlpha& a = Make();
    a.settings.WriteLog = true;
    int unloads = 0;
    a.OnUnload = [&] { ++unloads; };
    a.Begin();
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
    frmAlpha& a = Make(/*display=*/true);
    a.settings.NTService = true;
    a.ServiceStart();
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
    frmAlpha& a = Make();
    a.Begin();
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
        frmAlpha& a = Make();
        a.settings.CacheReload = true;
        a.Begin();
        a.Timer();
        EXPECT_EQ(a.Cache().Count(), 2);
        const auto lines = Lines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), "Loading Cache..."), lines.end());
        clDNSAnswer learned;
        learned.Section2.push_back(MakeRecord("www.learned.test.", 1,
                                              std::string("\x0a\0\0\x07", 4), 600, clock_.Now()));
        a.Cache().CacheAdd(learned);
        a.CloseDown();
    }
    ASSERT_TRUE(std::filesystem::exists(home_ / "named.cache"));
    frmAlpha& b = Make();
    b.settings.CacheReload = true;
    b.Begin();
    b.Timer();
    const clDNSAnswer ans = b.Cache().Ask("www.learned.test.", 1, true);
    ASSERT_EQ(ans.Section2.size(), 1u);
    EXPECT_EQ(ans.Section2[0]->Data, std::string("\x0a\0\0\x07", 4));
}

TEST_F(AlphaTest, ReloadCommandsComeOnlyFromLocalhostAndNotWithAMasterDirectory) {
    std::filesystem::create_directories(home_ / "data");
    frmAlpha& a = Make(/*display=*/true);
    a.settings.NTService = true;  // no user at first
    a.Begin();
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
