// The editor's windows on the offscreen platform: keys and the default button reach the
// controllers, every control is named, and (with KEST_SHOTS_DIR set) pictures of each window.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>
#include <cstdlib>

#include "editor/frmMainView.h"
#include "editor/frmRecView.h"
#include "tests/editor/editor_fixture.h"
#include "tests/editor/view_checks.h"
#include "tests/support/recording_launcher.h"
#include "tests/widgets/gui_env.h"
#include "widgets/ctlIP.h"
#include "widgets/ctlTTL.h"

using namespace editor;
using kest::test::Child;
using kest::test::ExpectNamed;
using kest::test::Open;
using kest::test::Shot;

namespace {

class ViewsTest : public ::testing::Test, protected kest::test::EditorFixture {
  protected:
    ViewsTest() {
        WriteFile("data/example.com.dns",
                  "@ 3600 SOA ns1 hostmaster 2026010101 3600 600 86400 3600\r\n"
                  " 3600 NS ns1\r\n"
                  " 3600 MX 10 mail\r\n"
                  "mail 3600 A 192.0.2.25\r\n"
                  "sip 3600 SRV 0 5 5060 sip.example.com.\r\n"
                  "info 90061 TXT \"Kestrune example zone\"\r\n"
                  "www 3600 A 192.0.2.10\r\n"
                  "ftp 3600 CNAME www\r\n"
                  "10 3600 PTR host.example.net.\r\n");
        ed.LoadZone("example.com");
        ed.CurrentZoneText = "example.com";
    }
    std::string Key(const std::string& name, int16_t type) {
        for (const auto& r : ed.Zone.Records)
            if (r.Name == name && r.RecType == type) return r.KeyNo;
        return "";
    }
    void Type(const char* text) { kest::test::TypeKeys(text); }

    kest::test::RecordingLauncher launcher;
};

class NoChooser : public IReverseChooser {
  public:
    std::string ChooseReverseZone(const std::vector<std::string>&) override { return ""; }
};

TEST_F(ViewsTest, EnterInTheRecordDialogNormalisesEveryFieldFirst) {
    NoChooser chooser;
    frmRec rec(ed, {"example.com"}, chooser);
    rec.LoadRec("", false);
    frmRecView view(rec, launcher);
    ASSERT_TRUE(Open(&view));
    EXPECT_EQ(QApplication::focusWidget(), Child<QLineEdit>(&view, "txtName"));
    auto* name = Child<QLineEdit>(&view, "txtName");
    name->selectAll();
    Type("PC1");
    auto* ip = Child<ctlIP>(&view, "txtIP");
    ip->Field(0)->setFocus();
    Type("10.0.0.300");  // still inside the last byte
    auto* ttl = Child<ctlTTL>(&view, "txtTTL");
    EXPECT_EQ(ttl->Seconds(), 3600);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_EQ(view.result(), QDialog::Accepted);
    const clDNSRecord* r = ed.Zone.Find(rec.SavedKey);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Name, "pc1.example.com.");
    EXPECT_EQ(r->Data, std::string("\x0a\x00\x00\xff", 4));  // 300 is 255 once normalised
    EXPECT_EQ(r->TTL, 3600);
}

TEST_F(ViewsTest, ARecordOpenedAndConfirmedKeepsItsTTL) {
    NoChooser chooser;
    frmRec rec(ed, {"example.com"}, chooser);
    rec.LoadRec(Key("info.example.com.", kTXT), false);
    frmRecView view(rec, launcher);
    ASSERT_TRUE(Open(&view));
    EXPECT_FALSE(Child<QComboBox>(&view, "comType")->isEnabled());
    EXPECT_TRUE(Child<QLineEdit>(&view, "txtName")->isReadOnly());
    EXPECT_EQ(QApplication::focusWidget(), Child<QLineEdit>(&view, "txtData"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_EQ(view.result(), QDialog::Accepted);
    EXPECT_EQ(ed.Zone.Find(rec.SavedKey)->TTL, 90061);

    // A field typed past its range and then Enter: back to its last valid number.
    frmRec again(ed, {"example.com"}, chooser);
    again.LoadRec(Key("www.example.com.", kA), false);
    frmRecView second(again, launcher);
    ASSERT_TRUE(Open(&second));
    auto* ttl = Child<ctlTTL>(&second, "txtTTL");
    ttl->Field(1)->setFocus();
    Type("30");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_EQ(second.result(), QDialog::Accepted);
    EXPECT_EQ(ed.Zone.Find(again.SavedKey)->TTL, 3 * 3600);
}

TEST_F(ViewsTest, RecordDialogShowsTheFieldsOfEachTypeAndNamesThem) {
    NoChooser chooser;
    const std::pair<const char*, int16_t> records[] = {
        {"www.example.com.", kA},    {"example.com.", kNS}, {"ftp.example.com.", kCNAME},
        {"10.example.com.", kPTR},   {"example.com.", kMX}, {"sip.example.com.", kSRV},
        {"info.example.com.", kTXT},
    };
    for (const auto& [name, type] : records) {
        frmRec rec(ed, {"example.com"}, chooser);
        rec.LoadRec(Key(name, type), true);  // a copy: every field can be edited
        frmRecView view(rec, launcher);
        ASSERT_TRUE(Open(&view));
        const std::string word = TypeName(type);
        EXPECT_EQ(Child<QComboBox>(&view, "comType")->currentText().toStdString(), word);
        EXPECT_EQ(Child<ctlIP>(&view, "txtIP")->isVisible(), type == kA) << word;
        EXPECT_EQ(Child<QCheckBox>(&view, "chkPTR")->isVisible(), type == kA) << word;
        EXPECT_EQ(Child<QLineEdit>(&view, "txtData")->isVisible(), type != kA) << word;
        EXPECT_EQ(Child<QLineEdit>(&view, "txtPref")->isVisible(), type == kMX || type == kSRV);
        EXPECT_EQ(Child<QLineEdit>(&view, "txtPort")->isVisible(), type == kSRV) << word;
        EXPECT_EQ(Child<QLabel>(&view, "lbl1")->text().toStdString(),
                  RecordTypes()[static_cast<size_t>(rec.TypeIndex)].data);
        EXPECT_EQ(Child<QLabel>(&view, "lblType")->text().toStdString(),
                  RecordTypes()[static_cast<size_t>(rec.TypeIndex)].title);
        for (const char* n : {"txtName", "lblType", "txtTTL", "cmdOK", "cmdCancel", "cmdHelp"})
            Child<QWidget>(&view, n);
        ExpectNamed(&view);
        Shot(&view, "record-" + word);
        view.reject();
    }
    // Choosing a type from the keyboard switches the fields.
    frmRec rec(ed, {"example.com"}, chooser);
    rec.LoadRec("", false);
    frmRecView view(rec, launcher);
    ASSERT_TRUE(Open(&view));
    auto* type = Child<QComboBox>(&view, "comType");
    type->setFocus();
    QTest::keyClick(type, Qt::Key_Down);
    QTest::keyClick(type, Qt::Key_Down);
    EXPECT_EQ(type->currentText(), "CNAME");
    EXPECT_TRUE(Child<QLineEdit>(&view, "txtData")->isVisible());
    EXPECT_EQ(Child<QLineEdit>(&view, "txtData")->accessibleName(), "Alias for");
    QTest::mouseClick(Child<QPushButton>(&view, "cmdHelp"), Qt::LeftButton);
    EXPECT_EQ(launcher.urls.size(), 1u);
}

TEST_F(ViewsTest, SecondaryZoneRecordsOpenReadOnly) {
    WriteFile("data/sec.org.dns", "; PrimaryIP 10.0.0.1\r\nwww A 10.0.0.81\r\n");
    ed.LoadZone("sec.org");
    NoChooser chooser;
    frmRec rec(ed, {"sec.org"}, chooser);
    rec.LoadRec(ed.Zone.Records[0].KeyNo, false);
    frmRecView view(rec, launcher);
    ASSERT_TRUE(Open(&view));
    EXPECT_TRUE(Child<ctlIP>(&view, "txtIP")->Locked());
    EXPECT_TRUE(Child<ctlTTL>(&view, "txtTTL")->Locked());
    EXPECT_FALSE(Child<QCheckBox>(&view, "chkPTR")->isEnabled());
    Shot(&view, "record-secondary");
}

class MainViewTest : public ViewsTest {
  protected:
    MainViewTest()
        : store(dir.path() / "user.ini"), view(launcher), main(ed, launcher, view, view, store) {
        WriteFile("data/sec.org.dns", "; PrimaryIP 10.0.0.1\r\nwww A 10.0.0.81\r\n");
        WriteFile("data/5.168.192.in-addr.arpa.dns", "130 PTR pc1.example.com.\r\n");
        view.Bind(main);
        main.Open();
        view.Sync();
    }
    platform::SettingsStore store;
    frmMainView view;
    frmMain main;
};

TEST_F(MainViewTest, ListsZonesAndRecordsAndWorksFromTheKeyboard) {
    ASSERT_TRUE(Open(&view));
    view.FocusZoneList();
    auto* zones = Child<QListWidget>(&view, "ListZ");
    auto* records = Child<QTreeWidget>(&view, "ListR");
    EXPECT_EQ(zones->count(), 3);
    EXPECT_EQ(zones->currentItem()->text(), "5.168.192.in-addr.arpa");
    QTest::keyClick(zones, Qt::Key_Down);
    EXPECT_EQ(Child<QLabel>(&view, "lblZone")->text(), "example.com ");
    EXPECT_EQ(records->topLevelItemCount(), 8);
    EXPECT_EQ(view.statusBar()->currentMessage(), "8 Records");
    auto* www = records->findItems("www.example.com", Qt::MatchExactly, 0).value(0);
    ASSERT_NE(www, nullptr);
    EXPECT_EQ(www->text(2), "192.0.2.10");
    records->setFocus();
    records->setCurrentItem(www);
    Shot(&view, "main-window");
    QTest::keyClick(records, Qt::Key_Delete);
    EXPECT_EQ(records->topLevelItemCount(), 7);
    EXPECT_TRUE(ed.ZoneChanged);
    ExpectNamed(&view);
    QTest::keyClick(zones, Qt::Key_Down);  // leaving the zone saves it
    EXPECT_EQ(ReadFile("data/example.com.dns").find("www 3600 A"), std::string::npos);
    EXPECT_NE(ReadFile("data/example.com.dns").find("mail 3600 A"), std::string::npos);
    EXPECT_EQ(zones->currentItem()->text(), "sec.org");
    // A secondary zone: nothing to make or change.
    EXPECT_FALSE(view.findChild<QAction*>("mnuNewRecord")->isEnabled());
    records->setFocus();
    EXPECT_FALSE(view.findChild<QAction*>("mnuDelete")->isEnabled());
    EXPECT_TRUE(view.findChild<QAction*>("mnuProperties")->isEnabled());
    view.close();
    EXPECT_EQ(store.GetString("Edit Records", "ToolBar"), "True");
}

}  // namespace
