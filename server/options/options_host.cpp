#include "server/options/options_host.h"

#include <system_error>

#include "platform/autostart.h"
#include "platform/paths.h"
#include "platform/service.h"
#include "server/intake.h"
#include "server/replication/secondary_side.h"
#include "server/resolver/cachefiles.h"

namespace modOptions {
namespace {

// A word of a desktop entry's Exec line: quoted when it holds a reserved character. The file's
// string unescaping runs before the unquoting, so a quoting backslash is written twice.
std::string ExecWord(const std::string& word) {
    std::string out;
    for (char c : word) {
        if (c == '%') out += '%';  // a field code otherwise
        out += c;
    }
    if (out.find_first_of(" \t\n\"'\\><~|&;$*?#()`") == std::string::npos) return out;
    std::string quoted = "\"";
    for (char c : out) {
        if (c == '"' || c == '`' || c == '$') quoted += "\\\\";
        if (c == '\\') quoted += "\\\\\\";
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::vector<std::string> AlphaTarget::Blocks() const {
    return alpha_.Intake().Blocks();
}

void AlphaTarget::SetBlocks(std::vector<std::string> blocks) {
    alpha_.Intake().SetBlocks(std::move(blocks));
}

void AlphaTarget::SetTrayTip(const std::string& tip) {
    if (alpha_.Tray()) alpha_.Tray()->SetTip(tip);
}

void AlphaTarget::SetCaption(const std::string& caption) {
    if (onCaption) onCaption(caption);
}

bool AlphaTarget::SaveINI() {
    return modMain::SaveINI(alpha_.settings, alpha_.IniFile());
}

void AlphaTarget::SaveBlocks() {
    alpha_.Intake().SaveBlocks();
}

void AlphaTarget::LoadPerm() {
    alpha_.CacheFiles().LoadPerm();
}

void AlphaTarget::MLSync() {
    alpha_.Secondary().MasterList().MLSync();
}

void AlphaTarget::HideMainWindow() {
    if (onHideMainWindow) onHideMainWindow();
}

void AlphaTarget::RemoveTray() {
    if (alpha_.Tray()) alpha_.Tray()->Remove();
}

bool SystemdService::Installed(const std::string& serviceName) {
    std::error_code ec;
    return platform::Service::ValidServiceName(serviceName) &&
           std::filesystem::exists(platform::Service::UnitFile(serviceName), ec);
}

bool SystemdService::Install(const std::string& serviceName, const std::string& description) {
    platform::Service service;
    // The service reads the same program directory as this desktop instance.
    const bool ok = service.InstallUnit(serviceName, description, platform::ExecutablePath(), {},
                                        {{"KESTRUNE_HOME", programDir_.string()}});
    lastError_ = service.LastError();
    return ok;
}

bool SystemdService::Uninstall(const std::string& serviceName) {
    platform::Service service;
    const bool ok = service.UninstallUnit(serviceName);
    lastError_ = service.LastError();
    return ok;
}

bool SystemdService::Start(const std::string& serviceName) {
    platform::Service service;
    const bool ok = service.StartUnit(serviceName);
    lastError_ = service.LastError();
    return ok;
}

std::string XdgStartupEntry::Command(const std::filesystem::path& exe,
                                     const std::filesystem::path& programDir) {
    return "env " + ExecWord("KESTRUNE_HOME=" + programDir.string()) + " " +
           ExecWord(exe.string()) + " -n";
}

bool XdgStartupEntry::SetDesktopStart() {
    return platform::SetAutostart(Command(platform::ExecutablePath(), programDir_));
}

bool XdgStartupEntry::Remove() {
    return platform::RemoveAutostart();
}

}  // namespace modOptions
