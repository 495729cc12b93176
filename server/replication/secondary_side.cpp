#include "server/replication/secondary_side.h"

#include "core/report.h"
#include "platform/sockets.h"
#include "platform/timer.h"

namespace modReplication {

// ---- The client's sockets ----------------------------------------------------------------------

ZtsSocketNet::ZtsSocketNet(IDatagramSender*& sender, uint16_t port)
    : sender_(sender), port_(port), timer_(std::make_unique<platform::Timer>(5000, true)) {
    timer_->OnTimeout = [this] {
        if (client_) client_->OnTimer();
    };
}

ZtsSocketNet::~ZtsSocketNet() {
    timer_->Stop();
    if (conn_) conn_->Close();
}

bool ZtsSocketNet::SendUdp(const std::string& data, const std::string& ip, SocketFailure& failure) {
    if (!sender_) {
        failure = {0, "no DNS socket"};
        return false;
    }
    IDatagramSender::Failure f;
    if (sender_->SendTo(data, ip, 53, "", f)) return true;
    failure = {f.number, f.text};
    return false;
}

bool ZtsSocketNet::Connect(const std::string& ip, SocketFailure& failure) {
    Close();
    conn_ = std::make_unique<platform::TcpConnection>();
    platform::TcpConnection* c = conn_.get();
    c->OnConnect = [this] {
        if (client_) client_->OnConnect();
    };
    c->OnData = [this](const std::string& bytes) {
        if (client_) client_->OnData(bytes);
    };
    c->OnClose = [this] {
        if (client_) client_->OnClose();
    };
    c->OnError = [this](const platform::SocketError& e) {
        if (client_) client_->OnError({e.number, e.text}, e.IsConnectionReset());
    };
    const std::string from = source_ ? source_() : std::string();
    if (!from.empty() && from != "0.0.0.0") c->SetLocalAddress(from);
    if (c->Connect(ip, port_)) return true;
    failure = {c->LastError().number, c->LastError().text};
    return false;
}

bool ZtsSocketNet::Send(const std::string& data, SocketFailure& failure) {
    if (conn_ && conn_->Send(data)) return true;
    if (conn_) failure = {conn_->LastError().number, conn_->LastError().text};
    return false;
}

void ZtsSocketNet::Close() {
    if (!conn_) return;
    conn_->Close();
    // This may run inside one of the connection's own events: keep it alive until the next one.
    closed_ = std::move(conn_);
}

void ZtsSocketNet::StartTimer() {
    timer_->Start();
}
void ZtsSocketNet::StopTimer() {
    timer_->Stop();
}

// ---- The secondary side ------------------------------------------------------------------------

clSecondarySide::clSecondarySide(clDNSAuthData& store, clReplicationIds& ids, SecondaryHost host,
                                 IDatagramSender* sender)
    : store_(store),
      host_(std::move(host)),
      sender_(sender),
      net_(sender_),
      client_(net_, ids, *host_.clock, host_.log, host_.running, host_.doTray),
      secondaries_(store, client_),
      notifyIn_(
          store, client_,
          NotifyInHost{
              .sender = sender, .tcp = host_.tcp, .doTray = host_.doTray, .pump = host_.pump}),
      masterList_(store, host_.programDir, host_.pump) {
    net_.SetClient(&client_);
    net_.SetSourceAddress([this] { return store_.Settings().DNSBind; });
    ZtsZones zones;
    zones.primaryIP = [this](const std::string& name) { return store_.ZonePrimIP(name); };
    zones.zoneExpired = [this](const std::string& name) { return store_.ZoneExpired(name); };
    zones.gotSOA = [this](uint32_t serial) { secondaries_.GotSOA(serial); };
    zones.gotZTransfer = [this](const std::string& name, std::vector<RecordRef> records) {
        secondaries_.GotZTransfer(name, std::move(records));
    };
    client_.SetZones(std::move(zones));
}

clSecondarySide::~clSecondarySide() {
    net_.SetClient(nullptr);
}

void clSecondarySide::Attach(clReplication& replication) {
    replication.procNotify = [this](const std::string& ip, int32_t port, const std::string& name,
                                    const std::string& message) {
        notifyIn_.ProcNotify(ip, port, name, message);
    };
}

void clSecondarySide::AfterLoadAll() {
    if (!store_.Settings().MasterDir.empty()) masterList_.MLLoad();
}

void clSecondarySide::Tick(double& lastCheck) {
    try {
        const double now = host_.clock->Now();
        if (store_.Settings().MasterDir.empty()) {
            if ((now - lastCheck) * 86400.0 > 60) {
                lastCheck = now;
                secondaries_.CheckSecondaries();
            }
        } else if (masterList_.Due()) {
            masterList_.MLSync();
        }
    } catch (...) {
        kest::ReportError("frmAlpha Timer");
    }
}

void clSecondarySide::SaveChanged() {
    if (store_.Settings().MasterDir.empty())
        secondaries_.SaveZoneTTLIfChanged();
    else
        masterList_.MLSaveIfChanged();
}

void clSecondarySide::SaveAtShutdown() {
    if (store_.Settings().MasterDir.empty())
        secondaries_.SaveZoneTTL();
    else
        masterList_.MLSave();
}

void clSecondarySide::ServerStarted() {
    if (client_.State == 0) client_.ProcQ();
}

void clSecondarySide::ZoneReloaded(const std::string& zoneName) {
    if (!store_.ZonePrimIP(zoneName).empty()) client_.Que(zoneName);
}

}  // namespace modReplication
