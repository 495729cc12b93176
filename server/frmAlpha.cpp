#include "server/frmAlpha.h"

#include <algorithm>
#include <cerrno>

#include "core/datetime.h"
#include "core/report.h"
#include "platform/interfaces.h"
#include "platform/sockets.h"
#include "platform/timer.h"
#include "server/authority/clDNSAuthData.h"
#include "server/dhcp/clLease.h"
#include "server/dhcp/dhcp_sockets.h"
#include "server/dhcp/modDHCP.h"
#include "server/intake.h"
#include "server/reload_command.h"
#include "server/replication/ctlZT.h"
#include "server/replication/notify_out.h"
#include "server/replication/secondary_side.h"
#include "server/resolver/cachefiles.h"
#include "server/resolver/clDNSCache.h"
#include "server/resolver/clDNSRequest.h"

namespace modMain {
namespace {

// The tick's "request just handled" picture goes back to "running" after this long.
constexpr double kTrayHold = 1.0 * kest::kSecond;

}  // namespace

frmAlpha::frmAlpha(HostServices host)
    : host_(std::move(host)),
      log_(settings, *host_.clock, host_.programDir),
      reporter_(settings, *host_.clock, log_,
                ReportFacts{
                    .localIPs = [this] { return LocalIPs; },
                    .running = [this] { return Running; },
                    .interactive = [this] { return Interactive; },
                    .totalRequests = [this] { return TotalRequests; },
                    .cacheCount = [this] { return static_cast<int64_t>(cache_->Count()); },
                    .startTime = [this] { return StartTime; },
                    .saveBlocks = [this] { intake_->SaveBlocks(); },
                    .hostsFile =
                        [this] {
                            return settings.Hosts.empty() ? std::filesystem::path{}
                                                          : std::filesystem::path(settings.Hosts);
                        },
                    .programDir = host_.programDir,
                    .dataDir = host_.programDir / "data",
                },
                host_.prompt, host_.eventLog, host_.launcher),
      timer_(std::make_unique<platform::Timer>(1000)) {
    previousSink_ = InstallErrorSink(reporter_);
    timer_->OnTimeout = [this] { Timer(); };

    const auto logFn = [this](int kind, std::string_view text) { log_.AddLine(kind, text); };
    leases_ = std::make_unique<clLeases>(settings, Clock(), host_.programDir);
    AuthHostHooks hooks;
    hooks.getStatus = [this] { return StatusText; };
    hooks.setStatus = [this](const std::string& text) { SetStatus(text); };
    hooks.pump = [this] {
        if (host_.pump) host_.pump->Pump();
    };
    zones_ = std::make_unique<clDNSAuthData>(settings, Clock(), logFn, *leases_,
                                             host_.programDir / "data", std::move(hooks));
    zones_->SetReplication(&replication_);
    cache_ = std::make_unique<clDNSCache>(settings, Clock(), leases_.get(),
                                          [this](const std::string& name) {
                                              return zones_->AskAuth(name);
                                          });
    cacheFiles_ = std::make_unique<clCacheFiles>(*cache_, zones_.get(), leases_.get(), settings,
                                                 Clock(), logFn, host_.programDir);
    sender_ = std::make_unique<UdpSocketSender>(
        [this](const std::string& ip, const std::string& fromLocalIp) {
            return SocketFor(ip, fromLocalIp);
        });
    modReplication::SecondaryHost secondaryHost;
    secondaryHost.clock = host_.clock;
    secondaryHost.log = logFn;
    secondaryHost.running = [this] { return Running; };
    secondaryHost.doTray = [this](int icon) { DoTray(icon); };
    secondaryHost.pump = [this] {
        if (host_.pump) host_.pump->Pump();
    };
    secondaryHost.tcp = [this]() -> ITcpAnswerSink* {
        return intake_ ? intake_->Resolver().tcp : nullptr;
    };
    secondaryHost.programDir = host_.programDir;
    secondary_ = std::make_unique<modReplication::clSecondarySide>(
        *zones_, ReplicationIds, std::move(secondaryHost), sender_.get());
    secondary_->Attach(replication_);
    ZTContext zt;
    zt.zones = zones_.get();
    zt.log = logFn;
    zt.doTray = [this](int icon) { DoTray(icon); };
    zt.countRequest = [this] { intake_->CountRequest(); };
    zt.createRequest = [this](int32_t id, bool rd, const std::string& name, int32_t type,
                              const std::string& ip, int32_t port) {
        intake_->CreateRequest(id, rd, name, type, ip, port, 0);
    };
    zt.isBlocked = [this](const std::string& ip) { return intake_->IsBlocked(ip); };
    tcp_ = std::make_unique<clTcpConnections>(std::move(zt));
    IntakeContext ctx;
    ctx.tcp = tcp_.get();
    ctx.settings = &settings;
    ctx.clock = host_.clock;
    ctx.log = &log_;
    ctx.pump = host_.pump;
    ctx.localIPs = &LocalIPs;
    ctx.zones = zones_.get();
    ctx.cache = cache_.get();
    ctx.sender = sender_.get();
    ctx.running = [this] { return Running; };
    ctx.doTray = [this](int icon) { DoTray(icon); };
    ctx.totalRequests = &TotalRequests;
    ctx.secondCounts = &SecondCounts;
    ctx.programDir = host_.programDir;
    ctx.soaClient = secondary_->SoaClient();
    intake_ = std::make_unique<RequestIntake>(std::move(ctx));

    NotifyContext nc;
    nc.zones = zones_.get();
    nc.ids = &ReplicationIds;
    nc.sender = sender_.get();
    nc.localIPs = &LocalIPs;
    nc.log = logFn;
    nc.doTray = [this](int icon) { DoTray(icon); };
    nc.pump = [this] {
        if (host_.pump) host_.pump->Pump();
    };
    notifier_ = std::make_unique<clNotifier>(std::move(nc));
    replication_.notify = [this](const std::string& zoneName) { notifier_->Notify(zoneName); };

    modDHCP::clDHCPSockets::Hooks dh;
    dh.log = logFn;
    dh.onData = [this](int16_t i, std::string_view data, const std::string& sender) {
        dhcp_->OnDatagram(i, data, sender);
    };
    dh.onError = [this](int16_t i, const platform::SocketError& e) {
        kest::ReportError("frmAlpha WSDHCP", "WS-State " + std::to_string(dhcpSockets_->State(i)) +
                                                 " " + std::to_string(e.number) + " " + e.text);
    };
    dhcpSockets_ = std::make_unique<modDHCP::clDHCPSockets>(std::move(dh));
    modDHCP::DHCPContext dc;
    dc.settings = &settings;
    dc.clock = host_.clock;
    dc.leases = leases_.get();
    dc.log = logFn;
    dc.sender = dhcpSockets_.get();
    dc.socketAddress = [this](int16_t i) { return dhcpSockets_->LocalAddress(i); };
    // Before the leases are loaded an answer would be lost with the table the load replaces.
    dc.running = [this] { return Running && Loaded; };
    dc.doTray = [this](int icon) { DoTray(icon); };
    dc.totalRequests = &TotalRequests;
    dc.secondCounts = &SecondCounts;
    dhcp_ = std::make_unique<modDHCP::clDHCPServer>(std::move(dc));
}

frmAlpha::~frmAlpha() {
    timer_->Stop();
    tcp_->CloseAll();
    CloseDNSSockets();
    dhcpSockets_->CloseAll();
    reloadSocket_.reset();
    kest::SetErrorSink(std::move(previousSink_));
}

void frmAlpha::LoadSettings(const std::vector<std::string>& localIPs) {
    LocalIPs = localIPs;
    LoadINI(settings, IniFile(), LocalIPs);
}

void frmAlpha::Begin() {
    try {
        StartTime = Clock().Now();
        // A user is present only on a desktop start with a display to show boxes on.
        Interactive = !settings.NTService && host_.displayAvailable;
        if (host_.tray) {
            if (!settings.Name.empty()) host_.tray->SetTip(settings.Name);
            host_.tray->Show();
        }
        TrayIcon = -1;
        if (windows_ && Interactive && !settings.StartMini) windows_->ShowMain();

        reloadSocket_ = std::make_unique<platform::UdpSocket>();
        reloadSocket_->OnData = [this](const platform::Datagram& d) { OnReloadData(d); };
        if (!reloadSocket_->Bind("127.0.0.1", 0)) {
            AddLine(kLogEvent, "Binding reload port failed: " +
                                   std::to_string(reloadSocket_->LastError().number) + " " +
                                   reloadSocket_->LastError().text);
        }
        settings.ReloadPort = reloadSocket_->LocalPort();

        timer_->Start();
        AddLine(kLogEvent, "Program started.");
        StartServer();
        SaveINI(settings, IniFile());
        // The first tick (which loads the data) need not wait a whole second.
        firstTick_ = std::make_unique<platform::Timer>(0, true);
        firstTick_->OnTimeout = [this] { Timer(); };
        firstTick_->Start();
    } catch (...) {
        kest::ReportError("frmAlpha Begin");
    }
}

void frmAlpha::ServiceStart() {
    AddLine(kLogEvent, "NT Service Started.");
    Begin();
}

void frmAlpha::ServiceStop() {
    Stopping = true;
    AddLine(kLogEvent, "NT Service Stopped.");
    CloseDown();
}

void frmAlpha::CloseRequest() {
    if (Stopping) return;
    CloseDown();
}

void frmAlpha::TrayClick() {
    Interactive = host_.displayAvailable;
    if (windows_ && Interactive && !windows_->MainOpen()) windows_->ShowMain();
}

bool frmAlpha::StartServer() {
    if (Running) return true;
    const std::string bind = settings.DNSBind == "0.0.0.0" ? std::string() : settings.DNSBind;
    try {
        const auto port = static_cast<uint16_t>(
            settings.DNSPort > 0 && settings.DNSPort < 65536 ? settings.DNSPort : 53);
        int error = 0;
        bool bound = BindDNS(bind, port, &error);
        std::vector<std::string> started;
        if (!bound && bind.empty() && error == EADDRINUSE) {
            // Another program (a local stub resolver, say) holds the port on some address: serve
            // on every local address where it is free.
            for (const auto& ip : LocalIPs) {
                if (std::find(started.begin(), started.end(), ip) != started.end()) continue;
                if (BindDNS(ip, port, &error)) started.push_back(ip);
            }
            bound = !started.empty();
        }
        if (!bound) {
            // Nothing stays bound, so a later start can succeed.
            CloseDNSSockets();
            Running = false;
            if (!bind.empty()) {
                SetStatus("Could not start DNS service on " + bind);
                DoTray(2);
                AddLine(kLogEvent,
                        "Binding DNS service to " + bind + " failed - DNS service not started!");
                if (Interactive) Warn("Could not start DNS service on " + bind);
            } else {
                SetStatus("Could not start DNS service.");
                DoTray(2);
                AddLine(kLogEvent, "Binding DNS service failed - DNS service not started!");
                if (Interactive)
                    Warn("Could not start DNS service!\n\nPort used by other DNS server.");
            }
            return false;
        }
        if (!bind.empty()) {
            AddLine(kLogEvent, "DNS service started on " + bind);
        } else if (started.empty()) {
            AddLine(kLogEvent, "DNS service started.");
        } else {
            for (const auto& ip : started) AddLine(kLogEvent, "DNS service started on " + ip);
        }
        Running = true;
        SetStatus("Uptime...");
        DoTray(0);
        secondary_->ServerStarted();
        dhcpSockets_->Open(modDHCP::Interfaces(settings), DHCPPort);
        return true;
    } catch (...) {
        kest::ReportError("modMain StartServer");
        return false;
    }
}

bool frmAlpha::BindDNS(const std::string& ip, uint16_t port, int* error) {
    auto udp = std::make_unique<platform::UdpSocket>();
    udp->OnData = [this](const platform::Datagram& d) { OnDNSData(d); };
    udp->OnError = [this](const platform::SocketError& e) {
        if (!e.IsConnectionReset())
            AddLine(kLogEvent, "MAIN-WS Error " + std::to_string(e.number) + " " + e.text);
    };
    auto tcp = std::make_unique<platform::TcpListener>();
    tcp->OnConnectionRequest = [this](std::unique_ptr<platform::TcpConnection> c) {
        OnTcpConnection(std::move(c));
    };
    if (!udp->Bind(ip, port)) {
        *error = udp->LastError().number;
        return false;
    }
    if (!tcp->Bind(ip, port) || !tcp->Listen()) {
        *error = tcp->LastError().number;
        return false;
    }
    dnsSockets_.push_back(std::move(udp));
    tcpListeners_.push_back(std::move(tcp));
    return true;
}

platform::UdpSocket* frmAlpha::SocketFor(const std::string& ip, const std::string& fromLocalIp) {
    if (dnsSockets_.empty()) return nullptr;
    if (dnsSockets_.size() == 1) return dnsSockets_.front().get();
    // A reply leaves from the address the query came to; our own queries from the address the
    // routes pick for the destination, since a loopback source cannot reach another host.
    const std::string from = fromLocalIp.empty() ? platform::SourceAddressFor(ip) : fromLocalIp;
    for (const auto& s : dnsSockets_) {
        if (s->LocalIp() == from) return s.get();
    }
    const bool toLoopback = ip.rfind("127.", 0) == 0;
    for (const auto& s : dnsSockets_) {
        if ((s->LocalIp().rfind("127.", 0) == 0) == toLoopback) return s.get();
    }
    return dnsSockets_.front().get();
}

void frmAlpha::PauseServer() {
    if (!Running) return;
    try {
        intake_->ClearOutstanding();
        tcp_->CloseAll();
        CloseDNSSockets();
        dhcpSockets_->CloseAll();
        Running = false;
        AddLine(kLogEvent, "Server paused.");
        SetStatus("Paused");
        DoTray(2);
    } catch (...) {
        kest::ReportError("modMain PauseServer");
    }
}

void frmAlpha::CloseDown() {
    if (closedDown_) return;
    closedDown_ = true;
    try {
        timer_->Stop();
        if (firstTick_) firstTick_->Stop();
        PauseServer();
        if (settings.CacheReload) cacheFiles_->SaveCache(false);
        intake_->SaveBlocks();
        leases_->SaveLeases();
        secondary_->SaveAtShutdown();
        log_.CloseFile();
    } catch (...) {
        kest::ReportError("modMain CloseDown");
    }
    if (host_.tray) host_.tray->Remove();
    if (OnUnload) OnUnload();
}

void frmAlpha::Timer() {
    try {
        // Step 1: the data is loaded once, on the first tick with the service running.
        if (Running && !Loaded) LoadData();

        // Step 2: waiting requests whose time is up ask on or give up.
        TimeOuts();

        // Step 3.
        cache_->Purge();

        // Step 4: secondary zones every minute, or the master directory.
        if (Loaded) secondary_->Tick(LastSecondaryCheck);

        // Step 5: clear the count of the second that comes next.
        const kest::CivilTime t = kest::DaysToCivil(Clock().LocalNow());
        SecondCounts[static_cast<size_t>((t.second + 1) % 60)] = 0;

        // Step 6: the windows, when there are any.
        if (windows_) windows_->DisplayStep();

        // Step 7: the "request handled" picture shows for about a second.
        if (TrayIcon == 1 && Clock().Now() - LastTrayTime > kTrayHold) DoTray(0);

        SaveChangedState();
    } catch (...) {
        kest::ReportError("frmAlpha Timer");
    }
}

void frmAlpha::LoadData() {
    zones_->LoadAll();
    secondary_->AfterLoadAll();
    cacheFiles_->LoadPerm();
    if (settings.CacheReload) {
        AddLine(kLogEvent, "Loading Cache...");
        SetStatus("Loading Cache...");
        cacheFiles_->LoadCache();
    }
    AddLine(kLogEvent, "Loading IP address blocks...");
    intake_->LoadBlocks();
    AddLine(kLogEvent, "Loading DHCP Leases...");
    leases_->Load();
    Loaded = true;
}

void frmAlpha::TimeOuts() { intake_->TimeOuts(); }

void frmAlpha::SaveChangedState() {
    // What is otherwise saved only at shutdown is kept on disk soon after it changes.
    if (!Loaded) return;
    intake_->SaveBlocksIfChanged();
    leases_->SaveIfChanged();
    secondary_->SaveChanged();
}

void frmAlpha::DoTray(int icon) {
    LastTrayTime = Clock().Now();
    if (icon != TrayIcon) {
        TrayIcon = icon;
        if (host_.tray) host_.tray->SetIcon(icon);
    }
}

void frmAlpha::SetStatus(const std::string& text) {
    StatusText = text;
    if (windows_) windows_->StatusChanged();
}

uint16_t frmAlpha::ReloadSocketPort() const {
    return reloadSocket_ ? reloadSocket_->LocalPort() : 0;
}

uint16_t frmAlpha::DNSPortInUse() const {
    return dnsSockets_.empty() ? 0 : dnsSockets_.front()->LocalPort();
}

std::vector<std::string> frmAlpha::DNSAddressesInUse() const {
    std::vector<std::string> out;
    for (const auto& s : dnsSockets_) out.push_back(s->LocalIp());
    return out;
}

bool frmAlpha::TimerActive() const { return timer_->IsActive(); }

void frmAlpha::CloseDNSSockets() {
    for (auto& s : dnsSockets_) s->Close();
    for (auto& l : tcpListeners_) l->Close();
    dnsSockets_.clear();
    tcpListeners_.clear();
}

void frmAlpha::OnReloadData(const platform::Datagram& d) {
    try {
        if (d.fromIp != "127.0.0.1") return;
        if (!Interactive && host_.displayAvailable) {
            // Someone runs the editor here: make sure the tray icon is on their desktop.
            if (host_.tray) {
                host_.tray->Remove();
                host_.tray->Show();
            }
            Interactive = true;
        }
        if (!settings.MasterDir.empty()) return;
        const ReloadCommand cmd = ParseReloadCommand(d.data);
        switch (cmd.kind) {
            case ReloadCommand::kReloadAll:
                zones_->LoadAll();
                cacheFiles_->LoadPerm();
                break;
            case ReloadCommand::kUnloadZone:
                zones_->UnloadZone(cmd.zone);
                break;
            case ReloadCommand::kReloadZone:
                zones_->ReloadZone(cmd.zone);
                // A secondary zone is checked against its primary; a primary zone tells its
                // secondaries.
                secondary_->ZoneReloaded(cmd.zone);
                if (zones_->ZonePrimIP(cmd.zone).empty() && Running) zones_->Notify(cmd.zone);
                break;
            case ReloadCommand::kNone:
                break;
        }
    } catch (...) {
        kest::ReportError("frmAlpha WSReload",
                          "WS-State " + std::to_string(reloadSocket_ ? reloadSocket_->State() : 0));
    }
}

void frmAlpha::OnDNSData(const platform::Datagram& d) { intake_->OnDatagram(d); }

void frmAlpha::OnTcpConnection(std::unique_ptr<platform::TcpConnection> c) {
    try {
        if (!c) return;
        if (!Running) {
            c->Close();
            return;
        }
        tcp_->Take(std::move(c));
    } catch (...) {
        kest::ReportError("frmAlpha WSTCP ConnectionRequest");
    }
}

void frmAlpha::Warn(const std::string& text) {
    if (host_.prompt) host_.prompt->Message(platform::IPrompt::Icon::Warning, "Kestrune", text);
}

}  // namespace modMain
