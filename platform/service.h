#pragma once
// Running under systemd: installing and removing the unit, and telling the manager we are ready.
// The unit folder is /etc/systemd/system unless $KESTRUNE_UNIT_DIR names another; the systemctl
// program is "systemctl" unless $KESTRUNE_SYSTEMCTL names another.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class Service {
  public:
    using Environment = std::vector<std::pair<std::string, std::string>>;

    // Writes <unitdir>/<serviceName>.service (atomically), then runs "systemctl daemon-reload"
    // and "systemctl enable <serviceName>.service". environment becomes Environment= lines (for
    // KESTRUNE_HOME, say). False, with LastError, when anything failed.
    bool InstallUnit(const std::string& serviceName, const std::string& description,
                     const std::filesystem::path& execPath, const std::vector<std::string>& args,
                     const Environment& environment = {});
    // Runs "systemctl stop" and "systemctl disable" (their failures are tolerated: the unit may
    // not be running or enabled), removes the unit file and runs "systemctl daemon-reload".
    // False, with LastError, when systemctl could not be run or the file not removed.
    bool UninstallUnit(const std::string& serviceName);
    // Runs "systemctl start <serviceName>.service". False, with LastError, when it failed.
    bool StartUnit(const std::string& serviceName);

    // Why the last call failed; empty after success.
    const std::string& LastError() const { return lastError_; }
    // Every command run, as "program arg1 arg2" lines (for the log).
    const std::vector<std::string>& Commands() const { return commands_; }

    static std::filesystem::path UnitDirectory();
    static std::string SystemctlProgram();
    static std::filesystem::path UnitFile(const std::string& serviceName);
    // A unit name we accept: letters, digits and ":-_.\@", not empty, no path parts.
    static bool ValidServiceName(const std::string& serviceName);
    // The unit file's text: the package's unit template filled in. The service runs as the
    // owner of the program directory ($KESTRUNE_HOME of environment, else the one of execPath),
    // which is the only folder it may write.
    static std::string UnitText(const std::string& description,
                                const std::filesystem::path& execPath,
                                const std::vector<std::string>& args,
                                const Environment& environment = {});
    // The template filled in with everything given.
    static std::string UnitTextFor(const std::string& description,
                                   const std::filesystem::path& execPath,
                                   const std::vector<std::string>& args,
                                   const Environment& environment, const std::string& user,
                                   const std::string& group,
                                   const std::filesystem::path& programDir);

    // Sends READY=1 to $NOTIFY_SOCKET; false when it is unset or the send failed.
    static bool NotifyReady();
    static bool NotifyStopping();
    // Started by systemd ($NOTIFY_SOCKET or $INVOCATION_ID set).
    static bool StartedByServiceManager();

  private:
    bool RunSystemctl(const std::vector<std::string>& args, bool mustSucceed);

    std::string lastError_;
    std::vector<std::string> commands_;
};

}  // namespace platform
