// The look-up window's controller on a scripted network: what it sends, which replies it takes,
// the output and status texts, the zone transfer and WHOIS flows, and the view settings.
#include "lookup/frmQuery.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "platform/settings_store.h"
#include "tests/lookup/fake_net.h"
#include "tests/support/recording_launcher.h"
#include "tests/support/recording_prompt.h"
#include "tests/support/temp_dir.h"

using namespace lookup;
using namespace kest::test;

namespace {

class QueryTest : public ::testing::Test {
  protected:
    QueryTest() : q(net, prompt, launcher) {
        q.serverText = "127.0.0.9";
        q.showServer = true;
        q.OnBeep = [this] { ++beeps; };
        q.OnFinished = [this](bool ok) { finished.push_back(ok); };
    }

    unsigned LastId() const {
        const std::string& d = net.sent.back().data;
        return (static_cast<uint8_t>(d[0]) << 8) | static_cast<uint8_t>(d[1]);
    }
    // The reply to the last query from its server, with the given flag bytes and records.
    void Reply(uint8_t b3, uint8_t b4, unsigned an, const std::string& records, int idDelta = 0) {
        const auto& s = net.sent.back();
        const std::string question = s.data.substr(12);
        const std::string msg =
            Header(LastId() + idDelta, b3, b4, 1, an, 0, 0) + question + records;
        q.OnDatagram(msg, s.ip, s.port);
    }

    FakeQueryNet net;
    RecordingPrompt prompt;
    RecordingLauncher launcher;
    frmQuery q;
    int beeps = 0;
    std::vector<bool> finished;
};

std::string Frame(const std::string& m) {
    return U16(static_cast<unsigned>(m.size())) + m;
}

}  // namespace

TEST_F(QueryTest, QueryBytesFollowTheFields) {
    q.nameText = "www.example.test";
    q.LookUp("MX");
    ASSERT_EQ(net.sent.size(), 1u);
    EXPECT_EQ(net.sent[0].ip, "127.0.0.9");
    EXPECT_EQ(net.sent[0].port, 53);
    EXPECT_EQ(net.sent[0].data, Header(1, 0x01, 0, 1, 0, 0, 0) + Question("www.example.test", 15));
    EXPECT_EQ(q.StatusText(), "Waiting for answer from 127.0.0.9");
    EXPECT_FALSE(q.InputsEnabled());
    EXPECT_FALSE(q.LookUpEnabled());
    EXPECT_FALSE(q.CopyEnabled());
    EXPECT_TRUE(q.StopEnabled());
    EXPECT_TRUE(q.StopMenuVisible());
    EXPECT_FALSE(q.LookUpMenuVisible());
    EXPECT_EQ(q.LookUpCaption(), "MX");
    EXPECT_EQ(q.CurrentType(), "MX");

    q.recursion = false;
    q.dnsPort = 5353;
    q.Stop();
    q.LookUp("Any");
    EXPECT_EQ(net.sent.back().port, 5353);
    EXPECT_EQ(net.sent.back().data,
              Header(2, 0x00, 0, 1, 0, 0, 0) + Question("www.example.test", 255));
    // Every type of the menu sends its code.
    const unsigned codes[] = {1, 15, 5, 2, 12, 6, 33, 16};
    const char* words[] = {"a", "mx", "cname", "ns", "ptr", "soa", "srv", "txt"};
    for (int i = 0; i < 8; ++i) {
        q.Stop();
        q.LookUp(words[i]);
        const std::string& d = net.sent.back().data;
        EXPECT_EQ(d.substr(d.size() - 4), U16(codes[i]) + U16(1)) << words[i];
    }
    EXPECT_EQ(q.LookUpCaption(), "TXT");
    q.Stop();
    q.LookUp("A");
    EXPECT_EQ(q.LookUpCaption(), "Look Up");
}

TEST_F(QueryTest, AddressAsAOrPtrAsksForTheReverseName) {
    q.nameText = "10.0.0.1";
    q.LookUp("A");
    EXPECT_EQ(q.nameText, "1.0.0.10.in-addr.arpa");
    EXPECT_EQ(q.CurrentType(), "PTR");
    EXPECT_EQ(net.sent.back().data.substr(12), Question("1.0.0.10.in-addr.arpa", 12));
    // Other types keep the address as the name.
    q.Stop();
    q.nameText = "10.0.0.1";
    q.LookUp("MX");
    EXPECT_EQ(net.sent.back().data.substr(12), Question("10.0.0.1", 15));
}

TEST_F(QueryTest, NothingHappensWithoutNameOrServer) {
    q.nameText = "";
    q.LookUp("A");
    q.nameText = "x.test";
    q.serverText = "";
    q.LookUp("A");
    EXPECT_TRUE(net.sent.empty());
    EXPECT_TRUE(q.InputsEnabled());
}

TEST_F(QueryTest, IdsRunToAndWrapAfter65535) {
    q.nameText = "x.test";
    for (unsigned i = 1; i <= 65535; ++i) {
        q.LookUp("A");
        ASSERT_EQ(LastId(), i);
    }
    q.LookUp("A");
    EXPECT_EQ(LastId(), 1u);
    q.LookUp("A");
    EXPECT_EQ(LastId(), 2u);
}

TEST_F(QueryTest, RepliesMustMatchIdQrAndServer) {
    q.nameText = "x.test";
    q.LookUp("A");
    const std::string rec = RR(WireName("x.test"), 1, 60, std::string("\x01\x02\x03\x04", 4));
    Reply(0x80, 0x80, 1, rec, +1);  // another ID
    Reply(0x00, 0x80, 1, rec);      // QR clear: a query
    // From another address, and from another port of the right address.
    const auto s = net.sent.back();
    const std::string good = Header(LastId(), 0x80, 0x80, 1, 1, 0, 0) + s.data.substr(12) + rec;
    q.OnDatagram(good, "127.0.0.8", 53);
    q.OnDatagram(good, "127.0.0.9", 5353);
    EXPECT_EQ(q.Output(), "");
    EXPECT_TRUE(finished.empty());
    EXPECT_TRUE(net.udpOpen);

    q.OnDatagram(good, "127.0.0.9", 53);
    EXPECT_EQ(q.Output(),
              "Authoritative Answer: No\r\nRecursion Available: Yes\r\n\r\nAnswer:\r\n"
              "A-record for x.test. = 1.2.3.4\r\n    TTL = 1 Minute\r\n");
    EXPECT_EQ(q.StatusText(), "Done");
    EXPECT_EQ(q.Icon(), StatusIcon::Ready);
    EXPECT_FALSE(net.udpOpen);
    EXPECT_TRUE(q.InputsEnabled());
    EXPECT_TRUE(q.CopyEnabled());
    EXPECT_FALSE(q.StopEnabled());
    EXPECT_EQ(finished, std::vector<bool>{true});
    // A late copy after Done changes nothing.
    q.OnDatagram(good + "junk", "127.0.0.9", 53);
    EXPECT_EQ(finished.size(), 1u);

    q.Copy();
    EXPECT_EQ(prompt.clipboard, q.Output());
}

TEST_F(QueryTest, NameErrorOutput) {
    q.nameText = "missing.test";
    q.LookUp("A");
    Reply(0x85, 0x83, 0, "");
    EXPECT_EQ(q.Output(),
              "Authoritative Answer: Yes\r\nRecursion Available: Yes\r\n\r\nHeader:\r\n"
              "Name does not exist!\r\n");
    EXPECT_EQ(q.StatusText(), "Done");
}

TEST_F(QueryTest, MalformedReplyLeavesTheWindowWaiting) {
    q.nameText = "x.test";
    q.LookUp("A");
    Reply(0x80, 0x80, 2, RR(WireName("x.test"), 1, 60, "\1\2\3\4"));  // a second record is missing
    EXPECT_NE(q.Output().find("A-record for x.test. = 1.2.3.4"), std::string::npos);
    EXPECT_TRUE(finished.empty());
    EXPECT_FALSE(q.InputsEnabled());
    q.Stop();
    EXPECT_EQ(q.StatusText(), "Ready");
    EXPECT_TRUE(q.InputsEnabled());
}

TEST_F(QueryTest, FailedSendIsRepeatedAtMostThreeTimes) {
    q.nameText = "x.test";
    net.sendErrors = {ENOBUFS, EAGAIN};
    q.LookUp("A");
    EXPECT_EQ(net.sendCalls, 3);
    EXPECT_EQ(net.sent.size(), 1u);
    EXPECT_EQ(q.StatusText(), "Waiting for answer from 127.0.0.9");

    q.Stop();
    net.sendCalls = 0;
    net.sendErrors = {ENOBUFS, ENOBUFS, ENOBUFS, ENOBUFS, ENOBUFS};
    q.LookUp("A");
    EXPECT_EQ(net.sendCalls, 3);
    EXPECT_EQ(q.StatusText(), "Cannot connect to 127.0.0.9");
    EXPECT_EQ(q.Icon(), StatusIcon::Error);
    EXPECT_EQ(beeps, 1);
    EXPECT_TRUE(q.InputsEnabled());
    EXPECT_FALSE(q.StopEnabled());
    EXPECT_EQ(finished, std::vector<bool>{false});

    // A send that fails for good is not repeated.
    net.sendCalls = 0;
    net.sendErrors = {ENETUNREACH};
    q.LookUp("A");
    EXPECT_EQ(net.sendCalls, 1);
    EXPECT_EQ(q.StatusText(), "Cannot connect to 127.0.0.9");
}

TEST_F(QueryTest, HostNameIsResolvedWithoutWaiting) {
    q.serverText = "ns.example.test";
    q.nameText = "x.test";
    q.LookUp("A");
    // The look-up has started and returned: nothing sent yet, Stop available.
    ASSERT_EQ(net.resolves.size(), 1u);
    EXPECT_EQ(net.resolves[0].host, "ns.example.test");
    EXPECT_TRUE(net.sent.empty());
    EXPECT_EQ(q.StatusText(), "Resolving IP address of name server ns.example.test");
    EXPECT_TRUE(q.StopEnabled());

    q.OnResolved(net.resolves[0].ticket, "127.0.0.44", "");
    ASSERT_EQ(net.sent.size(), 1u);
    EXPECT_EQ(net.sent[0].ip, "127.0.0.44");
    EXPECT_EQ(q.StatusText(), "Waiting for answer from ns.example.test");
    Reply(0x84, 0x00, 0, "");
    EXPECT_EQ(q.StatusText(), "Done");

    // A late answer to an abandoned look-up is dropped; a failed one cannot connect.
    q.LookUp("A");
    q.Stop();
    q.OnResolved(net.resolves[1].ticket, "127.0.0.44", "");
    EXPECT_EQ(net.sent.size(), 1u);
    q.LookUp("A");
    q.OnResolved(net.resolves[2].ticket, "", "Host not found");
    EXPECT_EQ(q.StatusText(), "Cannot connect to ns.example.test");
    EXPECT_EQ(q.Icon(), StatusIcon::Error);
}

TEST_F(QueryTest, HiddenServerFieldReturnsToTheLastDnsServer) {
    q.showServer = false;
    q.nameText = "x.test";
    q.LookUp("A");
    q.Stop();
    q.serverText = "whois.example";  // as a WHOIS look-up would leave it
    q.LookUp("A");
    EXPECT_EQ(q.serverText, "127.0.0.9");
    EXPECT_EQ(net.sent.back().ip, "127.0.0.9");
}

TEST_F(QueryTest, HistoriesListEachTextOnce) {
    q.nameText = "a.test";
    q.LookUp("A");
    q.Stop();
    q.LookUp("MX");
    q.Stop();
    q.nameText = "A.test";
    q.LookUp("A");
    EXPECT_EQ(q.nameHistory, (std::vector<std::string>{"a.test", "A.test"}));
    EXPECT_EQ(q.serverHistory, std::vector<std::string>{"127.0.0.9"});
}

TEST_F(QueryTest, ZoneTransferAcrossMessages) {
    q.nameText = "z.test";
    q.LookUp("AXFR");
    ASSERT_EQ(net.connects.size(), 1u);
    EXPECT_EQ(net.connects[0].ch, Channel::Zone);
    EXPECT_EQ(net.connects[0].port, 53);
    EXPECT_EQ(q.StatusText(), "Establishing connection with 127.0.0.9");
    q.OnTcpConnect(Channel::Zone);
    const std::string query = Header(1, 0x01, 0, 1, 0, 0, 0) + Question("z.test", 252);
    EXPECT_EQ(net.tcpSent[0], Frame(query));
    EXPECT_EQ(q.StatusText(), "Waiting for answer from 127.0.0.9");

    const std::string soa =
        WireName("ns.z.test") + WireName("h.z.test") + U32(1) + U32(2) + U32(3) + U32(4) + U32(5);
    const std::string m1 = Header(1, 0x84, 0, 1, 1, 0, 0) + Question("z.test", 252) +
                           RR(WireName("z.test"), 6, 60, soa);
    const std::string m2 =
        Header(1, 0x84, 0, 0, 1, 0, 0) + RR(WireName("a.z.test"), 1, 60, "\1\1\1\1");
    const std::string m3 = Header(1, 0x84, 0, 0, 2, 0, 0) +
                           RR(WireName("b.z.test"), 1, 60, "\2\2\2\2") +
                           RR(WireName("z.test"), 6, 60, soa);
    const std::string stream = Frame(m1) + Frame(m2) + Frame(m3);
    q.OnTcpData(Channel::Zone, stream.substr(0, 5));
    EXPECT_EQ(q.StatusText(), "Receiving Zone Transfer from 127.0.0.9");
    EXPECT_EQ(q.Output(), "");
    q.OnTcpData(Channel::Zone, stream.substr(5, m1.size() + 3));  // m1 and one byte of m2
    EXPECT_TRUE(q.CopyEnabled());
    EXPECT_TRUE(
        q.Output().starts_with("Zone Transfer:\r\n\r\nSOA-record for z.test. = ns.z.test.\r\n"))
        << q.Output();
    q.OnTcpData(Channel::Zone, stream.substr(m1.size() + 8));
    EXPECT_EQ(q.StatusText(), "Done");
    EXPECT_FALSE(net.tcpOpen[0]);
    const std::string& out = q.Output();
    EXPECT_NE(out.find("A-record for a.z.test. = 1.1.1.1\r\n    TTL = 1 Minute\r\n"
                       "A-record for b.z.test. = 2.2.2.2\r\n    TTL = 1 Minute\r\n"),
              std::string::npos);
    // The closing SOA is not written.
    EXPECT_EQ(out.find("SOA-record"), out.rfind("SOA-record"));
    EXPECT_EQ(finished, std::vector<bool>{true});
}

TEST_F(QueryTest, ZoneTransferEndsWhenTheServerCloses) {
    q.nameText = "z.test";
    q.LookUp("AXFR");
    q.OnTcpConnect(Channel::Zone);
    // The whole zone in one message: both SOAs are written, and only the close ends it.
    const std::string soa =
        WireName("n") + WireName("r") + U32(1) + U32(2) + U32(3) + U32(4) + U32(5);
    const std::string m = Header(1, 0x84, 0, 1, 3, 0, 0) + Question("z.test", 252) +
                          RR(WireName("z.test"), 6, 60, soa) +
                          RR(WireName("a.z.test"), 1, 60, "\1\1\1\1") +
                          RR(WireName("z.test"), 6, 60, soa);
    q.OnTcpData(Channel::Zone, Frame(m));
    EXPECT_TRUE(finished.empty());
    EXPECT_EQ(q.StatusText(), "Receiving Zone Transfer from 127.0.0.9");
    q.OnTcpClose(Channel::Zone);
    EXPECT_EQ(q.StatusText(), "Done");
    EXPECT_EQ(finished, std::vector<bool>{true});
    const std::string& out = q.Output();
    EXPECT_NE(out.find("SOA-record"), out.rfind("SOA-record"));

    // A close before any whole message: the socket's error text.
    q.LookUp("AXFR");
    q.OnTcpConnect(Channel::Zone);
    q.OnTcpData(Channel::Zone, Frame(m).substr(0, 10));
    q.OnTcpClose(Channel::Zone);
    EXPECT_EQ(q.StatusText(), std::strerror(ECONNRESET));
    EXPECT_EQ(q.Icon(), StatusIcon::Error);
    EXPECT_EQ(finished, (std::vector<bool>{true, false}));
}

TEST_F(QueryTest, ZoneTransferErrors) {
    q.nameText = "z.test";
    q.LookUp("AXFR");
    q.OnTcpConnect(Channel::Zone);
    q.OnTcpData(Channel::Zone, Frame(Header(1, 0x80, 0x05, 1, 0, 0, 0) + Question("z.test", 252)));
    EXPECT_EQ(q.Output(),
              "Header:\r\nRefused - will not answer this client or this query type.\r\n");
    EXPECT_EQ(q.StatusText(), "Done");
    EXPECT_FALSE(net.tcpOpen[0]);

    q.LookUp("AXFR");
    q.OnTcpError(Channel::Zone, ECONNREFUSED, "Connection refused");
    EXPECT_EQ(q.StatusText(), "Connection refused");
    EXPECT_EQ(q.Icon(), StatusIcon::Error);
    EXPECT_EQ(beeps, 1);

    net.refuseConnect = true;
    q.LookUp("AXFR");
    EXPECT_EQ(q.StatusText(), "Cannot connect to 127.0.0.9");

    // Stop drops what comes after it.
    net.refuseConnect = false;
    q.LookUp("AXFR");
    q.OnTcpConnect(Channel::Zone);
    q.Stop();
    EXPECT_FALSE(net.tcpOpen[0]);
    q.OnTcpData(Channel::Zone, Frame(Header(1, 0x80, 0, 0, 0, 0, 0)));
    EXPECT_EQ(q.Output(), "");
    EXPECT_EQ(q.StatusText(), "Ready");
}

namespace {

class WhoisTest : public QueryTest {
  protected:
    WhoisTest() {
        q.nameText = "example.com";
        q.serverText = "whois.verisign-grs.com";
    }
    // The server answers the current connection and closes.
    void Answer(const std::string& text) {
        q.OnTcpConnect(Channel::Whois);
        q.OnTcpData(Channel::Whois, text);
        q.OnTcpClose(Channel::Whois);
    }
    std::vector<std::string> Hosts() const {
        std::vector<std::string> h;
        for (const auto& r : net.resolves) h.push_back(r.host);
        return h;
    }
    void ResolveLast(const std::string& ip) { q.OnResolved(net.resolves.back().ticket, ip, ""); }
};

}  // namespace

TEST_F(WhoisTest, RegistryRefersToTheRegistrar) {
    q.nameText = "www.example.com";
    q.LookUp("WHOIS");
    EXPECT_EQ(q.nameText, "example.com");
    EXPECT_EQ(q.StatusText(), "Resolving IP address of WHOIS server whois.verisign-grs.com");
    ResolveLast("127.0.0.43");
    EXPECT_EQ(net.connects.back().port, 43);
    EXPECT_EQ(net.connects.back().ip, "127.0.0.43");
    q.OnTcpConnect(Channel::Whois);
    EXPECT_EQ(net.tcpSent[1], "example.com\r\n");
    q.OnTcpData(Channel::Whois,
                "Domain Name: EXAMPLE.COM\n   Registrar WHOIS Server: whois.registrar.test\n");
    EXPECT_EQ(q.StatusText(), "Receiving answer from whois.verisign-grs.com");
    q.OnTcpClose(Channel::Whois);
    EXPECT_EQ(q.serverText, "whois.registrar.test");
    EXPECT_EQ(Hosts().back(), "whois.registrar.test");
    ResolveLast("127.0.0.44");
    Answer("Registrant: Example\r\nline two\n");
    EXPECT_EQ(q.Output(), "Registrant: Example\r\nline two\r\n");
    EXPECT_EQ(q.StatusText(), "Done");
    EXPECT_EQ(q.serverHistory,
              (std::vector<std::string>{"whois.verisign-grs.com", "whois.registrar.test"}));
}

TEST_F(WhoisTest, LineEndsAcrossChunks) {
    q.serverText = "127.0.0.50";
    q.LookUp("WHOIS");
    q.OnTcpConnect(Channel::Whois);
    q.OnTcpData(Channel::Whois, "a\r");
    q.OnTcpData(Channel::Whois, "\nb\n\nc");
    q.OnTcpClose(Channel::Whois);
    EXPECT_EQ(q.Output(), "a\r\nb\r\n\r\nc");
}

TEST_F(WhoisTest, ReferralsAreBoundedAndNeverBackToTheSameServer) {
    // The registry naming itself: no second question.
    q.LookUp("WHOIS");
    ResolveLast("127.0.0.43");
    Answer("Whois Server: whois.verisign-grs.com\r\nself\r\n");
    EXPECT_EQ(Hosts().size(), 1u);
    EXPECT_EQ(q.StatusText(), "Done");
    EXPECT_EQ(q.Output(), "Whois Server: whois.verisign-grs.com\r\nself\r\n");

    // ARIN -> RIPE -> ... a chain of registries that keep referring: three referrals at most.
    q.nameText = "192.0.2.1";
    q.serverText = "whois.arin.net";
    net.resolves.clear();
    q.LookUp("WHOIS");
    ResolveLast("127.0.0.60");
    Answer("Maintainer: RIPE\r\n");
    EXPECT_EQ(q.serverText, "whois.ripe.net");
    ResolveLast("127.0.0.61");
    Answer("nothing to follow\r\n");
    EXPECT_EQ(Hosts(), (std::vector<std::string>{"whois.arin.net", "whois.ripe.net"}));
    EXPECT_EQ(q.Output(), "nothing to follow\r\n");

    q.nameText = "192.0.2.2";
    q.serverText = "whois.arin.net";
    net.resolves.clear();
    q.LookUp("WHOIS");
    ResolveLast("127.0.0.60");
    Answer("Maintainer:  ap \r\n");
    EXPECT_EQ(q.serverText, "whois.apnic.net");

    // A referral back under another spelling is still the same server.
    q.nameText = "example.com";
    q.serverText = "whois.verisign-grs.com";
    net.resolves.clear();
    q.LookUp("WHOIS");
    ResolveLast("127.0.0.43");
    Answer("Registrar WHOIS Server:  WHOIS.Verisign-GRS.com \r\n");
    EXPECT_EQ(Hosts().size(), 1u);
    EXPECT_EQ(q.StatusText(), "Done");

    // The count: with the rules above no chain can come back to the registry by itself, so the
    // field is put back to the registry before each answer (as a registrar that is the registry
    // under another name would) and the fourth referral is refused.
    net.resolves.clear();
    q.LookUp("WHOIS");
    for (int hop = 1; hop <= 4; ++hop) {
        ResolveLast("127.0.0.43");
        q.serverText = "whois.verisign-grs.com";
        Answer("Whois Server: whois.r" + std::to_string(hop) + ".test\r\n");
    }
    EXPECT_EQ(Hosts().size(), 4u);  // the first question and three referrals
    EXPECT_EQ(q.StatusText(), "Done");
    EXPECT_EQ(q.Output(), "Whois Server: whois.r4.test\r\n");
}

TEST_F(WhoisTest, AutoServerByTopLevelDomain) {
    TempDir dir;
    std::ofstream(dir.path() / "whois.dat")
        << "com : whois.verisign-grs.com\r\nuk : whois.nic.uk\r\n";
    q.Load(dir.path());
    q.autoWhois = true;
    q.nameText = "example.uk";
    q.serverText = "x";
    q.LookUp("WHOIS");
    EXPECT_EQ(q.serverText, "whois.nic.uk");
    q.Stop();
    q.nameText = "nodot";  // "com"
    q.LookUp("WHOIS");
    EXPECT_EQ(q.serverText, "whois.verisign-grs.com");
    q.Stop();
    q.nameText = "example.zz";  // no entry: unchanged
    q.LookUp("WHOIS");
    EXPECT_EQ(q.serverText, "whois.verisign-grs.com");
    q.Stop();
    q.nameText = "192.0.2.9";
    q.LookUp("WHOIS");
    EXPECT_EQ(q.serverText, "whois.arin.net");
    // Without auto the field stays.
    q.Stop();
    q.autoWhois = false;
    q.serverText = "127.0.0.7";
    q.nameText = "example.uk";
    q.LookUp("WHOIS");
    EXPECT_EQ(q.serverText, "127.0.0.7");
    EXPECT_EQ(net.connects.back().ip, "127.0.0.7");
}

TEST_F(WhoisTest, ConnectionFailures) {
    q.serverText = "127.0.0.7";
    q.LookUp("WHOIS");
    q.OnTcpError(Channel::Whois, ECONNREFUSED, "Connection refused");
    EXPECT_EQ(q.StatusText(), "Cannot connect to 127.0.0.7");
    EXPECT_EQ(q.Icon(), StatusIcon::Error);
    // Stop makes the close handler do nothing.
    q.LookUp("WHOIS");
    q.OnTcpConnect(Channel::Whois);
    q.OnTcpData(Channel::Whois, "partial");
    q.Stop();
    q.OnTcpClose(Channel::Whois);
    EXPECT_EQ(q.Output(), "");
    EXPECT_EQ(q.StatusText(), "Ready");
}

TEST_F(QueryTest, StartFilesAndViewSettings) {
    TempDir dir;
    std::ofstream(dir.path() / "kestrund.ini") << "Name: ns1\r\nPrimaryIP: 10.1.2.3\r\n";
    q.Load(dir.path());
    EXPECT_EQ(q.serverText, "10.1.2.3");
    std::ofstream(dir.path() / "kestrund.ini") << "PrimaryIP: ns1.example\r\n";
    q.Load(dir.path());
    EXPECT_EQ(q.serverText, "0.0.0.0");  // through four bytes and back
    TempDir empty;
    q.Load(empty.path());
    EXPECT_EQ(q.serverText, "127.0.0.1");
    EXPECT_TRUE(q.WhoisTable().empty());

    platform::SettingsStore store(dir.path() / "user.ini");
    q.ReadSettings(store);
    EXPECT_TRUE(q.showToolBar);
    EXPECT_TRUE(q.showStatusBar);
    EXPECT_FALSE(q.showServer);
    q.showToolBar = false;
    q.showServer = true;
    q.WriteSettings(store);
    frmQuery other(net, prompt, launcher);
    platform::SettingsStore again(dir.path() / "user.ini");
    other.ReadSettings(again);
    EXPECT_FALSE(other.showToolBar);
    EXPECT_TRUE(other.showStatusBar);
    EXPECT_TRUE(other.showServer);
}

TEST_F(QueryTest, HelpCopyAndCleaning) {
    q.Copy();
    EXPECT_EQ(prompt.clipboard, "");  // nothing to copy
    q.Help();
    ASSERT_EQ(launcher.urls.size(), 1u);
    EXPECT_EQ(launcher.urls[0], platform::ManualUrl("lookup.html"));
    q.supportPage = "https://support.example/lookup";
    q.OnlineSupport();
    EXPECT_EQ(launcher.urls.back(), "https://support.example/lookup");
    launcher.succeed = false;
    q.OnlineSupport();
    ASSERT_EQ(prompt.boxes.size(), 1u);
    EXPECT_EQ(prompt.boxes[0].text, "Could not open https://support.example/lookup");

    q.nameText = " WWW..Example.COM. ";
    q.NameLeft();
    EXPECT_EQ(q.nameText, "www.example.com");
    q.serverText = " 127.0.0.1 ";
    q.ServerLeft();
    EXPECT_EQ(q.serverText, "127.0.0.1");
}
