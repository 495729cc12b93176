// Zone files cross between the editor and the server: a file the editor writes reads back in the
// server's reader as the same records, and files the server writes (after a transfer, and in the
// editor's layout of the master list) read back in the editor's reader, for every record type.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "core/modDNS.h"
#include "editor/zone.h"
#include "server/authority/zonefile.h"

namespace {

using Rec = std::tuple<std::string, int, int32_t, std::string>;  // owner, type, TTL, data

std::string B(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s.push_back(static_cast<char>(b));
    return s;
}

// One record of every type the editor knows, with the corners of each data form: wildcard and
// deep owners, a name outside the zone, TXT bytes that need escapes and several strings,
// 16-bit numbers above 32767.
std::vector<Rec> Records() {
    return {
        {"example.com.", 2, 3600, "ns1.example.com."},
        {"example.com.", 15, 3600, B({0, 10}) + "mail.example.com."},
        {"example.com.", 16, 300, B({14}) + "v=spf1 mx -all" + B({3}) + "a;b"},
        {"*.apps.example.com.", 1, 600, B({10, 0, 0, 99})},
        {"a.b.example.com.", 5, 3600, "www.example.com."},
        {"ftp.example.com.", 5, 7200, "www.other.org."},
        {"host.other.org.", 1, 60, B({192, 0, 2, 1})},
        {"mail.example.com.", 1, 3600, B({10, 0, 0, 25})},
        {"mx2.example.com.", 15, 3600, B({0x9c, 0x40}) + "mx.example.net."},
        {"rev.example.com.", 12, 3600, "pc1.example.com."},
        {"sip.example.com.", 33, 3600, B({0, 1, 0x80, 0, 0x9c, 0x40}) + "sipsrv.example.com."},
        {"txt.example.com.", 16, 3600,
         B({12}) + "q\"\\();" + B({1, 127, 200, 255, 10, 9}) + B({1}) + " "},
        {"www.example.com.", 1, 3600, B({10, 0, 0, 80})},
        {"www.example.com.", 1, 30, B({10, 0, 0, 81})},
    };
}

std::vector<Rec> Sorted(std::vector<Rec> v) {
    std::sort(v.begin(), v.end());
    return v;
}

std::string Text(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) s += l + "\r\n";
    return s;
}

TEST(ZoneFileInterop, TheServerReadsWhatTheEditorWrites) {
    editor::clZone z;
    z.Name = "example.com.";
    z.PrimServ = "ns1.example.com.";
    z.EMail = "hostmaster.example.com.";
    z.Serial = 3000000000u;
    z.TTL[1] = 7200;
    z.TTL[2] = 900;
    z.TTL[3] = 1209600;
    z.TTL[4] = 300;
    z.Slaves = {"10.0.0.2", "10.0.0.3"};
    z.Secure = false;
    editor::KeyCounter keys;
    for (const auto& [name, type, ttl, data] : Records()) {
        editor::clDNSRecord r;
        r.Name = name;
        r.RecType = static_cast<int16_t>(type);
        r.TTL = ttl;
        r.Data = data;
        editor::AddRecordSorted(z.Records, r, keys);
    }
    const auto read = modZoneFile::ReadZoneText(Text(editor::ZoneLines(z)), "example.com.", 0);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->PrimaryIP, "");
    EXPECT_EQ(read->Slaves, z.Slaves);
    EXPECT_FALSE(read->Secure);
    EXPECT_EQ(read->SOASerial, 3000000000u);
    EXPECT_EQ(read->SOARefresh, 7200u);
    EXPECT_EQ(read->SOAExpire, 1209600u);
    std::vector<Rec> got;
    for (const auto& r : read->Records) {
        if (r->RecType == modDNS::kTypeSOA) {
            const auto soa = modDNS::ParseSOAData(r->Data);
            ASSERT_TRUE(soa);
            EXPECT_EQ(soa->mname, "ns1.example.com.");
            EXPECT_EQ(soa->rname, "hostmaster.example.com.");
            EXPECT_EQ(soa->minimum, 300u);
            EXPECT_EQ(r->mTTL, 300);
            continue;
        }
        got.emplace_back(r->Name, r->RecType, r->mTTL, r->Data);
    }
    EXPECT_EQ(Sorted(got), Sorted(Records()));
}

TEST(ZoneFileInterop, TheEditorReadsWhatTheServerWrites) {
    std::vector<RecordRef> refs;
    refs.push_back(MakeRecord("example.com.", modDNS::kTypeSOA,
                              modDNS::MakeSOAData({"ns1.example.com.", "hostmaster.example.com.",
                                                   4000000000u, 7200, 900, 1209600, 300}),
                              300, 0, true));
    for (const auto& [name, type, ttl, data] : Records())
        refs.push_back(MakeRecord(name, type, data, ttl, 0, true));

    const auto check = [](const editor::clZone& z) {
        EXPECT_EQ(z.PrimServ, "ns1.example.com.");
        EXPECT_EQ(z.EMail, "hostmaster.example.com.");
        EXPECT_EQ(z.TTL[1], 7200u);
        EXPECT_EQ(z.TTL[4], 300u);
        std::vector<Rec> got;
        for (const auto& r : z.Records) got.emplace_back(r.Name, r.RecType, r.TTL, r.Data);
        EXPECT_EQ(Sorted(got), Sorted(Records()));
    };

    // A secondary zone's file after a transfer.
    modZoneFile::ZoneFileHeader header;
    header.PrimaryIP = "10.9.9.9";
    header.Slaves = {"10.0.0.4"};
    editor::KeyCounter keys;
    const editor::clZone secondary = editor::ReadZoneText(
        Text(modZoneFile::ServerZoneLines("example.com.", header, refs)), "example.com.", keys);
    EXPECT_EQ(secondary.PrimIP, "10.9.9.9");
    EXPECT_EQ(secondary.Slaves, header.Slaves);
    EXPECT_TRUE(secondary.Secure);
    EXPECT_EQ(secondary.Serial, 4000000000u);
    check(secondary);

    // A primary zone written by the server in the editor's layout.
    modZoneFile::EditorSOA soa{
        "ns1.example.com.", "hostmaster.example.com.", 5, 7200, 900, 1209600, 300};
    const std::vector<RecordRef> records(refs.begin() + 1, refs.end());
    const editor::clZone primary = editor::ReadZoneText(
        Text(modZoneFile::EditorZoneLines("example.com.", {}, soa, records)), "example.com.", keys);
    EXPECT_EQ(primary.PrimIP, "");
    EXPECT_EQ(primary.Serial, 5u);
    check(primary);
}

}  // namespace
