// Answers of the zone store for zones built in memory.
#include "server/authority/clDNSAuthData.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/modDNS.h"
#include "core/modIP.h"
#include "server/dhcp/clLease.h"
#include "tests/support/fake_clock.h"

namespace {

using namespace modDNS;
namespace fs = std::filesystem;

std::string MxData(int pref, const std::string& name) {
    return MakeShortL(pref) + name;
}
std::string SrvData(int prio, int weight, int port, const std::string& name) {
    return MakeShortL(prio) + MakeShortL(weight) + MakeShortL(port) + name;
}
std::string SoaData() {
    SoaFields soa;
    soa.mname = "ns1.example.com.";
    soa.rname = "hostmaster.example.com.";
    soa.serial = 7;
    soa.refresh = 3600;
    soa.retry = 600;
    soa.expire = 86400;
    soa.minimum = 300;
    return MakeSOAData(soa);
}

class AuthAsk : public ::testing::Test {
  protected:
    AuthAsk()
        : dir_(fs::temp_directory_path() /
               ("kest_auth_ask_" +
                std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name())),
          leases_(settings_, clock_, dir_),
          store_(
              settings_, clock_, [this](int, std::string_view t) { log_.emplace_back(t); }, leases_,
              dir_ / "data") {}

    clZone& Zone(const std::string& name) {
        auto z = std::make_shared<clZone>();
        z->Name = name;
        store_.ZoneAdd(z);
        return *store_.GetZone(name);
    }
    RecordRef Add(clZone& z, const std::string& name, int32_t type, const std::string& data,
                  int32_t ttl = 3600) {
        auto r = MakeRecord(name, type, data, ttl, clock_.Now(), true);
        z.AddRec(r);
        return r;
    }
    RecordRef A(clZone& z, const std::string& name, const std::string& ip) {
        return Add(z, name, kTypeA, modIP::IPToData(ip));
    }

    // example.com. with SOA, two NS (one with an address), a few hosts.
    clZone& Example() {
        clZone& z = Zone("example.com.");
        soa_ = Add(z, "example.com.", kTypeSOA, SoaData());
        ns1_ = Add(z, "example.com.", kTypeNS, "ns1.example.com.");
        ns2_ = Add(z, "example.com.", kTypeNS, "ns.elsewhere.net.");
        ns1A_ = A(z, "ns1.example.com.", "10.0.0.2");
        www_ = A(z, "www.example.com.", "10.0.0.1");
        return z;
    }

    std::vector<std::string> Names(const RecordList& s) {
        std::vector<std::string> out;
        for (const auto& r : s) out.push_back(r->Name + " " + RTypeN(r->RecType));
        return out;
    }

    kest::test::FakeClock clock_;
    modMain::Settings settings_;
    fs::path dir_;
    clLeases leases_;
    std::vector<std::string> log_;
    clDNSAuthData store_;
    RecordRef soa_, ns1_, ns2_, ns1A_, www_;
};

TEST_F(AuthAsk, ExactAnswerCarriesTheZonesOwnRecordsAndItsNameServers) {
    Example();
    const clDNSAnswer a = store_.Ask("www.example.com.", kTypeA, false);
    EXPECT_TRUE(a.AA);
    EXPECT_EQ(a.RCode, 0);
    ASSERT_EQ(a.Section2.size(), 1u);
    EXPECT_EQ(a.Section2[0], www_);  // the very object, so round robin lasts
    // Store order: a record equal to the first name goes to the front, so ns2 precedes ns1.
    ASSERT_EQ(a.Section3.size(), 2u);
    EXPECT_EQ(a.Section3[0], ns2_);
    EXPECT_EQ(a.Section3[1], ns1_);
    ASSERT_EQ(a.Section4.size(), 1u);
    EXPECT_EQ(a.Section4[0], ns1A_);

    // ANY takes every record of the name; quick leaves out the name servers.
    const clDNSAnswer any = store_.Ask("example.com.", kTypeANY, true);
    EXPECT_TRUE(any.AA);
    EXPECT_EQ(any.Section2.size(), 3u);
    EXPECT_TRUE(any.Section3.empty());
    EXPECT_TRUE(any.Section4.empty());

    // The name server's own address asked for: in the answer, not repeated as additional.
    const clDNSAnswer ns = store_.Ask("ns1.example.com.", kTypeA, false);
    ASSERT_EQ(ns.Section2.size(), 1u);
    EXPECT_TRUE(ns.Section4.empty());
}

TEST_F(AuthAsk, ClosestZoneWinsAndNamesOutsideGetNothing) {
    Example();
    clZone& sub = Zone("sub.example.com.");
    auto host = A(sub, "a.sub.example.com.", "10.1.0.1");
    const clDNSAnswer a = store_.Ask("a.sub.example.com.", kTypeA, true);
    ASSERT_EQ(a.Section2.size(), 1u);
    EXPECT_EQ(a.Section2[0], host);

    for (const char* name : {"www.example.org.", "com.", ".", "xexample.com."}) {
        const clDNSAnswer out = store_.Ask(name, kTypeA, false);
        EXPECT_FALSE(out.AA) << name;
        EXPECT_EQ(out.RCode, 0);
        EXPECT_TRUE(out.Section2.empty() && out.Section3.empty() && out.Section4.empty());
    }

    // The root zone is tried last.
    clZone& root = Zone(".");
    A(root, "x.org.", "10.9.9.9");
    EXPECT_TRUE(store_.Ask("x.org.", kTypeA, true).AA);
    EXPECT_EQ(store_.Ask("www.example.com.", kTypeA, true).Section2[0], www_);
}

TEST_F(AuthAsk, CnameIsAnsweredForEveryTypeAndBringsNoMailAdditionals) {
    clZone& z = Example();
    // Data from its third byte on names a host of the zone: only an MX record may be read so.
    auto cname = Add(z, "alias.example.com.", kTypeCNAME, "xxwww.example.com.");
    for (int32_t t : {kTypeA, kTypeMX, kTypeTXT, kTypeSRV}) {
        const clDNSAnswer a = store_.Ask("alias.example.com.", t, true);
        ASSERT_EQ(a.Section2.size(), 1u) << t;
        EXPECT_EQ(a.Section2[0], cname);
        EXPECT_TRUE(a.Section4.empty()) << t;
    }
}

TEST_F(AuthAsk, MailAndServiceAnswersBringTheTargetsAddresses) {
    clZone& z = Example();
    auto mx1 = Add(z, "example.com.", kTypeMX, MxData(10, "mail.example.com."));
    auto mx2 = Add(z, "example.com.", kTypeMX, MxData(20, "ns1.example.com."));
    Add(z, "example.com.", kTypeMX, MxData(30, "mx.outside.org."));
    auto mailA = A(z, "mail.example.com.", "10.0.0.25");
    auto mailA2 = A(z, "mail.example.com.", "10.0.0.26");
    Add(z, "mail.example.com.", kTypeTXT, "\x02hi");

    // In store order the MX records stand 30, 20, 10 (each went to the front of its name), and
    // so do mail's two addresses; ns1's address comes once, though it is a name server's too.
    const clDNSAnswer a = store_.Ask("example.com.", kTypeMX, false);
    ASSERT_EQ(a.Section2.size(), 3u);
    EXPECT_EQ(a.Section2[1], mx2);
    EXPECT_EQ(a.Section2[2], mx1);
    EXPECT_EQ(a.Section4, (RecordList{ns1A_, mailA2, mailA}));

    // ANY is not MX: no additional addresses for the exchanges.
    EXPECT_TRUE(store_.Ask("example.com.", kTypeANY, true).Section4.empty());

    auto srv = Add(z, "_sip._udp.example.com.", kTypeSRV, SrvData(0, 5, 5060, "mail.example.com."));
    const clDNSAnswer s = store_.Ask("_sip._udp.example.com.", kTypeSRV, true);
    ASSERT_EQ(s.Section2.size(), 1u);
    EXPECT_EQ(s.Section2[0], srv);
    EXPECT_EQ(s.Section4, (RecordList{mailA2, mailA}));
}

TEST_F(AuthAsk, NoDataAndNameErrorCarryTheSoaUnlessQuick) {
    Example();
    const clDNSAnswer noData = store_.Ask("www.example.com.", kTypeMX, false);
    EXPECT_TRUE(noData.AA);
    EXPECT_EQ(noData.RCode, 0);
    EXPECT_TRUE(noData.Section2.empty());
    ASSERT_EQ(noData.Section3.size(), 1u);
    EXPECT_EQ(noData.Section3[0], soa_);
    EXPECT_TRUE(noData.Section4.empty());

    const clDNSAnswer nx = store_.Ask("nope.example.com.", kTypeA, false);
    EXPECT_TRUE(nx.AA);
    EXPECT_EQ(nx.RCode, 3);
    ASSERT_EQ(nx.Section3.size(), 1u);
    EXPECT_EQ(nx.Section3[0], soa_);

    const clDNSAnswer quick = store_.Ask("nope.example.com.", kTypeA, true);
    EXPECT_EQ(quick.RCode, 3);
    EXPECT_TRUE(quick.Section3.empty());

    // A name deeper down with nothing above it but the zone.
    EXPECT_EQ(store_.Ask("a.b.c.example.com.", kTypeA, false).RCode, 3);
}

TEST_F(AuthAsk, WildcardsWalkUpFromTheClosestLevel) {
    clZone& z = Example();
    auto wild = A(z, "*.example.com.", "10.0.0.9");
    wild->SetTTL(1234, clock_.Now());
    const clDNSAnswer a = store_.Ask("x.y.example.com.", kTypeA, false);
    EXPECT_TRUE(a.AA);
    EXPECT_EQ(a.RCode, 0);
    ASSERT_EQ(a.Section2.size(), 1u);
    const RecordRef& got = a.Section2[0];
    EXPECT_NE(got, wild);  // a copy under the asked name
    EXPECT_EQ(got->Name, "x.y.example.com.");
    EXPECT_EQ(got->Data, modIP::IPToData("10.0.0.9"));
    EXPECT_EQ(got->TTL(clock_.Now()), 1234);
    EXPECT_TRUE(got->Permanent);
    EXPECT_EQ(wild->Name, "*.example.com.");
    EXPECT_EQ(Names(a.Section3), (std::vector<std::string>{"example.com. NS", "example.com. NS"}));

    // A closer wildcard wins over the one above it.
    A(z, "*.y.example.com.", "10.0.0.10");
    const clDNSAnswer closer = store_.Ask("x.y.example.com.", kTypeA, true);
    ASSERT_EQ(closer.Section2.size(), 1u);
    EXPECT_EQ(closer.Section2[0]->Data, modIP::IPToData("10.0.0.10"));

    // A wildcard with other types only ends the walk with no data, not a name error.
    Add(z, "*.t.example.com.", kTypeTXT, "\x01x");
    const clDNSAnswer other = store_.Ask("q.t.example.com.", kTypeA, false);
    EXPECT_EQ(other.RCode, 0);
    EXPECT_TRUE(other.Section2.empty());
    ASSERT_EQ(other.Section3.size(), 1u);
    EXPECT_EQ(other.Section3[0], soa_);

    // An existing name is never answered from a wildcard.
    EXPECT_TRUE(store_.Ask("www.example.com.", kTypeTXT, true).Section2.empty());
}

TEST_F(AuthAsk, WildcardMailAnswerBringsTheExchangeAddress) {
    clZone& z = Example();
    Add(z, "*.example.com.", kTypeMX, MxData(10, "mail.example.com."));
    auto mail = A(z, "mail.example.com.", "10.0.0.25");
    const clDNSAnswer a = store_.Ask("pc1.example.com.", kTypeMX, true);
    ASSERT_EQ(a.Section2.size(), 1u);
    EXPECT_EQ(a.Section2[0]->Name, "pc1.example.com.");
    ASSERT_EQ(a.Section4.size(), 1u);
    EXPECT_EQ(a.Section4[0], mail);
}

TEST_F(AuthAsk, WildcardInTheRootZone) {
    clZone& root = Zone(".");
    Add(root, ".", kTypeSOA, SoaData());
    A(root, "*.", "10.7.7.7");
    const clDNSAnswer a = store_.Ask("a.b.", kTypeA, false);
    ASSERT_EQ(a.Section2.size(), 1u);
    EXPECT_EQ(a.Section2[0]->Name, "a.b.");
    const clDNSAnswer nx = store_.Ask("a.b.", kTypeTXT, false);
    EXPECT_EQ(nx.RCode, 0);                              // "*." exists with another type
    EXPECT_EQ(store_.Ask(".", kTypeA, false).RCode, 0);  // the root has its SOA
}

TEST_F(AuthAsk, DelegationWithGlueIsAReferral) {
    clZone& z = Example();
    auto nsSub = Add(z, "sub.example.com.", kTypeNS, "ns1.sub.example.com.");
    auto glue = A(z, "ns1.sub.example.com.", "10.0.1.1");
    for (const char* name : {"sub.example.com.", "host.sub.example.com.", "a.b.sub.example.com."}) {
        const clDNSAnswer a = store_.Ask(name, kTypeA, false);
        EXPECT_FALSE(a.AA) << name;
        EXPECT_EQ(a.RCode, 0);
        EXPECT_TRUE(a.Section2.empty());
        ASSERT_EQ(a.Section3.size(), 1u) << name;
        EXPECT_EQ(a.Section3[0], nsSub);
        ASSERT_EQ(a.Section4.size(), 1u);
        EXPECT_EQ(a.Section4[0], glue);
    }
    // The glue's own name lies below the delegation too.
    EXPECT_FALSE(store_.Ask("ns1.sub.example.com.", kTypeA, false).AA);
    // Name servers at the zone's own name are no delegation.
    EXPECT_TRUE(store_.Ask("www.example.com.", kTypeA, false).AA);
}

TEST_F(AuthAsk, DelegationWithoutGlueIsIgnoredUnlessTheServerLiesOutside) {
    clZone& z = Example();
    Add(z, "sub.example.com.", kTypeNS, "ns1.sub.example.com.");
    auto inSub = A(z, "host.sub.example.com.", "10.0.1.5");
    const clDNSAnswer a = store_.Ask("host.sub.example.com.", kTypeA, false);
    EXPECT_TRUE(a.AA);
    ASSERT_EQ(a.Section2.size(), 1u);
    EXPECT_EQ(a.Section2[0], inSub);
    EXPECT_EQ(store_.Ask("x.sub.example.com.", kTypeA, false).RCode, 3);

    // A second server outside the delegated name makes it a referral, with no additional data;
    // the glue-less inside server stays out of it.
    auto outside = Add(z, "sub.example.com.", kTypeNS, "ns.other.net.");
    const clDNSAnswer r = store_.Ask("host.sub.example.com.", kTypeA, false);
    EXPECT_FALSE(r.AA);
    ASSERT_EQ(r.Section3.size(), 1u);
    EXPECT_EQ(r.Section3[0], outside);
    EXPECT_TRUE(r.Section4.empty());

    // A server named like the delegation's sibling is outside it ("xsub" is not below "sub").
    clZone& z2 = Zone("example.net.");
    auto sib = Add(z2, "sub.example.net.", kTypeNS, "xsub.example.net.");
    const clDNSAnswer s = store_.Ask("a.sub.example.net.", kTypeA, false);
    ASSERT_EQ(s.Section3.size(), 1u);
    EXPECT_EQ(s.Section3[0], sib);
}

TEST_F(AuthAsk, DhcpLeasesAnswerNamesAndAddressesInOwnZones) {
    clZone& lan = Zone("lan.");
    Add(lan, "lan.", kTypeSOA, SoaData());
    Zone("0.10.in-addr.arpa.");  // a zone with no records: passed over, see below
    clZone& rev = Zone("10.in-addr.arpa.");
    Add(rev, "10.in-addr.arpa.", kTypeSOA, SoaData());

    clLease pc;
    pc.ClientName = "pc-7.lan.";
    pc.IPaddr = "10.0.0.50";
    pc.Expires = clock_.Now() + 1;
    leases_.Append(pc);
    clLease old = pc;
    old.ClientName = "old.lan.";
    old.IPaddr = "10.0.0.51";
    old.Expires = clock_.Now();  // expired now
    leases_.Append(old);
    clLease away = pc;
    away.ClientName = "pc.elsewhere.";
    leases_.Append(away);

    const clDNSAnswer a = store_.Ask("pc-7.lan.", kTypeA, true);
    EXPECT_TRUE(a.AA);
    ASSERT_EQ(a.Section2.size(), 1u);
    EXPECT_EQ(a.Section2[0]->Name, "pc-7.lan.");
    EXPECT_EQ(a.Section2[0]->RecType, kTypeA);
    EXPECT_EQ(a.Section2[0]->Data, modIP::IPToData("10.0.0.50"));
    EXPECT_TRUE(a.Section2[0]->Permanent);
    EXPECT_EQ(a.Section2[0]->TTL(clock_.Now()), 0);

    const clDNSAnswer p = store_.Ask("50.0.0.10.in-addr.arpa.", kTypePTR, true);
    ASSERT_EQ(p.Section2.size(), 2u);  // both leases of that address that are still valid
    EXPECT_EQ(p.Section2[0]->Data, "pc-7.lan.");
    EXPECT_EQ(p.Section2[1]->Data, "pc.elsewhere.");

    EXPECT_EQ(store_.Ask("pc-7.lan.", kTypeANY, true).Section2.size(), 1u);
    EXPECT_TRUE(store_.Ask("pc-7.lan.", kTypeMX, true).Section2.empty());
    EXPECT_EQ(store_.Ask("old.lan.", kTypeA, false).RCode, 3);
    EXPECT_TRUE(store_.Ask("51.0.0.10.in-addr.arpa.", kTypePTR, true).Section2.empty());
    EXPECT_FALSE(store_.Ask("pc.elsewhere.", kTypeA, true).AA);  // the cache answers that one
    // A lease answer is an answer: the zone's name servers follow (none here), no SOA.
    EXPECT_TRUE(store_.Ask("pc-7.lan.", kTypeA, false).Section3.empty());
}

TEST_F(AuthAsk, ZoneWithoutRecordsIsPassedOver) {
    Example();
    auto sec = std::make_shared<clZone>();
    sec->Name = "sec.example.net.";
    sec->PrimaryIP = "10.0.0.99";
    store_.ZoneAdd(sec);
    const clDNSAnswer a = store_.Ask("www.sec.example.net.", kTypeA, false);
    EXPECT_FALSE(a.AA);
    EXPECT_EQ(a.RCode, 0);
    EXPECT_TRUE(a.Section3.empty());
    EXPECT_TRUE(store_.ZoneExpired("sec.example.net."));
    EXPECT_TRUE(store_.AskAuth("www.sec.example.net."));
    EXPECT_EQ(store_.ZonePrimIP("sec.example.net."), "10.0.0.99");

    // An expired child of an own zone is answered by the parent.
    auto child = std::make_shared<clZone>();
    child->Name = "kid.example.com.";
    store_.ZoneAdd(child);
    EXPECT_EQ(store_.Ask("www.kid.example.com.", kTypeA, false).RCode, 3);
    EXPECT_TRUE(store_.Ask("www.kid.example.com.", kTypeA, false).AA);
}

TEST_F(AuthAsk, AskAuthStopsAtAnyDelegation) {
    clZone& z = Example();
    Add(z, "sub.example.com.", kTypeNS, "ns1.sub.example.com.");  // no glue: still a delegation
    EXPECT_TRUE(store_.AskAuth("www.example.com."));
    EXPECT_TRUE(store_.AskAuth("example.com."));
    EXPECT_TRUE(store_.AskAuth("nothing.example.com."));
    EXPECT_FALSE(store_.AskAuth("sub.example.com."));
    EXPECT_FALSE(store_.AskAuth("a.b.sub.example.com."));
    EXPECT_FALSE(store_.AskAuth("example.org."));
    EXPECT_FALSE(store_.AskAuth("."));
}

TEST_F(AuthAsk, ZoneQueries) {
    Example();
    EXPECT_EQ(store_.ZonePrimIP("example.com."), "");
    EXPECT_EQ(store_.ZonePrimIP("nope."), "");
    EXPECT_FALSE(store_.ZoneExpired("example.com."));
    EXPECT_FALSE(store_.ZoneExpired("nope."));
}

TEST_F(AuthAsk, ZoneListIsSortedWithOneZonePerName) {
    for (const char* n : {"m.", "b.", "z.", ".", "b.a.", "m."}) Zone(n);
    std::vector<std::string> names;
    for (const auto& z : store_.Zones()) names.push_back(z->Name);
    EXPECT_EQ(names, (std::vector<std::string>{".", "b.", "b.a.", "m.", "z."}));
    EXPECT_EQ(store_.ZoneFind("m."), 4);
    EXPECT_EQ(store_.ZoneFind("q."), 0);
    EXPECT_TRUE(store_.ZoneRemove("m."));
    EXPECT_FALSE(store_.ZoneRemove("m."));
    EXPECT_EQ(store_.ZoneFind("z."), 4);
}

// Replication attaches later; until then the entry points do nothing, and after it they reach it.
struct RecordingReplication : IAuthReplication {
    std::vector<std::string> calls;
    void Notify(const std::string& zone) override { calls.push_back("notify " + zone); }
    void ProcNotify(const std::string& ip, int32_t port, const std::string& zone,
                    const std::string& message) override {
        calls.push_back("proc " + ip + " " + std::to_string(port) + " " + zone + " " +
                        std::to_string(message.size()));
    }
};

TEST_F(AuthAsk, NotificationsReachTheAttachedReplication) {
    store_.Notify("example.com.");
    store_.ProcNotify("10.0.0.1", 53, "example.com.", "abc");
    RecordingReplication rep;
    store_.SetReplication(&rep);
    store_.Notify("example.com.");
    store_.ProcNotify("10.0.0.1", 5353, "example.com.", "abcd");
    EXPECT_EQ(rep.calls, (std::vector<std::string>{"notify example.com.",
                                                   "proc 10.0.0.1 5353 example.com. 4"}));
}

}  // namespace
