// Drives the server's main window on the offscreen platform for the integration tests:
// "window_driver HOME getroot URL" runs "Get latest Internet Root file..." from the menu with the
// address set to URL and answers OK; every box shown is printed as "box: <icon> <text>" (new
// lines as " | "), then "cache: <records>". Exit status 0 when the command ran.
// "window_driver HOME traymenu SECONDS" starts the server of HOME and shows the tray icon's menu
// on the display for that long (for screenshots where no tray host runs).
#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/system_clock.h"
#include "server/resolver/clDNSCache.h"
#include "server/ui/views.h"
#include "tests/support/recording_launcher.h"
#include "tests/support/recording_prompt.h"

int main(int argc, char** argv) {
    const std::string mode = argc == 4 ? argv[2] : "";
    if (mode != "getroot" && mode != "traymenu") {
        std::fprintf(stderr, "usage: window_driver HOME getroot URL | HOME traymenu SECONDS\n");
        return 2;
    }
    if (mode == "getroot") ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const std::filesystem::path home = argv[1];
    platform::SystemClock clock;
    kest::test::RecordingPrompt prompt;
    kest::test::RecordingLauncher launcher;
    modMain::HostServices h;
    h.clock = &clock;
    h.prompt = &prompt;
    h.launcher = &launcher;
    h.programDir = home;
    h.displayAvailable = true;
    modMain::frmAlpha alpha(h);
    alpha.LoadSettings({});
    platform::SettingsStore store(home / "window.ini");
    if (mode == "traymenu") {
        serverui::ServerWindows windows(alpha, &prompt, &launcher, &store, nullptr);
        alpha.Begin();
        windows.TrayMenu()->popup(QPoint(24, 24));
        QTimer::singleShot(std::atoi(argv[3]) * 1000, &app, [&app] { app.quit(); });
        app.exec();
        return 0;
    }
    store.SetString("Server", "RootFileURL", argv[3]);
    serverui::ServerWindows windows(alpha, &prompt, &launcher, &store, nullptr);
    alpha.SetWindows(&windows);
    windows.ShowMain();
    auto* perm = windows.MainView()->findChild<QAction*>("mnuPerm");
    if (!perm) return 3;
    perm->trigger();
    for (const auto& box : prompt.boxes) {
        std::string text = box.text;
        for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos;)
            text.replace(at, 1, " | ");
        const char* icon = box.icon == platform::IPrompt::Icon::Warning ? "warning" : "info";
        std::printf("box: %s %s\n", icon, text.c_str());
    }
    std::printf("cache: %d\n", alpha.Cache().Count());
    alpha.SetWindows(nullptr);
    return 0;
}
