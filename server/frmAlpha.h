#pragma once
// The server's hidden main object: the process-wide state, the sockets it owns, start-up, the
// one-second timer, pausing and shutdown. Tests build their own with fakes for the host.
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/clock.h"
#include "platform/host.h"
#include "server/activity_log.h"
#include "server/error_report.h"
#include "server/replication/message_ids.h"
#include "server/replication/replication.h"
#include "server/settings.h"
#include "server/windows.h"

class clLeases;
class clDNSAuthData;
class clDNSCache;
class clCacheFiles;
namespace modReplication {
class clSecondarySide;
}
class clTcpConnections;
class clNotifier;
namespace modDHCP {
class clDHCPServer;
class clDHCPSockets;
}  // namespace modDHCP

namespace platform {
class UdpSocket;
class TcpListener;
class TcpConnection;
class Timer;
struct Datagram;
}  // namespace platform

namespace modMain {

class RequestIntake;
class UdpSocketSender;

// What the process hands the server: the clock and the host facilities it may use.
struct HostServices {
    const kest::IClock* clock = nullptr;
    platform::IPrompt* prompt = nullptr;  // message boxes; null shows nothing
    platform::ITray* tray = nullptr;      // null keeps the state only
    platform::IEventLog* eventLog = nullptr;
    platform::ILauncher* launcher = nullptr;
    platform::IEventPump* pump = nullptr;
    std::filesystem::path programDir;
    bool displayAvailable = false;  // a user could see boxes and the tray
};

class frmAlpha {
public:
    explicit frmAlpha(HostServices host);
    ~frmAlpha();
    frmAlpha(const frmAlpha&) = delete;
    frmAlpha& operator=(const frmAlpha&) = delete;

    // Process-wide state.
    Settings settings;
    std::vector<std::string> LocalIPs;
    bool Running = false;
    bool Interactive = false;
    bool Loaded = false;
    bool Stopping = false;
    double StartTime = 0;
    double TotalRequests = 0;
    std::array<int16_t, 60> SecondCounts{};
    int TrayIcon = -1;
    double LastTrayTime = 0;
    double LastSecondaryCheck = 0;
    std::string StatusText;  // the status bar's first panel
    uint16_t DHCPPort = 67;  // the DHCP sockets' port; tests use 0

    std::filesystem::path IniFile() const { return host_.programDir / "kestrund.ini"; }
    std::filesystem::path ProgramDir() const { return host_.programDir; }
    const kest::IClock& Clock() const { return *host_.clock; }
    ActivityLog& Log() { return log_; }
    ErrorReporter& Reporter() { return reporter_; }
    void AddLine(int kind, std::string_view text) { log_.AddLine(kind, text); }
    // The host's facilities, for the options dialog: the tray icon (null when none), message
    // boxes, the launcher and the event pump.
    platform::ITray* Tray() const { return host_.tray; }
    platform::IPrompt* Prompt() const { return host_.prompt; }
    platform::ILauncher* Launcher() const { return host_.launcher; }
    void Pump() {
        if (host_.pump) host_.pump->Pump();
    }

    // The subsystems the server object wires together.
    clLeases& Leases() { return *leases_; }
    modDHCP::clDHCPServer& DHCP() { return *dhcp_; }
    // The open DHCP sockets (numbered from 1).
    modDHCP::clDHCPSockets& DHCPSockets() { return *dhcpSockets_; }
    clDNSAuthData& Zones() { return *zones_; }
    clDNSCache& Cache() { return *cache_; }
    clCacheFiles& CacheFiles() { return *cacheFiles_; }
    RequestIntake& Intake() { return *intake_; }
    modReplication::clSecondarySide& Secondary() { return *secondary_; }
    // IDs of SOA queries, transfer requests and NOTIFY messages.
    clReplicationIds ReplicationIds;
    clReplication& Replication() { return replication_; }
    // The TCP connections of port 53 (TCPcon).
    clTcpConnections& TcpConnections() { return *tcp_; }

    // Start-up and shutdown.
    void LoadSettings(const std::vector<std::string>& localIPs);
    void Begin();
    void ServiceStart();  // the service's start event
    void ServiceStop();   // the service's stop event
    bool StartServer();
    void PauseServer();
    void CloseDown();
    // A close request from the desktop (session end, window close, signal).
    void CloseRequest();
    void TrayClick();

    // One tick of the one-second timer.
    void Timer();
    void DoTray(int icon);
    void SetStatus(const std::string& text);

    // The port the reload socket is bound to, 0 when none.
    uint16_t ReloadSocketPort() const;
    uint16_t DNSPortInUse() const;
    // The addresses the DNS sockets are bound to ("0.0.0.0" for all); empty while not running.
    std::vector<std::string> DNSAddressesInUse() const;
    bool TimerActive() const;
    // CloseDown has run: commands that let events run look at this before they go on.
    bool ClosedDown() const { return closedDown_; }

    // The desktop's windows; null in a headless run.
    void SetWindows(IServerWindows* windows) { windows_ = windows; }
    IServerWindows* Windows() const { return windows_; }

    // Runs when CloseDown has finished: the process ends its event loop.
    std::function<void()> OnUnload;

    // A command datagram on the reload socket.
    void OnReloadData(const platform::Datagram& d);

private:
    void LoadData();
    void CloseDNSSockets();
    // Binds one UDP socket and one TCP listener on ip ("" for all) and keeps them; false (with
    // nothing kept) and errno in *error when either failed.
    bool BindDNS(const std::string& ip, uint16_t port, int* error);
    platform::UdpSocket* SocketFor(const std::string& ip, const std::string& fromLocalIp);
    void TimeOuts();
    void SaveChangedState();
    void OnDNSData(const platform::Datagram& d);
    void OnTcpConnection(std::unique_ptr<platform::TcpConnection> c);
    void Warn(const std::string& text);

    HostServices host_;
    ActivityLog log_;
    ErrorReporter reporter_;
    kest::ErrorSink previousSink_;
    std::unique_ptr<clLeases> leases_;
    clReplication replication_;  // before the store, which points at it
    std::unique_ptr<clDNSAuthData> zones_;
    std::unique_ptr<clDNSCache> cache_;
    std::unique_ptr<clCacheFiles> cacheFiles_;
    std::unique_ptr<UdpSocketSender> sender_;
    std::unique_ptr<modReplication::clSecondarySide> secondary_;  // before intake, which uses it
    std::unique_ptr<RequestIntake> intake_;
    std::unique_ptr<clTcpConnections> tcp_;  // after the intake it hands queries to
    std::unique_ptr<clNotifier> notifier_;
    std::unique_ptr<modDHCP::clDHCPSockets> dhcpSockets_;
    std::unique_ptr<modDHCP::clDHCPServer> dhcp_;
    // One pair on all addresses, or one pair per local address when another program holds the
    // DNS port on some address.
    std::vector<std::unique_ptr<platform::UdpSocket>> dnsSockets_;
    std::vector<std::unique_ptr<platform::TcpListener>> tcpListeners_;
    std::unique_ptr<platform::UdpSocket> reloadSocket_;
    std::unique_ptr<platform::Timer> timer_;
    std::unique_ptr<platform::Timer> firstTick_;
    bool closedDown_ = false;
    IServerWindows* windows_ = nullptr;
};

}  // namespace modMain
