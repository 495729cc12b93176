// The record dialog's controller: normalisations, every check of "O K" in its order, storing,
// and the search for the reverse zone of an address.
#include "editor/frmRec.h"

#include <gtest/gtest.h>

#include "tests/editor/editor_fixture.h"

using namespace editor;
using Answer = platform::IPrompt::Answer;
using Buttons = platform::IPrompt::Buttons;
using Field = frmRec::Field;
using Lines = std::vector<std::string>;

namespace {

class Chooser : public IReverseChooser {
  public:
    std::string ChooseReverseZone(const std::vector<std::string>& c) override {
        offered = c;
        return choice;
    }
    std::vector<std::string> offered;
    std::string choice;
};

class FrmRecTest : public ::testing::Test, protected kest::test::EditorFixture {
  protected:
    void Load(const std::string& zoneText, const std::string& file) {
        WriteFile("data/" + ZoneFileName(ZoneOfText(zoneText)), file);
        ed.LoadZone(zoneText);
        ed.CurrentZoneText = zoneText;
    }
    frmRec& Dialog(Lines zoneList = {"example.com"}) {
        dlg = std::make_unique<frmRec>(ed, std::move(zoneList), chooser);
        return *dlg;
    }
    // A new record of a type, its fields set as typed (nothing left yet).
    frmRec& New(int typeIndex, const std::string& name, const std::string& data) {
        frmRec& d = dlg ? *dlg : Dialog();
        d.LoadRec("", false);
        d.ChooseType(typeIndex);
        d.txtName = name;
        if (d.Type().code == kA)
            d.txtIP = data;
        else
            d.txtData = data;
        return d;
    }
    std::string KeyOf(const std::string& name, int16_t type) {
        for (const auto& r : ed.Zone.Records)
            if (r.Name == name && r.RecType == type) return r.KeyNo;
        return "";
    }
    const clDNSRecord& Saved() { return *ed.Zone.Find(dlg->SavedKey); }
    std::string LastBox() { return prompt.boxes.empty() ? "" : prompt.boxes.back().text; }

    Chooser chooser;
    std::unique_ptr<frmRec> dlg;
};

enum { A, NS, CNAME, PTR, MX, SRV, TXT };

TEST_F(FrmRecTest, TypeTableAndNewRecordDefaults) {
    Load("example.com", "");
    frmRec& d = Dialog();
    d.LoadRec("", false);
    EXPECT_EQ(d.txtName, "example.com");
    EXPECT_EQ(d.Type().word, std::string("A"));
    EXPECT_EQ(d.TTL, 3600);
    EXPECT_EQ(d.txtPref, "100");
    EXPECT_TRUE(d.ShowIP());
    EXPECT_FALSE(d.ShowData());
    EXPECT_FALSE(d.NameLocked);
    const char* words[] = {"A", "NS", "CNAME", "PTR", "MX", "SRV", "TXT"};
    const int codes[] = {1, 2, 5, 12, 15, 33, 16};
    for (int i = 0; i < 7; ++i) {
        d.ChooseType(i);
        EXPECT_EQ(d.Type().word, std::string(words[i]));
        EXPECT_EQ(d.Type().code, codes[i]);
        EXPECT_EQ(d.ShowNumber(), i == MX || i == SRV) << i;
        EXPECT_EQ(d.ShowWeightPort(), i == SRV) << i;
    }
    d.ChooseType(MX);
    EXPECT_EQ(std::string(d.Type().title), "Mail eXchange ( E-Mail Server )");
    EXPECT_EQ(std::string(d.Type().data), "Mail Server:");
    EXPECT_EQ(std::string(d.Type().number), "Preference:");
}

TEST_F(FrmRecTest, NamesAreCompletedInTheZoneAndOKNormalisesEveryField) {
    Load("example.com", "");
    struct Case {
        const char* typed;
        const char* owner;
    } cases[] = {
        {"pc1", "pc1.example.com."},
        {"PC2 ", "pc2.example.com."},
        {"pc1.other.org", "pc1.other.org."},
        {"", "example.com."},
        {"*", "example.com."},
        {"*.example.com", "*.example.com."},
        {"example.com", "example.com."},
        {"a!b", "ab.example.com."},
    };
    int n = 0;
    for (const auto& c : cases) {
        // Pressing Enter moves no focus: "O K" alone must normalise what was typed.
        frmRec& d = New(A, c.typed, "10.0.0." + std::to_string(++n));
        ASSERT_TRUE(d.OK()) << c.typed << ": " << LastBox();
        EXPECT_EQ(Saved().Name, c.owner) << c.typed;
    }
    // Leaving the fields gives what "O K" would, and leaving them twice changes nothing more.
    frmRec& d = New(SRV, " Sip ", " Target.Example.COM. ");
    d.txtPref = " -7.9x";
    d.txtWeight = "";
    d.txtPort = "abc";
    for (int i = 0; i < 2; ++i) {
        d.NameLeft();
        d.DataLeft();
        for (Field f : {Field::Pref, Field::Weight, Field::Port}) d.NumberLeft(f);
        EXPECT_EQ(d.txtName, "sip.example.com");
        EXPECT_EQ(d.txtData, "target.example.com");
        EXPECT_EQ(d.txtPref, "7");
        EXPECT_EQ(d.txtWeight, "0");
        EXPECT_EQ(d.txtPort, "0");
    }
    d.ChooseType(TXT);
    d.txtData = "  spaced  text  ";
    d.DataLeft();
    EXPECT_EQ(d.txtData, "spaced  text");
}

TEST_F(FrmRecTest, DataBuiltByTypeWithSixteenBitNumbers) {
    Load("example.com", "");
    frmRec& mx = New(MX, "mail", "mx1.example.net");
    mx.txtPref = "70000";
    mx.TTL = 90061;
    ASSERT_TRUE(mx.OK());
    EXPECT_EQ(Saved().Data, std::string("\x11\x70", 2) + "mx1.example.net.");  // 70000 & 0xFFFF
    EXPECT_EQ(Saved().TTL, 90061);
    // A target is taken as typed, a complete name.
    frmRec& srv = New(SRV, "_sip._udp.example.com", "sip.example.com");
    srv.txtPref = "1";
    srv.txtWeight = "65536";
    srv.txtPort = "5060";
    ASSERT_TRUE(srv.OK());
    EXPECT_EQ(Saved().Name, "_sip._udp.example.com.");
    EXPECT_EQ(Saved().Data, std::string("\0\1\0\0\x13\xc4", 6) + "sip.example.com.");
    frmRec& txt = New(TXT, "info", "say \"hi\"");
    ASSERT_TRUE(txt.OK());
    EXPECT_EQ(Saved().Data, "\x08say \"hi\"");
    frmRec& a = New(A, "www", "192.0.2.7");
    ASSERT_TRUE(a.OK());
    EXPECT_EQ(Saved().Data, std::string("\xc0\x00\x02\x07", 4));
    EXPECT_TRUE(ed.ZoneChanged);
    EXPECT_TRUE(prompt.boxes.empty());
}

TEST_F(FrmRecTest, ChecksInTheirOrderWithTheirMessages) {
    Load("example.com", "");
    struct Case {
        int type;
        const char* data;
        const char* warning;  // nullptr: refused without a message
        Field focus;
    } cases[] = {
        {A, "", "Invalid IP Address!", Field::IP},
        {A, "255.255.255.255", "Invalid IP Address!", Field::IP},
        {TXT, "   ", "Please enter text!", Field::Data},
        {NS, "", "Invalid DNS server name!", Field::Data},
        {NS, "10.0.0.1", "Invalid DNS server name!", Field::Data},
        {CNAME, "10.0.0.1", "Invalid Alias for name!", Field::Data},
        {PTR, "!!", "Invalid Point to name!", Field::Data},
        {MX, "10.0.0.1", "Invalid Mail Server name!", Field::Data},
        {SRV, "", nullptr, Field::Data},
        {SRV, "1.2.3.4", nullptr, Field::Data},
    };
    for (const auto& c : cases) {
        const size_t boxes = prompt.boxes.size();
        frmRec& d = New(c.type, "host", c.data);
        EXPECT_FALSE(d.OK()) << c.data;
        EXPECT_EQ(d.FocusWanted, c.focus) << c.data;
        if (c.warning) {
            ASSERT_EQ(prompt.boxes.size(), boxes + 1) << c.data;
            EXPECT_EQ(LastBox(), c.warning);
            EXPECT_EQ(prompt.boxes.back().icon, platform::IPrompt::Icon::Warning);
            EXPECT_FALSE(prompt.boxes.back().question);
        } else {
            EXPECT_EQ(prompt.boxes.size(), boxes) << c.data;
        }
    }
    EXPECT_TRUE(ed.Zone.Records.empty());
    EXPECT_FALSE(ed.ZoneChanged);
    // Not an address, so a name.
    ASSERT_TRUE(New(CNAME, "alias", "10.0.0.1.5").OK());
    EXPECT_EQ(Saved().Data, "10.0.0.1.5.");

    // The root zone adds nothing to a name, so a name can be empty there; that comes first.
    Load("<root>", "");
    frmRec& r = New(A, "", "");
    EXPECT_FALSE(r.OK());
    EXPECT_EQ(LastBox(), "Please enter record name!");
    EXPECT_EQ(r.FocusWanted, Field::Name);
    frmRec& apex = New(NS, "<root>", "a.root-servers.net");
    ASSERT_TRUE(apex.OK());
    EXPECT_EQ(Saved().Name, ".");
    frmRec& tld = New(NS, "org", "a0.org-servers.net");
    ASSERT_TRUE(tld.OK());
    EXPECT_EQ(Saved().Name, "org.");
}

TEST_F(FrmRecTest, DuplicatesAndCNAMEConflictsForNewRecordsAndCopiesOnly) {
    Load("example.com",
         "mail A 10.0.0.25\r\n"
         "ftp CNAME www\r\n"
         "mx MX 10 mail\r\n");
    auto refused = [&](int type, const char* name, const char* data, const char* warning) {
        const size_t before = ed.Zone.Records.size();
        frmRec& d = New(type, name, data);
        EXPECT_FALSE(d.OK()) << name;
        EXPECT_EQ(LastBox(), warning) << name;
        EXPECT_EQ(d.FocusWanted, Field::Name);
        EXPECT_EQ(ed.Zone.Records.size(), before);
    };
    refused(A, "mail", "10.0.0.25", "Record already exists!");
    refused(CNAME, "mail", "host", "Records already exists for this name!");
    refused(A, "ftp", "10.0.0.21", "CNAME record already exists for this name!");
    // The same CNAME: the first test that holds for the record decides.
    refused(CNAME, "ftp", "www.example.com", "Record already exists!");
    // MX numbers are part of the data.
    frmRec& mx = New(MX, "mx", "mail.example.com");
    mx.txtPref = "20";
    EXPECT_TRUE(mx.OK());
    frmRec& a = New(A, "mail", "10.0.0.26");
    EXPECT_TRUE(a.OK());

    // Editing runs none of these checks; a copy runs them all.
    frmRec& edit = Dialog();
    edit.LoadRec(KeyOf("ftp.example.com.", kCNAME), false);
    EXPECT_TRUE(edit.NameLocked);
    EXPECT_EQ(edit.txtName, "ftp.example.com");
    EXPECT_EQ(edit.txtData, "www.example.com");
    edit.txtData = "mail.example.com";
    ASSERT_TRUE(edit.OK());
    EXPECT_EQ(ed.Zone.Find(edit.SavedKey)->Data, "mail.example.com.");
    const size_t count = ed.Zone.Records.size();
    frmRec& copy = Dialog();
    copy.LoadRec(KeyOf("ftp.example.com.", kCNAME), true);
    EXPECT_FALSE(copy.NameLocked);
    EXPECT_FALSE(copy.OK());
    EXPECT_EQ(LastBox(), "Record already exists!");
    copy.txtName = "ftp2";
    ASSERT_TRUE(copy.OK());
    EXPECT_EQ(ed.Zone.Records.size(), count + 1);
    EXPECT_EQ(Saved().Name, "ftp2.example.com.");
}

TEST_F(FrmRecTest, LoadingShowsTheRecordAndSecondaryZonesAreReadOnly) {
    Load("example.com",
         "sip SRV 0 5 5060 sip.example.net.\r\n"
         "info 120 TXT \"first\" \"second\"\r\n"
         "@ MX 10 mail\r\n");
    frmRec& d = Dialog();
    d.LoadRec(KeyOf("sip.example.com.", kSRV), false);
    EXPECT_EQ(d.Type().word, std::string("SRV"));
    EXPECT_EQ(d.txtPref + " " + d.txtWeight + " " + d.txtPort + " " + d.txtData,
              "0 5 5060 sip.example.net");
    EXPECT_EQ(d.TTL, 86400);
    d.LoadRec(KeyOf("info.example.com.", kTXT), false);
    EXPECT_EQ(d.txtData, "first");
    EXPECT_EQ(d.TTL, 120);
    ASSERT_TRUE(d.OK());
    EXPECT_EQ(ed.Zone.Find(d.SavedKey)->Data,
              "\x05"
              "first");
    d.LoadRec(KeyOf("example.com.", kMX), false);
    EXPECT_EQ(d.txtName, "example.com");
    EXPECT_EQ(d.txtPref, "10");
    EXPECT_FALSE(d.ReadOnly);

    Load("sec.org", "; PrimaryIP 10.0.0.1\r\nwww A 10.0.0.80\r\n");
    ed.ZoneChanged = false;
    frmRec& s = Dialog({"sec.org"});
    s.LoadRec(KeyOf("www.sec.org.", kA), false);
    EXPECT_TRUE(s.ReadOnly);
    s.txtIP = "10.0.0.81";
    EXPECT_TRUE(s.OK());  // closes, stores nothing
    EXPECT_TRUE(s.SavedKey.empty());
    EXPECT_EQ(ed.Zone.Records[0].Data, std::string("\x0a\x00\x00\x50", 4));
    EXPECT_FALSE(ed.ZoneChanged);
}

TEST_F(FrmRecTest, ReverseZoneFoundInTheListInItsOrder) {
    Load("example.com", "");
    struct Case {
        Lines list;
        Lines mappings;
        const char* expected;
    } cases[] = {
        {{"5.168.192.in-addr.arpa", "128/25.5.168.192.in-addr.arpa"}, {}, "5.168.192.in-addr.arpa"},
        {{"128/26.5.168.192.in-addr.arpa", "128/25.5.168.192.in-addr.arpa"},
         {},
         "128/25.5.168.192.in-addr.arpa"},
        {{"128/30.5.168.192.in-addr.arpa", "128/27.5.168.192.in-addr.arpa"},
         {},
         "128/27.5.168.192.in-addr.arpa"},
        {{"130/30.5.168.192.in-addr.arpa", "128/30.5.168.192.in-addr.arpa"},
         {},
         "128/30.5.168.192.in-addr.arpa"},
        {{"net5.example.com", "other"},
         {"other. 10.0.0.0/8", "Net5.Example.COM. 192.168.5.128/25"},
         "net5.example.com"},
    };
    for (const auto& c : cases) {
        ed.ReverseMappings = c.mappings;
        ed.PendingPTR.clear();
        Lines list = c.list;
        list.push_back("example.com");
        Dialog(list);
        frmRec& d = New(A, "pc1", "192.168.5.130");
        d.chkPTR = true;
        ASSERT_TRUE(d.OK());
        EXPECT_EQ(d.RevZone, c.expected);
        EXPECT_EQ(ed.PendingPTR, (Lines{std::string(c.expected) + " 130 pc1.example.com"}));
        ed.Zone.Records.clear();
    }
    EXPECT_TRUE(prompt.boxes.empty());
}

TEST_F(FrmRecTest, NoReverseZoneAsksAndOffersTheCandidates) {
    Load("example.com", "");
    // No candidate at all: one question, OK or Cancel.
    Dialog({"example.com", "1.168.192.in-addr.arpa"});
    frmRec& d = New(A, "pc1", "192.168.5.130");
    d.chkPTR = true;
    prompt.askAnswers = {Answer::Cancel};
    EXPECT_FALSE(d.OK());
    EXPECT_TRUE(ed.Zone.Records.empty());
    ASSERT_EQ(prompt.boxes.size(), 1u);
    EXPECT_EQ(LastBox(), "Create Reverse Zone now ?");
    EXPECT_EQ(prompt.boxes[0].buttons, Buttons::OkCancel);
    EXPECT_EQ(prompt.boxes[0].icon, platform::IPrompt::Icon::Question);
    prompt.askAnswers = {Answer::Ok};
    ASSERT_TRUE(d.OK());
    EXPECT_EQ(d.RevZone, "*new*");  // the record is stored; no PTR is pending
    EXPECT_TRUE(ed.PendingPTR.empty());
    EXPECT_EQ(ed.Zone.Records.size(), 1u);

    // Candidates: every other zone but standard reverse zones and mapped ones.
    ed.Zone.Records.clear();
    ed.ReverseMappings = {"mapped.example.net. 10.0.0.0/8"};
    Dialog({"10.in-addr.arpa", "1.168.192.in-addr.arpa", "a.168.192.in-addr.arpa", "example.com",
            "mapped.example.net", "zz.example.org"});
    frmRec& e = New(A, "pc2", "192.168.5.131");
    e.chkPTR = true;
    prompt.askAnswers = {Answer::Cancel};
    EXPECT_FALSE(e.OK());
    EXPECT_EQ(LastBox(),
              "Could not find Reverse Zone!\n\nDo you wish to create a new Reverse Zone now ?\n"
              "( Click 'No' to select an existing Zone )");
    EXPECT_EQ(prompt.boxes.back().buttons, Buttons::YesNoCancel);
    EXPECT_TRUE(chooser.offered.empty());
    prompt.askAnswers = {Answer::No};
    chooser.choice = "";  // the chooser cancelled
    EXPECT_FALSE(e.OK());
    EXPECT_EQ(chooser.offered,
              (Lines{"10.in-addr.arpa", "a.168.192.in-addr.arpa", "zz.example.org"}));
    prompt.askAnswers = {Answer::No};
    chooser.choice = "zz.example.org";
    ASSERT_TRUE(e.OK());
    EXPECT_EQ(ed.PendingPTR, (Lines{"zz.example.org 131 pc2.example.com"}));
    prompt.askAnswers = {Answer::Yes};
    frmRec& f = New(A, "pc3", "192.168.5.132");
    f.chkPTR = true;
    ASSERT_TRUE(f.OK());
    EXPECT_EQ(f.RevZone, "*new*");
    EXPECT_EQ(ed.PendingPTR.size(), 1u);
}

}  // namespace
