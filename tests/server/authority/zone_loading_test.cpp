// Loading zones from the data folder: LoadAll with zonettl.dat ages, LoadZone, UnloadZone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "core/datetime.h"
#include "core/modDNS.h"
#include "core/modIP.h"
#include "core/report.h"
#include "server/authority/clDNSAuthData.h"
#include "server/dhcp/clLease.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace modDNS;

constexpr double kSec = 1.0 / 86400.0;

class ZoneLoading : public ::testing::Test {
  protected:
    ZoneLoading()
        : root_(tmp_.path()),
          data_(root_ / "data"),
          leases_(settings_, clock_, root_),
          store_(
              settings_, clock_, [this](int, std::string_view t) { log_.emplace_back(t); }, leases_,
              data_,
              AuthHostHooks{[this] { return status_; },
                            [this](const std::string& s) {
                                status_ = s;
                                statuses_.push_back(s);
                            },
                            [this] {
                                ++pumps_;
                                zonesAtPump_ = store_.Zones().size();
                            }}) {
        fs::create_directories(data_);
        previousSink_ = kest::SetErrorSink(
            [this](const std::string& where, const std::string&, const kest::RunError& e) {
                reports_.push_back(where + " " + std::to_string(e.number));
            });
    }
    ~ZoneLoading() override { kest::SetErrorSink(previousSink_); }

    void Write(const std::string& name, const std::string& text) {
        std::ofstream(data_ / name, std::ios::binary) << text;
    }
    // Sets a file's modification time to a day count (UTC, whole seconds).
    void SetMTime(const std::string& name, double days) {
        const auto sys = std::chrono::sys_seconds(std::chrono::seconds(kest::DaysToUnix(days)));
        fs::last_write_time(data_ / name, std::chrono::file_clock::from_sys(sys));
    }
    double SecondsLeft(const std::string& zone) {
        const auto z = store_.GetZone(zone);
        return z ? (z->Expires - clock_.Now()) * 86400.0 : -1e9;
    }
    size_t LogCount(const std::string& line) {
        return static_cast<size_t>(std::count(log_.begin(), log_.end(), line));
    }

    static constexpr const char* kExample =
        "@ 3600 SOA ns1 hostmaster 2026031401 7200 900 604800 300\r\n"
        " NS ns1\r\n"
        "ns1 A 10.0.0.2\r\n"
        "www A 10.0.0.1\r\n"
        "@ MX 10 mail\r\n"
        "mail A 10.0.0.25\r\n";

    kest::test::FakeClock clock_;
    modMain::Settings settings_;
    kest::test::TempDir tmp_;
    fs::path root_, data_;
    clLeases leases_;
    std::vector<std::string> log_;
    std::string status_ = "Uptime";
    std::vector<std::string> statuses_;
    int pumps_ = 0;
    size_t zonesAtPump_ = 0;
    std::vector<std::string> reports_;
    kest::ErrorSink previousSink_;
    clDNSAuthData store_;
};

TEST_F(ZoneLoading, LoadAllReadsEveryZoneFileWithTheTimerFilesAges) {
    Write("example.com.dns", kExample);
    Write("sec.example.net.dns",
          "; PRIMARYIP 10.0.0.9\r\n; NOTIFY 10.0.0.3 10.0.0.4\r\n; NOTSECURE\r\n"
          "@ SOA ns1 hm 5 60 30 120 10\r\nwww A 10.0.0.7\r\n");
    Write("Other.DNS", "x A 10.0.0.8\r\n");  // any case of the ending; the zone keeps its case
    Write("gone.example.org.dns", "x A 10.0.0.5\r\n");
    Write("notes.txt", "x A 10.0.0.6\r\n");
    Write("zonettl.dat",
          "sec.example.net.  3600\r\n\r\nOther. -20\r\n  gone.example.org. 100.5  \r\nexample.com "
          "99\r\n");
    const double written = clock_.Now();
    SetMTime("zonettl.dat", written);
    clock_.Advance(600);

    store_.LoadAll();

    std::vector<std::string> names;
    for (const auto& z : store_.Zones()) names.push_back(z->Name);
    EXPECT_EQ(names, (std::vector<std::string>{"Other.", "example.com.", "gone.example.org.",
                                               "sec.example.net."}));
    // The file lay 600 seconds: its lifetimes are 600 seconds shorter now.
    EXPECT_NEAR(SecondsLeft("sec.example.net."), 3000, 0.01);
    EXPECT_NEAR(SecondsLeft("Other."), -620, 0.01);
    EXPECT_NEAR(SecondsLeft("gone.example.org."), -499.5, 0.01);
    EXPECT_NEAR(SecondsLeft("example.com."), 0, 0.01);  // "example.com" is another name
    EXPECT_EQ(log_, (std::vector<std::string>{"Loading Zone: Other.", "Loading Zone: example.com.",
                                              "Loading Zone: gone.example.org.",
                                              "Loading Zone: sec.example.net."}));

    const auto sec = store_.GetZone("sec.example.net.");
    EXPECT_EQ(sec->PrimaryIP, "10.0.0.9");
    EXPECT_EQ(sec->Slaves, (std::vector<std::string>{"10.0.0.3", "10.0.0.4"}));
    EXPECT_FALSE(sec->Secure);
    EXPECT_EQ(sec->SOASerial, 5u);
    EXPECT_EQ(sec->SOAExpire, 120u);
    EXPECT_EQ(sec->NextRefresh, clock_.Now());

    const auto ex = store_.GetZone("example.com.");
    EXPECT_TRUE(ex->Secure);
    EXPECT_EQ(ex->SOASerial, 2026031401u);
    EXPECT_EQ(ex->FILETIME, 0);
    EXPECT_FALSE(ex->Checked);

    // What was read answers.
    const clDNSAnswer mx = store_.Ask("example.com.", kTypeMX, false);
    EXPECT_TRUE(mx.AA);
    ASSERT_EQ(mx.Section2.size(), 1u);
    EXPECT_EQ(mx.Section2[0]->TTL(clock_.Now()), 300);  // the SOA minimum is the default TTL
    ASSERT_EQ(mx.Section4.size(), 2u);
    EXPECT_EQ(mx.Section4[0]->Data, modIP::IPToData("10.0.0.25"));
    EXPECT_EQ(store_.Ask("nope.example.com.", kTypeA, false).RCode, 3);

    // The status text while loading, restored afterwards; pending events ran once, before the
    // old zones went.
    EXPECT_EQ(statuses_, (std::vector<std::string>{"Loading DNS Records...", "Uptime"}));
    EXPECT_EQ(pumps_, 1);
    EXPECT_TRUE(reports_.empty());
}

TEST_F(ZoneLoading, LoadAllEmptiesTheStoreFirstAndWorksWithoutTimerFile) {
    Write("example.com.dns", kExample);
    store_.LoadAll();
    auto stale = std::make_shared<clZone>();
    stale->Name = "stale.";
    store_.ZoneAdd(stale);
    fs::remove(data_ / "example.com.dns");
    Write("_root.dns", "@ SOA a b 1 2 3 4 5\r\nns A 10.0.0.53\r\n");
    log_.clear();
    store_.LoadAll();
    ASSERT_EQ(store_.Zones().size(), 1u);
    EXPECT_EQ(store_.Zones()[0]->Name, ".");
    EXPECT_EQ(zonesAtPump_, 2u);
    EXPECT_EQ(log_, (std::vector<std::string>{"Loading Zone: <root>"}));
    EXPECT_NEAR(SecondsLeft("."), 0, 0.01);
    EXPECT_TRUE(store_.Ask("ns.", kTypeA, true).AA);

    // A missing data folder loads nothing and reports nothing.
    fs::remove_all(data_);
    store_.LoadAll();
    EXPECT_TRUE(store_.Zones().empty());
    EXPECT_TRUE(reports_.empty());
}

TEST_F(ZoneLoading, AnUnreadableZoneFileEndsOnlyThatZone) {
    Write("a.example.dns", "x A 10.0.0.1\r\n");
    Write("c.example.dns", "x A 10.0.0.3\r\n");
    // A file that lists as a regular file but fails to read, also for root.
    fs::create_symlink("/proc/self/mem", data_ / "b.example.dns");
    store_.LoadAll();
    std::vector<std::string> names;
    for (const auto& z : store_.Zones()) names.push_back(z->Name);
    EXPECT_EQ(names, (std::vector<std::string>{"a.example.", "c.example."}));
    EXPECT_EQ(LogCount("** Error accessing file!"), 1u);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0].rfind("clDNSAuthData LoadZone ", 0), 0u) << reports_[0];
    EXPECT_NE(reports_[0], "clDNSAuthData LoadZone 0");  // the system's error number
    EXPECT_FALSE(store_.Ask("x.b.example.", kTypeA, false).AA);
}

TEST_F(ZoneLoading, LoadZoneReplacesTheZoneAndAMissingFileRemovesIt) {
    Write("example.com.dns", kExample);
    ASSERT_TRUE(store_.LoadZone("example.com.", 0));
    Write("example.com.dns", "@ SOA ns1 hm 2 3 4 5 6\r\nnew A 10.0.0.77\r\n");
    log_.clear();
    ASSERT_TRUE(store_.LoadZone("example.com.", 120));
    EXPECT_EQ(log_, (std::vector<std::string>{"Loading Zone: example.com."}));
    ASSERT_EQ(store_.Zones().size(), 1u);
    EXPECT_TRUE(store_.Ask("new.example.com.", kTypeA, true).AA);
    EXPECT_EQ(store_.Ask("www.example.com.", kTypeA, false).RCode, 3);
    EXPECT_NEAR(SecondsLeft("example.com."), 120, 0.01);

    // With a master file time: kept as FILETIME, marked seen, no log line.
    log_.clear();
    const double fileTime = kest::CivilToDays({2026, 1, 2, 3, 4, 5});
    ASSERT_TRUE(store_.LoadZone("example.com.", 0, fileTime));
    EXPECT_TRUE(log_.empty());
    EXPECT_EQ(store_.GetZone("example.com.")->FILETIME, fileTime);
    EXPECT_TRUE(store_.GetZone("example.com.")->Checked);

    fs::remove(data_ / "example.com.dns");
    log_.clear();
    EXPECT_FALSE(store_.LoadZone("example.com.", 0));
    EXPECT_EQ(log_,
              (std::vector<std::string>{"Loading Zone: example.com.", "** Error accessing file!"}));
    EXPECT_EQ(store_.ZoneFind("example.com."), 0);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0], "clDNSAuthData LoadZone " + std::to_string(ENOENT));
}

TEST_F(ZoneLoading, ReloadKeepsTheRemainingLifetimeOfTheReplacedZone) {
    Write("sec.example.net.dns", "; PRIMARYIP 10.0.0.9\r\nwww A 10.0.0.7\r\n");
    ASSERT_TRUE(store_.LoadZone("sec.example.net.", 3600));
    clock_.Advance(600);
    EXPECT_EQ(store_.ZoneLifetime("sec.example.net."), 3000);
    ASSERT_TRUE(store_.ReloadZone("sec.example.net."));
    EXPECT_NEAR(SecondsLeft("sec.example.net."), 3000, 0.01);
    EXPECT_EQ(store_.GetZone("sec.example.net.")->FILETIME, 0);
    // A zone that was not loaded starts with no lifetime.
    Write("new.example.dns", "www A 10.0.0.8\r\n");
    EXPECT_EQ(store_.ZoneLifetime("new.example."), 0);
    ASSERT_TRUE(store_.ReloadZone("new.example."));
    EXPECT_NEAR(SecondsLeft("new.example."), 0, 0.01);
}

TEST_F(ZoneLoading, UnloadZoneRemovesALoadedZoneOnly) {
    Write("example.com.dns", kExample);
    store_.LoadAll();
    log_.clear();
    store_.UnloadZone("nope.");
    EXPECT_TRUE(log_.empty());
    store_.UnloadZone("example.com.");
    EXPECT_EQ(log_, (std::vector<std::string>{"Removing Zone: example.com."}));
    EXPECT_TRUE(store_.Zones().empty());
    EXPECT_FALSE(store_.Ask("www.example.com.", kTypeA, false).AA);
    store_.UnloadZone("example.com.");
    EXPECT_EQ(log_.size(), 1u);
}

}  // namespace
