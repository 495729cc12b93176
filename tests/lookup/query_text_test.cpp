// The look-up tool's text rules: names, addresses, durations, type names, record lines and the
// files read at start. Messages are built byte by byte (fake_net.h), expected lines written from
// the rules.
#include "lookup/query_text.h"

#include <gtest/gtest.h>

#include "tests/lookup/fake_net.h"

using namespace lookup;
using namespace kest::test;

TEST(LookupText, CleaningNames) {
    EXPECT_EQ(CleanQueryName("  WWW.Example.COM. "), "www.example.com");
    EXPECT_EQ(CleanQueryName("..a..b...c.."), "a.b.c");
    EXPECT_EQ(CleanQueryName("a b*c!d_e/f-g"), "abcd_e/f-g");
    EXPECT_EQ(CleanQueryName("..."), "");
    EXPECT_EQ(CleanQueryName(""), "");
}

TEST(LookupText, AddressesAndReverseNames) {
    EXPECT_TRUE(IsIPAddress("10.0.0.1"));
    EXPECT_TRUE(IsIPAddress("255.255.255.255"));
    EXPECT_FALSE(IsIPAddress("256.1.1.1"));  // 256 becomes 0
    EXPECT_FALSE(IsIPAddress("010.0.0.1"));  // leading zero does not come back
    EXPECT_FALSE(IsIPAddress("1.2.3"));      // the missing byte comes back as .0
    EXPECT_FALSE(IsIPAddress("example.com"));
    EXPECT_FALSE(IsIPAddress("1.2.3.4.5"));
    EXPECT_EQ(IPText(IPToBytes("1.2.3")), "1.2.3.0");
    EXPECT_EQ(IPText(IPToBytes("-5.300.x.7")), "5.0.0.7");
    EXPECT_EQ(IPText(IPToBytes("ns1.example.com")), "0.0.0.0");
    EXPECT_EQ(ReverseName("10.0.0.1"), "1.0.0.10.in-addr.arpa");
    EXPECT_EQ(ReverseName("192.168.7.254"), "254.7.168.192.in-addr.arpa");
}

TEST(LookupText, Durations) {
    EXPECT_EQ(DurationText(0), "0 Seconds");
    EXPECT_EQ(DurationText(1), "1 Second");
    EXPECT_EQ(DurationText(59), "59 Seconds");
    EXPECT_EQ(DurationText(60), "1 Minute");
    EXPECT_EQ(DurationText(61), "1 Minute, 1 Second");
    EXPECT_EQ(DurationText(3600), "1 Hour");
    EXPECT_EQ(DurationText(7200), "2 Hours");
    EXPECT_EQ(DurationText(86400), "1 Day");
    EXPECT_EQ(DurationText(86400 + 3600 + 60 + 1), "1 Day, 1 Hour, 1 Minute, 1 Second");
    EXPECT_EQ(DurationText(2 * 86400 + 2 * 60), "2 Days, 2 Minutes");
    EXPECT_EQ(DurationText(1209600), "14 Days");
    // The unsigned top of an SOA field: 4294967295 s = 49710 days, 6 h, 28 min, 15 s.
    EXPECT_EQ(DurationText(4294967295.0), "49710 Days, 6 Hours, 28 Minutes, 15 Seconds");
}

TEST(LookupText, TypeNames) {
    const char* low[] = {"A",  "NS",   "MD",  "MF",  "CNAME", "SOA",   "MB", "MG",
                         "MR", "NULL", "WKS", "PTR", "HINFO", "MINFO", "MX", "TXT"};
    for (int t = 1; t <= 16; ++t) EXPECT_EQ(TypeName(t), low[t - 1]) << t;
    EXPECT_EQ(TypeName(28), "AAAA");
    EXPECT_EQ(TypeName(33), "SRV");
    EXPECT_EQ(TypeName(252), "AXFR");
    EXPECT_EQ(TypeName(253), "MAILB");
    EXPECT_EQ(TypeName(254), "MAILA");
    EXPECT_EQ(TypeName(255), "*");
    // The tool knows fewer names than the codec's table.
    EXPECT_EQ(TypeName(17), "?17?");
    EXPECT_EQ(TypeName(0), "?0?");
    EXPECT_EQ(TypeName(65535), "?65535?");
}

namespace {
// The lines of one answer record in a reply built around it.
std::string Lines(unsigned type, const std::string& rdata, uint32_t ttl = 3600) {
    const std::string msg = Header(1, 0x84, 0x00, 1, 1, 0, 0) + Question("a.test", type) +
                            RR(WireName("a.test"), type, ttl, rdata);
    std::string out;
    EXPECT_TRUE(ReplyText(msg, "a.test", static_cast<int32_t>(type), true, out));
    const std::string head =
        "Authoritative Answer: Yes\r\nRecursion Available: No\r\n\r\nAnswer:\r\n";
    EXPECT_EQ(out.substr(0, head.size()), head);
    return out.substr(head.size());
}
}  // namespace

std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

TEST(LookupText, RecordLineForms) {
    EXPECT_EQ(Lines(1, B({10, 0, 0, 1})),
              "A-record for a.test. = 10.0.0.1\r\n    TTL = 1 Hour\r\n");
    EXPECT_EQ(Lines(2, WireName("ns1.a.test"), 0),
              "NS-record for a.test. = ns1.a.test.\r\n    TTL = 0 Seconds\r\n");
    EXPECT_EQ(Lines(5, WireName("www.a.test"), 86400),
              "CNAME-record for a.test. = www.a.test.\r\n    TTL = 1 Day\r\n");
    EXPECT_EQ(Lines(12, WireName("host.a.test")),
              "PTR-record for a.test. = host.a.test.\r\n    TTL = 1 Hour\r\n");
    EXPECT_EQ(Lines(6, WireName("ns1.a.test") + WireName("host.master.a.test") + U32(2024010101) +
                           U32(3600) + U32(600) + U32(1209600) + U32(90061)),
              "SOA-record for a.test. = ns1.a.test.\r\n"
              "    Responsible Person = host@master.a.test.\r\n"
              "    Serial Number = 2024010101\r\n"
              "    Refresh Interval = 1 Hour\r\n"
              "    Retry Interval = 10 Minutes\r\n"
              "    Expire Interval = 14 Days\r\n"
              "    Default / Minimum TTL = 1 Day, 1 Hour, 1 Minute, 1 Second\r\n"
              "    TTL = 1 Hour\r\n");
    EXPECT_EQ(
        Lines(15, U16(10) + WireName("mail.a.test")),
        "MX-record for a.test. = mail.a.test.\r\n    Preference = 10\r\n    TTL = 1 Hour\r\n");
    EXPECT_EQ(Lines(16, "\x05hello" + B({6}) + "wo\x01rld" + B({0})),
              "TXT-record for a.test. = hello, world, \r\n    TTL = 1 Hour\r\n");
    EXPECT_EQ(Lines(33, U16(1) + U16(2) + U16(5060) + WireName("sip.a.test")),
              "SRV-record for a.test. = sip.a.test.\r\n    Priority = 1\r\n    Weight = 2\r\n"
              "    Port = 5060\r\n    TTL = 1 Hour\r\n");
    EXPECT_EQ(Lines(28, std::string(16, '\1')),
              "AAAA-record for a.test. (record type not implemented)\r\n    TTL = 1 Hour\r\n");
    EXPECT_EQ(Lines(99, "x"),
              "?99?-record for a.test. (record type not implemented)\r\n    TTL = 1 Hour\r\n");
}

TEST(LookupText, SixteenBitFieldsReadUnsigned) {
    // Preference and port of 32768 and more, an unknown type of 40000, an SOA serial past 2^31.
    EXPECT_EQ(
        Lines(15, U16(40000) + WireName("m.a.test")),
        "MX-record for a.test. = m.a.test.\r\n    Preference = 40000\r\n    TTL = 1 Hour\r\n");
    EXPECT_EQ(Lines(33, U16(65535) + U16(32768) + U16(65000) + WireName("s.a.test")),
              "SRV-record for a.test. = s.a.test.\r\n    Priority = 65535\r\n    Weight = 32768\r\n"
              "    Port = 65000\r\n    TTL = 1 Hour\r\n");
    EXPECT_EQ(Lines(40000, "x"),
              "?40000?-record for a.test. (record type not implemented)\r\n    TTL = 1 Hour\r\n");
    const std::string soa = Lines(
        6, WireName("n") + WireName("r") + U32(4000000000u) + U32(0) + U32(0) + U32(0) + U32(0));
    EXPECT_NE(soa.find("    Serial Number = 4000000000\r\n"), std::string::npos) << soa;
    // An RDATA length of 32768 and more is a length, not a negative number.
    const std::string big(33000, 'x');
    const std::string msg = Header(1, 0x80, 0x80, 0, 1, 0, 0) + RR(WireName("b"), 99, 5, big);
    std::string out;
    EXPECT_TRUE(ReplyText(msg, "b", 99, true, out));
    EXPECT_NE(out.find("?99?-record for b. (record type not implemented)\r\n    TTL = 5 Seconds"),
              std::string::npos);
    // Counts of 32768 and more: the walk reads that many entries and stops at the message's end.
    const std::string many =
        Header(1, 0x80, 0x80, 0, 40000, 0, 0) + RR(WireName("c"), 1, 1, B({1, 2, 3, 4}));
    out.clear();
    EXPECT_FALSE(ReplyText(many, "c", 1, true, out));
    EXPECT_NE(out.find("A-record for c. = 1.2.3.4"), std::string::npos);
}

TEST(LookupText, ReplyLayout) {
    // Flags, an error header, sections with headings, names through pointers, other classes
    // skipped.
    const std::string q = Question("example.test", 1);
    std::string msg = Header(7, 0x81, 0x80, 1, 2, 1, 1) + q;
    const std::string ptr = B({0xC0, 12});  // the question's name
    msg += RR(ptr, 1, 300, B({192, 0, 2, 1}));
    msg += RR(ptr, 1, 300, B({192, 0, 2, 2}), 3);  // class CH: not shown
    msg += RR(ptr, 2, 3600, WireName("ns.example.test"));
    msg += RR(WireName("ns.example.test"), 1, 60, B({192, 0, 2, 53}));
    std::string out;
    ASSERT_TRUE(ReplyText(msg, "example.test", 1, true, out));
    EXPECT_EQ(out,
              "Authoritative Answer: No\r\n"
              "Recursion Available: Yes\r\n"
              "\r\nAnswer:\r\n"
              "A-record for example.test. = 192.0.2.1\r\n    TTL = 5 Minutes\r\n"
              "\r\nAuthority:\r\n"
              "NS-record for example.test. = ns.example.test.\r\n    TTL = 1 Hour\r\n"
              "\r\nAdditional:\r\n"
              "A-record for ns.example.test. = 192.0.2.53\r\n    TTL = 1 Minute\r\n");
}

TEST(LookupText, NoRecordsAndErrors) {
    const std::string q = Question("none.test", 15);
    std::string out;
    // Authoritative: the records do not exist.
    ASSERT_TRUE(ReplyText(Header(1, 0x84, 0, 1, 0, 0, 0) + q, "none.test", 15, false, out));
    EXPECT_EQ(out,
              "Authoritative Answer: Yes\r\nRecursion Available: No\r\n\r\nAnswer:\r\n"
              "No MX-Records exist for none.test\r\n");
    // Recursion asked for and offered: the same.
    out.clear();
    ASSERT_TRUE(ReplyText(Header(1, 0x81, 0x80, 1, 0, 0, 0) + q, "none.test", 15, true, out));
    EXPECT_NE(out.find("No MX-Records exist for none.test\r\n"), std::string::npos);
    // Neither: none found.
    out.clear();
    ASSERT_TRUE(ReplyText(Header(1, 0x81, 0x80, 1, 0, 0, 0) + q, "none.test", 15, false, out));
    EXPECT_NE(out.find("No MX-Records found for none.test\r\n"), std::string::npos);
    out.clear();
    ASSERT_TRUE(ReplyText(Header(1, 0x80, 0x00, 1, 0, 0, 0) + q, "none.test", 15, true, out));
    EXPECT_NE(out.find("No MX-Records found for none.test\r\n"), std::string::npos);
    // Name error: the header line and the code's text, no "No ... Records" line.
    out.clear();
    ASSERT_TRUE(ReplyText(Header(1, 0x85, 0x83, 1, 0, 0, 0) + q, "none.test", 15, true, out));
    EXPECT_EQ(out,
              "Authoritative Answer: Yes\r\nRecursion Available: Yes\r\n\r\nHeader:\r\n"
              "Name does not exist!\r\n");
    out.clear();
    ASSERT_TRUE(ReplyText(Header(1, 0x80, 0x05, 1, 0, 0, 0) + q, "none.test", 15, true, out));
    EXPECT_EQ(out,
              "Authoritative Answer: No\r\nRecursion Available: No\r\n\r\nHeader:\r\n"
              "Refused - will not answer this client or this query type.\r\n");
}

TEST(LookupText, TransferAcrossMessages) {
    auto frame = [](const std::string& m) { return U16(static_cast<unsigned>(m.size())) + m; };
    const std::string soaData = WireName("ns.z.test") + WireName("h.z.test") + U32(5) + U32(60) +
                                U32(60) + U32(60) + U32(60);
    const std::string m1 = Header(3, 0x84, 0, 1, 2, 0, 0) + Question("z.test", 252) +
                           RR(WireName("z.test"), 6, 60, soaData) +
                           RR(WireName("z.test"), 2, 60, WireName("ns.z.test"));
    const std::string m2 = Header(3, 0x84, 0, 0, 2, 0, 0) +
                           RR(WireName("w.z.test"), 1, 60, B({1, 1, 1, 1})) +
                           RR(WireName("z.test"), 6, 60, soaData);
    TransferReader r;
    std::string out;
    const std::string stream = frame(m1) + frame(m2);
    // Byte by byte: nothing happens until a message is whole.
    r.Add(stream.substr(0, 1));
    EXPECT_EQ(r.Next(out), TransferReader::Step::NeedMore);
    r.Add(stream.substr(1, m1.size()));
    EXPECT_EQ(r.Next(out), TransferReader::Step::NeedMore);
    r.Add(stream.substr(1 + m1.size(), 1));
    EXPECT_EQ(r.Next(out), TransferReader::Step::Handled);
    EXPECT_TRUE(r.Started());
    r.Add(stream.substr(2 + m1.size()));
    EXPECT_EQ(r.Next(out), TransferReader::Step::Finished);
    EXPECT_EQ(out,
              "Zone Transfer:\r\n\r\n"
              "SOA-record for z.test. = ns.z.test.\r\n    Responsible Person = h@z.test.\r\n"
              "    Serial Number = 5\r\n    Refresh Interval = 1 Minute\r\n"
              "    Retry Interval = 1 Minute\r\n    Expire Interval = 1 Minute\r\n"
              "    Default / Minimum TTL = 1 Minute\r\n    TTL = 1 Minute\r\n"
              "NS-record for z.test. = ns.z.test.\r\n    TTL = 1 Minute\r\n"
              "A-record for w.z.test. = 1.1.1.1\r\n    TTL = 1 Minute\r\n");

    // A first message with an error code ends it at once.
    TransferReader refused;
    out.clear();
    refused.Add(frame(Header(3, 0x80, 0x05, 1, 0, 0, 0) + Question("z.test", 252)));
    EXPECT_EQ(refused.Next(out), TransferReader::Step::Finished);
    EXPECT_FALSE(refused.Started());
    EXPECT_EQ(out, "Header:\r\nRefused - will not answer this client or this query type.\r\n");
}

TEST(LookupText, StartFiles) {
    const auto t = ParseWhoisTable(
        " COM : Whois.Verisign-GRS.com \r\nnocolon\r\n: x\r\nde:\r\n"
        "uk:whois.nic.uk:43\nnet:whois.verisign-grs.com");
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].Domain, "com");
    EXPECT_EQ(t[0].Server, "whois.verisign-grs.com");
    EXPECT_EQ(t[1].Domain, "uk");
    EXPECT_EQ(t[1].Server, "whois.nic.uk:43");  // split at the first colon only
    EXPECT_EQ(t[2].Domain, "net");
    EXPECT_TRUE(ParseWhoisTable("").empty());

    EXPECT_EQ(DefaultServer(""), "127.0.0.1");
    EXPECT_EQ(DefaultServer("Name: x\r\nPrimaryIP: 10.0.0.5\r\n"), "10.0.0.5");
    EXPECT_EQ(DefaultServer("primaryip : 10.0.0.5\nPRIMARYIP:10.0.0.6\nReloadPort: 1"), "10.0.0.6");
    EXPECT_EQ(DefaultServer("PrimaryIPx: 10.0.0.5"), "127.0.0.1");
}
