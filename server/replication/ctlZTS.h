#pragma once
// The zone transfer client: one zone at a time from a queue, first an SOA query to the primary
// over the server's UDP socket, then, for an empty copy or a newer serial, a full transfer over
// its own TCP connection. A five-second timer moves the queue on when a step makes no progress.
#include <cstdint>
#include <deque>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/clDNSRecord.h"
#include "core/clock.h"
#include "server/intake.h"
#include "server/replication/message_ids.h"
#include "server/replication/transfer_reader.h"

namespace modReplication {

struct SocketFailure {
    int number = 0;
    std::string text;
};

// The client's sockets and timer as the host provides them. Every primary listens on port 53.
class IZtsNet {
  public:
    virtual ~IZtsNet() = default;
    // The SOA query, over the server's UDP socket.
    virtual bool SendUdp(const std::string& data, const std::string& ip,
                         SocketFailure& failure) = 0;
    // Starts connecting the client's TCP socket; OnConnect, OnData, OnClose and OnError of the
    // client follow. False when it failed at once.
    virtual bool Connect(const std::string& ip, SocketFailure& failure) = 0;
    virtual bool Send(const std::string& data, SocketFailure& failure) = 0;
    // Closes the TCP socket; no event follows.
    virtual void Close() = 0;
    virtual void StartTimer() = 0;  // five seconds, once
    virtual void StopTimer() = 0;
};

// What the client asks of, and hands to, the zone side.
struct ZtsZones {
    std::function<std::string(const std::string& zoneName)> primaryIP;  // "" : none or no zone
    std::function<bool(const std::string& zoneName)> zoneExpired;
    std::function<void(uint32_t serial)> gotSOA;
    std::function<void(const std::string& zoneName, std::vector<RecordRef> records)> gotZTransfer;
};

class ctlZTS : public modMain::ISoaReplyClient {
  public:
    using LogFn = std::function<void(int kind, std::string_view text)>;
    // A transfer that has run this long fails.
    static constexpr double kTransferDeadlineSeconds = 15 * 60;

    ctlZTS(IZtsNet& net, clReplicationIds& ids, const kest::IClock& clock, LogFn log,
           std::function<bool()> running, std::function<void(int icon)> doTray = {});
    void SetZones(ZtsZones zones) { zones_ = std::move(zones); }

    std::string CurName;
    int32_t SoaID = 0;
    int16_t State = 0;  // 0 idle, 1 SOA query sent, 2 connecting, 3 transfer request sent

    const std::deque<std::string>& Queue() const { return queue_; }
    const std::string& Primary() const { return primary_; }
    // True once a primary has shown it does not take the "MS" request form.
    bool AsksPlain(const std::string& ip) const { return plain_.count(ip) != 0; }

    void Que(const std::string& zoneName);
    // Puts the zone at the front of the queue to be transferred without an SOA check (the
    // primary's serial is newer).
    void TransferNext(const std::string& zoneName);
    void ProcQ();
    void DoTransfer();

    // Events of the host.
    void OnConnect();
    void OnData(const std::string& bytes);
    void OnClose();
    void OnError(const SocketFailure& failure, bool connectionReset);
    void OnTimer();

    // The SOA reply path of request intake.
    bool ExpectsReply(const clDNSAnswer& answer, const std::string& ip) const override;
    void TakeReply(const clDNSAnswer& answer) override;

    // The transfer request for the current zone and ID, with its length prefix.
    std::string TransferRequest(bool severalPerMessage) const;

  private:
    void AddLine(int kind, std::string_view text) const;
    void Finish();
    void Fail();
    // The primary answered "MS" with FORMERR or closed without a message: ask again, plainly.
    bool RetryPlain();

    IZtsNet& net_;
    clReplicationIds& ids_;
    const kest::IClock& clock_;
    LogFn log_;
    std::function<bool()> running_;
    std::function<void(int)> doTray_;
    ZtsZones zones_;

    std::deque<std::string> queue_;
    std::unordered_set<std::string> queued_;
    std::set<std::string> transferNext_;
    std::string primary_;
    std::set<std::string> plain_;
    bool sentMS_ = false;
    double transferStart_ = 0;
    clTransferReader reader_;
    bool inProcQ_ = false;
    bool procQAgain_ = false;
};

}  // namespace modReplication
