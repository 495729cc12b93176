// The editor's zone file reader and writer, against the rules of the file format.
#include "editor/zone.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/support/temp_dir.h"

using namespace editor;

namespace {

std::string Bytes(std::initializer_list<int> b) {
    std::string s;
    for (int c : b) s.push_back(static_cast<char>(c));
    return s;
}

// "owner type ttl data" per record, data shown readably, in collection order.
std::vector<std::string> Dump(const clZone& z) {
    std::vector<std::string> out;
    for (const auto& r : z.Records) {
        std::string d;
        if (r.RecType == kA) {
            for (size_t i = 0; i < r.Data.size(); ++i)
                d += (i ? "." : "") + std::to_string(static_cast<unsigned char>(r.Data[i]));
        } else if (r.RecType == kMX) {
            d = std::to_string(Short(r.Data, 0)) + " " + r.Data.substr(2);
        } else if (r.RecType == kSRV) {
            d = std::to_string(Short(r.Data, 0)) + " " + std::to_string(Short(r.Data, 2)) + " " +
                std::to_string(Short(r.Data, 4)) + " " + r.Data.substr(6);
        } else if (r.RecType == kTXT) {
            for (const auto& s : TxtStrings(r.Data)) d += "[" + s + "]";
        } else {
            d = r.Data;
        }
        out.push_back(r.Name + " " + TypeName(r.RecType) + " " + std::to_string(r.TTL) + " " + d);
    }
    return out;
}

clZone Read(const std::string& text, const std::string& zone = "example.com.") {
    KeyCounter keys;
    return ReadZoneText(text, zone, keys);
}

using Lines = std::vector<std::string>;

TEST(EditorNames, CleanAndQualify) {
    EXPECT_EQ(CleanName("  PC1.Example.COM.  ", false), "pc1.example.com");
    EXPECT_EQ(CleanName("..a..b...c..", false), "a.b.c");
    EXPECT_EQ(CleanName("a b!c$d_e/f-g", false), "abcd_e/f-g");
    EXPECT_EQ(CleanName("*", true), "");
    EXPECT_EQ(CleanName("*.Example.com", true), "*.example.com");
    EXPECT_EQ(CleanName("*.example.com", false), "example.com");
    EXPECT_EQ(CleanName("a.*.b", true), "a.b");

    EXPECT_EQ(QualifyName("example.com.", "www"), "www.example.com.");
    EXPECT_EQ(QualifyName("example.com.", "mail.other.org"), "mail.other.org.");
    EXPECT_EQ(QualifyName("example.com.", "*.x"), "*.x.");
    EXPECT_EQ(QualifyName(".", "ns"), "ns.");
    EXPECT_EQ(QualifyName("example.com.", "."), ".");

    EXPECT_EQ(RelName("example.com.", "pc1.example.com."), "pc1");
    EXPECT_EQ(RelName("example.com.", "a.b.example.com."), "a.b.example.com.");
    EXPECT_EQ(RelName("example.com.", "example.com."), "example.com.");

    std::string line = "   one   two  three";
    EXPECT_EQ(NextWord(line), "one");
    EXPECT_EQ(line, "two  three");
    EXPECT_EQ(NextWord(line), "two");
    EXPECT_EQ(NextWord(line), "three");
    EXPECT_EQ(line, "");
    EXPECT_EQ(NextWord(line), "");
}

TEST(EditorReader, OwnerColumnsHeadersAndDefaultTTLs) {
    const clZone z = Read(
        "\tpc0 A 10.0.0.9\r\n"  // a blank owner before any owner: skipped
        "; PrimaryIP  10.1.2.300 \r\n"
        "; Notify 10.0.0.2 10.0.0.3\r\n"
        "; NotSecure\r\n"
        "pc1 A 10.0.0.1\r\n"
        "\t 120 A 10.0.0.2\r\n"
        "@ 3600 SOA ns1 hostmaster 2026010101 7200 600 86400 300\r\n"
        "pc2 IN A 10.0.0.3 ; comment\r\n"
        "@ NS ns1\r\n"
        "Mail.Other.ORG MX 10 mx\r\n");
    EXPECT_EQ(z.PrimIP, "10.1.2.0");
    EXPECT_EQ(z.Slaves, (Lines{"10.0.0.2", "10.0.0.3"}));
    EXPECT_FALSE(z.Secure);
    EXPECT_EQ(z.PrimServ, "ns1.example.com.");
    EXPECT_EQ(z.EMail, "hostmaster.example.com.");
    EXPECT_EQ(z.Serial, 2026010101u);
    EXPECT_EQ(z.TTL[1], 7200u);
    EXPECT_EQ(z.TTL[4], 300u);
    EXPECT_EQ(Dump(z), (Lines{
                           "example.com. NS 300 ns1.example.com.",
                           "mail.other.org. MX 300 10 mx.example.com.",
                           "pc1.example.com. A 86400 10.0.0.1",
                           "pc1.example.com. A 120 10.0.0.2",
                           "pc2.example.com. A 300 10.0.0.3",
                       }));
}

TEST(EditorReader, ClassesTTLWordsAndSkippedLines) {
    const clZone z = Read(
        "@ 3600 SOA ns1 hm 1 2 3 4 0\n"  // minimum 0: the default stays 86400
        "a IN 3600 IN MX 10 mail\n"
        "b 3600 MX 10 mail\n"
        "c CH TXT x\n"
        "d 3600 CH TXT x\n"
        "e 03600 A 10.0.0.1\n"  // not a TTL: taken as the type
        "f A 0.0.0.0\n"
        "g AAAA ::1\n"
        "h A\n"
        "i HINFO x y\n"
        "j\n"
        "k A 10.0.0.7\n");
    EXPECT_EQ(Dump(z), (Lines{
                           "a.example.com. MX 3600 10 mail.example.com.",
                           "b.example.com. MX 3600 10 mail.example.com.",
                           "k.example.com. A 86400 10.0.0.7",
                       }));
}

TEST(EditorReader, TypesWildcardsAndTxt) {
    const std::string longText(300, 'x');
    const clZone z = Read(
        "@ 600 SOA ns1.example.com. hostmaster.example.com. 5 1 1 1 600\n"
        "example.com. DFCN host\n"
        "*.apps.example.com. A 10.0.0.80\n"
        "srv SRV 10 60 70000 sip\n"
        "mx MX -20 mail.example.net.\n"
        "t1 TXT \"say \\042hi\\042\" \"two\" \n"
        "t2 TXT unquoted text here\n"
        "t3 TXT \"" +
        longText +
        "\"\n"
        "t4 TXT \"\"\n"
        "t5 TXT \"a;b\"\n"
        "t6 TXT \"a\\073b\\134c\"\n"
        "rev PTR host.\n"
        "multi 60 (\n"
        "   MX ; the type\n"
        "   5 m )\n");
    EXPECT_EQ(Dump(z), (Lines{
                           "*.apps.example.com. A 600 10.0.0.80",
                           "*.example.com. CNAME 600 host.example.com.",
                           "multi.example.com. MX 60 5 m.example.com.",
                           "mx.example.com. MX 600 20 mail.example.net.",
                           "rev.example.com. PTR 600 host.",
                           "srv.example.com. SRV 600 10 60 65535 sip.example.com.",
                           "t1.example.com. TXT 600 [say \"hi\"][two]",
                           "t2.example.com. TXT 600 [unquoted text here]",
                           "t3.example.com. TXT 600 [" + std::string(255, 'x') + "]",
                           "t5.example.com. TXT 600 [a]",
                           "t6.example.com. TXT 600 [a;b\\c]",
                       }));
    // An unclosed "(" loses its own record only.
    const clZone u = Read("a 60 MX (\n 5 m\nb A 10.0.0.2\n");
    EXPECT_EQ(Dump(u), (Lines{"b.example.com. A 86400 10.0.0.2"}));
}

TEST(EditorRecords, AddRecordSortedKeysAndOrder) {
    std::vector<clDNSRecord> recs;
    KeyCounter keys;
    auto add = [&](const std::string& name, const std::string& data) {
        clDNSRecord r;
        r.Name = name;
        r.RecType = kCNAME;
        r.Data = data;
        return AddRecordSorted(recs, r, keys);
    };
    EXPECT_EQ(add("m.", "1"), "1K");
    EXPECT_EQ(add("m.", "2"), "2K");  // equal names keep the order they came in
    EXPECT_EQ(add("z.", "3"), "3K");
    EXPECT_EQ(add("z.", "4"), "4K");
    add("a.", "5");
    add("q.", "6");
    add("m.", "7");  // the end of its owner's run
    add("B.", "8");  // upper case sorts before lower case
    add("m-.", "9");
    std::string order;
    for (const auto& r : recs) order += r.Data;
    EXPECT_EQ(order, "859127634");
}

TEST(EditorWriter, LayoutByteForByte) {
    clZone z;
    z.Name = "example.com.";
    z.PrimIP = "";
    z.Slaves = {"10.0.0.2", "10.0.0.3"};
    z.Secure = false;
    z.PrimServ = "ns1.example.com.";
    z.EMail = "hostmaster.example.com.";
    z.Serial = 2000010101;
    z.TTL[1] = 3600;
    z.TTL[2] = 600;
    z.TTL[3] = 86400;
    z.TTL[4] = 3600;
    KeyCounter keys;
    auto add = [&](const std::string& name, int16_t type, std::string data, int32_t ttl = 3600) {
        clDNSRecord r;
        r.Name = name;
        r.RecType = type;
        r.Data = std::move(data);
        r.TTL = ttl;
        AddRecordSorted(z.Records, r, keys);
    };
    add("www.example.com.", kA, Bytes({10, 0, 0, 1}));
    add("example.com.", kNS, "ns1.example.com.");
    add("www.example.com.", kA, Bytes({10, 0, 0, 2}), 60);
    add("a.b.example.com.", kCNAME, "www.example.com.");
    add("example.com.", kMX, Bytes({0, 10}) + "mail.example.net.");
    add("srv.example.com.", kSRV, Bytes({0, 1, 0, 2, 19, 196}) + "sip.example.com.");
    add("txt.example.com.", kTXT, Bytes({5}) + "a\"b;c" + Bytes({2, 1, 200}));
    add("ptr.example.com.", kPTR, "host.");
    EXPECT_EQ(ZoneLines(z), (Lines{
                                "; Notify 10.0.0.2 10.0.0.3",
                                "; NotSecure",
                                "@ 3600 SOA ns1.example.com. hostmaster.example.com. 2000010101 "
                                "3600 600 86400 3600",
                                " 3600 NS ns1",
                                " 3600 MX 10 mail.example.net.",
                                "a.b.example.com. 3600 CNAME www",
                                "ptr 3600 PTR host.",
                                "srv 3600 SRV 1 2 5060 sip",
                                "txt 3600 TXT \"a\\042b\\073c\" \"\\001\\310\" ",
                                "www 3600 A 10.0.0.1",
                                " 60 A 10.0.0.2",
                            }));

    // A secondary zone without an SOA: its header, and the apex named on its first line, since
    // a blank owner column at the top of the file would belong to no owner.
    clZone s;
    s.Name = ".";
    s.PrimIP = "10.9.9.9";
    KeyCounter k2;
    clDNSRecord ns;
    ns.Name = ".";
    ns.RecType = kNS;
    ns.Data = "a.root-servers.net.";
    ns.TTL = 518400;
    AddRecordSorted(s.Records, ns, k2);
    ns.Data = "b.root-servers.net.";
    AddRecordSorted(s.Records, ns, k2);
    EXPECT_EQ(ZoneLines(s), (Lines{"; PrimaryIP 10.9.9.9", "@ 518400 NS a.root-servers.net.",
                                   " 518400 NS b.root-servers.net."}));
    const clZone back = Read(
        "; PrimaryIP 10.9.9.9\n@ 518400 NS b.root-servers.net.\n"
        " 518400 NS a.root-servers.net.\n",
        ".");
    EXPECT_EQ(back.Records.size(), 2u);
}

TEST(EditorWriter, ReadWriteRoundTripKeepsEveryRecord) {
    const std::string file =
        "; PrimaryIP 192.0.2.1\r\n"
        "@ 3600 SOA ns1 hostmaster 2026120801 10800 3600 604800 3600\r\n"
        " 3600 NS ns1\r\n"
        " 3600 MX 10 mail\r\n"
        " TXT \"v=spf1 mx -all\" \"x\\\\y\"\r\n"
        "ns1 3600 A 192.0.2.2\r\n"
        "www A 192.0.2.10\r\n"
        " 30 A 192.0.2.11\r\n"
        "ftp CNAME www\r\n"
        "_sip._udp 3600 SRV 10 60 5060 sip\r\n"
        "*.apps.example.com. A 192.0.2.80\r\n"
        "5 PTR pc5.example.net.\r\n";
    const clZone first = Read(file);
    const std::string written = [&] {
        std::string s;
        for (const auto& l : ZoneLines(first)) s += l + "\r\n";
        return s;
    }();
    const clZone second = Read(written);
    EXPECT_EQ(Dump(first), Dump(second));
    EXPECT_EQ(first.Records.size(), 10u);
    EXPECT_EQ(second.PrimIP, "192.0.2.1");
    EXPECT_EQ(second.Serial, 2026120801u);
    EXPECT_EQ(second.EMail, "hostmaster.example.com.");
    // Written once more, the text is the same: the layout is stable.
    std::string again;
    for (const auto& l : ZoneLines(second)) again += l + "\r\n";
    EXPECT_EQ(again, written);
}

TEST(EditorFiles, NamesListingAndAtomicWrites) {
    EXPECT_EQ(ZoneFileName("."), "_root.dns");
    EXPECT_EQ(ZoneFileName("0/25.1.168.192.in-addr.arpa."), "0~25.1.168.192.in-addr.arpa.dns");
    EXPECT_EQ(ZoneOfText("<root>"), ".");
    EXPECT_EQ(TextOfZone("."), "<root>");
    EXPECT_EQ(TextOfZone("example.com."), "example.com");

    kest::test::TempDir dir;
    for (const char* f : {"b.org.dns", "_root.dns", "0~25.1.168.192.in-addr.arpa.dns",
                          "Example.COM.DNS", "notes.txt", "x.dns.tmp12"})
        std::ofstream(dir.path() / f) << "";
    std::filesystem::create_directory(dir.path() / "dir.dns");
    EXPECT_EQ(ListZones(dir.path()),
              (Lines{"0/25.1.168.192.in-addr.arpa", "Example.COM", "<root>", "b.org"}));

    // The zone of a listed file is read from that file and written back to it.
    std::ofstream(dir.path() / "Example.COM.DNS") << "www A 10.0.0.1\r\n";
    KeyCounter keys;
    ReadResult result{};
    clZone z = ReadZoneFile(dir.path(), ZoneOfText("Example.COM"), keys, result);
    EXPECT_EQ(result, ReadResult::Loaded);
    EXPECT_EQ(z.Name, "example.com.");
    ASSERT_EQ(z.Records.size(), 1u);
    EXPECT_EQ(z.Records[0].Name, "www.example.com.");

    // Written atomically: a reader holding the old file (a second link to it) keeps the old
    // text whole, and no temporary file is left.
    std::filesystem::create_hard_link(dir.path() / "Example.COM.DNS", dir.path() / "old");
    z.Records[0].TTL = 5;
    std::string error;
    ASSERT_TRUE(WriteZoneFile(dir.path(), z, error)) << error;
    std::ifstream old(dir.path() / "old");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(old), {}), "www A 10.0.0.1\r\n");
    std::ifstream now(dir.path() / "Example.COM.DNS");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(now), {}), "www 5 A 10.0.0.1\r\n");
    EXPECT_EQ(ListZones(dir.path()).size(), 4u);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "example.com.dns"));

    // A missing file is an empty zone; a link to nowhere is a file that cannot be read.
    ReadZoneFile(dir.path(), "none.org.", keys, result);
    EXPECT_EQ(result, ReadResult::Missing);
    std::filesystem::create_symlink(dir.path() / "gone", dir.path() / "lost.org.dns");
    const clZone lost = ReadZoneFile(dir.path(), "lost.org.", keys, result);
    EXPECT_EQ(result, ReadResult::Unreadable);
    EXPECT_TRUE(lost.Records.empty());
}

}  // namespace
