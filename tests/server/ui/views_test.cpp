// The server's windows on the offscreen platform: the main window with its three child windows,
// commands from the menu, the log window's live lines, the lease list's Delete key, and that a
// closed or minimised main window leaves the server running.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTest>
#include <QTreeWidget>
#include <cstdlib>

#include "platform/sockets.h"
#include "platform/tray.h"
#include "server/dhcp/clLease.h"
#include "server/ui/views.h"
#include "tests/support/alpha_start.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_launcher.h"
#include "tests/support/recording_prompt.h"
#include "tests/support/temp_dir.h"

namespace {

using modMain::frmAlpha;
using platform::IPrompt;

// The application object comes from the shared GUI test environment, which ends it before the
// leak check (Qt's font caches go with it).
QApplication& App() {
    QApplication::setQuitOnLastWindowClosed(false);
    return *qApp;
}

class ViewsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        App();
        alpha_ = kest::test::StartOnFreePort([this](uint16_t port) {
            modMain::HostServices h;
            h.clock = &clock_;
            h.prompt = &prompt_;
            h.launcher = &launcher_;
            h.programDir = dir_.path();
            h.displayAvailable = true;
            auto a = std::make_unique<frmAlpha>(h);
            a->LoadSettings({});
            a->settings.DNSBind = "127.0.0.1";
            a->settings.DNSPort = port;
            a->settings.Name = "ns1.lan";
            return a;
        });
        windows_ = std::make_unique<serverui::ServerWindows>(*alpha_, &prompt_, &launcher_, &store_,
                                                             nullptr);
        alpha_->SetWindows(windows_.get());
    }
    void TearDown() override {
        alpha_->SetWindows(nullptr);
        windows_.reset();
        alpha_.reset();
    }

    serverui::frmMainView* Main() { return windows_->MainView(); }
    void Trigger(const char* action) {
        auto* a = Main()->findChild<QAction*>(action);
        ASSERT_NE(a, nullptr) << action;
        a->trigger();
    }
    // Runs the event loop until cond holds (or a generous bound passes, which fails the test).
    bool WaitFor(const std::function<bool()>& cond) {
        for (int i = 0; i < 500 && !cond(); ++i) QTest::qWait(10);
        return cond();
    }

    kest::test::FakeClock clock_;
    kest::test::RecordingPrompt prompt_;
    kest::test::RecordingLauncher launcher_;
    kest::test::TempDir dir_;
    platform::SettingsStore store_{dir_.path() / "window.ini"};
    std::unique_ptr<frmAlpha> alpha_;
    std::unique_ptr<serverui::ServerWindows> windows_;
};

TEST_F(ViewsTest, ChildWindowsClearCacheAndTheLogWindow) {
    windows_->ShowMain();
    ASSERT_NE(Main(), nullptr);
    EXPECT_EQ(Main()->objectName(), "frmMain");
    EXPECT_EQ(Main()->windowTitle(), "ns1.lan - Kestrune");
    EXPECT_EQ(Main()->findChild<QAction*>("mnuStartStop")->text(), "&Pause Server");
    EXPECT_EQ(Main()->findChild<QAction*>("mnuOptions"), nullptr);  // until the dialog exists

    Trigger("mnuGraph");
    Trigger("mnuLog");
    Trigger("mnuLeases");
    auto* mdi = Main()->findChild<QMdiArea*>("mdiMain");
    ASSERT_NE(mdi, nullptr);
    EXPECT_EQ(mdi->subWindowList().size(), 3);
    for (const char* name : {"frmGraph", "frmLog", "frmLeases"})
        EXPECT_NE(Main()->findChild<QWidget*>(name), nullptr) << name;
    Trigger("mnuLog");  // brings it forward, no second window
    EXPECT_EQ(mdi->subWindowList().size(), 3);

    prompt_.askAnswers = {IPrompt::Answer::Yes};
    Trigger("mnuClearCache");
    auto* log = Main()->LogView();
    ASSERT_NE(log, nullptr);
    ASSERT_GT(log->LineCount(), 0);
    EXPECT_TRUE(log->Line(log->LineCount() - 1).endsWith("   Cache cleared by operator"));

    // Lines arrive live; the list keeps the newest 150.
    for (int i = 1; i <= 200; ++i) alpha_->AddLine(0, "line " + std::to_string(i));
    EXPECT_EQ(log->LineCount(), 150);
    EXPECT_TRUE(log->Line(149).endsWith("line 200"));
    EXPECT_TRUE(log->Line(0).endsWith("line 51"));
    Trigger("mnuClearLog");
    EXPECT_EQ(log->LineCount(), 0);

    // Moving a child window writes the layout a moment later.
    auto* graphFrame = qobject_cast<QMdiSubWindow*>(Main()->GraphView()->parentWidget());
    graphFrame->setGeometry(37, 41, 300, 180);
    ASSERT_TRUE(WaitFor([&] {
        return store_.GetString("Server", "MainWindows").find("graph=37,41,300,180") !=
               std::string::npos;
    }));

    // Closing the log window clears its flag; the others stay.
    qobject_cast<QMdiSubWindow*>(log->parentWidget())->close();
    ASSERT_TRUE(WaitFor([&] { return !windows_->Controller().LogOpen; }));
    EXPECT_TRUE(windows_->Controller().GraphOpen);
}

TEST_F(ViewsTest, LeaseListRefreshesAndDeletesWithTheKey) {
    windows_->ShowMain();
    Trigger("mnuLeases");
    auto* list = Main()->findChild<QTreeWidget*>("ListL");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->topLevelItemCount(), 0);
    clLease a;
    a.ClientName = "pc-1.lan.";
    a.IPaddr = "10.0.0.50";
    a.Expires = clock_.Now() + 1.0 / 24;
    clLease b = a;
    b.ClientName = "pc-2.lan.";
    b.IPaddr = "10.0.0.51";
    alpha_->Leases().Append(a);
    alpha_->Leases().Append(b);
    // A change of the table shows at once.
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "pc-1.lan");

    list->setFocus();
    list->setCurrentItem(list->topLevelItem(1));
    prompt_.askAnswers = {IPrompt::Answer::Ok};
    QTest::keyClick(list, Qt::Key_Delete);
    ASSERT_EQ(prompt_.boxes.size(), 1u);
    ASSERT_EQ(alpha_->Leases().Count(), 1u);
    EXPECT_EQ(alpha_->Leases().Leases()[0].IPaddr, "10.0.0.50");
    EXPECT_EQ(list->topLevelItemCount(), 1);
}

TEST_F(ViewsTest, ClosedOrMinimisedMainWindowLeavesTheServerRunning) {
    windows_->ShowMain();
    Trigger("mnuGraph");
    QPointer<serverui::frmMainView> first = Main();
    first->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return first->isMinimized(); }));
    alpha_->Timer();  // the display step hides it to the tray
    ASSERT_TRUE(WaitFor([&] { return first.isNull(); }));
    EXPECT_FALSE(windows_->MainOpen());
    EXPECT_FALSE(windows_->Controller().GraphOpen);
    EXPECT_TRUE(alpha_->Running);
    EXPECT_TRUE(alpha_->TimerActive());

    // A click on the tray icon brings it back.
    alpha_->TrayClick();
    ASSERT_NE(Main(), nullptr);
    EXPECT_TRUE(windows_->MainOpen());
    Main()->close();
    ASSERT_TRUE(WaitFor([&] { return Main() == nullptr; }));
    EXPECT_TRUE(alpha_->Running);
    EXPECT_FALSE(alpha_->ClosedDown());
    // The layout was written on the way out.
    EXPECT_FALSE(store_.GetString("Server", "MainWindows").empty());
}

// The tray's tip follows SetStatus; pausing shows there and in the status panel.
TEST_F(ViewsTest, TrayTipAndStatusPanelFollowTheStatus) {
    platform::Tray tray;
    alpha_->SetWindows(nullptr);
    windows_ =
        std::make_unique<serverui::ServerWindows>(*alpha_, &prompt_, &launcher_, &store_, &tray);
    alpha_->SetWindows(windows_.get());
    windows_->ShowMain();
    Trigger("mnuStartStop");
    EXPECT_FALSE(alpha_->Running);
    EXPECT_EQ(tray.Tip(), "ns1.lan\nPaused");
    EXPECT_EQ(Main()->findChild<QLabel*>("pnlStatus")->text(), "Paused");
    EXPECT_EQ(Main()->findChild<QAction*>("mnuStartStop")->text(), "&Start Server");
    alpha_->settings.DNSPort = kest::test::FreePort();
    Trigger("mnuStartStop");
    EXPECT_TRUE(alpha_->Running);
    EXPECT_EQ(tray.Tip(), "ns1.lan\nUptime...");
    EXPECT_EQ(Main()->findChild<QAction*>("mnuStartStop")->text(), "&Pause Server");
    alpha_->SetWindows(nullptr);
    windows_.reset();
}

// StartMini keeps the main window closed at start; otherwise it opens with the server.
TEST(ViewsStart, StartMiniStartsHidden) {
    App();
    for (const bool mini : {false, true}) {
        kest::test::FakeClock clock;
        kest::test::RecordingPrompt prompt;
        kest::test::TempDir dir;
        platform::SettingsStore store{dir.path() / "window.ini"};
        std::unique_ptr<serverui::ServerWindows> windows;
        auto alpha = kest::test::StartOnFreePort([&](uint16_t port) {
            windows.reset();
            modMain::HostServices h;
            h.clock = &clock;
            h.prompt = &prompt;
            h.programDir = dir.path();
            h.displayAvailable = true;
            auto a = std::make_unique<frmAlpha>(h);
            a->LoadSettings({});
            a->settings.DNSBind = "127.0.0.1";
            a->settings.DNSPort = port;
            a->settings.StartMini = mini;
            windows =
                std::make_unique<serverui::ServerWindows>(*a, &prompt, nullptr, &store, nullptr);
            a->SetWindows(windows.get());
            return a;
        });
        EXPECT_EQ(windows->MainOpen(), !mini) << "StartMini " << mini;
        EXPECT_EQ(windows->MainView() != nullptr, !mini);
        // The tray click opens it either way.
        alpha->TrayClick();
        EXPECT_TRUE(windows->MainOpen());
        alpha->SetWindows(nullptr);
        windows.reset();
    }
}

// A desktop session that ends with the main window open still shuts the server down properly.
TEST_F(ViewsTest, SessionEndWithTheWindowOpenRunsCloseDown) {
    windows_->ShowMain();
    Trigger("mnuLeases");
    clLease a;
    a.ClientName = "pc-1.lan.";
    a.IPaddr = "10.0.0.50";
    a.Expires = clock_.Now() + 1;
    alpha_->Leases().Append(a);
    int unloads = 0;
    alpha_->OnUnload = [&] { ++unloads; };
    alpha_->CloseRequest();  // what the session's end calls
    EXPECT_TRUE(alpha_->ClosedDown());
    EXPECT_EQ(unloads, 1);
    EXPECT_FALSE(alpha_->Running);
    // The leases were saved on the way down.
    EXPECT_TRUE(std::filesystem::exists(dir_.path() / "dhcp.dat"));
}

}  // namespace
