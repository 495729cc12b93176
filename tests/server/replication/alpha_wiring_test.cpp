// The server object's wiring of the secondary side: the reload port, the timer with a master
// directory, and shutdown's saves, on real loopback sockets with a fake clock.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <functional>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/sockets.h"
#include "server/authority/clDNSAuthData.h"
#include "server/frmAlpha.h"
#include "tests/support/alpha_start.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "alpha_wiring_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

fs::path MadeHome(const fs::path& dir) {
    fs::create_directories(dir / "data");
    return dir;
}

class AlphaWiring : public ::testing::Test {
  protected:
    void SetUp() override { App(); }
    void TearDown() override { alpha_.reset(); }
    // The server on 127.0.0.1, given its settings by configure and started.
    modMain::frmAlpha& Started(const std::function<void(modMain::frmAlpha&)>& configure = {}) {
        alpha_ = kest::test::StartOnFreePort([&](uint16_t port) {
            modMain::HostServices h;
            h.clock = &clock_;
            h.programDir = home_;
            auto a = std::make_unique<modMain::frmAlpha>(h);
            a->LoadSettings({});
            a->settings.DNSBind = "127.0.0.1";
            a->settings.DNSPort = port;
            a->Log().OpenWindow();
            if (configure) configure(*a);
            return a;
        });
        return *alpha_;
    }
    bool Logged(const std::string& text) const {
        for (const auto& l : alpha_->Log().WindowLines()) {
            if (l.substr(11) == text) return true;
        }
        return false;
    }

    kest::test::FakeClock clock_;
    kest::test::TempDir dir_;
    const fs::path home_ = MadeHome(dir_.path());
    std::unique_ptr<modMain::frmAlpha> alpha_;
};

TEST_F(AlphaWiring, ReloadedSecondaryZoneIsCheckedAtOnceAndShutdownSavesItsTimer) {
    modMain::frmAlpha& a = Started();
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
    fs::create_directories(home_ / "master");
    platform::WriteFileAtomic(home_ / "master" / "m.test.dns",
                              "@ 300 SOA ns1 hm 1 2 3 4 5\r\nwww 300 A 10.0.0.3\r\n");
    platform::WriteFileAtomic(home_ / "data" / "sec.test.dns", "; PRIMARYIP 127.0.0.9\r\n");
    modMain::frmAlpha& a =
        Started([&](modMain::frmAlpha& f) { f.settings.MasterDir = (home_ / "master").string(); });
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
