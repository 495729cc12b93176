// The cache's files: the cache file grammar, named.root and the hosts file as permanent records,
// named.cache with the file's age, both written forms byte for byte, and the round trip.
#include "server/resolver/cachefiles.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/datetime.h"
#include "core/modDNS.h"
#include "core/modIP.h"
#include "core/report.h"
#include "server/authority/clDNSAuthData.h"
#include "server/dhcp/clLease.h"
#include "server/resolver/clDNSCache.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using kest::kSecond;

constexpr int32_t A = 1, NS = 2, CNAME = 5, SOA = 6, PTR = 12, MX = 15, TXT = 16, SRV = 33;

// "name TYPE data" with the data in readable form.
std::string Describe(const clDNSRecord& r) {
    std::string data = r.Data;
    if (r.RecType == A) {
        data = modIP::DataToIP(r.Data);
    } else if (r.RecType == MX || r.RecType == SRV) {
        std::string_view v(r.Data);
        data.clear();
        for (int i = 0; i < (r.RecType == MX ? 1 : 3); ++i)
            data += std::to_string(modDNS::ExtractShortL(v, true)) + " ";
        data += std::string(v);
    } else if (r.RecType == SOA) {
        const auto f = modDNS::ParseSOAData(r.Data);
        data = f ? f->mname + " " + f->rname + " " + std::to_string(f->serial) + " " +
                       std::to_string(f->refresh) + " " + std::to_string(f->retry) + " " +
                       std::to_string(f->expire) + " " + std::to_string(f->minimum)
                 : "?";
    } else if (r.RecType == TXT) {
        data = modDNS::TextData(r.Data);
    }
    return r.Name + " " + modDNS::RTypeN(r.RecType) + " " + data;
}

std::string SoaData(uint32_t serial, uint32_t minimum) {
    return std::string("ns1.example.org.") + '\0' + "admin.example.org." + '\0' +
           modDNS::MakeLongU(serial) + modDNS::MakeLongU(3600) + modDNS::MakeLongU(600) +
           modDNS::MakeLongU(86400) + modDNS::MakeLongU(minimum);
}

class CacheFiles : public ::testing::Test {
  protected:
    CacheFiles()
        : root_(tmp_.path()),
          leases_(settings_, clock_, root_),
          store_(
              settings_, clock_, [](int, std::string_view) {}, leases_, root_ / "data"),
          cache_(settings_, clock_, &leases_,
                 [this](const std::string& name) { return store_.AskAuth(name); }),
          files_(
              cache_, &store_, &leases_, settings_, clock_,
              [this](int kind, std::string_view text) {
                  log_.push_back(std::to_string(kind) + " " + std::string(text));
              },
              root_) {
        fs::create_directories(root_ / "data");
        previousSink_ =
            kest::SetErrorSink([this](const std::string& where, const std::string&,
                                      const kest::RunError&) { reports_.push_back(where); });
    }
    ~CacheFiles() override { kest::SetErrorSink(previousSink_); }

    double Now() const { return clock_.Now(); }
    void Write(const fs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    std::string Read(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void SetMTime(const fs::path& path, double days) {
        const auto sys = std::chrono::sys_seconds(std::chrono::seconds(kest::DaysToUnix(days)));
        fs::last_write_time(path, std::chrono::file_clock::from_sys(sys));
    }
    std::vector<RecordRef> Parse(std::string_view text, bool permanent = false, int64_t age = 0) {
        std::vector<RecordRef> out;
        modCacheFile::ReadCacheText(text, permanent, age, Now(),
                                    [&out](RecordRef r) { out.push_back(std::move(r)); });
        return out;
    }
    static std::vector<std::string> Described(const std::vector<RecordRef>& recs) {
        std::vector<std::string> out;
        for (const auto& r : recs) out.push_back(Describe(*r));
        return out;
    }
    std::vector<std::string> CacheContents() const {
        auto d = Described(cache_.Records());
        std::sort(d.begin(), d.end());
        return d;
    }
    std::vector<std::string> AnswerOf(const std::string& name, int32_t type) {
        return Described(cache_.Ask(name, type, false).Section2);
    }

    kest::test::FakeClock clock_;
    modMain::Settings settings_;
    kest::test::TempDir tmp_;
    fs::path root_;
    clLeases leases_;
    clDNSAuthData store_;
    clDNSCache cache_;
    clCacheFiles files_;
    std::vector<std::string> log_;
    std::vector<std::string> reports_;
    kest::ErrorSink previousSink_;
};

using Strings = std::vector<std::string>;

// ---- The grammar -----------------------------------------------------------------------------

TEST_F(CacheFiles, GrammarReadsEveryTypeWithOwnersClassesAndComments) {
    const auto recs = Parse(
        "; a comment line\r\n"
        "\r\n"
        "Host1.Example.COM\t300\tA 10.0.0.1 ; trailing comment\r\n"
        " IN 300 A 10.0.0.2\r\n"
        "\t300 IN A 10.0.0.3\r\n"
        "host2.example.com 300 CNAME Host1.Example.Com\n"
        ". 3600000 NS a.root-servers.net.\n"
        "1.0.0.10.in-addr.arpa. 300 PTR host1.example.com.\n"
        "example.org. 300 SOA ns1.example.org. admin.example.org. (\n"
        "    2026120801 ; serial\n"
        "    3600 600\n"
        "    86400 900 )\n"
        "example.org. 300 MX 10 mail.example.org.\n"
        "example.org. 300 TXT \"v=spf1 -all\" \"two\"\n"
        "_sip._udp.example.org. 300 SRV 10 20 5060 sip.example.org.\n");
    EXPECT_EQ(
        Described(recs),
        (Strings{"host1.example.com. A 10.0.0.1", "host1.example.com. A 10.0.0.2",
                 "host1.example.com. A 10.0.0.3", "host2.example.com. CNAME host1.example.com.",
                 ". NS a.root-servers.net.", "1.0.0.10.in-addr.arpa. PTR host1.example.com.",
                 "example.org. SOA ns1.example.org. admin.example.org. 2026120801 3600 600 "
                 "86400 900",
                 "example.org. MX 10 mail.example.org.", "example.org. TXT v=spf1 -all, two",
                 "_sip._udp.example.org. SRV 10 20 5060 sip.example.org."}));
    for (const auto& r : recs) {
        EXPECT_FALSE(r->Permanent);
        EXPECT_EQ(r->TTL(Now()), r->Name == "." ? 3600000 : 300) << r->Name;
    }
}

TEST_F(CacheFiles, GrammarSkipsBadLinesAndReadsTheLinesAfterThem) {
    const auto recs = Parse(
        " 300 A 10.0.0.99\n"                    // blank owner before any owner
        "a.test. 300 CH A 10.0.0.1\n"           // CH after the TTL
        "a.test. CH 300 A 10.0.0.1\n"           // CH before it
        "a.test. 03600 A 10.0.0.1\n"            // not a plain number: taken as the type
        "a.test. 300 AAAA ::1\n"                // unknown type
        "a.test. 300 A 0.0.0.0\n"               // zero address
        "a.test. 300 A\n"                       // no data
        "a.test. 300\n"                         // no type
        "b.test. 300 SOA ns. admin. 1 2 3 4\n"  // four numbers
        "b.test. 300 TXT \"\"\n"                // no string
        "c.test. 300 A 10.0.0.3\n"
        "d.test. 300 SOA ns. admin. 1 2 3 (\n"  // "(" never closed
        "e.test. 300 A 10.0.0.5\n");
    EXPECT_EQ(Described(recs), (Strings{"c.test. A 10.0.0.3", "e.test. A 10.0.0.5"}));
}

TEST_F(CacheFiles, GrammarTakesTheFileAgeOffAndLeavesLinesWithoutTTLExpired) {
    const auto recs =
        Parse("a.test. 100 A 10.0.0.1\nb.test. A 10.0.0.2\nc.test. 30 A 10.0.0.3\n", false, 40);
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(recs[0]->TTL(Now()), 60);
    EXPECT_EQ(recs[1]->mTimeOut, 0.0);  // no TTL: expired from the start
    EXPECT_EQ(recs[2]->TTL(Now()), -10);

    // A permanent load ignores the age; a line without TTL is still never valid.
    const auto perm = Parse("a.test. 100 A 10.0.0.1\nb.test. A 10.0.0.2\n", true, 40);
    ASSERT_EQ(perm.size(), 2u);
    EXPECT_TRUE(perm[0]->Permanent);
    EXPECT_EQ(perm[0]->TTL(Now()), 100);
    EXPECT_GT(perm[0]->mTimeOut, Now() + 1999);
    EXPECT_LT(perm[1]->mTimeOut, Now());
}

// ---- named.root ------------------------------------------------------------------------------

TEST_F(CacheFiles, RootHintsLoadAsPermanentRecordsAndAreReplacedAsASet) {
    Write(root_ / "named.root",
          ". 3600000 NS a.root.test.\r\n"
          "a.root.test. 3600000 A 127.0.0.53\r\n"
          "b.root.test. A 127.0.0.54\r\n");  // no TTL: never used
    cache_.AddRec(MakeRecord("learnt.test.", A, modIP::IPToData("10.9.9.9"), 300, Now()));
    files_.LoadPerm();
    files_.LoadPerm();  // the second load replaces the first set
    EXPECT_EQ(log_, (Strings{"0 Loading Root DNS server records...",
                             "0 Loading Root DNS server records..."}));
    EXPECT_EQ(CacheContents(), (Strings{". NS a.root.test.", "a.root.test. A 127.0.0.53",
                                        "b.root.test. A 127.0.0.54", "learnt.test. A 10.9.9.9"}));
    EXPECT_EQ(AnswerOf("a.root.test.", A), (Strings{"a.root.test. A 127.0.0.53"}));
    EXPECT_TRUE(AnswerOf("b.root.test.", A).empty());
    const auto ns = cache_.Ask("example.", A, false);
    ASSERT_EQ(ns.Section3.size(), 1u);
    EXPECT_EQ(ns.Section3[0]->TTL(Now()), 3600000);
    EXPECT_EQ(Described(ns.Section4), (Strings{"a.root.test. A 127.0.0.53"}));

    // ClearCache keeps them; a missing file loads nothing and says nothing more.
    cache_.ClearCache();
    EXPECT_EQ(cache_.Count(), 3);
    fs::remove(root_ / "named.root");
    log_.clear();
    files_.LoadPerm();
    EXPECT_EQ(cache_.Count(), 0);
    EXPECT_EQ(log_, (Strings{"0 Loading Root DNS server records..."}));
    EXPECT_FALSE(files_.LoadFile(root_ / "named.root", true));
    EXPECT_TRUE(reports_.empty());
}

TEST_F(CacheFiles, RootHintsAreSkippedWhenTheServerHoldsTheRootZone) {
    Write(root_ / "named.root", ". 3600000 NS a.root.test.\r\n");
    Write(root_ / "data" / "_root.dns",
          "@ 3600 SOA a.root.test. admin.root.test. 1 3600 600 86400 300\r\n"
          " NS a.root.test.\r\n");
    store_.LoadAll();
    ASSERT_EQ(store_.Zones().size(), 1u);
    files_.LoadPerm();
    EXPECT_EQ(cache_.Count(), 0);
    EXPECT_TRUE(log_.empty());
}

// ---- The hosts file --------------------------------------------------------------------------

TEST_F(CacheFiles, HostsFileGivesPermanentAddressPointerAndAliasRecords) {
    settings_.Hosts = (root_ / "Hosts").string();
    settings_.HostsTTL = 1200;
    Write(root_ / "Hosts",
          "# a comment line\r\n"
          "10.0.0.5 Host1.Example.COM mail ftp # office\r\n"
          "::1 localhost ip6-localhost\r\n"
          "fe80::1%eth0 link\r\n"
          "10.0.0.6\r\n"
          "10.0.0.7 ??? seven\r\n"
          "10.0.0.8 ### nothing\r\n"
          "10.0.0.9\thost9\tnine\tHOST9\n"
          "\n");
    files_.LoadPerm();
    EXPECT_EQ(log_, (Strings{"0 Loading Root DNS server records...",
                             "0 Loading hosts file \"" + settings_.Hosts + "\"..."}));
    EXPECT_EQ(CacheContents(),
              (Strings{"5.0.0.10.in-addr.arpa. PTR host1.example.com.",
                       "7.0.0.10.in-addr.arpa. PTR seven.", "9.0.0.10.in-addr.arpa. PTR host9.",
                       "ftp. CNAME host1.example.com.", "host1.example.com. A 10.0.0.5",
                       "host9. A 10.0.0.9", "mail. CNAME host1.example.com.", "nine. CNAME host9.",
                       "seven. A 10.0.0.7"}));
    for (const auto& r : cache_.Records()) {
        EXPECT_TRUE(r->Permanent);
        EXPECT_EQ(r->TTL(Now()), 1200);
    }

    // Learnt records never overwrite a hosts name, of any type.
    clDNSAnswer reply;
    reply.RqName = "host1.example.com.";
    reply.RqType = A;
    reply.Section2 = {MakeRecord("host1.example.com.", A, modIP::IPToData("9.9.9.9"), 300, Now()),
                      MakeRecord("host1.example.com.", MX,
                                 modDNS::MakeShortL(10) + "mx.example.com.", 300, Now()),
                      MakeRecord("mail.", A, modIP::IPToData("9.9.9.8"), 300, Now())};
    cache_.CacheAdd(reply);
    EXPECT_EQ(AnswerOf("host1.example.com.", A), (Strings{"host1.example.com. A 10.0.0.5"}));
    EXPECT_TRUE(AnswerOf("host1.example.com.", MX).empty());
    EXPECT_EQ(AnswerOf("mail.", A), (Strings{"mail. CNAME host1.example.com."}));
    EXPECT_EQ(cache_.Count(), 9);
}

TEST_F(CacheFiles, MissingHostsFileIsLoggedAndKeepsTheRootHints) {
    Write(root_ / "named.root", ". 3600000 NS a.root.test.\r\n");
    settings_.Hosts = (root_ / "nohosts").string();
    files_.LoadPerm();
    EXPECT_EQ(log_, (Strings{"0 Loading Root DNS server records...",
                             "0 Loading hosts file \"" + settings_.Hosts + "\"...",
                             "0 -> File not found!"}));
    EXPECT_EQ(CacheContents(), (Strings{". NS a.root.test."}));
}

// ---- named.cache and the file's age --------------------------------------------------------

TEST_F(CacheFiles, LoadCacheTakesTheFileAgeOffEveryTTL) {
    Write(root_ / "named.cache",
          "; Kestrune - Cache\r\n"
          "a.test. 100 A 10.0.0.1\r\n"
          " 3600 A 10.0.0.2\r\n");
    SetMTime(root_ / "named.cache", Now() - 40 * kSecond);
    files_.LoadCache();
    ASSERT_EQ(cache_.Count(), 2);
    std::vector<int32_t> ttls;
    for (const auto& r : cache_.Records()) ttls.push_back(r->TTL(Now()));
    std::sort(ttls.begin(), ttls.end());
    EXPECT_EQ(ttls, (std::vector<int32_t>{60, 3560}));

    // Read back 200 seconds after it was written, the short record is loaded already expired.
    cache_.ClearCache();
    SetMTime(root_ / "named.cache", Now() - 200 * kSecond);
    files_.LoadCache();
    EXPECT_EQ(cache_.Count(), 2);
    EXPECT_EQ(AnswerOf("a.test.", A), (Strings{"a.test. A 10.0.0.2"}));

    // A file dated ahead of the clock does not lengthen anything.
    cache_.ClearCache();
    SetMTime(root_ / "named.cache", Now() + 500 * kSecond);
    files_.LoadCache();
    ASSERT_EQ(cache_.Count(), 2);
    for (const auto& r : cache_.Records()) EXPECT_LE(r->TTL(Now()), 3600);

    // A missing file adds nothing and reports nothing.
    cache_.ClearCache();
    fs::remove(root_ / "named.cache");
    files_.LoadCache();
    EXPECT_EQ(cache_.Count(), 0);
    EXPECT_TRUE(reports_.empty());
    EXPECT_TRUE(log_.empty());
}

// ---- Writing ---------------------------------------------------------------------------------

TEST_F(CacheFiles, RecordLinesWriteEveryTypeAndKeepTheOwnerAcrossSkippedRecords) {
    const double now = Now();
    auto rec = [now](const std::string& name, int32_t type, const std::string& data,
                     int32_t ttl = 3542) { return MakeRecord(name, type, data, ttl, now); };
    const std::vector<RecordRef> list = {
        rec("_sip._udp.example.org.", SRV,
            modDNS::MakeShortL(10) + modDNS::MakeShortL(20) + modDNS::MakeShortL(5060) +
                "sip.example.org."),
        rec("example.org.", SOA, SoaData(4000000000u, 900), 300),
        rec("example.org.", 1000 + A, "example.org.", 300),  // a marker: no line
        rec("example.org.", MX, modDNS::MakeShortL(65535) + "mail.example.org.", 300),
        rec("example.org.", TXT, std::string("\x0bv=spf1 -all\x02;\"", 15), 300),
        rec("gone.example.org.", A, modIP::IPToData("10.0.0.9"), -1),  // expired
        rec("host1.example.com.", A, modIP::IPToData("10.0.0.1")),
        rec("host1.example.com.", 2000, "example.com."),       // a marker between two records
        rec("host1.example.com.", 28, std::string(16, '\1')),  // no word for the type
        rec("host1.example.com.", A, modIP::IPToData("10.0.0.2")),
        rec("odd;name.example.com.", A, modIP::IPToData("10.0.0.3")),  // would be misread
        rec("short.example.com.", A, std::string("\x0a\x00\x00", 3)),
        rec("www.example.com.", CNAME, "host1.example.com."),
        rec("1.0.0.10.in-addr.arpa.", PTR, "host1.example.com.", 0),
        rec(".", NS, "a.root-servers.net.")};
    EXPECT_EQ(
        modCacheFile::RecordLines(list, false, now),
        (Strings{"_sip._udp.example.org. 3542 SRV 10 20 5060 sip.example.org.",
                 "example.org. 300 SOA ns1.example.org. admin.example.org. 4000000000 3600 "
                 "600 86400 900",
                 " 300 MX 65535 mail.example.org.", " 300 TXT \"v=spf1 -all\" \"\\073\\042\" ",
                 "host1.example.com. 3542 A 10.0.0.1", " 3542 A 10.0.0.2",
                 "www.example.com. 3542 CNAME host1.example.com.",
                 "1.0.0.10.in-addr.arpa. 0 PTR host1.example.com.",
                 ". 3542 NS a.root-servers.net."}));
}

TEST_F(CacheFiles, SaveCacheWritesBothFormsByteForByte) {
    const double now = Now();
    cache_.AddRec(
        MakeRecord("host1.example.com.", A, modIP::IPToData("10.0.0.5"), 1200, now, true));
    cache_.AddRec(MakeRecord("a.example.org.", A, modIP::IPToData("10.0.0.1"), 3542, now));
    cache_.AddRec(MakeRecord("example.org.", NS, "ns1.example.org.", 300, now));
    cache_.AddRec(MakeRecord("expired.example.org.", A, modIP::IPToData("10.0.0.2"), 10, now));
    cache_.AddRec(MakeRecord("none.example.org.", 2000, "example.org.", 300, now));
    leases_.Append(clLease{now + 3600 * kSecond, "192.168.1.10", "pc1.lan.", "id1", "hw1"});
    leases_.Append(clLease{now - kSecond, "192.168.1.11", "old.lan.", "id2", "hw2"});
    leases_.Append(clLease{now + 90 * kSecond, "192.168.1.12", "0A1B2C3D4E5F.lan.", "", "hw3"});
    clock_.Advance(20);

    ASSERT_TRUE(files_.SaveCache(false));
    EXPECT_EQ(Read(root_ / "named.cache"),
              "; Kestrune - Cache\r\n"
              "a.example.org. 3522 A 10.0.0.1\r\n"
              "example.org. 280 NS ns1.example.org.\r\n");
    ASSERT_TRUE(files_.SaveCache(true));
    EXPECT_EQ(Read(root_ / "snapshot.dat"),
              "a.example.org. 3522 A 10.0.0.1\r\n"
              "example.org. 280 NS ns1.example.org.\r\n"
              "host1.example.com. 1200 A 10.0.0.5\r\n"
              "pc1.lan. 3580 A 192.168.1.10\r\n"
              "10.1.168.192.in-addr.arpa. 3580 PTR pc1.lan.\r\n"
              "0A1B2C3D4E5F.lan. 70 A 192.168.1.12\r\n"
              "12.1.168.192.in-addr.arpa. 70 PTR 0A1B2C3D4E5F.lan.\r\n");
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(root_)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Strings{"data", "named.cache", "snapshot.dat"}));  // no temporary left
    EXPECT_TRUE(reports_.empty());

    // A folder that cannot be written: reported, false, and nothing is left half-written.
    clCacheFiles elsewhere(cache_, nullptr, nullptr, settings_, clock_, {}, root_ / "missing");
    EXPECT_FALSE(elsewhere.SaveCache(false));
    EXPECT_EQ(reports_, (Strings{"clDNSCache SaveCache"}));
}

TEST_F(CacheFiles, SavedCacheReadsBackWithTheSameRecordsLessTheTimeOnDisk) {
    const double now = Now();
    const std::vector<RecordRef> learnt = {
        MakeRecord("a.example.org.", A, modIP::IPToData("10.0.0.1"), 3600, now),
        MakeRecord("a.example.org.", A, modIP::IPToData("10.0.0.2"), 3600, now),
        MakeRecord("example.org.", NS, "ns1.example.org.", 86400, now),
        MakeRecord("example.org.", SOA, SoaData(2026120801, 900), 900, now),
        MakeRecord("example.org.", MX, modDNS::MakeShortL(10) + "mail.example.org.", 600, now),
        MakeRecord("example.org.", TXT, std::string("\x05hello\x03(;)", 10), 600, now),
        MakeRecord("_ldap._tcp.example.org.", SRV,
                   modDNS::MakeShortL(0) + modDNS::MakeShortL(5) + modDNS::MakeShortL(389) +
                       "dc.example.org.",
                   600, now),
        MakeRecord("www.example.org.", CNAME, "a.example.org.", 600, now),
        MakeRecord("1.0.0.10.in-addr.arpa.", PTR, "a.example.org.", 600, now),
        MakeRecord(".", NS, "a.root-servers.net.", 518400, now)};
    for (const auto& r : learnt) cache_.AddRec(r);
    cache_.AddRec(MakeRecord("host.lan.", A, modIP::IPToData("10.0.0.9"), 1200, now, true));
    ASSERT_TRUE(files_.SaveCache(false));
    SetMTime(root_ / "named.cache", now);

    clock_.Advance(40);
    clDNSCache restarted(settings_, clock_);
    clCacheFiles again(restarted, nullptr, nullptr, settings_, clock_, {}, root_);
    again.LoadCache();
    auto before = Described(learnt);
    auto after = Described(restarted.Records());
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, before);
    for (const auto& r : restarted.Records()) {
        const auto orig = std::find_if(learnt.begin(), learnt.end(),
                                       [&r](const RecordRef& l) { return l->SameAs(*r); });
        ASSERT_NE(orig, learnt.end());
        EXPECT_EQ(r->TTL(Now()), (*orig)->mTTL - 40) << r->Name;
        EXPECT_FALSE(r->Permanent);
    }
}

}  // namespace
