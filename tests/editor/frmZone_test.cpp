// The zone properties dialog, the quick domain wizard and the copy dialog: what they fill in,
// their checks in order, and the zones they write.
#include "editor/frmZone.h"

#include <gtest/gtest.h>

#include "editor/frmCopy.h"
#include "editor/frmQuick.h"
#include "tests/editor/zones_fixture.h"

using namespace editor;
using Answer = platform::IPrompt::Answer;
using Buttons = platform::IPrompt::Buttons;
using Lines = std::vector<std::string>;
using Tab = frmZone::Tab;
using ZField = frmZone::Field;

namespace {

const char* const kExample =
    "@ 3600 SOA ns1 hostmaster 2026010105 7200 900 1209600 300\r\n"
    " 3600 NS ns1\r\n"
    "ns1 3600 A 10.0.0.53\r\n"
    "www 3600 A 10.0.0.80\r\n";

class FrmZoneTest : public ::testing::Test, protected kest::test::ZonesFixture {
  protected:
    frmZone& Dialog(bool newZone) {
        dlg = std::make_unique<frmZone>(Host());
        dlg->LoadZone(newZone);
        return *dlg;
    }
    std::unique_ptr<frmZone> dlg;
};

TEST_F(FrmZoneTest, NewZoneOpensWithTheDefaultsTodaysSerialAndTheServerName) {
    WriteFile("kestrund.ini", "Name: NS.Example.NET\r\n");
    ed.LoadServerSettings();
    frmZone& d = Dialog(true);
    EXPECT_EQ(d.Caption, "New Zone Properties");
    EXPECT_EQ(d.txtPrimS, "ns.example.net");
    EXPECT_EQ(d.txtEMail, "");
    EXPECT_EQ(d.txtSer, "2026120601");
    EXPECT_EQ(d.minTTL, 3600);
    EXPECT_EQ(d.txtTTL[0], 86400);
    EXPECT_EQ(d.txtTTL[1], 3600);
    EXPECT_EQ(d.txtTTL[2], 777600);
    EXPECT_TRUE(d.chkOS);
    EXPECT_FALSE(d.NameLocked());

    // Remembered defaults win over the server name; the mailbox shows its first "." as "@".
    ed.Defaults[6] = "dns.example.org.";
    ed.Defaults[7] = "admin.example.org.";
    ed.Defaults[12] = "10.0.0.2 10.0.0.3 ";
    ed.Defaults[13] = "0";
    frmZone& e = Dialog(true);
    EXPECT_EQ(e.txtPrimS, "dns.example.org");
    EXPECT_EQ(e.txtEMail, "admin@example.org");
    EXPECT_EQ(e.List1, (Lines{"10.0.0.2", "10.0.0.3"}));
    EXPECT_FALSE(e.chkOS);
}

TEST_F(FrmZoneTest, ExistingZoneShowsItsSoaLockedNameAndCaption) {
    Load("example.com", std::string("; Notify 10.0.0.7 10.0.0.8\r\n; NotSecure\r\n") + kExample);
    frmZone& d = Dialog(false);
    EXPECT_EQ(d.Caption, "Zone \"example.com\" Properties");
    EXPECT_EQ(d.txtName, "example.com");
    EXPECT_TRUE(d.NameLocked());
    EXPECT_TRUE(d.chkPrimary);
    EXPECT_EQ(d.txtPrimS, "ns1.example.com");
    EXPECT_EQ(d.txtEMail, "hostmaster@example.com");
    EXPECT_EQ(d.txtSer, "2026010105");
    EXPECT_EQ(d.txtTTL[0], 7200);
    EXPECT_EQ(d.txtTTL[1], 900);
    EXPECT_EQ(d.txtTTL[2], 1209600);
    EXPECT_EQ(d.minTTL, 300);
    EXPECT_EQ(d.List1, (Lines{"10.0.0.7", "10.0.0.8"}));
    EXPECT_FALSE(d.chkOS);
    // Locking follows the role.
    EXPECT_FALSE(d.SoaLocked());
    EXPECT_TRUE(d.PrimIPLocked());
    d.PrimaryClicked(false);
    EXPECT_TRUE(d.SoaLocked());
    EXPECT_FALSE(d.PrimIPLocked());
}

TEST_F(FrmZoneTest, EmptyMailboxBecomesHostmasterAndIsStoredInNameForm) {
    WriteFile("kestrund.ini", "Name: ns.example.net\r\n");
    ed.LoadServerSettings();
    frmZone& d = Dialog(true);
    d.txtName = " Example.COM. ";
    d.NameLeft();
    EXPECT_EQ(d.txtName, "example.com");
    EXPECT_EQ(d.txtEMail, "hostmaster@example.com");
    ASSERT_TRUE(d.OK()) << LastBox();
    EXPECT_EQ(selected, (Lines{"example.com"}));
    const clZone disk = OnDisk("example.com.");
    EXPECT_EQ(disk.Name, "example.com.");
    EXPECT_EQ(disk.EMail, "hostmaster.example.com.");
    EXPECT_EQ(disk.PrimServ, "ns.example.net.");
    EXPECT_EQ(disk.Serial, 2026120601u);
    EXPECT_EQ(ed.Zone.Name, "example.com.");
    EXPECT_TRUE(ed.ZoneChanged);
    EXPECT_EQ(ed.ZoneSerial, -1);

    // The root: an empty name, no hostmaster guess.
    frmZone& r = Dialog(true);
    r.NameEntered();
    r.NameLeft();
    EXPECT_EQ(r.txtName, "<root>");
    EXPECT_EQ(r.txtEMail, "");
    r.NameEntered();
    EXPECT_EQ(r.txtName, "");
}

TEST_F(FrmZoneTest, MailboxDotsBeforeTheAtBecomeHyphens) {
    frmZone& d = Dialog(true);
    d.txtName = "example.com";
    d.txtPrimS = "ns1.example.com";
    d.txtEMail = "John.Doe@Example.com.";
    d.EMailLeft();
    EXPECT_EQ(d.txtEMail, "john-doe@example.com");
    ASSERT_TRUE(d.OK()) << LastBox();
    EXPECT_EQ(OnDisk("example.com.").EMail, "john-doe.example.com.");
}

TEST_F(FrmZoneTest, ChecksRunInOrderWithTheirTabAndField) {
    Load("example.com", kExample);
    zoneList = {"example.com"};
    struct Case {
        std::function<void(frmZone&)> set;
        std::string text;
        Tab tab;
        ZField field;
    };
    const std::vector<Case> cases = {
        {[](frmZone& d) { d.txtName = "example.com"; }, "Zone already exists!", Tab::General,
         ZField::Name},
        {[](frmZone& d) { d.txtPrimS = ""; }, "Please enter Primary DNS server domain name!",
         Tab::General, ZField::PrimS},
        {[](frmZone& d) { d.txtEMail = "@example.net"; }, "Invalid e-mail address!", Tab::General,
         ZField::EMail},
        {[](frmZone& d) { d.txtEMail = "admin@"; }, "Invalid e-mail address!", Tab::General,
         ZField::EMail},
        {[](frmZone& d) { d.txtEMail = "admin"; }, "Invalid e-mail address!", Tab::General,
         ZField::EMail},
        {[](frmZone& d) { d.chkPrimary = false; }, "Please enter Primary DNS server IP address!",
         Tab::Transfers, ZField::PrimIP},
        {[](frmZone& d) { d.txtTTL[0] = 0; }, "Please specify Refresh Interval", Tab::Transfers,
         ZField::Refresh},
        {[](frmZone& d) { d.txtTTL[1] = 0; }, "Please specify Retry Interval", Tab::Transfers,
         ZField::Retry},
        {[](frmZone& d) {
             d.txtTTL[0] = 3600;
             d.txtTTL[2] = 3599;
         },
         "Expire Interval must be greater than Refresh Interval!", Tab::Transfers, ZField::Expire},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        frmZone& d = Dialog(true);
        d.txtName = "example.org";
        d.txtPrimS = "ns1.example.org";
        d.txtEMail = "hostmaster@example.org";
        c.set(d);
        prompt.boxes.clear();
        EXPECT_FALSE(d.OK());
        ASSERT_EQ(prompt.boxes.size(), 1u);
        EXPECT_EQ(prompt.boxes[0].text, c.text);
        EXPECT_EQ(prompt.boxes[0].icon, platform::IPrompt::Icon::Warning);
        EXPECT_EQ(d.TabWanted, c.tab);
        EXPECT_EQ(d.FocusWanted, c.field);
    }
    // Nothing was written by a failed check.
    EXPECT_FALSE(std::filesystem::exists(ed.DataDir() / "example.org.dns"));
    // Expire equal to refresh passes.
    frmZone& d = Dialog(true);
    d.txtName = "example.org";
    d.txtPrimS = "ns1.example.org";
    d.txtEMail = "hostmaster@example.org";
    d.txtTTL[0] = 3600;
    d.txtTTL[2] = 3600;
    EXPECT_TRUE(d.OK()) << LastBox();
    EXPECT_EQ(OnDisk("example.org.").TTL[3], 3600u);
}

TEST_F(FrmZoneTest, LoweringTheSerialAsksAndTheNextSaveKeepsIt) {
    Load("example.com", kExample);
    frmZone& d = Dialog(false);
    d.txtSer = "2026010101";
    prompt.askAnswers = {Answer::Cancel};
    EXPECT_FALSE(d.OK());
    ASSERT_EQ(prompt.boxes.size(), 1u);
    EXPECT_EQ(prompt.boxes[0].text, "Warning: Serial Number has decreased!");
    EXPECT_EQ(prompt.boxes[0].buttons, Buttons::OkCancel);
    EXPECT_EQ(prompt.boxes[0].defaultButton, Answer::Cancel);
    EXPECT_EQ(d.TabWanted, Tab::Transfers);
    EXPECT_EQ(d.FocusWanted, ZField::Serial);
    EXPECT_EQ(ed.Zone.Serial, 2026010105u);
    EXPECT_FALSE(ed.ZoneChanged);

    prompt.askAnswers = {Answer::Ok};
    d.txtTTL[0] = 1800;
    EXPECT_TRUE(d.OK());
    EXPECT_EQ(ed.Zone.Serial, 2026010101u);
    EXPECT_EQ(ed.Zone.TTL[1], 1800u);
    EXPECT_TRUE(ed.ZoneChanged);
    ASSERT_TRUE(ed.CommitZone());
    EXPECT_EQ(OnDisk("example.com.").Serial, 2026010101u);

    // Raising it asks nothing.
    ed.LoadZone("example.com");
    prompt.boxes.clear();
    frmZone& up = Dialog(false);
    up.txtSer = "2026010200";
    EXPECT_TRUE(up.OK());
    EXPECT_TRUE(prompt.boxes.empty());
}

TEST_F(FrmZoneTest, SerialTextKeepsTheWholeUnsigned32BitValue) {
    frmZone& d = Dialog(true);
    for (const auto& [typed, shown] :
         std::vector<std::pair<std::string, std::string>>{{"-123.9", "123"},
                                                          {"4294967295", "4294967295"},
                                                          {"4294967296", "0"},
                                                          {"abc", "0"},
                                                          {" 2026120602 ", "2026120602"}}) {
        d.txtSer = typed;
        d.SerialLeft();
        EXPECT_EQ(d.txtSer, shown) << typed;
    }
}

TEST_F(FrmZoneTest, SecondaryKeepsItsSoaAndTakesThePrimaryAddress) {
    Load("example.com", kExample);
    frmZone& d = Dialog(false);
    d.PrimaryClicked(false);
    d.txtPrimS = "changed.example.net";
    d.txtSer = "1";
    d.txtTTL[0] = 1;
    d.txtPrimIP = "192.0.2.1";
    ASSERT_TRUE(d.OK()) << LastBox();
    EXPECT_TRUE(prompt.boxes.empty());
    EXPECT_EQ(ed.Zone.PrimIP, "192.0.2.1");
    EXPECT_EQ(ed.Zone.PrimServ, "ns1.example.com.");
    EXPECT_EQ(ed.Zone.EMail, "hostmaster.example.com.");
    EXPECT_EQ(ed.Zone.Serial, 2026010105u);
    EXPECT_EQ(ed.Zone.TTL[1], 7200u);
    EXPECT_EQ(ed.Zone.TTL[4], 300u);

    // Back to primary: the address goes.
    frmZone& p = Dialog(false);
    EXPECT_FALSE(p.chkPrimary);
    EXPECT_EQ(p.txtPrimIP, "192.0.2.1");
    p.PrimaryClicked(true);
    ASSERT_TRUE(p.OK()) << LastBox();
    EXPECT_EQ(ed.Zone.PrimIP, "");
}

TEST_F(FrmZoneTest, NotifyListAddRemoveAndTheFlagAreStored) {
    Load("example.com", std::string("; Notify 10.0.0.7\r\n") + kExample);
    frmZone& d = Dialog(false);
    d.Add();  // empty: nothing
    d.txtIP = "10.0.0.7";
    d.Add();  // listed: nothing, the entry stays typed
    EXPECT_EQ(d.txtIP, "10.0.0.7");
    d.txtIP = "10.0.0.9";
    d.Add();
    EXPECT_EQ(d.txtIP, "");
    d.txtIP = "10.0.0.5";
    d.Add();
    EXPECT_EQ(d.List1, (Lines{"10.0.0.7", "10.0.0.9", "10.0.0.5"}));
    d.ListClicked(0);
    EXPECT_EQ(d.txtIP, "10.0.0.7");
    d.Remove();
    EXPECT_EQ(d.txtIP, "");
    d.chkOS = false;
    ASSERT_TRUE(d.OK());
    EXPECT_EQ(ed.Zone.Slaves, (Lines{"10.0.0.9", "10.0.0.5"}));
    EXPECT_FALSE(ed.Zone.Secure);
}

TEST_F(FrmZoneTest, UseAsDefaultFeedsTheNextNewZone) {
    frmZone& d = Dialog(true);
    d.txtPrimS = "NS.Example.org";
    d.txtEMail = "admin@example.org";
    d.minTTL = 600;
    d.txtTTL[0] = 10800;
    d.txtTTL[1] = 1800;
    d.txtTTL[2] = 604800;
    d.List1 = {"10.0.0.2", "10.0.0.3"};
    d.chkOS = false;
    d.UseAsDefault();
    EXPECT_EQ(ed.Defaults[6], "ns.example.org.");
    EXPECT_EQ(ed.Defaults[7], "admin.example.org.");
    EXPECT_EQ(ed.Defaults[8], "600");
    EXPECT_EQ(ed.Defaults[9], "10800");
    EXPECT_EQ(ed.Defaults[10], "1800");
    EXPECT_EQ(ed.Defaults[11], "604800");
    EXPECT_EQ(ed.Defaults[12], "10.0.0.2 10.0.0.3 ");
    EXPECT_EQ(ed.Defaults[13], "0");
    ASSERT_TRUE(ed.SaveEditorSettings());

    kest::test::RecordingSender s2;
    clEditor again(dir.path(), clock, s2, prompt);
    again.LoadEditorSettings();
    frmZone next({again, clock, {}, [](const std::string&) { return true; }});
    next.LoadZone(true);
    EXPECT_EQ(next.txtPrimS, "ns.example.org");
    EXPECT_EQ(next.txtEMail, "admin@example.org");
    EXPECT_EQ(next.minTTL, 600);
    EXPECT_EQ(next.txtTTL[2], 604800);
    EXPECT_EQ(next.List1, (Lines{"10.0.0.2", "10.0.0.3"}));
    EXPECT_FALSE(next.chkOS);
}

// Another editor may have written the file since the list was read: the new zone replaces it
// by a rename, so a reader holding the old file (here a second link to it) never sees a mix.
TEST_F(FrmZoneTest, NewZoneFileIsReplacedAtomically) {
    const std::string old = "; written elsewhere\r\n";
    WriteFile("data/example.org.dns", old);
    std::filesystem::create_hard_link(ed.DataDir() / "example.org.dns", dir.path() / "held.dns");
    frmZone& d = Dialog(true);
    d.txtName = "example.org";
    d.txtPrimS = "ns1.example.org";
    ASSERT_TRUE(d.OK()) << LastBox();
    EXPECT_EQ(ReadFile("held.dns"), old);
    EXPECT_EQ(OnDisk("example.org.").PrimServ, "ns1.example.org.");
    for (const auto& e : std::filesystem::directory_iterator(ed.DataDir()))
        EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
}

TEST_F(FrmZoneTest, UnwritableDataFolderShowsWhyAndAddsNoZone) {
    // A file where the folder should be: no zone file can be written there, not even by root.
    std::filesystem::remove_all(ed.DataDir());
    WriteFile("data", "");
    frmZone& d = Dialog(true);
    d.txtName = "example.org";
    d.txtPrimS = "ns1.example.org";
    EXPECT_FALSE(d.OK());
    EXPECT_EQ(LastBox().rfind("Could not save the zone file ", 0), 0u) << LastBox();
    EXPECT_TRUE(selected.empty());
}

// ---- Quick domain wizard ------------------------------------------------------------------------

class FrmQuickTest : public ::testing::Test, protected kest::test::ZonesFixture {
  protected:
    frmQuick& Wizard() {
        dlg = std::make_unique<frmQuick>(Host());
        dlg->Open();
        return *dlg;
    }
    std::unique_ptr<frmQuick> dlg;
};

TEST_F(FrmQuickTest, MailOnlyWithLoopbackPrimaryMakesNsMxAndMailAddress) {
    WriteFile("kestrund.ini", "Name: ns.example.net\r\nPrimaryIP: 127.0.0.1\r\n");
    ed.LoadServerSettings();
    frmQuick& q = Wizard();
    q.txtName = "Example.com";
    q.txtIP2 = "192.0.2.25";
    ASSERT_TRUE(q.OK()) << LastBox();
    const clZone z = OnDisk("example.com.");
    EXPECT_EQ(Texts(z), (Lines{"example.com. MX 100 mail.example.com. 3600",
                               "example.com. NS ns.example.net. 3600",
                               "mail.example.com. A 192.0.2.25 3600"}));
    EXPECT_EQ(z.PrimServ, "ns.example.net.");
    EXPECT_EQ(z.EMail, "hostmaster.example.com.");
    EXPECT_EQ(z.Serial, 2026120601u);
    EXPECT_EQ(z.TTL[1], 86400u);
    EXPECT_EQ(z.TTL[2], 3600u);
    EXPECT_EQ(z.TTL[3], 777600u);
    EXPECT_EQ(z.TTL[4], 3600u);
    EXPECT_TRUE(z.Secure);
    EXPECT_EQ(selected, (Lines{"example.com"}));
    EXPECT_TRUE(ed.ZoneChanged);
    EXPECT_EQ(ed.ZoneSerial, 0);

    // The next save writes it again, asks for a reload and leaves the serial alone.
    WriteFile("kestrund.ini", "Name: ns.example.net\r\nReloadPort: 40001\r\n");
    ASSERT_TRUE(ed.CommitZone());
    EXPECT_EQ(OnDisk("example.com.").Serial, 2026120601u);
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(sender.sent[0].first, "reload example.com.");
}

TEST_F(FrmQuickTest, EveryAddressWithAServerAddressAndASecondServer) {
    WriteFile("kestrund.ini", "Name: ns.example.net\r\nPrimaryIP: 192.0.2.53\r\n");
    ed.LoadServerSettings();
    ed.Defaults[12] = "192.0.2.99 ";
    frmQuick& q = Wizard();
    q.txtName = "example.com";
    q.txtIP1 = "192.0.2.80";
    q.txtIP3 = "192.0.2.21";
    q.txtDNS = "NS2.Example.org.";
    q.txtIP4 = "192.0.2.99";
    ASSERT_TRUE(q.OK()) << LastBox();
    const clZone z = OnDisk("example.com.");
    EXPECT_EQ(
        Texts(z),
        (Lines{"example.com. NS ns.example.net. 3600", "example.com. NS ns2.example.org. 3600",
               "ftp.example.com. A 192.0.2.21 3600", "ns.example.net. A 192.0.2.53 3600",
               "ns2.example.org. A 192.0.2.99 3600", "www.example.com. A 192.0.2.80 3600"}));
    // Already listed: not twice.
    EXPECT_EQ(z.Slaves, (Lines{"192.0.2.99"}));
}

TEST_F(FrmQuickTest, WithoutServerNameOrDefaultsTheZoneNamesItsOwnServer) {
    ed.Defaults[13] = "0";
    frmQuick& q = Wizard();
    q.txtName = "example.org";
    q.txtIP4 = "192.0.2.7";  // no name for it: only notified
    ASSERT_TRUE(q.OK()) << LastBox();
    const clZone z = OnDisk("example.org.");
    EXPECT_EQ(z.PrimServ, "ns1.example.org.");
    EXPECT_FALSE(z.Secure);
    EXPECT_EQ(z.Slaves, (Lines{"192.0.2.7"}));
    EXPECT_EQ(Texts(z), (Lines{"example.org. NS ns1.example.org. 3600"}));
}

TEST_F(FrmQuickTest, DefaultsRoundTripAndRefusals) {
    frmQuick& q = Wizard();
    q.txtIP1 = "10.0.0.1";
    q.txtIP2 = "10.0.0.2";
    q.txtIP3 = "10.0.0.3";
    q.txtDNS = "Ns2.Example.net";
    q.txtIP4 = "10.0.0.4";
    q.UseAsDefault();
    frmQuick& again = Wizard();
    EXPECT_EQ(again.txtIP1, "10.0.0.1");
    EXPECT_EQ(again.txtIP2, "10.0.0.2");
    EXPECT_EQ(again.txtIP3, "10.0.0.3");
    EXPECT_EQ(again.txtDNS, "ns2.example.net");
    EXPECT_EQ(again.txtIP4, "10.0.0.4");

    // An empty name does nothing; a listed one is refused with the focus on it.
    EXPECT_FALSE(again.OK());
    EXPECT_TRUE(prompt.boxes.empty());
    zoneList = {"example.com"};
    frmQuick& dup = Wizard();
    dup.txtName = "EXAMPLE.com";
    EXPECT_FALSE(dup.OK());
    EXPECT_EQ(LastBox(), "Zone with this domain name already exists!");
    EXPECT_EQ(dup.FocusWanted, frmQuick::Field::Name);
    EXPECT_FALSE(std::filesystem::exists(ed.DataDir() / "example.com.dns"));
}

// ---- Copy ---------------------------------------------------------------------------------------

class FrmCopyTest : public ::testing::Test, protected kest::test::ZonesFixture {};

TEST_F(FrmCopyTest, RefusesTheRootAndSecondaries) {
    Load("<root>", "@ 3600 SOA a.root hostmaster 1 2 3 4 5\r\n");
    EXPECT_EQ(frmCopy::Refusal(ed), "Cannot copy <root> zone!");
    Load("sec.org", "; PrimaryIP 10.0.0.1\r\nwww A 10.0.0.81\r\n");
    EXPECT_EQ(frmCopy::Refusal(ed), "Can only copy Zones for which this server is Primary!");
    Load("example.com", kExample);
    EXPECT_EQ(frmCopy::Refusal(ed), "");
}

TEST_F(FrmCopyTest, RenamesOwnersAndTargetsInsideTheZoneOnly) {
    Load("example.com",
         "; Notify 10.0.0.7\r\n"
         "@ 3600 SOA ns1 hostmaster.example.com. 2026010105 7200 900 1209600 300\r\n"
         " 3600 NS ns1\r\n"
         " 7200 NS ns.other.net.\r\n"
         "@ 3600 MX 10 mail\r\n"
         "cdn 600 CNAME cdn.other.net.\r\n"
         "alias 600 CNAME www\r\n"
         "notexample.com. 600 A 10.0.0.9\r\n"
         "pc1 3600 A 10.0.0.21\r\n"
         "_sip._udp.example.com. 3600 SRV 0 5 5060 sip\r\n"
         "txt 3600 TXT \"example.com\"\r\n");
    zoneList = {"example.com"};
    frmCopy c(Host());
    c.Open();
    EXPECT_EQ(c.txtFrom, "example.com");
    c.txtTo = " Example.ORG ";
    ASSERT_TRUE(c.OK()) << LastBox();
    const clZone z = OnDisk("example.org.");
    EXPECT_EQ(z.PrimServ, "ns1.example.org.");
    EXPECT_EQ(z.EMail, "hostmaster.example.org.");
    EXPECT_EQ(z.Serial, 2026120601u);
    EXPECT_EQ(z.TTL[1], 7200u);
    EXPECT_EQ(z.TTL[4], 300u);
    EXPECT_EQ(z.Slaves, (Lines{"10.0.0.7"}));
    EXPECT_EQ(
        Texts(z),
        (Lines{"_sip._udp.example.org. SRV 0 5 5060 sip.example.org. 3600",
               "alias.example.org. CNAME www.example.org. 600",
               "cdn.example.org. CNAME cdn.other.net. 600",
               "example.org. MX 10 mail.example.org. 3600", "example.org. NS ns.other.net. 7200",
               "example.org. NS ns1.example.org. 3600", "notexample.com. A 10.0.0.9 600",
               "pc1.example.org. A 10.0.0.21 3600", "txt.example.org. TXT example.com 3600"}));
    // The source stays as it was; the copy is the selected zone now.
    EXPECT_EQ(OnDisk("example.com.").Records.size(), 9u);
    EXPECT_EQ(selected, (Lines{"example.org"}));
    EXPECT_EQ(ed.Zone.Name, "example.org.");
    EXPECT_TRUE(ed.ZoneChanged);
    EXPECT_EQ(ed.ZoneSerial, 0);
}

TEST_F(FrmCopyTest, EmptyOrListedNameWritesNothing) {
    Load("example.com", kExample);
    zoneList = {"example.com", "example.net"};
    frmCopy c(Host());
    c.Open();
    EXPECT_FALSE(c.OK());
    EXPECT_TRUE(prompt.boxes.empty());
    c.txtTo = "example.net";
    EXPECT_FALSE(c.OK());
    EXPECT_EQ(LastBox(), "Zone already exists!");
    EXPECT_EQ(c.FocusWanted, frmCopy::Field::To);
    EXPECT_TRUE(selected.empty());
}

}  // namespace
