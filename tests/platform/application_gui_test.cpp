// Runs without qt_env.cpp: these tests make their own application objects.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "platform/application.h"
#include "platform/prompt.h"
#include "platform/tray.h"
#include "tests/support/temp_dir.h"

using kest::test::ScopedEnv;

namespace {
int g_argc = 1;
char g_name[] = "platform-gui-test";
char* g_argv[] = {g_name, nullptr};
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

        // A question box answers with its default button, no.
        platform::QtPrompt prompt;
        QTimer::singleShot(50, [] {
            if (QWidget* box = QApplication::activeModalWidget()) box->close();
        });
        EXPECT_FALSE(prompt.AskYesNo(platform::IPrompt::Icon::Question, "Kestrune", "Sure?"));
    }
    {
        platform::Application app(g_argc, g_argv, false);
        EXPECT_FALSE(app.HasDisplay());
        EXPECT_EQ(qobject_cast<QApplication*>(QCoreApplication::instance()), nullptr);
        platform::QtPrompt prompt;  // no widgets: answers no without showing anything
        EXPECT_FALSE(prompt.AskYesNo(platform::IPrompt::Icon::Question, "Kestrune", "Sure?"));
    }
}
