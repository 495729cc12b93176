// Drives the server's main window on the offscreen platform for the integration tests:
// "window_driver HOME getroot URL" runs "Get latest Internet Root file..." from the menu with the
// address set to URL and answers OK; every box shown is printed as "box: <icon> <text>" (new
// lines as " | "), then "cache: <records>". Exit status 0 when the command ran.
#include <QAction>
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/system_clock.h"
#include "server/resolver/clDNSCache.h"
#include "server/ui/views.h"
#include "tests/support/recording_launcher.h"
#include "tests/support/recording_prompt.h"

int main(int argc, char** argv) {
    if (argc != 4 || std::string(argv[2]) != "getroot") {
        std::fprintf(stderr, "usage: window_driver HOME getroot URL\n");
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
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
