// The main window's controller: zone selection and saving, the enabling rules, data texts,
// deleting zones and records, the record dialog, help and the view settings.
#include "editor/frmMain.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/paths.h"
#include "tests/editor/editor_fixture.h"
#include "tests/support/recording_launcher.h"

using namespace editor;
using Answer = platform::IPrompt::Answer;
using Side = frmMain::Side;
using Lines = std::vector<std::string>;
using Sent = std::vector<std::pair<std::string, uint16_t>>;

namespace {

class Dialogs : public IMainDialogs, public IReverseChooser {
  public:
    void ShowRecordDialog(frmRec& d) override {
        ++shown;
        readOnly = d.ReadOnly;
        if (fill) fill(d);
    }
    std::string ChooseReverseZone(const std::vector<std::string>&) override { return ""; }
    std::function<void(frmRec&)> fill;
    int shown = 0;
    bool readOnly = false;
};

class FrmMainTest : public ::testing::Test, protected kest::test::EditorFixture {
  protected:
    FrmMainTest() : store(dir.path() / "user.ini"), main(ed, launcher, dialogs, dialogs, store) {
        WriteFile("kestrund.ini", "ReloadPort: 40001\r\n");
        WriteFile("data/example.com.dns",
                  "@ 3600 SOA ns1 hostmaster 2026010101 3600 600 86400 3600\r\n"
                  " 3600 NS ns1\r\n"
                  "mail 3600 MX 10 mx.example.net.\r\n"
                  "sip 3600 SRV 0 5 5060 sip.example.com.\r\n"
                  "txt 3600 TXT \"first\" \"second\"\r\n"
                  "www 3600 A 10.0.0.80\r\n");
        WriteFile("data/sec.org.dns", "; PrimaryIP 10.0.0.1\r\nwww A 10.0.0.81\r\n");
        WriteFile("data/empty.net.dns", "");
        ed.LoadServerSettings();
    }
    Lines RowTexts() {
        Lines out;
        for (const auto& r : main.Rows()) out.push_back(r.name + "|" + r.type + "|" + r.data);
        return out;
    }
    int IndexOf(const std::string& zone) {
        const auto it = std::find(main.ZoneList.begin(), main.ZoneList.end(), zone);
        return it == main.ZoneList.end() ? -1 : static_cast<int>(it - main.ZoneList.begin());
    }
    std::string Key(const std::string& name, int16_t type) {
        for (const auto& r : ed.Zone.Records)
            if (r.Name == name && r.RecType == type) return r.KeyNo;
        return "";
    }
    // Enabled commands as letters: New record, Properties, Copy, Delete.
    std::string Enabled() {
        return std::string(main.CanNewRecord() ? "N" : "-") + (main.CanProperties() ? "P" : "-") +
               (main.CanCopy() ? "C" : "-") + (main.CanDelete() ? "D" : "-");
    }

    kest::test::RecordingLauncher launcher;
    Dialogs dialogs;
    platform::SettingsStore store;
    frmMain main;
};

TEST_F(FrmMainTest, OpensWithTheTopmostZoneAndShowsItsRecords) {
    main.Open();
    EXPECT_EQ(main.ZoneList, (Lines{"empty.net", "example.com", "sec.org"}));
    EXPECT_EQ(main.SelectedZone, 0);
    EXPECT_EQ(main.Focus, Side::Zones);
    EXPECT_EQ(main.ZoneLabel(), "empty.net ");
    EXPECT_EQ(main.StatusText(), "0 Records");
    EXPECT_TRUE(main.ShowToolBar);
    EXPECT_TRUE(main.ShowStatusBar);
    ASSERT_TRUE(main.SelectZone(IndexOf("example.com")));
    EXPECT_EQ(main.ZoneLabel(), "example.com ");
    EXPECT_EQ(main.StatusText(), "5 Records");
    EXPECT_EQ(RowTexts(),
              (Lines{
                  "example.com|NS|ns1.example.com",
                  "mail.example.com|MX|mx.example.net (Preference 10)",
                  "sip.example.com|SRV|sip.example.com (Priority 0, Weight 5, Port 5060)",
                  "txt.example.com|TXT|first",
                  "www.example.com|A|10.0.0.80",
              }));
    EXPECT_EQ(main.SelectedRecord, Key("example.com.", kNS));
    EXPECT_TRUE(prompt.boxes.empty());
    EXPECT_TRUE(sender.sent.empty());
}

TEST_F(FrmMainTest, CommandsEnabledBySideAndZoneKind) {
    main.Open();  // empty.net: no records
    EXPECT_EQ(Enabled(), "N--D");
    main.SetFocus(Side::Records);
    EXPECT_EQ(Enabled(), "N---");
    main.SelectZone(IndexOf("example.com"));
    EXPECT_EQ(Enabled(), "NPCD");
    main.SetFocus(Side::Zones);
    EXPECT_EQ(Enabled(), "N--D");
    // A secondary zone: its records can be looked at, not changed.
    main.SelectZone(IndexOf("sec.org"));
    EXPECT_EQ(Enabled(), "---D");
    main.SetFocus(Side::Records);
    EXPECT_EQ(Enabled(), "-P--");
    main.Properties();
    EXPECT_EQ(dialogs.shown, 1);
    EXPECT_TRUE(dialogs.readOnly);
    main.NewRecord();
    main.Copy();
    main.Delete();
    EXPECT_EQ(dialogs.shown, 1);
    EXPECT_EQ(ed.Zone.Records.size(), 1u);
    EXPECT_FALSE(ed.ZoneChanged);
}

TEST_F(FrmMainTest, NewCopyAndEditedRecordsAreSavedWhenTheZoneIsLeft) {
    main.Open();
    main.SelectZone(IndexOf("example.com"));
    main.SetFocus(Side::Zones);
    dialogs.fill = [](frmRec& d) {
        d.txtName = "ftp";
        d.txtIP = "10.0.0.21";
        d.OK();
    };
    main.NewRecord();
    EXPECT_EQ(main.Focus, Side::Records);
    EXPECT_EQ(main.SelectedRecord, Key("ftp.example.com.", kA));
    EXPECT_EQ(main.StatusText(), "6 Records");
    // A cancelled dialog changes nothing.
    const int version = main.RecordsVersion;
    dialogs.fill = nullptr;
    main.NewRecord();
    EXPECT_EQ(main.RecordsVersion, version);
    // Copy of the selected record under another name.
    dialogs.fill = [](frmRec& d) {
        d.txtName = "ftp2";
        d.OK();
    };
    main.Copy();
    EXPECT_EQ(main.SelectedRecord, Key("ftp2.example.com.", kA));
    EXPECT_TRUE(sender.sent.empty());

    main.SelectZone(IndexOf("sec.org"));
    EXPECT_EQ(sender.sent, (Sent{{"reload example.com.", 40001}}));
    const std::string file = ReadFile("data/example.com.dns");
    EXPECT_NE(file.find("\r\nftp 3600 A 10.0.0.21\r\nftp2 3600 A 10.0.0.21\r\n"), std::string::npos)
        << file;
    EXPECT_NE(file.find(" 2026120601 "), std::string::npos) << file;
    // Back again: nothing changed, nothing saved.
    main.SelectZone(IndexOf("example.com"));
    main.SelectZone(IndexOf("sec.org"));
    EXPECT_EQ(sender.sent.size(), 1u);
}

TEST_F(FrmMainTest, AZoneThatCannotBeSavedStaysSelected) {
    main.Open();
    main.SelectZone(IndexOf("example.com"));
    main.SetFocus(Side::Records);
    main.Delete();  // the NS record, without a question
    EXPECT_TRUE(prompt.boxes.empty());
    EXPECT_TRUE(ed.ZoneChanged);
    EXPECT_EQ(main.SelectedRecord, Key("mail.example.com.", kMX));
    EXPECT_EQ(main.StatusText(), "4 Records");
    // The file is replaced by renaming: a folder in its place makes that fail.
    std::filesystem::remove(dir.path() / "data/example.com.dns");
    std::filesystem::create_directory(dir.path() / "data/example.com.dns");
    EXPECT_FALSE(main.SelectZone(IndexOf("sec.org")));
    EXPECT_EQ(main.ZoneLabel(), "example.com ");
    EXPECT_EQ(main.SelectedZone, IndexOf("example.com"));
    EXPECT_TRUE(ed.ZoneChanged);
    EXPECT_EQ(prompt.boxes.size(), 1u);
    EXPECT_TRUE(sender.sent.empty());
    std::filesystem::remove(dir.path() / "data/example.com.dns");
    EXPECT_TRUE(main.SelectZone(IndexOf("sec.org")));
    EXPECT_EQ(sender.sent, (Sent{{"reload example.com.", 40001}}));
}

TEST_F(FrmMainTest, DeletingZonesAsksFirstAndTellsTheServer) {
    main.Open();
    main.SelectZone(IndexOf("example.com"));
    main.SetFocus(Side::Zones);
    prompt.askAnswers = {Answer::No};
    main.Delete();
    ASSERT_EQ(prompt.boxes.size(), 1u);
    EXPECT_EQ(prompt.boxes[0].text, "Delete Zone 'example.com' ?");
    EXPECT_EQ(prompt.boxes[0].buttons, platform::IPrompt::Buttons::YesNo);
    EXPECT_EQ(prompt.boxes[0].defaultButton, Answer::No);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "data/example.com.dns"));

    // A change not yet saved goes with the zone.
    ed.ZoneChanged = true;
    prompt.askAnswers = {Answer::Yes};
    main.Delete();
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "data/example.com.dns"));
    EXPECT_EQ(sender.sent, (Sent{{"unload example.com.", 40001}}));
    EXPECT_EQ(main.ZoneList, (Lines{"empty.net", "sec.org"}));
    EXPECT_EQ(main.ZoneLabel(), "sec.org ");  // the entry now selected is loaded
    EXPECT_EQ(main.Focus, Side::Zones);

    prompt.askAnswers = {Answer::Yes, Answer::Yes};
    main.Delete();
    main.Delete();
    EXPECT_TRUE(main.ZoneList.empty());
    EXPECT_TRUE(main.Rows().empty());
    EXPECT_EQ(main.ZoneLabel(), "");
    EXPECT_EQ(main.StatusText(), "0 Records");
    EXPECT_EQ(sender.sent.back().first, "unload empty.net.");
    EXPECT_EQ(Enabled(), "----");
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "data/sec.org.dns"));
    EXPECT_EQ(sender.sent.size(), 3u);
}

TEST_F(FrmMainTest, AFailedDeleteKeepsTheZoneAndSendsNothing) {
    std::filesystem::create_directories(dir.path() / "data/stuck.org.dns/inside");
    main.Open();
    main.ZoneList.push_back("stuck.org");  // as listed before it turned into a folder
    ASSERT_TRUE(main.SelectZone(static_cast<int>(main.ZoneList.size()) - 1));
    prompt.askAnswers = {Answer::Yes};
    main.Delete();
    EXPECT_EQ(main.ZoneList.back(), "stuck.org");
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_NE(prompt.boxes.back().text.find("Could not delete"), std::string::npos);
}

TEST_F(FrmMainTest, HelpAndSupportOpenInTheBrowser) {
    main.Open();
    main.Help();
    main.OnlineSupport();
    EXPECT_EQ(launcher.urls, (Lines{platform::ManualUrl("editor.html"), kSupportUrl}));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "temphtm.htm"));
    launcher.succeed = false;
    main.OnlineSupport();
    EXPECT_EQ(prompt.boxes.back().text, std::string("Could not open ") + kSupportUrl);
}

TEST_F(FrmMainTest, ClosingMergesPendingPTRsAndKeepsTheSettings) {
    WriteFile("data/5.168.192.in-addr.arpa.dns", "130 PTR old.example.com.\r\n");
    main.Open();
    main.SelectZone(IndexOf("example.com"));
    main.ZoneList = ListZones(dir.path() / "data");
    main.SetToolBar(false);
    ed.PendingPTR = {"5.168.192.in-addr.arpa 130 pc1.example.com", "9.9.9.in-addr.arpa 1 lost"};
    ed.Defaults[1] = "10.0.0.80";
    main.Close();
    EXPECT_TRUE(ed.PendingPTR.empty());
    EXPECT_EQ(ReadFile("data/5.168.192.in-addr.arpa.dns"), "130 3600 PTR pc1.example.com.\r\n");
    EXPECT_EQ(sender.sent, (Sent{{"reload 5.168.192.in-addr.arpa.", 40001}}));
    EXPECT_NE(ReadFile("kestzone.ini").find("Default: 1 10.0.0.80\r\n"), std::string::npos);

    // The view settings come back at the next opening.
    frmMain again(ed, launcher, dialogs, dialogs, store);
    again.Open();
    EXPECT_FALSE(again.ShowToolBar);
    EXPECT_TRUE(again.ShowStatusBar);
}

}  // namespace
