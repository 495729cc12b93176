// The server object's wiring of the secondary side: the reload port, the timer with a master
// directory, and shutdown's saves, on real loopback sockets with a fake clock.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/sockets.h"
#include "server/authority/clDNSAuthData.h"
#include "server/frmAlpha.h"
#include "tests/support/fake_clock.h"

namespace {

namespace fs = std::filesystem;

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "alpha_wiring_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

class AlphaWiring : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        home_ = fs::temp_directory_path() /
                ("alpha-wiring-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(home_);
        fs::create_directories(home_ / "data");
        modMain::HostServices h;
        h.clock = &clock_;
        h.programDir = home_;
        alpha_ = std::make_unique<modMain::frmAlpha>(h);
        alpha_->LoadSettings({});
        alpha_->settings.DNSBind = "127.0.0.1";
        platform::UdpSocket probe;
        ASSERT_TRUE(probe.Bind("127.0.0.1", 0));
        alpha_->settings.DNSPort = probe.LocalPort();
        probe.Close();
        alpha_->Log().OpenWindow();
    }
    void TearDown() override {
        alpha_.reset();
        fs::remove_all(home_);
    }
    bool Logged(const std::string& text) const {
        for (const auto& l : alpha_->Log().WindowLines()) {
            if (l.substr(11) == text) return true;
        }
        return false;
    }

    kest::test::FakeClock clock_;
    fs::path home_;
    std::unique_ptr<modMain::frmAlpha> alpha_;
};

TEST_F(AlphaWiring, ReloadedSecondaryZoneIsCheckedAtOnceAndShutdownSavesItsTimer) {
    modMain::frmAlpha& a = *alpha_;
    a.Begin();
    a.Timer();
    platform::WriteFileAtomic(home_ / "data" / "sec.test.dns",
                              "; PRIMARYIP 127.0.0.9\r\n@ 300 SOA ns1 hm 1 2 3 3600 5\r\n"
                              "www 300 A 10.0.0.1\r\n");
    platform::Datagram d;
    d.fromIp = "127.0.0.1";
    d.data = "reload sec.test";
    a.OnReloadData(d);
    EXPECT_TRUE(Logged("Sending request to 127.0.0.9 for SOA-record for sec.test."));
    EXPECT_FALSE(Logged("Sending Zone Update Notification to 127.0.0.9 about sec.test."));

    a.CloseDown();
    EXPECT_EQ(platform::ReadFile(home_ / "data" / "zonettl.dat").value_or("?"), "sec.test.  0\r\n");
    EXPECT_FALSE(fs::exists(home_ / "ml.dat"));
}

TEST_F(AlphaWiring, MasterDirectoryTakesOverTheTimerAndShutdown) {
    modMain::frmAlpha& a = *alpha_;
    fs::create_directories(home_ / "master");
    platform::WriteFileAtomic(home_ / "master" / "m.test.dns",
                              "@ 300 SOA ns1 hm 1 2 3 4 5\r\nwww 300 A 10.0.0.3\r\n");
    platform::WriteFileAtomic(home_ / "data" / "sec.test.dns", "; PRIMARYIP 127.0.0.9\r\n");
    a.settings.MasterDir = (home_ / "master").string();
    a.Begin();
    a.Timer();
    // The first tick synchronises: the secondary zone is not in the master directory.
    EXPECT_TRUE(Logged("-> New zone: m.test."));
    EXPECT_TRUE(Logged("-> Removed Zone: sec.test."));
    EXPECT_FALSE(Logged("Sending request to 127.0.0.9 for SOA-record for sec.test."));
    EXPECT_TRUE(a.Zones().Ask("www.m.test.", 1, false).AA);
    a.CloseDown();
    EXPECT_TRUE(fs::exists(home_ / "ml.dat"));
    EXPECT_FALSE(fs::exists(home_ / "data" / "zonettl.dat"));
}

}  // namespace
