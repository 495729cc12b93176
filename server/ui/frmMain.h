#pragma once
// The server's main window, without its widgets: the open-window flags, the caption and status
// texts, and every command of the menu, toolbar and tray with its calls, questions and messages.
// The Qt view (frmMainView) binds widgets to it; tests drive it with a recording view.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/host.h"
#include "platform/settings_store.h"
#include "server/frmAlpha.h"
#include "server/ui/frmLeases.h"
#include "server/ui/rootfile.h"

namespace serverui {

enum class Child { Graph, Log, Leases };

// What the controller asks of the window it drives.
class IMainView {
  public:
    virtual ~IMainView() = default;
    virtual void ShowChild(Child child) = 0;  // open or bring forward
    virtual bool Minimized() const = 0;
    virtual void CloseMain() = 0;  // the window goes; the server stays
    virtual void Refresh() = 0;    // captions, status panels, bars, enabled entries
    virtual void RedrawGraph() = 0;
    virtual void RefreshLeases() = 0;  // the lease list changed
    virtual void ClearLogList() = 0;
    virtual void ShowAbout() = 0;
    // The download's progress dialog: received and total bytes (-1 unknown); false once the
    // user cancelled.
    virtual bool DownloadProgress(int64_t received, int64_t total) = 0;
    virtual void DownloadDone() = 0;
};

struct MainHost {
    platform::IPrompt* prompt = nullptr;
    platform::ILauncher* launcher = nullptr;
    platform::SettingsStore* store = nullptr;  // window settings
    IRootFetcher* fetcher = nullptr;
    std::filesystem::path programFolder;  // where kestzone and lookup are installed
};

class frmMain {
  public:
    static constexpr const char* kTitle = "Kestrune";
    static constexpr const char* kSection = "Server";  // of the window settings store
    static constexpr const char* kOnlineSupport = "https://kestrune.example/support";
    static constexpr int kDownloadTimeoutMs = 60'000;

    frmMain(modMain::frmAlpha& alpha, MainHost host);

    void SetView(IMainView* view) { view_ = view; }

    // Open-window flags.
    bool MainOpen = false;
    bool GraphOpen = false;
    bool LogOpen = false;
    bool LeasesOpen = false;

    // The main window opened / was unloaded (closed, or hidden to the tray).
    void Opened();
    void Unloaded();
    // The view closed one child window.
    void ChildClosed(Child child);

    // Texts.
    std::string Caption() const;
    std::string StartStopCaption() const;
    std::string StatusText() const { return alpha_.StatusText; }
    bool StatusRunning() const { return alpha_.Running; }
    std::string RequestsPanel() const;
    std::string CachePanel() const;
    static std::string UptimeText(double days);
    static std::string Number(double value);  // " 12", "-3"
    bool ToolBarShown() const;
    bool StatusBarShown() const;
    std::string RootFileUrl() const;

    // The options dialog, once it exists; while this is empty there is no entry for it.
    std::function<void()> OpenOptions;

    // The timer's display step.
    void TimerStep();

    // Commands.
    void mnuStartStop();
    void mnuReload();
    void mnuClearCache();
    void mnuViewCache();
    void mnuEdit();
    void mnuQuery();
    void mnuOptions();
    void mnuPerm();
    void mnuSupport();
    void mnuExit();
    void mnuGraph();
    void mnuLog();
    void mnuLeases();
    void mnuClearLog();
    void mnuToolBar();
    void mnuStatusBar();
    void mnuHelp();
    void mnuAbout();
    void mnuWeb();

    frmLeases& Leases() { return leases_; }
    modMain::frmAlpha& Alpha() { return alpha_; }

  private:
    bool Ask(const std::string& text);
    void Warn(const std::string& text);
    void Inform(const std::string& text);
    bool StartProgram(const std::string& name, const std::vector<std::string>& args);
    void ToggleBar(const char* key);
    void Refresh();
    // The server object shut down while a box or a download let events run.
    bool Gone() const { return alpha_.ClosedDown(); }

    modMain::frmAlpha& alpha_;
    MainHost host_;
    IMainView* view_ = nullptr;
    frmLeases leases_;
};

}  // namespace serverui
