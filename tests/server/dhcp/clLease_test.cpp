#include "server/dhcp/clLease.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "core/datetime.h"
#include "core/report.h"
#include "platform/files.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;
using kest::kSecond;
using kest::test::FakeClock;
using kest::test::TempDir;

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

constexpr int kOffset = 3600;  // local time one hour ahead of UTC

// Equal leases, expiry compared in whole seconds (the file holds no fractions).
void ExpectSame(const clLease& a, const clLease& b) {
    EXPECT_EQ(kest::DaysToUnix(a.Expires), kest::DaysToUnix(b.Expires));
    EXPECT_EQ(a.IPaddr, b.IPaddr);
    EXPECT_EQ(a.ClientName, b.ClientName);
    EXPECT_EQ(a.ClientID, b.ClientID);
    EXPECT_EQ(a.HWAddr, b.HWAddr);
}

class LeaseTest : public ::testing::Test {
  protected:
    LeaseTest() : clock(kest::CivilToDays({2026, 12, 8, 12, 0, 0}), kOffset) {
        settings.Name = "gateway";
        iface.IPaddr = "10.0.0.1";
        iface.ScopeFrom = "10.0.0.50";
        iface.ScopeTo = "10.0.0.99";
        iface.Domain = "lan.";
    }

    // The UTC moment whose local wall-clock time is t.
    double Local(const kest::CivilTime& t) const {
        return kest::UnixToDays(kest::DaysToUnix(kest::CivilToDays(t)) - kOffset);
    }
    clLease Lease(std::string name, std::string ip, double expires, std::string id = "x") const {
        return clLease{expires, std::move(ip), std::move(name), std::move(id), "hw"};
    }
    void WriteFile(const std::string& text) {
        std::ofstream(dir.path() / "dhcp.dat", std::ios::binary) << text;
    }

    TempDir dir;
    FakeClock clock;
    modMain::Settings settings;
    clDHCPif iface;
    clLeases table{settings, clock, dir.path()};
};

TEST(LeaseHex, ConversionsBothWays) {
    const std::string id = Bytes({1, 0, 12, 41, 171, 205, 239});
    EXPECT_EQ(modDHCP::HWToHex(id), "01000C29ABCDEF");
    EXPECT_EQ(modDHCP::HWToHex(""), "");
    EXPECT_EQ(modDHCP::HWToHex(Bytes({255, 0})), "FF00");
    EXPECT_EQ(modDHCP::HexToHW("01000C29ABCDEF"), id);
    EXPECT_EQ(modDHCP::HexToHW("01000c29abcdef"), id);
    // A final odd character is ignored; a pair stops at its first non-digit.
    EXPECT_EQ(modDHCP::HexToHW("ABC"), Bytes({0xAB}));
    EXPECT_EQ(modDHCP::HexToHW("A"), "");
    EXPECT_EQ(modDHCP::HexToHW("0GG1"), Bytes({0, 0}));
    EXPECT_EQ(modDHCP::HexToHW("1G"), Bytes({1}));
}

TEST_F(LeaseTest, LineOfTheFileBothWays) {
    clLease lease{Local({2026, 12, 9, 18, 0, 0}), "10.0.0.50", "pc-7.lan.",
                  Bytes({1, 0, 12, 41, 171, 205, 239}), Bytes({0, 12, 41, 171, 205, 239})};
    const std::string line = modDHCP::LeaseLine(lease, clock);
    EXPECT_EQ(line, "pc-7.lan. 10.0.0.50 01000C29ABCDEF 000C29ABCDEF 2026-12-09 18:00:00");
    auto back = modDHCP::ParseLeaseLine(line, clock);
    ASSERT_TRUE(back);
    ExpectSame(*back, lease);
}

TEST_F(LeaseTest, OlderFourFieldForm) {
    auto lease = modDHCP::ParseLeaseLine("pc-7.lan. 10.0.0.50 01000C 2026-12-09 18:00:00", clock);
    ASSERT_TRUE(lease);
    EXPECT_EQ(lease->ClientID, Bytes({1, 0, 12}));
    EXPECT_EQ(lease->HWAddr, "");
    EXPECT_EQ(kest::DaysToUnix(lease->Expires), kest::DaysToUnix(Local({2026, 12, 9, 18, 0, 0})));
    // A date alone counts as midnight.
    lease = modDHCP::ParseLeaseLine("pc-7.lan. 10.0.0.50 01 2026-12-09", clock);
    ASSERT_TRUE(lease);
    EXPECT_EQ(kest::DaysToUnix(lease->Expires), kest::DaysToUnix(Local({2026, 12, 9, 0, 0, 0})));
}

TEST_F(LeaseTest, LeaseWithoutClientIdentifierKeepsItsFields) {
    clLease lease{Local({2026, 12, 9, 18, 0, 0}), "10.0.0.51", "pc-8.lan.", "",
                  Bytes({0, 12, 41, 1, 2, 3})};
    const std::string line = modDHCP::LeaseLine(lease, clock);
    EXPECT_EQ(line, "pc-8.lan. 10.0.0.51  000C29010203 2026-12-09 18:00:00");
    auto back = modDHCP::ParseLeaseLine(line, clock);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->ClientID, "");
    EXPECT_EQ(back->HWAddr, lease.HWAddr);

    // Neither identifier nor hardware address.
    lease.HWAddr.clear();
    back = modDHCP::ParseLeaseLine(modDHCP::LeaseLine(lease, clock), clock);
    ASSERT_TRUE(back);
    ExpectSame(*back, lease);

    // Extra blanks typed by hand between five fields still read as five fields.
    back = modDHCP::ParseLeaseLine("pc-8.lan. 10.0.0.51  0102 0A0B 2026-12-09 18:00:00", clock);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->ClientID, Bytes({1, 2}));
    EXPECT_EQ(back->HWAddr, Bytes({10, 11}));
}

TEST_F(LeaseTest, FieldsAreCleaned) {
    auto lease = modDHCP::ParseLeaseLine(
        "\t PC-9.Lan  010.000.000.052   AB   CD  2026-12-09 18:00:00  ; note", clock);
    ASSERT_TRUE(lease);
    EXPECT_EQ(lease->ClientName, "pc-9.lan.");
    EXPECT_EQ(lease->IPaddr, "10.0.0.52");
    EXPECT_EQ(lease->ClientID, Bytes({0xAB}));
    EXPECT_EQ(lease->HWAddr, Bytes({0xCD}));
}

TEST_F(LeaseTest, MalformedLinesGiveNothing) {
    for (const char* line :
         {"", "   ", "; Kestrune - DHCP Leases", "pc.lan.", "pc.lan. 10.0.0.5",
          "pc.lan. 10.0.0.5 01", "pc.lan. 10.0.0.5 01 02", "pc.lan. 10.0.0.5 01 02 tomorrow",
          "pc.lan. 10.0.0.5 01 02 2026-13-01", "pc.lan. 10.0.0.5 01 02 2026-12-09 25:00:00",
          "pc.lan. 10.0.0.5 01 02 2026-12-09 18:00:00 extra",
          "pc.lan. 10.0.0.5 ; 01 02 2026-12-09 18:00:00"})
        EXPECT_FALSE(modDHCP::ParseLeaseLine(line, clock)) << line;
}

TEST_F(LeaseTest, LoadSkipsBadLinesAndKeepsTheRest) {
    WriteFile(
        "; Kestrune - DHCP Leases\r\n"
        "a.lan. 10.0.0.50 01 0A 2026-12-09 18:00:00\r\n"
        "garbage line\r\n"
        "b.lan. 10.0.0.51 02 2026-12-01 08:00:00\n"
        "c.lan. 10.0.0.52 03 0C 2026-99-09 18:00:00\r\n"
        "d.lan. 10.0.0.53 04 0D 2026-12-10 18:00:00");
    table.Append(Lease("old.lan.", "10.0.0.90", clock.Now() + 1));
    table.Load();
    ASSERT_EQ(table.Count(), 3u);
    EXPECT_EQ(table.Leases()[0].ClientName, "a.lan.");
    EXPECT_EQ(table.Leases()[1].ClientName, "b.lan.");
    EXPECT_EQ(table.Leases()[1].HWAddr, "");
    EXPECT_EQ(table.Leases()[2].ClientName, "d.lan.");
    EXPECT_FALSE(table.Changed());
}

TEST_F(LeaseTest, MissingFileGivesEmptyTable) {
    table.Append(Lease("old.lan.", "10.0.0.90", clock.Now() + 1));
    int notified = 0;
    table.SetObserver([&] { ++notified; });
    table.Load();
    EXPECT_TRUE(table.Empty());
    EXPECT_EQ(notified, 1);
}

TEST_F(LeaseTest, SaveAndLoadRoundTrip) {
    table.Append(clLease{Local({2026, 12, 9, 18, 0, 0}), "10.0.0.50", "pc-7.lan.",
                         Bytes({1, 0, 12, 41, 171, 205, 239}), Bytes({0, 12, 41, 171, 205, 239})});
    table.Append(clLease{clock.Now() - 1, "10.0.0.51", "000C29ABCDEE.lan.", "",
                         Bytes({0, 12, 41, 171, 205, 238})});
    table.Append(clLease{clock.Now() + 600 * kSecond, "10.0.0.52", "x.lan.", Bytes({7}), ""});
    ASSERT_TRUE(table.Changed());
    ASSERT_TRUE(table.SaveLeases());
    EXPECT_FALSE(table.Changed());

    const auto text = platform::ReadFile(dir.path() / "dhcp.dat");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->substr(0, 26), "; Kestrune - DHCP Leases\r\n");
    EXPECT_NE(text->find("pc-7.lan. 10.0.0.50 01000C29ABCDEF 000C29ABCDEF 2026-12-09 18:00:00\r\n"),
              std::string::npos);
    EXPECT_EQ(platform::ListFiles(dir.path()).size(), 1u);  // no temporary left behind

    const std::vector<clLease> saved = table.Leases();
    clLeases other{settings, clock, dir.path()};
    other.Load();
    ASSERT_EQ(other.Count(), 3u);
    ExpectSame(other.Leases()[0], saved[0]);
    // Names read from the file are lower-cased, as every name the server keeps.
    EXPECT_EQ(other.Leases()[1].ClientName, "000c29abcdee.lan.");
    EXPECT_EQ(other.Leases()[1].HWAddr, saved[1].HWAddr);
    EXPECT_EQ(other.Leases()[1].ClientID, "");
    ExpectSame(other.Leases()[2], saved[2]);
}

TEST_F(LeaseTest, ChangesAreSavedByTheNextCall) {
    EXPECT_TRUE(table.SaveIfChanged());
    EXPECT_FALSE(fs::exists(dir.path() / "dhcp.dat"));  // nothing to save yet
    table.Append(Lease("a.lan.", "10.0.0.50", clock.Now() + 1));
    EXPECT_TRUE(table.SaveIfChanged());
    EXPECT_TRUE(fs::exists(dir.path() / "dhcp.dat"));
    EXPECT_FALSE(table.Changed());
    table.Release("x");
    EXPECT_TRUE(table.Changed());
    table.SaveIfChanged();
    clLeases other{settings, clock, dir.path()};
    other.Load();
    ASSERT_EQ(other.Count(), 1u);
    EXPECT_FALSE(other.Leases()[0].ValidAt(clock.Now()));
}

TEST_F(LeaseTest, SaveFailureIsReported) {
    std::vector<std::string> reports;
    auto previous = kest::SetErrorSink(
        [&](const std::string& where, const std::string&, const kest::RunError& e) {
            reports.push_back(where + " " + std::to_string(e.number));
        });
    clLeases broken{settings, clock, dir.path() / "missing" / "folder"};
    broken.Append(Lease("a.lan.", "10.0.0.50", clock.Now() + 1));
    EXPECT_FALSE(broken.SaveLeases());
    EXPECT_FALSE(broken.SaveIfChanged());  // not tried again at once
    EXPECT_EQ(reports.size(), 1u);
    clock.Advance(60);
    EXPECT_FALSE(broken.SaveIfChanged());
    EXPECT_TRUE(broken.Changed());  // still pending
    kest::SetErrorSink(previous);
    EXPECT_EQ(reports, (std::vector<std::string>{"modDHCP SaveLeases 2", "modDHCP SaveLeases 2"}));
}

TEST_F(LeaseTest, AddressTests) {
    for (bool lenient : {false, true}) {
        EXPECT_FALSE(table.ValidLease(iface, "", "a.lan.", lenient));
        EXPECT_FALSE(table.ValidLease(iface, "0.0.0.0", "a.lan.", lenient));
        EXPECT_FALSE(table.ValidLease(iface, "10.0.0.1", "a.lan.", lenient));
        EXPECT_FALSE(table.ValidLease(iface, "10.0.0.49", "a.lan.", lenient));
        EXPECT_FALSE(table.ValidLease(iface, "10.0.0.100", "a.lan.", lenient));
        EXPECT_TRUE(table.ValidLease(iface, "10.0.0.50", "a.lan.", lenient));
        EXPECT_TRUE(table.ValidLease(iface, "10.0.0.99", "a.lan.", lenient));
    }
    // Bit strings compare as numbers: 10.0.0.9 is below 10.0.0.50 though "9" > "5".
    EXPECT_FALSE(table.ValidAddress(iface, "10.0.0.9", true));

    table.Append(Lease("old.lan.", "10.0.0.60", clock.Now() - kSecond));
    table.Append(Lease("live.lan.", "10.0.0.61", clock.Now() + kSecond));
    // An address ever leased is refused strictly; only a live one leniently.
    EXPECT_FALSE(table.ValidLease(iface, "10.0.0.60", "a.lan.", false));
    EXPECT_TRUE(table.ValidLease(iface, "10.0.0.60", "a.lan.", true));
    EXPECT_FALSE(table.ValidLease(iface, "10.0.0.61", "a.lan.", true));
    EXPECT_FALSE(table.ValidAddress(iface, "10.0.0.61", true));
}

TEST_F(LeaseTest, NameTests) {
    table.Append(Lease("old.lan.", "10.0.0.60", clock.Now() - kSecond));
    table.Append(Lease("live.lan.", "10.0.0.61", clock.Now() + kSecond));
    // Any lease's name is refused leniently, only a live one strictly.
    EXPECT_FALSE(table.ValidLease(iface, "10.0.0.70", "old.lan.", true));
    EXPECT_TRUE(table.ValidLease(iface, "10.0.0.70", "old.lan.", false));
    EXPECT_FALSE(table.ValidLease(iface, "10.0.0.70", "live.lan.", false));
    EXPECT_FALSE(table.ValidLease(iface, "10.0.0.70", "live.lan.", true));
    // The server's own name.
    EXPECT_FALSE(table.ValidLease(iface, "10.0.0.70", "gateway.", true));
    EXPECT_FALSE(table.ValidLease(iface, "10.0.0.70", "gateway.", false));
    EXPECT_TRUE(table.ValidLease(iface, "10.0.0.70", "gateway.lan.", false));
    // The address tests of a lease request ignore names.
    EXPECT_TRUE(table.ValidAddress(iface, "10.0.0.70", true));
}

TEST_F(LeaseTest, RemoveAndRelease) {
    table.Append(Lease("a.lan.", "10.0.0.50", clock.Now() + 1, "id1"));
    table.Append(Lease("b.lan.", "10.0.0.51", clock.Now() + 1, "id2"));
    table.Append(Lease("c.lan.", "10.0.0.52", clock.Now() + 1, "id2"));
    table.Append(Lease("a.lan.", "10.0.0.53", clock.Now() - 1, "id3"));
    table.Append(Lease("d.lan.", "10.0.0.54", clock.Now() + 1, ""));

    const auto before = table.Leases();
    table.Release("nobody");
    EXPECT_EQ(table.Leases(), before);
    table.Release("");  // clients without identifier are told by hardware address only
    EXPECT_EQ(table.Leases(), before);
    // All leases have hardware address "hw"; only d.lan. has no identifier.
    table.Release("", "hw");
    EXPECT_FALSE(table.Leases()[4].ValidAt(clock.Now()));
    EXPECT_TRUE(table.Leases()[0].ValidAt(clock.Now()));

    table.Release("id2");
    EXPECT_EQ(table.Leases()[1].Expires, clock.Now());
    EXPECT_FALSE(table.Leases()[1].ValidAt(clock.Now()));
    EXPECT_TRUE(table.Leases()[2].ValidAt(clock.Now()));
    EXPECT_EQ(table.Count(), 5u);

    // By address or by name, expired leases included.
    table.Remove("10.0.0.51", "a.lan.");
    ASSERT_EQ(table.Count(), 2u);
    EXPECT_EQ(table.Leases()[0].ClientName, "c.lan.");
    EXPECT_EQ(table.Leases()[1].ClientName, "d.lan.");

    EXPECT_TRUE(table.RemoveFirstClientID("id2"));
    EXPECT_FALSE(table.RemoveFirstClientID("id2"));
    EXPECT_FALSE(table.RemoveFirstClientID(""));
    EXPECT_FALSE(table.RemoveFirstClientID("", "other"));
    EXPECT_TRUE(table.RemoveFirstClientID("", "hw"));
    EXPECT_TRUE(table.Empty());
    table.Append(Lease("e.lan.", "10.0.0.55", clock.Now() + 1));
    table.RemoveAddress("10.0.0.55");
    EXPECT_TRUE(table.Empty());
}

}  // namespace
