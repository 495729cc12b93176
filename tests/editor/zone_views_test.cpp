// The zone dialogs' windows on the offscreen platform: fields and keys reach the controllers,
// every control is named, and (with KEST_SHOTS_DIR set) a picture of each dialog.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>

#include "editor/frmMainView.h"
#include "editor/zone_views.h"
#include "platform/settings_store.h"
#include "tests/editor/view_checks.h"
#include "tests/editor/zones_fixture.h"
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

class FakeSocket : public ILookupSocket {
  public:
    bool Send(const std::string&, const std::string&, uint16_t) override { return true; }
    void Close() override {}
};

class ZoneViewsTest : public ::testing::Test, protected kest::test::ZonesFixture {
  protected:
    ZoneViewsTest() {
        WriteFile("kestrund.ini", "Name: ns1.example.com\r\nPrimaryIP: 192.0.2.53\r\n");
        ed.LoadServerSettings();
        Load("example.com",
             "; Notify 192.0.2.54 198.51.100.7\r\n"
             "@ 3600 SOA ns1 hostmaster 2026120601 86400 3600 777600 3600\r\n"
             " 3600 NS ns1\r\nns1 3600 A 192.0.2.53\r\nwww 3600 A 192.0.2.80\r\n");
    }
    kest::test::RecordingLauncher launcher;
};

TEST_F(ZoneViewsTest, ZonePropertiesShowTheZoneAndStoreWhatIsTyped) {
    frmZone c(Host());
    c.LoadZone(false);
    frmZoneView view(c, launcher);
    ASSERT_TRUE(Open(&view));
    ExpectNamed(&view);
    EXPECT_EQ(view.windowTitle().toStdString(), "Zone \"example.com\" Properties");
    EXPECT_TRUE(Child<QLineEdit>(&view, "txtName")->isReadOnly());
    EXPECT_NE(view.findChild<ctlTTL*>(QStringLiteral("txtTTL(2)")), nullptr);
    Shot(&view, "frmZone-general");
    auto* tabs = Child<QTabWidget>(&view, "SSTab1");
    tabs->setCurrentIndex(1);
    Shot(&view, "frmZone-transfers");
    tabs->setCurrentIndex(2);
    Shot(&view, "frmZone-notify");

    // Secondary: the SOA fields lock, the primary's address opens.
    tabs->setCurrentIndex(0);
    Child<QCheckBox>(&view, "chkPrimary")->click();
    EXPECT_TRUE(Child<QLineEdit>(&view, "txtPrimS")->isReadOnly());
    EXPECT_FALSE(Child<ctlIP>(&view, "txtPrimIP")->Locked());
    Child<QCheckBox>(&view, "chkPrimary")->click();

    auto* mail = Child<QLineEdit>(&view, "txtEMail");
    mail->setFocus();
    mail->setText("John.Doe@Example.com");
    Child<QLineEdit>(&view, "txtPrimS")->setFocus();  // leaving the mailbox cleans it
    EXPECT_EQ(mail->text().toStdString(), "john-doe@example.com");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_EQ(view.result(), QDialog::Accepted);
    EXPECT_EQ(ed.Zone.EMail, "john-doe.example.com.");
    EXPECT_EQ(ed.Zone.Slaves, (std::vector<std::string>{"192.0.2.54", "198.51.100.7"}));
}

TEST_F(ZoneViewsTest, ZoneDialogFailedCheckShowsItsTab) {
    frmZone c(Host());
    c.LoadZone(true);
    frmZoneView view(c, launcher);
    ASSERT_TRUE(Open(&view));
    Child<QLineEdit>(&view, "txtName")->setText("example.org");
    Child<ctlTTL>(&view, "txtTTL(0)")->SetSeconds(0);
    Child<QPushButton>(&view, "cmdOK")->click();
    EXPECT_TRUE(view.isVisible());
    EXPECT_EQ(LastBox(), "Please specify Refresh Interval");
    EXPECT_EQ(Child<QTabWidget>(&view, "SSTab1")->currentIndex(), 1);
    // New-zone caption, mailbox guessed on leaving the name.
    EXPECT_EQ(view.windowTitle().toStdString(), "New Zone Properties");
    EXPECT_EQ(Child<QLineEdit>(&view, "txtEMail")->text().toStdString(), "hostmaster@example.org");
    Child<QTabWidget>(&view, "SSTab1")->setCurrentIndex(0);
    Shot(&view, "frmZone-new");
}

TEST_F(ZoneViewsTest, QuickWizardAndCopyDialog) {
    ed.Defaults[4] = "ns2.example.net";
    ed.Defaults[5] = "198.51.100.2";
    frmQuick q(Host());
    q.Open();
    frmQuickView qv(q, launcher);
    ASSERT_TRUE(Open(&qv));
    ExpectNamed(&qv);
    EXPECT_EQ(qv.windowTitle().toStdString(), "Quick Domain Wizard");
    kest::test::TypeKeys("Shop.Example");
    Child<ctlIP>(&qv, "txtIP1")->SetText("192.0.2.80");
    Child<ctlIP>(&qv, "txtIP2")->SetText("192.0.2.25");
    Shot(&qv, "frmQuick");
    Child<QPushButton>(&qv, "cmdOK")->click();
    ASSERT_EQ(qv.result(), QDialog::Accepted) << LastBox();
    EXPECT_EQ(selected, (std::vector<std::string>{"shop.example"}));

    Load("example.com", "@ 3600 SOA ns1 hostmaster 1 3600 600 86400 3600\r\n");
    frmCopy c(Host());
    c.Open();
    frmCopyView cv(c, launcher);
    ASSERT_TRUE(Open(&cv));
    ExpectNamed(&cv);
    EXPECT_TRUE(Child<QLineEdit>(&cv, "txtFrom")->isReadOnly());
    kest::test::TypeKeys("example.org");
    Shot(&cv, "frmCopy");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_EQ(cv.result(), QDialog::Accepted) << LastBox();
    EXPECT_EQ(OnDisk("example.org.").PrimServ, "ns1.example.org.");
}

TEST_F(ZoneViewsTest, ReverseWizardTableAndItsCompanions) {
    frmArpa a(Host());
    a.IPLeft("192.168.1.77");
    a.ChooseSubnet(2);
    a.SelectAll();
    a.FillSelected("lan.example.com");
    for (auto& r : a.Rows) r.selected = false;
    a.Rows[0].name = "gw.lan.example.com";
    frmArpaView view(a, ed, launcher);
    ASSERT_TRUE(Open(&view));
    ExpectNamed(&view);
    auto* list = Child<QTreeWidget>(&view, "List");
    ASSERT_EQ(list->topLevelItemCount(), 62);
    EXPECT_EQ(list->topLevelItem(0)->text(1).toStdString(), "gw.lan.example.com");
    EXPECT_EQ(Child<QLineEdit>(&view, "txtZone")->text().toStdString(),
              "64/26.1.168.192.in-addr.arpa");
    list->topLevelItem(3)->setSelected(true);
    list->topLevelItem(4)->setSelected(true);
    Shot(&view, "frmArpa");

    // Delete in the list clears the selected names.
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_EQ(list->topLevelItem(3)->text(1).toStdString(), "");
    EXPECT_EQ(list->topLevelItem(5)->text(1).toStdString(), "192-168-1-70.lan.example.com");

    // The size list rebuilds the table and locks the /24 name.
    auto* sizes = Child<QComboBox>(&view, "comSubnet");
    sizes->setFocus();
    QTest::keyClick(sizes, Qt::Key_Up);
    QTest::keyClick(sizes, Qt::Key_Up);
    EXPECT_EQ(list->topLevelItemCount(), 256);
    EXPECT_TRUE(Child<QLineEdit>(&view, "txtZone")->isReadOnly());
    EXPECT_FALSE(Child<QPushButton>(&view, "cmdLookUp")->isEnabled());
    EXPECT_EQ(list->topLevelItem(65)->text(1).toStdString(), "gw.lan.example.com");

    // The host name dialog names the selected rows.
    list->clearSelection();
    list->topLevelItem(10)->setSelected(true);
    QTimer::singleShot(0, [] {
        QWidget* d = QApplication::activeModalWidget();
        ASSERT_NE(d, nullptr);
        ExpectNamed(d);
        auto* name = d->findChild<QLineEdit*>(QStringLiteral("txtName"));
        name->setText("Printer.lan.example.com");
        Shot(d, "frmArpaEdit");
        d->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    view.Edit();
    EXPECT_EQ(list->topLevelItem(10)->text(1).toStdString(), "printer.lan.example.com");

    QTimer::singleShot(0, [] {
        QWidget* d = QApplication::activeModalWidget();
        ASSERT_NE(d, nullptr);
        ExpectNamed(d);
        d->findChild<QLineEdit*>(QStringLiteral("txtDomain"))->setText("office.example.com");
        Shot(d, "frmArpaFill");
        d->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    view.AutoFill();
    EXPECT_EQ(list->topLevelItem(10)->text(1).toStdString(), "192-168-1-10.office.example.com");
}

TEST_F(ZoneViewsTest, LookUpWindowFollowsItsController) {
    FakeSocket socket;
    frmArpaLU lu(ed, socket);
    lu.LookFor = "129.1.168.192.in-addr.arpa.";
    frmArpaLUView view(lu);
    lu.LookUp();
    lu.Tick();
    view.Pull();
    ASSERT_TRUE(Open(&view));
    ExpectNamed(&view);
    EXPECT_FALSE(Child<QPushButton>(&view, "cmdOK")->isEnabled());
    // A reply by hand: the CNAME of the first host address.
    std::string reply("\x64\x64\x85\x80\x00\x01\x00\x01\x00\x00\x00\x00", 12);
    const std::string qname(
        "\x03"
        "129\x01"
        "1\x03"
        "168\x03"
        "192\x07"
        "in-addr\x04"
        "arpa\x00",
        28);
    reply += qname + std::string("\x00\x05\x00\x01", 4);
    const std::string target = std::string(
                                   "\x03"
                                   "129\x06"
                                   "128/25",
                                   11) +
                               "\xc0\x10";
    reply += std::string("\xc0\x0c\x00\x05\x00\x01\x00\x00\x0e\x10\x00", 11) +
             static_cast<char>(target.size()) + target;
    lu.Reply(reply, "192.0.2.53", 53);
    EXPECT_TRUE(Child<QPushButton>(&view, "cmdOK")->isEnabled());
    EXPECT_EQ(Child<QListWidget>(&view, "List1")->count(), 5);
    Shot(&view, "frmArpaLU");
    Child<QPushButton>(&view, "cmdOK")->click();
    EXPECT_EQ(lu.OK(), "128/25.1.168.192.in-addr.arpa");
}

}  // namespace

namespace {

// The main window with the zone dialogs attached, as kestzone builds it.
class MainZonesViewTest : public ::testing::Test, protected kest::test::ZonesFixture {
  protected:
    MainZonesViewTest()
        : store(dir.path() / "user.ini"),
          view(launcher),
          main(ed, launcher, view, view, store),
          dialogs(&view, ed, launcher) {
        WriteFile("kestrund.ini", "Name: ns1.example.com\r\n");
        WriteFile("data/example.com.dns", "@ 3600 SOA ns1 hostmaster 1 3600 600 86400 3600\r\n");
        ed.LoadServerSettings();
        main.SetZoneDialogs(dialogs, clock);
        view.Bind(main);
        main.Open();
        view.Sync();
    }
    kest::test::RecordingLauncher launcher;
    platform::SettingsStore store;
    frmMainView view;
    frmMain main;
    ZoneDialogsView dialogs;
};

TEST_F(MainZonesViewTest, MenuAndNewButtonOpenTheZoneDialogs) {
    ASSERT_TRUE(Open(&view));
    auto* file = Child<QMenu>(&view, "mnuFile");
    QStringList texts;
    for (QAction* a : file->actions()) texts << a->text();
    EXPECT_EQ(texts.join(QLatin1Char('|')).toStdString(),
              "New &Zone...|New &Record...|&Quick Domain...|&Reverse Zone Wizard...||E&xit");
    file->popup(view.mapToGlobal(QPoint(0, 0)));
    Shot(file, "main-file-menu");
    file->hide();

    // "New Zone..." opens the zone dialog; what is typed there becomes the selected zone.
    QTimer::singleShot(0, [] {
        QWidget* d = QApplication::activeModalWidget();
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->objectName().toStdString(), "frmZone");
        d->findChild<QLineEdit*>(QStringLiteral("txtName"))->setText("example.net");
        d->findChild<QPushButton*>(QStringLiteral("cmdOK"))->click();
    });
    Child<QAction>(&view, "mnuNewZone")->trigger();
    EXPECT_EQ(main.ZoneList, (std::vector<std::string>{"example.com", "example.net"}));
    EXPECT_EQ(main.ZoneLabel(), "example.net ");
    EXPECT_EQ(Child<QListWidget>(&view, "ListZ")->currentRow(), 1);

    // On the zone side the New button makes a zone too; Cancel changes nothing.
    QTimer::singleShot(0, [] {
        QWidget* d = QApplication::activeModalWidget();
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->windowTitle().toStdString(), "New Zone Properties");
        d->findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
    });
    Child<QAction>(&view, "tbNew")->trigger();
    EXPECT_EQ(main.ZoneList.size(), 2u);
}

}  // namespace
