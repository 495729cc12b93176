// Answers of the zone store for zones built in memory.
#include "server/authority/clDNSAuthData.h"

#include <gtest/gtest.h>

#include "core/modDNS.h"
#include "core/modIP.h"
#include "server/dhcp/clLease.h"
#include "tests/support/fake_clock.h"

namespace {

using namespace modDNS;

class AuthAsk : public ::testing::Test {
  protected:
    AuthAsk()
        : leases_(settings_, clock_, "/nonexistent"),
          store_(settings_, clock_, nullptr, leases_, "/nonexistent/data") {}

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
    RecordRef A(clZone& z, const std::string& name, const std::string& ip) {
        return Add(z, name, kTypeA, modIP::IPToData(ip));
    }
    static std::string Mx(int pref, const std::string& name) { return MakeShortL(pref) + name; }

    // example.com. with its SOA, two name servers (one inside with its address) and a host.
    clZone& Example() {
        clZone& z = Zone("example.com.");
        soa_ = Add(z, "example.com.", kTypeSOA,
                   MakeSOAData({"ns1.example.com.", "hm.example.com.", 7, 3600, 600, 86400, 300}));
        ns1_ = Add(z, "example.com.", kTypeNS, "ns1.example.com.");
        ns2_ = Add(z, "example.com.", kTypeNS, "ns.elsewhere.net.");
        ns1A_ = A(z, "ns1.example.com.", "10.0.0.2");
        www_ = A(z, "www.example.com.", "10.0.0.1");
        return z;
    }

    kest::test::FakeClock clock_;
    modMain::Settings settings_;
    clLeases leases_;
    clDNSAuthData store_;
    RecordRef soa_, ns1_, ns2_, ns1A_, www_;
};

TEST_F(AuthAsk, ExactAnswerCarriesTheZonesOwnRecordsAndItsNameServers) {
    Example();
    const clDNSAnswer a = store_.Ask("www.example.com.", kTypeA, false);
    EXPECT_TRUE(a.AA);
    EXPECT_EQ(a.RCode, 0);
    EXPECT_EQ(a.Section2, RecordList{www_});  // the very object, so round robin lasts
    // Store order: a record equal to the first name goes to the front, so ns2 precedes ns1.
    EXPECT_EQ(a.Section3, (RecordList{ns2_, ns1_}));
    EXPECT_EQ(a.Section4, RecordList{ns1A_});

    // ANY takes every record of the name; quick leaves out the name servers.
    const clDNSAnswer any = store_.Ask("example.com.", kTypeANY, true);
    EXPECT_EQ(any.Section2.size(), 3u);
    EXPECT_TRUE(any.Section3.empty() && any.Section4.empty());
    // A name server's address asked for is not repeated as additional data.
    EXPECT_TRUE(store_.Ask("ns1.example.com.", kTypeA, false).Section4.empty());
}

TEST_F(AuthAsk, ClosestZoneWinsAndNamesOutsideGetNothing) {
    Example();
    auto host = A(Zone("sub.example.com."), "a.sub.example.com.", "10.1.0.1");
    EXPECT_EQ(store_.Ask("a.sub.example.com.", kTypeA, true).Section2, RecordList{host});

    for (const char* name : {"www.example.org.", "com.", ".", "xexample.com."}) {
        const clDNSAnswer out = store_.Ask(name, kTypeA, false);
        EXPECT_FALSE(out.AA) << name;
        EXPECT_EQ(out.RCode, 0);
        EXPECT_TRUE(out.Section2.empty() && out.Section3.empty() && out.Section4.empty());
    }
    // The root zone is tried last.
    A(Zone("."), "x.org.", "10.9.9.9");
    EXPECT_TRUE(store_.Ask("x.org.", kTypeA, true).AA);
    EXPECT_EQ(store_.Ask("www.example.com.", kTypeA, true).Section2, RecordList{www_});
}

TEST_F(AuthAsk, CnameIsAnsweredForEveryTypeAndBringsNoMailAdditionals) {
    clZone& z = Example();
    // Its data from the third byte on names a host: only an MX record may be read that way.
    auto cname = Add(z, "alias.example.com.", kTypeCNAME, "xxwww.example.com.");
    for (int32_t t : {kTypeA, kTypeMX, kTypeTXT, kTypeSRV}) {
        const clDNSAnswer a = store_.Ask("alias.example.com.", t, true);
        EXPECT_EQ(a.Section2, RecordList{cname}) << t;
        EXPECT_TRUE(a.Section4.empty()) << t;
    }
}

TEST_F(AuthAsk, MailAndServiceAnswersBringTheTargetsAddresses) {
    clZone& z = Example();
    auto mx1 = Add(z, "example.com.", kTypeMX, Mx(10, "mail.example.com."));
    auto mx2 = Add(z, "example.com.", kTypeMX, Mx(20, "ns1.example.com."));
    auto mx3 = Add(z, "example.com.", kTypeMX, Mx(30, "mx.outside.org."));
    auto mailA = A(z, "mail.example.com.", "10.0.0.25");
    auto mailA2 = A(z, "mail.example.com.", "10.0.0.26");
    Add(z, "mail.example.com.", kTypeTXT, "\x02hi");

    // In store order the MX records stand 30, 20, 10, and mail's addresses in reverse too;
    // ns1's address comes once, though it is also a name server's.
    const clDNSAnswer a = store_.Ask("example.com.", kTypeMX, false);
    EXPECT_EQ(a.Section2, (RecordList{mx3, mx2, mx1}));
    EXPECT_EQ(a.Section4, (RecordList{ns1A_, mailA2, mailA}));
    // ANY is not MX: no addresses for the exchanges.
    EXPECT_TRUE(store_.Ask("example.com.", kTypeANY, true).Section4.empty());

    auto srv = Add(z, "_sip._udp.example.com.", kTypeSRV,
                   MakeShortL(0) + MakeShortL(5) + MakeShortL(5060) + "mail.example.com.");
    const clDNSAnswer s = store_.Ask("_sip._udp.example.com.", kTypeSRV, true);
    EXPECT_EQ(s.Section2, RecordList{srv});
    EXPECT_EQ(s.Section4, (RecordList{mailA2, mailA}));
}

TEST_F(AuthAsk, NoDataAndNameErrorCarryTheSoaUnlessQuick) {
    Example();
    const clDNSAnswer noData = store_.Ask("www.example.com.", kTypeMX, false);
    EXPECT_TRUE(noData.AA);
    EXPECT_EQ(noData.RCode, 0);
    EXPECT_TRUE(noData.Section2.empty() && noData.Section4.empty());
    EXPECT_EQ(noData.Section3, RecordList{soa_});

    for (const char* name : {"nope.example.com.", "a.b.c.example.com."}) {
        const clDNSAnswer nx = store_.Ask(name, kTypeA, false);
        EXPECT_TRUE(nx.AA);
        EXPECT_EQ(nx.RCode, 3) << name;
        EXPECT_EQ(nx.Section3, RecordList{soa_});
    }
    const clDNSAnswer quick = store_.Ask("nope.example.com.", kTypeA, true);
    EXPECT_EQ(quick.RCode, 3);
    EXPECT_TRUE(quick.Section3.empty());
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
    EXPECT_EQ(got->Data, wild->Data);
    EXPECT_EQ(got->TTL(clock_.Now()), 1234);
    EXPECT_TRUE(got->Permanent);
    EXPECT_EQ(wild->Name, "*.example.com.");
    EXPECT_EQ(a.Section3, (RecordList{ns2_, ns1_}));

    // A closer wildcard wins; one with other types only ends the walk with no data.
    A(z, "*.y.example.com.", "10.0.0.10");
    EXPECT_EQ(store_.Ask("x.y.example.com.", kTypeA, true).Section2.at(0)->Data,
              modIP::IPToData("10.0.0.10"));
    Add(z, "*.t.example.com.", kTypeTXT, "\x01x");
    const clDNSAnswer other = store_.Ask("q.t.example.com.", kTypeA, false);
    EXPECT_EQ(other.RCode, 0);
    EXPECT_TRUE(other.Section2.empty());
    EXPECT_EQ(other.Section3, RecordList{soa_});
    // An existing name is never answered from a wildcard.
    EXPECT_TRUE(store_.Ask("www.example.com.", kTypeTXT, true).Section2.empty());

    // A wildcard MX brings its exchange's address.
    Add(z, "*.example.com.", kTypeMX, Mx(10, "mail.example.com."));
    auto mail = A(z, "mail.example.com.", "10.0.0.25");
    const clDNSAnswer m = store_.Ask("pc1.example.com.", kTypeMX, true);
    ASSERT_EQ(m.Section2.size(), 1u);
    EXPECT_EQ(m.Section2[0]->Name, "pc1.example.com.");
    EXPECT_EQ(m.Section4, RecordList{mail});
}

TEST_F(AuthAsk, WildcardInTheRootZone) {
    clZone& root = Zone(".");
    Add(root, ".", kTypeSOA, MakeSOAData({"a.", "b.", 1, 2, 3, 4, 5}));
    A(root, "*.", "10.7.7.7");
    EXPECT_EQ(store_.Ask("a.b.", kTypeA, false).Section2.at(0)->Name, "a.b.");
    EXPECT_EQ(store_.Ask("a.b.", kTypeTXT, false).RCode, 0);  // "*." exists with another type
    EXPECT_EQ(store_.Ask(".", kTypeA, false).RCode, 0);       // the root has its SOA
}

TEST_F(AuthAsk, DelegationWithGlueIsAReferral) {
    clZone& z = Example();
    auto nsSub = Add(z, "sub.example.com.", kTypeNS, "ns1.sub.example.com.");
    auto glue = A(z, "ns1.sub.example.com.", "10.0.1.1");
    for (const char* name : {"sub.example.com.", "host.sub.example.com.", "ns1.sub.example.com."}) {
        const clDNSAnswer a = store_.Ask(name, kTypeA, false);
        EXPECT_FALSE(a.AA) << name;
        EXPECT_EQ(a.RCode, 0);
        EXPECT_TRUE(a.Section2.empty());
        EXPECT_EQ(a.Section3, RecordList{nsSub});
        EXPECT_EQ(a.Section4, RecordList{glue});
    }
    // Name servers at the zone's own name are no delegation.
    EXPECT_TRUE(store_.Ask("www.example.com.", kTypeA, false).AA);
}

TEST_F(AuthAsk, DelegationWithoutGlueIsIgnoredUnlessTheServerLiesOutside) {
    clZone& z = Example();
    Add(z, "sub.example.com.", kTypeNS, "ns1.sub.example.com.");
    auto inSub = A(z, "host.sub.example.com.", "10.0.1.5");
    const clDNSAnswer a = store_.Ask("host.sub.example.com.", kTypeA, false);
    EXPECT_TRUE(a.AA);
    EXPECT_EQ(a.Section2, RecordList{inSub});
    EXPECT_EQ(store_.Ask("x.sub.example.com.", kTypeA, false).RCode, 3);

    // A server outside the delegated name makes a referral without additional data; the
    // glue-less inside server stays out of it.
    auto outside = Add(z, "sub.example.com.", kTypeNS, "ns.other.net.");
    const clDNSAnswer r = store_.Ask("host.sub.example.com.", kTypeA, false);
    EXPECT_FALSE(r.AA);
    EXPECT_EQ(r.Section3, RecordList{outside});
    EXPECT_TRUE(r.Section4.empty());

    // "xsub" is not below "sub".
    auto sib = Add(Zone("example.net."), "sub.example.net.", kTypeNS, "xsub.example.net.");
    EXPECT_EQ(store_.Ask("a.sub.example.net.", kTypeA, false).Section3, RecordList{sib});
}

TEST_F(AuthAsk, DhcpLeasesAnswerNamesAndAddressesInOwnZones) {
    Add(Zone("lan."), "lan.", kTypeSOA, MakeSOAData({"a.", "b.", 1, 2, 3, 4, 5}));
    Add(Zone("10.in-addr.arpa."), "10.in-addr.arpa.", kTypeSOA,
        MakeSOAData({"a.", "b.", 1, 2, 3, 4, 5}));
    const auto lease = [&](const char* name, const char* ip, double expires) {
        clLease l;
        l.ClientName = name;
        l.IPaddr = ip;
        l.Expires = expires;
        leases_.Append(l);
    };
    lease("pc-7.lan.", "10.0.0.50", clock_.Now() + 1);
    lease("old.lan.", "10.0.0.51", clock_.Now());  // expires now
    lease("pc.elsewhere.", "10.0.0.50", clock_.Now() + 1);

    const clDNSAnswer a = store_.Ask("pc-7.lan.", kTypeA, false);
    EXPECT_TRUE(a.AA);
    ASSERT_EQ(a.Section2.size(), 1u);
    EXPECT_EQ(a.Section2[0]->Name, "pc-7.lan.");
    EXPECT_EQ(a.Section2[0]->RecType, kTypeA);
    EXPECT_EQ(a.Section2[0]->Data, modIP::IPToData("10.0.0.50"));
    EXPECT_TRUE(a.Section2[0]->Permanent);
    EXPECT_EQ(a.Section2[0]->TTL(clock_.Now()), 0);
    EXPECT_TRUE(a.Section3.empty());  // an answer: no SOA, and the zone has no name servers

    const clDNSAnswer p = store_.Ask("50.0.0.10.in-addr.arpa.", kTypePTR, true);
    ASSERT_EQ(p.Section2.size(), 2u);  // every valid lease of that address
    EXPECT_EQ(p.Section2[0]->Data, "pc-7.lan.");
    EXPECT_EQ(p.Section2[1]->Data, "pc.elsewhere.");

    EXPECT_EQ(store_.Ask("pc-7.lan.", kTypeANY, true).Section2.size(), 1u);
    EXPECT_TRUE(store_.Ask("pc-7.lan.", kTypeMX, true).Section2.empty());
    EXPECT_EQ(store_.Ask("old.lan.", kTypeA, false).RCode, 3);
    EXPECT_TRUE(store_.Ask("51.0.0.10.in-addr.arpa.", kTypePTR, true).Section2.empty());
    EXPECT_FALSE(store_.Ask("pc.elsewhere.", kTypeA, true).AA);  // the cache answers that one
}

TEST_F(AuthAsk, ZoneWithoutRecordsIsPassedOverButStaysAZone) {
    Example();
    clZone& sec = Zone("sec.example.net.");
    sec.PrimaryIP = "10.0.0.99";
    const clDNSAnswer a = store_.Ask("www.sec.example.net.", kTypeA, false);
    EXPECT_FALSE(a.AA);
    EXPECT_TRUE(a.Section3.empty());
    EXPECT_TRUE(store_.AskAuth("www.sec.example.net."));
    EXPECT_TRUE(store_.ZoneExpired("sec.example.net."));
    EXPECT_EQ(store_.ZonePrimIP("sec.example.net."), "10.0.0.99");
    EXPECT_FALSE(store_.ZoneExpired("example.com."));
    EXPECT_FALSE(store_.ZoneExpired("nope."));
    EXPECT_EQ(store_.ZonePrimIP("example.com."), "");
    EXPECT_EQ(store_.ZonePrimIP("nope."), "");

    // An expired child of an own zone is answered by the parent.
    Zone("kid.example.com.");
    const clDNSAnswer k = store_.Ask("www.kid.example.com.", kTypeA, false);
    EXPECT_TRUE(k.AA);
    EXPECT_EQ(k.RCode, 3);
}

TEST_F(AuthAsk, AskAuthStopsAtAnyDelegation) {
    clZone& z = Example();
    Add(z, "sub.example.com.", kTypeNS, "ns1.sub.example.com.");  // no glue: still a delegation
    for (const char* name : {"www.example.com.", "example.com.", "nothing.example.com."})
        EXPECT_TRUE(store_.AskAuth(name)) << name;
    for (const char* name : {"sub.example.com.", "a.b.sub.example.com.", "example.org.", "."})
        EXPECT_FALSE(store_.AskAuth(name)) << name;
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

// Until replication attaches, the notification entry points do nothing; then they reach it.
TEST_F(AuthAsk, NotificationsReachTheAttachedReplication) {
    struct Recorder : IAuthReplication {
        std::vector<std::string> calls;
        void Notify(const std::string& zone) override { calls.push_back("notify " + zone); }
        void ProcNotify(const std::string& ip, int32_t port, const std::string& zone,
                        const std::string& msg) override {
            calls.push_back(ip + " " + std::to_string(port) + " " + zone + " " + msg);
        }
    } rep;
    store_.Notify("example.com.");
    store_.ProcNotify("10.0.0.1", 53, "example.com.", "abc");
    store_.SetReplication(&rep);
    store_.Notify("example.com.");
    store_.ProcNotify("10.0.0.1", 5353, "example.com.", "abcd");
    EXPECT_EQ(rep.calls,
              (std::vector<std::string>{"notify example.com.", "10.0.0.1 5353 example.com. abcd"}));
}

}  // namespace
