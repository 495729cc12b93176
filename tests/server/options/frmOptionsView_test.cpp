// The options dialog's view, offscreen: every control is found by its name, the widgets carry the
// controller's fields both ways, and a failed check shows its tab and puts the focus in place.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <cstdlib>
#include <memory>

#include "server/options/frmOptionsView.h"
#include "tests/server/options/options_fakes.h"
#include "tests/support/recording_launcher.h"
#include "tests/support/recording_prompt.h"
#include "tests/support/temp_dir.h"
#include "widgets/ctlIP.h"
#include "widgets/ctlTTL.h"

namespace {

using modOptions::frmOptions;
using modOptions::frmOptionsView;

int g_argc = 1;
char g_name[] = "frmOptionsView_test";
char* g_argv[] = {g_name, nullptr};

// One offscreen application for all tests, ended before the leak check runs.
class GuiEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        app_ = std::make_unique<QApplication>(g_argc, g_argv);
    }
    void TearDown() override { app_.reset(); }

  private:
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] const auto* g_env = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

class OptionsViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        target_.programDir = dir_.path();
        target_.settings.Name = "ns1";
        target_.settings.DHCP = {{"192.168.1.5", "lan.example.", "192.168.1.100", "192.168.1.150",
                                  "", "0.0.0.0", 3600, true}};
        ctl_ = std::make_unique<frmOptions>(target_, service_, startup_, &prompt_, &launcher_);
        ctl_->Load();
        view_ = std::make_unique<frmOptionsView>(*ctl_);
        view_->show();
    }

    template <typename T>
    T* Find(const char* name) {
        T* w = view_->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    kest::test::TempDir dir_;
    kest::test::CallLog log_;
    kest::test::RecordingTarget target_{log_};
    kest::test::RecordingService service_{log_};
    kest::test::RecordingStartup startup_{log_};
    kest::test::RecordingPrompt prompt_;
    kest::test::RecordingLauncher launcher_;
    std::unique_ptr<frmOptions> ctl_;
    std::unique_ptr<frmOptionsView> view_;
};

TEST_F(OptionsViewTest, EveryControlHasItsNameAndACaptionForScreenReaders) {
    // Every control a failed check can put the focus on is there under that name.
    for (const char* name : {"txtName", "ipNS", "txtHosts", "txtDomain", "ipFrom", "ipTo", "ipMask",
                             "ipGateway", "ttlLease"})
        EXPECT_NE(view_->findChild<QWidget*>(name), nullptr) << name;
    int controls = 0;
    for (QWidget* w : view_->findChildren<QWidget*>()) {
        const bool control =
            qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
            qobject_cast<QListWidget*>(w) || qobject_cast<ctlIP*>(w) || qobject_cast<ctlTTL*>(w) ||
            (qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w->parent()));
        if (!control || w->objectName().startsWith("qt_")) continue;
        ++controls;
        EXPECT_FALSE(w->accessibleName().isEmpty()) << w->objectName().toStdString();
    }
    EXPECT_GT(controls, 40);
    auto* tabs = Find<QTabWidget>("tabOptions");
    ASSERT_EQ(tabs->count(), 5);
    EXPECT_EQ(tabs->tabText(0), "General");
    EXPECT_EQ(tabs->tabText(1), "DNS Resolution");
    EXPECT_EQ(tabs->tabText(2), "DNS Records");
    EXPECT_EQ(tabs->tabText(3), "Blocking");
    EXPECT_EQ(tabs->tabText(4), "DHCP");
}

TEST_F(OptionsViewTest, WidgetsShowTheSettingsAndEventsGoThroughTheController) {
    EXPECT_EQ(Find<QLineEdit>("txtName")->text(), "ns1");
    EXPECT_EQ(Find<QComboBox>("comIF")->count(), 3);
    EXPECT_EQ(Find<ctlIP>("ipFrom")->Text(), "192.168.1.100");
    EXPECT_EQ(Find<ctlIP>("ipMask")->Text(), "255.255.255.0");  // the default for the address
    EXPECT_EQ(Find<ctlTTL>("ttlLease")->Seconds(), 3600);

    Find<QCheckBox>("chkStartWin")->click();
    Find<QCheckBox>("chkService")->click();
    EXPECT_FALSE(Find<QCheckBox>("chkStartWin")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("chkStartMini")->isChecked());
    Find<QCheckBox>("chkStartMini")->click();
    EXPECT_TRUE(Find<QCheckBox>("chkStartMini")->isChecked());

    auto* bomb = Find<QLineEdit>("txtBomb");
    bomb->setText("-7.9");
    emit bomb->editingFinished();
    EXPECT_EQ(bomb->text(), "7");

    Find<QCheckBox>("chkBind")->click();
    EXPECT_EQ(Find<QComboBox>("comRecur")->count(), 5);  // <all>, three patterns, <none>

    Find<ctlIP>("ipBlock")->SetText("10.6.6.6");
    Find<QPushButton>("cmdAddBlock")->click();
    EXPECT_EQ(Find<QListWidget>("lstBlock")->count(), 1);
    EXPECT_EQ(Find<ctlIP>("ipBlock")->Text(), "");

    // Another interface: the one left keeps what was typed.
    Find<QLineEdit>("txtDomain")->setText("home.example");
    Find<QComboBox>("comIF")->setCurrentIndex(1);
    EXPECT_EQ(Find<QLineEdit>("txtDomain")->text(), "");
    EXPECT_EQ(Find<ctlIP>("ipMask")->Text(), "255.0.0.0");
    Find<QComboBox>("comIF")->setCurrentIndex(0);
    EXPECT_EQ(Find<QLineEdit>("txtDomain")->text(), "home.example");
}

TEST_F(OptionsViewTest, AFailedCheckShowsItsTabAndFocusesTheField) {
    Find<ctlIP>("ipMask")->SetText("255.0.255.0");
    Find<QPushButton>("cmdOK")->click();
    EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{"Invalid subnet mask for DHCP!"});
    EXPECT_EQ(Find<QTabWidget>("tabOptions")->currentIndex(), 4);
    EXPECT_TRUE(view_->isVisible());
    QApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), Find<ctlIP>("ipMask")->Field(0));
    EXPECT_TRUE(log_.calls.empty());

    prompt_.boxes.clear();
    Find<QLineEdit>("txtName")->clear();
    Find<QPushButton>("cmdOK")->click();
    EXPECT_EQ(prompt_.Texts(), std::vector<std::string>{"Please enter server name!"});
    EXPECT_EQ(Find<QTabWidget>("tabOptions")->currentIndex(), 0);
    QApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), Find<QLineEdit>("txtName"));
}

TEST_F(OptionsViewTest, OKAppliesWhatTheWidgetsHoldAndCloses) {
    Find<QLineEdit>("txtName")->setText("ns2");
    Find<ctlIP>("ipFrom")->SetText("192.168.1.200");
    Find<ctlIP>("ipTo")->SetText("192.168.1.120");
    Find<QPushButton>("cmdOK")->click();
    EXPECT_TRUE(prompt_.boxes.empty());
    EXPECT_FALSE(view_->isVisible());
    EXPECT_EQ(view_->Result(), frmOptions::Outcome::Closed);
    EXPECT_EQ(target_.settings.Name, "ns2");
    ASSERT_EQ(target_.settings.DHCP.size(), 1u);
    EXPECT_EQ(target_.settings.DHCP[0].ScopeFrom, "192.168.1.120");
    EXPECT_EQ(target_.settings.DHCP[0].ScopeTo, "192.168.1.200");
    EXPECT_EQ(target_.settings.DHCP[0].Subnet, "255.255.255.0");
}

}  // namespace
