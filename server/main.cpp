#include "server/modMain.h"
#include "server/ui/views.h"

int main(int argc, char** argv) {
    return modMain::Main(argc, argv,
                         [](modMain::frmAlpha& alpha, platform::IPrompt* prompt,
                            platform::ILauncher* launcher, platform::Tray* tray) {
                             return std::make_unique<serverui::ServerWindows>(
                                 alpha, prompt, launcher, nullptr, tray);
                         });
}
