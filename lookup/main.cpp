// lookup: the window without arguments, the command-line form with any.
#include <iostream>
#include <string>
#include <vector>

#include "lookup/frmQueryView.h"
#include "lookup/lookup_cli.h"
#include "lookup/platform_net.h"
#include "platform/application.h"
#include "platform/launcher.h"
#include "platform/paths.h"
#include "platform/prompt.h"
#include "platform/settings_store.h"

int main(int argc, char** argv) {
    if (argc > 1) {
        const std::vector<std::string> args(argv + 1, argv + argc);
        lookup::CliOptions options;
        std::string error;
        if (!lookup::ParseCommandLine(args, options, error)) {
            std::cerr << "lookup: " << error << "\n" << lookup::UsageText();
            return lookup::kExitUsage;
        }
        if (options.help) {
            std::cout << lookup::UsageText();
            return 0;
        }
        platform::Application app(argc, argv, false);
        lookup::PlatformQueryNet net;
        platform::NullPrompt prompt;
        platform::Launcher launcher;
        lookup::CommandLineRun run(options, net, prompt, launcher, platform::PrepareProgramDirectory(),
                                   std::cout, std::cerr);
        run.OnExit = [&app](int code) { app.Quit(code); };
        run.Start();
        if (run.Finished()) return run.ExitCode();
        app.Run();
        return run.ExitCode();
    }
    platform::Application app(argc, argv, true);
    if (!app.HasDisplay()) {
        std::cerr << "lookup: no display for the window; give a name to look up instead\n"
                  << lookup::UsageText();
        return lookup::kExitUsage;
    }
    lookup::PlatformQueryNet net;
    platform::QtPrompt prompt;
    platform::Launcher launcher;
    platform::SettingsStore store;
    lookup::frmQuery query(net, prompt, launcher);
    query.Load(platform::PrepareProgramDirectory());
    lookup::frmQueryView view(query, store);
    view.show();
    return app.Run();
}
