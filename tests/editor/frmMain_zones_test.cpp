// The main window's zone-making commands: which are enabled, what each opens, and the new zone
// taking its place in the zone list and becoming the loaded zone.
#include <gtest/gtest.h>

#include <functional>

#include "editor/frmMain.h"
#include "editor/zone_commands.h"
#include "tests/editor/zones_fixture.h"
#include "tests/support/recording_launcher.h"

using namespace editor;
using Answer = platform::IPrompt::Answer;
using Side = frmMain::Side;
using Lines = std::vector<std::string>;

namespace {

class Dialogs : public IMainDialogs, public IReverseChooser, public IZoneDialogs {
  public:
    void ShowRecordDialog(frmRec& d) override {
        if (record) record(d);
    }
    std::string ChooseReverseZone(const std::vector<std::string>&) override { return ""; }
    void ShowZone(frmZone& d) override {
        shown.push_back("zone " + d.Caption);
        if (zone) zone(d);
    }
    void ShowQuick(frmQuick& d) override {
        shown.push_back("quick");
        if (quick) quick(d);
    }
    void ShowCopy(frmCopy& d) override {
        shown.push_back("copy " + d.txtFrom);
        if (copy) copy(d);
    }
    void ShowArpa(frmArpa& d) override {
        shown.push_back("arpa " + d.txtIP);
        if (arpa) arpa(d);
    }
    std::function<void(frmRec&)> record;
    std::function<void(frmZone&)> zone;
    std::function<void(frmQuick&)> quick;
    std::function<void(frmCopy&)> copy;
    std::function<void(frmArpa&)> arpa;
    Lines shown;
};

class FrmMainZonesTest : public ::testing::Test, protected kest::test::ZonesFixture {
  protected:
    FrmMainZonesTest()
        : store(dir.path() / "user.ini"), main(ed, launcher, dialogs, dialogs, store) {
        WriteFile("kestrund.ini", "Name: ns.example.net\r\nReloadPort: 40001\r\n");
        WriteFile("data/example.com.dns",
                  "@ 3600 SOA ns1 hostmaster 2026010101 3600 600 86400 3600\r\n"
                  " 3600 NS ns1\r\nwww 3600 A 10.0.0.80\r\n");
        WriteFile("data/sec.org.dns", "; PrimaryIP 10.0.0.1\r\nwww A 10.0.0.81\r\n");
        ed.LoadServerSettings();
        main.SetZoneDialogs(dialogs, clock);
        main.Open();
    }
    int IndexOf(const std::string& zone) {
        const auto it = std::find(main.ZoneList.begin(), main.ZoneList.end(), zone);
        return it == main.ZoneList.end() ? -1 : static_cast<int>(it - main.ZoneList.begin());
    }

    kest::test::RecordingLauncher launcher;
    Dialogs dialogs;
    platform::SettingsStore store;
    frmMain main;
};

TEST_F(FrmMainZonesTest, ZoneSidePropertiesAndCopyFollowTheZoneKind) {
    EXPECT_TRUE(main.CanProperties());
    EXPECT_TRUE(main.CanCopy());
    EXPECT_TRUE(main.CanNewByFocus());
    main.Properties();
    EXPECT_EQ(dialogs.shown, (Lines{"zone Zone \"example.com\" Properties"}));
    main.Copy();
    EXPECT_EQ(dialogs.shown.back(), "copy example.com");

    ASSERT_TRUE(main.SelectZone(IndexOf("sec.org")));
    EXPECT_TRUE(main.CanProperties());
    EXPECT_FALSE(main.CanCopy());
    EXPECT_FALSE(main.CanNewRecord());
    EXPECT_TRUE(main.CanNewByFocus());  // a new zone
    main.SetFocus(Side::Records);
    EXPECT_FALSE(main.CanNewByFocus());
    main.SetFocus(Side::Zones);
    main.NewByFocus();
    EXPECT_EQ(dialogs.shown.back(), "zone New Zone Properties");
}

TEST_F(FrmMainZonesTest, NewZoneJoinsTheListInOrderAfterTheZoneLeftIsSaved) {
    main.SetFocus(Side::Records);
    ed.Zone.Records.pop_back();  // an unsaved change in example.com
    ed.ZoneChanged = true;
    dialogs.zone = [](frmZone& d) {
        d.txtName = "example.net";
        ASSERT_TRUE(d.OK());
    };
    main.NewZone();
    EXPECT_EQ(main.ZoneList, (Lines{"example.com", "example.net", "sec.org"}));
    EXPECT_EQ(main.SelectedZone, 1);
    EXPECT_EQ(main.Focus, Side::Zones);
    EXPECT_EQ(main.ZoneLabel(), "example.net ");
    EXPECT_EQ(ed.Zone.PrimServ, "ns.example.net.");
    EXPECT_EQ(OnDisk("example.com.").Records.size(), 1u);
    ASSERT_FALSE(sender.sent.empty());
    EXPECT_EQ(sender.sent.front().first, "reload example.com.");
    // The serial typed in the dialog survives the next save.
    EXPECT_TRUE(main.SelectZone(0));
    EXPECT_EQ(OnDisk("example.net.").Serial, 2026120601u);
    EXPECT_EQ(sender.sent.back().first, "reload example.net.");
}

TEST_F(FrmMainZonesTest, CopyRefusedForSecondaryZonesBeforeTheDialog) {
    ASSERT_TRUE(main.SelectZone(IndexOf("sec.org")));
    // Enabled or not, the command itself refuses.
    ed.Zone.PrimIP = "10.0.0.1";
    main.Copy();
    EXPECT_TRUE(dialogs.shown.empty());
    ASSERT_TRUE(main.SelectZone(IndexOf("example.com")));
    dialogs.copy = [](frmCopy& c) {
        c.txtTo = "example.org";
        ASSERT_TRUE(c.OK());
    };
    main.Copy();
    EXPECT_EQ(main.ZoneList, (Lines{"example.com", "example.org", "sec.org"}));
    EXPECT_EQ(main.ZoneLabel(), "example.org ");
}

TEST_F(FrmMainZonesTest, QuickDomainAndReverseWizard) {
    dialogs.quick = [](frmQuick& q) {
        q.txtName = "shop.example";
        q.txtIP1 = "192.0.2.80";
        ASSERT_TRUE(q.OK());
    };
    main.QuickDomain();
    EXPECT_EQ(main.ZoneLabel(), "shop.example ");
    EXPECT_EQ(main.Rows().size(), 2u);

    // On a forward zone the wizard opens empty without a question.
    dialogs.arpa = [](frmArpa& w) {
        w.IPLeft("192.0.2.1");
        w.SelectAll();
        w.FillSelected("shop.example");
        ASSERT_TRUE(w.OK());
    };
    main.ReverseWizard();
    EXPECT_TRUE(prompt.boxes.empty());
    EXPECT_EQ(main.ZoneLabel(), "2.0.192.in-addr.arpa ");
    EXPECT_EQ(main.Rows().size(), 257u);  // with the NS record
    // On that reverse zone it asks; Cancel opens nothing.
    prompt.askAnswers = {Answer::Cancel};
    const size_t shown = dialogs.shown.size();
    main.ReverseWizard();
    EXPECT_EQ(prompt.boxes.size(), 1u);
    EXPECT_EQ(dialogs.shown.size(), shown);
}

TEST_F(FrmMainZonesTest, RecordDialogHandsANewAddressToTheWizard) {
    main.SetFocus(Side::Records);
    dialogs.record = [](frmRec& d) {
        d.ChooseType(0);
        d.txtName = "pc7";
        d.txtIP = "10.1.2.7";
        d.chkPTR = true;
        d.NameLeft();
        EXPECT_TRUE(d.OK());
    };
    prompt.askAnswers = {Answer::Yes};  // "Could not find Reverse Zone!": create it
    Lines rows;
    dialogs.arpa = [&rows](frmArpa& w) {
        for (const auto& r : w.Rows)
            if (!r.name.empty()) rows.push_back(r.ip + " " + r.name);
        EXPECT_EQ(w.SubnetIndex, 0);
        ASSERT_TRUE(w.OK());
    };
    main.NewRecord();
    ASSERT_EQ(dialogs.shown, (Lines{"arpa 10.1.2.7"})) << LastBox();
    EXPECT_EQ(rows, (Lines{"10.1.2.7 pc7.example.com"}));
    // The forward zone was saved with its new address when the reverse zone was selected.
    EXPECT_EQ(main.ZoneLabel(), "2.1.10.in-addr.arpa ");
    bool found = false;
    for (const auto& r : OnDisk("example.com.").Records) found |= r.Name == "pc7.example.com.";
    EXPECT_TRUE(found);
    EXPECT_EQ(Texts(ed.Zone), (Lines{"2.1.10.in-addr.arpa. NS ns.example.net. 86400",
                                     "7.2.1.10.in-addr.arpa. PTR pc7.example.com. 3600"}));
}

}  // namespace
