#pragma once
// The real counterparts of what the options dialog applies to: the server object, the systemd
// unit and the XDG autostart entry.
#include <functional>
#include <string>
#include <vector>

#include "server/frmAlpha.h"
#include "server/options/frmOptions.h"

namespace modOptions {

class AlphaTarget : public IOptionsTarget {
  public:
    explicit AlphaTarget(modMain::frmAlpha& alpha) : alpha_(alpha) {}

    // The main window's caption and hiding it, given by whoever shows the dialog.
    std::function<void(const std::string&)> onCaption;
    std::function<void()> onHideMainWindow;

    modMain::Settings& Settings() override { return alpha_.settings; }
    std::vector<std::string> LocalIPs() const override { return alpha_.LocalIPs; }
    std::filesystem::path ProgramDir() const override { return alpha_.ProgramDir(); }
    std::vector<std::string> Blocks() const override;
    void SetBlocks(std::vector<std::string> blocks) override;
    bool Running() const override { return alpha_.Running; }
    void SetTrayTip(const std::string& tip) override;
    void SetCaption(const std::string& caption) override;
    bool SaveINI() override;
    void PauseServer() override { alpha_.PauseServer(); }
    void Pump() override { alpha_.Pump(); }
    bool StartServer() override { return alpha_.StartServer(); }
    void SaveBlocks() override;
    void LoadPerm() override;
    void MLSync() override;
    void HideMainWindow() override;
    void RemoveTray() override;
    void CloseDown() override { alpha_.CloseDown(); }
    void AddLine(int kind, const std::string& text) override { alpha_.AddLine(kind, text); }

  private:
    modMain::frmAlpha& alpha_;
};

// The unit of the server's program directory, run by the executable running now.
class SystemdService : public IServiceControl {
  public:
    explicit SystemdService(std::filesystem::path programDir)
        : programDir_(std::move(programDir)) {}
    bool Installed(const std::string& serviceName) override;
    bool Install(const std::string& serviceName, const std::string& description) override;
    bool Uninstall(const std::string& serviceName) override;
    bool Start(const std::string& serviceName) override;
    std::string LastError() const override { return lastError_; }

  private:
    std::filesystem::path programDir_;
    std::string lastError_;
};

class XdgStartupEntry : public IStartupEntry {
  public:
    explicit XdgStartupEntry(std::filesystem::path programDir)
        : programDir_(std::move(programDir)) {}
    bool SetDesktopStart() override;
    bool Remove() override;
    // The entry's command: the executable with "-n", in the program directory given.
    static std::string Command(const std::filesystem::path& exe,
                               const std::filesystem::path& programDir);

  private:
    std::filesystem::path programDir_;
};

}  // namespace modOptions
