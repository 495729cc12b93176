#pragma once
// Recording stand-ins for what the options dialog applies to: the server, the service manager
// and the start-up entry, all writing into one list of calls so their order can be checked.
#include <deque>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "server/options/frmOptions.h"

namespace kest::test {

// Every call of the applying, in order, in one list shared by the three fakes.
struct CallLog {
    std::vector<std::string> calls;
};

class RecordingTarget : public modOptions::IOptionsTarget {
  public:
    explicit RecordingTarget(CallLog& log) : log_(log) {}

    modMain::Settings settings;
    std::vector<std::string> ips{"192.168.1.5", "10.1.2.3", "127.0.0.1"};
    std::filesystem::path programDir;
    std::vector<std::string> blocks;
    bool running = true;
    std::deque<bool> startResults;         // what StartServer answers in turn; true when empty
    std::vector<modMain::Settings> saved;  // the settings at each SaveINI
    std::vector<std::pair<std::string, int32_t>> starts;  // DNSBind and DNSPort at each start
    std::string tip, caption;

    modMain::Settings& Settings() override { return settings; }
    std::vector<std::string> LocalIPs() const override { return ips; }
    std::filesystem::path ProgramDir() const override { return programDir; }
    std::vector<std::string> Blocks() const override { return blocks; }
    void SetBlocks(std::vector<std::string> b) override {
        log_.calls.push_back("SetBlocks");
        blocks = std::move(b);
    }
    bool Running() const override { return running; }
    void SetTrayTip(const std::string& t) override {
        log_.calls.push_back("SetTrayTip");
        tip = t;
    }
    void SetCaption(const std::string& c) override {
        log_.calls.push_back("SetCaption");
        caption = c;
    }
    bool SaveINI() override {
        log_.calls.push_back("SaveINI");
        saved.push_back(settings);
        return true;
    }
    void PauseServer() override {
        log_.calls.push_back("PauseServer");
        running = false;
    }
    void Pump() override { log_.calls.push_back("Pump"); }
    bool StartServer() override {
        log_.calls.push_back("StartServer");
        starts.emplace_back(settings.DNSBind, settings.DNSPort);
        bool ok = true;
        if (!startResults.empty()) {
            ok = startResults.front();
            startResults.pop_front();
        }
        running = ok;
        return ok;
    }
    void SaveBlocks() override { log_.calls.push_back("SaveBlocks"); }
    void LoadPerm() override { log_.calls.push_back("LoadPerm"); }
    void MLSync() override { log_.calls.push_back("MLSync"); }
    void HideMainWindow() override { log_.calls.push_back("HideMainWindow"); }
    void RemoveTray() override { log_.calls.push_back("RemoveTray"); }
    void CloseDown() override {
        log_.calls.push_back("CloseDown");
        running = false;
    }
    void AddLine(int, const std::string& text) override { lines.push_back(text); }
    std::vector<std::string> lines;

  private:
    CallLog& log_;
};

class RecordingService : public modOptions::IServiceControl {
  public:
    explicit RecordingService(CallLog& log) : log_(log) {}
    bool installed = false;
    bool succeed = true;
    bool Installed(const std::string&) override { return installed; }
    bool Install(const std::string& name, const std::string& desc) override {
        log_.calls.push_back("Install " + name + " " + desc);
        if (succeed) installed = true;
        return succeed;
    }
    bool Uninstall(const std::string& name) override {
        log_.calls.push_back("Uninstall " + name);
        if (succeed) installed = false;
        return succeed;
    }
    bool Start(const std::string& name) override {
        log_.calls.push_back("Start " + name);
        return true;
    }
    std::string LastError() const override { return succeed ? "" : "Access denied"; }

  private:
    CallLog& log_;
};

class RecordingStartup : public modOptions::IStartupEntry {
  public:
    explicit RecordingStartup(CallLog& log) : log_(log) {}
    bool succeed = true;
    bool SetDesktopStart() override {
        log_.calls.push_back("Autostart set");
        return succeed;
    }
    bool Remove() override {
        log_.calls.push_back("Autostart removed");
        return true;
    }

  private:
    CallLog& log_;
};

}  // namespace kest::test
