// The request object against a zone store and a cache filled in memory: what it answers, and the
// bytes of the reply, read back with the codec's own decoder.
#include "server/resolver/clDNSRequest.h"

#include <gtest/gtest.h>

#include "core/modDNS.h"
#include "core/modIP.h"
#include "server/authority/clDNSAuthData.h"
#include "server/dhcp/clLease.h"
#include "server/resolver/clDNSCache.h"
#include "server/settings.h"
#include "tests/server/resolver/request_fakes.h"
#include "tests/support/fake_clock.h"

namespace {

using namespace modDNS;
using kest::test::RecordingLog;
using kest::test::RecordingSender;
using kest::test::RecordingTcp;

struct Decoded {
    clDNSAnswer answer;
    bool complete = false;
    unsigned flags1 = 0, flags2 = 0;
    std::vector<std::string> Addresses(int sec) const {
        std::vector<std::string> out;
        for (const RecordRef& r : *answer.Section(sec)) out.push_back(modIP::DataToIP(r->Data));
        return out;
    }
};

class RequestTest : public ::testing::Test {
  protected:
    RequestTest()
        : leases_(settings_, clock_, "/nonexistent"),
          store_(settings_, clock_, nullptr, leases_, "/nonexistent/data"),
          cache_(settings_, clock_, nullptr,
                 [this](const std::string& n) { return store_.AskAuth(n); }) {
        settings_.DNSRecursion = "<all>";
        ctx_.settings = &settings_;
        ctx_.clock = &clock_;
        ctx_.localIPs = &localIPs_;
        ctx_.zones = &store_;
        ctx_.cache = &cache_;
        ctx_.log = &log_;
        ctx_.sender = &sender_;
        ctx_.tcp = &tcp_;
        ctx_.doTray = [this](int icon) { trays_.push_back(icon); };
        ctx_.outstanding = &outstanding_;
    }

    clZone& Zone(const std::string& name) {
        auto z = std::make_shared<clZone>();
        z->Name = name;
        store_.ZoneAdd(z);
        return *store_.GetZone(name);
    }
    RecordRef Add(clZone& z, const std::string& name, int32_t type, const std::string& data) {
        auto r = MakeRecord(name, type, data, 3600, clock_.Now(), true);
        z.AddRec(r);
        return r;
    }
    RecordRef AddA(clZone& z, const std::string& name, const std::string& ip) {
        return Add(z, name, kTypeA, modIP::IPToData(ip));
    }
    RecordRef Cached(const std::string& name, int32_t type, const std::string& data,
                     int32_t ttl = 600) {
        auto r = MakeRecord(name, type, data, ttl, clock_.Now());
        cache_.AddRec(r);
        return r;
    }
    static std::string Soa(const std::string& zone) {
        return MakeSOAData({"ns1." + zone, "hm." + zone, 7, 3600, 600, 86400, 300});
    }
    // example.com. with its SOA, a name server inside with its address, and hosts.
    clZone& Example() {
        clZone& z = Zone("example.com.");
        Add(z, "example.com.", kTypeSOA, Soa("example.com."));
        Add(z, "example.com.", kTypeNS, "ns1.example.com.");
        AddA(z, "ns1.example.com.", "10.0.0.2");
        AddA(z, "www.example.com.", "10.0.0.1");
        return z;
    }

    std::shared_ptr<clDNSRequest> Job(const std::string& name, int32_t type,
                                      const std::string& ip = "10.9.9.9", bool rd = true,
                                      int32_t id = 0x1234, int32_t port = 5300) {
        auto job = std::make_shared<clDNSRequest>(ctx_);
        job->RequestID = id;
        job->RequestRD = rd;
        job->RequestName = name;
        job->RequestType = type;
        job->RequestIP = ip;
        job->RequestPort = port;
        job->RequestLocalIP = "192.0.2.53";
        return job;
    }
    // Runs a client's question and returns the one datagram it sent.
    Decoded Ask(const std::string& name, int32_t type, const std::string& ip = "10.9.9.9",
                bool rd = true) {
        const size_t before = sender_.sent.size();
        auto job = Job(name, type, ip, rd);
        job->ProcRequest();
        EXPECT_EQ(job->State, 9);
        EXPECT_EQ(sender_.sent.size(), before + 1);
        if (sender_.sent.size() != before + 1) return {};
        return Decode(sender_.sent.back().data);
    }
    Decoded Decode(const std::string& m) {
        Decoded d;
        d.complete = DecodeReply(m, d.answer, clock_.Now());
        d.flags1 = static_cast<unsigned char>(m[2]);
        d.flags2 = static_cast<unsigned char>(m[3]);
        return d;
    }

    kest::test::FakeClock clock_;
    modMain::Settings settings_;
    std::vector<std::string> localIPs_{"192.0.2.53"};
    clLeases leases_;
    clDNSAuthData store_;
    clDNSCache cache_;
    RecordingLog log_;
    RecordingSender sender_;
    RecordingTcp tcp_;
    std::vector<int> trays_;
    OutstandingRequests outstanding_;
    ResolverContext ctx_;
};

// ---- Bytes of the reply -------------------------------------------------------------------------

TEST_F(RequestTest, OwnZoneAnswerIsSentByteForByteWithCompression) {
    clZone& z = Zone("example.com.");
    AddA(z, "www.example.com.", "10.0.0.1");
    auto job = Job("www.example.com.", kTypeA);
    job->ProcRequest();
    ASSERT_EQ(sender_.sent.size(), 1u);
    const std::string expected =
        std::string("\x12\x34\x85\x80\x00\x01\x00\x01\x00\x00\x00\x00", 12) +
        std::string(
            "\x03www\x07"
            "example\x03"
            "com\x00\x00\x01\x00\x01",
            21) +
        std::string("\xC0\x0C\x00\x01\x00\x01\x00\x00\x0E\x10\x00\x04\x0A\x00\x00\x01", 16);
    EXPECT_EQ(sender_.sent[0].data, expected);
    EXPECT_EQ(sender_.sent[0].ip, "10.9.9.9");
    EXPECT_EQ(sender_.sent[0].port, 5300);
    EXPECT_EQ(sender_.sent[0].fromLocalIp, "192.0.2.53");
    EXPECT_EQ(trays_, std::vector<int>{1});
    EXPECT_TRUE(log_.Has("Sending reply to 10.9.9.9 about A-record for www.example.com.:"));
    EXPECT_TRUE(log_.Has("-> Answer: A-record for www.example.com. = 10.0.0.1"));
}

TEST_F(RequestTest, EveryRecordTypeDecodesBackFromTheReply) {
    clZone& z = Example();
    Add(z, "example.com.", kTypeMX, MakeShortL(10) + "mail.example.com.");
    AddA(z, "mail.example.com.", "10.0.0.5");
    Add(z, "example.com.", kTypeTXT, std::string("\x05hello\x05world", 12));
    Add(z, "_sip._udp.example.com.", kTypeSRV,
        MakeShortL(1) + MakeShortL(2) + MakeShortL(5060) + "www.example.com.");
    Add(z, "alias.example.com.", kTypeCNAME, "www.example.com.");
    Zone("2.0.192.in-addr.arpa.");
    Add(*store_.GetZone("2.0.192.in-addr.arpa."), "1.2.0.192.in-addr.arpa.", kTypePTR,
        "www.example.com.");

    const Decoded any = Ask("example.com.", kTypeANY);
    ASSERT_TRUE(any.complete);
    EXPECT_EQ(any.answer.RqName, "example.com.");
    EXPECT_EQ(any.answer.RqType, kTypeANY);
    std::vector<std::string> texts;
    for (const RecordRef& r : any.answer.Section2) texts.push_back(RecordText(*r));
    std::vector<std::string> want;
    for (const RecordRef& r : store_.Ask("example.com.", kTypeANY, false).Section2)
        want.push_back(RecordText(*r));
    EXPECT_EQ(texts, want);
    EXPECT_EQ(any.answer.Section2.size(), 4u);  // SOA, NS, MX, TXT

    const Decoded mx = Ask("example.com.", kTypeMX);
    ASSERT_EQ(mx.answer.Section2.size(), 1u);
    EXPECT_EQ(mx.answer.Section2[0]->Data, MakeShortL(10) + "mail.example.com.");
    EXPECT_EQ(mx.Addresses(4), (std::vector<std::string>{"10.0.0.5", "10.0.0.2"}));

    const Decoded srv = Ask("_sip._udp.example.com.", kTypeSRV);
    ASSERT_EQ(srv.answer.Section2.size(), 1u);
    EXPECT_EQ(srv.answer.Section2[0]->Data,
              MakeShortL(1) + MakeShortL(2) + MakeShortL(5060) + "www.example.com.");

    const Decoded ptr = Ask("1.2.0.192.in-addr.arpa.", kTypePTR);
    ASSERT_EQ(ptr.answer.Section2.size(), 1u);
    EXPECT_EQ(ptr.answer.Section2[0]->Data, "www.example.com.");

    const Decoded soa = Ask("example.com.", kTypeSOA);
    ASSERT_EQ(soa.answer.Section2.size(), 1u);
    EXPECT_EQ(soa.answer.Section2[0]->Data, Soa("example.com."));
    EXPECT_EQ(soa.answer.Section3.size(), 1u);  // the zone's NS
}

TEST_F(RequestTest, RecordsThatCannotBeWrittenAreLeftOutAndNotCounted) {
    clDNSAnswer reply;
    reply.AA = true;
    const double now = clock_.Now();
    reply.Section2.push_back(MakeRecord("a.example.", kTypeA, modIP::IPToData("1.1.1.1"), 60, now));
    reply.Section2.push_back(MakeRecord(std::string(64, 'x') + ".example.", kTypeA,
                                        modIP::IPToData("2.2.2.2"), 60, now));
    reply.Section2.push_back(MakeRecord("a.example.", kTypeMX, "\x01", 60, now));
    reply.Section2.push_back(MakeRecord("a.example.", kTypeA, "12345", 60, now));
    reply.Section2.push_back(MakeRecord("a.example.", 1005, "example.", 60, now));
    reply.Section3.push_back(MakeRecord("a.example.", kTypeSOA, "broken", 60, now));
    reply.Section4.push_back(MakeRecord("b.example.", kTypeA, modIP::IPToData("3.3.3.3"), 60, now));
    ReplyScratch scratch;
    const std::string m =
        clDNSRequest::BuildMessage({7, true, "a.example.", kTypeA}, reply, now, scratch, nullptr);
    const Decoded d = Decode(m);
    ASSERT_TRUE(d.complete);
    EXPECT_EQ(d.Addresses(2), std::vector<std::string>{"1.1.1.1"});
    EXPECT_TRUE(d.answer.Section3.empty());
    EXPECT_EQ(d.Addresses(4), std::vector<std::string>{"3.3.3.3"});
    EXPECT_EQ(std::string(m.substr(4, 8)), std::string("\x00\x01\x00\x01\x00\x00\x00\x01", 8));
}

TEST_F(RequestTest, ExpiredRecordGoesOutWithTtlZeroAndLargeReplyIsNotTruncated) {
    clDNSAnswer reply;
    const double now = clock_.Now();
    reply.Section2.push_back(MakeRecord("a.example.", kTypeA, modIP::IPToData("1.1.1.1"), 10, now));
    for (int i = 0; i < 40; ++i) {
        reply.Section2.push_back(
            MakeRecord("a.example.", kTypeTXT, "\x1e" + std::string(30, 'a' + i % 26), 10, now));
    }
    clock_.Advance(25);
    ReplyScratch scratch;
    const std::string m = clDNSRequest::BuildMessage({7, false, "a.example.", kTypeANY}, reply,
                                                     clock_.Now(), scratch, nullptr);
    EXPECT_GT(m.size(), 512u);
    const Decoded d = Decode(m);
    ASSERT_TRUE(d.complete);
    EXPECT_EQ(d.flags1, 0x80u);  // QR only: no AA, no RD, never TC
    EXPECT_EQ(d.answer.Section2.size(), 41u);
    // Header 12, question 15, then the owner pointer, type and class: the TTL is at 33.
    EXPECT_EQ(m.substr(33, 4), std::string(4, '\0'));
    EXPECT_EQ(d.answer.Section2[0]->mTTL, 0);
}

TEST_F(RequestTest, LongRepliesCompressNamesAcrossTheWholeMessage) {
    clDNSAnswer reply;
    const double now = clock_.Now();
    std::vector<std::string> want;
    for (int i = 0; i < 120; ++i) {
        const std::string exchange = "mx" + std::to_string(i) + ".mail.example.com.";
        reply.Section2.push_back(
            MakeRecord("big.example.com.", kTypeMX, MakeShortL(i) + exchange, 60, now));
        want.push_back(MakeShortL(i) + exchange);
    }
    ReplyScratch scratch;
    const std::string m = clDNSRequest::BuildMessage({7, true, "big.example.com.", kTypeMX}, reply,
                                                     now, scratch, nullptr);
    EXPECT_GT(m.size(), 1024u);
    // Header and question 33; each record 12 with its owner pointer, 2 of preference, then the
    // exchange: the first spells out "mail" (11), the others are a label and a pointer.
    EXPECT_EQ(m.size(), 33u + 120u * 14 + 11 + 9 * 6 + 90 * 7 + 20 * 8);
    const Decoded d = Decode(m);
    ASSERT_TRUE(d.complete);
    std::vector<std::string> got;
    for (const RecordRef& r : d.answer.Section2) got.push_back(r->Data);
    EXPECT_EQ(got, want);
    // The scratch buffers serve the next, shorter reply as well.
    const std::string small = clDNSRequest::BuildMessage({8, true, "big.example.com.", kTypeMX},
                                                         clDNSAnswer{}, now, scratch, nullptr);
    EXPECT_EQ(small.size(), 12u + 21u);
}

// ---- Answer shapes ------------------------------------------------------------------------------

TEST_F(RequestTest, OwnZoneAnswersAreAuthoritativeWithTheZonesServers) {
    Example();
    const Decoded d = Ask("www.example.com.", kTypeA);
    EXPECT_TRUE(d.answer.AA);
    EXPECT_EQ(d.flags1, 0x85u);
    EXPECT_EQ(d.flags2, 0x80u);
    EXPECT_EQ(d.Addresses(2), std::vector<std::string>{"10.0.0.1"});
    ASSERT_EQ(d.answer.Section3.size(), 1u);
    EXPECT_EQ(d.answer.Section3[0]->Data, "ns1.example.com.");
    EXPECT_EQ(d.Addresses(4), std::vector<std::string>{"10.0.0.2"});
}

TEST_F(RequestTest, NoDataAndNameErrorCarryTheSoaAndTheirLogLines) {
    Example();
    const Decoded nodata = Ask("www.example.com.", kTypeMX);
    EXPECT_EQ(nodata.answer.RCode, 0);
    EXPECT_TRUE(nodata.answer.AA);
    EXPECT_TRUE(nodata.answer.Section2.empty());
    ASSERT_EQ(nodata.answer.Section3.size(), 1u);
    EXPECT_EQ(nodata.answer.Section3[0]->RecType, kTypeSOA);
    EXPECT_TRUE(log_.Has("-> Answer: There are no MX-Records for www.example.com."));

    const Decoded nx = Ask("nope.example.com.", kTypeA);
    EXPECT_EQ(nx.answer.RCode, 3);
    EXPECT_EQ(nx.flags2, 0x83u);
    ASSERT_EQ(nx.answer.Section3.size(), 1u);
    EXPECT_EQ(nx.answer.Section3[0]->RecType, kTypeSOA);
    EXPECT_TRUE(log_.Has("-> Header: " + RCodeN(3)));
}

TEST_F(RequestTest, CnameChainsAreFollowedInsideAndOutsideOwnZones) {
    clZone& z = Example();
    Add(z, "alias.example.com.", kTypeCNAME, "www.example.com.");
    Add(z, "out.example.com.", kTypeCNAME, "host.remote.net.");
    Add(z, "gone.example.com.", kTypeCNAME, "lost.remote.net.");

    const Decoded inside = Ask("alias.example.com.", kTypeA);
    ASSERT_EQ(inside.answer.Section2.size(), 2u);
    EXPECT_EQ(inside.answer.Section2[0]->RecType, kTypeCNAME);
    EXPECT_EQ(inside.answer.Section2[1]->Name, "www.example.com.");
    EXPECT_TRUE(inside.answer.AA);

    Cached("host.remote.net.", kTypeA, modIP::IPToData("172.16.0.1"));
    const Decoded outside = Ask("out.example.com.", kTypeA);
    ASSERT_EQ(outside.answer.Section2.size(), 2u);
    EXPECT_EQ(outside.answer.Section2[0]->Data, "host.remote.net.");
    EXPECT_EQ(modIP::DataToIP(outside.answer.Section2[1]->Data), "172.16.0.1");
    EXPECT_TRUE(outside.answer.Section3.empty());  // the own zone's referral data is cleared

    // Nothing known about the target and nobody to ask yet: the chain so far, RCode 0.
    const Decoded partial = Ask("gone.example.com.", kTypeA);
    EXPECT_EQ(partial.answer.RCode, 0);
    ASSERT_EQ(partial.answer.Section2.size(), 1u);
    EXPECT_EQ(partial.answer.Section2[0]->RecType, kTypeCNAME);

    // A CNAME question is answered with the CNAME alone.
    EXPECT_EQ(Ask("alias.example.com.", kTypeCNAME).answer.Section2.size(), 1u);
}

TEST_F(RequestTest, CnameLoopEndsWithTheRecordsFound) {
    clZone& z = Zone("loop.test.");
    Add(z, "a.loop.test.", kTypeCNAME, "b.loop.test.");
    Add(z, "b.loop.test.", kTypeCNAME, "a.loop.test.");
    const Decoded d = Ask("a.loop.test.", kTypeA);
    ASSERT_EQ(d.answer.Section2.size(), 2u);
    EXPECT_EQ(d.answer.Section2[1]->Data, "a.loop.test.");
    EXPECT_EQ(d.answer.RCode, 0);
}

TEST_F(RequestTest, CachedAnswerAndUnknownNamesWithRecursion) {
    Cached("host.remote.net.", kTypeA, modIP::IPToData("172.16.0.1"));
    const Decoded cached = Ask("host.remote.net.", kTypeA);
    EXPECT_FALSE(cached.answer.AA);
    EXPECT_EQ(cached.flags2, 0x80u);
    EXPECT_EQ(cached.Addresses(2), std::vector<std::string>{"172.16.0.1"});
    EXPECT_EQ(cached.answer.Section2[0]->mTTL, 600);

    // Nothing known and no server to ask: server failure.
    const Decoded unknown = Ask("nowhere.invalid.", kTypeA);
    EXPECT_EQ(unknown.answer.RCode, 2);
    EXPECT_EQ(unknown.flags2, 0x82u);
    EXPECT_TRUE(log_.Has("-> Header: " + RCodeN(2)));

    // Forwarding with no forwarder configured: nobody to ask.
    Cached("remote.net.", kTypeNS, "ns.remote.net.");
    Cached("ns.remote.net.", kTypeA, modIP::IPToData("172.16.0.53"));
    settings_.RecursionOut = true;
    EXPECT_EQ(Ask("other.remote.net.", kTypeA).answer.RCode, 2);
}

TEST_F(RequestTest, CachedNegativeAnswersAreAuthoritative) {
    Cached("remote.net.", kTypeSOA, Soa("remote.net."));
    Cached("empty.remote.net.", clDNSCache::kNoDataBase + kTypeA, "remote.net.");
    Cached("gone.remote.net.", clDNSCache::kNameError, "remote.net.");

    const Decoded nodata = Ask("empty.remote.net.", kTypeA, "10.9.9.9", false);
    EXPECT_EQ(nodata.flags1, 0x84u);  // AA, RD clear as the client sent it
    EXPECT_EQ(nodata.answer.RCode, 0);
    ASSERT_EQ(nodata.answer.Section3.size(), 1u);
    EXPECT_EQ(nodata.answer.Section3[0]->RecType, kTypeSOA);
    EXPECT_TRUE(log_.Has("-> Answer: There are no A-Records for empty.remote.net."));

    const Decoded nx = Ask("gone.remote.net.", kTypeMX);
    EXPECT_EQ(nx.flags1, 0x85u);
    EXPECT_EQ(nx.flags2, 0x83u);
    EXPECT_EQ(nx.answer.Section3.size(), 1u);
}

TEST_F(RequestTest, WithoutRecursionTheReplyIsAReferral) {
    clZone& z = Example();
    Add(z, "sub.example.com.", kTypeNS, "ns.sub.example.com.");
    AddA(z, "ns.sub.example.com.", "10.0.1.1");
    Cached("remote.net.", kTypeNS, "ns.remote.net.");
    Cached("ns.remote.net.", kTypeA, modIP::IPToData("172.16.0.53"));
    settings_.DNSRecursion = "<none>";

    const Decoded cachedNs = Ask("x.remote.net.", kTypeA);
    EXPECT_EQ(cachedNs.flags2, 0x00u);  // RA clear, RCode 0
    EXPECT_FALSE(cachedNs.answer.AA);
    EXPECT_TRUE(cachedNs.answer.Section2.empty());
    ASSERT_EQ(cachedNs.answer.Section3.size(), 1u);
    EXPECT_EQ(cachedNs.answer.Section3[0]->Data, "ns.remote.net.");
    EXPECT_EQ(cachedNs.Addresses(4), std::vector<std::string>{"172.16.0.53"});
    EXPECT_FALSE(log_.Has("-> Answer: There are no A-Records for x.remote.net."));

    const Decoded delegation = Ask("host.sub.example.com.", kTypeA);
    EXPECT_FALSE(delegation.answer.AA);
    ASSERT_EQ(delegation.answer.Section3.size(), 1u);
    EXPECT_EQ(delegation.answer.Section3[0]->Data, "ns.sub.example.com.");
    EXPECT_EQ(delegation.Addresses(4), std::vector<std::string>{"10.0.1.1"});

    // A client that did not ask for recursion gets the referral too, with RD clear.
    settings_.DNSRecursion = "<all>";
    const Decoded noRd = Ask("x.remote.net.", kTypeA, "10.9.9.9", false);
    EXPECT_EQ(noRd.flags1, 0x80u);
    EXPECT_EQ(noRd.flags2, 0x80u);
    EXPECT_EQ(noRd.answer.Section3.size(), 1u);
}

TEST_F(RequestTest, RecursionPermissionFollowsDNSRecursion) {
    auto allowed = [&](const std::string& pattern, const std::string& ip, int level = 0) {
        settings_.DNSRecursion = pattern;
        return clDNSRequest::Permission(settings_, localIPs_, ip, level);
    };
    EXPECT_TRUE(allowed("<all>", "8.8.4.4"));
    EXPECT_FALSE(allowed("<none>", "10.1.2.3"));
    EXPECT_TRUE(allowed("<none>", "127.0.0.1"));
    EXPECT_TRUE(allowed("<none>", "192.0.2.53"));  // an own address
    EXPECT_TRUE(allowed("<none>", "10.1.2.3", 1));
    EXPECT_TRUE(allowed("10.1.*", "10.1.2.3"));
    EXPECT_FALSE(allowed("10.1.*", "10.10.2.3"));
    EXPECT_TRUE(allowed("192.168.1.*", "192.168.1.77"));
    EXPECT_FALSE(allowed("192.168.1.*", "192.168.10.7"));
    EXPECT_TRUE(allowed("10.1", "10.10.2.3"));  // no "*": the whole pattern as a prefix
    EXPECT_FALSE(allowed("10.1.2.3", "10.1.2"));

    Example();
    settings_.DNSRecursion = "10.1.*";
    EXPECT_EQ(Ask("www.example.com.", kTypeA, "10.1.2.3").flags2, 0x80u);
    EXPECT_EQ(Ask("www.example.com.", kTypeA, "10.10.2.3").flags2, 0x00u);
}

// ---- Round robin and AutoCNAME ------------------------------------------------------------------

TEST_F(RequestTest, AddressRunsRotateOnePlaceEachReply) {
    clZone& z = Zone("rr.test.");
    for (int i = 1; i <= 5; ++i) AddA(z, "pool.rr.test.", "10.0.0." + std::to_string(i));
    AddA(z, "solo.rr.test.", "10.0.1.1");
    // The store keeps one name's records in its own order; replies rotate from there.
    std::string stored;
    for (const RecordRef& r : z.RecordsNamed("pool.rr.test."))
        stored += std::to_string(static_cast<unsigned char>(r->Data[3]));
    ASSERT_EQ(stored.size(), 5u);
    for (size_t n = 0; n < 7; ++n) {
        const Decoded d = Ask("pool.rr.test.", kTypeA);
        ASSERT_EQ(d.answer.Section2.size(), 5u);
        std::string order;
        for (const auto& ip : d.Addresses(2)) order += ip.substr(ip.size() - 1);
        const size_t r = n % 5;
        EXPECT_EQ(order, stored.substr(r) + stored.substr(0, r)) << "reply " << n;
    }
    EXPECT_EQ(Ask("solo.rr.test.", kTypeA).Addresses(2), std::vector<std::string>{"10.0.1.1"});
}

TEST_F(RequestTest, RoundRobinRunsStopAtPosition100AndNamesSeparateRuns) {
    const double now = clock_.Now();
    auto a = [&](const std::string& name) {
        return MakeRecord(name, kTypeA, modIP::IPToData("10.0.0.1"), 60, now);
    };
    RecordList mixed = {a("x."), a("y."), a("y."), MakeRecord("y.", kTypeMX, "\0\1.", 60, now),
                        a("y.")};
    std::vector<uint32_t> order;
    clDNSRequest::RoundRobin(mixed, order);
    EXPECT_EQ(order, (std::vector<uint32_t>{0, 1, 2, 3, 4}));
    clDNSRequest::RoundRobin(mixed, order);
    EXPECT_EQ(order, (std::vector<uint32_t>{0, 2, 1, 3, 4}));
    EXPECT_EQ(mixed[0]->RoRo, 0);  // a lone record keeps no count

    // Positions 98 to 100 (1-based) form the run; 101 and 102 stay in place.
    RecordList big;
    for (int i = 0; i < 97; ++i) big.push_back(a("n" + std::to_string(i) + "."));
    for (int i = 0; i < 5; ++i) big.push_back(a("run."));
    clDNSRequest::RoundRobin(big, order);
    clDNSRequest::RoundRobin(big, order);
    EXPECT_EQ(order[97], 98u);
    EXPECT_EQ(order[98], 99u);
    EXPECT_EQ(order[99], 97u);
    EXPECT_EQ(order[100], 100u);
    EXPECT_EQ(order[101], 101u);

    // A counter from elsewhere that is too big for the run starts again at 0.
    RecordList two = {a("t."), a("t.")};
    two[0]->RoRo = 7;
    clDNSRequest::RoundRobin(two, order);
    EXPECT_EQ(order, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(two[0]->RoRo, 1);

    // The order table grows with the section.
    RecordList huge;
    for (int i = 0; i < 1500; ++i) huge.push_back(a("h" + std::to_string(i) + "."));
    clDNSRequest::RoundRobin(huge, order);
    ASSERT_EQ(order.size(), 1500u);
    EXPECT_EQ(order[1499], 1499u);
}

TEST_F(RequestTest, AutoCnameFoldsAliasesIntoTheirTargets) {
    clZone& z = Zone("fold.test.");
    auto cname = Add(z, "alias.fold.test.", kTypeCNAME, "mid.fold.test.");
    cname->Permanent = false;
    cname->SetTTL(300, clock_.Now());
    Add(z, "mid.fold.test.", kTypeCNAME, "host.fold.test.");
    AddA(z, "host.fold.test.", "10.0.0.1");
    settings_.AutoCNAME = true;
    const Decoded d = Ask("alias.fold.test.", kTypeA);
    ASSERT_EQ(d.answer.Section2.size(), 1u);
    EXPECT_EQ(d.answer.Section2[0]->Name, "alias.fold.test.");
    EXPECT_EQ(d.answer.Section2[0]->RecType, kTypeA);
    EXPECT_EQ(modIP::DataToIP(d.answer.Section2[0]->Data), "10.0.0.1");
    EXPECT_EQ(d.answer.Section2[0]->mTTL, 300);
    // The zone's own records are untouched.
    EXPECT_EQ(z.RecordsNamed("host.fold.test.").size(), 1u);

    clDNSAnswer self;
    self.Section2.push_back(MakeRecord("s.", kTypeCNAME, "s.", 60, clock_.Now()));
    self.Section2.push_back(MakeRecord("s.", kTypeA, modIP::IPToData("1.2.3.4"), 60, clock_.Now()));
    clDNSRequest::CNAMERes(self, clock_.Now());
    ASSERT_EQ(self.Section2.size(), 1u);
    EXPECT_EQ(self.Section2[0]->RecType, kTypeA);

    clDNSAnswer dangling;
    dangling.Section2.push_back(MakeRecord("d.", kTypeCNAME, "e.", 60, clock_.Now()));
    clDNSRequest::CNAMERes(dangling, clock_.Now());
    EXPECT_TRUE(dangling.Section2.empty());
}

// ---- Delivery -----------------------------------------------------------------------------------

TEST_F(RequestTest, TaggedRequestsGetTheReplyUnderTheirOwnIdAndPort) {
    Example();
    auto first = Job("www.example.com.", kTypeA, "10.9.9.9", true, 0x0101, 4001);
    first->TagRequests.push_back(Job("www.example.com.", kTypeA, "10.9.9.8", true, 0x0202, 4002));
    first->ProcRequest();
    ASSERT_EQ(sender_.sent.size(), 2u);
    EXPECT_EQ(sender_.sent[0].ip, "10.9.9.8");
    EXPECT_EQ(sender_.sent[0].port, 4002);
    EXPECT_EQ(Decode(sender_.sent[0].data).answer.Id, 0x0202);
    EXPECT_EQ(sender_.sent[1].port, 4001);
    EXPECT_EQ(Decode(sender_.sent[1].data).answer.Id, 0x0101);
    EXPECT_EQ(sender_.sent[0].data.substr(2), sender_.sent[1].data.substr(2));
    EXPECT_EQ(first->TagRequests[0]->State, 9);
    EXPECT_TRUE(log_.Has("Sending reply to 10.9.9.8 about A-record for www.example.com.:"));
}

TEST_F(RequestTest, TcpClientsAreAnsweredOverTheirConnection) {
    Example();
    auto job = Job("www.example.com.", kTypeA, "10.9.9.9", true, 9, -3);
    job->ProcRequest();
    EXPECT_TRUE(sender_.sent.empty());
    ASSERT_EQ(tcp_.answers.size(), 1u);
    EXPECT_EQ(tcp_.answers[0].first, 3);
    EXPECT_EQ(Decode(tcp_.answers[0].second).Addresses(2), std::vector<std::string>{"10.0.0.1"});

    tcp_.connectionOpen = false;
    Job("www.example.com.", kTypeA, "10.9.9.9", true, 9, -4)->ProcRequest();
    EXPECT_EQ(tcp_.answers.size(), 1u);
    EXPECT_TRUE(sender_.sent.empty());
}

TEST_F(RequestTest, FailedSendIsLoggedAndDetailLinesFollowLogDetail) {
    Example();
    sender_.failWith = 90;
    auto job = Job("www.example.com.", kTypeA);
    job->ProcRequest();
    EXPECT_EQ(job->State, 9);
    EXPECT_TRUE(log_.Has("SA-WS Error 90 Message too long"));

    sender_.failWith = 0;
    log_.lines.clear();
    log_.detail = false;
    Ask("www.example.com.", kTypeA);
    for (const std::string& l : log_.lines)
        EXPECT_EQ(l.find("-> Answer: A-record"), std::string::npos);
    EXPECT_TRUE(log_.Has("Sending reply to 10.9.9.9 about A-record for www.example.com.:"));
}

}  // namespace
