#pragma once
// The process's event loop: a QApplication when a GUI is wanted and a display can be opened,
// else a QCoreApplication. Unix signals SIGTERM, SIGINT and SIGHUP are delivered into the loop
// (self-pipe), so shutdown runs as an ordinary handler.
#include <functional>
#include <memory>

namespace platform {

class Application {
  public:
    // argc and argv must outlive the object (Qt keeps them). Only one may exist at a time.
    Application(int& argc, char** argv, bool wantGui);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // True when this is a QApplication (windows, tray icon and message boxes possible).
    bool HasDisplay() const;
    // Runs the loop until Quit(); returns the exit code.
    int Run();
    // Ends Run() with the code once the current handler returns.
    void Quit(int code = 0);

    // SIGTERM, SIGINT or SIGHUP arrived; runs in the loop of Run(), never inside another
    // platform callback (one that pumps events or shows a box has returned first). A signal that
    // comes before Run() is delivered when Run() starts. Without a handler the loop quits with
    // 128 + the signal number.
    std::function<void(int signalNumber)> OnSignal;
    // The desktop session is ending (log-off or shutdown; GUI only).
    std::function<void()> OnSessionEnd;
    // The loop is about to end, whatever the reason (also after Quit()).
    std::function<void()> OnAboutToQuit;

    // DISPLAY or WAYLAND_DISPLAY is set and its server accepts a connection. An explicit
    // QT_QPA_PLATFORM=offscreen also counts (tests of the windows).
    static bool DisplayAvailable();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
