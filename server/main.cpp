#include "server/modMain.h"
#include "server/options/options_dialog.h"
#include "server/ui/views.h"

int main(int argc, char** argv) {
    return modMain::Main(argc, argv,
                         [](modMain::frmAlpha& alpha, platform::IPrompt* prompt,
                            platform::ILauncher* launcher, platform::Tray* tray) {
                             auto windows = std::make_unique<serverui::ServerWindows>(
                                 alpha, prompt, launcher, nullptr, tray);
                             auto* set = windows.get();
                             // Over the main window when it is open, else on its own.
                             set->Controller().OpenOptions = [&alpha, set] {
                                 modOptions::ShowOptionsDialog(alpha, set->MainView());
                             };
                             return windows;
                         });
}
