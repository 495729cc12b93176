// The DHCP server against a recording sender and the fake clock. Client messages are built and
// replies decoded here by the BOOTP layout itself; expected replies are assembled field by field
// from the written layout and option list, never taken from the server's own output.
#include "server/dhcp/modDHCP.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/datetime.h"
#include "core/modIP.h"
#include "server/settings.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

using kest::test::FakeClock;
using kest::test::TempDir;
using namespace modDHCP;

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

const std::string kMacA = Bytes({0x00, 0x0C, 0x29, 0xAB, 0xCD, 0xEF});
const std::string kMacB = Bytes({0x02, 0x00, 0x00, 0x00, 0x00, 0x0B});
const std::string kXid = Bytes({0xDE, 0xAD, 0xBE, 0xEF});

// A client message: the BOOTP header fields and the options in the order given.
struct ClientMsg {
    int op = 1;
    int htype = 1;
    int hlen = 6;
    std::string xid = kXid;
    std::string ciaddr = "0.0.0.0";
    std::string chaddr = kMacA;
    std::vector<std::pair<int, std::string>> options;
    bool end = true;

    ClientMsg& Opt(int code, std::string value) {
        options.emplace_back(code, std::move(value));
        return *this;
    }
    std::string Wire() const {
        std::string w;
        w += static_cast<char>(op);
        w += static_cast<char>(htype);
        w += static_cast<char>(hlen);
        w += '\0';
        w += xid;
        w += std::string(4, '\0');
        w += modIP::IPToData(ciaddr);
        w += std::string(12, '\0');  // yiaddr, siaddr, giaddr
        std::string ch = chaddr;
        ch.resize(16, '\0');
        w += ch;
        w += std::string(192, '\0');
        w += Bytes({99, 130, 83, 99});
        for (const auto& [code, value] : options) {
            w += static_cast<char>(code);
            w += static_cast<char>(value.size());
            w += value;
        }
        if (end) w += static_cast<char>(255);
        return w;
    }
};

ClientMsg Discover(const std::string& host = "") {
    ClientMsg m;
    m.Opt(53, Bytes({1}));
    if (!host.empty()) m.Opt(12, host);
    return m;
}

ClientMsg Choose(const std::string& address, const std::string& server,
                 const std::string& host = "") {
    ClientMsg m;
    m.Opt(53, Bytes({3})).Opt(50, modIP::IPToData(address)).Opt(54, modIP::IPToData(server));
    if (!host.empty()) m.Opt(12, host);
    return m;
}

// A reply read by the layout: fixed fields and the option list in order.
struct Reply {
    int op = 0, htype = 0, hlen = 0, hops = 0;
    std::string xid, secsFlags, ciaddr, yiaddr, siaddrGiaddr, chaddr, snameFile, cookie;
    std::vector<std::pair<int, std::string>> options;
    bool wellFormed = false;

    std::string Option(int code) const {
        for (const auto& [c, v] : options)
            if (c == code) return v;
        return "<absent>";
    }
    std::vector<int> Codes() const {
        std::vector<int> out;
        for (const auto& o : options) out.push_back(o.first);
        return out;
    }
};

Reply Decode(const std::string& w) {
    Reply r;
    if (w.size() < 241) return r;
    auto b = [&](size_t i) { return static_cast<int>(static_cast<unsigned char>(w[i])); };
    r.op = b(0);
    r.htype = b(1);
    r.hlen = b(2);
    r.hops = b(3);
    r.xid = w.substr(4, 4);
    r.secsFlags = w.substr(8, 4);
    r.ciaddr = modIP::DataToIP(w.substr(12, 4));
    r.yiaddr = modIP::DataToIP(w.substr(16, 4));
    r.siaddrGiaddr = w.substr(20, 8);
    r.chaddr = w.substr(28, 16);
    r.snameFile = w.substr(44, 192);
    r.cookie = w.substr(236, 4);
    size_t p = 240;
    while (p < w.size()) {
        const int code = b(p);
        if (code == 255) {
            r.wellFormed = p + 1 == w.size();  // nothing after the end option
            return r;
        }
        if (p + 1 >= w.size()) return r;
        const size_t len = static_cast<size_t>(b(p + 1));
        if (p + 2 + len > w.size()) return r;
        r.options.emplace_back(code, w.substr(p + 2, len));
        p += 2 + len;
    }
    return r;
}

struct Sent {
    int16_t ws;
    std::string data, ip;
    uint16_t port;
};

class RecordingSender : public IDHCPSender {
  public:
    bool Send(int16_t ws, const std::string& data, const std::string& ip, uint16_t port) override {
        sent.push_back({ws, data, ip, port});
        return ok;
    }
    std::vector<Sent> sent;
    bool ok = true;
};

// Counts the reads of the present time: the scope walk's tests must not read it per address.
class CountingClock : public FakeClock {
  public:
    using FakeClock::FakeClock;
    double Now() const override {
        ++reads;
        return FakeClock::Now();
    }
    mutable int64_t reads = 0;
};

class DHCPTest : public ::testing::Test {
  protected:
    DHCPTest() : clock(kest::CivilToDays({2026, 12, 8, 12, 0, 30})) {
        settings.Name = "gateway";
        modMain::DHCPEntry e;
        e.IPaddr = "192.0.2.1";
        e.Domain = "lan.";
        e.ScopeFrom = "192.0.2.50";
        e.ScopeTo = "192.0.2.59";
        e.Subnet = "255.255.255.0";
        e.Gateway = "192.0.2.254";
        e.TTL = 259200;
        settings.DHCP.push_back(e);
        Build();
    }

    void Build() {
        DHCPContext c;
        c.settings = &settings;
        c.clock = &clock;
        c.leases = &leases;
        c.log = [this](int, std::string_view text) { log.emplace_back(text); };
        c.sender = &sender;
        c.socketAddress = [this](int16_t i) {
            return i >= 1 && static_cast<size_t>(i) <= settings.DHCP.size()
                       ? settings.DHCP[static_cast<size_t>(i - 1)].IPaddr
                       : std::string();
        };
        c.doTray = [this](int icon) { tray.push_back(icon); };
        c.totalRequests = &total;
        c.secondCounts = &seconds;
        server = std::make_unique<clDHCPServer>(std::move(c));
    }

    // One datagram on socket ws; the replies it caused.
    std::vector<Reply> Deliver(const std::string& wire, const std::string& from = "0.0.0.0",
                               int16_t ws = 1) {
        const size_t before = sender.sent.size();
        server->OnDatagram(ws, wire, from);
        std::vector<Reply> out;
        for (size_t i = before; i < sender.sent.size(); ++i)
            out.push_back(Decode(sender.sent[i].data));
        return out;
    }
    // The address offered to a discovery, or "" when none was.
    std::string Offered(const ClientMsg& m) {
        auto r = Deliver(m.Wire());
        if (r.size() != 1 || r[0].Option(53) != Bytes({kOffer})) return "";
        return r[0].yiaddr;
    }
    void AddLease(const std::string& name, const std::string& ip, double expires,
                  const std::string& id = "id", const std::string& hw = "hw") {
        leases.Append(clLease{expires, ip, name, id, hw});
    }
    const clLease* LeaseOf(const std::string& ip) const {
        for (const auto& l : leases.Leases())
            if (l.IPaddr == ip) return &l;
        return nullptr;
    }
    double Days(int64_t seconds) const {
        return kest::UnixToDays(kest::DaysToUnix(clock.Now()) + seconds);
    }

    TempDir dir;
    CountingClock clock;
    modMain::Settings settings;
    clLeases leases{settings, clock, dir.path()};
    RecordingSender sender;
    std::vector<std::string> log;
    std::vector<int> tray;
    double total = 0;
    std::array<int16_t, 60> seconds{};
    std::unique_ptr<clDHCPServer> server;
};

// ---- Replies byte for byte ----

TEST_F(DHCPTest, OfferLayoutAndOptionOrder) {
    ClientMsg m = Discover("PC-7.office");
    m.Opt(61, Bytes({1}) + kMacA);
    const auto replies = Deliver(m.Wire());
    ASSERT_EQ(replies.size(), 1u);
    const Reply& r = replies[0];
    EXPECT_EQ(r.op, 2);
    EXPECT_EQ(r.htype, 1);
    EXPECT_EQ(r.hlen, 6);
    EXPECT_EQ(r.hops, 0);
    EXPECT_EQ(r.xid, kXid);
    EXPECT_EQ(r.secsFlags, std::string(4, '\0'));
    EXPECT_EQ(r.ciaddr, "0.0.0.0");
    EXPECT_EQ(r.yiaddr, "192.0.2.50");
    EXPECT_EQ(r.siaddrGiaddr, std::string(8, '\0'));
    EXPECT_EQ(r.chaddr, kMacA + std::string(10, '\0'));
    EXPECT_EQ(r.snameFile, std::string(192, '\0'));
    EXPECT_EQ(r.cookie, Bytes({99, 130, 83, 99}));
    ASSERT_TRUE(r.wellFormed);
    EXPECT_EQ(r.Codes(), (std::vector<int>{53, 61, 1, 54, 51, 6, 3, 12, 15}));
    EXPECT_EQ(r.Option(53), Bytes({2}));
    EXPECT_EQ(r.Option(61), Bytes({1}) + kMacA);
    EXPECT_EQ(r.Option(1), Bytes({255, 255, 255, 0}));
    EXPECT_EQ(r.Option(54), Bytes({192, 0, 2, 1}));
    EXPECT_EQ(r.Option(51), Bytes({0, 3, 244, 128}));  // 259200 seconds
    EXPECT_EQ(r.Option(6), Bytes({192, 0, 2, 1}));     // no DNSBind: the interface's address
    EXPECT_EQ(r.Option(3), Bytes({192, 0, 2, 254}));
    EXPECT_EQ(r.Option(12), std::string("pc-7") + '\0');
    EXPECT_EQ(r.Option(15), "LAN");
    // A client without address hears the broadcast, on the socket the request came in on.
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0].ip, "255.255.255.255");
    EXPECT_EQ(sender.sent[0].port, 68);
    EXPECT_EQ(sender.sent[0].ws, 1);
    EXPECT_EQ(log, (std::vector<std::string>{"DHCP Discovery from pc-7",
                                             "Sending DHCP Offer to pc-7 for 192.0.2.50"}));
}

TEST_F(DHCPTest, OptionsFollowTheSettings) {
    settings.DHCP[0].Gateway = "0.0.0.0";
    settings.DHCP[0].TTL = 3600;
    settings.DHCP[0].Domain = "office.example.";
    settings.DNSBind = "192.0.2.9";
    const auto r = Deliver(Discover().Wire());
    ASSERT_EQ(r.size(), 1u);
    // No router option, no client identifier (none was sent), DNS server from DNSBind.
    EXPECT_EQ(r[0].Codes(), (std::vector<int>{53, 1, 54, 51, 6, 12, 15}));
    EXPECT_EQ(r[0].Option(51), Bytes({0, 0, 14, 16}));
    EXPECT_EQ(r[0].Option(6), Bytes({192, 0, 2, 9}));
    // Named from the hardware address, upper-case hexadecimal.
    EXPECT_EQ(r[0].Option(12), std::string("000C29ABCDEF") + '\0');
    EXPECT_EQ(r[0].Option(15), "OFFICE.EXAMPLE");
    ASSERT_NE(LeaseOf("192.0.2.50"), nullptr);
    EXPECT_EQ(LeaseOf("192.0.2.50")->ClientName, "000C29ABCDEF.office.example.");
}

TEST_F(DHCPTest, AcknowledgementNegativeAndRenewal) {
    const auto offer = Deliver(Discover("pc-7").Wire());
    ASSERT_EQ(offer.size(), 1u);
    // The offer is stored already over: DNS does not answer for it yet.
    EXPECT_TRUE(leases.ValidByName("pc-7.lan.").empty());

    auto ack = Deliver(Choose("192.0.2.50", "192.0.2.1", "pc-7").Wire());
    ASSERT_EQ(ack.size(), 1u);
    EXPECT_EQ(ack[0].Option(53), Bytes({kAck}));
    EXPECT_EQ(ack[0].yiaddr, "192.0.2.50");
    EXPECT_EQ(ack[0].Codes(), (std::vector<int>{53, 1, 54, 51, 6, 3, 12, 15}));
    ASSERT_EQ(leases.ValidByName("pc-7.lan.").size(), 1u);
    EXPECT_EQ(kest::DaysToUnix(LeaseOf("192.0.2.50")->Expires), kest::DaysToUnix(Days(259200)));
    EXPECT_EQ(log.back(), "Sending DHCP Acknowledgement to pc-7 for 192.0.2.50");
    EXPECT_EQ(log[log.size() - 2], "DHCP Lease Request from pc-7 for 192.0.2.50");

    // A day later the client renews from its address: a fresh lease time, sent to it directly.
    clock.Advance(86400);
    ClientMsg renew;
    renew.ciaddr = "192.0.2.50";
    renew.Opt(53, Bytes({3})).Opt(12, "pc-7");
    ack = Deliver(renew.Wire(), "192.0.2.50");
    ASSERT_EQ(ack.size(), 1u);
    EXPECT_EQ(ack[0].Option(53), Bytes({kAck}));
    EXPECT_EQ(ack[0].ciaddr, "192.0.2.50");
    EXPECT_EQ(sender.sent.back().ip, "192.0.2.50");
    EXPECT_EQ(sender.sent.back().port, 68);
    EXPECT_EQ(kest::DaysToUnix(LeaseOf("192.0.2.50")->Expires), kest::DaysToUnix(Days(259200)));
    EXPECT_EQ(leases.Count(), 1u);
    EXPECT_EQ(log[log.size() - 2], "DHCP Renewal Request from pc-7 for 192.0.2.50");

    // An address another client holds, and one outside the scope: refused, yiaddr 0.
    AddLease("other.lan.", "192.0.2.55", Days(3600));
    ClientMsg c = Choose("192.0.2.55", "192.0.2.1", "pc-9");
    c.chaddr = kMacB;
    auto nak = Deliver(c.Wire());
    ASSERT_EQ(nak.size(), 1u);
    EXPECT_EQ(nak[0].Option(53), Bytes({kNak}));
    EXPECT_EQ(nak[0].yiaddr, "0.0.0.0");
    EXPECT_EQ(nak[0].Codes(), (std::vector<int>{53, 1, 54, 51, 6, 3, 12, 15}));
    EXPECT_EQ(log.back(), "Sending DHCP Negative to pc-9 for 192.0.2.55");
    c = Choose("192.0.2.60", "192.0.2.1", "pc-9");
    c.chaddr = kMacB;
    nak = Deliver(c.Wire());
    ASSERT_EQ(nak.size(), 1u);
    EXPECT_EQ(nak[0].Option(53), Bytes({kNak}));
    EXPECT_EQ(LeaseOf("192.0.2.55")->ClientName, "other.lan.");
}

TEST_F(DHCPTest, RequestNamingAnotherServerOrNoneIsIgnored) {
    Deliver(Discover("pc-7").Wire());
    const size_t lines = log.size();
    EXPECT_TRUE(Deliver(Choose("192.0.2.50", "192.0.2.2", "pc-7").Wire()).empty());
    ClientMsg none;
    none.Opt(53, Bytes({3})).Opt(50, modIP::IPToData("192.0.2.50"));
    EXPECT_TRUE(Deliver(none.Wire()).empty());
    EXPECT_EQ(log.size(), lines);
    EXPECT_TRUE(leases.ValidByName("pc-7.lan.").empty());
}

TEST_F(DHCPTest, SendFailureIsLogged) {
    sender.ok = false;
    Deliver(Discover("pc-7").Wire());
    EXPECT_EQ(log.back(), "Winsock Error sending DHCP message.");
}

// ---- Choosing the address ----

TEST_F(DHCPTest, RequestedAddressInsideTheScopeIsOffered) {
    ClientMsg m = Discover("pc-7");
    m.Opt(50, modIP::IPToData("192.0.2.57"));
    EXPECT_EQ(Offered(m), "192.0.2.57");
    EXPECT_EQ(log.front(), "DHCP Discovery from pc-7 (Looking for 192.0.2.57)");
    // Stored with Expires = now, so not valid for DNS.
    EXPECT_EQ(LeaseOf("192.0.2.57")->Expires, clock.Now());
}

TEST_F(DHCPTest, RequestedAddressThatCannotBeHadGivesTheFirstFree) {
    settings.DHCP[0].ScopeFrom = "192.0.2.1";  // the server's own address lies in the scope
    AddLease("other.lan.", "192.0.2.2", Days(3600), "other", kMacB);
    int n = 0;
    for (const std::string wanted : {"10.9.9.9", "192.0.2.1", "192.0.2.2", "0.0.0.0"}) {
        leases.RemoveFirstClientID("", kMacA);
        ClientMsg m = Discover("pc-7");
        m.Opt(50, modIP::IPToData(wanted));
        EXPECT_EQ(Offered(m), "192.0.2.3") << wanted;
        ++n;
    }
    EXPECT_EQ(n, 4);
}

TEST_F(DHCPTest, NeverLeasedPreferredToExpired) {
    AddLease("old.lan.", "192.0.2.50", Days(-60), "old1");
    AddLease("old2.lan.", "192.0.2.51", Days(-60), "old2");
    EXPECT_EQ(Offered(Discover("pc-7")), "192.0.2.52");
    // With every address leased once, the strict pass finds nothing and the lenient one takes
    // the first whose lease is over, replacing that lease.
    leases.Clear();
    for (int i = 50; i <= 59; ++i)
        AddLease("h" + std::to_string(i) + ".lan.", "192.0.2." + std::to_string(i),
                 i == 53 || i == 56 ? Days(-1) : Days(3600), "id" + std::to_string(i));
    EXPECT_EQ(Offered(Discover("pc-7")), "192.0.2.53");
    EXPECT_EQ(LeaseOf("192.0.2.53")->ClientName, "pc-7.lan.");
    EXPECT_EQ(leases.Count(), 10u);
}

TEST_F(DHCPTest, FullScopeGetsNoOffer) {
    for (int i = 50; i <= 59; ++i)
        AddLease("h" + std::to_string(i) + ".lan.", "192.0.2." + std::to_string(i), Days(3600),
                 "id" + std::to_string(i));
    EXPECT_EQ(Offered(Discover("pc-7")), "");
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_EQ(log, (std::vector<std::string>{"DHCP Discovery from pc-7"}));
}

TEST_F(DHCPTest, NameHeldByAnotherClientOrTheServerGetsNoOffer) {
    AddLease("pc-7.lan.", "192.0.2.58", Days(3600), "someone-else", kMacB);
    ClientMsg m = Discover("pc-7");
    m.Opt(50, modIP::IPToData("192.0.2.51"));
    EXPECT_EQ(Offered(m), "");
    // Once that lease is over, the name is free again.
    clock.Advance(3601);
    EXPECT_EQ(Offered(Discover("pc-7")), "192.0.2.50");
    // The server's own name with the interface's domain.
    settings.Name = "gateway.lan";
    ClientMsg g = Discover("gateway");
    g.chaddr = kMacB;
    EXPECT_EQ(Offered(g), "");
}

TEST_F(DHCPTest, ReversedScopeIsTurnedRoundWhenRead) {
    modMain::Settings s;
    modMain::ParseINI(s, "DHCP: 192.0.2.1 lan 192.0.2.59 192.0.2.50 255.255.255.0 0.0.0.0 0\r\n");
    ASSERT_EQ(s.DHCP.size(), 1u);
    EXPECT_EQ(s.DHCP[0].ScopeFrom, "192.0.2.50");
    EXPECT_EQ(s.DHCP[0].ScopeTo, "192.0.2.59");
    settings.DHCP = s.DHCP;
    EXPECT_EQ(Offered(Discover("pc-7")), "192.0.2.50");
}

// The scope walk gives what ValidLease gives address by address, on random tables.
TEST_F(DHCPTest, ScopeWalkAgreesWithValidLease) {
    std::mt19937 rng(7);
    clDHCPif f = clDHCPif::FromEntry(settings.DHCP[0]);
    f.ScopeFrom = "192.0.2.0";
    f.ScopeTo = "192.0.2.20";
    f.IPaddr = "192.0.2.3";
    const std::vector<std::string> names = {"a.lan.", "b.lan.", "c.lan.", "gateway."};
    for (int round = 0; round < 300; ++round) {
        leases.Clear();
        const int n = static_cast<int>(rng() % 24);
        for (int i = 0; i < n; ++i) {
            AddLease(names[rng() % 3], "192.0.2." + std::to_string(rng() % 24),
                     Days(static_cast<int64_t>(rng() % 3) * 100 - 100));
        }
        for (const auto& name : names) {
            for (bool lenient : {false, true}) {
                std::string expected;
                for (std::string a = f.ScopeFrom;; a = modIP::NextIP(a)) {
                    if (leases.ValidLease(f, a, name, lenient)) {
                        expected = a;
                        break;
                    }
                    if (a == f.ScopeTo) break;
                }
                ASSERT_EQ(server->FirstFree(f, name, lenient), expected)
                    << "round " << round << " " << name << " lenient " << lenient;
            }
        }
    }
}

TEST_F(DHCPTest, WideScopeIsWalkedWithoutTestingTheNamePerAddress) {
    settings.DHCP[0].ScopeFrom = "10.1.0.0";
    settings.DHCP[0].ScopeTo = "10.1.255.255";
    settings.DHCP[0].IPaddr = "10.1.0.1";
    // Every address but the last is held.
    for (int i = 0; i < 256; ++i)
        for (int j = 0; j < 256; ++j)
            if (i != 255 || j != 255)
                leases.Append(clLease{Days(3600),
                                      "10.1." + std::to_string(i) + "." + std::to_string(j),
                                      "h" + std::to_string(i * 256 + j) + ".lan.", "", ""});
    clock.reads = 0;
    EXPECT_EQ(Offered(Discover("pc-7")), "10.1.255.255");
    // Reading the time per address tested (as ValidLease does) would make this 65536 and more.
    EXPECT_LT(clock.reads, 20);
}

// ---- Who the client is ----

TEST_F(DHCPTest, ClientsWithoutIdentifierAreToldByHardwareAddress) {
    // Client A gets its address.
    Deliver(Discover("pc-a").Wire());
    ASSERT_EQ(Deliver(Choose("192.0.2.50", "192.0.2.1", "pc-a").Wire()).size(), 1u);
    ASSERT_EQ(leases.ValidByName("pc-a.lan.").size(), 1u);
    // Client B, no identifier either, must not take A's lease away.
    ClientMsg b = Discover("pc-b");
    b.chaddr = kMacB;
    EXPECT_EQ(Offered(b), "192.0.2.51");
    b = Choose("192.0.2.51", "192.0.2.1", "pc-b");
    b.chaddr = kMacB;
    ASSERT_EQ(Deliver(b.Wire()).size(), 1u);
    EXPECT_EQ(leases.ValidByName("pc-a.lan.").size(), 1u);
    EXPECT_EQ(leases.ValidByName("pc-b.lan.").size(), 1u);
    // B's release expires B's lease only.
    ClientMsg rel;
    rel.chaddr = kMacB;
    rel.ciaddr = "192.0.2.51";
    rel.Opt(53, Bytes({7})).Opt(54, modIP::IPToData("192.0.2.1"));
    EXPECT_TRUE(Deliver(rel.Wire(), "192.0.2.51").empty());
    EXPECT_EQ(log.back(), "DHCP Release from 192.0.2.51");
    EXPECT_EQ(leases.ValidByName("pc-a.lan.").size(), 1u);
    EXPECT_TRUE(leases.ValidByName("pc-b.lan.").empty());
    EXPECT_EQ(LeaseOf("192.0.2.51")->Expires, clock.Now());
}

TEST_F(DHCPTest, ClientIdentifierWinsOverHardwareAddress) {
    const std::string id = Bytes({1}) + kMacA;
    ClientMsg m = Discover("pc-7");
    m.Opt(61, id);
    EXPECT_EQ(Offered(m), "192.0.2.50");
    // The same identifier from another card replaces the offer rather than adding one.
    m.chaddr = kMacB;
    EXPECT_EQ(Offered(m), "192.0.2.50");
    EXPECT_EQ(leases.Count(), 1u);
    EXPECT_EQ(LeaseOf("192.0.2.50")->HWAddr, kMacB);
    EXPECT_EQ(LeaseOf("192.0.2.50")->ClientID, id);
}

TEST_F(DHCPTest, EmptyClientIdentifierIsNotEchoed) {
    ClientMsg m = Discover("pc-7");
    m.Opt(61, "");
    const auto r = Deliver(m.Wire());
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].Option(61), "<absent>");
    EXPECT_EQ(LeaseOf("192.0.2.50")->ClientID, "");
    EXPECT_EQ(LeaseOf("192.0.2.50")->HWAddr, kMacA);
}

TEST_F(DHCPTest, DeclineIsOnlyLogged) {
    Deliver(Discover("pc-7").Wire());
    ASSERT_EQ(Deliver(Choose("192.0.2.50", "192.0.2.1", "pc-7").Wire()).size(), 1u);
    const auto before = leases.Leases();
    ClientMsg d;
    d.Opt(53, Bytes({4})).Opt(12, "pc-7").Opt(50, modIP::IPToData("192.0.2.50"));
    EXPECT_TRUE(Deliver(d.Wire()).empty());
    EXPECT_EQ(log.back(), "DHCP Decline from pc-7");
    EXPECT_EQ(leases.Leases(), before);
}

// ---- What a client sends that is malformed ----

TEST_F(DHCPTest, ShortOrForeignDatagramsAreNotParsed) {
    const std::string whole = Discover("pc-7").Wire();
    EXPECT_TRUE(Deliver(std::string(1, '\1')).empty());
    EXPECT_TRUE(Deliver(whole.substr(0, 240)).empty());
    ClientMsg reply = Discover("pc-7");
    reply.op = 2;
    EXPECT_TRUE(Deliver(reply.Wire()).empty());
    std::string badCookie = whole;
    badCookie[239] = 98;
    EXPECT_TRUE(Deliver(badCookie).empty());
    EXPECT_EQ(total, 0);
    // A message cut in two datagrams is not put together again.
    EXPECT_TRUE(Deliver(whole.substr(0, 236)).empty());
    EXPECT_TRUE(Deliver(whole.substr(236)).empty());
    EXPECT_TRUE(log.empty());
    // The whole message still gets its offer.
    EXPECT_EQ(Deliver(whole).size(), 1u);
    EXPECT_EQ(total, 1);
}

TEST_F(DHCPTest, TruncatedOptionsAreAbandoned) {
    std::string w = Discover("pc-7").Wire();
    w.pop_back();  // no end option
    EXPECT_TRUE(Deliver(w).empty());
    EXPECT_TRUE(Deliver(w + Bytes({12})).empty());               // code without length
    EXPECT_TRUE(Deliver(w + Bytes({12, 5, 'a', 'b'})).empty());  // value runs out
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(leases.Empty());
    // Statistics count even the abandoned ones.
    EXPECT_EQ(total, 3);
}

TEST_F(DHCPTest, EndAndPadNeedNoLengthByte) {
    ClientMsg m = Discover("pc-7");
    m.end = false;
    // Pad bytes, then the end option as the very last byte.
    const auto r = Deliver(m.Wire() + Bytes({0, 0, 0, 255}));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].Option(12), std::string("pc-7") + '\0');
    // Unknown options are skipped by their length.
    ClientMsg k;
    k.chaddr = kMacB;
    k.Opt(55, Bytes({1, 3, 6})).Opt(53, Bytes({1})).Opt(12, "pc-8");
    EXPECT_EQ(Offered(k), "192.0.2.51");
}

TEST_F(DHCPTest, OversizedFieldsAreCut) {
    ClientMsg m = Discover(std::string(100, 'x') + ".example");
    m.hlen = 200;
    m.chaddr = std::string(16, '\x11');
    const auto r = Deliver(m.Wire());
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].hlen, 16);
    EXPECT_EQ(r[0].chaddr, std::string(16, '\x11'));
    EXPECT_EQ(r[0].Option(12), std::string(63, 'x') + '\0');
    EXPECT_EQ(LeaseOf("192.0.2.50")->ClientName, std::string(63, 'x') + ".lan.");
    EXPECT_EQ(LeaseOf("192.0.2.50")->HWAddr, std::string(16, '\x11'));

    // No hardware address: a long identifier stands in for it, and the name made from it is
    // still one label; every option sent stays within its length byte.
    ClientMsg n = Discover();
    n.hlen = 0;
    n.Opt(61, std::string(255, '\xAB'));
    const auto q = Deliver(n.Wire());
    ASSERT_EQ(q.size(), 1u);
    ASSERT_TRUE(q[0].wellFormed);
    EXPECT_EQ(q[0].hlen, 16);
    EXPECT_EQ(q[0].Option(61), std::string(255, '\xAB'));
    std::string hex;  // HWToHex of 0xAB bytes, cut to one label
    while (hex.size() < 63) hex += hex.size() % 2 ? 'B' : 'A';
    EXPECT_EQ(q[0].Option(12), hex + '\0');
}

TEST_F(DHCPTest, ClientWithNothingToTellItByGetsNoAnswer) {
    ClientMsg m = Discover("pc-7");
    m.hlen = 0;
    EXPECT_TRUE(Deliver(m.Wire()).empty());
    m.Opt(61, "");
    EXPECT_TRUE(Deliver(m.Wire()).empty());
    EXPECT_TRUE(leases.Empty());
    // An identifier alone will do: it stands in for the hardware address.
    m = Discover("pc-7");
    m.hlen = 0;
    m.Opt(61, "id");
    EXPECT_EQ(Offered(m), "192.0.2.50");
    EXPECT_EQ(LeaseOf("192.0.2.50")->HWAddr, "id");
}

TEST_F(DHCPTest, HostNameCleaning) {
    EXPECT_EQ(CleanHostName("PC-7.office"), "pc-7");
    EXPECT_EQ(CleanHostName(std::string("Lap top\0junk", 12)), "laptop");
    EXPECT_EQ(CleanHostName("$%!"), "");
    // A name that cleans to nothing falls back to the hardware address.
    EXPECT_EQ(Offered(Discover("$%!")), "192.0.2.50");
    EXPECT_EQ(LeaseOf("192.0.2.50")->ClientName, "000C29ABCDEF.lan.");
}

// ---- Where a message is taken ----

TEST_F(DHCPTest, StatisticsAndInterfaceOfTheSocket) {
    modMain::DHCPEntry second = settings.DHCP[0];
    second.IPaddr = "198.51.100.1";
    second.ScopeFrom = "198.51.100.10";
    second.ScopeTo = "198.51.100.20";
    second.Domain = "lab.";
    settings.DHCP.push_back(second);
    auto r = Deliver(Discover("pc-7").Wire(), "0.0.0.0", 2);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].yiaddr, "198.51.100.10");
    EXPECT_EQ(r[0].Option(54), Bytes({198, 51, 100, 1}));
    EXPECT_EQ(sender.sent.back().ws, 2);
    EXPECT_EQ(total, 1);
    // The clock stands at second 30: that second counted, the next one cleared.
    seconds[31] = 5;
    Deliver(Discover("pc-8").Wire(), "0.0.0.0", 1);
    EXPECT_EQ(seconds[30], 2);
    EXPECT_EQ(seconds[31], 0);
    // A socket that belongs to no interface answers nothing.
    EXPECT_TRUE(Deliver(Discover("pc-9").Wire(), "0.0.0.0", 7).empty());
    EXPECT_EQ(tray.back(), 1);
}

}  // namespace
