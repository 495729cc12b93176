// Recursive resolution against a scripted network: queries are recorded by a fake sender, replies
// are written by the test and fed back through the intake, time moves by the fake clock.
#include <gtest/gtest.h>

#include <deque>
#include <set>

#include "core/modDNS.h"
#include "core/modIP.h"
#include "platform/sockets.h"
#include "server/activity_log.h"
#include "server/authority/clDNSAuthData.h"
#include "server/dhcp/clLease.h"
#include "server/intake.h"
#include "server/resolver/clDNSCache.h"
#include "server/resolver/clDNSRequest.h"
#include "tests/server/resolver/request_fakes.h"
#include "tests/support/fake_clock.h"

namespace {

using namespace modDNS;

// Draws from a script first, then counts up.
class ScriptedRandom : public IRandom {
  public:
    uint32_t Next32() override {
        if (!script.empty()) {
            const uint32_t v = script.front();
            script.pop_front();
            return v;
        }
        return next++;
    }
    std::deque<uint32_t> script;
    uint32_t next = 100;
};

struct Query {
    int32_t id = 0;
    bool rd = false;
    std::string name;
    int32_t type = 0;
    std::string to;
};

struct Rr {
    std::string name;
    int32_t type;
    std::string data;  // in the form of the store (names as text)
    int32_t ttl = 300;
};

std::string Wire(const std::string& name) {
    return ZipName("", name);
}

std::string RData(const Rr& r) {
    switch (r.type) {
        case kTypeA:
            return modIP::IPToData(r.data);
        case kTypeNS:
        case kTypeCNAME:
            return Wire(r.data);
        case kTypeSOA: {
            const auto soa = ParseSOAData(r.data);
            return Wire(soa->mname) + Wire(soa->rname) + r.data.substr(r.data.size() - 20);
        }
        default:
            return r.data;
    }
}

std::string Soa(const std::string& zone, uint32_t minimum = 120) {
    return MakeSOAData({"ns." + zone, "hm." + zone, 1, 3600, 600, 86400, minimum});
}

// A reply to q (its ID and question) with the given sections.
std::string Reply(const Query& q, int rcode, bool aa, const std::vector<Rr>& an,
                  const std::vector<Rr>& ns = {}, const std::vector<Rr>& ar = {}) {
    std::string m = MakeShortL(q.id);
    m += static_cast<char>(0x80 | (aa ? 0x04 : 0));
    m += static_cast<char>(rcode);
    m += MakeShortL(1) + MakeShortL(static_cast<int64_t>(an.size())) +
         MakeShortL(static_cast<int64_t>(ns.size())) + MakeShortL(static_cast<int64_t>(ar.size()));
    m += Wire(q.name) + MakeShortL(q.type) + MakeShortL(1);
    for (const auto* sec : {&an, &ns, &ar}) {
        for (const Rr& r : *sec) {
            const std::string d = RData(r);
            m += Wire(r.name) + MakeShortL(r.type) + MakeShortL(1) + MakeLongU(r.ttl) +
                 MakeShortL(static_cast<int64_t>(d.size())) + d;
        }
    }
    return m;
}

std::string ClientQuery(int id, const std::string& name, int type, bool rd = true) {
    std::string m = MakeShortL(id);
    m += static_cast<char>(rd ? 0x01 : 0x00);
    m += '\0';
    m += MakeShortL(1) + std::string(6, '\0') + Wire(name) + MakeShortL(type) + MakeShortL(1);
    return m;
}

class RecursionTest : public ::testing::Test {
  protected:
    RecursionTest()
        : log_(settings_, clock_, "/nonexistent-kest"),
          leases_(settings_, clock_, "/nonexistent-kest"),
          store_(settings_, clock_, nullptr, leases_, "/nonexistent-kest/data"),
          cache_(settings_, clock_, nullptr,
                 [this](const std::string& n) { return store_.AskAuth(n); }) {
        settings_.DNSRecursion = "<all>";
        settings_.LogDetail = true;
        log_.OpenWindow();
        modMain::IntakeContext c;
        c.settings = &settings_;
        c.clock = &clock_;
        c.log = &log_;
        c.localIPs = &localIPs_;
        c.zones = &store_;
        c.cache = &cache_;
        c.sender = &sender_;
        intake_ = std::make_unique<modMain::RequestIntake>(std::move(c));
        intake_->Resolver().random = &random_;
        Perm(".", kTypeNS, "a.root.test.");
        Perm("a.root.test.", kTypeA, modIP::IPToData("127.0.0.10"));
    }

    void Perm(const std::string& name, int32_t type, const std::string& data) {
        cache_.AddRec(MakeRecord(name, type, data, 3600, clock_.Now(), true));
    }
    void Learnt(const std::string& name, int32_t type, const std::string& data) {
        cache_.AddRec(MakeRecord(name, type, data, 600, clock_.Now()));
    }

    void Arrive(const std::string& data, const std::string& ip, uint16_t port) {
        platform::Datagram d;
        d.data = data;
        d.fromIp = ip;
        d.fromPort = port;
        d.localIp = "192.0.2.53";
        intake_->OnDatagram(d);
    }
    void Client(int id, const std::string& name, int type = kTypeA, uint16_t port = 5000) {
        Arrive(ClientQuery(id, name, type), "10.0.0.9", port);
    }
    // A reply of the server the query went to.
    void Answer(const Query& q, const std::string& data) { Arrive(data, q.to, 53); }

    // Queries sent to other servers since the last call.
    std::vector<Query> NewQueries() {
        std::vector<Query> out;
        for (; seen_ < sender_.sent.size(); ++seen_) {
            const auto& s = sender_.sent[seen_];
            if (s.port != 53 || (static_cast<unsigned char>(s.data[2]) & 0x80)) continue;
            clDNSAnswer a;
            EXPECT_TRUE(DecodeReply(s.data, a, clock_.Now()));
            out.push_back(
                {a.Id, (static_cast<unsigned char>(s.data[2]) & 1) != 0, a.RqName, a.RqType, s.ip});
        }
        return out;
    }
    Query OneQuery() {
        auto q = NewQueries();
        EXPECT_EQ(q.size(), 1u);
        return q.empty() ? Query{} : q.back();
    }
    // Replies sent to clients so far, decoded.
    std::vector<clDNSAnswer> ClientReplies() const {
        std::vector<clDNSAnswer> out;
        for (const auto& s : sender_.sent) {
            if (s.port == 53) continue;
            clDNSAnswer a;
            DecodeReply(s.data, a, clock_.Now());
            out.push_back(a);
        }
        return out;
    }
    bool Logged(const std::string& line) const {
        for (const std::string& l : log_.WindowLines())
            if (l.substr(11) == line) return true;
        return false;
    }
    std::vector<std::string> Addresses(const RecordList& s) const {
        std::vector<std::string> out;
        for (const RecordRef& r : s)
            if (r->RecType == kTypeA) out.push_back(modIP::DataToIP(r->Data));
        return out;
    }
    void Tick(int seconds = 1) {
        for (int i = 0; i < seconds; ++i) {
            clock_.Advance(1);
            intake_->TimeOuts();
        }
    }
    size_t Waiting(int16_t level) const {
        size_t n = 0;
        for (const RequestRef& r : intake_->Outstanding().Items())
            n += r && r->State != 9 && r->Level == level;
        return n;
    }

    kest::test::FakeClock clock_;
    modMain::Settings settings_;
    modMain::ActivityLog log_;
    std::vector<std::string> localIPs_{"192.0.2.53"};
    clLeases leases_;
    clDNSAuthData store_;
    clDNSCache cache_;
    kest::test::RecordingSender sender_;
    ScriptedRandom random_;
    std::unique_ptr<modMain::RequestIntake> intake_;
    size_t seen_ = 0;
};

// ---- Referrals, answers and the cache ----------------------------------------------------------

TEST_F(RecursionTest, WalksDownFromTheRootAndAnswersTheNextQuestionFromTheCache) {
    Client(0x4001, "www.leaf.test.");
    const Query q1 = OneQuery();
    EXPECT_EQ(q1.to, "127.0.0.10");
    EXPECT_EQ(q1.name, "www.leaf.test.");
    EXPECT_FALSE(q1.rd);
    EXPECT_GE(q1.id, 1);
    EXPECT_LE(q1.id, 32767);
    EXPECT_TRUE(
        Logged("Sending request to a.root.test. (127.0.0.10) for A-record for "
               "www.leaf.test."));
    Answer(q1, Reply(q1, 0, false, {}, {{"test.", kTypeNS, "ns.test."}},
                     {{"ns.test.", kTypeA, "127.0.0.20"}}));
    EXPECT_TRUE(Logged("Reply from 127.0.0.10 about A-record for www.leaf.test.:"));
    const Query q2 = OneQuery();
    EXPECT_EQ(q2.to, "127.0.0.20");
    Answer(q2, Reply(q2, 0, false, {}, {{"leaf.test.", kTypeNS, "ns.leaf.test."}},
                     {{"ns.leaf.test.", kTypeA, "127.0.0.30"}}));
    const Query q3 = OneQuery();
    EXPECT_EQ(q3.to, "127.0.0.30");
    Answer(q3, Reply(q3, 0, true, {{"www.leaf.test.", kTypeA, "10.1.2.3"}}));
    EXPECT_TRUE(Logged("-> Answer: A-record for www.leaf.test. = 10.1.2.3"));

    auto replies = ClientReplies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].Id, 0x4001);
    EXPECT_EQ(Addresses(replies[0].Section2), std::vector<std::string>{"10.1.2.3"});
    EXPECT_EQ(Waiting(0), 0u);

    // Now cached: the next client is answered without a query.
    Client(0x4002, "www.leaf.test.");
    EXPECT_TRUE(NewQueries().empty());
    replies = ClientReplies();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(Addresses(replies[1].Section2), std::vector<std::string>{"10.1.2.3"});
    // And the delegation is used for a sibling name.
    Client(0x4003, "ftp.leaf.test.");
    EXPECT_EQ(OneQuery().to, "127.0.0.30");
}

TEST_F(RecursionTest, ForgedRepliesChangeNothingAndAreNotCached) {
    Client(0x4101, "www.leaf.test.");
    const Query q = OneQuery();
    const std::vector<Rr> bad{{"www.leaf.test.", kTypeA, "6.6.6.6"}};
    Query wrongId = q;
    wrongId.id = q.id == 32767 ? 1 : q.id + 1;
    Answer(wrongId, Reply(wrongId, 0, true, bad));
    Arrive(Reply(q, 0, true, bad), "127.0.0.99", 53);  // from another address
    Query wrongName = q;
    wrongName.name = "evil.leaf.test.";
    Answer(wrongName, Reply(wrongName, 0, true, {{"evil.leaf.test.", kTypeA, "6.6.6.6"}}));
    Query wrongType = q;
    wrongType.type = kTypeMX;
    Answer(wrongType, Reply(wrongType, 0, true, bad));
    // An unsolicited reply about anything.
    Arrive(Reply({77, false, "other.test.", kTypeA, ""}, 0, true,
                 {{"other.test.", kTypeA, "6.6.6.7"}}),
           "127.0.0.10", 53);

    EXPECT_TRUE(NewQueries().empty());
    EXPECT_TRUE(ClientReplies().empty());
    EXPECT_TRUE(cache_.Ask("www.leaf.test.", kTypeA, true).Section2.empty());
    EXPECT_TRUE(cache_.Ask("evil.leaf.test.", kTypeA, true).Section2.empty());
    EXPECT_TRUE(cache_.Ask("other.test.", kTypeA, true).Section2.empty());

    // The real reply still works.
    Answer(q, Reply(q, 0, true, {{"www.leaf.test.", kTypeA, "10.1.2.3"}}));
    ASSERT_EQ(ClientReplies().size(), 1u);
    EXPECT_EQ(Addresses(ClientReplies()[0].Section2), std::vector<std::string>{"10.1.2.3"});
}

TEST_F(RecursionTest, TruncatedRepliesReachTheRequestButNotTheCacheAndGarbageIsHarmless) {
    Client(0x4201, "www.leaf.test.");
    const Query q = OneQuery();
    std::string full =
        Reply(q, 0, true,
              {{"www.leaf.test.", kTypeA, "10.1.2.3"}, {"www.leaf.test.", kTypeA, "10.1.2.4"}});
    // Garbage that looks like replies: nothing happens, nothing breaks.
    for (int n = 12; n < static_cast<int>(full.size()); n += 3) {
        std::string g = full.substr(0, static_cast<size_t>(n));
        g[0] = static_cast<char>(g[0] ^ 0x55);
        Answer(q, g);
    }
    Arrive(std::string(40, '\xff'), q.to, 53);
    EXPECT_TRUE(ClientReplies().empty());

    Answer(q, full.substr(0, full.size() - 2));  // the second record runs past the end
    EXPECT_TRUE(Logged("-> Incomplete..."));
    const auto replies = ClientReplies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(Addresses(replies[0].Section2), std::vector<std::string>{"10.1.2.3"});
    EXPECT_TRUE(cache_.Ask("www.leaf.test.", kTypeA, true).Section2.empty());

    // Cut inside its only answer record, an authoritative reply proves no empty answer: the
    // server is dropped (not as lame) and the next one asked.
    Learnt("cut.test.", kTypeNS, "ns1.cut.test.");
    Learnt("cut.test.", kTypeNS, "ns2.cut.test.");
    Learnt("ns1.cut.test.", kTypeA, modIP::IPToData("127.0.0.25"));
    Learnt("ns2.cut.test.", kTypeA, modIP::IPToData("127.0.0.26"));
    Client(0x4202, "www.cut.test.");
    Query c = OneQuery();
    const std::string whole = Reply(c, 0, true, {{"www.cut.test.", kTypeA, "10.7.7.7"}});
    Answer(c, whole.substr(0, whole.size() - 2));
    EXPECT_EQ(ClientReplies().size(), 1u);
    const std::string first = c.to;
    c = OneQuery();
    EXPECT_NE(c.to, first);
    EXPECT_EQ(cache_.Ask("cut.test.", kTypeNS, true).Section2.size(), 2u);
    Answer(c, Reply(c, 0, true, {{"www.cut.test.", kTypeA, "10.7.7.7"}}));
    ASSERT_EQ(ClientReplies().size(), 2u);
    EXPECT_EQ(Addresses(ClientReplies()[1].Section2), std::vector<std::string>{"10.7.7.7"});
}

TEST_F(RecursionTest, NameErrorsAndNoDataEndTheRequestAndAreCachedNegatively) {
    Client(0x4301, "gone.test.");
    Query q = OneQuery();
    Answer(q, Reply(q, 3, true, {}, {{"test.", kTypeSOA, Soa("test.")}}));
    auto replies = ClientReplies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].RCode, 3);
    ASSERT_EQ(replies[0].Section3.size(), 1u);
    EXPECT_EQ(replies[0].Section3[0]->RecType, kTypeSOA);
    EXPECT_EQ(cache_.Ask("gone.test.", kTypeA, true).RCode, 3);

    Client(0x4302, "empty.test.", kTypeMX);
    q = OneQuery();
    Answer(q, Reply(q, 0, true, {}, {{"test.", kTypeSOA, Soa("test.")}}));
    replies = ClientReplies();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].RCode, 0);
    EXPECT_TRUE(replies[1].Section2.empty());
    EXPECT_EQ(replies[1].Section3.size(), 1u);
    EXPECT_TRUE(Logged("-> Answer: No Matching Records exist!"));
    // Answered again from the negative marker, without a query.
    Client(0x4303, "empty.test.", kTypeMX);
    EXPECT_TRUE(NewQueries().empty());
    EXPECT_EQ(ClientReplies().size(), 3u);
}

TEST_F(RecursionTest, CnamesAreFollowedAcrossZonesAndLoopsEnd) {
    Learnt("one.test.", kTypeNS, "ns.one.test.");
    Learnt("ns.one.test.", kTypeA, modIP::IPToData("127.0.0.31"));
    Learnt("two.test.", kTypeNS, "ns.two.test.");
    Learnt("ns.two.test.", kTypeA, modIP::IPToData("127.0.0.32"));
    Client(0x4401, "www.one.test.");
    Query q = OneQuery();
    EXPECT_EQ(q.to, "127.0.0.31");
    Answer(q, Reply(q, 0, true, {{"www.one.test.", kTypeCNAME, "host.two.test."}}));
    q = OneQuery();
    EXPECT_EQ(q.to, "127.0.0.32");
    EXPECT_EQ(q.name, "host.two.test.");
    Answer(q, Reply(q, 0, true, {{"host.two.test.", kTypeA, "10.2.2.2"}}));
    auto replies = ClientReplies();
    ASSERT_EQ(replies.size(), 1u);
    ASSERT_EQ(replies[0].Section2.size(), 2u);
    EXPECT_EQ(replies[0].Section2[0]->RecType, kTypeCNAME);
    EXPECT_EQ(replies[0].RqName, "www.one.test.");

    // a -> b in one zone, b -> a in the other: the chain ends when it comes back.
    Client(0x4402, "a.one.test.");
    q = OneQuery();
    Answer(q, Reply(q, 0, true, {{"a.one.test.", kTypeCNAME, "b.two.test."}}));
    q = OneQuery();
    Answer(q, Reply(q, 0, true, {{"b.two.test.", kTypeCNAME, "a.one.test."}}));
    EXPECT_TRUE(NewQueries().empty());
    replies = ClientReplies();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].Section2.size(), 2u);
    EXPECT_EQ(replies[1].RCode, 0);
}

TEST_F(RecursionTest, FailingLameAndLoopingServersAreDropped) {
    Learnt("test.", kTypeNS, "ns1.test.");
    Learnt("test.", kTypeNS, "ns2.test.");
    Learnt("ns1.test.", kTypeA, modIP::IPToData("127.0.0.21"));
    Learnt("ns2.test.", kTypeA, modIP::IPToData("127.0.0.22"));
    random_.script = {0};  // the first of the two
    Client(0x4501, "www.test.");
    Query q = OneQuery();
    EXPECT_EQ(q.to, "127.0.0.21");
    Answer(q, Reply(q, 2, false, {}));  // server failure: the other is asked at once
    q = OneQuery();
    EXPECT_EQ(q.to, "127.0.0.22");
    // A referral to the zone it serves already: lame, removed from the cache too.
    Answer(q, Reply(q, 0, false, {}, {{"test.", kTypeNS, "ns2.test."}},
                    {{"ns2.test.", kTypeA, "127.0.0.22"}}));
    EXPECT_TRUE(Logged("** Error: Lame delegation for test. on ns2.test. (127.0.0.22)"));
    // The lame server's NS record is gone from the cache.
    for (const RecordRef& r : cache_.Ask("test.", kTypeNS, true).Section2) {
        EXPECT_NE(r->Data, "ns2.test.");
    }
    // No server left.
    auto replies = ClientReplies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].RCode, 2);

    // A referral whose in-zone servers come without addresses is no referral.
    Learnt("test.", kTypeNS, "ns1.test.");
    Client(0x4502, "www.deep.test.");
    q = OneQuery();
    EXPECT_EQ(q.to, "127.0.0.21");
    Answer(q, Reply(q, 0, false, {}, {{"deep.test.", kTypeNS, "ns.deep.test."}}));
    EXPECT_TRUE(Logged("** Error: Lame delegation for test. on ns1.test. (127.0.0.21)"));
    EXPECT_EQ(ClientReplies().back().RCode, 2);

    // Two servers that refer to each other at the same depth: both lame, the request ends.
    Learnt("loop.test.", kTypeNS, "nsa.loop.test.");
    Learnt("loop.test.", kTypeNS, "nsb.loop.test.");
    Learnt("nsa.loop.test.", kTypeA, modIP::IPToData("127.0.0.23"));
    Learnt("nsb.loop.test.", kTypeA, modIP::IPToData("127.0.0.24"));
    Client(0x4503, "www.loop.test.");
    for (int i = 0; i < 2; ++i) {
        q = OneQuery();
        const bool a = q.to == "127.0.0.23";
        Answer(q, Reply(q, 0, false, {},
                        {{"loop.test.", kTypeNS, a ? "nsb.loop.test." : "nsa.loop.test."}},
                        {{a ? "nsb.loop.test." : "nsa.loop.test.", kTypeA,
                          a ? "127.0.0.24" : "127.0.0.23"}}));
    }
    EXPECT_TRUE(NewQueries().empty());
    EXPECT_EQ(ClientReplies().size(), 3u);
    EXPECT_EQ(ClientReplies().back().RCode, 2);
}

TEST_F(RecursionTest, ThisServerNamedAsServerIsALameDelegation) {
    Learnt("self.test.", kTypeNS, "ns.self.test.");
    Learnt("self.test.", kTypeNS, "ns2.self.test.");
    Learnt("ns.self.test.", kTypeA, modIP::IPToData("192.0.2.53"));  // our own address
    Learnt("ns2.self.test.", kTypeA, modIP::IPToData("127.0.0.1"));
    Client(0x4601, "www.self.test.");
    EXPECT_TRUE(NewQueries().empty());
    EXPECT_TRUE(Logged("** Error: Lame delegation on this server (192.0.2.53) for self.test."));
    EXPECT_TRUE(Logged("** Error: Lame delegation on this server (127.0.0.1) for self.test."));
    EXPECT_EQ(ClientReplies().back().RCode, 2);

    // With DNSBind set only that address is this server.
    settings_.DNSBind = "127.0.0.7";
    Client(0x4602, "www2.self.test.");
    EXPECT_EQ(OneQuery().to, "192.0.2.53");
}

TEST_F(RecursionTest, SpoofSecureKeepsOnlyRecordsOfTheServersZone) {
    settings_.SpoofSecure = true;
    Learnt("leaf.test.", kTypeNS, "ns.leaf.test.");
    Learnt("ns.leaf.test.", kTypeA, modIP::IPToData("127.0.0.30"));
    Client(0x4701, "www.leaf.test.");
    const Query q = OneQuery();
    Answer(q,
           Reply(q, 0, true, {{"www.leaf.test.", kTypeA, "10.1.2.3"}},
                 {{"leaf.test.", kTypeNS, "ns.leaf.test."}}, {{"bank.other.", kTypeA, "6.6.6.6"}}));
    EXPECT_EQ(cache_.Ask("www.leaf.test.", kTypeA, true).Section2.size(), 1u);
    EXPECT_TRUE(cache_.Ask("bank.other.", kTypeA, true).Section2.empty());
    const auto r = ClientReplies();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_TRUE(r[0].Section4.empty());
}

// ---- Name server addresses -------------------------------------------------------------------

TEST_F(RecursionTest, SubRequestFindsAServersAddressAndHandsItToTheParent) {
    Client(0x4801, "www.leaf.test.");
    Query q = OneQuery();
    // A referral to a server outside the zone, without its address.
    Answer(q, Reply(q, 0, false, {}, {{"leaf.test.", kTypeNS, "ns.other.net."}}));
    q = OneQuery();
    EXPECT_EQ(q.name, "ns.other.net.");
    EXPECT_EQ(q.to, "127.0.0.10");  // the sub-request starts at the root
    EXPECT_EQ(Waiting(1), 1u);
    const RequestRef parent = intake_->Outstanding().Items()[0];
    EXPECT_EQ(parent->State, 2);
    RequestRef sub;
    for (const RequestRef& r : intake_->Outstanding().Items())
        if (r->Level == 1) sub = r;
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->RequestIP, parent->RequestKey);
    EXPECT_EQ(sub->RequestID, 0);

    Answer(q, Reply(q, 0, true, {{"ns.other.net.", kTypeA, "127.0.0.40"}}));
    EXPECT_EQ(sub->State, 9);
    q = OneQuery();
    EXPECT_EQ(q.to, "127.0.0.40");
    EXPECT_EQ(q.name, "www.leaf.test.");
    Answer(q, Reply(q, 0, true, {{"www.leaf.test.", kTypeA, "10.1.2.3"}}));
    const auto r = ClientReplies();
    ASSERT_EQ(r.size(), 1u);  // the sub-request answers no client
    EXPECT_EQ(r[0].Id, 0x4801);
}

TEST_F(RecursionTest, InZoneServerWithoutAddressStartsFromTheRoot) {
    Learnt("leaf.test.", kTypeNS, "ns.leaf.test.");  // no address cached
    Client(0x4901, "www.leaf.test.");
    const Query q = OneQuery();
    EXPECT_EQ(q.name, "ns.leaf.test.");
    EXPECT_EQ(q.to, "127.0.0.10");
    RequestRef sub;
    for (const RequestRef& r : intake_->Outstanding().Items())
        if (r->Level == 1) sub = r;
    ASSERT_TRUE(sub);
    EXPECT_EQ(sub->RequestID, 2);  // mode 1, then started from the root servers
    EXPECT_EQ(sub->ServerZone(), ".");
}

TEST_F(RecursionTest, ServerNamesThroughCnamesAndTheirLoops) {
    Learnt("c.test.", kTypeNS, "ns.c.test.");
    Learnt("ns.c.test.", kTypeCNAME, "host.elsewhere.");
    Learnt("host.elsewhere.", kTypeA, modIP::IPToData("127.0.0.41"));
    Client(0x4a01, "www.c.test.");
    EXPECT_EQ(OneQuery().to, "127.0.0.41");

    // A chain of more than 8 CNAMEs is cut even though it would end in an address.
    Learnt("long.test.", kTypeNS, "n1.long.test.");
    for (int i = 1; i <= 12; ++i) {
        Learnt("n" + std::to_string(i) + ".long.test.", kTypeCNAME,
               "n" + std::to_string(i + 1) + ".long.test.");
    }
    Learnt("n13.long.test.", kTypeA, modIP::IPToData("127.0.0.99"));
    Client(0x4a02, "www.long.test.");
    EXPECT_TRUE(NewQueries().empty());
    EXPECT_EQ(ClientReplies().back().RCode, 2);
    // Eight are followed, nine are not.
    Learnt("short.test.", kTypeNS, "n5.long.test.");
    Client(0x4a03, "www.short.test.");
    EXPECT_EQ(OneQuery().to, "127.0.0.99");
    Learnt("mid.test.", kTypeNS, "n4.long.test.");
    Client(0x4a05, "www.mid.test.");
    EXPECT_TRUE(NewQueries().empty());

    // A loop that does not come back to the first name ends too.
    Learnt("l.test.", kTypeNS, "m1.l.test.");
    Learnt("m1.l.test.", kTypeCNAME, "m2.l.test.");
    Learnt("m2.l.test.", kTypeCNAME, "m3.l.test.");
    Learnt("m3.l.test.", kTypeCNAME, "m2.l.test.");
    Client(0x4a04, "www.l.test.");
    EXPECT_TRUE(NewQueries().empty());
    EXPECT_EQ(ClientReplies().back().RCode, 2);
}

TEST_F(RecursionTest, AddNSAnsFollowsCnamesInsideOneAnswer) {
    // The answer of a sub-request: a CNAME and its target's addresses.
    Client(0x4b01, "www.leaf.test.");
    Query q = OneQuery();
    Answer(q, Reply(q, 0, false, {}, {{"leaf.test.", kTypeNS, "ns.other.net."}}));
    q = OneQuery();
    Answer(q, Reply(q, 0, true,
                    {{"ns.other.net.", kTypeCNAME, "real.other.net."},
                     {"real.other.net.", kTypeA, "127.0.0.42"},
                     {"real.other.net.", kTypeA, "127.0.0.43"}}));
    const RequestRef parent = intake_->Outstanding().Items()[0];
    ASSERT_EQ(parent->Servers().size(), 2u);
    EXPECT_EQ(parent->Servers()[0].Name, "real.other.net.");
    q = OneQuery();
    EXPECT_TRUE(q.to == "127.0.0.42" || q.to == "127.0.0.43");
}

TEST_F(RecursionTest, SubRequestsNestAtMostThreeDeep) {
    // Every zone's server lies in the next zone, none with an address.
    for (int i = 0; i < 6; ++i) {
        Learnt("z" + std::to_string(i) + ".test.", kTypeNS,
               "ns.z" + std::to_string(i + 1) + ".test.");
    }
    size_t deepest = 0;
    intake_->Resolver().createRequest = [&, inner = intake_->Resolver().createRequest](
                                            int32_t id, bool rd, const std::string& n, int32_t t,
                                            const std::string& ip, int32_t port, int16_t level) {
        deepest = std::max<size_t>(deepest, static_cast<size_t>(level));
        inner(id, rd, n, t, ip, port, level);
    };
    for (int i = 0; i < 20; ++i) Client(0x4c01 + i, "h" + std::to_string(i) + ".z0.test.");
    // The level 3 requests find their zone's server without address and give up; so does
    // everyone above them, without a query.
    EXPECT_EQ(deepest, 3u);
    EXPECT_TRUE(NewQueries().empty());
    ASSERT_EQ(ClientReplies().size(), 20u);
    for (const auto& r : ClientReplies()) EXPECT_EQ(r.RCode, 2);
    EXPECT_EQ(Waiting(1) + Waiting(2) + Waiting(3), 0u);
}

TEST_F(RecursionTest, BurstOfQuestionsKeepsTheLimits) {
    Learnt("z0.test.", kTypeNS, "ns.z0.test.");
    Learnt("ns.z0.test.", kTypeA, modIP::IPToData("127.0.0.60"));  // never answers
    for (int i = 0; i < 150; ++i) Client(0x5000 + i, "h" + std::to_string(i) + ".z0.test.");
    EXPECT_EQ(Waiting(0), 101u);
    std::set<int32_t> ids;
    for (const Query& q : NewQueries()) ids.insert(q.id);
    EXPECT_GT(ids.size(), 90u);  // IDs vary
    // Nobody answers: every client request ends within MinTimeOut + 60 seconds.
    Tick(61);
    EXPECT_EQ(Waiting(0), 0u);
    EXPECT_EQ(ClientReplies().size(), 101u);
    for (const auto& r : ClientReplies()) EXPECT_EQ(r.RCode, 2);
}

// ---- Time-outs, forwarding, tagging ----------------------------------------------------------

TEST_F(RecursionTest, SilentServersAreRetriedInTurnThenServerFailure) {
    Learnt("test.", kTypeNS, "ns1.test.");
    Learnt("test.", kTypeNS, "ns2.test.");
    Learnt("ns1.test.", kTypeA, modIP::IPToData("127.0.0.21"));
    Learnt("ns2.test.", kTypeA, modIP::IPToData("127.0.0.22"));
    Client(0x5101, "www.test.");
    std::vector<std::string> to{OneQuery().to};
    for (int i = 0; i < 20 && ClientReplies().empty(); ++i) {
        // Not before the clock's second has moved on.
        intake_->TimeOuts();
        EXPECT_TRUE(NewQueries().empty());
        Tick();
        for (const Query& q : NewQueries()) to.push_back(q.to);
    }
    // Each server five times, never twice ahead of the other.
    ASSERT_EQ(to.size(), 10u);
    int a = 0, b = 0;
    for (const std::string& t : to) {
        (t == "127.0.0.21" ? a : b) += 1;
        EXPECT_LE(std::abs(a - b), 1);
    }
    ASSERT_EQ(ClientReplies().size(), 1u);
    EXPECT_EQ(ClientReplies()[0].RCode, 2);
}

TEST_F(RecursionTest, ClientRequestsKeepTheirServersForMinTimeOutThenEndByTheDeadline) {
    settings_.MinTimeOut = 20;
    Learnt("test.", kTypeNS, "ns1.test.");
    Learnt("ns1.test.", kTypeA, modIP::IPToData("127.0.0.21"));
    Client(0x5201, "www.test.");
    NewQueries();
    Tick(15);
    EXPECT_EQ(NewQueries().size(), 15u);  // still asking after four rounds
    EXPECT_TRUE(ClientReplies().empty());
    Tick(10);
    EXPECT_EQ(ClientReplies().size(), 1u);  // the last query went out after 20 s

    // Many silent servers would take minutes in turn: the request ends at MinTimeOut + 60.
    settings_.MinTimeOut = 0;
    for (int i = 0; i < 40; ++i) {
        Learnt("many.test.", kTypeNS, "ns" + std::to_string(i) + ".many.test.");
        Learnt("ns" + std::to_string(i) + ".many.test.", kTypeA,
               modIP::IPToData("127.0.1." + std::to_string(i + 1)));
    }
    Client(0x5202, "www.many.test.");
    NewQueries();
    Tick(59);
    EXPECT_EQ(NewQueries().size(), 59u);
    EXPECT_EQ(ClientReplies().size(), 1u);
    Tick(1);
    ASSERT_EQ(ClientReplies().size(), 2u);
    EXPECT_EQ(ClientReplies()[1].RCode, 2);
    EXPECT_TRUE(NewQueries().empty());
    EXPECT_EQ(Waiting(0), 0u);
}

TEST_F(RecursionTest, ASubRequestWhoseParentIsGoneDoesNothing) {
    Client(0x5301, "www.leaf.test.");
    Query q = OneQuery();
    Answer(q, Reply(q, 0, false, {}, {{"leaf.test.", kTypeNS, "ns.other.net."}}));
    q = OneQuery();
    auto& items = intake_->Outstanding().Items();
    items.erase(items.begin());  // the parent leaves the list
    Answer(q, Reply(q, 0, true, {{"ns.other.net.", kTypeA, "127.0.0.40"}}));
    EXPECT_TRUE(NewQueries().empty());
    EXPECT_TRUE(ClientReplies().empty());
}

TEST_F(RecursionTest, ForwardersAreAskedWithRecursionDesired) {
    settings_.RecursionOut = true;
    settings_.NS = {"127.0.0.50", "127.0.0.51"};
    Client(0x5401, "www.anywhere.test.");
    Query q = OneQuery();
    EXPECT_TRUE(q.rd);
    EXPECT_TRUE(q.to == "127.0.0.50" || q.to == "127.0.0.51");
    EXPECT_TRUE(Logged("Sending request to Forward-DNS (" + q.to +
                       ") for A-record for www.anywhere.test."));
    const std::string first = q.to;
    Tick();
    q = OneQuery();
    EXPECT_NE(q.to, first);  // the other forwarder, before the first is asked again
    Answer(q, Reply(q, 0, false, {{"www.anywhere.test.", kTypeA, "10.3.3.3"}}));
    ASSERT_EQ(ClientReplies().size(), 1u);
    EXPECT_EQ(Addresses(ClientReplies()[0].Section2), std::vector<std::string>{"10.3.3.3"});
}

TEST_F(RecursionTest, IdenticalQuestionsShareOneResolution) {
    Client(0x5501, "www.leaf.test.", kTypeA, 6001);
    Client(0x5502, "www.leaf.test.", kTypeA, 6002);
    const Query q = OneQuery();
    EXPECT_TRUE(NewQueries().empty());
    Answer(q, Reply(q, 0, true, {{"www.leaf.test.", kTypeA, "10.1.2.3"}}));
    const auto r = ClientReplies();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].Id, 0x5502);  // the tagged one first
    EXPECT_EQ(r[1].Id, 0x5501);
}

// ---- Query IDs and keys ----------------------------------------------------------------------

TEST(QueryIds, DrawnInRangeAndNeverOneStillWaiting) {
    kest::test::FakeClock clock;
    modMain::Settings settings;
    ResolverContext ctx;
    ctx.settings = &settings;
    ctx.clock = &clock;
    OutstandingRequests list;
    auto busy = std::make_shared<clDNSRequest>(ctx);
    busy->State = 1;
    busy->OpenRqOut.push_back({5, "127.0.0.1", "a.", 1});
    list.Append(busy);
    ScriptedRandom random;
    random.script = {4, 32766 + 32767u, 9};  // 5 (taken), 32767, ...
    EXPECT_EQ(NextQueryId(list, random), 32767);
    random.script = {4, 9};
    EXPECT_EQ(NextQueryId(list, random), 10);

    SystemRandom system;
    std::set<int32_t> seen;
    for (int i = 0; i < 200; ++i) {
        const int32_t id = NextQueryId(list, system);
        EXPECT_GE(id, 1);
        EXPECT_LE(id, 32767);
        EXPECT_NE(id, 5);
        seen.insert(id);
    }
    EXPECT_GT(seen.size(), 150u);
}

TEST_F(RecursionTest, KeysStillInUseAreSkipped) {
    Client(0x5601, "www.leaf.test.");
    const std::string key = intake_->Outstanding().Items()[0]->RequestKey;
    EXPECT_EQ(key, "0000001K");
    intake_->SetKeyCounter(0);
    Client(0x5602, "ftp.leaf.test.");
    EXPECT_EQ(intake_->Outstanding().Items()[1]->RequestKey, "0000002K");
}

}  // namespace
