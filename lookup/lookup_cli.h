#pragma once
// The command-line form: `lookup [options] NAME` runs one look-up through the window's controller
// and prints the output box's text (LF line ends) to standard output.
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "lookup/frmQuery.h"

namespace platform {
class Timer;
}

namespace lookup {

// Exit statuses of the command line.
inline constexpr int kExitReply = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitNoReply = 9;
inline constexpr int kExitCannotConnect = 10;

struct CliOptions {
    std::string name;
    std::string server;  // empty: the default of kestrund.ini
    std::string type = "A";
    bool recursion = true;
    bool autoWhois = false;
    double timeoutSeconds = 5;
    int port = 0;  // 0: 53, or 43 for WHOIS
    bool help = false;
};

// False with a message for a usage error.
bool ParseCommandLine(const std::vector<std::string>& args, CliOptions& options,
                      std::string& error);
std::string UsageText();
// CR LF line ends as LF.
std::string ToLf(const std::string& text);

// One look-up: Start, then the event loop until OnExit reports the status (it may do so inside
// Start already, when nothing needs the network).
class CommandLineRun {
  public:
    CommandLineRun(const CliOptions& options, IQueryNet& net, platform::IPrompt& prompt,
                   platform::ILauncher& launcher, const std::filesystem::path& programDir,
                   std::ostream& out, std::ostream& err);
    ~CommandLineRun();
    void Start();
    // The timer ran out (the program's timer calls it; tests call it directly).
    void TimedOut();
    bool Finished() const { return exitCode_ >= 0; }
    int ExitCode() const { return exitCode_; }
    std::function<void(int code)> OnExit;
    frmQuery& Controller() { return query_; }

  private:
    void Finish(int code);
    CliOptions options_;
    frmQuery query_;
    std::ostream& out_;
    std::ostream& err_;
    std::unique_ptr<platform::Timer> timer_;
    int exitCode_ = -1;
};

}  // namespace lookup
