#pragma once
// Error reports: the event log line (service runs), the support file support.txt describing the
// whole installation, and, when a user is present, an error box offering to open that file.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/report.h"
#include "platform/host.h"
#include "server/activity_log.h"
#include "server/settings.h"

namespace modMain {

inline constexpr const char* kSupportAddress = "support@kestrune.example";

// What a report needs from the rest of the server; the server object fills it. Any member left
// empty gives its neutral value (no addresses, paused, 0, nothing saved).
struct ReportFacts {
    std::function<std::vector<std::string>()> localIPs;
    std::function<bool()> running;
    std::function<bool()> interactive;  // a user is present to see boxes
    std::function<double()> totalRequests;
    std::function<int64_t()> cacheCount;
    std::function<double()> startTime;                 // UTC days
    std::function<void()> saveBlocks;                  // saves the block list before it is copied
    std::function<std::filesystem::path()> hostsFile;  // empty when no hosts file is set

    // support.txt is written here; kestrund.ini, named.root, blocks.dat and dhcp.dat live here.
    std::filesystem::path programDir;
    std::filesystem::path dataDir;  // default programDir/data
};

class ErrorReporter {
  public:
    // prompt, eventLog and launcher may be null (headless runs, tests).
    ErrorReporter(const Settings& settings, const kest::IClock& clock, ActivityLog& log,
                  ReportFacts facts, platform::IPrompt* prompt, platform::IEventLog* eventLog,
                  platform::ILauncher* launcher);

    // Reports the exception being handled (call inside a catch block), or error number 0.
    void ErrorReport(const std::string& where, const std::string& additional = {});
    // Reports an error already read. A report raised while one is running is only logged.
    void Report(const std::string& where, const std::string& additional,
                const kest::RunError& error);

    // Writes support.txt (without an error section when error.number is 0); false when it
    // could not be written at all. Also used by the "Support File..." command.
    bool WriteSupportFile(const std::string& where, const std::string& additional,
                          const kest::RunError& error);
    // The support file's whole text.
    std::string SupportText(const std::string& where, const std::string& additional,
                            const kest::RunError& error);

    std::filesystem::path SupportFile() const { return facts_.programDir / "support.txt"; }
    bool Reporting() const { return depth_ > 0; }

    // "1.00.0000"
    static std::string VersionText();

  private:
    const Settings& settings_;
    const kest::IClock& clock_;
    ActivityLog& log_;
    ReportFacts facts_;
    platform::IPrompt* prompt_;
    platform::IEventLog* eventLog_;
    platform::ILauncher* launcher_;
    int depth_ = 0;
};

// Makes reporter the process's error sink (kest::ReportError goes to it); returns the sink it
// replaced. Call once at start-up, and again with the returned sink before reporter goes away.
kest::ErrorSink InstallErrorSink(ErrorReporter& reporter);

}  // namespace modMain
