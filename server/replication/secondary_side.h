#pragma once
// The secondary side of replication as the server object wires it: the transfer client on real
// sockets, the store's secondary-zone operations, received notifications and the master list,
// with the hooks the start-up, the timer, the reload port and shutdown call.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "core/clock.h"
#include "server/authority/clDNSAuthData.h"
#include "server/replication/ctlZTS.h"
#include "server/replication/master_list.h"
#include "server/replication/message_ids.h"
#include "server/replication/notify_in.h"
#include "server/replication/replication.h"
#include "server/replication/secondaries.h"

namespace platform {
class TcpConnection;
class Timer;
}  // namespace platform

namespace modReplication {

// The client's sockets: the server's UDP sender, an own TCP connection to port 53 of the primary
// and a five-second single-shot timer.
class ZtsSocketNet : public IZtsNet {
  public:
    ZtsSocketNet(IDatagramSender*& sender, uint16_t port = 53);
    ~ZtsSocketNet() override;
    void SetClient(ctlZTS* client) { client_ = client; }
    // The address transfers are asked from (the server's DNSBind): a primary that lets only
    // listed secondaries transfer sees the address it knows. Empty or "0.0.0.0": the system picks.
    void SetSourceAddress(std::function<std::string()> source) { source_ = std::move(source); }

    bool SendUdp(const std::string& data, const std::string& ip, SocketFailure& failure) override;
    bool Connect(const std::string& ip, SocketFailure& failure) override;
    bool Send(const std::string& data, SocketFailure& failure) override;
    void Close() override;
    void StartTimer() override;
    void StopTimer() override;

  private:
    IDatagramSender*& sender_;
    uint16_t port_;
    std::function<std::string()> source_;
    ctlZTS* client_ = nullptr;
    std::unique_ptr<platform::TcpConnection> conn_;
    std::unique_ptr<platform::TcpConnection> closed_;  // a connection closed inside its own event
    std::unique_ptr<platform::Timer> timer_;
};

struct SecondaryHost {
    const kest::IClock* clock = nullptr;
    std::function<void(int kind, std::string_view text)> log;
    std::function<bool()> running;
    std::function<void(int icon)> doTray;
    std::function<void()> pump;
    std::function<ITcpAnswerSink*()> tcp;
    std::filesystem::path programDir;
};

class clSecondarySide {
  public:
    clSecondarySide(clDNSAuthData& store, clReplicationIds& ids, SecondaryHost host,
                    IDatagramSender* sender);
    ~clSecondarySide();

    // Sets procNotify of the store's forwarder.
    void Attach(clReplication& replication);
    modMain::ISoaReplyClient* SoaClient() { return &client_; }
    ctlZTS& Client() { return client_; }
    clSecondaries& Secondaries() { return secondaries_; }
    clMasterList& MasterList() { return masterList_; }

    // After the zones were loaded at start-up.
    void AfterLoadAll();
    // The timer's check of secondary zones (or the master directory); lastCheck is the server's
    // LastSecondaryCheck.
    void Tick(double& lastCheck);
    // Saves zone timers (or the master list) soon after they change.
    void SaveChanged();
    // Shutdown's save.
    void SaveAtShutdown();
    // The DNS service has started: an idle client takes up its queue.
    void ServerStarted();
    // The reload port loaded the zone again: a secondary zone is checked at once.
    void ZoneReloaded(const std::string& zoneName);

  private:
    clDNSAuthData& store_;
    SecondaryHost host_;
    IDatagramSender* sender_;
    ZtsSocketNet net_;
    ctlZTS client_;
    clSecondaries secondaries_;
    clNotifyIn notifyIn_;
    clMasterList masterList_;
};

}  // namespace modReplication
