// The reverse zone wizard: network sizes, rows and zone names, names kept across sizes, the table
// commands, the zones it writes; and the classless look-up against a scripted server.
#include "editor/frmArpa.h"

#include <gtest/gtest.h>

#include "editor/frmArpaEdit.h"
#include "editor/frmArpaFill.h"
#include "editor/frmArpaLU.h"
#include "tests/editor/zones_fixture.h"

using namespace editor;
using Answer = platform::IPrompt::Answer;
using Lines = std::vector<std::string>;

namespace {

class FrmArpaTest : public ::testing::Test, protected kest::test::ZonesFixture {
  protected:
    frmArpa& Wizard() {
        dlg = std::make_unique<frmArpa>(Host());
        return *dlg;
    }
    std::string NameOf(const std::string& ip) {
        for (const auto& r : dlg->Rows)
            if (r.ip == ip) return r.name;
        return "<no row>";
    }
    void Select(const Lines& ips) {
        for (auto& r : dlg->Rows) r.selected = std::find(ips.begin(), ips.end(), r.ip) != ips.end();
    }
    std::unique_ptr<frmArpa> dlg;
};

TEST_F(FrmArpaTest, SizesGiveRowsAndZoneNames) {
    frmArpa& w = Wizard();
    w.IPLeft("192.168.1.77");
    w.ChooseSubnet(2);  // /26
    EXPECT_EQ(w.Network, "192.168.1.64");
    ASSERT_EQ(w.Rows.size(), 62u);
    EXPECT_EQ(w.Rows.front().ip, "192.168.1.65");
    EXPECT_EQ(w.Rows.back().ip, "192.168.1.126");
    EXPECT_EQ(w.txtZone, "64/26.1.168.192.in-addr.arpa");
    EXPECT_FALSE(w.ZoneLocked);
    EXPECT_TRUE(w.LookUpEnabled);
    EXPECT_EQ(w.LookFor(), "65.1.168.192.in-addr.arpa.");

    w.ChooseSubnet(0);
    EXPECT_EQ(w.Network, "192.168.1.0");
    ASSERT_EQ(w.Rows.size(), 256u);
    EXPECT_EQ(w.Rows.front().ip, "192.168.1.0");
    EXPECT_EQ(w.Rows.back().ip, "192.168.1.255");
    EXPECT_EQ(w.txtZone, "1.168.192.in-addr.arpa");
    EXPECT_TRUE(w.ZoneLocked);
    EXPECT_FALSE(w.LookUpEnabled);

    w.ChooseSubnet(6);  // /30: two hosts
    ASSERT_EQ(w.Rows.size(), 2u);
    EXPECT_EQ(w.Rows[0].ip, "192.168.1.77");
    EXPECT_EQ(w.Rows[1].ip, "192.168.1.78");
    EXPECT_EQ(w.txtZone, "76/30.1.168.192.in-addr.arpa");

    w.IPLeft("");
    EXPECT_TRUE(w.Rows.empty());
    EXPECT_EQ(frmArpa::SubnetTexts()[2], "255.255.255.192 (/26)");
}

TEST_F(FrmArpaTest, NamesSurviveSizeAndAddressChanges) {
    frmArpa& w = Wizard();
    w.IPLeft("192.168.1.77");
    w.ChooseSubnet(2);
    Select({"192.168.1.65"});
    w.EditSelected("Host65.Example.com.");
    EXPECT_EQ(NameOf("192.168.1.65"), "host65.example.com");
    w.ChooseSubnet(0);
    EXPECT_EQ(NameOf("192.168.1.65"), "host65.example.com");
    w.ChooseSubnet(2);
    EXPECT_EQ(NameOf("192.168.1.65"), "host65.example.com");
    w.IPLeft("10.0.0.1");
    EXPECT_EQ(NameOf("10.0.0.1"), "");
    w.IPLeft("192.168.1.100");
    EXPECT_EQ(NameOf("192.168.1.65"), "host65.example.com");
    // A name cleared is forgotten, not brought back from the earlier entry.
    Select({"192.168.1.65"});
    w.ClearSelected();
    w.ChooseSubnet(0);
    EXPECT_EQ(NameOf("192.168.1.65"), "");
    EXPECT_EQ(MappingKey("10.0.0.5"), "10.0.0.5       ");
}

TEST_F(FrmArpaTest, EditFillSelectAllAndClear) {
    frmArpa& w = Wizard();
    w.IPLeft("10.0.0.1");
    w.ChooseSubnet(5);  // /29: .1 to .6
    Select({"10.0.0.5", "10.0.0.6"});
    frmArpaFill fill;
    fill.txtDomain = " Example.COM ";
    w.FillSelected(fill.OK());
    EXPECT_EQ(NameOf("10.0.0.5"), "10-0-0-5.example.com");
    EXPECT_EQ(NameOf("10.0.0.6"), "10-0-0-6.example.com");
    EXPECT_EQ(NameOf("10.0.0.4"), "");
    w.FillSelected("");  // an empty domain changes nothing
    EXPECT_EQ(NameOf("10.0.0.5"), "10-0-0-5.example.com");

    ASSERT_EQ(w.FirstSelected(), 4);
    frmArpaEdit edit(w.Rows[4].ip, w.Rows[4].name);
    EXPECT_EQ(edit.txtName, "10-0-0-5.example.com");
    edit.txtName = "*.Printer.example.com";
    w.EditSelected(edit.OK());
    EXPECT_EQ(NameOf("10.0.0.5"), "printer.example.com");
    EXPECT_EQ(NameOf("10.0.0.6"), "printer.example.com");

    w.SelectAll();
    EXPECT_EQ(w.FirstSelected(), 0);
    w.ClearSelected();
    for (const auto& r : w.Rows) EXPECT_EQ(r.name, "") << r.ip;
}

TEST_F(FrmArpaTest, NetworkOfAZoneFromItsNameOrTheMappings) {
    struct Case {
        std::string zone, network;
    };
    ed.ReverseMappings = {"lab.example. 10.9.8.0/24", "bad.example."};
    for (const auto& c : std::vector<Case>{{"1.168.192.in-addr.arpa.", "192.168.1.0/24"},
                                           {"128/25.1.168.192.in-addr.arpa.", "192.168.1.128/25"},
                                           {"252/30.1.168.192.in-addr.arpa.", "192.168.1.252/30"},
                                           {"253/30.1.168.192.in-addr.arpa.", ""},
                                           {"128/24.1.168.192.in-addr.arpa.", ""},
                                           {"128-25.1.168.192.in-addr.arpa.", ""},
                                           {"1.168.300.in-addr.arpa.", ""},
                                           {"lab.example.", "10.9.8.0/24"},
                                           {"example.com.", ""}}) {
        ed.Zone.Name = c.zone;
        EXPECT_EQ(frmArpa::NetworkOfZone(ed), c.network) << c.zone;
    }
}

TEST_F(FrmArpaTest, OpeningOnAReverseZoneAsksWhetherToEditIt) {
    Load("1.168.192.in-addr.arpa",
         "@ 3600 SOA ns hostmaster 1 3600 600 86400 3600\r\n"
         "5 3600 PTR host5.example.com.\r\n"
         "9 3600 PTR host9.example.com.\r\n");
    prompt.askAnswers = {Answer::Cancel, Answer::No, Answer::Yes};
    EXPECT_FALSE(Wizard().OpenFromMain());
    ASSERT_EQ(prompt.boxes.size(), 1u);
    EXPECT_EQ(prompt.boxes[0].text,
              "Edit \"1.168.192.in-addr.arpa\" with the Reverse Zone Wizard ?\n\n"
              "(Select \"No\" to create a new Reverse Zone)");
    EXPECT_EQ(prompt.boxes[0].buttons, platform::IPrompt::Buttons::YesNoCancel);

    frmArpa& empty = Wizard();
    EXPECT_TRUE(empty.OpenFromMain());
    EXPECT_TRUE(empty.Rows.empty());
    EXPECT_EQ(empty.EditedZone, "");

    frmArpa& w = Wizard();
    EXPECT_TRUE(w.OpenFromMain());
    EXPECT_EQ(w.EditedZone, "1.168.192.in-addr.arpa");
    EXPECT_EQ(w.txtZone, "1.168.192.in-addr.arpa");
    EXPECT_EQ(w.SubnetIndex, 0);
    EXPECT_EQ(NameOf("192.168.1.5"), "host5.example.com");
    EXPECT_EQ(NameOf("192.168.1.9"), "host9.example.com");

    // A forward zone opens the empty wizard without a question.
    Load("example.com", "@ 3600 SOA ns hostmaster 1 3600 600 86400 3600\r\n");
    prompt.boxes.clear();
    EXPECT_TRUE(Wizard().OpenFromMain());
    EXPECT_TRUE(prompt.boxes.empty());
}

// Only the PTR records the table stands for are replaced: other types, names deeper or not
// numeric, and addresses outside the network stay.
TEST_F(FrmArpaTest, SavingAnEditedZoneReplacesOnlyThePtrRecordsOfItsTable) {
    Load("64/26.1.168.192.in-addr.arpa",
         "@ 3600 SOA ns hostmaster 1 3600 600 86400 3600\r\n"
         "@ 86400 NS ns.example.com.\r\n"
         "65 3600 PTR old65.example.com.\r\n"
         "66 3600 PTR old66.example.com.\r\n"
         "66 3600 TXT \"rack 4\"\r\n"
         "5 3600 PTR outside.example.com.\r\n"
         "gw 3600 PTR gateway.example.com.\r\n"
         "x.70.64/26.1.168.192.in-addr.arpa. 3600 PTR deeper.example.com.\r\n");
    zoneList = {"64/26.1.168.192.in-addr.arpa"};
    frmArpa& w = Wizard();
    w.LoadZone("192.168.1.64/26");
    EXPECT_EQ(NameOf("192.168.1.65"), "old65.example.com");
    Select({"192.168.1.66"});
    w.ClearSelected();
    Select({"192.168.1.70"});
    w.EditSelected("new70.example.com");
    ASSERT_TRUE(w.OK()) << LastBox();
    EXPECT_TRUE(prompt.boxes.empty());
    EXPECT_TRUE(ed.ZoneChanged);
    EXPECT_TRUE(selected.empty());
    const std::string z = "64/26.1.168.192.in-addr.arpa.";
    EXPECT_EQ(Texts(ed.Zone),
              (Lines{"5." + z + " PTR outside.example.com. 3600",
                     "64/26.1.168.192.in-addr.arpa. NS ns.example.com. 86400",
                     "65." + z + " PTR old65.example.com. 3600", "66." + z + " TXT rack 4 3600",
                     "70." + z + " PTR new70.example.com. 3600",
                     "gw." + z + " PTR gateway.example.com. 3600",
                     "x.70." + z + " PTR deeper.example.com. 3600"}));
    EXPECT_EQ(ed.ReverseMappings, (Lines{z + " 192.168.1.64/26"}));
}

TEST_F(FrmArpaTest, NewZoneFromTheDefaultsWithItsMappingAndPtrRecords) {
    WriteFile("kestrund.ini", "Name: ns.example.com\r\n");
    ed.LoadServerSettings();
    ed.Defaults[12] = "10.0.0.2 ";
    ed.ReverseMappings = {"old.name. 192.168.1.128/25",
                          "128/25.1.168.192.in-addr.arpa. 1.2.3.0/24"};
    frmArpa& w = Wizard();
    w.HandOver("192.168.1.130", "pc130.example.com");
    w.ChooseSubnet(1);
    EXPECT_EQ(NameOf("192.168.1.130"), "pc130.example.com");
    ASSERT_TRUE(w.OK()) << LastBox();
    const std::string z = "128/25.1.168.192.in-addr.arpa.";
    const clZone disk = OnDisk(z);
    EXPECT_EQ(disk.EMail, "hostmaster.");
    EXPECT_EQ(disk.PrimServ, "ns.example.com.");
    EXPECT_EQ(disk.Serial, 2026120601u);
    EXPECT_EQ(disk.TTL[3], 777600u);
    EXPECT_EQ(disk.Slaves, (Lines{"10.0.0.2"}));
    EXPECT_EQ(Texts(disk), (Lines{"128/25.1.168.192.in-addr.arpa. NS ns.example.com. 86400",
                                  "130." + z + " PTR pc130.example.com. 3600"}));
    EXPECT_EQ(selected, (Lines{"128/25.1.168.192.in-addr.arpa"}));
    EXPECT_EQ(ed.ZoneSerial, 0);
    EXPECT_TRUE(ed.ZoneChanged);
    EXPECT_EQ(ed.ReverseMappings, (Lines{"old.name. 192.168.1.128/25", z + " 192.168.1.128/25"}));
    EXPECT_NE(ReadFile("kestzone.ini").find("Reverse: " + z + " 192.168.1.128/25\r\n"),
              std::string::npos);
    // The record dialog finds it from now on by the mapping.
    EXPECT_EQ(frmArpa::NetworkOfZone(ed), "192.168.1.128/25");
}

TEST_F(FrmArpaTest, OkRefusalsAndARenamedZone) {
    zoneList = {"64/26.1.168.192.in-addr.arpa"};
    frmArpa& w = Wizard();
    w.IPLeft("192.168.1.77");
    w.ChooseSubnet(2);
    w.txtZone = "";
    EXPECT_FALSE(w.OK());
    EXPECT_EQ(LastBox(), "Please enter Zone Name!");
    EXPECT_EQ(w.FocusWanted, frmArpa::Field::Zone);

    w.ChooseSubnet(2);
    EXPECT_FALSE(w.OK());
    EXPECT_EQ(LastBox(), "Zone with this domain name already exists!");

    // Editing a zone under another name makes a new zone and leaves the loaded one alone.
    Load("1.168.192.in-addr.arpa",
         "@ 3600 SOA ns hostmaster 1 3600 600 86400 3600\r\n"
         "5 3600 PTR host5.example.com.\r\n");
    frmArpa& e = Wizard();
    e.LoadZone("192.168.1.0/24");
    e.txtZone = "lab.1.168.192.in-addr.arpa";
    prompt.askAnswers = {Answer::Cancel, Answer::Ok};
    EXPECT_FALSE(e.OK());
    EXPECT_EQ(LastBox(), "The Zone Name has changed!\n\nDo you want to create a new zone ?");
    e.txtZone = "lab.1.168.192.in-addr.arpa";
    ASSERT_TRUE(e.OK());
    EXPECT_EQ(Texts(OnDisk("lab.1.168.192.in-addr.arpa.")),
              (Lines{"5.lab.1.168.192.in-addr.arpa. PTR host5.example.com. 3600"}));
    EXPECT_EQ(OnDisk("1.168.192.in-addr.arpa.").Records.size(), 1u);
}

// ---- The classless look-up ----------------------------------------------------------------------

class FakeSocket : public ILookupSocket {
  public:
    bool Send(const std::string& data, const std::string& ip, uint16_t port) override {
        sent.push_back({data, ip, port});
        return true;
    }
    void Close() override { ++closed; }
    struct Sent {
        std::string data, ip;
        uint16_t port;
    };
    std::vector<Sent> sent;
    int closed = 0;
};

// Wire name of a dotted absolute name, label by label.
std::string Wire(const std::string& name) {
    std::string out;
    size_t start = 0;
    while (start < name.size()) {
        const size_t dot = name.find('.', start);
        out += static_cast<char>(dot - start);
        out += name.substr(start, dot - start);
        start = dot + 1;
    }
    return out + '\0';
}

std::string U16(int n) {
    return {static_cast<char>(n >> 8), static_cast<char>(n & 255)};
}

class FrmArpaLUTest : public ::testing::Test, protected kest::test::ZonesFixture {
  protected:
    FrmArpaLUTest() {
        WriteFile("kestrund.ini", "PrimaryIP: 127.0.0.9\r\nDNSPort: 5353\r\n");
        ed.LoadServerSettings();
        lu = std::make_unique<frmArpaLU>(ed, socket);
        lu->LookFor = kLookFor;
        lu->Changed = [this] { ++changes; };
    }
    // A reply to the query: header with flags and counts, the question, then the answers.
    std::string Reply(int rcode, const std::vector<std::string>& answers, int id = 0x6464,
                      int flags = 0x8180) const {
        std::string m = U16(id) + U16(flags | rcode) + U16(1) +
                        U16(static_cast<int>(answers.size())) + U16(0) + U16(0) + Wire(kLookFor) +
                        U16(5) + U16(1);
        for (const auto& a : answers) m += a;
        return m;
    }
    static std::string Cname(const std::string& owner, const std::string& rdata) {
        return owner + U16(5) + U16(1) + std::string("\0\0\x0e\x10", 4) +
               U16(static_cast<int>(rdata.size())) + rdata;
    }

    static constexpr const char* kLookFor = "129.1.168.192.in-addr.arpa.";
    FakeSocket socket;
    std::unique_ptr<frmArpaLU> lu;
    int changes = 0;
};

TEST_F(FrmArpaLUTest, QueryGoesToTheLocalServerWithIdRecursionAndCnameQuestion) {
    lu->LookUp();
    ASSERT_EQ(socket.sent.size(), 1u);
    EXPECT_EQ(socket.sent[0].ip, "127.0.0.9");
    EXPECT_EQ(socket.sent[0].port, 5353);
    const std::string expected =
        std::string("\x64\x64\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00", 12) +
        "\x03"
        "129\x01"
        "1\x03"
        "168\x03"
        "192\x07"
        "in-addr\x04"
        "arpa" +
        std::string("\0\0\x05\0\x01", 5);
    EXPECT_EQ(socket.sent[0].data, expected);
    EXPECT_EQ(lu->Lines, (Lines{"Sending request to 127.0.0.9 about CNAME-Record for "
                                "129.1.168.192.in-addr.arpa..."}));
    EXPECT_TRUE(lu->TimerActive);
    EXPECT_FALSE(lu->OKEnabled);

    // Without DNSPort the server's port 53.
    WriteFile("kestrund.ini", "PrimaryIP: 127.0.0.9\r\n");
    ed.LoadServerSettings();
    FakeSocket other;
    frmArpaLU plain(ed, other);
    plain.LookFor = kLookFor;
    plain.LookUp();
    EXPECT_EQ(other.sent.at(0).port, 53);
}

TEST_F(FrmArpaLUTest, FiveSendsThenTheServerIsNotResponding) {
    lu->LookUp();
    for (int tick = 0; tick < 4; ++tick) lu->Tick();
    EXPECT_EQ(socket.sent.size(), 5u);
    EXPECT_TRUE(lu->TimerActive);
    EXPECT_EQ(socket.closed, 0);
    lu->Tick();
    EXPECT_EQ(socket.sent.size(), 5u);
    ASSERT_EQ(lu->Lines.size(), 6u);
    EXPECT_EQ(lu->Lines[5], "DNS server not responding.");
    EXPECT_FALSE(lu->TimerActive);
    EXPECT_TRUE(lu->OKEnabled);
    EXPECT_EQ(socket.closed, 1);
    lu->Tick();
    EXPECT_EQ(lu->Lines.size(), 6u);
    EXPECT_EQ(lu->OK(), "");
}

TEST_F(FrmArpaLUTest, ErrorCodesGiveTheirTexts) {
    const std::vector<std::pair<int, Lines>> cases = {
        {1, {"Answer: Format Error - could not interpret the query.", ""}},
        {2, {"Answer: Lame Delegation Problem!", "", "Reverse Zone has not been Sub-Delegated!"}},
        {3, {"Answer: Name does not exist!", "", "Reverse Zone has not been Sub-Delegated!"}},
        {4, {"Answer: Not implemented - no support for this query type.", ""}},
        {5, {"Answer: Refused - will not answer this client or this query type.", ""}},
        {9, {"Answer: Unknown error.", ""}},
    };
    for (const auto& [rcode, lines] : cases) {
        FakeSocket s;
        frmArpaLU one(ed, s);
        one.LookFor = kLookFor;
        one.LookUp();
        one.Reply(Reply(rcode, {}), "127.0.0.9", 5353);
        Lines expected = {one.Lines.front()};
        expected.insert(expected.end(), lines.begin(), lines.end());
        EXPECT_EQ(one.Lines, expected) << rcode;
        EXPECT_FALSE(one.TimerActive);
        EXPECT_TRUE(one.OKEnabled);
        EXPECT_EQ(s.closed, 1);
    }
}

TEST_F(FrmArpaLUTest, CnameAnswerNamesTheZone) {
    lu->LookUp();
    // An unrelated CNAME first; the target's tail points into the question.
    const std::string answers =
        Cname(Wire("other.example."), Wire("x.example.")) + Cname(std::string("\xc0\x0c", 2),
                                                                  "\x03"
                                                                  "129\x06"
                                                                  "128/25" +
                                                                      std::string("\xc0\x10", 2));
    std::string reply = Reply(0, {});
    reply[7] = 2;
    reply += answers;
    lu->Reply(reply, "127.0.0.9", 5353);
    EXPECT_EQ(lu->Lines, (Lines{lu->Lines.front(),
                                "Answer: CNAME-record for 129.1.168.192.in-addr.arpa. = "
                                "129.128/25.1.168.192.in-addr.arpa.",
                                "", "Reverse Zone Name = \"128/25.1.168.192.in-addr.arpa\""}));
    EXPECT_EQ(lu->OK(), "128/25.1.168.192.in-addr.arpa");
    EXPECT_FALSE(lu->TimerActive);
    EXPECT_TRUE(lu->OKEnabled);
    EXPECT_EQ(changes, 1);
}

TEST_F(FrmArpaLUTest, NoAnswerMeansNotDelegated) {
    lu->LookUp();
    lu->Reply(Reply(0, {}), "127.0.0.9", 5353);
    EXPECT_EQ(lu->Lines, (Lines{lu->Lines.front(),
                                "Answer: No CNAME-Records exist for 129.1.168.192.in-addr.arpa.",
                                "", "Reverse Zone has not been Sub-Delegated!"}));
    EXPECT_EQ(lu->OK(), "");
}

// Only the reply to our query, from the server asked, ends the look-up.
TEST_F(FrmArpaLUTest, IgnoresDatagramsThatAreNotOurReply) {
    lu->LookUp();
    const std::string good = Reply(3, {});
    lu->Reply(Reply(3, {}, 0x6465), "127.0.0.9", 5353);          // another ID
    lu->Reply(Reply(3, {}, 0x6464, 0x0100), "127.0.0.9", 5353);  // a query, not a reply
    lu->Reply(good, "127.0.0.10", 5353);                         // another host
    lu->Reply(good, "127.0.0.9", 53);                            // another port
    lu->Reply(good.substr(0, 11), "127.0.0.9", 5353);            // too short
    EXPECT_EQ(lu->Lines.size(), 1u);
    EXPECT_TRUE(lu->TimerActive);
    EXPECT_EQ(changes, 0);
    lu->Reply(good, "127.0.0.9", 5353);
    EXPECT_EQ(lu->Lines.size(), 4u);
    // After the answer, nothing more is taken and cancelling closes nothing twice.
    lu->Reply(Reply(0, {}), "127.0.0.9", 5353);
    EXPECT_EQ(lu->Lines.size(), 4u);
    lu->Cancel();
    EXPECT_EQ(socket.closed, 1);
}

TEST_F(FrmArpaLUTest, CancelStopsTheTimerAndClosesTheSocket) {
    lu->LookUp();
    lu->Cancel();
    EXPECT_FALSE(lu->TimerActive);
    EXPECT_EQ(socket.closed, 1);
    lu->Tick();
    EXPECT_EQ(socket.sent.size(), 1u);
}

}  // namespace
