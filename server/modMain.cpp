#include "server/modMain.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/application.h"
#include "platform/autostart.h"
#include "platform/event_pump.h"
#include "platform/interfaces.h"
#include "platform/launcher.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "platform/service.h"
#include "platform/syslog_event_log.h"
#include "platform/system_clock.h"
#include "platform/tray.h"
#include "server/frmAlpha.h"

namespace modMain {
namespace {

// "-u": the service and the start-up entry go, and the settings say so.
int RemoveService(Settings& settings, const std::filesystem::path& ini) {
    platform::RemoveAutostart();
    settings.StartWin = false;
    settings.NTService = false;
    SaveINI(settings, ini);
    platform::Service service;
    if (!service.UninstallUnit(settings.ServiceName)) {
        std::fprintf(stderr, "Removing the service %s: %s\n", settings.ServiceName.c_str(),
                     service.LastError().c_str());
        return 1;
    }
    return 0;
}

}  // namespace

std::string CommandLine(int argc, char** argv) {
    std::string cmd;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) cmd += ' ';
        cmd += argv[i];
    }
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!cmd.empty() && blank(static_cast<unsigned char>(cmd.back()))) cmd.pop_back();
    const auto first = std::find_if_not(cmd.begin(), cmd.end(), blank);
    cmd.erase(cmd.begin(), first);
    std::transform(cmd.begin(), cmd.end(), cmd.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return cmd;
}

int Main(int argc, char** argv, const WindowsFactory& makeWindows) {
    const std::vector<std::string> localIPs = platform::IdentifyHost();
    // A system installation's first start copies the default files into /var/lib/kestrune.
    const std::filesystem::path home = platform::PrepareProgramDirectory();
    const std::filesystem::path ini = home / "kestrund.ini";
    Settings loaded;
    LoadINI(loaded, ini, localIPs);
    const std::string cmd = CommandLine(argc, argv);

    if (cmd == "-u") return RemoveService(loaded, ini);
    // A unit that runs kestserv is a service whatever the settings file says (the package's unit
    // runs before anyone set NTService).
    const bool service = loaded.NTService || platform::Service::StartedByServiceManager();
    if (!service && cmd != "-n") return 0;

    platform::Application app(argc, argv, !service);
    const bool display = app.HasDisplay();
    platform::SystemClock clock;
    platform::QtPrompt qtPrompt;
    platform::NullPrompt nullPrompt;
    platform::Tray tray;
    platform::SyslogEventLog eventLog(loaded.ServiceName);
    platform::Launcher launcher;
    platform::EventPump pump;

    HostServices host;
    host.clock = &clock;
    host.prompt = display ? static_cast<platform::IPrompt*>(&qtPrompt) : &nullPrompt;
    host.tray = &tray;
    host.eventLog = &eventLog;
    host.launcher = &launcher;
    host.pump = &pump;
    host.programDir = home;
    host.displayAvailable = display;

    frmAlpha alpha(host);
    alpha.LocalIPs = localIPs;
    alpha.settings = loaded;
    // Headless runs show every line on standard output, for a terminal or the journal.
    alpha.Log().SetEcho(service || !display);
    alpha.OnUnload = [&app] { app.Quit(0); };
    tray.OnClick = [&alpha] { alpha.TrayClick(); };
    // A service or a run without a display creates no widget at all.
    std::unique_ptr<IServerWindows> windows;
    if (!service && display && makeWindows) {
        windows = makeWindows(alpha, host.prompt, host.launcher, &tray);
        alpha.SetWindows(windows.get());
    }

    if (service) {
        app.OnSignal = [&alpha](int) { alpha.ServiceStop(); };
        app.OnSessionEnd = [&alpha] { alpha.ServiceStop(); };
        alpha.ServiceStart();
        platform::Service::NotifyReady();
    } else {
        app.OnSignal = [&alpha](int) { alpha.CloseRequest(); };
        app.OnSessionEnd = [&alpha] { alpha.CloseRequest(); };
        alpha.Begin();
    }
    const int code = app.Run();
    alpha.SetWindows(nullptr);
    windows.reset();
    if (service) platform::Service::NotifyStopping();
    return code;
}

}  // namespace modMain
