// The codec: names, fields, tables, record descriptions, clean-up and the reply record decoder.
#include "core/modDNS.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "core/zipname_reference.h"

using namespace std::string_literals;
using namespace std::string_view_literals;
using namespace modDNS;

namespace {

// A 12-byte header with the given counts.
std::string Header(int qd = 0, int an = 0, int ns = 0, int ar = 0, int id = 0x1234) {
    return MakeShortL(id) + "\x81\x80"s + MakeShortL(qd) + MakeShortL(an) + MakeShortL(ns) +
           MakeShortL(ar);
}

std::string Wire(std::initializer_list<std::string> labels) {
    std::string w;
    for (const auto& l : labels) w += static_cast<char>(l.size()) + l;
    return w + '\0';
}

// All three encoders must agree; returns their common result.
std::string Zip(const std::string& msg, const std::string& name) {
    const std::string a = ZipName(msg, name);
    ZipIndex ix;
    EXPECT_EQ(ZipName(msg, name, ix), a) << name;
    EXPECT_EQ(reference::ZipName(msg, name), a) << name;
    return a;
}

std::string Ptr(int q) {
    return {static_cast<char>(0xC0 | (q >> 8)), static_cast<char>(q & 0xFF)};
}

std::string RR(const std::string& owner, int type, int cls, uint32_t ttl,
               const std::string& rdata) {
    return owner + MakeShortL(type) + MakeShortL(cls) + MakeLongU(ttl) + MakeShortL(rdata.size()) +
           rdata;
}

}  // namespace

// ---- ZipName
// --------------------------------------------------------------------------------------

TEST(ZipName, RootGivesOneZeroByte) {
    EXPECT_EQ(Zip(Header(), ""), "\0"s);
    EXPECT_EQ(Zip(Header(), "."), "\0"s);
    EXPECT_EQ(Zip(Header(), "..."), "\0"s);
}

TEST(ZipName, DoubledAndMissingDotsGiveTheSameBytes) {
    const std::string m = Header();
    const std::string w = Wire({"host", "zone", "org"});
    EXPECT_EQ(Zip(m, "host.zone.org."), w);
    EXPECT_EQ(Zip(m, "host.zone.org"), w);
    EXPECT_EQ(Zip(m, "host..zone.org."), w);
    EXPECT_EQ(Zip(m, ".host.zone..org.."), w);
}

TEST(ZipName, WholeNameAlreadyInMessageBecomesOnePointerToTheFirstCopy) {
    std::string m = Header() + Wire({"host", "zone", "org"}) + "\0\1\0\1"s;
    m += Wire({"host", "zone", "org"});
    EXPECT_EQ(Zip(m, "host.zone.org."), Ptr(12));
}

TEST(ZipName, SuffixCompressesAgainstEarlierName) {
    const std::string m = Header() + Wire({"zone", "org"}) + "\0\1\0\1"s;
    EXPECT_EQ(Zip(m, "www.zone.org."), "\3www"s + Ptr(12));
    EXPECT_EQ(Zip(m, "org."), Ptr(17));
}

TEST(ZipName, SecondPassPointsToTheLabelBeforeAnEarlierPointer) {
    // zone.org. at 12; then at 26 the label host and a pointer to 12.
    const std::string m = Header() + Wire({"zone", "org"}) + "\0\1\0\1"s + "\4host"s + Ptr(12);
    ASSERT_EQ(m.substr(26, 5), "\4host");
    EXPECT_EQ(Zip(m, "host.zone.org."), Ptr(26));
    // With only one pass the name would have kept the label: host + pointer to zone.org.
}

TEST(ZipName, PointerMayLandOutsideNames) {
    // The bytes of "org." inside a TXT string count as well.
    const std::string m = Header() + "\x10"s + "abc\3org\0xyz"s;
    EXPECT_EQ(Zip(m, "org."), Ptr(16));
}

TEST(ZipName, SearchIsCaseSensitiveAndTheEncoderKeepsCase) {
    const std::string m = Header() + Wire({"host", "zone", "org"});
    EXPECT_EQ(Zip(m, "HOST.zone.org."), "\4HOST"s + Ptr(17));
    EXPECT_EQ(Zip(m, "Zone.org."), "\4Zone"s + Ptr(22));
}

TEST(ZipName, FirstOccurrenceWinsEvenInsideTheHeader) {
    // An ID of 0x03 'a' followed by nothing useful: put "\1a\0" into the header itself.
    std::string m = "\1a\0"s + std::string(9, 'x') + Wire({"a"});
    EXPECT_EQ(Zip(m, "a."), Ptr(0));
}

TEST(ZipName, RefusesNamesWithoutAValidWireForm) {
    const std::string m = Header();
    EXPECT_EQ(Zip(m, std::string(63, 'a') + ".org."),
              static_cast<char>(63) + std::string(63, 'a') + "\3org\0"s);
    EXPECT_EQ(Zip(m, std::string(64, 'a') + ".org."), "");
    EXPECT_FALSE(CanZipName(std::string(64, 'a')));
    // 255 bytes on the wire is the most: four labels of 63 and 62 make 64*3 + 63 + 1 = 256.
    const std::string l63(63, 'a');
    EXPECT_EQ(Zip(m, l63 + "." + l63 + "." + l63 + "." + std::string(61, 'b') + ".").size(), 255u);
    EXPECT_EQ(Zip(m, l63 + "." + l63 + "." + l63 + "." + std::string(62, 'b') + "."), "");
    EXPECT_EQ(Zip(m, "a b.org."), "");
    EXPECT_EQ(Zip(m, "a\x7f.org."), "");
    EXPECT_EQ(Zip(m, "a\tb.org."), "");
    EXPECT_TRUE(CanZipName("_sip._tcp.*.zone.org"));
}

TEST(ZipName, TargetsBeyondPointerReachStayUncompressed) {
    std::string m = Header() + Wire({"org"});  // org. at 12
    m += std::string(16384 - m.size() + 100, 'x');
    m += Wire({"zone", "org"});  // zone.org. only beyond 16384
    ASSERT_GT(m.size(), 16384u);
    EXPECT_EQ(Zip(m, "zone.org."), "\4zone"s + Ptr(12));
    std::string far = std::string(16390, 'x') + Wire({"far", "away"});
    EXPECT_EQ(Zip(far, "far.away."), Wire({"far", "away"}));
}

TEST(ZipName, RandomMessagesAgreeWithTheReference) {
    std::mt19937 rng(7);
    const char* labels[] = {"a", "b", "ab", "zone", "org", "Org", "mail", "x"};
    for (int round = 0; round < 3000; ++round) {
        std::string m;
        const int parts = static_cast<int>(rng() % 12);
        for (int k = 0; k < parts; ++k) {
            std::string n;
            for (int j = static_cast<int>(rng() % 4); j >= 0; --j) {
                n += labels[rng() % 8];
                n += '.';
            }
            if (rng() % 3 == 0) m += static_cast<char>(rng() % 256);
            m += Zip(m, n);
        }
        std::string n;
        for (int j = static_cast<int>(rng() % 5); j >= 0; --j)
            n += std::string(labels[rng() % 8]) + ".";
        const std::string z = Zip(m, n);
        const std::string full = m + z;
        std::string lower = n;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(UnzipName(full, static_cast<int>(m.size())), lower);
    }
}

TEST(ZipName, LargeMessagesAgreeWithTheReference) {
    // Beyond 16384 bytes the first occurrence of a tail may be out of reach while a shorter tail
    // is not: the encoders must fall back to trying the tails longest first.
    std::mt19937 rng(11);
    const char* labels[] = {"a", "zone", "org", "mail", "b"};
    for (int round = 0; round < 20; ++round) {
        std::string m;
        ZipIndex ix;
        while (m.size() < 17000 + rng() % 3000) {
            std::string n;
            for (int j = static_cast<int>(rng() % 4); j >= 0; --j) {
                n += std::string(labels[rng() % 5]) + ".";
            }
            const std::string z = Zip(m, n);
            EXPECT_EQ(ZipName(m, n, ix), z);
            m += z;
            m += std::string(rng() % 200, static_cast<char>('x' + rng() % 3));
        }
    }
}

TEST(ZipName, IndexFollowsAChangedMessage) {
    ZipIndex ix;
    std::string m = Header() + Wire({"zone", "org"});
    EXPECT_EQ(ZipName(m, "zone.org.", ix), Ptr(12));
    m[13] = 'Z';  // changed behind the index's back
    EXPECT_EQ(ZipName(m, "zone.org.", ix), "\4zone"s + Ptr(17));
    EXPECT_EQ(ZipName(Header(), "zone.org.", ix), Wire({"zone", "org"}));
}

// ---- UnzipName / ExtractName
// ---------------------------------------------------------------------

TEST(UnzipName, RootIsEmptyForUnzipAndDotForExtract) {
    const std::string m = Header() + "\0"s;
    EXPECT_EQ(UnzipName(m, 12), "");
    std::string_view rest = std::string_view(m).substr(12);
    EXPECT_EQ(ExtractName(m, rest, true), ".");
    EXPECT_TRUE(rest.empty());
}

TEST(UnzipName, LabelsAreLowerCased) {
    const std::string m = Header() + Wire({"HOST", "Zone", "ORG"});
    EXPECT_EQ(UnzipName(m, 12), "host.zone.org.");
}

TEST(UnzipName, RunsPastTheEndAreIncomplete) {
    EXPECT_EQ(UnzipName(Header() + "\5ab"s, 12), "incomplete.");
    // The label fits exactly but no byte follows it.
    EXPECT_EQ(UnzipName(Header() + "\2ab"s, 12), "incomplete.");
    EXPECT_EQ(UnzipName(Header(), 12), "incomplete.");
    EXPECT_EQ(UnzipName(Header(), -1), "incomplete.");
    EXPECT_EQ(UnzipName(Header() + "\xC0"s, 12), "incomplete.");
}

TEST(UnzipName, PointersForwardBackwardAndBad) {
    // Forward pointer from 12 to 14.
    const std::string m = Header() + Ptr(14) + Wire({"fw"});
    EXPECT_EQ(UnzipName(m, 12), "fw.");
    const std::string b = Header() + Wire({"org"}) + "\4zone"s + Ptr(12);
    EXPECT_EQ(UnzipName(b, 17), "zone.org.");
    EXPECT_EQ(UnzipName(Header() + "\1a"s + Ptr(500), 12), "incomplete.");
}

TEST(UnzipName, PointerLoopsEndAsIncomplete) {
    EXPECT_EQ(UnzipName(Header() + Ptr(12), 12), "incomplete.");
    EXPECT_EQ(UnzipName(Header() + Ptr(14) + Ptr(12), 12), "incomplete.");
    EXPECT_EQ(UnzipName(Header() + "\1a"s + Ptr(12), 12), "incomplete.");
    const std::string m = Header() + "\1a\xC0\x0C"s;
    std::string_view rest = std::string_view(m).substr(12);
    EXPECT_EQ(ExtractName(m, rest, true), "incomplete.");
    EXPECT_TRUE(rest.empty());  // the name's four bytes were consumed
}

TEST(UnzipName, BadLabelBytesMakeTheWholeNameIncomplete) {
    EXPECT_EQ(UnzipName(Header() + "\3a.b\0"s, 12), "incomplete.");
    EXPECT_EQ(UnzipName(Header() + "\3a b\0"s, 12), "incomplete.");
    EXPECT_EQ(UnzipName(Header() + "\3a\x7f"s + "b\0"s, 12), "incomplete.");
    EXPECT_EQ(UnzipName(Header() + "\3a\x01"s + "b\0"s, 12), "incomplete.");
    // A bad byte behind a pointer spoils the whole name too.
    const std::string m = Header() + "\3a b\0"s + "\2ok"s + Ptr(12);
    EXPECT_EQ(UnzipName(m, 17), "incomplete.");
    // Bytes of 0x80 and above are allowed (and kept as they are).
    EXPECT_EQ(UnzipName(Header() + "\2\xC3\xA9\0"s, 12), "\xC3\xA9.");
}

TEST(UnzipName, NamesLongerThan255WireBytesAreIncomplete) {
    // Three labels of 63 chained by pointers (193 wire bytes), then one more label in front.
    std::string m = Header();
    const std::string l(63, 'a');
    const int first = static_cast<int>(m.size());
    m += static_cast<char>(63) + l + "\0"s;
    const int second = static_cast<int>(m.size());
    m += static_cast<char>(63) + l + Ptr(first);
    const int third = static_cast<int>(m.size());
    m += static_cast<char>(63) + l + Ptr(second);
    EXPECT_EQ(UnzipName(m, third).size(), 3 * 64u);
    const int fits = static_cast<int>(m.size());
    m += static_cast<char>(61) + std::string(61, 'b') + Ptr(third);  // 62 + 193 = 255 bytes
    const int over = static_cast<int>(m.size());
    m += static_cast<char>(62) + std::string(62, 'b') + Ptr(third);  // 256 bytes
    EXPECT_EQ(UnzipName(m, fits).size(), 62 + 3 * 64u);
    EXPECT_EQ(UnzipName(m, over), "incomplete.");
    // What decodes also encodes, and back.
    const std::string name = UnzipName(m, fits);
    EXPECT_EQ(UnzipName(ZipName("", name), 0), name);
}

TEST(ExtractName, ConsumesTheNameAndRunsOffToEmpty) {
    const std::string m = Header() + Wire({"zone", "org"}) + "\1a"s + Ptr(12) + "rest"s;
    std::string_view rest = std::string_view(m).substr(12);
    EXPECT_EQ(ExtractName(m, rest, true), "zone.org.");
    EXPECT_EQ(ExtractName(m, rest, false), "a.zone.org.");
    EXPECT_EQ(rest.size(), 8u);
    EXPECT_EQ(ExtractName(m, rest, true), "a.zone.org.");
    EXPECT_EQ(rest, "rest");
    // "rest" reads as a label of 114 bytes: runs off the end.
    EXPECT_EQ(ExtractName(m, rest, true), "incomplete.");
    EXPECT_TRUE(rest.empty());
    EXPECT_EQ(ExtractName(m, rest, true), "incomplete.");

    std::string owned = "\3abc\0XY"s;
    EXPECT_EQ(ExtractName(owned, owned, true), "abc.");
    EXPECT_EQ(owned, "XY");
}

TEST(ExtractName, ABadPointerStillConsumesThePointer) {
    const std::string m = Header() + "\1a"s + Ptr(9999) + "\0\1"s;
    std::string_view rest = std::string_view(m).substr(12);
    EXPECT_EQ(ExtractName(m, rest, true), "incomplete.");
    EXPECT_EQ(rest, "\0\1"s);
}

TEST(ExtractName, RestIsBoundedByItsOwnEnd) {
    // The RDATA view ends in the middle of a label although the message goes on.
    const std::string m = Header() + "\3abc\0"s;
    std::string_view rdata = std::string_view(m).substr(12, 3);
    EXPECT_EQ(ExtractName(m, rdata, true), "incomplete.");
    EXPECT_TRUE(rdata.empty());
}

// ---- Integer fields
// ------------------------------------------------------------------------------

TEST(Fields, ShortReaders) {
    std::string d = "\xFF\xFF"s;
    EXPECT_EQ(ExtractShort(d, false), 32767);
    EXPECT_EQ(ExtractShortL(d, false), 65535);
    EXPECT_EQ(d.size(), 2u);
    EXPECT_EQ(ExtractShortL(d, true), 65535);
    EXPECT_TRUE(d.empty());
    const std::string keep = "\x80\x01\x12\x34"s;
    std::string_view v = keep;
    EXPECT_EQ(ExtractShort(v, true), 1);
    EXPECT_EQ(ExtractShortL(v, true), 0x1234);
}

TEST(Fields, LongReaders) {
    std::string d = "\x80\0\0\0"s;
    EXPECT_EQ(ExtractLong(d, false), 2147483647);
    EXPECT_EQ(ExtractLongU(d, false), 2147483648u);
    std::string e = "\xFF\xFF\xFF\xFF\x00\x00\x01\x00"s;
    EXPECT_EQ(ExtractLongU(e, true), 4294967295u);
    EXPECT_EQ(ExtractLong(e, true), 256);
}

TEST(Fields, ShortDataReadsZeroAndEmpties) {
    std::string d = "\x01"s;
    EXPECT_EQ(ExtractShort(d, false), 0);
    EXPECT_TRUE(d.empty());
    d = "\x01"s;
    EXPECT_EQ(ExtractShortL(d, true), 0);
    EXPECT_TRUE(d.empty());
    std::string_view v = "\x01\x02\x03"sv;
    EXPECT_EQ(ExtractLongU(v, false), 0u);
    EXPECT_TRUE(v.empty());
    std::string e = "\1\2\3"s;
    EXPECT_EQ(ExtractLong(e, true), 0);
    EXPECT_TRUE(e.empty());
}

TEST(Fields, Writers) {
    EXPECT_EQ(MakeShort(40000), "\x1C\x40"s);
    EXPECT_EQ(MakeShortL(40000), "\x9C\x40"s);
    EXPECT_EQ(MakeShort(-1), "\x7F\xFF"s);
    EXPECT_EQ(MakeShortL(65535), "\xFF\xFF"s);
    EXPECT_EQ(MakeLong(3.9), "\0\0\0\3"s);
    EXPECT_EQ(MakeLong(604800), "\0\x09\x3A\x80"s);
    EXPECT_EQ(MakeLong(2147483647.0), "\x7F\xFF\xFF\xFF"s);
    EXPECT_EQ(MakeLong(2147483648.0), "\x7F\xFF\xFF\xFF"s);
    EXPECT_EQ(MakeLong(1e12), "\x7F\xFF\xFF\xFF"s);
    EXPECT_EQ(MakeLong(-5), "\0\0\0\0"s);
    EXPECT_EQ(MakeLong(std::nan("")), "\0\0\0\0"s);
    EXPECT_EQ(MakeLongU(4000000000u), "\xEE\x6B\x28\x00"s);
}

// ---- Tables
// ---------------------------------------------------------------------------------------

TEST(Tables, RTypeN) {
    EXPECT_EQ(RTypeN(28), "AAAA");
    EXPECT_EQ(RTypeN(-15), "MX");
    EXPECT_EQ(RTypeN(0), "?0?");
    EXPECT_EQ(RTypeN(22), "NASP");
    EXPECT_EQ(RTypeN(23), "NSAP-PTR");
    EXPECT_EQ(RTypeN(248), "ADDRS");
    EXPECT_EQ(RTypeN(41), "OPT");
    EXPECT_EQ(RTypeN(42), "?42?");
    EXPECT_EQ(RTypeN(99), "?99?");
    EXPECT_EQ(RTypeN(100), "UINFO");
    EXPECT_EQ(RTypeN(103), "UNSPEC");
    EXPECT_EQ(RTypeN(104), "?104?");
    EXPECT_EQ(RTypeN(247), "?247?");
    EXPECT_EQ(RTypeN(255), "*");
    EXPECT_EQ(RTypeN(256), "?256?");
    EXPECT_EQ(RTypeN(1001), "?1001?");
    EXPECT_EQ(RTypeN(33), "SRV");
    EXPECT_EQ(RTypeN(16), "TXT");
}

TEST(Tables, RCodeOpCodeClass) {
    EXPECT_EQ(RCodeN(0), "No Error");
    EXPECT_EQ(RCodeN(3), "Name does not exist!");
    EXPECT_EQ(RCodeN(5), "Refused - will not answer this client or this query type.");
    EXPECT_EQ(RCodeN(9), "Unknown error.");
    EXPECT_EQ(OpCodeN(0), "Standard Query");
    EXPECT_EQ(OpCodeN(4), "Notification Request");
    EXPECT_EQ(OpCodeN(3), "Unknown Query Type (OpCode 3)");
    EXPECT_EQ(OpCodeN(-3), "Unknown Query Type (OpCode-3)");
    EXPECT_EQ(ClassN(1), "Internet class record");
    EXPECT_EQ(ClassN(3), "CHAOS class record");
    EXPECT_EQ(ClassN(4), "Hesiod [Dyer 87] class record");
    EXPECT_EQ(ClassN(254), "Unknown class (254) record");
    EXPECT_EQ(SectionName(1), "Question");
    EXPECT_EQ(SectionName(4), "Additional");
    EXPECT_EQ(SectionName(5), "");
}

TEST(Tables, TextData) {
    EXPECT_EQ(TextData("\3abc\2d\t"s), "abc, d");
    EXPECT_EQ(TextData(""), "");
    EXPECT_EQ(TextData("\0\3xyz"s), ", xyz");
    EXPECT_EQ(TextData("\5ab"s), "ab");  // runs past the end: what is there
    EXPECT_EQ(TextData("\3a\xE9z"s), "az");
}

TEST(Tables, RecordText) {
    clDNSRecord r;
    r.Name = "host.zone.org.";
    r.RecType = kTypeA;
    r.Data = "\x0A\0\0\x01"s;
    EXPECT_EQ(RecordText(r), "A-record for host.zone.org. = 10.0.0.1");
    r.Name = "zone.org.";
    r.RecType = kTypeMX;
    r.Data = "\0\x0A"s + "mail.zone.org.";
    EXPECT_EQ(RecordText(r), "MX-record for zone.org. = mail.zone.org. (Preference 10)");
    r.Data = "\xFF\xFE"s + "mail.zone.org.";
    EXPECT_EQ(RecordText(r), "MX-record for zone.org. = mail.zone.org. (Preference 65534)");
    r.RecType = kTypeSOA;
    r.Data = MakeSOAData({"ns.zone.org.", "admin.zone.org.", 4000000000u, 1, 2, 3, 4});
    EXPECT_EQ(RecordText(r), "SOA-record for zone.org. = ns.zone.org. (Serial 4000000000)");
    r.RecType = kTypeSRV;
    r.Data = MakeShortL(1) + MakeShortL(2) + MakeShortL(5060) + "sip.zone.org.";
    EXPECT_EQ(RecordText(r),
              "SRV-record for zone.org. = sip.zone.org. (Priority 1, Weight 2, Port 5060)");
    r.RecType = kTypeTXT;
    r.Data = "\3abc\2d\t"s;
    EXPECT_EQ(RecordText(r), "TXT-record for zone.org. = \"abc, d\"");
    r.RecType = kTypeCNAME;
    r.Data = "other.org.";
    EXPECT_EQ(RecordText(r), "CNAME-record for zone.org. = other.org.");
    r.RecType = 28;
    EXPECT_EQ(RecordText(r), "AAAA-record for zone.org.");
}

TEST(Clean, CleanName) {
    EXPECT_EQ(CleanName("  ..Host..Zone.ORG.. "), "host.zone.org");
    EXPECT_EQ(CleanName("h o$st.zone"), "host.zone");
    EXPECT_EQ(CleanName("_sip._tcp.*.a/b-c"), "_sip._tcp.*.a/b-c");
    EXPECT_EQ(CleanName("...."), "");
    EXPECT_EQ(CleanName("a.....b"), "a.b");
}

TEST(Clean, CleanNameF) {
    EXPECT_EQ(CleanNameF("  Ho st..X$y. "), "host.x$y");
    EXPECT_EQ(CleanNameF(".a..b."), "a.b");
}

TEST(Soa, ParseAndMake) {
    const SoaFields f{"ns.", "admin.", 4294967295u, 10, 20, 30, 40};
    const std::string d = MakeSOAData(f);
    EXPECT_EQ(d.size(), 4 + 7 + 20u);
    auto g = ParseSOAData(d);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->mname, "ns.");
    EXPECT_EQ(g->rname, "admin.");
    EXPECT_EQ(g->serial, 4294967295u);
    EXPECT_EQ(g->minimum, 40u);
    EXPECT_FALSE(ParseSOAData(d.substr(0, d.size() - 1)));
    EXPECT_FALSE(ParseSOAData("ns."));
}

// ---- Reply records
// --------------------------------------------------------------------------------

class DecodeTest : public ::testing::Test {
  protected:
    static constexpr double kNow = 46000.5;
    DecodedRecord Decode(const std::string& msg, size_t at, std::string_view* restOut = nullptr) {
        std::string_view rest = std::string_view(msg).substr(at);
        DecodedRecord d = DecodeRecord(msg, rest, kNow);
        if (restOut) *restOut = rest;
        return d;
    }
};

TEST_F(DecodeTest, ARecordWithCompressedOwnerAndTheTTLCap) {
    const std::string q = Header(1, 1) + Wire({"Host", "zone", "org"}) + "\0\1\0\1"s;
    const std::string m = q + RR(Ptr(12), 1, 1, 8 * 86400, "\x0A\0\0\x01"s) + "next"s;
    std::string_view rest;
    DecodedRecord d = Decode(m, q.size(), &rest);
    ASSERT_EQ(d.result, RecordResult::Kept);
    EXPECT_EQ(d.record->Name, "host.zone.org.");
    EXPECT_EQ(d.record->RecType, 1);
    EXPECT_EQ(d.record->Data, "\x0A\0\0\x01"s);
    EXPECT_FALSE(d.record->Permanent);
    EXPECT_EQ(d.record->mTTL, 604800);
    EXPECT_EQ(d.record->TTL(kNow), 604800);
    EXPECT_EQ(rest, "next");
}

TEST_F(DecodeTest, TTLOfTwoToThe31IsCappedToo) {
    const std::string m = Header() + RR("\0"s, 1, 1, 0x80000000u, "\1\2\3\4"s);
    EXPECT_EQ(Decode(m, 12).record->mTTL, 604800);
}

TEST_F(DecodeTest, OtherClassIsSkippedWithoutARecord) {
    const std::string m = Header() + RR("\0"s, 1, 3, 60, "\1\2\3\4"s) + "x"s;
    std::string_view rest;
    DecodedRecord d = Decode(m, 12, &rest);
    EXPECT_EQ(d.result, RecordResult::OtherClass);
    EXPECT_FALSE(d.record);
    EXPECT_EQ(rest, "x");
    // A class of 0x8001 is not class 1 (full 16-bit read).
    EXPECT_EQ(Decode(Header() + RR("\0"s, 1, 0x8001, 60, "\1\2\3\4"s), 12).result,
              RecordResult::OtherClass);
}

TEST_F(DecodeTest, OtherTypesAreNotKeptButDescribed) {
    const std::string m = Header() + RR(Wire({"a"}), 28, 1, 60, std::string(16, '\1'));
    DecodedRecord d = Decode(m, 12);
    ASSERT_EQ(d.result, RecordResult::NotKept);
    EXPECT_EQ(RecordText(*d.record), "AAAA-record for a.");
    // Type 0x8001 is not type 1 (full 16-bit read).
    d = Decode(Header() + RR(Wire({"a"}), 0x8001, 1, 60, "\1\2\3\4"s), 12);
    EXPECT_EQ(d.result, RecordResult::NotKept);
    EXPECT_EQ(d.record->RecType, 0x8001);
}

TEST_F(DecodeTest, IncompleteRecords) {
    // Nine bytes after the owner.
    std::string_view rest;
    EXPECT_EQ(Decode(Header() + "\0"s + std::string(9, '\0'), 12, &rest).result,
              RecordResult::Incomplete);
    EXPECT_TRUE(rest.empty());
    // RDLENGTH beyond the end.
    std::string m = Header() + RR("\0"s, 1, 1, 60, "\1\2\3\4"s);
    m.pop_back();
    EXPECT_EQ(Decode(m, 12).result, RecordResult::Incomplete);
    // Owner running off the end.
    EXPECT_EQ(Decode(Header() + "\7abc"s, 12).result, RecordResult::Incomplete);
    // RDLENGTH of 0x8004 with 4 bytes: a 15-bit read would take 4 and keep the record.
    std::string big = Header() + "\0"s + MakeShortL(1) + MakeShortL(1) + MakeLongU(60) +
                      MakeShortL(0x8004) + "\1\2\3\4"s;
    EXPECT_EQ(Decode(big, 12).result, RecordResult::Incomplete);
}

TEST_F(DecodeTest, ShortDataIsNotKept) {
    EXPECT_EQ(Decode(Header() + RR("\0"s, 1, 1, 60, "\1\2\3"s), 12).result, RecordResult::NotKept);
    EXPECT_EQ(Decode(Header() + RR("\0"s, 15, 1, 60, "\0\1"s), 12).result, RecordResult::NotKept);
    EXPECT_EQ(Decode(Header() + RR("\0"s, 33, 1, 60, "\0\1\0\2\0\3"s), 12).result,
              RecordResult::NotKept);
    const std::string soaShort = Wire({"ns"}) + Wire({"admin"}) + std::string(19, '\1');
    EXPECT_EQ(Decode(Header() + RR("\0"s, 6, 1, 60, soaShort), 12).result, RecordResult::NotKept);
    EXPECT_EQ(Decode(Header() + RR("\0"s, 16, 1, 60, ""), 12).result, RecordResult::NotKept);
    EXPECT_EQ(Decode(Header() + RR("\0"s, 16, 1, 60, "\5ab"s), 12).result, RecordResult::NotKept);
    // A target name that runs past the RDATA although the message goes on.
    EXPECT_EQ(Decode(Header() + RR("\0"s, 2, 1, 60, "\3ab"s) + "c\0"s, 12).result,
              RecordResult::NotKept);
}

TEST_F(DecodeTest, BadNamesAreNotKept) {
    EXPECT_EQ(Decode(Header() + RR("\3a b\0"s, 1, 1, 60, "\1\2\3\4"s), 12).result,
              RecordResult::NotKept);
    EXPECT_EQ(Decode(Header() + RR(Wire({"a"}), 5, 1, 60, Ptr(2000)), 12).result,
              RecordResult::NotKept);
}

TEST_F(DecodeTest, EveryKeptTypeInItsDataForm) {
    std::string m = Header(1, 7) + Wire({"zone", "org"}) + "\0\xFF\0\1"s;
    const std::string z = Ptr(12);
    std::vector<std::pair<std::string, std::string>> want;
    auto add = [&](int type, const std::string& rdata, const std::string& data) {
        m += RR(z, type, 1, 3600, rdata);
        want.emplace_back(RTypeN(type), data);
    };
    add(2, "\2ns"s + z, "ns.zone.org.");
    add(5, "\5Alias"s + z, "alias.zone.org.");
    add(12, Ptr(12), "zone.org.");
    add(6,
        "\2ns"s + z + "\5admin"s + z + MakeLongU(4000000000u) + MakeLongU(1) + MakeLongU(2) +
            MakeLongU(3) + MakeLongU(4),
        "ns.zone.org.\0admin.zone.org.\0"s + MakeLongU(4000000000u) + MakeLongU(1) + MakeLongU(2) +
            MakeLongU(3) + MakeLongU(4));
    add(15, "\xFF\xFE\4mail"s + z, "\xFF\xFE"s + "mail.zone.org.");
    add(16, "\3abc\0"s, "\3abc\0"s);
    add(33, MakeShortL(65535) + MakeShortL(2) + MakeShortL(5060) + "\0"s,
        MakeShortL(65535) + MakeShortL(2) + MakeShortL(5060) + ".");
    clDNSAnswer a;
    ASSERT_TRUE(DecodeReply(m, a, kNow));
    EXPECT_EQ(a.Id, 0x1234);
    EXPECT_EQ(a.RqName, "zone.org.");
    EXPECT_EQ(a.RqType, 255);
    ASSERT_EQ(a.Section2.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(RTypeN(a.Section2[i]->RecType), want[i].first);
        EXPECT_EQ(a.Section2[i]->Data, want[i].second) << want[i].first;
        EXPECT_EQ(a.Section2[i]->Name, "zone.org.");
    }
}

TEST_F(DecodeTest, ReplySectionsAndTheObserver) {
    std::string m = Header(1, 1, 1, 2, 0xBEEF);
    m[2] = static_cast<char>(0x84);  // QR AA
    m[3] = static_cast<char>(0x83);  // RA, NXDOMAIN
    m += Wire({"q", "org"}) + "\0\1\0\1"s;
    m += RR(Ptr(12), 1, 1, 60, "\1\2\3\4"s);
    m += RR(Ptr(14), 2, 1, 60, "\2ns"s + Ptr(14));
    m += RR(Ptr(14), 28, 1, 60, std::string(16, '\0'));
    m += RR("\2ns"s + Ptr(14), 1, 3, 60, "\1\2\3\4"s);
    struct Seen : DecodeObserver {
        std::vector<std::string> lines;
        void OnRecord(int sec, const clDNSRecord& r, bool kept) override {
            lines.push_back(std::string(SectionName(sec)) + ": " + RecordText(r) +
                            (kept ? "" : " (not kept)"));
        }
    } seen;
    clDNSAnswer a;
    ASSERT_TRUE(DecodeReply(m, a, kNow, &seen));
    EXPECT_EQ(a.Id, 0xBEEF);
    EXPECT_TRUE(a.AA);
    EXPECT_FALSE(a.TC);
    EXPECT_EQ(a.RCode, 3);
    EXPECT_EQ(a.Section2.size(), 1u);
    EXPECT_EQ(a.Section3.size(), 1u);
    EXPECT_EQ(a.Section4.size(), 0u);
    EXPECT_EQ(seen.lines,
              (std::vector<std::string>{"Answer: A-record for q.org. = 1.2.3.4",
                                        "Authority: NS-record for org. = ns.org.",
                                        "Additional: AAAA-record for org. (not kept)"}));
    // Cut inside the last record: incomplete, TC set, what came before kept.
    clDNSAnswer b;
    EXPECT_FALSE(DecodeReply(m.substr(0, m.size() - 3), b, kNow));
    EXPECT_TRUE(b.TC);
    EXPECT_EQ(b.Section3.size(), 1u);
    clDNSAnswer c;
    EXPECT_FALSE(DecodeReply(Header(1) + "\1q\0\0"s, c, kNow));
    EXPECT_TRUE(c.TC);
}
