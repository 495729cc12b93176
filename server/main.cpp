#include "platform/settings_store.h"
#include "server/modMain.h"
#include "server/ui/views.h"

namespace {

// The desktop's windows with the user's window settings store.
class DesktopWindows : public serverui::ServerWindows {
  public:
    DesktopWindows(modMain::frmAlpha& alpha, platform::IPrompt* prompt,
                   platform::ILauncher* launcher, platform::Tray* tray,
                   std::unique_ptr<platform::SettingsStore> store)
        : ServerWindows(alpha, prompt, launcher, store.get(), tray), store_(std::move(store)) {}

  private:
    std::unique_ptr<platform::SettingsStore> store_;
};

}  // namespace

int main(int argc, char** argv) {
    return modMain::Main(argc, argv,
                         [](modMain::frmAlpha& alpha, platform::IPrompt* prompt,
                            platform::ILauncher* launcher, platform::Tray* tray) {
                             auto store = std::make_unique<platform::SettingsStore>();
                             return std::unique_ptr<modMain::IServerWindows>(new DesktopWindows(
                                 alpha, prompt, launcher, tray, std::move(store)));
                         });
}
