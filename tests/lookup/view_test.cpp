// The look-up window on the offscreen platform: typing a name, choosing a type from the menu and
// pressing the toolbar's Look Up ask a local server (a socket of this test on loopback), and the
// reply shows in the output box. Also: every control carries its name.
#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QToolButton>

#include "lookup/frmQueryView.h"
#include "lookup/platform_net.h"
#include "platform/settings_store.h"
#include "platform/sockets.h"
#include "tests/lookup/fake_net.h"
#include "tests/support/recording_launcher.h"
#include "tests/support/recording_prompt.h"
#include "tests/support/temp_dir.h"
#include "ui_frmQuery.h"

using namespace lookup;
using namespace kest::test;

namespace {

// One application for the whole run, destroyed at its end (so what Qt holds is released).
class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = new QApplication(argc_, argv_);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

  private:
    int argc_ = 1;
    char name_[10] = "view_test";
    char* argv_[2] = {name_, nullptr};
    QApplication* app_ = nullptr;
};
[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Runs the event loop until the condition holds (or a generous limit passes).
bool WaitFor(const std::function<bool()>& cond) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > 20000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

class ViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        store = std::make_unique<platform::SettingsStore>(dir.path() / "user.ini");
        query = std::make_unique<frmQuery>(net, prompt, launcher);
        view = std::make_unique<frmQueryView>(*query, *store);
        view->show();
    }
    void TearDown() override {
        view->close();
        view.reset();
        query.reset();
    }
    Ui::frmQuery& W() { return view->Widgets(); }

    TempDir dir;
    PlatformQueryNet net;
    RecordingPrompt prompt;
    RecordingLauncher launcher;
    std::unique_ptr<platform::SettingsStore> store;
    std::unique_ptr<frmQuery> query;
    std::unique_ptr<frmQueryView> view;
};

}  // namespace

TEST_F(ViewTest, TypeChooseAndLookUpAgainstALocalServer) {
    // The server: answers every query with one A record for the question's name.
    platform::UdpSocket server;
    ASSERT_TRUE(server.Bind("127.0.0.1", 0));
    std::vector<std::string> questions;
    server.OnData = [&](const platform::Datagram& d) {
        questions.push_back(d.data);
        const std::string q = d.data.substr(12);
        const std::string reply = d.data.substr(0, 2) + "\x85\x80" + U16(1) + U16(1) + U16(0) +
                                  U16(0) + q + "\xC0\x0C" + U16(1) + U16(1) + U32(300) + U16(4) +
                                  std::string("\x0A\x00\x00\x07", 4);
        server.SendTo(reply, d.fromIp, d.fromPort);
    };
    query->dnsPort = server.LocalPort();

    // The server field is hidden by default; the view settings show it.
    EXPECT_FALSE(W().txtIP->isVisibleTo(view.get()));
    W().mnuVServer->trigger();
    EXPECT_TRUE(W().txtIP->isVisibleTo(view.get()));
    W().txtIP->lineEdit()->setText("127.0.0.1");
    W().txtName->lineEdit()->setText("  WWW.Kest.TEST ");
    // Leaving the name field cleans it.
    QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(W().txtName->lineEdit(), &out);
    EXPECT_EQ(W().txtName->currentText(), "www.kest.test");

    // The type menu: MX.
    QAction* mx = view->findChild<QAction*>("mnuLURec_1");
    ASSERT_NE(mx, nullptr);
    EXPECT_EQ(mx->text(), "MX (Mail Server)");
    mx->trigger();
    ASSERT_TRUE(WaitFor([&] { return query->StatusText() == "Done"; })) << query->StatusText();
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].substr(12), Question("www.kest.test", 15));
    EXPECT_EQ(W().tbLookUp->text(), "MX");
    const QString mxText = W().txtAnswer->toPlainText();
    EXPECT_EQ(mxText,
              "Authoritative Answer: Yes\nRecursion Available: Yes\n\nAnswer:\n"
              "A-record for www.kest.test. = 10.0.0.7\n    TTL = 5 Minutes\n");
    EXPECT_TRUE(W().Pic->isEnabled());

    // The toolbar's Look Up repeats the current type; the status bar shows the texts.
    view->LookUpButton()->click();
    ASSERT_TRUE(WaitFor([&] { return questions.size() == 2 && query->StatusText() == "Done"; }));
    EXPECT_EQ(questions[1].substr(12), Question("www.kest.test", 15));
    EXPECT_EQ(view->findChild<QLabel*>("sbStatusText")->text(), "Done");

    // Enter in the name field: the same again.
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    view->activateWindow();
    W().txtName->lineEdit()->setFocus();
    QApplication::sendEvent(W().txtName->lineEdit(), &enter);
    WaitFor([&] { return questions.size() == 3 && query->StatusText() == "Done"; });
    EXPECT_EQ(questions.size(), 3u);

    // Copy and Help through their toolbar buttons.
    W().tbCopy->trigger();
    EXPECT_EQ(prompt.clipboard, query->Output());
    W().tbHelp->trigger();
    ASSERT_EQ(launcher.urls.size(), 1u);
    EXPECT_NE(launcher.urls[0].find("lookup.html"), std::string::npos);
    // The name went into its history once.
    EXPECT_EQ(W().txtName->count(), 1);
}

TEST_F(ViewTest, EveryControlHasItsNameAndAnAccessibleName) {
    for (const char* name : {"txtName", "txtIP", "txtAnswer", "Pic", "tbLookUp", "tbStop", "tbCopy",
                             "tbHelp", "sbStatus", "tbrMain"}) {
        auto* w = view->findChild<QWidget*>(name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_FALSE(w->accessibleName().isEmpty()) << name;
    }
    for (const char* name : {"mnuLookUp", "mnuStop", "mnuCopy", "mnuRecursion", "mnuAutoWhoIs",
                             "mnuVTool", "mnuVStatus", "mnuVServer", "mnuContents", "mnuSupport"}) {
        auto* a = view->findChild<QAction*>(name);
        ASSERT_NE(a, nullptr) << name;
        EXPECT_FALSE(a->text().isEmpty()) << name;
    }
    EXPECT_EQ(view->windowTitle(), "Kestrune - DNS Look Up");
    EXPECT_EQ(W().mnuRecursion->text(), "&Request &Recursion");
    // The type menu and the drop-down hold the table's captions in order.
    const QStringList want = {"A (Host Address)",
                              "MX (Mail Server)",
                              "CNAME (Alias)",
                              "NS (Name Server)",
                              "PTR (Pointer)",
                              "SOA (Start of Authority)",
                              "SRV (Location of Service)",
                              "TXT (Descriptive Text)",
                              "AXFR (Zone Transfer)",
                              "Any DNS Record",
                              "WHOIS"};
    QStringList menu, drop;
    for (QAction* a : W().mnuLURec->actions()) menu << a->text();
    for (QAction* a : view->LookUpButton()->menu()->actions()) drop << a->text();
    EXPECT_EQ(menu, want);
    EXPECT_EQ(drop, want);
}

TEST_F(ViewTest, ViewSettingsAreWrittenOnClose) {
    W().mnuVTool->trigger();  // hide the toolbar
    EXPECT_FALSE(W().tbrMain->isVisibleTo(view.get()));
    view->close();
    platform::SettingsStore again(dir.path() / "user.ini");
    EXPECT_EQ(again.GetString("Look Up", "ToolBar"), "False");
    EXPECT_EQ(again.GetString("Look Up", "StatusBar"), "True");
    EXPECT_EQ(again.GetString("Look Up", "Server"), "False");
}
