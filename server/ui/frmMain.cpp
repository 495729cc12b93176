#include "server/ui/frmMain.h"

#include <cmath>
#include <initializer_list>

#include "core/report.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "server/authority/clDNSAuthData.h"
#include "server/error_report.h"
#include "server/replication/master_list.h"
#include "server/replication/secondary_side.h"
#include "server/resolver/cachefiles.h"
#include "server/resolver/clDNSCache.h"

namespace serverui {
namespace {

using Icon = platform::IPrompt::Icon;
using Buttons = platform::IPrompt::Buttons;
using Answer = platform::IPrompt::Answer;

std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const auto& line : lines) {
        if (!text.empty()) text += '\n';
        text += line;
    }
    return text;
}

std::string Plural(int64_t n, const char* unit) {
    return std::to_string(n) + " " + unit + (n == 1 ? "" : "s");
}

}  // namespace

frmMain::frmMain(modMain::frmAlpha& alpha, MainHost host)
    : alpha_(alpha), host_(std::move(host)), leases_(alpha.Leases(), alpha.Clock(), host_.prompt) {}

void frmMain::Opened() {
    MainOpen = true;
    Refresh();
}

void frmMain::Unloaded() {
    MainOpen = false;
    GraphOpen = false;
    LeasesOpen = false;
    if (LogOpen) alpha_.Log().CloseWindow();
    LogOpen = false;
}

void frmMain::ChildClosed(Child child) {
    switch (child) {
        case Child::Graph:
            GraphOpen = false;
            break;
        case Child::Leases:
            LeasesOpen = false;
            break;
        case Child::Log:
            LogOpen = false;
            alpha_.Log().CloseWindow();
            break;
    }
    Refresh();
}

std::string frmMain::Caption() const {
    const std::string& name = alpha_.settings.Name;
    return name.empty() ? std::string(kTitle) : name + " - " + kTitle;
}

std::string frmMain::StartStopCaption() const {
    return alpha_.Running ? "&Pause Server" : "&Start Server";
}

std::string frmMain::Number(double value) {
    const auto n = static_cast<int64_t>(std::llround(value));
    return (n >= 0 ? " " : "") + std::to_string(n);
}

std::string frmMain::RequestsPanel() const {
    return "Requests:" + Number(alpha_.TotalRequests) + " ";
}

std::string frmMain::CachePanel() const {
    return "Cache:" + Number(alpha_.Cache().Count()) + " ";
}

std::string frmMain::UptimeText(double days) {
    const auto minutes = static_cast<int64_t>(std::floor(std::max(days, 0.0) * 1440.0 + 1e-6));
    const int64_t d = minutes / 1440;
    const int64_t h = minutes / 60 % 24;
    const int64_t m = minutes % 60;
    std::string text = "Uptime: ";
    if (d > 0) text += Plural(d, "day") + ", ";
    if (h > 0) text += Plural(h, "hour") + ", ";
    return text + Plural(m, "minute");
}

bool frmMain::ToolBarShown() const {
    return !host_.store || host_.store->GetString(kSection, "MainToolBar", "Yes") != "No";
}

bool frmMain::StatusBarShown() const {
    return !host_.store || host_.store->GetString(kSection, "MainStatusBar", "Yes") != "No";
}

std::string frmMain::RootFileUrl() const {
    const std::string url =
        host_.store ? host_.store->GetString(kSection, "RootFileURL", "") : std::string();
    return url.empty() ? std::string(kDefaultRootFileUrl) : url;
}

void frmMain::Refresh() {
    if (view_ && MainOpen) view_->Refresh();
}

bool frmMain::Ask(const std::string& text) {
    return host_.prompt && host_.prompt->Ask(Icon::Question, kTitle, text, Buttons::YesNo,
                                             Answer::No) == Answer::Yes;
}

void frmMain::Warn(const std::string& text) {
    if (host_.prompt) host_.prompt->Message(Icon::Warning, kTitle, text);
}

void frmMain::Inform(const std::string& text) {
    if (host_.prompt) host_.prompt->Message(Icon::Information, kTitle, text);
}

bool frmMain::StartProgram(const std::string& name, const std::vector<std::string>& args) {
    const std::filesystem::path program = host_.programFolder / name;
    const bool started = host_.launcher && host_.launcher->Start(program.string(), args);
    if (!started) Warn("Could not start " + program.string() + " !");
    // Starting a program may take a moment in which the timer runs: show what is now true.
    Refresh();
    return started;
}

void frmMain::TimerStep() {
    try {
        if (!MainOpen || !view_) return;
        if (view_->Minimized()) {
            // The server goes on in the tray.
            view_->CloseMain();
            return;
        }
        if (alpha_.Running) alpha_.SetStatus(UptimeText(alpha_.Clock().Now() - alpha_.StartTime));
        Refresh();
        if (GraphOpen) view_->RedrawGraph();
        if (LeasesOpen && leases_.Due()) {
            leases_.RefreshList();
            view_->RefreshLeases();
        }
    } catch (...) {
        kest::ReportError("frmMain Resize");
    }
}

void frmMain::mnuStartStop() {
    try {
        if (alpha_.Running)
            alpha_.PauseServer();
        else
            alpha_.StartServer();
    } catch (...) {
        kest::ReportError("frmMain mnuStartStop");
    }
    // A failed start shows a box in which the timer runs: the caption follows what is true now.
    Refresh();
}

void frmMain::mnuReload() {
    try {
        if (alpha_.settings.MasterDir.empty())
            alpha_.Zones().LoadAll();
        else
            alpha_.Secondary().MasterList().MLSync();
        // Loading lets events run; the server may have shut down meanwhile.
        if (Gone()) return;
        alpha_.CacheFiles().LoadPerm();
    } catch (...) {
        kest::ReportError("frmMain mnuReload");
    }
    Refresh();
}

void frmMain::mnuClearCache() {
    try {
        if (!Ask("Are you sure you want to clear the cached records ?")) return;
        if (Gone()) return;
        alpha_.Cache().ClearCache();
        alpha_.AddLine(modMain::kLogEvent, "Cache cleared by operator");
    } catch (...) {
        kest::ReportError("frmMain mnuClearCache");
    }
    Refresh();
}

void frmMain::mnuViewCache() {
    try {
        if (!alpha_.CacheFiles().SaveCache(true)) return;
        const std::filesystem::path viewer = alpha_.ProgramDir() / "kestpeek";
        const bool started =
            host_.launcher &&
            host_.launcher->Start(viewer.string(), {alpha_.CacheFiles().SnapshotFile().string()});
        if (!started) Warn("Could not open Cache Snapshot Viewer !");
    } catch (...) {
        kest::ReportError("frmMain mnuViewCache");
    }
    Refresh();
}

void frmMain::mnuEdit() {
    try {
        StartProgram("kestzone", {});
    } catch (...) {
        kest::ReportError("frmMain mnuEdit");
    }
}

void frmMain::mnuQuery() {
    try {
        StartProgram("lookup", {});
    } catch (...) {
        kest::ReportError("frmMain mnuQuery");
    }
}

void frmMain::mnuOptions() {
    try {
        if (OpenOptions) OpenOptions();
    } catch (...) {
        kest::ReportError("frmMain mnuOptions");
    }
    Refresh();
}

void frmMain::mnuPerm() {
    try {
        if (!host_.prompt || !host_.fetcher) return;
        const Answer go =
            host_.prompt->Ask(Icon::Information, kTitle,
                              Lines({"This function will connect to the Internic and download",
                                     "the latest Internet Root file.", "",
                                     "The Internet Root records very seldom change, and Kestrune",
                                     "comes with the latest Root file at the time of shipping."}),
                              Buttons::OkCancel, Answer::Ok);
        if (go != Answer::Ok || Gone()) return;
        const std::string url = RootFileUrl();
        const FetchResult got =
            host_.fetcher->Fetch(url, kDownloadTimeoutMs, [this](int64_t received, int64_t total) {
                return !view_ || view_->DownloadProgress(received, total);
            });
        if (view_) view_->DownloadDone();
        // The download let events run: the server may have gone meanwhile.
        if (Gone()) return;
        if (!got.ok) {
            Warn(Lines({"Could not download the Internet Root file from", url, "", got.error, "",
                        "named.root was not changed."}));
            return;
        }
        if (!RootFileUsable(got.body)) {
            Warn(Lines({"The file downloaded from", url,
                        "does not list the root name servers with their addresses.", "",
                        "named.root was not changed."}));
            return;
        }
        const std::filesystem::path root = alpha_.CacheFiles().RootFile();
        platform::WriteFileAtomic(root, got.body);
        alpha_.CacheFiles().LoadPerm();
        alpha_.AddLine(modMain::kLogEvent, "Internet Root file loaded from " + url);
        Inform(Lines({"The latest Internet Root file was saved as", "'" + root.string() + "'",
                      "and loaded."}));
    } catch (...) {
        kest::ReportError("frmMain mnuPerm");
    }
    Refresh();
}

void frmMain::mnuSupport() {
    try {
        const kest::RunError none;
        const std::filesystem::path file = alpha_.Reporter().SupportFile();
        if (!alpha_.Reporter().WriteSupportFile("", "", none)) {
            Warn("Could not write the support file '" + file.string() + "' !");
            return;
        }
        if (!host_.prompt) return;
        const bool review = host_.prompt->AskYesNo(
            Icon::Information, kTitle,
            Lines({"A support file containing information about your",
                   "system and configuration was created as", "'" + file.string() + "'",
                   std::string("Please send this file to ") + modMain::kSupportAddress + " and",
                   "state any other information you think may be useful.", "",
                   "Review the support file with notepad now ?"}));
        if (review && host_.launcher) host_.launcher->EditFile(file);
    } catch (...) {
        kest::ReportError("frmMain mnuSupport");
    }
}

void frmMain::mnuExit() {
    try {
        if (!host_.prompt || !host_.prompt->AskYesNo(Icon::Question, kTitle, "Exit Kestrune ?"))
            return;
        // While the question was open the server may have been stopped already.
        if (Gone()) return;
        if (alpha_.settings.NTService) {
            // The service manager stops the unit, whose stop event shuts the server down.
            if (host_.launcher)
                host_.launcher->Start("systemctl", {"stop", alpha_.settings.ServiceName});
            return;
        }
        if (view_ && MainOpen) view_->CloseMain();
        alpha_.CloseDown();
    } catch (...) {
        kest::ReportError("frmMain mnuExit");
    }
}

void frmMain::mnuGraph() {
    GraphOpen = true;
    if (view_) view_->ShowChild(Child::Graph);
}

void frmMain::mnuLog() {
    LogOpen = true;
    alpha_.Log().OpenWindow();
    if (view_) view_->ShowChild(Child::Log);
    Refresh();
}

void frmMain::mnuLeases() {
    LeasesOpen = true;
    leases_.RefreshList();
    if (view_) {
        view_->ShowChild(Child::Leases);
        view_->RefreshLeases();
    }
}

void frmMain::mnuClearLog() {
    alpha_.Log().Clear();
    if (view_ && LogOpen) view_->ClearLogList();
}

void frmMain::ToggleBar(const char* key) {
    try {
        const bool shown = !host_.store || host_.store->GetString(kSection, key, "Yes") != "No";
        if (host_.store) host_.store->SetString(kSection, key, shown ? "No" : "Yes");
    } catch (...) {
        kest::ReportError("frmMain SaveWindowsPos");
    }
    Refresh();
}

void frmMain::mnuToolBar() {
    ToggleBar("MainToolBar");
}

void frmMain::mnuStatusBar() {
    ToggleBar("MainStatusBar");
}

void frmMain::mnuHelp() {
    if (host_.launcher) host_.launcher->OpenUrl(platform::ManualUrl("server.html"));
}

void frmMain::mnuAbout() {
    try {
        if (view_) view_->ShowAbout();
    } catch (...) {
        kest::ReportError("frmMain mnuAbout");
    }
}

void frmMain::mnuWeb() {
    if (host_.launcher) host_.launcher->OpenUrl(kOnlineSupport);
}

}  // namespace serverui
