#include "platform/application.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstdlib>
#include <vector>

#include "platform/timer.h"
#include "tests/platform/qt_env.h"

namespace {
int g_argc = 1;
char g_name[] = "platform-test";
char* g_argv[] = {g_name, nullptr};
}  // namespace

TEST(Application, SignalsArriveAsCallbacksInTheLoop) {
    platform::Application app(g_argc, g_argv, false);
    EXPECT_FALSE(app.HasDisplay());
    std::vector<int> got;
    app.OnSignal = [&](int signo) {
        got.push_back(signo);
        if (got.size() == 3) app.Quit(0);
    };
    ASSERT_EQ(::raise(SIGHUP), 0);
    ASSERT_EQ(::raise(SIGTERM), 0);
    // Nothing runs inside the signal handler itself, nor before the loop runs.
    kest::test::RunTicks(1);
    EXPECT_TRUE(got.empty());
    QTimer::singleShot(0, [] { ::raise(SIGINT); });
    // Only if the signals never come; gone with this test, since it holds references into it.
    QObject scope;
    QTimer::singleShot(30000, &scope, [&] { app.Quit(1); });
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(got, (std::vector<int>{SIGHUP, SIGTERM, SIGINT}));
}

TEST(Application, SignalWithoutHandlerEndsRunAndQuitBeforeRunReturnsAtOnce) {
    platform::Application app(g_argc, g_argv, false);
    bool aboutToQuit = false;
    app.OnAboutToQuit = [&] { aboutToQuit = true; };
    QTimer::singleShot(0, [] { ::raise(SIGTERM); });
    EXPECT_EQ(app.Run(), 128 + SIGTERM);
    EXPECT_TRUE(aboutToQuit);

    app.Quit(3);
    EXPECT_EQ(app.Run(), 3);

    // A handler that shuts down and quits from the loop.
    app.OnSignal = [&](int signo) { app.Quit(signo); };
    QTimer::singleShot(0, [] { ::raise(SIGHUP); });
    EXPECT_EQ(app.Run(), SIGHUP);
}

TEST(Application, NoDisplayWithoutDisplayVariables) {
    const char* keep[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    std::vector<std::string> saved;
    for (const char* k : keep) {
        const char* v = std::getenv(k);
        saved.push_back(v ? v : "");
        ::unsetenv(k);
    }
    EXPECT_FALSE(platform::Application::DisplayAvailable());
    ::setenv("DISPLAY", ":9173", 1);  // no such X server
    EXPECT_FALSE(platform::Application::DisplayAvailable());
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    EXPECT_TRUE(platform::Application::DisplayAvailable());
    for (size_t i = 0; i < saved.size(); ++i) {
        if (saved[i].empty()) {
            ::unsetenv(keep[i]);
        } else {
            ::setenv(keep[i], saved[i].c_str(), 1);
        }
    }
}

TEST(Application, SignalWaitsUntilAPumpingHandlerHasReturned) {
    platform::Application app(g_argc, g_argv, false);
    std::vector<int> got;
    platform::Timer handler(0, true);
    size_t seenInside = 99;
    handler.OnTimeout = [&] {
        ::raise(SIGTERM);
        // What a request handler does: let pending events run, here until a timer has fired
        // that is later than the first moment the signal could be looked at again.
        bool late = false;
        QTimer lateTimer;
        lateTimer.setSingleShot(true);
        QObject::connect(&lateTimer, &QTimer::timeout, [&] { late = true; });
        lateTimer.start(50);
        while (!late) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        seenInside = got.size();
    };
    handler.Start();
    app.OnSignal = [&](int signo) {
        got.push_back(signo);
        app.Quit(0);
    };
    QObject scope;
    QTimer::singleShot(30000, &scope, [&] { app.Quit(1); });  // only if the signal never comes
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(seenInside, 0u);
    EXPECT_EQ(got, std::vector<int>{SIGTERM});
}
