// Runs without qt_env.cpp: these tests make their own application objects.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "platform/application.h"
#include "platform/prompt.h"
#include "platform/tray.h"
#include "tests/support/temp_dir.h"

using kest::test::ScopedEnv;

namespace {
int g_argc = 1;
char g_name[] = "platform-gui-test";
char* g_argv[] = {g_name, nullptr};

// While it lives, waits in the loop for a message box, notes what the box shows and clicks the
// button that pick chooses. A box that never turns up is not waited for past about ten seconds:
// whatever window is open then is closed, so a box's own loop ends and the checks fail.
class BoxAnswer {
  public:
    explicit BoxAnswer(std::function<QAbstractButton*(QMessageBox&)> pick)
        : pick_(std::move(pick)) {
        poll_.setInterval(10);
        QObject::connect(&poll_, &QTimer::timeout, [this] { Poll(); });
        poll_.start();
    }

    bool shown = false;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;

  private:
    void Poll() {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            poll_.stop();
            shown = true;
            title = box->windowTitle();
            text = box->text();
            icon = box->icon();
            buttons = box->standardButtons();
            if (QPushButton* d = box->defaultButton()) defaultButton = box->standardButton(d);
            if (QAbstractButton* b = pick_(*box)) b->click();
        } else if (++tries_ >= 1000) {
            poll_.stop();
            for (QWidget* w : QApplication::topLevelWidgets()) w->close();
        }
    }

    std::function<QAbstractButton*(QMessageBox&)> pick_;
    QTimer poll_;
    int tries_ = 0;
};
}  // namespace

TEST(ApplicationGui, WidgetsOnlyWhenWantedAndADisplayOpens) {
    ScopedEnv platformName("QT_QPA_PLATFORM", "offscreen");
    {
        platform::Application app(g_argc, g_argv, true);
        EXPECT_TRUE(app.HasDisplay());
        EXPECT_NE(qobject_cast<QApplication*>(QCoreApplication::instance()), nullptr);
        // The server stays in the tray when its last window closes.
        EXPECT_FALSE(QApplication::quitOnLastWindowClosed());

        // No tray on this platform: the state is kept all the same.
        platform::Tray tray;
        tray.SetTip("Kestrune");
        tray.Show();
        tray.SetIcon(1);
        EXPECT_FALSE(tray.HasSystemTray());
        EXPECT_TRUE(tray.Shown());
        EXPECT_EQ(tray.Icon(), 1);
        EXPECT_EQ(tray.Tip(), "Kestrune");

        // A question box with yes and no, no being the default; the answer is the button taken.
        platform::QtPrompt prompt;
        {
            BoxAnswer box([](QMessageBox& b) { return b.defaultButton(); });
            EXPECT_FALSE(prompt.AskYesNo(platform::IPrompt::Icon::Question, "Kestrune", "Sure?"));
            ASSERT_TRUE(box.shown);
            EXPECT_EQ(box.title, "Kestrune");
            EXPECT_EQ(box.text, "Sure?");
            EXPECT_EQ(box.icon, QMessageBox::Question);
            EXPECT_EQ(box.buttons, QMessageBox::Yes | QMessageBox::No);
            EXPECT_EQ(box.defaultButton, QMessageBox::No);
        }
        {
            BoxAnswer box([](QMessageBox& b) { return b.button(QMessageBox::Yes); });
            EXPECT_TRUE(prompt.AskYesNo(platform::IPrompt::Icon::Error, "Kestrune", "Review?"));
            ASSERT_TRUE(box.shown);
            EXPECT_EQ(box.icon, QMessageBox::Critical);
        }
        {
            BoxAnswer box([](QMessageBox& b) { return b.button(QMessageBox::Ok); });
            prompt.Message(platform::IPrompt::Icon::Warning, "Kestrune", "Port taken");
            ASSERT_TRUE(box.shown);
            EXPECT_EQ(box.text, "Port taken");
            EXPECT_EQ(box.icon, QMessageBox::Warning);
            EXPECT_EQ(box.buttons, QMessageBox::Ok);
        }
    }
    {
        platform::Application app(g_argc, g_argv, false);
        EXPECT_FALSE(app.HasDisplay());
        EXPECT_EQ(qobject_cast<QApplication*>(QCoreApplication::instance()), nullptr);
        platform::QtPrompt prompt;  // no widgets: answers no without showing anything
        EXPECT_FALSE(prompt.AskYesNo(platform::IPrompt::Icon::Question, "Kestrune", "Sure?"));
    }
}
