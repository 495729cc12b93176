#pragma once
// The server's program entry.
#include <functional>
#include <memory>
#include <string>

#include "server/windows.h"

namespace platform {
class IPrompt;
class ILauncher;
class Tray;
}  // namespace platform

namespace modMain {

class frmAlpha;

// Builds the desktop's windows for a server object; given by the executable, so the server core
// does not link the widget code.
using WindowsFactory = std::function<std::unique_ptr<IServerWindows>(
    frmAlpha& alpha, platform::IPrompt* prompt, platform::ILauncher* launcher,
    platform::Tray* tray)>;

// "-n": desktop start; "-u": remove the service. With NTService set the program runs as a
// service whatever the command line. Returns the process's exit code. Windows are made only on a
// desktop start with a display.
int Main(int argc, char** argv, const WindowsFactory& makeWindows = {});

// The command line as the server reads it: the arguments joined, trimmed and lower-cased.
std::string CommandLine(int argc, char** argv);

}  // namespace modMain
