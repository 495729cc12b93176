#pragma once
// The options dialog's controller: every setting of the running server on five tabs, the checks
// of "O K" and the applying of what passed them. Plain C++; the Qt view binds its widgets to the
// public fields (named after the controls) and calls the event methods.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/host.h"
#include "server/dhcp/clDHCPif.h"
#include "server/settings.h"

namespace modOptions {

// What applying touches on the server side. The real one works on the server object; tests
// record the calls.
class IOptionsTarget {
  public:
    virtual ~IOptionsTarget() = default;
    virtual modMain::Settings& Settings() = 0;
    virtual std::vector<std::string> LocalIPs() const = 0;
    virtual std::filesystem::path ProgramDir() const = 0;
    virtual std::vector<std::string> Blocks() const = 0;
    virtual void SetBlocks(std::vector<std::string> blocks) = 0;
    virtual bool Running() const = 0;
    virtual void SetTrayTip(const std::string& tip) = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual bool SaveINI() = 0;
    virtual void PauseServer() = 0;
    virtual void Pump() = 0;
    virtual bool StartServer() = 0;
    virtual void SaveBlocks() = 0;
    virtual void LoadPerm() = 0;
    virtual void MLSync() = 0;
    virtual void HideMainWindow() = 0;
    virtual void RemoveTray() = 0;
    // The shutdown procedure; the program ends when control returns to its event loop.
    virtual void CloseDown() = 0;
    virtual void AddLine(int kind, const std::string& text) = 0;
};

// The service manager's unit of the server.
class IServiceControl {
  public:
    virtual ~IServiceControl() = default;
    virtual bool Installed(const std::string& serviceName) = 0;
    virtual bool Install(const std::string& serviceName, const std::string& description) = 0;
    virtual bool Uninstall(const std::string& serviceName) = 0;
    virtual bool Start(const std::string& serviceName) = 0;
    // Why the last call failed.
    virtual std::string LastError() const = 0;
};

// The machine-wide start-up entry.
class IStartupEntry {
  public:
    virtual ~IStartupEntry() = default;
    // The entry starts the desktop program ("kestserv -n") at log-on.
    virtual bool SetDesktopStart() = 0;
    virtual bool Remove() = 0;
};

enum class Tab { General = 0, Resolution = 1, Records = 2, Blocking = 3, DHCP = 4 };

// One of the three address lists with its entry control and "Add" / "Remove".
struct AddressList {
    std::vector<std::string> Items;
    std::string Entry;  // the entry control's text
    int Selected = -1;  // index into Items, -1 for none

    // Puts the entered address in unless it is there already; empties the entry.
    void Add();
    // Takes the selected address out.
    void Remove();
};

class frmOptions {
  public:
    frmOptions(IOptionsTarget& target, IServiceControl& service, IStartupEntry& startup,
               platform::IPrompt* prompt, platform::ILauncher* launcher);

    // ---- Fields, named after their controls ----
    // General
    std::string txtName;
    bool chkBind = false;
    std::string comBind;
    std::vector<std::string> BindChoices;
    std::string txtPort;  // the DNS port
    bool chkService = false;
    bool chkStartWin = false;
    bool chkStartMini = false;
    bool chkLog = false;
    bool chkDetail = false;
    bool chkOut = false;  // the inverse of LogInOnly
    bool chkLogBlock = false;
    // DNS Resolution
    std::vector<std::string> RecurChoices;
    std::string comRecur;
    std::string txtMinTO;
    bool chkSpoof = false;
    bool chkCNAME = false;
    bool chkForward = false;
    AddressList NS;
    // DNS Records
    std::string txtCopy;
    std::string txtSync;
    std::string txtHosts;
    int32_t ttlHosts = 0;
    int32_t ttlCache = 0;
    bool chkCacheReload = false;
    // Blocking
    std::string txtBomb;
    AddressList Blocked;
    AddressList NoBlock;
    // DHCP: one interface per address of the machine, and the fields of the selected one.
    std::vector<clDHCPif> Interfaces;
    int comIF = -1;
    bool chkDHCP = false;
    std::string txtDomain;
    std::string ipFrom;
    std::string ipTo;
    std::string ipMask;
    std::string ipGateway;
    int32_t ttlLease = 0;

    // Where a failed check left the user: the tab shown and the control with the focus.
    Tab CurrentTab = Tab::General;
    std::string Focus;
    // Called when a failed check switches the tab, before its box is shown.
    std::function<void(Tab)> OnTab;

    // ---- Events ----
    // Fills every field from the server's settings.
    void Load();
    // "Bind to this IP:" or its address changed: the recursion choices are built again.
    void BindChanged();
    void ServiceClick();
    void StartWinClick();
    void StartMiniClick();
    // A numeric field lost the focus: "txtBomb", "txtMinTO", "txtSync" or "txtPort".
    void LostFocus(const std::string& control);
    // Another DHCP interface is chosen: the fields shown go back into the one left.
    void SelectInterface(int index);
    void BrowseHosts();
    void EditHosts();
    void BrowseCopy();

    // "O K": the checks, and when they pass the applying. Check alone leaves the server as it
    // was; Apply expects a Check that passed.
    enum class Outcome { Stay, Closed, ProgramEnds };
    Outcome OK();
    bool Check();
    Outcome Apply();

    // ---- Rules, public for the tests ----
    static std::string DefaultMask(const std::string& ip);
    // "<all>", the three patterns of each address (or only of the bound one), "<none>".
    static std::vector<std::string> RecursionChoices(const std::vector<std::string>& localIPs,
                                                     bool bind, const std::string& bindIP);
    // The absolute value of the integer part, clamped to [0, max].
    static int64_t FieldNumber(const std::string& text, int64_t max);
    static bool ContiguousMask(const std::string& mask);

  private:
    void Fail(Tab tab, const std::string& focus, const std::string& text);
    bool CheckInterface(size_t i);
    void StoreInterfaceFields();
    void ShowInterfaceFields();
    void RestartService();
    void Warn(const std::string& text);
    void Inform(const std::string& text);

    IOptionsTarget& target_;
    IServiceControl& service_;
    IStartupEntry& startup_;
    platform::IPrompt* prompt_;
    platform::ILauncher* launcher_;
    // Settings entries of interfaces the machine no longer has: written back as they were.
    std::vector<modMain::DHCPEntry> absentInterfaces_;
};

}  // namespace modOptions
