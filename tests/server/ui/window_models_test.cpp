// The graph's drawing, the leases window's list and the root file check, without a display.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "core/datetime.h"
#include "server/ui/frmGraph.h"
#include "server/ui/frmLeases.h"
#include "server/ui/rootfile.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_prompt.h"
#include "tests/support/temp_dir.h"

namespace {

using serverui::frmGraph;

TEST(Graph, ScaleAndOrderFromTheOldestSecond) {
    std::array<int16_t, 60> counts{};
    // Present second 10: the oldest shown is 11, the newest 10.
    counts[11] = 4;
    counts[10] = 7;
    counts[0] = 2;
    const auto g = frmGraph::Draw(counts, 10, 400, 200);
    EXPECT_EQ(g.scale, 7);
    ASSERT_EQ(g.counts.size(), 60u);
    EXPECT_EQ(g.counts.front(), 4);
    EXPECT_EQ(g.counts.back(), 7);
    EXPECT_EQ(g.counts[49], 2);  // second 0 comes 49 places after second 11

    ASSERT_TRUE(g.axes);
    ASSERT_EQ(g.line.size(), 60u);
    EXPECT_DOUBLE_EQ(g.line.front().x, g.left);
    EXPECT_DOUBLE_EQ(g.line.back().x, g.right);
    EXPECT_DOUBLE_EQ(g.line.back().y, g.top);  // the largest count reaches the scale
    EXPECT_DOUBLE_EQ(g.line[1].y, g.bottom);   // an idle second lies on the axis
    EXPECT_DOUBLE_EQ(g.line.front().y, g.bottom - (g.bottom - g.top) * 4 / 7);
    for (size_t i = 1; i < g.line.size(); ++i) EXPECT_GT(g.line[i].x, g.line[i - 1].x);
}

TEST(Graph, IdleMinuteAndSmallArea) {
    std::array<int16_t, 60> counts{};
    auto g = frmGraph::Draw(counts, 59, 400, 200);
    EXPECT_EQ(g.scale, 1);  // at least 1
    for (const auto& p : g.line) EXPECT_DOUBLE_EQ(p.y, g.bottom);
    counts[0] = 3;
    g = frmGraph::Draw(counts, 59, 400, 200);
    EXPECT_EQ(g.counts.front(), 3);  // after second 59 comes 0

    // Too small for axes: 54 high or 99 wide.
    EXPECT_FALSE(frmGraph::Draw(counts, 0, 400, 54).axes);
    EXPECT_FALSE(frmGraph::Draw(counts, 0, 99, 200).axes);
    EXPECT_TRUE(frmGraph::Draw(counts, 0, 100, 55).axes);
    EXPECT_TRUE(frmGraph::Draw(counts, 0, 99, 200).line.empty());
}

class LeasesTest : public ::testing::Test {
  protected:
    clLease Lease(const std::string& name, const std::string& ip, const std::string& hw,
                  double expires) {
        clLease l;
        l.ClientName = name;
        l.IPaddr = ip;
        l.HWAddr = hw;
        l.ClientID = "\x01" + hw;
        l.Expires = expires;
        return l;
    }

    // Local time one hour ahead of UTC, so the shown expiry must be converted.
    kest::test::FakeClock clock_{kest::CivilToDays({2026, 12, 9, 12, 0, 0}), 3600};
    kest::test::RecordingPrompt prompt_;
    kest::test::TempDir dir_;
    modMain::Settings settings_;
    clLeases leases_{settings_, clock_, dir_.path()};
    serverui::frmLeases window_{leases_, clock_, &prompt_};
};

TEST_F(LeasesTest, ListShowsUnexpiredLeasesWithTheirColumns) {
    const double now = clock_.Now();
    const double hour = 1.0 / 24;
    leases_.Append(Lease("pc-7.lan.", "10.0.0.50", std::string("\x00\x0c\x29\xab\xcd\xef", 6),
                         now + 6 * hour));
    leases_.Append(Lease("old.lan.", "10.0.0.51", "\x01\x02", now - hour));  // expired
    leases_.Append(Lease("pc-8.lan.", "10.0.0.52", "\xff", now + 2 * hour));
    leases_.Append(Lease("offer.lan.", "10.0.0.53", "\x03", now));  // expires now: not valid
    window_.RefreshList();
    ASSERT_EQ(window_.Items.size(), 2u);
    const auto& a = window_.Items[0];
    EXPECT_EQ(a.key, "K10.0.0.50");
    EXPECT_EQ(a.text, "pc-7.lan");
    EXPECT_EQ(a.ipaddr, "10.0.0.50");
    EXPECT_EQ(a.hwaddr, "000C29ABCDEF");
    EXPECT_EQ(a.expires, "2026-12-09 19:00:00");  // 18:00 UTC shown in local time
    EXPECT_EQ(window_.Items[1].key, "K10.0.0.52");
    // The earliest shown expiry is when the list must be built again.
    EXPECT_DOUBLE_EQ(window_.NextExpiry, now + 2 * hour);
    EXPECT_FALSE(window_.Due());
    clock_.Advance(2 * 3600 + 1);
    EXPECT_TRUE(window_.Due());
    window_.RefreshList();
    EXPECT_EQ(window_.Items.size(), 1u);

    // Without leases the list is built again a day later at the latest.
    leases_.Clear();
    window_.RefreshList();
    EXPECT_TRUE(window_.Items.empty());
    EXPECT_DOUBLE_EQ(window_.NextExpiry, clock_.Now() + 1.0);
}

TEST_F(LeasesTest, DeleteAfterTheWarningRemovesEveryLeaseOfThatAddress) {
    const double now = clock_.Now();
    leases_.Append(Lease("a.lan.", "10.0.0.50", "\x0a", now + 1));
    leases_.Append(Lease("b.lan.", "10.0.0.50", "\x0b", now - 1));  // expired, same address
    leases_.Append(Lease("c.lan.", "10.0.0.60", "\x0c", now + 1));
    window_.RefreshList();

    // Cancel keeps everything.
    prompt_.askAnswers = {platform::IPrompt::Answer::Cancel};
    window_.DelLease("K10.0.0.50");
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    EXPECT_EQ(prompt_.boxes[0].text, "Please re-boot that client to avoid IP-Address conflicts!");
    EXPECT_EQ(prompt_.boxes[0].buttons, platform::IPrompt::Buttons::OkCancel);
    EXPECT_EQ(prompt_.boxes[0].icon, platform::IPrompt::Icon::Information);
    EXPECT_EQ(leases_.Count(), 3u);

    window_.DelLease("K10.0.0.50");  // OK
    ASSERT_EQ(leases_.Count(), 1u);
    EXPECT_EQ(leases_.Leases()[0].IPaddr, "10.0.0.60");
    ASSERT_EQ(window_.Items.size(), 1u);
    EXPECT_EQ(window_.Items[0].key, "K10.0.0.60");

    // An empty list asks nothing.
    leases_.Clear();
    window_.RefreshList();
    window_.DelLease("K10.0.0.60");
    EXPECT_EQ(prompt_.boxes.size(), 2u);
}

TEST(RootFile, OnlyRootServersWithAddressesPass) {
    using serverui::RootFileUsable;
    // The published form: comments, TTLs, continuation of the owner.
    EXPECT_TRUE(
        RootFileUsable(";       This file holds the information on root name servers\r\n"
                       ".                        3600000      NS    A.ROOT-SERVERS.NET.\r\n"
                       "A.ROOT-SERVERS.NET.      3600000      A     198.41.0.4\r\n"
                       "A.ROOT-SERVERS.NET.      3600000      AAAA  2001:503:ba3e::2:30\r\n"));
    EXPECT_TRUE(RootFileUsable(". IN NS m.root.\nm.root. IN A 10.53.0.1\n"));
    // A name server without an address, or an address that is no address.
    EXPECT_FALSE(RootFileUsable(". 3600 NS a.root.\nb.root. 3600 A 10.0.0.1\n"));
    EXPECT_FALSE(RootFileUsable(". 3600 NS a.root.\na.root. 3600 A 10.0.0.300\n"));
    // NS records of another zone only.
    EXPECT_FALSE(RootFileUsable("com. 3600 NS a.gtld.\na.gtld. 3600 A 10.0.0.1\n"));
    // An error page, and nothing at all.
    EXPECT_FALSE(
        RootFileUsable("<!DOCTYPE html>\n<html><head><title>404 Not Found</title>\n"
                       "</head><body>. NS</body></html>\n"));
    EXPECT_FALSE(RootFileUsable(""));
    // A commented-out server does not count.
    EXPECT_FALSE(RootFileUsable("; . 3600 NS a.root.\na.root. 3600 A 10.0.0.1\n"));
}

}  // namespace
