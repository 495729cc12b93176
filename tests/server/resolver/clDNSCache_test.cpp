#include "server/resolver/clDNSCache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "core/modDNS.h"
#include "core/modIP.h"
#include "server/dhcp/clLease.h"
#include "tests/support/fake_clock.h"

using kest::kSecond;
using kest::test::FakeClock;

namespace {

constexpr int32_t A = 1, NS = 2, CNAME = 5, SOA = 6, PTR = 12, MX = 15, TXT = 16, SRV = 33,
                  ANY = 255;

std::string SoaData(uint32_t minimum) {
    return std::string("ns1.example.org.") + '\0' + "admin.example.org." + '\0' +
           modDNS::MakeLongU(2026120801) + modDNS::MakeLongU(3600) + modDNS::MakeLongU(600) +
           modDNS::MakeLongU(86400) + modDNS::MakeLongU(minimum);
}

class CacheTest : public ::testing::Test {
  protected:
    CacheTest() {
        cache.SetAuthCheck([this](const std::string& name) {
            for (const std::string& z : ownZones)
                if (name.size() >= z.size() &&
                    name.compare(name.size() - z.size(), z.size(), z) == 0)
                    return true;
            return false;
        });
    }

    double Now() const { return clock.Now(); }
    RecordRef Rec(const std::string& name, int32_t type, const std::string& data,
                  int32_t ttl = 3600) {
        return MakeRecord(name, type, data, ttl, Now());
    }
    RecordRef RecA(const std::string& name, const std::string& ip, int32_t ttl = 3600) {
        return Rec(name, A, modIP::IPToData(ip), ttl);
    }
    RecordRef Perm(const std::string& name, int32_t type, const std::string& data) {
        return MakeRecord(name, type, data, 3600, Now(), true);
    }
    clDNSAnswer Reply(const std::string& qname, int32_t qtype, int16_t rcode = 0) {
        clDNSAnswer a;
        a.RqName = qname;
        a.RqType = qtype;
        a.RCode = rcode;
        return a;
    }
    // The name error of the example.org zone for qname, SOA MINIMUM as given.
    clDNSAnswer Negative(const std::string& qname, int32_t qtype, int16_t rcode,
                         uint32_t minimum = 900, int32_t soaTTL = 3600) {
        clDNSAnswer a = Reply(qname, qtype, rcode);
        a.Section3.push_back(Rec("example.org.", SOA, SoaData(minimum), soaTTL));
        return a;
    }
    // Types of the records named name, in list order.
    std::vector<int32_t> TypesOf(const std::string& name) const {
        std::vector<int32_t> out;
        for (size_t i = 1; i <= static_cast<size_t>(cache.Count()); ++i)
            if (cache.Record(i)->Name == name) out.push_back(cache.Record(i)->RecType);
        return out;
    }
    static std::vector<std::string> Names(const RecordList& list) {
        std::vector<std::string> out;
        for (const auto& r : list) out.push_back(r->Name + "/" + std::to_string(r->RecType));
        return out;
    }

    FakeClock clock;
    modMain::Settings settings;
    clLeases leases{settings, clock, "/nonexistent"};
    std::vector<std::string> ownZones;
    clDNSCache cache{settings, clock, &leases};
};

// ---- Order of the list
// ---------------------------------------------------------------------------

TEST_F(CacheTest, InsertRuleAndFirstRecordSearch) {
    auto add = [&](const std::string& name, const std::string& tag) {
        cache.AddRec(Rec(name, TXT, tag));
    };
    add("b.", "b1");
    add("b.", "b2");  // only name of the list: goes to the front
    add("a.", "a1");
    add("b.", "b3");  // last name but not first: appended after its records
    add("c.", "c1");
    add("b.", "b4");  // inside: before the records of its name
    std::vector<std::string> order;
    for (size_t i = 1; i <= 6; ++i) order.push_back(cache.Record(i)->Data);
    EXPECT_EQ(order, (std::vector<std::string>{"a1", "b4", "b2", "b1", "b3", "c1"}));
    EXPECT_EQ(cache.FindRec("a."), 1u);
    EXPECT_EQ(cache.FindRec("b."), 2u);
    EXPECT_EQ(cache.FindRec("c."), 6u);
    EXPECT_EQ(cache.FindRec("."), 0u);
    EXPECT_EQ(cache.FindRec("ab."), 0u);
    EXPECT_EQ(cache.FindRec("d."), 0u);
    EXPECT_EQ(cache.RecordPos("0."), 0u);
    EXPECT_EQ(cache.RecordPos("z."), 6u);
    EXPECT_EQ(cache.RecordPos("bb."), 5u);  // after the last record below the name
    EXPECT_EQ(cache.RecordPos("b."), 1u);
    EXPECT_EQ(cache.Record(0), nullptr);
    EXPECT_EQ(cache.Record(7), nullptr);
}

// The list in its plainest form, one flat array, to hold the blocked list against.
struct FlatModel {
    std::vector<RecordRef> list;  // list[i - 1] is position i
    int32_t cursor = 0;

    const std::string& N(size_t pos) const { return list[pos - 1]->Name; }
    size_t FindRec(const std::string& n) const {
        if (list.empty() || N(1) > n) return 0;
        size_t low = 1, high = list.size();
        if (N(high) < n) return 0;
        while (low != high) {
            const size_t mid = low + (high - low) / 2;
            if (N(mid) < n)
                low = mid + 1;
            else
                high = mid;
        }
        return N(low) == n ? low : 0;
    }
    void AddRec(RecordRef r) {
        if (list.empty()) return list.push_back(r);
        size_t pos = 0;
        const std::string& n = r->Name;
        if (N(1) >= n) {
            pos = 0;
        } else if (N(list.size()) <= n) {
            pos = list.size();
        } else {
            size_t low = 1, high = list.size();
            while (high - low >= 2) {
                const size_t mid = low + (high - low) / 2;
                if (N(mid) < n)
                    low = mid;
                else
                    high = mid;
            }
            pos = low;
        }
        list.insert(list.begin() + static_cast<std::ptrdiff_t>(pos), r);
    }
    void Purge(double now) {
        if (list.empty()) return;
        const size_t steps = list.size() / 600 + 1;
        for (size_t s = 0; s < steps && !list.empty(); ++s) {
            if (cursor == 0 || static_cast<size_t>(cursor) > list.size()) cursor = 1;
            if (list[cursor - 1]->mTimeOut < now)
                list.erase(list.begin() + cursor - 1);
            else
                ++cursor;
        }
    }
};

TEST_F(CacheTest, BlockedListBehavesAsOneSortedList) {
    // Names sharing long prefixes and bytes above 0x7F exercise the comparison past the key; a
    // few names with hundreds of records straddle blocks.
    std::mt19937 rng(7);
    const std::vector<std::string> parts = {"a", "aaaaaaaa", "aaaaaaab", "b.", "\xC3", "z", "."};
    auto randomName = [&] {
        if (rng() % 5 == 0) return std::string("big") + std::to_string(rng() % 3) + ".";
        std::string n;
        const int len = 1 + static_cast<int>(rng() % 4);
        for (int j = 0; j < len; ++j) n += parts[rng() % parts.size()];
        return n;
    };
    FlatModel model;
    auto same = [&] {
        const std::vector<RecordRef> got = cache.Records();
        ASSERT_EQ(got.size(), model.list.size());
        for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], model.list[i]) << i;
        ASSERT_EQ(cache.PurgeCursor(), model.cursor);
    };
    for (int round = 0; round < 6; ++round) {
        for (int i = 0; i < 700; ++i) {
            auto r =
                Rec(randomName(), TXT, std::to_string(i), 1 + static_cast<int32_t>(rng() % 50));
            cache.AddRec(r);
            model.AddRec(r);
        }
        same();
        for (int i = 0; i < 300; ++i) {
            const std::string n = randomName();
            ASSERT_EQ(cache.FindRec(n), model.FindRec(n)) << n;
            if (i % 10 == 0) {  // drop every record of the name, as a name error does
                cache.CRemRec(n, clDNSCache::kNameError);
                std::erase_if(model.list, [&](const RecordRef& r) { return r->Name == n; });
            }
        }
        same();
        clock.Advance(10);
        for (int i = 0; i < 200; ++i) {
            cache.Purge();
            model.Purge(Now());
        }
        same();
    }
    ASSERT_EQ(cache.FindRec("aaaaaaaaq"), model.FindRec("aaaaaaaaq"));
    cache.ClearCache();
    EXPECT_EQ(cache.Count(), 0);
    EXPECT_EQ(cache.Record(1), nullptr);
}

// ---- CacheAdd
// ------------------------------------------------------------------------------------

TEST_F(CacheTest, RepliesAreCachedByNameAndType) {
    clDNSAnswer r = Reply("www.example.net.", A);
    r.Section2.push_back(RecA("www.example.net.", "192.0.2.1"));
    r.Section2.push_back(RecA("www.example.net.", "192.0.2.2"));
    r.Section3.push_back(Rec("example.net.", NS, "ns1.example.net."));
    r.Section4.push_back(RecA("ns1.example.net.", "192.0.2.53"));
    r.Section4.push_back(RecA("www.example.net.", "192.0.2.1"));  // repeated as additional data
    r.Section4.push_back(RecA("zero.example.net.", "192.0.2.9", 0));
    cache.CacheAdd(r);
    EXPECT_EQ(cache.Count(), 4);
    EXPECT_EQ(cache.Ask("www.example.net.", A, true).Section2.size(), 2u);
    EXPECT_EQ(cache.FindRec("zero.example.net."), 0u);  // TTL 0 is never cached

    // A truncated reply teaches nothing.
    clDNSAnswer t = Reply("x.example.net.", A);
    t.TC = true;
    t.Section2.push_back(RecA("x.example.net.", "192.0.2.7"));
    cache.CacheAdd(t);
    EXPECT_EQ(cache.FindRec("x.example.net."), 0u);

    // A new group replaces the old records of that name and type only.
    clDNSAnswer n = Reply("www.example.net.", A);
    n.Section2.push_back(RecA("www.example.net.", "192.0.2.3"));
    n.Section2.push_back(Rec("www.example.net.", TXT, "\x02hi"));
    cache.CacheAdd(n);
    clDNSAnswer any = cache.Ask("www.example.net.", ANY, true);
    ASSERT_EQ(any.Section2.size(), 2u);
    EXPECT_EQ(cache.Ask("www.example.net.", A, true).Section2[0]->Data,
              modIP::IPToData("192.0.2.3"));
    EXPECT_EQ(cache.Count(), 4);
}

TEST_F(CacheTest, MinimumCacheTTL) {
    settings.CacheTTL = 300;
    clDNSAnswer r = Reply("a.example.net.", A);
    r.Section2.push_back(RecA("a.example.net.", "192.0.2.1", 60));
    r.Section2.push_back(RecA("b.example.net.", "192.0.2.2", 0));
    r.Section2.push_back(RecA("c.example.net.", "192.0.2.3", 5000));
    cache.CacheAdd(r);
    EXPECT_EQ(cache.Record(cache.FindRec("a.example.net."))->TTL(Now()), 300);
    EXPECT_EQ(cache.FindRec("b.example.net."), 0u);
    EXPECT_EQ(cache.Record(cache.FindRec("c.example.net."))->TTL(Now()), 5000);
}

TEST_F(CacheTest, NameErrorMarker) {
    cache.CacheAdd(Negative("gone.example.org.", A, 3, 900));
    ASSERT_EQ(cache.Count(), 2);
    const RecordRef marker = cache.Record(cache.FindRec("gone.example.org."));
    EXPECT_EQ(marker->RecType, clDNSCache::kNameError);
    EXPECT_EQ(marker->Data, "example.org.");
    EXPECT_EQ(marker->TTL(Now()), 900);
    EXPECT_FALSE(marker->Permanent);

    for (int32_t type : {A, MX, ANY, TXT}) {
        clDNSAnswer a = cache.Ask("gone.example.org.", type, false);
        EXPECT_EQ(a.RCode, 3) << type;
        EXPECT_TRUE(a.AA);
        EXPECT_TRUE(a.Section2.empty());
        ASSERT_EQ(a.Section3.size(), 1u);
        EXPECT_EQ(a.Section3[0]->RecType, SOA);
    }
    clDNSAnswer quick = cache.Ask("gone.example.org.", A, true);
    EXPECT_EQ(quick.RCode, 3);
    EXPECT_FALSE(quick.AA);
    EXPECT_TRUE(quick.Section2.empty() && quick.Section3.empty());

    // A record learnt later clears the marker...
    clDNSAnswer r = Reply("gone.example.org.", A);
    r.Section2.push_back(RecA("gone.example.org.", "192.0.2.5"));
    cache.CacheAdd(r);
    EXPECT_EQ(TypesOf("gone.example.org."), std::vector<int32_t>{A});
    // ...and a new name error clears every learnt record of the name.
    clDNSAnswer t = Reply("gone.example.org.", TXT);
    t.Section2.push_back(Rec("gone.example.org.", TXT, "\x01x"));
    cache.CacheAdd(t);
    cache.CacheAdd(Negative("gone.example.org.", MX, 3));
    EXPECT_EQ(TypesOf("gone.example.org."), std::vector<int32_t>{clDNSCache::kNameError});
}

TEST_F(CacheTest, NoDataMarker) {
    cache.CacheAdd(Negative("host.example.org.", MX, 0, 600));
    EXPECT_EQ(TypesOf("host.example.org."), std::vector<int32_t>{1000 + MX});

    clDNSAnswer mx = cache.Ask("host.example.org.", MX, false);
    EXPECT_EQ(mx.RCode, 0);
    EXPECT_TRUE(mx.AA);
    EXPECT_TRUE(mx.Section2.empty());
    ASSERT_EQ(mx.Section3.size(), 1u);
    EXPECT_EQ(mx.Section3[0]->Name, "example.org.");
    EXPECT_EQ(cache.Ask("host.example.org.", MX, true).RCode, 3);  // quick: any marker

    clDNSAnswer a = cache.Ask("host.example.org.", A, false);
    EXPECT_EQ(a.RCode, 0);
    EXPECT_FALSE(a.AA);
    EXPECT_TRUE(a.Section3.empty());
    EXPECT_EQ(cache.Ask("host.example.org.", A, true).RCode, 0);

    // Records of the type replace the marker; other types leave it.
    clDNSAnswer t = Reply("host.example.org.", TXT);
    t.Section2.push_back(Rec("host.example.org.", TXT, "\x01x"));
    cache.CacheAdd(t);
    EXPECT_EQ(TypesOf("host.example.org.").size(), 2u);
    clDNSAnswer m = Reply("host.example.org.", MX);
    m.Section2.push_back(
        Rec("host.example.org.", MX, modDNS::MakeShortL(10) + "mail.example.org."));
    cache.CacheAdd(m);
    EXPECT_EQ(TypesOf("host.example.org."), (std::vector<int32_t>{TXT, MX}));
}

TEST_F(CacheTest, MarkerLimits) {
    // A week at most, whatever the zone's MINIMUM says.
    cache.CacheAdd(Negative("far.example.org.", A, 3, 0x7FFFFFFF));
    EXPECT_EQ(cache.Record(cache.FindRec("far.example.org."))->TTL(Now()), 604800);
    // MINIMUM 0: nothing to remember, the SOA is still cached.
    cache.CacheAdd(Negative("now.example.org.", A, 3, 0));
    EXPECT_EQ(cache.FindRec("now.example.org."), 0u);

    // A name error after an answered alias belongs to the alias's target: no marker.
    cache.ClearCache();
    clDNSAnswer r = Negative("alias.example.org.", A, 3);
    r.Section2.push_back(Rec("alias.example.org.", CNAME, "gone.example.org."));
    cache.CacheAdd(r);
    EXPECT_EQ(cache.Count(), 0);
    EXPECT_EQ(cache.Ask("alias.example.org.", A, true).RCode, 0);

    // Name errors without exactly one SOA teach nothing.
    clDNSAnswer none = Reply("x.example.org.", A, 3);
    none.Section3.push_back(Rec("example.org.", NS, "ns1.example.org."));
    cache.CacheAdd(none);
    clDNSAnswer two = Negative("x.example.org.", A, 3);
    two.Section3.push_back(Rec("example.org.", NS, "ns1.example.org."));
    cache.CacheAdd(two);
    EXPECT_EQ(cache.Count(), 0);

    // No data with a referral instead of an SOA caches the referral.
    clDNSAnswer referral = Reply("x.example.org.", A, 0);
    referral.Section3.push_back(Rec("example.org.", NS, "ns1.example.org."));
    referral.Section3.push_back(Rec("example.org.", NS, "ns2.example.org."));
    cache.CacheAdd(referral);
    EXPECT_EQ(cache.Count(), 2);
}

TEST_F(CacheTest, MarkerWithoutItsSOAIsIgnored) {
    cache.AddRec(Rec("org.", NS, "a.org-servers.net."));
    cache.CacheAdd(Negative("gone.example.org.", A, 3, 600, 60));
    clock.Advance(120);  // the SOA has run out, the marker has not
    clDNSAnswer a = cache.Ask("gone.example.org.", A, false);
    EXPECT_EQ(a.RCode, 0);
    EXPECT_FALSE(a.AA);
    ASSERT_EQ(a.Section3.size(), 1u);
    EXPECT_EQ(a.Section3[0]->Data, "a.org-servers.net.");
    EXPECT_EQ(cache.Ask("gone.example.org.", A, true).RCode, 3);
}

TEST_F(CacheTest, OwnZonesAndPermanentNamesAreProtected) {
    ownZones = {"example.com."};
    clDNSAnswer r = Reply("www.example.net.", A);
    r.Section2.push_back(Rec("www.example.net.", CNAME, "www.example.com."));
    r.Section2.push_back(RecA("www.example.com.", "192.0.2.1"));
    r.Section3.push_back(Rec("example.com.", NS, "ns.example.net."));
    cache.CacheAdd(r);
    EXPECT_EQ(cache.Count(), 1);
    EXPECT_EQ(cache.Record(1)->Name, "www.example.net.");

    // A hosts entry keeps learnt records of its name out, of any type.
    cache.AddRec(Perm("printer.example.net.", A, modIP::IPToData("10.0.0.5")));
    clDNSAnswer p = Reply("printer.example.net.", TXT);
    p.Section2.push_back(Rec("printer.example.net.", TXT, "\x01x"));
    p.Section2.push_back(RecA("printer.example.net.", "192.0.2.99"));
    cache.CacheAdd(p);
    cache.CacheAdd(Negative("printer.example.net.", MX, 3));
    EXPECT_EQ(TypesOf("printer.example.net."), std::vector<int32_t>{A});
    EXPECT_FALSE(cache.CRemRec("printer.example.net.", A));
    EXPECT_EQ(cache.Ask("printer.example.net.", A, true).Section2[0]->Data,
              modIP::IPToData("10.0.0.5"));
}

// ---- Ask
// -----------------------------------------------------------------------------------------

TEST_F(CacheTest, CnameEndsTheWalk) {
    cache.AddRec(Rec("org.", NS, "a.org-servers.net."));
    cache.AddRec(RecA("a.org-servers.net.", "192.0.2.40"));
    // The name sorts last, so its records stay in this order: A, CNAME, TXT.
    cache.AddRec(RecA("www.example.org.", "192.0.2.1"));
    cache.AddRec(Rec("www.example.org.", CNAME, "web.example.org."));
    cache.AddRec(Rec("www.example.org.", TXT, "\x01x"));

    clDNSAnswer a = cache.Ask("www.example.org.", A, false);
    EXPECT_EQ(Names(a.Section2),
              (std::vector<std::string>{"www.example.org./1", "www.example.org./5"}));
    EXPECT_EQ(Names(a.Section3), std::vector<std::string>{"org./2"});
    EXPECT_EQ(Names(a.Section4), std::vector<std::string>{"a.org-servers.net./1"});

    clDNSAnswer t = cache.Ask("www.example.org.", TXT, true);
    EXPECT_EQ(Names(t.Section2), std::vector<std::string>{"www.example.org./5"});  // TXT unseen
    // A CNAME question keeps walking; ANY returns everything that is no marker.
    EXPECT_EQ(cache.Ask("www.example.org.", CNAME, true).Section2.size(), 1u);
    cache.CacheAdd(Negative("www.example.org.", MX, 0));
    EXPECT_EQ(cache.Ask("www.example.org.", ANY, true).Section2.size(), 3u);
}

TEST_F(CacheTest, AdditionalAddressesOfMxAndSrv) {
    cache.AddRec(Rec("example.org.", MX, modDNS::MakeShortL(10) + "mail.example.org."));
    cache.AddRec(RecA("mail.example.org.", "192.0.2.25"));
    cache.AddRec(RecA("mail.example.org.", "192.0.2.26"));
    cache.AddRec(Rec("_sip._udp.example.org.", SRV,
                     modDNS::MakeShortL(1) + modDNS::MakeShortL(2) + modDNS::MakeShortL(5060) +
                         "sip.example.org."));
    cache.AddRec(RecA("sip.example.org.", "192.0.2.60"));

    clDNSAnswer mx = cache.Ask("example.org.", MX, true);
    ASSERT_EQ(mx.Section2.size(), 1u);
    EXPECT_EQ(mx.Section4.size(), 2u);
    clDNSAnswer srv = cache.Ask("_sip._udp.example.org.", SRV, true);
    ASSERT_EQ(srv.Section4.size(), 1u);
    EXPECT_EQ(srv.Section4[0]->Name, "sip.example.org.");
    EXPECT_TRUE(cache.Ask("example.org.", ANY, true).Section4.empty());
}

TEST_F(CacheTest, ClosestNameServers) {
    cache.AddRec(Rec(".", NS, "a.root-servers.net."));
    cache.AddRec(RecA("a.root-servers.net.", "198.41.0.4"));
    cache.AddRec(Rec("example.org.", NS, "ns1.example.org."));
    cache.AddRec(Rec("example.org.", NS, "ns2.example.org."));
    cache.AddRec(RecA("ns1.example.org.", "192.0.2.53"));
    cache.AddRec(Rec("org.", NS, "a.org-servers.net.", 10));

    clDNSAnswer a = cache.Ask("a.b.example.org.", A, false);
    EXPECT_TRUE(a.Section2.empty());
    EXPECT_EQ(a.Section3.size(), 2u);  // example.org.'s only, not org.'s or the root's
    EXPECT_EQ(Names(a.Section4), std::vector<std::string>{"ns1.example.org./1"});

    clDNSAnswer root = cache.Ask(".", A, false);
    EXPECT_TRUE(root.Section2.empty());
    EXPECT_EQ(Names(root.Section3), std::vector<std::string>{"./2"});
    EXPECT_EQ(Names(root.Section4), std::vector<std::string>{"a.root-servers.net./1"});
    // Asked for themselves they are the answer and not repeated as authority.
    clDNSAnswer rootNS = cache.Ask(".", NS, false);
    EXPECT_EQ(rootNS.Section2.size(), 1u);
    EXPECT_TRUE(rootNS.Section3.empty());
    EXPECT_EQ(rootNS.Section4.size(), 1u);

    // Expired NS records are passed over: org. falls through to the root.
    clock.Advance(11);
    clDNSAnswer c = cache.Ask("www.example.com.", A, false);
    EXPECT_EQ(Names(c.Section3), std::vector<std::string>{"./2"});
    clDNSAnswer d = cache.Ask("x.org.", A, false);
    EXPECT_EQ(Names(d.Section3), std::vector<std::string>{"./2"});
    // A single label goes to the root next.
    EXPECT_EQ(cache.Ask("localhost.", A, false).Section3.size(), 1u);

    cache.ClearCache();
    clDNSAnswer e = cache.Ask("www.example.com.", A, false);
    EXPECT_TRUE(e.Section2.empty() && e.Section3.empty() && e.Section4.empty());
}

TEST_F(CacheTest, TTLRunsDownAndExpiredRecordsVanish) {
    clDNSAnswer r = Reply("a.example.net.", A);
    r.Section2.push_back(RecA("a.example.net.", "192.0.2.1", 3600));
    cache.CacheAdd(r);
    clock.Advance(1800);
    clDNSAnswer a = cache.Ask("a.example.net.", A, false);
    ASSERT_EQ(a.Section2.size(), 1u);
    EXPECT_EQ(a.Section2[0]->TTL(Now()), 1800);
    clock.Advance(1799);
    EXPECT_EQ(cache.Ask("a.example.net.", A, false).Section2.size(), 1u);
    clock.Advance(2);
    EXPECT_TRUE(cache.Ask("a.example.net.", A, false).Section2.empty());
    EXPECT_EQ(cache.Count(), 1);  // still listed until the purge finds it
    cache.Purge();
    EXPECT_EQ(cache.Count(), 0);

    // Permanent records do not age.
    cache.AddRec(Perm("hosts.example.net.", A, modIP::IPToData("10.0.0.1")));
    clock.Advance(86400 * 30);
    clDNSAnswer p = cache.Ask("hosts.example.net.", A, false);
    ASSERT_EQ(p.Section2.size(), 1u);
    EXPECT_EQ(p.Section2[0]->TTL(Now()), 3600);
}

TEST_F(CacheTest, DhcpNames) {
    leases.Append(clLease{Now() + 3600 * kSecond, "10.0.0.50", "pc-7.lan.", "id", "hw"});
    leases.Append(clLease{Now() - kSecond, "10.0.0.51", "old.lan.", "id2", "hw2"});
    leases.Append(clLease{Now() + 3600 * kSecond, "10.0.0.52", "000C29ABCDEF.lan.", "", "hw3"});

    clDNSAnswer a = cache.Ask("pc-7.lan.", A, true);
    ASSERT_EQ(a.Section2.size(), 1u);
    EXPECT_TRUE(a.Section2[0]->Permanent);
    EXPECT_EQ(a.Section2[0]->RecType, A);
    EXPECT_EQ(a.Section2[0]->Data, modIP::IPToData("10.0.0.50"));
    EXPECT_EQ(a.Section2[0]->TTL(Now()), 0);

    clDNSAnswer p = cache.Ask("50.0.0.10.in-addr.arpa.", PTR, true);
    ASSERT_EQ(p.Section2.size(), 1u);
    EXPECT_EQ(p.Section2[0]->Data, "pc-7.lan.");
    EXPECT_EQ(p.Section2[0]->Name, "50.0.0.10.in-addr.arpa.");

    EXPECT_EQ(cache.Ask("pc-7.lan.", ANY, true).Section2.size(), 1u);
    EXPECT_TRUE(cache.Ask("pc-7.lan.", MX, true).Section2.empty());
    EXPECT_TRUE(cache.Ask("old.lan.", A, true).Section2.empty());
    EXPECT_TRUE(cache.Ask("51.0.0.10.in-addr.arpa.", PTR, true).Section2.empty());
    EXPECT_TRUE(cache.Ask("000c29abcdef.lan.", A, true).Section2.empty());

    // A learnt record equal to the lease's is not repeated.
    cache.AddRec(RecA("pc-7.lan.", "10.0.0.50"));
    clDNSAnswer both = cache.Ask("pc-7.lan.", A, true);
    EXPECT_EQ(both.Section2.size(), 2u);  // the cache's own records are appended as they are

    // Without a lease table nothing of this is asked.
    clDNSCache bare(settings, clock);
    EXPECT_TRUE(bare.Ask("pc-7.lan.", A, true).Section2.empty());
}

// ---- Maintenance
// ---------------------------------------------------------------------------------

TEST_F(CacheTest, PurgeIsBounded) {
    for (int i = 0; i < 1200; ++i)
        cache.AddRec(RecA("h" + std::to_string(10000 + i) + ".example.net.", "192.0.2.1", 10));
    clock.Advance(11);
    cache.Purge();  // 1200 / 600 + 1 = 3 records examined
    EXPECT_EQ(cache.Count(), 1197);
    EXPECT_EQ(cache.PurgeCursor(), 1);
    cache.Purge();  // 1197 / 600 + 1 = 2
    EXPECT_EQ(cache.Count(), 1195);
}

TEST_F(CacheTest, PurgeCursorWalksAndWraps) {
    for (const char* n : {"a.", "b.", "c.", "d."}) cache.AddRec(RecA(n, "192.0.2.1", 100));
    cache.AddRec(RecA("e.", "192.0.2.1", 10));
    cache.AddRec(Perm("f.", A, modIP::IPToData("10.0.0.1")));
    clock.Advance(11);
    for (int i = 0; i < 4; ++i) cache.Purge();
    EXPECT_EQ(cache.PurgeCursor(), 5);
    cache.Purge();  // e. expired: removed, cursor stays
    EXPECT_EQ(cache.Count(), 5);
    EXPECT_EQ(cache.PurgeCursor(), 5);
    cache.Purge();  // f. permanent
    EXPECT_EQ(cache.PurgeCursor(), 6);
    cache.Purge();  // past the end: back to 1, which is valid
    EXPECT_EQ(cache.PurgeCursor(), 2);
    EXPECT_EQ(cache.Count(), 5);

    // Everything expiring at once: the sweep stops on an empty list.
    cache.ClearCache();
    cache.RemovePermanent();
    cache.AddRec(RecA("x.", "192.0.2.1", 1));
    clock.Advance(2);
    cache.Purge();
    EXPECT_EQ(cache.Count(), 0);
    cache.Purge();
}

TEST_F(CacheTest, ClearCacheAndRemoveNS) {
    cache.AddRec(Perm(".", NS, "a.root-servers.net."));
    cache.AddRec(Perm("a.root-servers.net.", A, modIP::IPToData("198.41.0.4")));
    cache.AddRec(Rec("example.org.", NS, "ns1.example.org."));
    cache.AddRec(Rec("example.org.", NS, "lame.example.net."));
    cache.AddRec(Rec("example.org.", CNAME, "lame.example.net."));
    cache.AddRec(Rec("example.org.", MX, modDNS::MakeShortL(5) + "lame.example.net."));
    cache.AddRec(Rec("sub.example.org.", NS, "lame.example.net."));

    cache.RemoveNS("example.org.", "lame.example.net.");
    auto left = TypesOf("example.org.");
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<int32_t>{NS, MX}));
    EXPECT_EQ(TypesOf("sub.example.org.").size(), 1u);
    cache.RemoveNS("nothing.example.", "lame.example.net.");
    EXPECT_EQ(cache.Count(), 5);

    cache.ClearCache();
    EXPECT_EQ(cache.Count(), 2);
    EXPECT_TRUE(cache.Record(1)->Permanent && cache.Record(2)->Permanent);
    cache.RemovePermanent();
    EXPECT_EQ(cache.Count(), 0);
}

}  // namespace
