#pragma once
// What the server object tells its windows. A headless server has none; the desktop program
// plugs in the window set of server/ui, so no widget code is reached from the server core.
namespace modMain {

class IServerWindows {
  public:
    virtual ~IServerWindows() = default;
    virtual bool MainOpen() const = 0;
    // Opens (or brings forward) the main window.
    virtual void ShowMain() = 0;
    // The status text or the running state changed.
    virtual void StatusChanged() = 0;
    // The timer's display step: status panels, graph, leases; hides a minimised main window.
    virtual void DisplayStep() = 0;
};

}  // namespace modMain
