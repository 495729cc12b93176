// Change notifications sent: one message with one ID to every secondary of the NOTIFY list but
// the server itself, the log lines, send failures, and a zone changed by a handler in between.
#include "server/replication/notify_out.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/modDNS.h"
#include "server/authority/clDNSAuthData.h"
#include "server/dhcp/clLease.h"
#include "tests/server/resolver/request_fakes.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using namespace modDNS;

class FlakySender : public kest::test::RecordingSender {
  public:
    bool SendTo(const std::string& data, const std::string& ip, uint16_t port,
                const std::string& from, Failure& failure) override {
        if (ip == failFor) {
            failure = {101, "Network is unreachable"};
            return false;
        }
        return RecordingSender::SendTo(data, ip, port, from, failure);
    }
    std::string failFor;
};

class NotifyOut : public ::testing::Test {
  protected:
    NotifyOut()
        : dir_(tmp_.path()),
          leases_(settings_, clock_, dir_),
          store_(
              settings_, clock_, [this](int, std::string_view t) { lines_.emplace_back(t); },
              leases_, dir_ / "data") {
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "data");
        NotifyContext c;
        c.zones = &store_;
        c.ids = &ids_;
        c.sender = &sender_;
        c.localIPs = &local_;
        c.log = [this](int kind, std::string_view t) {
            EXPECT_EQ(kind, 0);
            lines_.emplace_back(t);
        };
        c.doTray = [this](int icon) { trays_.push_back(icon); };
        c.pump = [this] {
            ++pumps_;
            if (onPump) onPump();
        };
        notifier_ = std::make_unique<clNotifier>(std::move(c));
    }
    ~NotifyOut() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    void Zone(const std::string& file, const std::string& name, const std::string& text) {
        std::ofstream(dir_ / "data" / file, std::ios::binary) << text;
        ASSERT_TRUE(store_.LoadZone(name, 0));
        lines_.clear();
    }

    kest::test::FakeClock clock_;
    modMain::Settings settings_;
    kest::test::TempDir tmp_;  // before the paths made from it
    fs::path dir_;
    clLeases leases_;
    clDNSAuthData store_;
    clReplicationIds ids_;
    FlakySender sender_;
    std::vector<std::string> local_{"192.0.2.53", "10.0.0.9"};
    std::vector<std::string> lines_;
    std::vector<int> trays_;
    int pumps_ = 0;
    std::function<void()> onPump;
    std::unique_ptr<clNotifier> notifier_;
};

TEST_F(NotifyOut, OneMessageOneIdToEverySecondaryButTheServerItself) {
    Zone("example.com.dns", "example.com.",
         "; NOTIFY 10.0.0.2 127.0.0.1 10.0.0.9 10.0.0.3\r\n@ SOA ns hm 1 2 3 4 5\r\n");
    ids_.Set(41);
    notifier_->Notify("example.com.");
    // ID 42, flags 0x24 0x00 (NOTIFY, authoritative), one question: the zone, SOA, class IN.
    const std::string want = std::string("\x00\x2A\x24\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12) +
                             "\x07"
                             "example\x03"
                             "com" +
                             std::string("\x00\x00\x06\x00\x01", 5);
    ASSERT_EQ(sender_.sent.size(), 2u);
    EXPECT_EQ(sender_.sent[0].ip, "10.0.0.2");
    EXPECT_EQ(sender_.sent[1].ip, "10.0.0.3");
    for (const auto& s : sender_.sent) {
        EXPECT_EQ(s.data, want);
        EXPECT_EQ(s.port, 53);
    }
    EXPECT_EQ(lines_, (std::vector<std::string>{
                          "Sending Zone Update Notification to 10.0.0.2 about example.com.",
                          "Sending Zone Update Notification to 10.0.0.3 about example.com."}));
    EXPECT_EQ(pumps_, 2);
    EXPECT_EQ(trays_, (std::vector<int>{1, 1}));
    // The next call takes the next ID; past 32767 it starts again at 1.
    ids_.Set(32767);
    notifier_->Notify("example.com.");
    EXPECT_EQ(sender_.sent[2].data.substr(0, 2), std::string("\x00\x01", 2));
}

TEST_F(NotifyOut, NoListNoZoneNoMessageAndTheRootZoneIsShownAsRoot) {
    Zone("quiet.example.dns", "quiet.example.", "@ SOA ns hm 1 2 3 4 5\r\n");
    notifier_->Notify("quiet.example.");
    notifier_->Notify("absent.example.");
    EXPECT_TRUE(sender_.sent.empty());
    EXPECT_TRUE(lines_.empty());
    EXPECT_EQ(ids_.Last(), 0);

    Zone("_root.dns", ".", "; NOTIFY 10.0.0.5\r\n@ SOA ns.root. hm.root. 1 2 3 4 5\r\n");
    notifier_->Notify(".");
    ASSERT_EQ(sender_.sent.size(), 1u);
    EXPECT_EQ(sender_.sent[0].data.substr(12), std::string("\x00\x00\x06\x00\x01", 5));
    EXPECT_EQ(lines_.back(), "Sending Zone Update Notification to 10.0.0.5 about <root>");
}

TEST_F(NotifyOut, AFailedSendIsLoggedAndTheRestStillGoOutEvenIfTheZoneGoesMeanwhile) {
    Zone("example.com.dns", "example.com.",
         "; NOTIFY 10.0.0.2 10.0.0.3 10.0.0.4\r\n@ SOA ns hm 1 2 3 4 5\r\n");
    sender_.failFor = "10.0.0.2";
    // A handler run by the first pump drops the zone.
    onPump = [this] { store_.UnloadZone("example.com."); };
    notifier_->Notify("example.com.");
    ASSERT_EQ(sender_.sent.size(), 2u);
    EXPECT_EQ(sender_.sent[0].ip, "10.0.0.3");
    EXPECT_EQ(sender_.sent[1].ip, "10.0.0.4");
    EXPECT_EQ(sender_.sent[0].data, sender_.sent[1].data);
    EXPECT_NE(
        std::find(lines_.begin(), lines_.end(), "Zone Notify WS Error 101 Network is unreachable"),
        lines_.end());
    EXPECT_EQ(pumps_, 3);
}

}  // namespace
