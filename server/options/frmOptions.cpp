#include "server/options/frmOptions.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <system_error>

#include "core/modDNS.h"
#include "core/modIP.h"
#include "core/numtext.h"
#include "core/report.h"

namespace modOptions {
namespace {

constexpr const char* kTitle = "Kestrune";

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// An address as the entry control shows it: clean, and empty for none.
std::string Shown(const std::string& ip) {
    if (ip.empty()) return {};
    const std::string clean = modIP::CleanIP(ip);
    return clean == "0.0.0.0" ? std::string() : clean;
}

std::string WithoutFinalDot(std::string name) {
    if (!name.empty() && name.back() == '.') name.pop_back();
    return name;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// A folder in one comparable form: absolute, links resolved where they exist, no final slash.
std::string FolderKey(const std::filesystem::path& p) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::weakly_canonical(p, ec);
    if (ec) full = p.lexically_normal();
    std::string s = full.string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return Lower(s);
}

bool IsFile(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec) && !std::filesystem::is_directory(path, ec);
}

}  // namespace

void AddressList::Add() {
    const std::string ip = Shown(Entry);
    if (!ip.empty() && !Contains(Items, ip)) Items.push_back(ip);
    Entry.clear();
}

void AddressList::Remove() {
    if (Selected < 0 || Selected >= static_cast<int>(Items.size())) return;
    Items.erase(Items.begin() + Selected);
    if (Selected >= static_cast<int>(Items.size())) Selected = static_cast<int>(Items.size()) - 1;
}

frmOptions::frmOptions(IOptionsTarget& target, IServiceControl& service, IStartupEntry& startup,
                       platform::IPrompt* prompt, platform::ILauncher* launcher)
    : target_(target), service_(service), startup_(startup), prompt_(prompt), launcher_(launcher) {}

std::string frmOptions::DefaultMask(const std::string& ip) {
    const std::string data = modIP::IPToData(ip);
    const int first = data.empty() ? 0 : static_cast<unsigned char>(data[0]);
    if (first < 126) return "255.0.0.0";
    if (first < 192) return "255.255.0.0";
    return "255.255.255.0";
}

std::vector<std::string> frmOptions::RecursionChoices(const std::vector<std::string>& localIPs,
                                                      bool bind, const std::string& bindIP) {
    std::vector<std::string> out{"<all>"};
    std::vector<std::string> from = localIPs;
    if (bind && !bindIP.empty() && bindIP != "127.0.0.1") from = {bindIP};
    for (const auto& ip : from) {
        const std::string data = modIP::IPToData(ip);
        if (data.size() < 4) continue;
        const auto n = [&](size_t i) {
            return std::to_string(static_cast<unsigned char>(data[i]));
        };
        for (const std::string& pattern :
             {n(0) + ".*.*.*", n(0) + "." + n(1) + ".*.*", n(0) + "." + n(1) + "." + n(2) + ".*"}) {
            if (!Contains(out, pattern)) out.push_back(pattern);
        }
    }
    out.push_back("<none>");
    return out;
}

int64_t frmOptions::FieldNumber(const std::string& text, int64_t max) {
    const double v = std::fabs(std::trunc(kest::LeadingNumber(text)));
    if (!(v < static_cast<double>(max))) return max;
    return static_cast<int64_t>(v);
}

bool frmOptions::ContiguousMask(const std::string& mask) {
    const std::string bits = modIP::IPToBin(modIP::CleanIP(mask));
    const size_t firstZero = bits.find('0');
    return firstZero == std::string::npos || bits.find('1', firstZero) == std::string::npos;
}

void frmOptions::Load() {
    try {
        const modMain::Settings& s = target_.Settings();
        const std::vector<std::string> ips = target_.LocalIPs();

        txtName = s.Name;
        chkBind = !s.DNSBind.empty();
        BindChoices = ips;
        if (chkBind && !Contains(BindChoices, s.DNSBind)) BindChoices.push_back(s.DNSBind);
        comBind = chkBind ? s.DNSBind : (BindChoices.empty() ? std::string() : BindChoices[0]);
        txtPort = std::to_string(s.DNSPort);
        chkService = s.NTService || service_.Installed(s.ServiceName);
        chkStartWin = s.StartWin && !chkService;
        chkStartMini = s.StartMini || chkService;
        chkLog = s.WriteLog;
        chkDetail = s.LogDetail;
        chkOut = !s.LogInOnly;
        chkLogBlock = s.LogBlock;

        comRecur = s.DNSRecursion;
        BindChanged();
        chkSpoof = s.SpoofSecure;
        chkCNAME = s.AutoCNAME;
        txtMinTO = s.MinTimeOut > 0 ? std::to_string(s.MinTimeOut) : std::string();
        chkForward = s.RecursionOut;
        NS = AddressList{s.NS, {}, -1};

        txtCopy = s.MasterDir;
        txtSync = std::to_string(s.MasterSync);
        txtHosts = s.Hosts;
        ttlHosts = s.HostsTTL;
        ttlCache = s.CacheTTL;
        chkCacheReload = s.CacheReload;

        txtBomb = s.BombLevel > 0 ? std::to_string(s.BombLevel) : std::string();
        Blocked = AddressList{target_.Blocks(), {}, -1};
        NoBlock = AddressList{s.NoBlock, {}, -1};

        Interfaces.clear();
        absentInterfaces_.clear();
        std::vector<bool> used(s.DHCP.size(), false);
        for (const auto& ip : ips) {
            clDHCPif f;
            f.IPaddr = ip;
            f.Enable = false;
            for (size_t i = 0; i < s.DHCP.size(); ++i) {
                if (used[i] || s.DHCP[i].IPaddr != ip) continue;
                used[i] = true;
                f = clDHCPif::FromEntry(s.DHCP[i]);
                break;
            }
            f.ScopeFrom = Shown(f.ScopeFrom);
            f.ScopeTo = Shown(f.ScopeTo);
            f.Subnet = Shown(f.Subnet);
            f.Gateway = Shown(f.Gateway);
            Interfaces.push_back(f);
        }
        for (size_t i = 0; i < s.DHCP.size(); ++i)
            if (!used[i]) absentInterfaces_.push_back(s.DHCP[i]);
        comIF = Interfaces.empty() ? -1 : 0;
        ShowInterfaceFields();

        CurrentTab = Tab::General;
        Focus.clear();
    } catch (...) {
        kest::ReportError("frmOptions Form_Load");
    }
}

void frmOptions::BindChanged() {
    RecurChoices = RecursionChoices(target_.LocalIPs(), chkBind, Shown(comBind));
    const modMain::Settings& s = target_.Settings();
    // A stored choice the machine's addresses no longer give stays offered, so confirming the
    // dialog does not quietly widen recursion to everyone.
    if (!s.DNSRecursion.empty() && !Contains(RecurChoices, s.DNSRecursion))
        RecurChoices.insert(RecurChoices.end() - 1, s.DNSRecursion);
    if (!Contains(RecurChoices, comRecur)) comRecur = RecurChoices.front();
}

void frmOptions::ServiceClick() {
    if (!chkService) return;
    chkStartWin = false;
    chkStartMini = true;
}

void frmOptions::StartWinClick() {
    if (chkStartWin) chkService = false;
}

void frmOptions::StartMiniClick() {
    if (chkService) chkStartMini = true;
}

void frmOptions::LostFocus(const std::string& control) {
    if (control == "txtBomb") {
        const int64_t n = FieldNumber(txtBomb, INT16_MAX);
        txtBomb = n == 0 ? std::string() : std::to_string(n);
    } else if (control == "txtMinTO") {
        const int64_t n = FieldNumber(txtMinTO, INT32_MAX);
        txtMinTO = n == 0 ? std::string() : std::to_string(n);
    } else if (control == "txtSync") {
        const int64_t n = FieldNumber(txtSync, INT16_MAX);
        txtSync = n == 0 ? std::string("60") : std::to_string(n);
    } else if (control == "txtPort") {
        const int64_t n = FieldNumber(txtPort, 65535);
        txtPort = std::to_string(n == 0 ? modMain::kDefaultDNSPort : n);
    }
}

void frmOptions::SelectInterface(int index) {
    if (index < 0 || index >= static_cast<int>(Interfaces.size())) return;
    StoreInterfaceFields();
    comIF = index;
    ShowInterfaceFields();
}

void frmOptions::ShowInterfaceFields() {
    if (comIF < 0 || comIF >= static_cast<int>(Interfaces.size())) {
        chkDHCP = false;
        txtDomain = ipFrom = ipTo = ipMask = ipGateway = "";
        ttlLease = 0;
        return;
    }
    const clDHCPif& f = Interfaces[static_cast<size_t>(comIF)];
    chkDHCP = f.Enable;
    txtDomain = WithoutFinalDot(f.Domain);
    ipFrom = f.ScopeFrom;
    ipTo = f.ScopeTo;
    ipMask = f.Subnet.empty() ? DefaultMask(f.IPaddr) : f.Subnet;
    ipGateway = f.Gateway;
    ttlLease = f.TTL;
}

void frmOptions::StoreInterfaceFields() {
    if (comIF < 0 || comIF >= static_cast<int>(Interfaces.size())) return;
    clDHCPif& f = Interfaces[static_cast<size_t>(comIF)];
    f.Enable = chkDHCP;
    const std::string domain = modDNS::CleanName(txtDomain);
    f.Domain = domain.empty() ? std::string() : domain + ".";
    f.ScopeFrom = Shown(ipFrom);
    f.ScopeTo = Shown(ipTo);
    f.Subnet = Shown(ipMask);
    f.Gateway = Shown(ipGateway);
    f.TTL = ttlLease;
}

void frmOptions::BrowseHosts() {
    if (!prompt_) return;
    const std::filesystem::path start = txtHosts.empty()
                                            ? std::filesystem::path("/etc/hosts")
                                            : std::filesystem::path(txtHosts).parent_path();
    if (const auto chosen =
            prompt_->OpenFileName("Select Hosts file", start, "All Files (*);;Text Files (*.txt)"))
        txtHosts = chosen->string();
}

void frmOptions::EditHosts() {
    if (!launcher_ || !launcher_->EditFile(txtHosts)) Warn("Error trying to open the text editor!");
}

void frmOptions::BrowseCopy() {
    if (!prompt_) return;
    const std::filesystem::path start =
        txtCopy.empty() ? target_.ProgramDir() : std::filesystem::path(txtCopy);
    if (const auto chosen = prompt_->FolderName("Copy Zone Files From", start))
        txtCopy = chosen->string();
}

void frmOptions::Warn(const std::string& text) {
    if (prompt_) prompt_->Message(platform::IPrompt::Icon::Warning, kTitle, text);
}

void frmOptions::Inform(const std::string& text) {
    if (prompt_) prompt_->Message(platform::IPrompt::Icon::Information, kTitle, text);
}

void frmOptions::Fail(Tab tab, const std::string& focus, const std::string& text) {
    CurrentTab = tab;
    if (OnTab) OnTab(tab);
    Warn(text);
    Focus = focus;
}

frmOptions::Outcome frmOptions::OK() {
    if (!Check()) return Outcome::Stay;
    return Apply();
}

bool frmOptions::Check() {
    try {
        // A field still holding the focus has not been normalised yet.
        for (const char* field : {"txtBomb", "txtMinTO", "txtSync", "txtPort"}) LostFocus(field);

        if (modDNS::CleanName(txtName).empty()) {
            Fail(Tab::General, "txtName", "Please enter server name!");
            return false;
        }
        if (chkForward && NS.Items.empty()) {
            Fail(Tab::Resolution, "ipNS",
                 "Please add at least one external DNS server\nIP Address to use forwarding!");
            return false;
        }
        // The server's own zone folder cannot be its master directory.
        if (!txtCopy.empty() && FolderKey(txtCopy) == FolderKey(target_.ProgramDir() / "data"))
            txtCopy.clear();
        if (!txtHosts.empty() && !IsFile(txtHosts)) {
            Fail(Tab::Records, "txtHosts", "The specified 'Hosts' file does not exist!");
            return false;
        }
        StoreInterfaceFields();
        for (size_t i = 0; i < Interfaces.size(); ++i) {
            if (Interfaces[i].Enable && !CheckInterface(i)) return false;
        }
        return true;
    } catch (...) {
        kest::ReportError("frmOptions cmdOK_Click");
        return false;
    }
}

bool frmOptions::CheckInterface(size_t i) {
    clDHCPif& f = Interfaces[i];
    const auto fail = [&](const std::string& focus, const std::string& text) {
        comIF = static_cast<int>(i);
        ShowInterfaceFields();
        Fail(Tab::DHCP, focus, text);
        return false;
    };
    if (f.Domain.empty()) return fail("txtDomain", "Please enter domain name for DHCP!");
    if (f.ScopeFrom.empty() || f.ScopeTo.empty())
        return fail(f.ScopeFrom.empty() ? "ipFrom" : "ipTo",
                    "Please enter from and to IP-Addresses!");
    if (f.Subnet.empty()) f.Subnet = DefaultMask(f.IPaddr);
    if (!ContiguousMask(f.Subnet) || !modIP::ValidIP(f.IPaddr, f.Subnet))
        return fail("ipMask", "Invalid subnet mask for DHCP!");
    const bool fromIn = modIP::SameNet(f.ScopeFrom, f.IPaddr, f.Subnet);
    if (!fromIn || !modIP::SameNet(f.ScopeTo, f.IPaddr, f.Subnet))
        return fail(fromIn ? "ipTo" : "ipFrom",
                    "DHCP IP-Addresses must be on the same subnet as interface!");
    if (!modIP::ValidIP(f.ScopeFrom, f.Subnet))
        return fail("ipFrom", "Invalid DHCP From IP-Address!");
    if (!modIP::ValidIP(f.ScopeTo, f.Subnet)) return fail("ipTo", "Invalid DHCP To IP-Address!");
    if (!f.Gateway.empty()) {
        if (!modIP::SameNet(f.Gateway, f.IPaddr, f.Subnet))
            return fail("ipGateway", "DHCP Gateway must be on the same subnet as interface!");
        if (!modIP::ValidIP(f.Gateway, f.Subnet))
            return fail("ipGateway", "Invalid DHCP default gateway IP-Address!");
    }
    if (f.TTL == 0) return fail("ttlLease", "The Lease Period cannot be zero!");
    if (modIP::IPToBin(f.ScopeFrom) > modIP::IPToBin(f.ScopeTo)) std::swap(f.ScopeFrom, f.ScopeTo);
    if (static_cast<int>(i) == comIF) ShowInterfaceFields();
    return true;
}

frmOptions::Outcome frmOptions::Apply() {
    try {
        modMain::Settings& s = target_.Settings();
        const std::string oldBind = s.DNSBind;
        const int32_t oldPort = s.DNSPort;
        const std::string oldPrimary = s.PrimaryIP;

        // 1. Name, and where the server listens.
        s.Name = modDNS::CleanName(txtName);
        target_.SetTrayTip(s.Name);
        target_.SetCaption(s.Name + " - Kestrune");
        s.DNSBind = chkBind ? Shown(comBind) : std::string();
        // Reading the file makes the bound address the primary one; memory says the same.
        if (!s.DNSBind.empty()) s.PrimaryIP = s.DNSBind;
        s.DNSPort = static_cast<int32_t>(FieldNumber(txtPort, 65535));
        if (s.DNSPort == 0) s.DNSPort = modMain::kDefaultDNSPort;

        // 2. The service.
        bool installed = service_.Installed(s.ServiceName);
        bool serviceChanged = false;
        if (chkService && !installed) {
            if (service_.Install(s.ServiceName, s.ServiceDesc)) {
                installed = serviceChanged = true;
            } else {
                target_.AddLine(0, "Installing the service failed: " + service_.LastError());
                Warn("Failed to Install NT System Service!");
            }
        } else if (!chkService && installed) {
            if (service_.Uninstall(s.ServiceName)) {
                installed = false;
                serviceChanged = true;
            } else {
                target_.AddLine(0, "Removing the service failed: " + service_.LastError());
                Warn("Failed to Remove NT System Service!");
            }
        }

        // 3. Everything else. The service flag says what is installed, so a failed
        // installation does not make the next start run headless as a service.
        s.NTService = installed;
        s.StartWin = chkStartWin;
        s.StartMini = chkStartMini;
        s.WriteLog = chkLog;
        s.LogDetail = chkDetail;
        s.LogInOnly = !chkOut;
        s.LogBlock = chkLogBlock;
        s.DNSRecursion = Lower(comRecur);
        s.MinTimeOut = static_cast<int32_t>(FieldNumber(txtMinTO, INT32_MAX));
        s.SpoofSecure = chkSpoof;
        s.AutoCNAME = chkCNAME;
        s.RecursionOut = chkForward;
        s.NS = NS.Items;
        s.MasterDir = txtCopy;
        s.MasterSync = static_cast<int16_t>(FieldNumber(txtSync, INT16_MAX));
        if (s.MasterSync == 0) s.MasterSync = 60;
        s.Hosts = txtHosts;
        s.HostsTTL = ttlHosts;
        s.CacheTTL = ttlCache;
        s.CacheReload = chkCacheReload;
        s.BombLevel = static_cast<int16_t>(FieldNumber(txtBomb, INT16_MAX));
        target_.SetBlocks(Blocked.Items);
        s.NoBlock = NoBlock.Items;
        s.DHCP.clear();
        for (const auto& f : Interfaces) {
            if (!f.Enable) continue;
            modMain::DHCPEntry e;
            e.IPaddr = f.IPaddr;
            e.Domain = f.Domain;
            e.ScopeFrom = f.ScopeFrom;
            e.ScopeTo = f.ScopeTo;
            e.Subnet = f.Subnet;
            e.Gateway = f.Gateway.empty() ? std::string("0.0.0.0") : f.Gateway;
            e.TTL = f.TTL;
            s.DHCP.push_back(e);
        }
        // Interfaces of addresses the machine does not have now are kept as they were.
        s.DHCP.insert(s.DHCP.end(), absentInterfaces_.begin(), absentInterfaces_.end());

        // 4.
        target_.SaveINI();

        // 5. The start-up entry; an installed unit starts with the machine by itself.
        if (!installed && s.StartWin) {
            if (!startup_.SetDesktopStart()) {
                target_.AddLine(0, "Writing the start-up entry failed.");
                Warn("Could not write the start-up entry!");
            }
        } else {
            startup_.Remove();
        }

        // 6. A changed service: this desktop instance ends.
        if (serviceChanged) {
            target_.HideMainWindow();
            target_.PauseServer();
            target_.RemoveTray();
            if (installed) {
                Inform("NT System Service Installed!\n\nKestrune will now be restarted.");
                // The service must find the ports free and the state files written.
                target_.CloseDown();
                if (!service_.Start(s.ServiceName))
                    Warn("Could not start the service:\n" + service_.LastError());
            } else {
                Inform(
                    "NT System Service Un-Installed!\n\nPlease restart Kestrune from the "
                    "applications menu.");
                target_.CloseDown();
            }
            return Outcome::ProgramEnds;
        }

        // 7. The running server takes the new settings.
        if (target_.Running()) {
            target_.PauseServer();
            target_.Pump();
            if (!target_.StartServer() && (s.DNSBind != oldBind || s.DNSPort != oldPort)) {
                // The new address or port cannot be had: serve on the old ones meanwhile.
                s.DNSBind = oldBind;
                s.DNSPort = oldPort;
                s.PrimaryIP = oldPrimary;
                if (target_.StartServer()) {
                    const std::string where =
                        (oldBind.empty() ? std::string("all addresses") : oldBind) + ", port " +
                        std::to_string(oldPort);
                    target_.AddLine(0, "DNS service kept on " + where);
                    Warn("Kestrune goes on answering on " + where +
                         ".\n\nThe new address and port are in the settings file and will be "
                         "used when Kestrune starts again.");
                }
            }
        }
        target_.SaveBlocks();
        target_.LoadPerm();
        if (!s.MasterDir.empty()) target_.MLSync();
        return Outcome::Closed;
    } catch (...) {
        kest::ReportError("frmOptions cmdOK_Click");
        return Outcome::Closed;
    }
}

}  // namespace modOptions
