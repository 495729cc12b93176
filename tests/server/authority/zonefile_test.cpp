// Zone files: naming, the server's grammar, the text helpers and both writers.
#include "server/authority/zonefile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <random>
#include <tuple>

#include "core/modDNS.h"
#include "core/modIP.h"
#include "core/report.h"
#include "platform/files.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_dir.h"
#include "tests/support/write_limit.h"

namespace {

using namespace modZoneFile;
namespace fs = std::filesystem;
using kest::test::TempDir;

constexpr const char* kZone = "example.com.";

std::string Mx(int pref, const std::string& name) {
    return modDNS::MakeShortL(pref) + name;
}
std::string Srv(int prio, int weight, int port, const std::string& name) {
    return modDNS::MakeShortL(prio) + modDNS::MakeShortL(weight) + modDNS::MakeShortL(port) + name;
}
std::string Soa(const std::string& m, const std::string& r, uint32_t serial, uint32_t refresh,
                uint32_t retry, uint32_t expire, uint32_t minimum) {
    return modDNS::MakeSOAData({m, r, serial, refresh, retry, expire, minimum});
}
std::string Txt(std::initializer_list<std::string> strings) {
    std::string out;
    for (const auto& s : strings) out += static_cast<char>(s.size()) + s;
    return out;
}

// Everything of a record that the file carries.
using Rec = std::tuple<std::string, int32_t, std::string, int32_t>;
Rec Of(const clDNSRecord& r) {
    return {r.Name, r.RecType, r.Data, r.mTTL};
}

class ZoneFile : public ::testing::Test {
  protected:
    void SetUp() override {
        previous_ = kest::SetErrorSink(
            [this](const std::string& where, const std::string&, const kest::RunError& e) {
                reports_.push_back(where);
                lastError_ = e;
            });
    }
    void TearDown() override { kest::SetErrorSink(previous_); }

    ZoneFileData Read(const std::string& text, const std::string& zone = kZone) {
        auto data = ReadZoneText(text, zone, clock_.Now());
        EXPECT_TRUE(data.has_value());
        return data ? std::move(*data) : ZoneFileData{};
    }
    std::vector<Rec> Records(const std::string& text, const std::string& zone = kZone) {
        std::vector<Rec> out;
        for (const auto& r : Read(text, zone).Records) out.push_back(Of(*r));
        return out;
    }
    RecordRef R(const std::string& name, int32_t type, const std::string& data,
                int32_t ttl = 3600) {
        return MakeRecord(name, type, data, ttl, clock_.Now(), true);
    }

    kest::test::FakeClock clock_;
    std::vector<std::string> reports_;
    kest::RunError lastError_;
    kest::ErrorSink previous_;
};

// ---- Naming ----------------------------------------------------------------------------------

TEST(ZoneFileNaming, BothWays) {
    EXPECT_EQ(ZoneFileName("."), "_root.dns");
    EXPECT_EQ(ZoneFileName("example.com."), "example.com.dns");
    EXPECT_EQ(ZoneFileName("0/25.2.0.192.in-addr.arpa."), "0~25.2.0.192.in-addr.arpa.dns");
    EXPECT_EQ(ZoneFileName("example.com"), "example.com.dns");  // the final dot is added

    EXPECT_EQ(ZoneNameFromFile("example.com.dns"), "example.com.");
    EXPECT_EQ(ZoneNameFromFile("0~25.2.0.192.in-addr.arpa.dns"), "0/25.2.0.192.in-addr.arpa.");
    EXPECT_EQ(ZoneNameFromFile("_root.dns"), ".");
    EXPECT_EQ(ZoneNameFromFile("Example.COM.dns"), "Example.COM.");
    EXPECT_EQ(ZoneNameFromFile("example.com.DNS"), "example.com.");
    EXPECT_EQ(ZoneNameFromFile("example.com.txt"), "");
    EXPECT_EQ(ZoneNameFromFile(".dns"), "");

    EXPECT_TRUE(IsZoneFileName("a.Dns"));
    EXPECT_FALSE(IsZoneFileName("adns"));
    for (const char* zone : {".", "example.com.", "0/25.2.0.192.in-addr.arpa.", "Mixed.Case."})
        EXPECT_EQ(ZoneNameFromFile(ZoneFileName(zone)), zone);
}

TEST(ZoneFileNaming, FindsTheFileWhateverTheCaseOfItsEnding) {
    TempDir dir;
    EXPECT_EQ(FindZoneFile(dir.path(), "example.com."), dir.path() / "example.com.dns");
    platform::WriteFileAtomic(dir.path() / "example.com.DNS", "");
    platform::WriteFileAtomic(dir.path() / "Example.com.dns", "");  // another zone: name case
    EXPECT_EQ(FindZoneFile(dir.path(), "example.com."), dir.path() / "example.com.DNS");
    platform::WriteFileAtomic(dir.path() / "example.com.dns", "");
    EXPECT_EQ(FindZoneFile(dir.path(), "example.com."), dir.path() / "example.com.dns");
}

// ---- Text helpers ----------------------------------------------------------------------------

TEST(ZoneFileText, NextWord) {
    std::string line = "   pc1   A  10.0.0.1  ";
    EXPECT_EQ(NextWord(line), "pc1");
    EXPECT_EQ(line, "A  10.0.0.1  ");
    EXPECT_EQ(NextWord(line), "A");
    EXPECT_EQ(NextWord(line), "10.0.0.1");
    EXPECT_EQ(line, "");
    EXPECT_EQ(NextWord(line), "");
}

TEST(ZoneFileText, FullName) {
    EXPECT_EQ(FullName("pc1", "example.com."), "pc1.example.com.");
    EXPECT_EQ(FullName("mail.example.org", "example.com."), "mail.example.org.");
    EXPECT_EQ(FullName("localhost.", "example.com."), "localhost.");
    EXPECT_EQ(FullName(".", "example.com."), ".");
    EXPECT_EQ(FullName("ns", "."), "ns.");
    EXPECT_EQ(FullName("PC1", "Example.COM."), "pc1.example.com.");
    EXPECT_EQ(FullName("..a..b..", "example.com."), "a.b.");
    EXPECT_EQ(FullName("*", "example.com."), "*.example.com.");
}

TEST(ZoneFileText, ParseTXT) {
    EXPECT_EQ(ParseTXT("  hello world  "), Txt({"hello world"}));
    EXPECT_EQ(ParseTXT("\"hello\" \"world\""), Txt({"hello", "world"}));
    EXPECT_EQ(ParseTXT("\"a\\042b\\073c\""), Txt({"a\"b;c"}));
    EXPECT_EQ(ParseTXT("\"\\000\\377\""), Txt({std::string("\0\xff", 2)}));
    // A backslash without three octal digits of a byte value stands for itself.
    EXPECT_EQ(ParseTXT("\"\\9ab\\400\\04\""), Txt({"\\9ab\\400\\04"}));
    EXPECT_EQ(ParseTXT("\"\" \"x\""), Txt({"x"}));
    EXPECT_EQ(ParseTXT("\"\""), "");
    EXPECT_EQ(ParseTXT("\"open to the end"), Txt({"open to the end"}));
    EXPECT_EQ(ParseTXT("\"q\" rest of it"), Txt({"q", "rest of it"}));
    EXPECT_EQ(ParseTXT("\"" + std::string(300, 'x') + "\""), Txt({std::string(255, 'x')}));
}

TEST(ZoneFileText, FormatTXT) {
    EXPECT_EQ(FormatTXT(Txt({"a b", "c"})), "\"a b\" \"c\" ");
    EXPECT_EQ(FormatTXT(Txt({"\"\\();\t\x7f\x80~"})),
              "\"\\042\\134\\050\\051\\073\\011\\177\\200~\" ");
    EXPECT_EQ(FormatTXT(std::string("\x05"
                                    "abc",
                                    4)),
              "");                                     // runs past the end
    EXPECT_EQ(FormatTXT(std::string("\x00", 1)), "");  // an empty string
    EXPECT_EQ(FormatTXT(""), "");
}

TEST(ZoneFileText, RelNameAndPlainNumbers) {
    EXPECT_EQ(RelName("example.com.", "pc1.example.com."), "pc1");
    EXPECT_EQ(RelName("example.com.", "a.b.example.com."), "a.b.example.com.");
    EXPECT_EQ(RelName("example.com.", "example.com."), "example.com.");
    EXPECT_EQ(RelName(".", "pc1."), "pc1.");
    EXPECT_EQ(RelName("example.com.", "."), ".");

    for (const char* yes : {"0", "3600", "2147483648"}) EXPECT_TRUE(IsPlainNumber(yes)) << yes;
    for (const char* no : {"", "03600", "+5", "-5", "1h", "3600.0", "1e3"})
        EXPECT_FALSE(IsPlainNumber(no)) << no;
}

// ---- The reader's grammar --------------------------------------------------------------------

TEST_F(ZoneFile, DefaultTTLComesFromTheLastCompleteSOA) {
    const auto recs = Records(
        "pc1 A 10.0.0.1\r\n"
        "@ 7200 SOA ns1 hostmaster 5 3600 600 86400 300\r\n"
        "pc2 A 10.0.0.2\r\n"
        "@ SOA ns1 hostmaster 6 3600 600 86400 0\r\n"
        "pc3 A 10.0.0.3\r\n");
    ASSERT_EQ(recs.size(), 5u);
    EXPECT_EQ(recs[0], Rec("pc1.example.com.", 1, modIP::IPToData("10.0.0.1"), 86400));
    EXPECT_EQ(
        recs[1],
        Rec("example.com.", 6,
            Soa("ns1.example.com.", "hostmaster.example.com.", 5, 3600, 600, 86400, 300), 7200));
    EXPECT_EQ(std::get<3>(recs[2]), 300);
    EXPECT_EQ(std::get<3>(recs[3]), 300);    // the SOA line itself took the earlier minimum
    EXPECT_EQ(std::get<3>(recs[4]), 86400);  // minimum 0 leaves the default at 86400
}

TEST_F(ZoneFile, OwnerColumn) {
    const auto recs = Records(
        "\tpc0 A 10.0.0.9\n"  // a tab before any owner: ignored
        "mail.example.org MX 10 mx\n"
        "  MX 20 mx2.other.net.\n"
        "PC1 BOGUS 1\n"  // unusable, but PC1 becomes the previous owner
        " A 10.0.0.1\n"
        "@ TXT apex\n"
        "@x TXT cut\n"                 // "@" and the character after it go
        "*.example.com. A 10.0.0.7\n"  // a dotted name is never completed
        "*.sub A 10.0.0.8\n");
    ASSERT_EQ(recs.size(), 7u);
    EXPECT_EQ(recs[0], Rec("mail.example.org.", 15, Mx(10, "mx.example.com."), 86400));
    EXPECT_EQ(recs[1], Rec("mail.example.org.", 15, Mx(20, "mx2.other.net."), 86400));
    EXPECT_EQ(recs[2], Rec("pc1.example.com.", 1, modIP::IPToData("10.0.0.1"), 86400));
    EXPECT_EQ(recs[3], Rec("example.com.", 16, Txt({"apex"}), 86400));
    EXPECT_EQ(recs[4], Rec("example.com.", 16, Txt({"cut"}), 86400));
    EXPECT_EQ(std::get<0>(recs[5]), "*.example.com.");
    EXPECT_EQ(std::get<0>(recs[6]), "*.sub.");
}

TEST_F(ZoneFile, ClassAndTTLInEitherOrder) {
    const Rec mx("example.com.", 15, Mx(10, "mail.example.com."), 3600);
    for (const char* line : {"@ IN 3600 IN MX 10 mail", "@ 3600 MX 10 mail", "@ in 3600 mx 10 mail",
                             "@ 3600 IN MX 10 mail", "@\tIN\t3600\tMX\t10\tmail"}) {
        const auto recs = Records(line);
        ASSERT_EQ(recs.size(), 1u) << line;
        EXPECT_EQ(recs[0], mx) << line;
    }
    for (const char* line : {"@ CH TXT x", "@ 3600 CH TXT x", "@ IN CH TXT x", "@ 03600 MX 10 mail",
                             "@ 3600", "@ 3600 MX", "@ IN", "@ +5 A 10.0.0.1", "@ 1h A 10.0.0.1"})
        EXPECT_TRUE(Records(line).empty()) << line;
    // Numbers beyond their field are clamped, the line is kept.
    const auto big = Records("@ 99999999999 MX 70000 mail\n@ 5 MX -12.9 mail");
    ASSERT_EQ(big.size(), 2u);
    EXPECT_EQ(big[0], Rec("example.com.", 15, Mx(65535, "mail.example.com."), 2147483647));
    EXPECT_EQ(big[1], Rec("example.com.", 15, Mx(12, "mail.example.com."), 5));
}

TEST_F(ZoneFile, EveryTypeWord) {
    const auto recs = Records(
        "ns NS ns1\n"
        "www CNAME host.other.net\n"
        "1 PTR pc1\n"
        "_sip._udp.example.com. SRV 10 20 5060 sip\n"
        "t TXT \"a b\" \"c\"\n"
        "t2 TXT \"before;after\"\n"  // the comment cut holds inside quotes too
        "t3 TXT \"before\\073after\"\n"
        "example.com. DFCN host\n"
        "pc A 10.0.0.1 trailing words\n"
        "pc A 0.0.0.0\n"
        "pc A not-an-address\n"
        "pc AAAA ::1\n"
        "pc MX 10\n"
        "pc SRV 1 2 3\n"
        "pc TXT \"\"\n"
        "bad\x01name A 10.0.0.1\n"  // names with control bytes are never kept
        "pc CNAME x\x7fy\n");
    ASSERT_EQ(recs.size(), 9u);
    EXPECT_EQ(recs[0], Rec("ns.example.com.", 2, "ns1.example.com.", 86400));
    EXPECT_EQ(recs[1], Rec("www.example.com.", 5, "host.other.net.", 86400));
    EXPECT_EQ(recs[2], Rec("1.example.com.", 12, "pc1.example.com.", 86400));
    EXPECT_EQ(recs[3],
              Rec("_sip._udp.example.com.", 33, Srv(10, 20, 5060, "sip.example.com."), 86400));
    EXPECT_EQ(recs[4], Rec("t.example.com.", 16, Txt({"a b", "c"}), 86400));
    EXPECT_EQ(std::get<2>(recs[5]), Txt({"before"}));
    EXPECT_EQ(std::get<2>(recs[6]), Txt({"before;after"}));
    EXPECT_EQ(recs[7], Rec("*.example.com.", 5, "host.example.com.", 86400));
    EXPECT_EQ(recs[8], Rec("pc.example.com.", 1, modIP::IPToData("10.0.0.1"), 86400));
    // A zero byte in an SOA name would split its data wrongly.
    const auto soa = Read(std::string("pc SOA m\0x r 1 2 3 4 5\n", 23));
    EXPECT_TRUE(soa.Records.empty());
    EXPECT_EQ(soa.SOASerial, 1u);
}

TEST_F(ZoneFile, SoaSteps) {
    // Names are completed against the line's owner; each number reached sets its zone value.
    auto data = Read("sub SOA ns hm 42 100 200\n");
    EXPECT_TRUE(data.Records.empty());
    EXPECT_EQ(data.SOASerial, 42u);
    EXPECT_EQ(data.SOARefresh, 100u);
    EXPECT_EQ(data.SOARetry, 200u);
    EXPECT_EQ(data.SOAExpire, 300u);

    data = Read("sub SOA ns hm.other.org 4294967295 1 2 3 4\nx A 1.2.3.4\n");
    ASSERT_EQ(data.Records.size(), 2u);
    EXPECT_EQ(Of(*data.Records[0]),
              Rec("sub.example.com.", 6,
                  Soa("ns.sub.example.com.", "hm.other.org.", 4294967295u, 1, 2, 3, 4), 86400));
    EXPECT_EQ(data.Records[1]->mTTL, 4);
    EXPECT_EQ(data.SOASerial, 4294967295u);
    EXPECT_EQ(data.SOAExpire, 3u);
    EXPECT_TRUE(data.Records[0]->Permanent);
}

TEST_F(ZoneFile, Continuation) {
    const auto recs = Records(
        "@ IN SOA ns1 hostmaster (\r\n"
        "\t2024010101 ; serial\r\n"
        "   3600 600\r\n"
        "   86400 300 ) ignored\r\n"
        "pc1 A 10.0.0.1\r\n"
        "txt TXT \"x\" (\r\n"
        "  \"y\" )\r\n"
        "p1 A 10.0.0.2 ) (x\r\n");  // ")" on a first line and "(" inside stay as words
    ASSERT_EQ(recs.size(), 4u);
    EXPECT_EQ(recs[0], Rec("example.com.", 6,
                           Soa("ns1.example.com.", "hostmaster.example.com.", 2024010101, 3600, 600,
                               86400, 300),
                           86400));
    EXPECT_EQ(recs[1], Rec("pc1.example.com.", 1, modIP::IPToData("10.0.0.1"), 300));
    EXPECT_EQ(std::get<2>(recs[2]), Txt({"x", "y"}));
    EXPECT_EQ(std::get<2>(recs[3]), modIP::IPToData("10.0.0.2"));

    // A "(" never closed loses only its own record.
    const auto rest = Records(
        "a A 10.0.0.1\n@ SOA ns1 hostmaster (\nb A 10.0.0.2\nc TXT \"x\" (\nd A 10.0.0.4\n");
    ASSERT_EQ(rest.size(), 3u);
    EXPECT_EQ(std::get<0>(rest[1]), "b.example.com.");
    EXPECT_EQ(std::get<0>(rest[2]), "d.example.com.");
}

TEST_F(ZoneFile, HeaderLinesAnywhere) {
    const auto data = Read(
        "pc1 A 10.0.0.1\n"
        "; primaryip   10.0.0.53  \n"
        "; Notify 10.0.0.2  10.0.0.3\n"
        "; NOTIFY 10.0.0.4\n"
        ";NOTSECURE is not a header\n"
        "pc2 A 10.0.0.2 ; NOTSECURE only in a comment\n");
    EXPECT_EQ(data.PrimaryIP, "10.0.0.53");
    EXPECT_EQ(data.Slaves, (std::vector<std::string>{"10.0.0.2", "10.0.0.3", "10.0.0.4"}));
    EXPECT_TRUE(data.Secure);
    EXPECT_EQ(data.Records.size(), 2u);
    EXPECT_FALSE(Read("pc1 A 10.0.0.1\n; NotSecure\n").Secure);
}

TEST_F(ZoneFile, RootAndMixedCaseZones) {
    auto recs = Records("@ NS a.root-servers.net.\nns A 10.0.0.1\n*.x DFCN y\n", ".");
    ASSERT_EQ(recs.size(), 3u);
    EXPECT_EQ(std::get<0>(recs[0]), ".");
    EXPECT_EQ(std::get<0>(recs[1]), "ns.");
    EXPECT_EQ(recs[2], Rec("*.*.x.", 5, "y.", 86400));
    EXPECT_EQ(std::get<0>(Records(". DFCN y", ".")[0]), "*.");

    recs = Records("@ MX 1 Mail\nPC1 A 10.0.0.1\n", "Example.COM.");
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0], Rec("example.com.", 15, Mx(1, "mail.example.com."), 86400));
    EXPECT_EQ(std::get<0>(recs[1]), "pc1.example.com.");
}

TEST_F(ZoneFile, FileThatCannotBeRead) {
    TempDir dir;
    std::vector<std::string> log;
    const auto logLine = [&log](int kind, std::string_view text) {
        log.push_back(std::to_string(kind) + " " + std::string(text));
    };
    EXPECT_FALSE(ReadZoneFile(dir.path() / "missing.dns", kZone, clock_.Now(), logLine));
    EXPECT_EQ(reports_, std::vector<std::string>{"clDNSAuthData LoadZone"});
    EXPECT_EQ(lastError_.number, ENOENT);
    EXPECT_EQ(log, std::vector<std::string>{"0 ** Error accessing file!"});

    EXPECT_FALSE(ReadZoneFile(dir.path(), kZone, clock_.Now(), logLine));  // a folder
    EXPECT_EQ(lastError_.number, EISDIR);

    platform::WriteFileAtomic(dir.path() / "example.com.dns", "pc1 A 10.0.0.1\r\n");
    const auto data = ReadZoneFile(dir.path() / "example.com.dns", kZone, clock_.Now(), logLine);
    ASSERT_TRUE(data);
    ASSERT_EQ(data->Records.size(), 1u);
    EXPECT_EQ(log.size(), 2u);
}

// ---- Writers ---------------------------------------------------------------------------------

TEST_F(ZoneFile, EditorLayout) {
    const ZoneFileHeader header{"10.0.0.53", {"10.0.0.2", "10.0.0.3"}, false};
    const EditorSOA soa{
        "ns1.example.com.", "hostmaster.example.com.", 2026120601, 3600, 600, 86400, 3600};
    const std::vector<RecordRef> recs = {
        R("a.b.example.com.", 1, modIP::IPToData("10.0.0.5")),
        R("example.com.", 2, "ns1.example.com."),
        R("pc1.example.com.", 1, modIP::IPToData("10.0.0.1"), 60),
        R("pc1.example.com.", 16, Txt({"say \"hi\""})),
        R("example.com.", 15, Mx(10, "mail.other.net.")),
        R("_sip._udp.example.com.", 33, Srv(0, 5, 5060, "sip.example.com.")),
        R("pc1.example.com.", 5, "x.example.com."),
    };
    EXPECT_EQ(EditorZoneLines(kZone, header, soa, recs),
              (std::vector<std::string>{
                  "; PrimaryIP 10.0.0.53",
                  "; Notify 10.0.0.2 10.0.0.3",
                  "; NotSecure",
                  "@ 3600 SOA ns1.example.com. hostmaster.example.com. 2026120601 3600 600 "
                  "86400 3600",
                  " 3600 NS ns1",
                  " 3600 MX 10 mail.other.net.",
                  "a.b.example.com. 3600 A 10.0.0.5",
                  "pc1 60 A 10.0.0.1",
                  " 3600 TXT \"say \\042hi\\042\" ",
                  "_sip._udp.example.com. 3600 SRV 0  5  5060 sip",
                  "pc1 3600 CNAME x",
              }));
    // Without an SOA line the first apex record names its owner, so reading keeps it.
    EXPECT_EQ(EditorZoneLines(kZone, {}, {}, {recs[1], recs[4]}),
              (std::vector<std::string>{"@ 3600 NS ns1", " 3600 MX 10 mail.other.net."}));
}

TEST_F(ZoneFile, ServerLayout) {
    const std::vector<RecordRef> transfer = {
        R("example.com.", 6,
          Soa("ns1.example.com.", "hostmaster.example.com.", 7, 3600, 600, 86400, 300), 300),
        R("example.com.", 2, "ns1.example.com."),
        R("ns1.example.com.", 1, modIP::IPToData("10.0.0.1")),
        R("ns1.example.com.", 1, modIP::IPToData("10.0.0.2")),
        R("example.com.", 6, Soa("x.", "y.", 1, 2, 3, 4, 5)),  // a later SOA is not written
        R("example.com.", 16, Txt({"v=1"})),
        R("srv.example.com.", 33, Srv(1, 2, 3, "t.other.")),
    };
    EXPECT_EQ(ServerZoneLines(kZone, {"10.0.0.53", {}, true}, transfer),
              (std::vector<std::string>{
                  "; PrimaryIP 10.0.0.53",
                  "@ 300 SOA ns1.example.com. hostmaster.example.com. 7 3600 600 86400 300",
                  " 3600 NS ns1",
                  "ns1 3600 A 10.0.0.1",
                  " 3600 A 10.0.0.2",
                  "example.com. 3600 TXT \"v=1\" ",
                  "srv 3600 SRV 1 2 3 t.other.",
              }));
    // Header lines only (an expired copy); "; PrimaryIP " is always written.
    EXPECT_EQ(ServerZoneLines(kZone, {"", {"10.0.0.9"}, false}, {}),
              (std::vector<std::string>{"; PrimaryIP ", "; Notify 10.0.0.9", "; NotSecure"}));
}

TEST_F(ZoneFile, WritersSkipWhatCannotBeReadBack) {
    const std::vector<RecordRef> recs = {
        R("example.com.", 6, Soa("ns1.example.com.", "hm.example.com.", 1, 2, 3, 4, 5)),
        R("pc1.example.com.", 28, std::string(16, '\1')),      // AAAA: not a zone file type
        R("pc1.example.com.", 1, modIP::IPToData("0.0.0.0")),  // read back as nothing
        R("pc1.example.com.", 1, "abc"),                       // not 4 bytes
        R("pc1.example.com.", 5, "Upper.example.com."),        // would read back lower case
        R("pc1.example.com.", 5, "has blank.example.com."),    //
        R("pc1.example.com.", 5, "semi;colon.example.com."),   //
        R("pc1.example.com.", 5, "open(.example.com."),        //
        R("pc1.example.com.", 5, "a..b.example.com."),         // empty label
        R("pc1.example.com.", 5, "not.absolute"),              //
        R("pc1.example.com.", 16,
          std::string("\x05"
                      "ab",
                      3)),                  // malformed TXT
        R("pc1.example.com.", 15, "\x01"),  // short MX
        R("pc1.example.com.", 1, modIP::IPToData("10.0.0.1"), -1),
        R("pc1.example.com.", 1, modIP::IPToData("10.0.0.2")),  // the first writable: owner
        R("@at.example.com.", 1, modIP::IPToData("10.0.0.3")),  // owner would read as "@"
        R("x y.example.com.", 1, modIP::IPToData("10.0.0.4")),
    };
    const std::vector<std::string> expected = {"pc1 3600 A 10.0.0.2"};
    EXPECT_EQ(EditorZoneLines(kZone, {}, {}, recs), expected);
    const std::vector<std::string> server = ServerZoneLines(kZone, {}, recs);
    ASSERT_EQ(server.size(), 3u);
    EXPECT_EQ(server[2], "pc1 3600 A 10.0.0.2");

    // The SOA line counts as written for the zone itself; an SOA that cannot be written does not.
    const RecordRef ns = R("example.com.", 2, "ns1.example.com.");
    EXPECT_EQ(ServerZoneLines(kZone, {}, {recs[0], ns}).back(), " 3600 NS ns1");
    EXPECT_EQ(ServerZoneLines(kZone, {}, {R("example.com.", 6, "bad soa"), ns}),
              (std::vector<std::string>{"; PrimaryIP ", "example.com. 3600 NS ns1"}));
}

// Read, write with either layout, read back: the same records, TTLs and header settings.
TEST_F(ZoneFile, RoundTripThroughBothWriters) {
    const std::string file =
        "; PrimaryIP 10.0.0.53\r\n"
        "; Notify 10.0.0.2 10.0.0.3\r\n"
        "; NotSecure\r\n"
        "@ 3600 SOA ns1 hostmaster 2026120601 3600 600 86400 3600\r\n"
        "@ NS ns1\r\n"
        " NS ns.other.net.\r\n"
        " MX 10 mail\r\n"
        " TXT \"v=spf1 -all\" \"semi\\073colon \\042q\\042 \\(\\134\"\r\n"
        "ns1 A 10.0.0.1\r\n"
        "mail 300 A 10.0.0.2\r\n"
        " A 10.0.0.3\r\n"
        "www CNAME ns1\r\n"
        "*.wild A 10.0.0.9\r\n"
        "a.b 60 TXT plain text with blanks\r\n"
        "_sip._udp SRV 0 5 5060 sip.other.org.\r\n"
        "9 PTR localhost.\r\n"
        "root CNAME .\r\n"
        "host DFCN www\r\n";
    const ZoneFileData first = Read(file);
    ASSERT_EQ(first.Records.size(), 15u);
    auto sorted = [](const ZoneFileData& d) {
        std::vector<Rec> out;
        for (const auto& r : d.Records)
            if (r->RecType != 6) out.push_back(Of(*r));
        std::sort(out.begin(), out.end());
        return out;
    };
    const ZoneFileHeader header{first.PrimaryIP, first.Slaves, first.Secure};
    const EditorSOA soa{
        "ns1.example.com.", "hostmaster.example.com.", 2026120601, 3600, 600, 86400, 3600};

    std::vector<RecordRef> others;  // the editor keeps every record but the SOA
    for (const auto& r : first.Records)
        if (r->RecType != 6) others.push_back(r);
    const std::vector<std::vector<std::string>> layouts = {
        EditorZoneLines(kZone, header, soa, others), ServerZoneLines(kZone, header, first.Records)};
    for (const auto& lines : layouts) {
        const ZoneFileData again = Read(platform::JoinCrLf(lines));
        EXPECT_EQ(sorted(again), sorted(first));
        ASSERT_FALSE(again.Records.empty());
        EXPECT_EQ(Of(*again.Records[0]), Of(*first.Records[0]));  // the SOA, TTL included
        EXPECT_EQ(again.PrimaryIP, first.PrimaryIP);
        EXPECT_EQ(again.Slaves, first.Slaves);
        EXPECT_EQ(again.Secure, first.Secure);
        EXPECT_EQ(again.SOASerial, first.SOASerial);
        EXPECT_EQ(again.SOAExpire, first.SOAExpire);
    }
}

// Many generated records, odd bytes included: whatever a writer writes reads back unchanged,
// and only what the writer's rules exclude is missing.
TEST_F(ZoneFile, GeneratedRecordsRoundTrip) {
    std::mt19937 rng(20261208);
    auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const std::string alphabet = "abcxyz019-_*/@\"\\#$=!~\x80\xfe";
    auto label = [&] {
        std::string l;
        for (int i = 0, n = 1 + pick(6); i < n; ++i) l += alphabet[pick(alphabet.size())];
        return l;
    };
    auto name = [&](bool inZone) {
        std::string n = label() + ".";
        if (pick(3) == 0) n += label() + ".";
        return inZone ? n + kZone : n + label() + ".";
    };
    std::vector<RecordRef> recs;
    for (int i = 0; i < 400; ++i) {
        const std::string owner = pick(5) == 0 ? kZone : name(pick(4) != 0);
        const int ttl = pick(2) ? pick(100000) : 2147483647;
        switch (pick(7)) {
            case 0:
                recs.push_back(R(owner, 1,
                                 modIP::IPToData("10.1." + std::to_string(pick(256)) + "." +
                                                 std::to_string(1 + pick(254))),
                                 ttl));
                break;
            case 1:
                recs.push_back(R(owner, 2, name(pick(2)), ttl));
                break;
            case 2:
                recs.push_back(R(owner, 5, name(pick(2)), ttl));
                break;
            case 3:
                recs.push_back(R(owner, 12, name(pick(2)), ttl));
                break;
            case 4:
                recs.push_back(R(owner, 15, Mx(pick(65536), name(pick(2))), ttl));
                break;
            case 5:
                recs.push_back(
                    R(owner, 33, Srv(pick(65536), pick(65536), pick(65536), name(pick(2))), ttl));
                break;
            default: {
                std::string data;
                for (int s = 0, n = 1 + pick(3); s < n; ++s) {
                    std::string str;
                    for (int b = 0, len = 1 + pick(pick(2) ? 20 : 255); b < len; ++b)
                        str.push_back(static_cast<char>(pick(256)));
                    data += static_cast<char>(str.size()) + str;
                }
                recs.push_back(R(owner, 16, data, ttl));
            }
        }
    }
    std::sort(recs.begin(), recs.end(),
              [](const RecordRef& a, const RecordRef& b) { return a->Name < b->Name; });
    // What a writer may leave out: owners the reader would take as "@".
    std::vector<Rec> expected;
    for (const auto& r : recs)
        if (r->Name.front() != '@') expected.push_back(Of(*r));
    std::sort(expected.begin(), expected.end());
    ASSERT_GT(expected.size(), 300u);

    std::vector<RecordRef> transfer = {
        R(kZone, 6, Soa("ns1.example.com.", "hm.example.com.", 1, 2, 3, 4, 5), 5)};
    transfer.insert(transfer.end(), recs.begin(), recs.end());
    const EditorSOA soa{"ns1.example.com.", "hm.example.com.", 1, 2, 3, 4, 5};
    for (const auto& lines :
         {EditorZoneLines(kZone, {}, soa, recs), ServerZoneLines(kZone, {}, transfer)}) {
        std::vector<Rec> back;
        for (const auto& r : Read(platform::JoinCrLf(lines)).Records)
            if (r->RecType != 6) back.push_back(Of(*r));
        std::sort(back.begin(), back.end());
        EXPECT_EQ(back, expected);
    }
}

TEST_F(ZoneFile, WriteZoneLinesReplacesTheFileWithCrLf) {
    TempDir dir;
    const fs::path path = dir.path() / "data" / "example.com.dns";
    ASSERT_TRUE(WriteZoneLines(path, {"; PrimaryIP 10.0.0.1", "@ 1 NS ns"}, "test Write"));
    EXPECT_EQ(platform::ReadFile(path), "; PrimaryIP 10.0.0.1\r\n@ 1 NS ns\r\n");
    ASSERT_TRUE(WriteZoneLines(path, {"x 1 A 10.0.0.1"}, "test Write"));
    EXPECT_EQ(platform::ReadFile(path), "x 1 A 10.0.0.1\r\n");
    EXPECT_EQ(platform::ListFiles(path.parent_path()).size(), 1u);  // no temporary file left
    EXPECT_TRUE(reports_.empty());

    {
        // The write fails after a few bytes: reported, and the old file stays whole.
        kest::test::ScopedWriteLimit limit(4);
        ASSERT_TRUE(limit.Active());
        EXPECT_FALSE(WriteZoneLines(path, {"y 1 A 10.0.0.2"}, "clDNSAuthData GotZTransfer"));
    }
    EXPECT_EQ(reports_, std::vector<std::string>{"clDNSAuthData GotZTransfer"});
    EXPECT_EQ(platform::ReadFile(path), "x 1 A 10.0.0.1\r\n");
    EXPECT_EQ(platform::ListFiles(path.parent_path()).size(), 1u);
    EXPECT_FALSE(WriteZoneLines(dir.path(), {"z"}, "where"));  // a folder cannot be replaced
}

}  // namespace
